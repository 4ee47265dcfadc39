#include "single_instance.h"

namespace {

// In the session's own namespace: one running copy per desktop session.
const wchar_t kRunningCopyMutex[] = L"Local\\KestrinProperties.RunningCopy";
constexpr DWORD kPollMs = 50;

// Held by the running copy until the process ends.
HANDLE g_RunningCopy = nullptr;

BOOL CALLBACK FindMarked(HWND window, LPARAM found) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process == GetCurrentProcessId() || !GetPropW(window, kRunningCopyProperty)) return TRUE;
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

bool BringRunningCopyToFront() {
  HWND running = FindRunningCopy();
  if (running) SetForegroundWindow(running);
  return running != nullptr;
}

}  // namespace

bool ClaimRunningCopy(DWORD waitMs) {
  HANDLE mutex = CreateMutexW(nullptr, TRUE, kRunningCopyMutex);  // owned when made here
  if (!mutex) return !BringRunningCopyToFront();  // no mutex: the window alone decides
  if (GetLastError() != ERROR_ALREADY_EXISTS) {
    g_RunningCopy = mutex;
    return true;
  }
  // Another copy holds it: it may still be starting, showing its dialog, or
  // ending. Its marked dialog, once there, is brought to the front; the
  // mutex, once it lets go, is this copy's.
  const DWORD start = GetTickCount();
  for (;;) {
    DWORD wait = WaitForSingleObject(mutex, kPollMs);
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) {
      g_RunningCopy = mutex;
      return true;
    }
    if (BringRunningCopyToFront() || GetTickCount() - start >= waitMs) break;
  }
  CloseHandle(mutex);
  return false;
}

void MarkRunningCopy(HWND dialog) {
  SetPropW(dialog, kRunningCopyProperty, reinterpret_cast<HANDLE>(1));
}

void UnmarkRunningCopy(HWND dialog) { RemovePropW(dialog, kRunningCopyProperty); }

HWND FindRunningCopy() {
  HWND found = nullptr;
  EnumWindows(&FindMarked, reinterpret_cast<LPARAM>(&found));
  return found;
}
