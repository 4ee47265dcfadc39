// The bytes of the device's input reports, as the simulator sends them and
// the tests build them: a ball report packs six 10-bit readings into bytes
// 1-8 (byte 0 is the report id, 0); a scroll-hat report packs two 10-bit axes
// into bytes 1-3 and the button byte into byte 4.
#pragma once
#include <stdint.h>

#include <vector>

template <typename T>
std::vector<uint8_t> BallReport(const T* readings) {
  uint64_t bits = 0;
  for (int k = 0; k < 6; ++k) bits |= (static_cast<uint64_t>(readings[k]) & 0x3FF) << (10 * k);
  std::vector<uint8_t> report(9, 0);
  for (int i = 0; i < 8; ++i) report[1 + i] = static_cast<uint8_t>(bits >> (8 * i));
  return report;
}

inline std::vector<uint8_t> ScrollReport(long x, long y, long buttons = 0) {
  uint32_t bits = (static_cast<uint32_t>(x) & 0x3FF) | ((static_cast<uint32_t>(y) & 0x3FF) << 10);
  return {0, static_cast<uint8_t>(bits), static_cast<uint8_t>(bits >> 8),
          static_cast<uint8_t>(bits >> 16), static_cast<uint8_t>(buttons)};
}
