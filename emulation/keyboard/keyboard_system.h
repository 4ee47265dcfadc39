// The real system side of the keyboard emulation: the seam of key_combo.h on
// the Win32 calls, and the one place that turns its events into INPUT.
#pragma once
#include <windows.h>

#include "key_combo.h"

namespace KestrinKeyboard {

// MapVirtualKeyA, the calling thread's keyboard state, SendInput, the thread's
// ANSI code page and the string table of the module that holds this code (the
// DLL, or a test program that links the library statically).
IKeyboardSystem& SystemKeyboard();

// One event as SendInput takes it.
INPUT ToSystemInput(const KeyInput& event);

}  // namespace KestrinKeyboard
