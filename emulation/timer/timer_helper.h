// The one-shot timer of a navigation object: CMyTimer receives the expiries,
// its CTimerHelper measures them on a worker thread and brings them back to
// the thread that created it through a hidden window of that thread.
//
// The worker and the host's thread share the words of TimerShared (the
// arming, the expiry count, the stop flag, the wake event). The block is
// counted: the helper and the worker each hold it, and the last one to let go
// frees it, so a worker that outlives the helper's destruction (which waits
// for it at most 1000 ms) still has its fields. The worker also holds a
// reference on the module that holds its code and leaves through
// FreeLibraryAndExitThread, so a host that unloads the library right after
// a Destroy does not pull the code from under it.
#pragma once
#include <windows.h>

#include <atomic>

#include "timer_arming.h"
#include "window_impl.h"

class CTimerHelper;

class CMyTimer {
 public:
  virtual void OnTimer() = 0;

 protected:
  CMyTimer();
  ~CMyTimer();  // destroys the helper

 public:
  CTimerHelper* m_pHelper;  // null when it could not be made
};

struct TimerShared {
  std::atomic<long> m_References{1};
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
  // normal priority).
  explicit CTimerHelper(CMyTimer* owner);
  // Stops the worker (waiting at most 1000 ms), destroys the window.
  ~CTimerHelper() override;

  KES_BEGIN_MSG_MAP(CTimerHelper)
    KES_MESSAGE_HANDLER(WM_COMMAND, OnCommand)
  KES_END_MSG_MAP()

  // Arms the timer (replacing the current arming) and wakes the worker.
  void Start(uint16_t startTic, uint16_t duration);

  uint16_t ExpiryCount() const;
  // Passes of the worker's loop so far.
  uint32_t Wakeups() const;
  HANDLE Worker() const { return m_Worker; }

 private:
  LRESULT OnCommand(UINT message, WPARAM wParam, LPARAM lParam, BOOL& handled);
  static DWORD WINAPI TimerThreadStart(void* shared);

  CMyTimer* m_Owner;
  TimerShared* m_Shared;  // null when it could not be made
  HANDLE m_Worker = nullptr;
};

// The low 16 bits of the tic count.
uint16_t CurrentTic16();
