#include "user_settings.h"

namespace {

// Narrow queries, as the agent makes them: a value of a text type gives the
// same bytes here as there.
LSTATUS QueryValue(HKEY key, const char* name, void* data, DWORD size) {
  return RegQueryValueExA(key, name, nullptr, nullptr, static_cast<BYTE*>(data), &size);
}

}  // namespace

UserSettings ReadUserSettings() {
  UserSettings settings = {true, 0, true, {0x8000, 0x8000, 0x8000, 0x8000}};
  HKEY key = nullptr;
  LSTATUS status = RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_QUERY_VALUE, &key);
  if (status == ERROR_FILE_NOT_FOUND) return settings;  // nothing stored: the defaults
  if (status != ERROR_SUCCESS) {
    settings.m_FlagsKnown = settings.m_LogFactorsKnown = false;
    return settings;
  }
  uint16_t factors[4] = {0, 0, 0, 0};
  status = QueryValue(key, kLogFactorsValue, factors, sizeof factors);
  if (status == ERROR_SUCCESS)
    for (int i = 0; i < 4; ++i) settings.m_LogFactors[i] = factors[i];
  else if (status != ERROR_FILE_NOT_FOUND)
    settings.m_LogFactorsKnown = false;

  uint32_t flags = 0;
  status = QueryValue(key, kFlagsValue, &flags, sizeof flags);
  if (status == ERROR_SUCCESS)
    settings.m_Flags = static_cast<uint16_t>(flags);
  else if (status != ERROR_FILE_NOT_FOUND)
    settings.m_FlagsKnown = false;
  RegCloseKey(key);
  return settings;
}
