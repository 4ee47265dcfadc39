// The registry traces of an open device in HKLM: the device-map entry that
// tells other programs which device is attached, friendly names on the
// device's instance keys of the system's device enumeration, and the DWORD
// routines of the per-device settings. Every failed registry call is
// reported by its call id and the step is skipped.
#pragma once
#include <windows.h>
#include <stdint.h>

struct DeviceSlot;

constexpr uint32_t kSerialChars = 16;       // serial numbers the service keeps
constexpr uint32_t kFriendlyNameChars = 64; // name and prefix buffers
constexpr char kDeviceMapKey[] = "HARDWARE\\DEVICEMAP\\Kestrins";
constexpr char kEnumKeyPrefix[] = "SYSTEM\\CurrentControlSet\\Enum\\";
constexpr char kRestZoneKeyPrefix[] = "SOFTWARE\\Pellmor Vastine\\Kestrin\\";

// Called by OpenDevice once the device's identity was read, in this order:
// WriteDeviceMapEntry, SetDeviceFriendlyNames, then the rest zone
// (ReadRestZoneSetting, CheckDeviceRestZone of feature_reports.h).
// RemoveDevice calls DeleteDeviceMapEntry.

// HKLM "HARDWARE\DEVICEMAP\Kestrins\1" with "Serial Number" and
// "Firmware Version" of the slot: one entry for the whole machine.
void WriteDeviceMapEntry(DeviceSlot* slot);
// Deletes subkey "1"; at every device removal, also when another device
// stays (the slot is not looked at).
void DeleteDeviceMapEntry(DeviceSlot* slot);

// "Kestrin 6000 <serial>" on the device's five instance keys (a serial
// ending in '-' and three characters loses them); names already there are
// kept. The serial's first 16 characters at most are used.
void SetDeviceFriendlyNames(DeviceSlot* slot);
void SetFriendlyNamesForSerial(const char* serial);
// One instance key under HKLM "SYSTEM\CurrentControlSet\Enum\" + busAndDevice:
// sets "FriendlyName" unless it has one; with prefix (kFriendlyNameChars
// bytes) reads its "ParentIdPrefix" there. 1 when the prefix was read, else
// 0 and prefix empty.
int SetEnumFriendlyName(const char* busAndDevice, const char* instance, const char* friendlyName,
                        char* prefix);
// The base name of the friendly names of a serial (out: kFriendlyNameChars).
void BuildFriendlyName(const char* serial, char* name);

// *out = the REG_DWORD value under root\keyPath, created with defaultValue
// when missing. A value that is no 4-byte REG_DWORD is left as it is and
// *out keeps defaultValue. The key is created when missing.
void ReadDwordWithDefault(HKEY root, const char* keyPath, const char* valueName,
                          DWORD defaultValue, DWORD* out);
void WriteDword(HKEY root, const char* keyPath, const char* valueName, DWORD value);
