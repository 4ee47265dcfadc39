// KestrinZel2.dll's entry: nothing to set up (the object's tables are in
// place when the image is loaded). At an unload by FreeLibrary nothing may
// be left that calls into the unmapped image: the timer windows of
// navigation handles destroyed on another thread than their own, whose
// thread has not closed them yet, take the system's procedure, and the timer
// window class goes (or follows them), so that a later load registers its
// own.
#include <windows.h>

#include "timer_helper.h"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void* reserved) {
  if (reason == DLL_PROCESS_DETACH && !reserved) ReleaseRetiredHelpers();
  return TRUE;
}
