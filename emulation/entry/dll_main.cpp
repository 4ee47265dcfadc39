// KestrinZel2.dll's entry: nothing to set up (the object's tables are in
// place when the image is loaded). At an unload by FreeLibrary the timer
// window class goes, so that a later load registers its own; a window of it
// still there (a destroyed navigation handle's, detached on another thread
// and not closed yet by its thread) already has the system's procedure, and
// the class follows it there.
#include <windows.h>

#include "timer_helper.h"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void* reserved) {
  if (reason == DLL_PROCESS_DETACH && !reserved) CTimerHelper::UnregisterWndClass();
  return TRUE;
}
