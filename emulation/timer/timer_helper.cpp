#include "timer_helper.h"

#include <new>

#include "tic_clock.h"

namespace {

void Release(TimerShared* shared) {
  if (shared->m_References.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  if (shared->m_WakeEvent) CloseHandle(shared->m_WakeEvent);
  delete shared;
}

void TimerLoop(TimerShared* shared) {
  while (!shared->m_Stop.load(std::memory_order_acquire)) {
    shared->m_Wakeups.fetch_add(1, std::memory_order_relaxed);
    uint16_t wait, count;
    if (TimerPass(&shared->m_Words, CurrentTic16(), &wait, &count))
      PostMessageW(shared->m_Window, WM_COMMAND, kExpiryWParam, static_cast<LPARAM>(count));
    WaitForSingleObject(shared->m_WakeEvent, WaitMilliseconds(wait));
    ResetEvent(shared->m_WakeEvent);
  }
}

}  // namespace

uint16_t CurrentTic16() { return static_cast<uint16_t>(ReadTicCount()); }

CMyTimer::CMyTimer() : m_pHelper(new (std::nothrow) CTimerHelper(this)) {}

CMyTimer::~CMyTimer() { delete m_pHelper; }

CTimerHelper::CTimerHelper(CMyTimer* owner)
    : m_Owner(owner), m_Shared(new (std::nothrow) TimerShared) {
  Create(nullptr);
  if (!m_Shared) return;
  m_Shared->m_Window = m_hWnd;
  m_Shared->m_WakeEvent = CreateEventW(nullptr, TRUE /* manual reset */, FALSE, nullptr);
  // Without the event the worker could not wait: no worker, no expiries.
  if (!m_Shared->m_WakeEvent) return;
  m_Shared->m_References.fetch_add(1, std::memory_order_relaxed);  // the worker's
  m_Worker = CreateThread(nullptr, 0, TimerThreadStart, m_Shared, 0, nullptr);
  if (!m_Worker) {
    Release(m_Shared);
    return;
  }
  SetThreadPriority(m_Worker, THREAD_PRIORITY_ABOVE_NORMAL);
}

CTimerHelper::~CTimerHelper() {
  if (m_Shared) {
    m_Shared->m_Stop.store(1, std::memory_order_release);
    if (m_Shared->m_WakeEvent) SetEvent(m_Shared->m_WakeEvent);
    if (m_Worker) {
      // A worker still running after this lets go of the shared block last.
      WaitForSingleObject(m_Worker, 1000);
      CloseHandle(m_Worker);
    }
    Release(m_Shared);
  }
  DestroyWindow();
}

DWORD WINAPI CTimerHelper::TimerThreadStart(void* parameter) {
  // A reference on the module that holds this code, for as long as the loop
  // runs.
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                     reinterpret_cast<LPCWSTR>(&TimerThreadStart), &module);
  auto* shared = static_cast<TimerShared*>(parameter);
  TimerLoop(shared);
  Release(shared);
  if (module) FreeLibraryAndExitThread(module, 0);
  return 0;
}

void CTimerHelper::Start(uint16_t startTic, uint16_t duration) {
  if (!m_Shared) return;
  m_Shared->m_Words.arming.store(ArmedWord(startTic, duration), std::memory_order_release);
  if (m_Shared->m_WakeEvent) SetEvent(m_Shared->m_WakeEvent);
}

uint16_t CTimerHelper::ExpiryCount() const {
  return m_Shared ? m_Shared->m_Words.expiryCount.load(std::memory_order_acquire) : 0;
}

uint32_t CTimerHelper::Wakeups() const {
  return m_Shared ? m_Shared->m_Wakeups.load(std::memory_order_relaxed) : 0;
}

LRESULT CTimerHelper::OnCommand(UINT, WPARAM wParam, LPARAM lParam, BOOL& handled) {
  if (HIWORD(wParam) != kExpiryCode) {
    handled = FALSE;
    return 0;
  }
  // A post whose count is no longer current (a later expiry came before it
  // was handled) is dropped.
  if (lParam == static_cast<LPARAM>(ExpiryCount()) && m_Owner) m_Owner->OnTimer();
  return 0;
}
