// One running copy of the program. The dialog of a running copy carries a
// window property of its own, set when the dialog opens, so a second copy
// finds it whatever its caption says: the English template's, a satellite
// library's translation, or any later change of the text.
#pragma once
#include <windows.h>

void MarkRunningCopy(HWND dialog);
// The marked top-level window of another process, or null.
HWND FindRunningCopy();
