// KestrinLibraryClient: a client program of Kestrin1.dll, written from its
// public header, that a test drives step by step. It makes no CKestrin and
// shows no window until told; each event its callback hears, and the end of
// each command, goes to the debugger output with the performance counter in
// microseconds:
//   [KestrinLibraryClient] ready 0 us=123.4
//   [KestrinLibraryClient] event 5 1 us=123456.7      (event, param)
//   [KestrinLibraryClient] done 3 4660 us=123460.1    (command, its result)
//
//   KestrinLibraryClient.exe [seconds]     ends after that long (default 60)
//
// Commands: the registered message "KestrinLibraryClientCommand" posted to
// its message-only window of class "KestrinLibraryClientCommands" (wParam the
// command, lParam its argument):
//   1 build a CKestrin and register the callback for this process
//   2 destroy the CKestrin
//   3 register the callback for the process lParam (a helper working for it)
//   4 show a window of its own in front and tell the library (FocusChanged);
//     the result is 1 when it is the foreground window, and the window's
//     handle follows as "front <handle>"
//   5 end the program
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

#include "Kestrin1.h"
#include "foreground_window.h"

namespace {

enum : WPARAM { Build = 1, Destroy = 2, RegisterFor = 3, TakeFront = 4, Quit = 5 };

double TicksPerMicrosecond;
Kestrin1::CKestrin* Kestrin;

void Say(const char* what, long a, long b) {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  char line[160];
  snprintf(line, sizeof line, "[KestrinLibraryClient] %s %ld %ld us=%.1f\n", what, a, b,
           static_cast<double>(now.QuadPart) / TicksPerMicrosecond);
  OutputDebugStringA(line);
}

long KESTRIN1_CALLBACK OnEvent(unsigned int event, long param) {
  Say("event", static_cast<long>(event), param);
  return 0;
}

long Run(WPARAM command, LPARAM argument) {
  switch (command) {
    case Build:
      if (Kestrin) return 0;
      Kestrin = new Kestrin1::CKestrin();
      Kestrin1::CKestrin::Register(OnEvent, GetCurrentProcessId());
      return 1;
    case Destroy:
      delete Kestrin;
      Kestrin = nullptr;
      return 1;
    case RegisterFor:
      return Kestrin1::CKestrin::Register(OnEvent, static_cast<unsigned long>(argument));
    case TakeFront: {
      HWND window = ShowForegroundWindow("KestrinLibraryClientWindow", "Kestrin library client");
      Say("front", static_cast<long>(reinterpret_cast<LONG_PTR>(window)), 0);
      if (Kestrin) Kestrin1::CKestrin::FocusChanged(1);
      return window && GetForegroundWindow() == window;
    }
    case Quit:
      PostQuitMessage(0);
      return 1;
    default:
      return 0;
  }
}

UINT CommandMessage;

LRESULT CALLBACK CommandProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == CommandMessage) {
    Say("done", static_cast<long>(wParam), Run(wParam, lParam));
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? atoi(argv[1]) : 60;
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  TicksPerMicrosecond = static_cast<double>(frequency.QuadPart) / 1e6;
  CommandMessage = RegisterWindowMessageA("KestrinLibraryClientCommand");
  WNDCLASSA commandClass = {};
  commandClass.lpfnWndProc = CommandProcedure;
  commandClass.hInstance = GetModuleHandleA(nullptr);
  commandClass.lpszClassName = "KestrinLibraryClientCommands";
  RegisterClassA(&commandClass);
  if (!CreateWindowExA(0, commandClass.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                       commandClass.hInstance, nullptr)) {
    fprintf(stderr, "KestrinLibraryClient: no command window, error %lu\n", GetLastError());
    return 1;
  }
  Say("ready", 0, 0);
  SetTimer(nullptr, 0, static_cast<UINT>(seconds) * 1000, nullptr);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    if (message.message == WM_TIMER && message.hwnd == nullptr) break;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  delete Kestrin;
  return 0;
}
