#include "timer_helper.h"

#include <stdio.h>

#include <new>

#include "module_lifetime.h"
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

// "[KestrinZel2] CALL() failed: <error> system text" on the debugger output.
void ReportFailure(const char* call, DWORD error) {
  char text[512] = "";
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                nullptr, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text,
                                sizeof text, nullptr);
  while (length && (text[length - 1] == '\n' || text[length - 1] == '\r')) text[--length] = 0;
  char line[640];
  snprintf(line, sizeof line, "[KestrinZel2] %s() failed: <%lu> %s\n", call,
           static_cast<unsigned long>(error), text);
  OutputDebugStringA(line);
}

}  // namespace

uint16_t CurrentTic16() { return static_cast<uint16_t>(ReadTicCount()); }

CMyTimer::CMyTimer() : m_pHelper(new (std::nothrow) CTimerHelper(this)) {
  // No timer without its window and worker: StartTimer then does nothing.
  if (m_pHelper && !m_pHelper->Made()) {
    delete m_pHelper;
    m_pHelper = nullptr;
  }
}

CMyTimer::~CMyTimer() { delete m_pHelper; }

CTimerHelper::CTimerHelper(CMyTimer* owner)
    : m_Owner(owner), m_Shared(new (std::nothrow) TimerShared) {
  if (!m_Shared) return;
  if (!Create(nullptr)) {
    // The class registration is tried again by the next helper.
    const DWORD error = GetLastError();
    const bool registered = __atomic_load_n(&GetWndClassInfo().m_atom, __ATOMIC_ACQUIRE) != 0;
    ReportFailure(registered ? "CreateWindowExW" : "RegisterClassExW", error);
    return;
  }
  m_Shared->m_Window = m_hWnd;
  m_Shared->m_WakeEvent = CreateEventW(nullptr, TRUE /* manual reset */, FALSE, nullptr);
  // Without the event the worker could not wait: no worker, no expiries.
  if (!m_Shared->m_WakeEvent) {
    ReportFailure("CreateEventW", GetLastError());
    return;
  }
  // The worker's reference on the module, taken here: the new thread may not
  // run before the host has let go of the library.
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                     reinterpret_cast<LPCWSTR>(&TimerThreadStart), &m_Shared->m_Module);
  m_Shared->m_References.fetch_add(1, std::memory_order_relaxed);  // the worker's
  m_Worker = CreateThread(nullptr, 0, TimerThreadStart, m_Shared, 0, nullptr);
  if (!m_Worker) {
    ReportFailure("CreateThread", GetLastError());
    if (m_Shared->m_Module) FreeLibrary(m_Shared->m_Module);
    m_Shared->m_Module = nullptr;
    Release(m_Shared);
    return;
  }
  SetThreadPriority(m_Worker, THREAD_PRIORITY_ABOVE_NORMAL);
}

CTimerHelper::~CTimerHelper() {
  Stop();
  if (m_Shared) Release(m_Shared);
  DestroyWindow();
}

void CTimerHelper::Stop() {
  if (!m_Shared) return;
  m_Shared->m_Stop.store(1, std::memory_order_release);
  if (m_Shared->m_WakeEvent) SetEvent(m_Shared->m_WakeEvent);
  if (HANDLE worker = m_Worker) {
    m_Worker = nullptr;
    // A worker still running after this lets go of the shared block last.
    WaitForSingleObject(worker, 1000);
    CloseHandle(worker);
  }
}

void CTimerHelper::Retire() {
  Stop();
  m_Retired.store(1, std::memory_order_seq_cst);
  // On the window's thread the window goes now; when that thread is in an
  // OnTimer of this helper, its final message waits for the call's end.
  // Another thread's window is detached: an OnTimer under way there returns
  // into this module after this call.
  bool underWay = false;
  DestroyWindow(&underWay);
  if (underWay) KeepThisModuleLoaded();
  LetGo();  // this helper may be gone from here
}

void CTimerHelper::OnFinalMessage(HWND) { LetGo(); }

void CTimerHelper::LetGo() {
  // A helper deleted with its owner, never retired, keeps one hold.
  if (m_Holders.fetch_sub(1, std::memory_order_acq_rel) == 1) m_Owner->OnWindowGone();
}

DWORD WINAPI CTimerHelper::TimerThreadStart(void* parameter) {
  auto* shared = static_cast<TimerShared*>(parameter);
  // The reference taken for this thread by the one that created it.
  HMODULE module = shared->m_Module;
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
  // was handled) is dropped; so is every post once the helper is retired.
  // The helper outlives the call even when the owner retires it inside: the
  // framework gives the final message only after this handler.
  if (lParam != static_cast<LPARAM>(ExpiryCount()) || !m_Owner) return 0;
  if (!m_Retired.load(std::memory_order_seq_cst)) m_Owner->OnTimer();
  return 0;
}

