// A client window of the window-message protocol inside a test process: the
// message-only window of class "KestrinClientClass1" and title
// "KestrinClient1" that every client process has, recording each
// "KestrinMessage" notice it receives while the test's thread pumps
// (PumpUntil, pump.h).
#pragma once
#include <windows.h>
#include <stdint.h>

#include <vector>

#include "allow_message.h"
#include "manager_messages.h"
#include "pump.h"

struct ReceivedNotice {
  uint32_t wParam;
  uint32_t lParam;
};

class TestClientWindow {
 public:
  TestClientWindow() {
    using namespace kestrin::manager;
    message_ = RegisterWindowMessageA(kMessageName);
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = Procedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kClientClass;
    RegisterClassA(&windowClass);  // fails harmlessly when registered already
    window_ = CreateWindowExA(0, kClientClass, kClientTitle, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              windowClass.hInstance, nullptr);
    SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    AllowMessage(window_, message_);
  }
  ~TestClientWindow() { Destroy(); }
  TestClientWindow(const TestClientWindow&) = delete;
  TestClientWindow& operator=(const TestClientWindow&) = delete;

  HWND window() const { return window_; }
  UINT message() const { return message_; }
  // The window handle as the client sends it in lParam (a 32-bit value).
  LPARAM param() const { return static_cast<LPARAM>(reinterpret_cast<uintptr_t>(window_)); }
  const std::vector<ReceivedNotice>& notices() const { return notices_; }
  void ClearNotices() { notices_.clear(); }
  // Destroys the window, as when the client's process ends.
  void Destroy() {
    if (window_) DestroyWindow(window_);
    window_ = nullptr;
  }

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<TestClientWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self && kestrin::manager::IsMessage(message, self->message_)) {
      self->notices_.push_back({static_cast<uint32_t>(wParam), static_cast<uint32_t>(lParam)});
      return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
  }

  UINT message_ = 0;
  HWND window_ = nullptr;
  std::vector<ReceivedNotice> notices_;
};
