#include "satellite_resources.h"

#include "framework.h"
#include "language_table.h"

HMODULE LoadSatelliteResourcesFor(const std::wstring& modulePath, LANGID language) {
  std::u16string path(modulePath.begin(), modulePath.end());
  for (const std::u16string& name : SatelliteCandidates(path, language)) {
    // As resources only: the library's code (its entry point above all) never
    // runs, whoever put a library of that name in the current directory.
    HMODULE library = LoadLibraryExW(reinterpret_cast<const wchar_t*>(name.c_str()), nullptr,
                                     LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_AS_DATAFILE);
    if (library) {
      AfxSetResourceHandle(library);
      return library;
    }
  }
  return nullptr;
}

void LoadSatelliteResources() {
  wchar_t path[512];
  DWORD length = GetModuleFileNameW(AfxGetInstanceHandle(), path, 512);
  if (length == 0 || length >= 512) return;
  LoadSatelliteResourcesFor(std::wstring(path, length), GetUserDefaultLangID());
}

