// A motion view's window as the dialog has it, for the views' tests: a
// visible top-level parent and in it a static control of the views' size,
// which the view draws all of.
#pragma once
#include <windows.h>

namespace views {

constexpr int kViewWidth = 215, kViewHeight = 176;

struct ViewWindow {
  HWND parent = nullptr;
  HWND control = nullptr;
};

// Null handles where a window could not be made; the caller asserts on them
// and destroys the parent (which takes the control with it).
inline ViewWindow CreateViewWindow(const wchar_t* parentClass, const wchar_t* title) {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = parentClass;
  RegisterClassW(&wc);  // already there after the first test
  ViewWindow window;
  window.parent = CreateWindowW(parentClass, title, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 400,
                                300, nullptr, nullptr, wc.hInstance, nullptr);
  if (!window.parent) return window;
  window.control = CreateWindowW(L"STATIC", L"", WS_CHILD | WS_VISIBLE, 10, 10, kViewWidth,
                                 kViewHeight, window.parent, nullptr, wc.hInstance, nullptr);
  return window;
}

}  // namespace views
