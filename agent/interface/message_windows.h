// ForEachMessageWindow: visits every message-only window of one class and
// title, in the whole session. FindWindowEx walks on from the window it was
// last given; when that window has been destroyed in the meantime (its thread
// or process ended), it cannot find its place again and ends the walk early,
// and the windows after it would never be visited. The walk then starts over
// from the first window, skipping those already visited.
#pragma once

#include <windows.h>

#include <algorithm>
#include <vector>

#include "manager_messages.h"

namespace kestrin::manager {

// visit(HWND) returns true to go on, false to stop. title may be null (any
// title).
template <typename Visit>
void ForEachMessageWindow(const char* windowClass, const char* title, Visit visit) {
  std::vector<HWND> visited;
  // Every pass after the first found a window gone under it: bounded, so that
  // windows coming and going without end cannot hold the caller.
  for (int pass = 0; pass < 64; ++pass) {
    HWND last = nullptr;
    while (HWND window = FindWindowExA(HWND_MESSAGE, last, windowClass, title)) {
      last = window;
      if (std::find(visited.begin(), visited.end(), window) != visited.end()) continue;
      visited.push_back(window);
      if (!visit(window)) return;
    }
    if (!last || IsWindow(last)) return;  // the walk reached the end
  }
}

// The client windows ("KestrinClient1") of one process.
inline std::vector<HWND> ClientWindowsOf(DWORD process) {
  std::vector<HWND> windows;
  ForEachMessageWindow(kClientClass, kClientTitle, [&](HWND window) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == process) windows.push_back(window);
    return true;
  });
  return windows;
}

}  // namespace kestrin::manager
