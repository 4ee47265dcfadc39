#include "device_map.h"

#include <windows.h>

#include <vector>

#include "firmware_text.h"

DeviceMapEntry ReadDeviceMap() {
  DeviceMapEntry entry;
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kDeviceMapKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return entry;

  // Only a text of a serial's length is taken: a value of another type would
  // show its bytes as characters, and its size is not to be trusted.
  DWORD size = 0, type = 0;
  if (RegQueryValueExW(key, L"Serial Number", nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
      type == REG_SZ && size <= kMaxSerialBytes) {
    // size / 2 characters and one more, zero, for the terminator the stored
    // text lacks.
    std::vector<wchar_t> text(size / 2 + 1, L'\0');
    DWORD bytes = static_cast<DWORD>((text.size() - 1) * sizeof(wchar_t));
    if (RegQueryValueExW(key, L"Serial Number", nullptr, &type,
                         reinterpret_cast<BYTE*>(text.data()), &bytes) == ERROR_SUCCESS &&
        type == REG_SZ)
      entry.m_Serial = text.data();
  }

  DWORD firmware = 0;
  size = sizeof firmware;
  if (RegQueryValueExW(key, L"Firmware Version", nullptr, &type,
                       reinterpret_cast<BYTE*>(&firmware), &size) == ERROR_SUCCESS &&
      type == REG_DWORD && size == sizeof firmware) {
    std::u16string text = FirmwareText(firmware);
    entry.m_Firmware.assign(text.begin(), text.end());
  }
  RegCloseKey(key);
  return entry;
}
