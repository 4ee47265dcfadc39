// A plain visible top-level window of the calling process, made the
// foreground window, so that the session agent routes device state to this
// process's client. Needs a display (Xvfb under Wine).
#pragma once
#include <windows.h>

// The window, or null when it could not be made. The window class is
// registered once per process under the given class name.
HWND ShowForegroundWindow(const char* className, const char* title);
