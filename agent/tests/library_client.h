// A KestrinLibraryClient.exe process driven by a test: started, given its
// commands one at a time (each waited for), and read through the lines it
// writes to the debugger output (library_client_main.cpp).
#pragma once
#include <windows.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "dbwin_monitor.h"
#include "message_windows.h"
#include "process_runner.h"

struct LibraryEvent {
  unsigned event;  // Kestrin1::EClientEvent
  long param;
  double us;  // performance counter when the callback ran, microseconds
};

// The performance counter now, in microseconds (the clients' "us=").
inline double MicrosecondsNow() {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart) * 1e6 / static_cast<double>(frequency.QuadPart);
}

class LibraryClient {
 public:
  enum Command : WPARAM { Build = 1, Destroy = 2, RegisterFor = 3, TakeFront = 4, Quit = 5 };

  explicit LibraryClient(DebugMonitor& monitor) : monitor_(monitor) {}
  ~LibraryClient() { Stop(); }
  LibraryClient(const LibraryClient&) = delete;
  LibraryClient& operator=(const LibraryClient&) = delete;

  // Starts exe (Unix or Windows path) and waits for its command window.
  bool Start(const std::string& exe, DWORD timeoutMs = 10000) {
    process_ = StartProgram("\"" + WinePath(exe) + "\" 300", &pid_);
    if (!process_) return false;
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (!(commands_ = FindCommandWindow(pid_))) {
      if (GetTickCount64() >= end) return false;
      Sleep(10);
    }
    return true;
  }

  // Runs a command and waits until it has run; its result, or -1 when it
  // did not end within timeoutMs.
  long Run(Command command, LPARAM argument = 0, DWORD timeoutMs = 10000) {
    const size_t before = Done().size();
    PostMessageA(commands_, RegisterWindowMessageA("KestrinLibraryClientCommand"), command,
                 argument);
    if (!WaitForDone(before + 1, timeoutMs)) return -1;
    return Done()[before];
  }

  // The events its callback heard, in order.
  std::vector<LibraryEvent> Events() const {
    std::vector<LibraryEvent> events;
    for (const std::string& text : monitor_.TextsFrom(pid_)) {
      LibraryEvent e = {};
      if (sscanf(text.c_str(), "[KestrinLibraryClient] event %u %ld us=%lf", &e.event, &e.param,
                 &e.us) == 3)
        events.push_back(e);
    }
    return events;
  }

  // The window it showed in front (TakeFront), or null.
  HWND FrontWindow() const {
    for (const std::string& text : monitor_.TextsFrom(pid_)) {
      long window = 0, unused = 0;
      if (sscanf(text.c_str(), "[KestrinLibraryClient] front %ld %ld", &window, &unused) == 2)
        return reinterpret_cast<HWND>(static_cast<LONG_PTR>(window));
    }
    return nullptr;
  }

  void Stop() {
    if (!process_) return;
    PostMessageA(commands_, RegisterWindowMessageA("KestrinLibraryClientCommand"), Quit, 0);
    if (WaitForSingleObject(process_, 5000) != WAIT_OBJECT_0) TerminateProcess(process_, 1);
    CloseHandle(process_);
    process_ = nullptr;
  }

  DWORD pid() const { return pid_; }

 private:
  static HWND FindCommandWindow(DWORD pid) {
    HWND found = nullptr;
    kestrin::manager::ForEachMessageWindow("KestrinLibraryClientCommands", nullptr, [&](HWND window) {
      DWORD owner = 0;
      GetWindowThreadProcessId(window, &owner);
      if (owner == pid) found = window;
      return found == nullptr;
    });
    return found;
  }

  // The results of the commands it has finished, in order.
  std::vector<long> Done() const {
    std::vector<long> results;
    for (const std::string& text : monitor_.TextsFrom(pid_)) {
      long command = 0, result = 0;
      if (sscanf(text.c_str(), "[KestrinLibraryClient] done %ld %ld", &command, &result) == 2)
        results.push_back(result);
    }
    return results;
  }

  bool WaitForDone(size_t count, DWORD timeoutMs) {
    const DWORD pid = pid_;
    return monitor_.WaitFor(
        [&](const std::vector<DebugLine>& lines) {
          size_t done = 0;
          for (const DebugLine& line : lines)
            if (line.pid == pid && line.text.rfind("[KestrinLibraryClient] done ", 0) == 0) ++done;
          return done >= count;
        },
        timeoutMs);
  }

  DebugMonitor& monitor_;
  HANDLE process_ = nullptr;
  DWORD pid_ = 0;
  HWND commands_ = nullptr;
};
