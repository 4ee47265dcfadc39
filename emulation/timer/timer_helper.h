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
// A navigation handle may be destroyed on any thread, also from within its
// own OnTimer and while an OnTimer runs on the window's thread: Retire never
// waits for a call of the owner, which may itself be waiting for the thread
// that retires (a host's OnTimer that sends to that thread, or takes a lock
// it holds). The helper is retired instead: the worker stops, no OnTimer
// starts any more, the window goes (destroyed at once on its own thread;
// from another thread detached, given the system's procedure and closed by
// its thread), and the owner is freed (OnWindowGone) by the last of the
// retire and the window's final message, which the framework never gives
// while an OnTimer is on any stack. When the window's thread is still in an
// OnTimer as another thread retires it, that call returns into this module
// after Retire has returned, when the host may already have let go of the
// library: the module then stays loaded until the process ends.
#pragma once
#include <windows.h>

#include <atomic>

#include "timer_arming.h"
#include "window_impl.h"

class CTimerHelper;

class CMyTimer {
 public:
  virtual void OnTimer() = 0;
  // The helper is retired and its window done with: the owner frees itself
  // (and what owns it). Called on the thread that retired it or on the
  // window's, once no OnTimer is under way.
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
  // Retires the helper (see above), on any thread, never waiting for an
  // OnTimer: after this call the owner hears no OnTimer, and it may be gone
  // before the call returns.
  void Retire();

  uint16_t ExpiryCount() const;
  // Passes of the worker's loop so far.
  uint32_t Wakeups() const;
  HANDLE Worker() const { return m_Worker; }

 private:
  LRESULT OnCommand(UINT message, WPARAM wParam, LPARAM lParam, BOOL& handled);
  void OnFinalMessage(HWND) override;
  static DWORD WINAPI TimerThreadStart(void* shared);

  // The retire and the window's final message each let go once; the last
  // frees the owner.
  void LetGo();

  CMyTimer* m_Owner;
  TimerShared* m_Shared;  // null when it could not be made
  HANDLE m_Worker = nullptr;
  std::atomic<int> m_Retired{0};
  std::atomic<int> m_Holders{2};  // the retire to come and the window
};

// The low 16 bits of the tic count.
uint16_t CurrentTic16();
