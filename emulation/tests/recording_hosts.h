// Hosts for the tests of KestrinZel2 that write down what the library calls
// on them: the device host here, the navigation host from testing/. No
// windows.h.
#pragma once
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "kestrin_zel2_host.h"
#include "kestrin_zel2_nav.h"
#include "recording_navigation_host.h"

// Each call as a line: "open 1", "ready 0", "active 1", "buttons 5 3",
// "started"; and the thread of each.
class RecordingDeviceHost : public IDeviceHost {
 public:
  long KESTRIN_ZEL2_CALL OnDeviceOpen(int open) override { return Log("open " + S(open)); }
  long KESTRIN_ZEL2_CALL OnDeviceReady(int ready) override { return Log("ready " + S(ready)); }
  long KESTRIN_ZEL2_CALL OnActive(int active) override {
    Log("active " + S(active));
    if (onActive) onActive();
    return 0;
  }
  long KESTRIN_ZEL2_CALL OnButtonsChanged(unsigned int buttons, unsigned int changed) override {
    return Log("buttons " + S(buttons) + " " + S(changed));
  }
  long KESTRIN_ZEL2_CALL OnMotionStarted() override { return Log("started"); }

  bool Heard(const std::string& call) const {
    for (const std::string& c : calls)
      if (c == call) return true;
    return false;
  }

  std::vector<std::string> calls;
  std::vector<std::thread::id> threads;
  std::function<void()> onActive;  // run inside OnActive

 private:
  static std::string S(unsigned long v) { return std::to_string(v); }
  long Log(const std::string& call) {
    calls.push_back(call);
    threads.push_back(std::this_thread::get_id());
    return 0;
  }
};
