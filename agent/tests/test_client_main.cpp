// KestrinTestClient: a client process that speaks the agent's window-message
// protocol directly, for the end-to-end tests and the benchmark. It makes the
// message-only client window ("KestrinClientClass1", "KestrinClient1"), says
// ClientHello to the manager window (again on every ManagerStarted), and
// writes each notice it receives to the debugger output:
//   [KestrinTestClient] notice wParam=0x00010306 lParam=0x00000000 us=123456.7
// (us: the performance counter in microseconds when the notice arrived). A
// top-level window of its own is shown and takes the foreground on command
// (shown only then: without a window manager, a window shown at start may
// take the X focus, and with it the foreground, a moment later).
//
//   KestrinTestClient.exe [seconds] [-f]
// ends after that long (default 60); -f takes the foreground at start.
//
// Commands: the registered message "KestrinTestClientCommand" posted to the
// client window, wParam 1 takes the foreground (and says ClientFocusGained as
// the library does), 2 ends the program.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "allow_message.h"
#include "manager_messages.h"

using namespace kestrin::manager;

namespace {

constexpr char kCommandMessage[] = "KestrinTestClientCommand";
enum : WPARAM { CommandTakeForeground = 1, CommandQuit = 2 };

UINT KestrinMessage;
UINT CommandMessage;
HWND ClientWindow;
HWND TopWindow;
double TicksPerMicrosecond;

LPARAM ClientParam() { return static_cast<LPARAM>(reinterpret_cast<uintptr_t>(ClientWindow)); }

void PostToManager(uint16_t code) {
  HWND manager = FindWindowExA(HWND_MESSAGE, nullptr, kManagerClass, kManagerTitle);
  if (manager) PostMessageA(manager, KestrinMessage, RequestWParam(code), ClientParam());
}

void Say(const char* format, unsigned long a, unsigned long b) {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  char line[160];
  snprintf(line, sizeof line, format, a, b, static_cast<double>(now.QuadPart) / TicksPerMicrosecond);
  OutputDebugStringA(line);
}

LRESULT CALLBACK ClientProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (IsMessage(message, KestrinMessage)) {
    Say("[KestrinTestClient] notice wParam=0x%08lX lParam=0x%08lX us=%.1f\n",
        static_cast<unsigned long>(wParam), static_cast<unsigned long>(lParam));
    if (NoticeCode(static_cast<uint32_t>(wParam)) == ManagerStarted) PostToManager(ClientHello);
    return 0;
  }
  if (message == CommandMessage) {
    if (wParam == CommandTakeForeground) {
      ShowWindow(TopWindow, SW_SHOW);
      SetForegroundWindow(TopWindow);
      Say("[KestrinTestClient] foreground %lu %lu us=%.1f\n",
          static_cast<unsigned long>(GetForegroundWindow() == TopWindow), 0);
      PostToManager(ClientFocusGained);
    } else if (wParam == CommandQuit) {
      PostQuitMessage(0);
    }
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? atoi(argv[1]) : 60;
  const bool foreground = argc > 2 && strcmp(argv[2], "-f") == 0;
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  TicksPerMicrosecond = static_cast<double>(frequency.QuadPart) / 1e6;
  KestrinMessage = RegisterWindowMessageA(kMessageName);
  CommandMessage = RegisterWindowMessageA(kCommandMessage);
  HINSTANCE instance = GetModuleHandleA(nullptr);

  WNDCLASSA clientClass = {};
  clientClass.lpfnWndProc = ClientProcedure;
  clientClass.hInstance = instance;
  clientClass.lpszClassName = kClientClass;
  RegisterClassA(&clientClass);
  ClientWindow = CreateWindowExA(0, kClientClass, kClientTitle, 0, 0, 0, 0, 0, HWND_MESSAGE,
                                 nullptr, instance, nullptr);
  AllowMessage(ClientWindow, KestrinMessage);
  AllowMessage(ClientWindow, CommandMessage);

  WNDCLASSA topClass = {};
  topClass.lpfnWndProc = DefWindowProcA;
  topClass.hInstance = instance;
  topClass.lpszClassName = "KestrinTestClientTop";
  RegisterClassA(&topClass);
  TopWindow = CreateWindowExA(0, topClass.lpszClassName, "Kestrin test client",
                              WS_POPUP, 10, 10, 100, 100, nullptr, nullptr, instance,
                              nullptr);
  if (!ClientWindow || !TopWindow) {
    fprintf(stderr, "KestrinTestClient: cannot make its windows, error %lu\n", GetLastError());
    return 1;
  }
  PostToManager(ClientHello);
  Say("[KestrinTestClient] ready %lu %lu us=%.1f\n",
      static_cast<unsigned long>(reinterpret_cast<uintptr_t>(ClientWindow)),
      static_cast<unsigned long>(reinterpret_cast<uintptr_t>(TopWindow)));

  if (foreground) PostMessageA(ClientWindow, CommandMessage, CommandTakeForeground, 0);
  SetTimer(nullptr, 0, static_cast<UINT>(seconds) * 1000, nullptr);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    if (message.message == WM_TIMER && message.hwnd == nullptr) break;
    DispatchMessageA(&message);
  }
  return 0;
}
