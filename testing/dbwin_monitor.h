// DebugMonitor: receives the debugger output (OutputDebugStringA) of every
// program and service in this Wine prefix, this process included, on a thread
// of its own. It owns the shared objects writers look for: the mapping
// "DBWIN_BUFFER" (4096 bytes: the writer's process id, then the text) and the
// auto-reset events "DBWIN_BUFFER_READY" and "DBWIN_DATA_READY". Only one
// monitor can own them per wineserver (per Windows session).
//
// Lines are kept in arrival order, one entry per OutputDebugStringA call with
// the text exactly as sent (at most 4091 characters; writers cut longer ones).
// The monitor thread never writes debug output itself.
#pragma once
#include <windows.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct DebugLine {
  DWORD pid;
  std::string text;
};

class DebugMonitor {
 public:
  DebugMonitor() = default;
  DebugMonitor(const DebugMonitor&) = delete;
  DebugMonitor& operator=(const DebugMonitor&) = delete;
  ~DebugMonitor();

  // Creates the shared objects and starts receiving. False (with a message
  // on stderr) when another monitor owns the names or a call fails; true when
  // already running.
  bool Start();
  // Stops receiving after taking the lines writers are already waiting to
  // hand over; the lines received stay readable. Safe to call twice.
  void Stop();

  std::vector<DebugLine> Lines() const;
  // Texts of the lines from one process, in arrival order.
  std::vector<std::string> TextsFrom(DWORD pid) const;
  std::vector<std::string> Texts() const;
  // Waits until done(all lines received since Start or Clear) is true, or the
  // timeout passes; returns the last result of done. done runs under the
  // monitor's lock: it must not call the monitor.
  bool WaitFor(const std::function<bool(const std::vector<DebugLine>&)>& done, DWORD timeoutMs);
  // True once any line received (from any process) contains substring.
  bool WaitForText(const std::string& substring, DWORD timeoutMs);
  // Forgets the lines received so far.
  void Clear();

 private:
  void Receive();
  bool TakeLine(DWORD waitMs);
  void CloseObjects();

  HANDLE mapping_ = nullptr;
  const char* view_ = nullptr;
  HANDLE bufferReady_ = nullptr;
  HANDLE dataReady_ = nullptr;
  HANDLE stop_ = nullptr;
  std::thread thread_;

  mutable std::mutex lock_;
  std::condition_variable arrived_;
  std::vector<DebugLine> lines_;
};
