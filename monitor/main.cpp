// KestrinMonitor.exe: a small topmost window that shows the ball's live
// motion. Without the service it says so and draws the resting scene; when
// the service's pipe breaks the program ends.
#include <windows.h>

#include "library_calls.h"
#include "monitor_window.h"
#include "pipe_client.h"

namespace {

// Connects to the service before WinMain runs; closed at exit.
monitor::MonitorPipeClient s_PipeClient;

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  using namespace monitor;
  if (!RegisterMonitorClass(instance)) return 0;
  HWND window = CreateMonitorWindow(instance);
  if (!window) return 0;
  SetMainWindow(window);
  CreateDevice();
  SetTimer(window, kMonitorTimerId, kMonitorTimerMs, nullptr);
  ShowWindow(window, SW_SHOW);
  UpdateWindow(window);
  InvalidateRect(window, nullptr, FALSE);
  return MessageLoop();
}
