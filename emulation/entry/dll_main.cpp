// KestrinZel2.dll's entry: nothing to set up (the object's tables are in
// place when the image is loaded); at an unload by FreeLibrary the timer
// window class goes, so that a later load at another address registers its
// own.
#include <windows.h>

#include "timer_helper.h"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void* reserved) {
  if (reason == DLL_PROCESS_DETACH && !reserved) CTimerHelper::UnregisterWndClass();
  return TRUE;
}
