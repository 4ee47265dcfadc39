// Kestrin1Client: a client program of Kestrin1.dll, as small as one can be.
// It shows a window of its own (the agent routes the device to the client
// whose process holds the foreground), connects, prints every device event
// and every motion read that has new data, and ends after the given time.
//   Kestrin1Client.exe [seconds] [read interval in ms]
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

#include "Kestrin1.h"
#include "foreground_window.h"

namespace {

const char* EventName(unsigned int event) {
  static const char* const names[] = {
      "EventWakeup",       "EventBallActive",     "EventBallReleased", "EventScrollActive",
      "EventScrollReleased", "EventButtonsChanged", "EventDeviceEnabled", "EventDeviceDisabled",
      "EventDeviceAttached", "EventDeviceDetached"};
  return event < sizeof names / sizeof names[0] ? names[event] : "?";
}

long KESTRIN1_CALLBACK OnEvent(unsigned int event, long param) {
  printf("event %-20s %ld\n", EventName(event), param);
  fflush(stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const DWORD seconds = argc > 1 ? strtoul(argv[1], nullptr, 0) : 10;
  const DWORD interval = argc > 2 ? strtoul(argv[2], nullptr, 0) : 50;
  if (!ShowForegroundWindow("Kestrin1ClientWindow", "Kestrin1 client"))
    printf("no window: the device may not be routed here\n");
  Kestrin1::CKestrin kestrin;
  Kestrin1::CKestrin::Register(OnEvent, GetCurrentProcessId());
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < seconds * 1000) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, interval, QS_ALLINPUT);
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    if (kestrin.GetMotion()) {
      const Kestrin1::ABallMotion& m = kestrin.m_Motion;
      printf("motion tics %5u  t %6d %6d %6d  r %6d %6d %6d\n", m.tics, m.tx, m.ty, m.tz, m.rx,
             m.ry, m.rz);
      fflush(stdout);
    }
  }
  Kestrin1::CKestrin::UnRegister(GetCurrentProcessId());
  return 0;
}
