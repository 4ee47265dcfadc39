// A navigation host of KestrinZel2 that records every call the library makes
// on it: which operation, on which thread, with a copy of what it was given.
// Idle notices are counted; each timer expiry keeps its thread and runs
// onTimer, when set, inside OnTimer. QuerySettings is answered from the
// host's own settings record: by handing out that record, by copying it into
// the library's area, or with null (a host built without settings).
// No windows.h: the navigation tests run in every tree.
#pragma once

#include <cstring>
#include <thread>
#include <vector>

#include "kestrin_zel2_host.h"
#include "kestrin_zel2_nav.h"

class RecordingNavigationHost : public INavigationHost {
 public:
  enum Call { kApplyView, kQuerySettings, kPivotChanged, kOther };
  enum Answer { kOwnRecord, kFillArea, kNull };

  struct PivotBytes {
    unsigned char bytes[32];
  };

  RecordingNavigationHost() : settings(), answer(kNull) {}
  explicit RecordingNavigationHost(const NavSettings& settings, Answer answer = kOwnRecord)
      : settings(settings), answer(answer) {}

  NavSettings settings;  // the host's own record
  Answer answer;

  std::vector<Call> calls;
  std::vector<std::thread::id> threads;
  std::vector<NavView> views;        // what ApplyView received
  std::vector<PivotBytes> pivots;    // what PivotChanged received
  std::vector<void*> areas;          // the areas QuerySettings was offered
  int idles = 0;                     // OnIdle calls
  std::vector<std::thread::id> timerThreads;  // the thread of each OnTimer
  void (*onTimer)(RecordingNavigationHost*) = nullptr;  // run inside OnTimer
  void* context = nullptr;                              // for onTimer

  long KESTRIN_ZEL2_CALL Reserved0() override { return Record(kOther); }
  long KESTRIN_ZEL2_CALL ApplyView(NavView* view) override {
    views.push_back(*view);
    return Record(kApplyView);
  }
  NavSettings* KESTRIN_ZEL2_CALL QuerySettings(void* area) override {
    Record(kQuerySettings);
    areas.push_back(area);
    switch (answer) {
      case kOwnRecord:
        return &settings;
      case kFillArea:
        // The whole 72 bytes: an area any smaller would be overrun here.
        std::memcpy(area, &settings, sizeof settings);
        return static_cast<NavSettings*>(area);
      default:
        return nullptr;
    }
  }
  long KESTRIN_ZEL2_CALL PivotChanged(double* pivotAndDepth) override {
    PivotBytes p;
    std::memcpy(p.bytes, pivotAndDepth, sizeof p.bytes);
    pivots.push_back(p);
    return Record(kPivotChanged);
  }
  long KESTRIN_ZEL2_CALL Reserved4() override { return Record(kOther); }
  long KESTRIN_ZEL2_CALL OnIdle() override {
    ++idles;
    return Record(kOther);
  }
  long KESTRIN_ZEL2_CALL Reserved6() override { return Record(kOther); }
  // Everything is written down before onTimer runs: onTimer may end the
  // handle, and a host may go right after that.
  long KESTRIN_ZEL2_CALL OnTimer() override {
    Record(kOther);
    timerThreads.push_back(std::this_thread::get_id());
    if (onTimer) onTimer(this);
    return 0;
  }

  void Clear() {
    calls.clear();
    threads.clear();
    views.clear();
    pivots.clear();
    areas.clear();
    idles = 0;
    timerThreads.clear();
  }

 private:
  long Record(Call call) {
    calls.push_back(call);
    threads.push_back(std::this_thread::get_id());
    return 0;
  }
};
