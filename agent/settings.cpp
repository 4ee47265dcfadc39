#include "settings.h"

#include <windows.h>

#include <string.h>

#include "reporting.h"
#include "service_pipe.h"

namespace {

// Reads one value of the settings key into size bytes; 1 when it was read.
int LoadValue(const char* name, void* data, DWORD size) {
  HKEY key = nullptr;
  LSTATUS status = RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_QUERY_VALUE, &key);
  if (status == ERROR_FILE_NOT_FOUND) return 0;  // nothing stored yet: no line
  if (status != ERROR_SUCCESS) {
    ReportCallFailure(CallRegOpenKey, static_cast<uint32_t>(status));
    return 0;
  }
  // The type is not checked: a shorter value fills only its own bytes.
  DWORD type = 0;
  LSTATUS query =
      RegQueryValueChecked(key, name, nullptr, &type, static_cast<BYTE*>(data), &size);
  RegCloseKeyChecked(key);
  return query == ERROR_SUCCESS;
}

int SaveValue(const char* name, DWORD type, const void* data, DWORD size) {
  HKEY key = nullptr;
  if (RegCreateKeyChecked(HKEY_CURRENT_USER, kSettingsKey, 0, const_cast<char*>(""),
                          REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key,
                          nullptr) != ERROR_SUCCESS)
    return 0;
  LSTATUS set = RegSetValueChecked(key, name, 0, type, static_cast<const BYTE*>(data), size);
  RegCloseKeyChecked(key);
  return set == ERROR_SUCCESS;
}

}  // namespace

int LoadLogFactors(uint16_t out[4]) {
  uint16_t factors[4] = {};
  if (!LoadValue(kLogFactorsValue, factors, sizeof factors)) return 0;
  memcpy(out, factors, sizeof factors);
  return 1;
}

int LoadFlags(uint16_t* out) {
  uint32_t flags = 0;
  if (!LoadValue(kFlagsValue, &flags, sizeof flags)) return 0;
  *out = static_cast<uint16_t>(flags);  // the low 16 bits
  return 1;
}

int SaveLogFactors(const uint16_t factors[4]) {
  return SaveValue(kLogFactorsValue, REG_QWORD, factors, 4 * sizeof(uint16_t));
}

int SaveFlags(uint16_t flags) {
  const uint32_t wide = flags;
  return SaveValue(kFlagsValue, REG_DWORD, &wide, sizeof wide);
}

void ApplyLogFactors(uint16_t device, const uint16_t factors[4]) {
  SendLogFactors(device, factors);
  SaveLogFactors(factors);
}

void ApplyFlags(uint16_t device, uint16_t flags) {
  SendFlags(device, flags);
  SaveFlags(flags);
}

void LoadLogFactorsOrDefault(uint16_t out[4]) {
  if (LoadLogFactors(out)) return;
  for (int i = 0; i < 4; ++i) out[i] = kDefaultLogFactor;
}

uint16_t LoadFlagsOrDefault() {
  uint16_t flags = 0;
  return LoadFlags(&flags) ? flags : 0;
}
