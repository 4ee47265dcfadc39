// The user's settings key as a test arranges and reads it, through the
// shared registry helpers (plain calls, not the agent's own routines).
#pragma once
#include <windows.h>
#include <stdint.h>
#include <string.h>

#include "registry_fixture.h"
#include "settings.h"

inline void DeleteSettingsKey() { DeleteTestKey(HKEY_CURRENT_USER, kSettingsKey); }
inline bool SettingsKeyExists() { return KeyExists(HKEY_CURRENT_USER, kSettingsKey) != 0; }
inline void PutSetting(const char* name, DWORD type, const void* data, DWORD size) {
  PutValue(HKEY_CURRENT_USER, kSettingsKey, name, type, data, size);
}

struct StoredSettings {
  bool haveFactors, haveFlags;
  DWORD factorsType, flagsType;
  uint16_t factors[4];
  uint32_t flags;
};

inline StoredSettings ReadStoredSettings() {
  StoredSettings s = {};
  StoredValue factors = GetValue(HKEY_CURRENT_USER, kSettingsKey, kLogFactorsValue);
  StoredValue flags = GetValue(HKEY_CURRENT_USER, kSettingsKey, kFlagsValue);
  s.haveFactors = factors.m_Status == ERROR_SUCCESS;
  s.haveFlags = flags.m_Status == ERROR_SUCCESS;
  s.factorsType = factors.m_Type;
  s.flagsType = flags.m_Type;
  memcpy(s.factors, factors.m_Data, sizeof s.factors);
  s.flags = AsDword(flags);
  return s;
}
