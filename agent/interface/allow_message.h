// AllowMessage: lets one registered message through the user-interface
// privilege filter of a window. The filter functions are looked up at run
// time (they are missing on older systems); results are not checked.
#pragma once

#include <windows.h>

namespace kestrin::manager {

inline void AllowMessage(HWND window, UINT message) {
  HMODULE user32 = GetModuleHandleA("user32.dll");
  if (!user32) return;
  using FilterEx = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
  using Filter = BOOL(WINAPI*)(UINT, DWORD);
  if (auto ex = reinterpret_cast<FilterEx>(
          reinterpret_cast<void*>(GetProcAddress(user32, "ChangeWindowMessageFilterEx")))) {
    ex(window, message, 1 /* MSGFLT_ALLOW */, nullptr);
    return;
  }
  if (auto plain = reinterpret_cast<Filter>(
          reinterpret_cast<void*>(GetProcAddress(user32, "ChangeWindowMessageFilter")))) {
    plain(message, 1 /* MSGFLT_ADD */);
  }
}

}  // namespace kestrin::manager
