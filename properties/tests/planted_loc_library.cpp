// A library planted as KestrinPropertiesLOC.dll in the current directory: the
// German dialogs and strings, and code in its entry point, which the program
// must never run. When it does run, it makes a named event and keeps it open
// for the life of the process that loaded it, for the test to find.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH)
    CreateEventW(nullptr, TRUE, TRUE, L"KestrinPlantedLocLibraryRan");  // kept open
  return TRUE;
}
