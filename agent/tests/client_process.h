// A KestrinTestClient.exe process driven by a test or benchmark: started,
// found by its client window, told to take the foreground, and read through
// the notice lines it writes to the debugger output.
#pragma once
#include <windows.h>
#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "dbwin_monitor.h"
#include "manager_messages.h"
#include "process_runner.h"

struct ClientNotice {
  uint32_t wParam;
  uint32_t lParam;
  double us;  // performance counter at arrival, microseconds
};

class ClientProcess {
 public:
  ClientProcess() = default;
  ~ClientProcess() { Stop(); }
  ClientProcess(const ClientProcess&) = delete;
  ClientProcess& operator=(const ClientProcess&) = delete;

  // Starts exe (Unix or Windows path) and waits for its client window.
  bool Start(const std::string& exe, DWORD timeoutMs = 10000) {
    process_ = StartProgram("\"" + WinePath(exe) + "\" 300", &pid_);
    if (!process_) return false;
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (!(window_ = FindClientWindow(pid_))) {
      if (GetTickCount64() >= end) return false;
      Sleep(10);
    }
    return true;
  }

  void TakeForeground() { Command(1); }

  void Stop() {
    if (!process_) return;
    Command(2);
    if (WaitForSingleObject(process_, 5000) != WAIT_OBJECT_0) TerminateProcess(process_, 1);
    CloseHandle(process_);
    process_ = nullptr;
  }

  DWORD pid() const { return pid_; }
  HWND window() const { return window_; }

  // The notices this process has written so far.
  std::vector<ClientNotice> Notices(const DebugMonitor& monitor) const {
    std::vector<ClientNotice> notices;
    for (const std::string& text : monitor.TextsFrom(pid_)) {
      unsigned long w = 0, l = 0;
      double us = 0;
      if (sscanf(text.c_str(), "[KestrinTestClient] notice wParam=0x%lx lParam=0x%lx us=%lf", &w,
                 &l, &us) == 3)
        notices.push_back({static_cast<uint32_t>(w), static_cast<uint32_t>(l), us});
    }
    return notices;
  }

  // The DeviceStateNotice codes' low words, in arrival order.
  std::vector<ClientNotice> StateNotices(const DebugMonitor& monitor) const {
    std::vector<ClientNotice> states;
    for (const ClientNotice& n : Notices(monitor))
      if (kestrin::manager::NoticeCode(n.wParam) == kestrin::manager::DeviceStateNotice)
        states.push_back(n);
    return states;
  }

  bool SawForeground(const DebugMonitor& monitor) const {
    for (const std::string& text : monitor.TextsFrom(pid_))
      if (text.find("[KestrinTestClient] foreground 1") == 0) return true;
    return false;
  }

 private:
  static HWND FindClientWindow(DWORD pid) {
    HWND window = nullptr;
    while ((window = FindWindowExA(HWND_MESSAGE, window, kestrin::manager::kClientClass,
                                   kestrin::manager::kClientTitle)) != nullptr) {
      DWORD owner = 0;
      GetWindowThreadProcessId(window, &owner);
      if (owner == pid) return window;
    }
    return nullptr;
  }

  void Command(WPARAM command) {
    if (window_)
      PostMessageA(window_, RegisterWindowMessageA("KestrinTestClientCommand"), command, 0);
  }

  HANDLE process_ = nullptr;
  DWORD pid_ = 0;
  HWND window_ = nullptr;
};
