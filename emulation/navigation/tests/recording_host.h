// A navigation host that records every call the library makes on it: which
// operation, on which thread, with a copy of what it was given. It answers
// QuerySettings from its own settings record, either by handing out that
// record, by copying it into the library's area, or with null.
#pragma once

#include <cstring>
#include <thread>
#include <vector>

#include "kestrin_zel2_host.h"
#include "kestrin_zel2_nav.h"

namespace navtest {

class RecordingHost : public INavigationHost {
 public:
  enum Call { kApplyView, kQuerySettings, kPivotChanged, kOther };
  enum Answer { kOwnRecord, kFillArea, kNull };

  struct PivotBytes {
    unsigned char bytes[32];
  };

  explicit RecordingHost(const NavSettings& settings, Answer answer = kOwnRecord)
      : settings(settings), answer(answer) {}

  NavSettings settings;  // the host's own record
  Answer answer;

  std::vector<Call> calls;
  std::vector<std::thread::id> threads;
  std::vector<NavView> views;        // what ApplyView received
  std::vector<PivotBytes> pivots;    // what PivotChanged received
  std::vector<void*> areas;          // the areas QuerySettings was offered

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
  long KESTRIN_ZEL2_CALL OnIdle() override { return Record(kOther); }
  long KESTRIN_ZEL2_CALL Reserved6() override { return Record(kOther); }
  long KESTRIN_ZEL2_CALL OnTimer() override { return Record(kOther); }

  void Clear() {
    calls.clear();
    threads.clear();
    views.clear();
    pivots.clear();
    areas.clear();
  }

 private:
  long Record(Call call) {
    calls.push_back(call);
    threads.push_back(std::this_thread::get_id());
    return 0;
  }
};

}  // namespace navtest
