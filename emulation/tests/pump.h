// Message pumping for the tests of KestrinZel2: device events and timer
// expiries reach the thread that pumps.
#pragma once
#include <windows.h>

// Pumps this thread's messages until done() holds or the time is over; true
// when done() held.
template <typename Done>
bool PumpUntil(Done done, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    if (done()) return true;
    if (GetTickCount() - start > timeoutMs) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
  }
}

// Pumps for a while whatever comes.
inline void PumpFor(DWORD ms) {
  PumpUntil([] { return false; }, ms);
}
