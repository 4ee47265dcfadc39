// The one-shot timer of a navigation object: CMyTimer receives the expiries,
// its CTimerHelper measures them on a worker thread and brings them back to
// the thread that created it through a hidden window of that thread.
//
// The worker and the host's thread share the words of TimerShared (the
// arming, the expiry count, the stop flag, the wake event). The block is
// counted: the helper and the worker each hold it, and the last one to let go
// frees it, so a worker that outlives the helper's destruction (which waits
// for it at most 1000 ms) still has its fields. The worker also holds a
// reference on the module that holds its code, taken by the creating thread
// before the worker exists and handed over to it, and leaves through
// FreeLibraryAndExitThread: a host that unloads the library right after a
// Destroy, even before the new thread could start, does not pull the code
// from under it.
//
// Only the window's own thread can destroy the window. A helper whose owner
// goes on another thread (or from within its own OnTimer) is retired
// instead: the worker stops, no expiry reaches the owner any more, a call of
// OnTimer in flight on the window's thread is waited for, and the window's
// thread frees the owner (OnWindowGone) once the window has closed. A
// library unloaded before that gives the windows left the system's
// procedure (ReleaseRetiredHelpers).
#pragma once
#include <windows.h>

#include <atomic>

#include "timer_arming.h"
#include "window_impl.h"

class CTimerHelper;

class CMyTimer {
 public:
  virtual void OnTimer() = 0;
  // A retired helper's window is gone: the owner frees itself (and what owns
  // it). Called on the window's thread, or at the library's unload.
  virtual void OnWindowGone() {}

 protected:
  CMyTimer();
  ~CMyTimer();  // destroys the helper

 public:
  CTimerHelper* m_pHelper;  // null when it could not be made
};

struct TimerShared {
  std::atomic<long> m_References{1};
  HMODULE m_Module = nullptr;    // the worker's reference on the module
  HANDLE m_WakeEvent = nullptr;  // manual reset
  std::atomic<uint32_t> m_Stop{0};
  TimerWords m_Words;
  HWND m_Window = nullptr;          // where expiries are posted
  std::atomic<uint32_t> m_Wakeups{0};  // passes of the worker's loop, for measurements
};

// The expiry post: WM_COMMAND, wParam high word 0x8000 (low word 0), lParam
// the new expiry count.
constexpr WPARAM kExpiryWParam = 0x80000000u;
constexpr WORD kExpiryCode = 0x8000;

class CTimerHelper : public kesfw::CWindowImpl<CTimerHelper> {
 public:
  // On the calling thread: the window, the wake event, the worker (above
  // normal priority). Without a window there is no worker either: the
  // failure is a debug line, and Made() is false.
  explicit CTimerHelper(CMyTimer* owner);
  // Stops the worker (waiting at most 1000 ms), destroys the window.
  ~CTimerHelper() override;

  KES_BEGIN_MSG_MAP(CTimerHelper)
    KES_MESSAGE_HANDLER(WM_COMMAND, OnCommand)
  KES_END_MSG_MAP()

  // The window and the worker were made.
  bool Made() const { return m_hWnd && m_Worker; }
  // Arms the timer (replacing the current arming) and wakes the worker.
  void Start(uint16_t startTic, uint16_t duration);
  // Ends the worker: at most 1000 ms of waiting; a later call does nothing.
  void Stop();
  // True when the owner can go at once with this helper: on the window's
  // thread (or without a window), outside the owner's OnTimer.
  bool CanGoNow() const;
  // Retires the helper (see above): after this call the helper is no longer
  // the caller's, and the owner hears no OnTimer.
  void Retire();

  // Lets the owner free itself (OnWindowGone): for a retired helper at the
  // library's unload.
  void ReleaseOwner() { m_Owner->OnWindowGone(); }

  uint16_t ExpiryCount() const;
  // Passes of the worker's loop so far.
  uint32_t Wakeups() const;
  HANDLE Worker() const { return m_Worker; }

 private:
  LRESULT OnCommand(UINT message, WPARAM wParam, LPARAM lParam, BOOL& handled);
  void OnFinalMessage(HWND) override;
  static DWORD WINAPI TimerThreadStart(void* shared);

  CMyTimer* m_Owner;
  TimerShared* m_Shared;  // null when it could not be made
  HANDLE m_Worker = nullptr;
  std::atomic<int> m_Retired{0};
  std::atomic<int> m_InFlight{0};  // OnTimer calls under way on the window's thread

 public:
  CTimerHelper* m_NextRetired = nullptr;  // the process's list of retired helpers
};

// At the library's unload: every retired helper whose window is still there
// (its thread has not pumped the close yet) is freed, and its window takes
// the system's procedure; the window class goes, or follows the windows to
// the system's procedure.
void ReleaseRetiredHelpers();

// The low 16 bits of the tic count.
uint16_t CurrentTic16();
