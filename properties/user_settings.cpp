#include "user_settings.h"

namespace {

// Narrow queries, as the agent makes them: a value of a text type gives the
// same bytes here as there.
bool QueryValue(HKEY key, const char* name, void* data, DWORD size) {
  return RegQueryValueExA(key, name, nullptr, nullptr, static_cast<BYTE*>(data), &size) ==
         ERROR_SUCCESS;
}

}  // namespace

UserSettings ReadUserSettings() {
  UserSettings settings = {0, {0x8000, 0x8000, 0x8000, 0x8000}};
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return settings;
  uint16_t factors[4] = {0, 0, 0, 0};
  if (QueryValue(key, kLogFactorsValue, factors, sizeof factors))
    for (int i = 0; i < 4; ++i) settings.m_LogFactors[i] = factors[i];
  uint32_t flags = 0;
  if (QueryValue(key, kFlagsValue, &flags, sizeof flags))
    settings.m_Flags = static_cast<uint16_t>(flags);
  RegCloseKey(key);
  return settings;
}
