// The firmware column of the device list. No windows.h.
#pragma once
#include <stdint.h>

#include <string>

// "major.minor" from bits 8-15 and 0-7 of the device map's "Firmware
// Version" (0x0105 is "1.05", 0x0312 is "3.18").
inline std::u16string FirmwareText(uint32_t version) {
  unsigned major = (version >> 8) & 0xFF, minor = version & 0xFF;
  std::string text = std::to_string(major) + "." + (minor < 10 ? "0" : "") + std::to_string(minor);
  return std::u16string(text.begin(), text.end());
}
