// The user's settings key as a test arranges and reads it.
#pragma once
#include <windows.h>
#include <stdint.h>

#include <string.h>

#include "settings.h"

inline void DeleteSettingsKey() { RegDeleteKeyA(HKEY_CURRENT_USER, kSettingsKey); }

inline bool WriteSettingsValue(const char* name, DWORD type, const void* data, DWORD size) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return false;
  bool ok = RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
  RegCloseKey(key);
  return ok;
}

inline bool SettingsKeyExists() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

// The raw value: its type and bytes; false when absent.
inline bool ReadSettingsValue(const char* name, DWORD* type, void* data, DWORD size) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  memset(data, 0, size);
  bool ok = RegQueryValueExA(key, name, nullptr, type, static_cast<BYTE*>(data), &size) ==
            ERROR_SUCCESS;
  RegCloseKey(key);
  return ok;
}

struct StoredSettings {
  bool haveFactors, haveFlags;
  DWORD factorsType, flagsType;
  uint16_t factors[4];
  uint32_t flags;
};

inline StoredSettings ReadStoredSettings() {
  StoredSettings s = {};
  s.haveFactors = ReadSettingsValue(kLogFactorsValue, &s.factorsType, s.factors, sizeof s.factors);
  s.haveFlags = ReadSettingsValue(kFlagsValue, &s.flagsType, &s.flags, sizeof s.flags);
  return s;
}
