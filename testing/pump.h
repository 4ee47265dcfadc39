// Message pumping for the tests: what is posted to this thread's windows
// (device events, timer expiries, notices from other processes) reaches them
// while a test waits for its effect.
//
//   ASSERT_TRUE(PumpUntil([&] { return Seen(EventDeviceEnabled); }, 20000));
//   PumpFor(300);  // whatever comes in that time
//   PumpPending();  // what is queued now
//
// Between passes the thread sleeps until a message comes or 1 ms passes: a
// timer test that waits for an expiry sees it within a millisecond of when
// it came. Link KestrinPump.
#pragma once
#include <windows.h>

// Delivers what is queued now, and returns.
inline void PumpPending() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

// Pumps this thread's messages (translated, then dispatched) until done()
// holds or timeoutMs have passed; true when done() held.
template <typename Done>
bool PumpUntil(Done done, DWORD timeoutMs = 10000) {
  const DWORD start = GetTickCount();
  for (;;) {
    PumpPending();
    if (done()) return true;
    if (GetTickCount() - start > timeoutMs) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
  }
}

// Pumps for ms milliseconds whatever comes.
inline void PumpFor(DWORD ms) {
  PumpUntil([] { return false; }, ms);
}
