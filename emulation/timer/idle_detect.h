// Idle detection of navigation objects: a foreground-idle hook on the thread
// that creates a navigation object, shared by the whole process, and the
// current detector, the newest navigation object.
//
// The hook is installed by the first construction in the process (and by the
// next one after it was removed) and removed by any destruction, which also
// clears the current detector: with two objects alive, destroying either
// ends idle detection for both until the next construction.
//
// An idle notification is requested through RequestIdleNotification: the
// hook procedure, at its next HC_ACTION call, clears the request and calls
// the current detector's OnIdle once. No operation of the library's
// interfaces requests one, so hosts receive no idle notice.
#pragma once
#include <windows.h>

class CIdleDetect {
 public:
  virtual void OnIdle() = 0;
  // Ends this detector's part at once (clears the current detector, removes
  // the hook), on any thread; the destructor then does nothing more. A
  // navigation object freed later than its Destroy (its window on another
  // thread) must not clear a detector or hook made after it.
  void StopIdleDetection();

 protected:
  CIdleDetect();
  ~CIdleDetect();

 private:
  bool m_Stopped = false;
};

// The process's hook, null when none is installed.
HHOOK IdleHook();
// The current detector, null when none.
CIdleDetect* CurrentDetector();
// Asks for one OnIdle of the current detector at the hook's next call.
void RequestIdleNotification();
// The hook procedure, called by the system on the hooked thread.
LRESULT CALLBACK ForegroundIdleHookProc(int code, WPARAM wParam, LPARAM lParam);
