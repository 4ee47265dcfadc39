// One running copy of the program per session. A copy claims a named mutex
// first thing, before it loads anything or connects to the agent, and holds
// it until it ends: of two copies started together, only one goes on to show
// its dialog. The dialog of the running copy carries a window property of its
// own while it exists, so a later copy finds it to bring to the front,
// whatever its caption says (the English template's, a satellite library's
// translation, or any later change of the text).
#pragma once
#include <windows.h>

// True when this copy is the running one and goes on. False when another copy
// runs: its dialog has been brought to the front (when it showed within
// waitMs), and this copy is to end without showing anything. A copy that
// ends while this one waits hands over: this one then goes on.
bool ClaimRunningCopy(DWORD waitMs = 30000);

// The window property that marks the running copy's dialog.
constexpr wchar_t kRunningCopyProperty[] = L"KestrinProperties.RunningCopy";

void MarkRunningCopy(HWND dialog);
// Removes the mark; the dialog calls it before its window goes.
void UnmarkRunningCopy(HWND dialog);
// The marked top-level window of another process, or null.
HWND FindRunningCopy();
