#include "foreground_window.h"

HWND ShowForegroundWindow(const char* className, const char* title) {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = DefWindowProcA;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = className;
  RegisterClassA(&windowClass);  // already registered on a second call: fine
  HWND window = CreateWindowExA(0, className, title, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                200, 100, nullptr, nullptr, windowClass.hInstance, nullptr);
  if (window) SetForegroundWindow(window);
  return window;
}
