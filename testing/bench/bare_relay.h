// The floor of the latency benchmarks whose road is a pipe hop and a posted
// window message to another process (the agent's relay): the same two hops
// done bare in the same run. KestrinBareRelay.exe reads the service's pipe
// and posts each state at once to a window of this process, on a thread of
// its own, which stamps the arrival.
//
//   BareRelayFloor floor;
//   floor.Start(KESTRIN_BARE_RELAY_EXE);   // connected once it returns true
//   size_t n = floor.Count(); ... send a report ...
//   floor.WaitCount(n + 1, 1000); floor.Arrival(n).us
#pragma once
#include <windows.h>
#include <stdint.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "latency_figures.h"
#include "process_runner.h"

class BareRelayFloor {
 public:
  struct Arrival {
    double us;       // performance counter at arrival, microseconds
    uint16_t state;  // the state word the service sent
  };

  BareRelayFloor() = default;
  ~BareRelayFloor() { Stop(); }
  BareRelayFloor(const BareRelayFloor&) = delete;
  BareRelayFloor& operator=(const BareRelayFloor&) = delete;

  // Starts the window thread and the relay; true once the relay is connected
  // to the pipe and the state it got on connect has arrived.
  bool Start(const std::string& relayExe, DWORD timeoutMs = 10000) {
    thread_ = std::thread([this] { Run(); });
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (!window_) {
      if (GetTickCount64() >= end) return false;
      Sleep(1);
    }
    process_ = StartProgram("\"" + WinePath(relayExe) + "\" " +
                            std::to_string(reinterpret_cast<uintptr_t>(window_.load())));
    if (!process_) return false;
    while (!connected_) {
      if (GetTickCount64() >= end) return false;
      Sleep(1);
    }
    Sleep(300);  // the state sent on connect
    return true;
  }

  size_t Count() {
    std::lock_guard<std::mutex> hold(lock_);
    return arrivals_.size();
  }
  Arrival At(size_t i) {
    std::lock_guard<std::mutex> hold(lock_);
    return arrivals_[i];
  }
  std::vector<Arrival> All() {
    std::lock_guard<std::mutex> hold(lock_);
    return arrivals_;
  }
  bool WaitCount(size_t count, DWORD timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (Count() < count) {
      if (GetTickCount64() >= end) return false;
      Sleep(0);
    }
    return true;
  }

  void Stop() {
    if (process_) {
      TerminateProcess(process_, 0);
      WaitForSingleObject(process_, 5000);
      CloseHandle(process_);
      process_ = nullptr;
    }
    if (thread_.joinable()) {
      PostThreadMessageA(threadId_, WM_QUIT, 0, 0);
      thread_.join();
    }
  }

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP + 1 || message == WM_APP + 2) {
      const double at = MicrosecondsNow();
      auto* self = reinterpret_cast<BareRelayFloor*>(GetWindowLongPtrA(window, GWLP_USERDATA));
      if (message == WM_APP + 2) {
        self->connected_ = true;
      } else {
        std::lock_guard<std::mutex> hold(self->lock_);
        self->arrivals_.push_back({at, static_cast<uint16_t>(wParam)});
      }
      return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
  }

  void Run() {
    threadId_ = GetCurrentThreadId();
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = Procedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "KestrinBareRelayFloor";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, windowClass.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                  nullptr, windowClass.hInstance, nullptr);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    window_ = window;
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
    DestroyWindow(window);
  }

  std::thread thread_;
  std::atomic<DWORD> threadId_{0};
  std::atomic<HWND> window_{nullptr};
  std::atomic<bool> connected_{false};
  HANDLE process_ = nullptr;
  std::mutex lock_;
  std::vector<Arrival> arrivals_;
};
