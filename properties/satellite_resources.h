// The satellite resource libraries of the program's dialogs and strings.
#pragma once
#include <windows.h>

#include <string>

// Makes the first satellite library that loads the resource handle: the
// program's base name followed by "LOC.dll", else by the user language's
// abbreviation and then its fallback (language_table.h), each looked up
// beside the program and then in the current directory. Each is mapped as a
// resource image only, so none of its code runs. Without one the program's
// own resources stay. A loaded library is never freed.
void LoadSatelliteResources();
// The same for a given program path and language; the library made current
// (a resource-image handle, which FindResource and LoadResource take), or
// null.
HMODULE LoadSatelliteResourcesFor(const std::wstring& modulePath, LANGID language);
