#include "idle_detect.h"

namespace {
HHOOK g_Hook = nullptr;
CIdleDetect* g_CurrentDetector = nullptr;
int g_IdleRequested = 0;
}  // namespace

HHOOK IdleHook() { return __atomic_load_n(&g_Hook, __ATOMIC_ACQUIRE); }

CIdleDetect* CurrentDetector() { return __atomic_load_n(&g_CurrentDetector, __ATOMIC_ACQUIRE); }

void RequestIdleNotification() { __atomic_store_n(&g_IdleRequested, 1, __ATOMIC_RELEASE); }

CIdleDetect::CIdleDetect() {
  __atomic_store_n(&g_CurrentDetector, this, __ATOMIC_RELEASE);
  if (IdleHook()) return;
  // A failure is retried by the next construction.
  HHOOK hook = SetWindowsHookExW(WH_FOREGROUNDIDLE, ForegroundIdleHookProc, nullptr,
                                 GetCurrentThreadId());
  HHOOK none = nullptr;
  // Two threads constructing at once: the second hook is not needed.
  if (hook && !__atomic_compare_exchange_n(&g_Hook, &none, hook, false, __ATOMIC_ACQ_REL,
                                           __ATOMIC_ACQUIRE))
    UnhookWindowsHookEx(hook);
}

CIdleDetect::~CIdleDetect() { StopIdleDetection(); }

void CIdleDetect::StopIdleDetection() {
  if (m_Stopped) return;
  m_Stopped = true;
  __atomic_store_n(&g_CurrentDetector, static_cast<CIdleDetect*>(nullptr), __ATOMIC_RELEASE);
  if (HHOOK hook = __atomic_exchange_n(&g_Hook, static_cast<HHOOK>(nullptr), __ATOMIC_ACQ_REL))
    UnhookWindowsHookEx(hook);
}

LRESULT CALLBACK ForegroundIdleHookProc(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION) {
    CIdleDetect* detector = CurrentDetector();
    if (detector && __atomic_exchange_n(&g_IdleRequested, 0, __ATOMIC_ACQ_REL)) detector->OnIdle();
  }
  return CallNextHookEx(IdleHook(), code, wParam, lParam);
}
