#include "single_instance.h"

namespace {

const wchar_t kRunningCopyProperty[] = L"KestrinProperties.RunningCopy";

BOOL CALLBACK FindMarked(HWND window, LPARAM found) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process == GetCurrentProcessId() || !GetPropW(window, kRunningCopyProperty)) return TRUE;
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

}  // namespace

void MarkRunningCopy(HWND dialog) {
  SetPropW(dialog, kRunningCopyProperty, reinterpret_cast<HANDLE>(1));
}

HWND FindRunningCopy() {
  HWND found = nullptr;
  EnumWindows(&FindMarked, reinterpret_cast<LPARAM>(&found));
  return found;
}
