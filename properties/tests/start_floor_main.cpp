// The floor of the start-up benchmark: the least a program can do to show a
// window under the same Wine: one visible top-level window holding one child
// control with the trackbar id the benchmark looks for, closed by WM_CLOSE.
#include <windows.h>

#include "resource.h"

namespace {

LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = Proc;
  wc.hInstance = instance;
  wc.lpszClassName = L"PropertiesStartFloor";
  RegisterClassW(&wc);
  HWND window = CreateWindowExW(WS_EX_APPWINDOW, wc.lpszClassName, L"Start floor",
                                WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE, 0, 0, 500, 400,
                                nullptr, nullptr, instance, nullptr);
  CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 10, 10, 100, 20, window,
                  reinterpret_cast<HMENU>(IDC_PAN), instance, nullptr);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
