#include "device_registry.h"

#include <stdio.h>
#include <string.h>

#include "device_slot.h"
#include "feature_reports.h"
#include "reporting.h"

namespace {

const char kUsbDevice[] = "USB\\Vid_15de&Pid_6000";
const char kUsbBall[] = "USB\\Vid_15de&Pid_6000&MI_00";
const char kHidBall[] = "HID\\Vid_15de&Pid_6000&MI_00";
const char kUsbScroll[] = "USB\\Vid_15de&Pid_6000&MI_01";
const char kHidScroll[] = "HID\\Vid_15de&Pid_6000&MI_01";
const char kNamePrefix[] = "Kestrin 6000 ";

// Instance names of child nodes: a prefix, then "&0000".
constexpr size_t kInstanceChars = kFriendlyNameChars + 8;

void CloseKey(HKEY key) { RegCloseKeyChecked(key); }

// REG_SZ data stored with a length of its character count, no terminator,
// as the programs that read these values expect.
void SetStringValue(HKEY key, const char* name, const char* text) {
  RegSetValueChecked(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                     static_cast<DWORD>(strlen(text)));
}

void SetDwordValue(HKEY key, const char* name, DWORD value) {
  RegSetValueChecked(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                     sizeof value);
}

// The HARDWARE branch of HKLM is volatile: a key under it can only be
// created volatile (a stable one fails with ERROR_CHILD_MUST_BE_VOLATILE).
LSTATUS CreateDeviceMapKey(HKEY parent, const char* path, HKEY* key) {
  return RegCreateKeyChecked(parent, path, 0, nullptr, REG_OPTION_VOLATILE, KEY_WRITE, nullptr,
                             key, nullptr);
}

}  // namespace

void WriteDeviceMapEntry(DeviceSlot* slot) {
  HKEY map = nullptr;
  if (CreateDeviceMapKey(HKEY_LOCAL_MACHINE, kDeviceMapKey, &map) != ERROR_SUCCESS) return;
  HKEY entry = nullptr;
  LSTATUS status = CreateDeviceMapKey(map, "1", &entry);
  CloseKey(map);
  if (status != ERROR_SUCCESS) return;
  char serial[kSerialChars + 1];
  snprintf(serial, sizeof serial, "%.16s", slot->m_Serial);
  SetStringValue(entry, "Serial Number", serial);
  SetDwordValue(entry, "Firmware Version", slot->m_Firmware);
  CloseKey(entry);
}

void DeleteDeviceMapEntry(DeviceSlot*) {
  HKEY map = nullptr;
  if (CreateDeviceMapKey(HKEY_LOCAL_MACHINE, kDeviceMapKey, &map) != ERROR_SUCCESS) return;
  RegDeleteKeyChecked(map, "1");
  CloseKey(map);
}

void BuildFriendlyName(const char* serial, char* name) {
  snprintf(name, kFriendlyNameChars, "%s%.16s", kNamePrefix, serial);
  size_t length = strlen(name);
  if (length >= 4 && name[length - 4] == '-') name[length - 4] = '\0';
}

int SetEnumFriendlyName(const char* busAndDevice, const char* instance, const char* friendlyName,
                        char* prefix) {
  if (prefix) prefix[0] = '\0';
  char path[sizeof kEnumKeyPrefix + kInstanceChars];
  snprintf(path, sizeof path, "%s%s", kEnumKeyPrefix, busAndDevice);
  HKEY device = nullptr;
  if (RegOpenKeyChecked(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, &device) != ERROR_SUCCESS)
    return 0;
  HKEY node = nullptr;
  if (RegOpenKeyChecked(device, instance, 0, KEY_ALL_ACCESS, &node) != ERROR_SUCCESS) {
    CloseKey(device);
    return 0;
  }
  // A plain existence query: a missing name is the usual case, not a failure.
  if (RegQueryValueExA(node, "FriendlyName", nullptr, nullptr, nullptr, nullptr) !=
      ERROR_SUCCESS)
    SetStringValue(node, "FriendlyName", friendlyName);
  int found = 0;
  if (prefix) {
    char text[kFriendlyNameChars + 1] = {};
    DWORD type = 0;
    DWORD size = kFriendlyNameChars;
    if (RegQueryValueChecked(node, "ParentIdPrefix", nullptr, &type,
                             reinterpret_cast<BYTE*>(text), &size) == ERROR_SUCCESS &&
        type == REG_SZ && size > 0) {
      text[size < kFriendlyNameChars ? size : kFriendlyNameChars - 1] = '\0';
      strcpy(prefix, text);  // at most kFriendlyNameChars - 1 characters
      found = prefix[0] != '\0';
    }
  }
  CloseKey(node);
  CloseKey(device);
  return found;
}

void SetDeviceFriendlyNames(DeviceSlot* slot) {
  SetFriendlyNamesForSerial(slot->m_Serial);
}

void SetFriendlyNamesForSerial(const char* serial) {
  char base[kFriendlyNameChars];
  BuildFriendlyName(serial, base);
  char name[kFriendlyNameChars + 4];
  char instance[kSerialChars + 1];
  snprintf(instance, sizeof instance, "%.16s", serial);

  char usbPrefix[kFriendlyNameChars];
  if (!SetEnumFriendlyName(kUsbDevice, instance, base, usbPrefix)) return;  // no children known

  char child[kInstanceChars];
  char childPrefix[kFriendlyNameChars];
  snprintf(child, sizeof child, "%s&0000", usbPrefix);
  snprintf(name, sizeof name, "%s:1", base);
  if (SetEnumFriendlyName(kUsbBall, child, name, childPrefix)) {
    char hid[kInstanceChars];
    snprintf(hid, sizeof hid, "%s&0000", childPrefix);
    snprintf(name, sizeof name, "%s:2", base);
    SetEnumFriendlyName(kHidBall, hid, name, nullptr);
  }

  child[strlen(child) - 1] = '1';  // the scroll hat's interface node: "&0001"
  snprintf(name, sizeof name, "%s:3", base);
  if (SetEnumFriendlyName(kUsbScroll, child, name, childPrefix)) {
    char hid[kInstanceChars];
    snprintf(hid, sizeof hid, "%s&0000", childPrefix);
    snprintf(name, sizeof name, "%s:4", base);
    SetEnumFriendlyName(kHidScroll, hid, name, nullptr);
  }
}

void ReadDwordWithDefault(HKEY root, const char* keyPath, const char* valueName,
                          DWORD defaultValue, DWORD* out) {
  *out = defaultValue;
  HKEY key = nullptr;
  if (RegCreateKeyChecked(root, keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                          nullptr, &key, nullptr) != ERROR_SUCCESS)
    return;
  // A plain existence query: a missing value is created with the default.
  if (RegQueryValueExA(key, valueName, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
    SetDwordValue(key, valueName, defaultValue);
  DWORD type = 0;
  DWORD value = 0;
  DWORD size = sizeof value;
  if (RegQueryValueChecked(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(&value),
                           &size) == ERROR_SUCCESS) {
    if (type == REG_DWORD && size == sizeof value)
      *out = value;
    else
      ReportCallFailure(CallRegQueryValue, ERROR_DATATYPE_MISMATCH);  // kept, not replaced
  }
  CloseKey(key);
}

void WriteDword(HKEY root, const char* keyPath, const char* valueName, DWORD value) {
  HKEY key = nullptr;
  if (RegCreateKeyChecked(root, keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                          nullptr, &key, nullptr) != ERROR_SUCCESS)
    return;
  SetDwordValue(key, valueName, value);
  CloseKey(key);
}
