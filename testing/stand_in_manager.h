// A message-only "KestrinManager" window of the test process, found by the
// interface library as it finds the agent's: it records every request posted
// to it ("KestrinMessage": wParam, lParam) as the thread that made it pumps
// its messages. Tests post the agent's notices to the client windows
// themselves.
//
//   StandInManager manager;
//   CKestrin kestrin;
//   PumpPending();
//   EXPECT_EQ(km::ClientHello, km::RequestCode(StandInManager::Requests()[0].first));
//
// Link KestrinStandInManager.
#pragma once
#include <windows.h>
#include <stdint.h>

#include <utility>
#include <vector>

#include "manager_messages.h"

class StandInManager {
 public:
  using Request = std::pair<uint32_t, LPARAM>;

  StandInManager() {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = Procedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kestrin::manager::kManagerClass;
    RegisterClassA(&windowClass);  // fails harmlessly when an earlier one registered it
    window_ = CreateWindowExA(0, kestrin::manager::kManagerClass, kestrin::manager::kManagerTitle,
                              0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleA(nullptr),
                              nullptr);
  }
  ~StandInManager() { DestroyWindow(window_); }
  StandInManager(const StandInManager&) = delete;
  StandInManager& operator=(const StandInManager&) = delete;

  HWND window() const { return window_; }

  // What every stand-in of the process received, oldest first.
  static std::vector<Request>& Requests() {
    static std::vector<Request> requests;
    return requests;
  }

  // The client window of the newest request with this code; null when none.
  static HWND LastWindowOf(uint16_t code) {
    const std::vector<Request>& requests = Requests();
    for (auto it = requests.rbegin(); it != requests.rend(); ++it) {
      if (kestrin::manager::RequestCode(it->first) == code) return reinterpret_cast<HWND>(it->second);
    }
    return nullptr;
  }

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    static const UINT id = RegisterWindowMessageA(kestrin::manager::kMessageName);
    if (kestrin::manager::IsMessage(message, id)) {
      Requests().emplace_back(static_cast<uint32_t>(wParam), lParam);
      return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
  }

  HWND window_;
};
