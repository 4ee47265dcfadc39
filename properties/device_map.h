// The device list's data: HKLM "HARDWARE\DEVICEMAP\Kestrins\1", written by
// the service. "Serial Number" is stored without a terminating zero (its data
// length is its character count): the reader adds one. Only a REG_SZ of at
// most kMaxSerialCharacters characters counts as a serial (the service keeps
// 16); any other type or a longer value leaves the serial empty, and nothing
// of its size is allocated. "Firmware Version" counts only as a 4-byte
// REG_DWORD; any other size or type leaves the firmware empty. A missing key
// or value leaves its text empty.
#pragma once
#include <string>

constexpr wchar_t kDeviceMapKey[] = L"HARDWARE\\DEVICEMAP\\Kestrins\\1";
constexpr unsigned kMaxSerialCharacters = 64;
// A terminator that the registry may add counts too.
constexpr unsigned kMaxSerialBytes = (kMaxSerialCharacters + 1) * sizeof(wchar_t);

struct DeviceMapEntry {
  std::wstring m_Serial;
  std::wstring m_Firmware;
};

DeviceMapEntry ReadDeviceMap();
