// The device list's data: HKLM "HARDWARE\DEVICEMAP\Kestrins\1", written by
// the service. "Serial Number" is stored without a terminating zero (its data
// length is its character count): the reader adds one. "Firmware Version"
// counts only as a 4-byte REG_DWORD; any other size or type leaves the
// firmware empty. A missing key or value leaves its text empty.
#pragma once
#include <string>

constexpr wchar_t kDeviceMapKey[] = L"HARDWARE\\DEVICEMAP\\Kestrins\\1";

struct DeviceMapEntry {
  std::wstring m_Serial;
  std::wstring m_Firmware;
};

DeviceMapEntry ReadDeviceMap();
