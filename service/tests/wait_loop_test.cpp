// The wait loop in this process: the other parts' entries come from a table of
// this test's own (the loop's seam), the events are real.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "dbwin_monitor.h"
#include "debug_lines.h"
#include "reporting.h"
#include "service_private.h"
#include "wait_loop.h"

namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

struct Source {
  HANDLE handle;
  WaitCallback callback;
  uint16_t argument;
};

// What the fake parts hold and what happened, in order.
std::vector<Source> g_PipeSources;
std::vector<Source> g_DeviceSources;
std::vector<std::string> g_Log;
int g_Builds;
int g_Pauses;
int g_PausesBeforeStop;
void (*g_OnArrivals)();

void AddSources(const std::vector<Source>& sources) {
  for (const Source& s : sources) AddWaitItem(s.handle, s.callback, s.argument);
}
void FakePipeItems() {
  ++g_Builds;
  AddSources(g_PipeSources);
}
void FakeDeviceItems() { AddSources(g_DeviceSources); }
void FakePublish() { g_Log.push_back("publish"); }
void FakeArrivals() {
  g_Log.push_back("arrivals");
  if (g_OnArrivals) g_OnArrivals();
}
void FakePause() {
  if (++g_Pauses >= g_PausesBeforeStop) StopFlag = 1;
}

void Record(uint16_t argument) { g_Log.push_back("entry " + std::to_string(argument)); }
// Ends the loop: the stop flag, then the wake event, as the control handler does.
void Stop() {
  StopFlag = 1;
  SetEvent(WakeEvent);
}
void RecordAndStop(uint16_t argument) {
  Record(argument);
  Stop();
}

HANDLE NewEvent(BOOL signalled = FALSE) { return CreateEventA(nullptr, TRUE, signalled, nullptr); }

class WaitLoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProgramName("KestrinSvc");
    saved_ = WaitLoopParts;
    WaitLoopParts = {FakePipeItems, FakeDeviceItems, FakePublish, FakeArrivals, FakePause};
    g_PipeSources.clear();
    g_DeviceSources.clear();
    g_Log.clear();
    g_Builds = 0;
    g_Pauses = 0;
    g_PausesBeforeStop = 1000;
    g_OnArrivals = nullptr;
    StopFlag = 0;
    PublishPending = 0;
    WakeEvent = NewEvent(TRUE);  // as the service creates it
    ASSERT_TRUE(WakeEvent);
    ASSERT_TRUE(monitor_.Start());
  }
  void TearDown() override {
    monitor_.Stop();
    FreeWaitList();
    for (HANDLE h : handles_) CloseHandle(h);
    CloseHandle(WakeEvent);
    WakeEvent = nullptr;
    StopFlag = 0;
    WaitLoopParts = saved_;
  }
  // count sources of this callback, argument = position, each with a fresh event.
  std::vector<Source> Sources(int count, WaitCallback callback, uint16_t firstArgument = 0) {
    std::vector<Source> sources;
    for (int i = 0; i < count; ++i) {
      HANDLE event = NewEvent();
      handles_.push_back(event);
      sources.push_back({event, callback, static_cast<uint16_t>(firstArgument + i)});
    }
    return sources;
  }
  std::vector<std::string> Lines() { return DebugLinesOf(monitor_, GetCurrentProcessId()); }

  WaitLoopCalls saved_;
  DebugMonitor monitor_;
  std::vector<HANDLE> handles_;
};

// ---- building the list ----

struct BuildCase {
  const char* name;
  int pipeEntries;
  int deviceEntries;
  uint16_t count;
  uint16_t capacity;
};
// Test names show the case, not its bytes.
void PrintTo(const BuildCase& c, std::ostream* out) { *out << c.name; }

class WaitListBuildTest : public WaitLoopTest, public ::testing::WithParamInterface<BuildCase> {};

TEST_P(WaitListBuildTest, WakeEventThenPipeThenDevicesInTheirOrder) {
  const BuildCase& c = GetParam();
  g_PipeSources = Sources(c.pipeEntries, Record, 100);
  g_DeviceSources = Sources(c.deviceEntries, Record, 200);
  BuildWaitList();

  const WaitList& list = ServiceWaitList;
  ASSERT_EQ(list.m_Count, c.count);
  EXPECT_EQ(list.m_Capacity, c.capacity);
  EXPECT_EQ(list.m_Handles[0], WakeEvent);
  EXPECT_EQ(list.m_Entries[0].m_Callback, OnWakeEvent);
  EXPECT_EQ(list.m_Entries[0].m_Argument, 0);
  std::vector<Source> expected = g_PipeSources;
  expected.insert(expected.end(), g_DeviceSources.begin(), g_DeviceSources.end());
  expected.resize(c.count - 1);  // what does not fit is left out from the end
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(list.m_Handles[i + 1], expected[i].handle) << "entry " << i + 1;
    EXPECT_EQ(list.m_Entries[i + 1].m_Argument, expected[i].argument) << "entry " << i + 1;
  }
  // The room left is what this build holds; asking changes nothing.
  EXPECT_EQ(WaitEntriesFree(), kMaxWaitEntries - c.count);
  EXPECT_EQ(list.m_Count, c.count);
  EXPECT_EQ(list.m_Handles[0], WakeEvent);

  // A list that had to leave entries out says so once per build.
  std::vector<std::string> lines = Lines();
  if (c.pipeEntries + c.deviceEntries + 1 > kMaxWaitEntries) {
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(StartsWith(lines[0], "[KestrinSvc] 48() failed - ")) << lines[0];
  } else {
    EXPECT_THAT(lines, ElementsAre());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WaitListBuildTest,
    ::testing::Values(
        BuildCase{"WakeEventOnly", 0, 0, 1, 20},
        // The listening pipe instance alone.
        BuildCase{"ListeningInstance", 1, 0, 2, 20},
        // Listening instance, one client's read and write events, one device.
        BuildCase{"ClientAndDevice", 3, 2, 6, 20},
        BuildCase{"TwentyEntriesNoGrowth", 19, 0, 20, 20},
        BuildCase{"EntryTwentyOneGrows", 10, 10, 21, 40},
        BuildCase{"ExactlyFull", 31, 32, 64, 80},
        BuildCase{"MoreThanFitLeavesOutTheLast", 40, 40, 64, 80}),
    [](const ::testing::TestParamInfo<BuildCase>& info) { return std::string(info.param.name); });

TEST_F(WaitLoopTest, GrowthAddsTwentyAndRebuildsKeepTheArrays) {
  EXPECT_EQ(GrowWaitList(), 1);
  EXPECT_EQ(ServiceWaitList.m_Capacity, 20);
  EXPECT_EQ(GrowWaitList(), 1);
  EXPECT_EQ(ServiceWaitList.m_Capacity, 40);

  g_PipeSources = Sources(5, Record);
  BuildWaitList();
  MarkWaitListForRebuild();
  BuildWaitList();
  EXPECT_EQ(ServiceWaitList.m_Count, 6);
  EXPECT_EQ(ServiceWaitList.m_Capacity, 40);

  FreeWaitList();
  EXPECT_EQ(ServiceWaitList.m_Capacity, 0);
  EXPECT_EQ(ServiceWaitList.m_Count, 0);
  EXPECT_EQ(ServiceWaitList.m_Handles, nullptr);
  EXPECT_EQ(ServiceWaitList.m_Entries, nullptr);
}

TEST_F(WaitLoopTest, RoomCountsWhatTheNextBuildWouldHold) {
  EXPECT_EQ(WaitEntriesFree(), 63);  // the wake event
  g_PipeSources = Sources(3, Record);
  EXPECT_EQ(WaitEntriesFree(), 60);  // not built yet: counted from the parts
  g_DeviceSources = Sources(70, Record);
  EXPECT_EQ(WaitEntriesFree(), 0);
  EXPECT_EQ(ServiceWaitList.m_Count, 0);  // counting builds nothing
}

// ---- running the loop ----

TEST_F(WaitLoopTest, FirstPassWakesProcessesArrivalsAndRebuilds) {
  g_PipeSources = Sources(1, RecordAndStop, 7);
  static HANDLE pipeEvent;
  pipeEvent = g_PipeSources[0].handle;
  g_OnArrivals = [] { SetEvent(pipeEvent); };
  RunServiceLoop();
  EXPECT_THAT(g_Log, ElementsAre("arrivals", "entry 7"));
  EXPECT_EQ(g_Builds, 2);  // the first pass and the rebuild after the wake event
  EXPECT_THAT(Lines(), ElementsAre());
}

TEST_F(WaitLoopTest, FullListIsWaitedOnWithoutFailing) {
  g_PipeSources = Sources(40, Record);
  g_DeviceSources = Sources(40, Record, 100);
  g_PipeSources[39].callback = RecordAndStop;  // entry 40, inside the list
  static HANDLE lastPipeEvent;
  lastPipeEvent = g_PipeSources[39].handle;
  g_OnArrivals = [] { SetEvent(lastPipeEvent); };
  RunServiceLoop();
  EXPECT_THAT(g_Log, ElementsAre("arrivals", "entry 39"));
  // One report per build for the entries left out, and no failed wait.
  std::vector<std::string> lines = Lines();
  EXPECT_EQ(lines.size(), static_cast<size_t>(g_Builds));
  for (const std::string& line : lines) {
    EXPECT_EQ(line, lines[0]);
    EXPECT_TRUE(StartsWith(line, "[KestrinSvc] 48() failed - ")) << line;
  }
}

// A callback that closes its own handle marks the list; the next wait must
// not see the closed handle (waiting on it would fail).
HANDLE g_Closing;
HANDLE g_Survivor;
void CloseOwnHandle(uint16_t argument) {
  Record(argument);
  CloseHandle(g_Closing);
  g_PipeSources.erase(g_PipeSources.begin());
  MarkWaitListForRebuild();
  SetEvent(g_Survivor);
}

TEST_F(WaitLoopTest, ClosedHandleIsRebuiltAwayBeforeTheNextWait) {
  g_Closing = NewEvent();
  g_Survivor = NewEvent();
  handles_.push_back(g_Survivor);
  g_PipeSources = {{g_Closing, CloseOwnHandle, 1}, {g_Survivor, RecordAndStop, 2}};
  g_OnArrivals = [] { SetEvent(g_Closing); };
  RunServiceLoop();
  EXPECT_THAT(g_Log, ElementsAre("arrivals", "entry 1", "entry 2"));
  EXPECT_EQ(g_Builds, 3);
  EXPECT_EQ(ServiceWaitList.m_Count, 2);  // wake event and the survivor
  EXPECT_THAT(Lines(), ElementsAre());
}

// The event is reset before its callback runs, so a completion that signals it
// again during the callback is seen by the next wait.
HANDLE g_Again;
int g_AgainCalls;
void SignalAgainOnce(uint16_t argument) {
  Record(argument);
  g_Log.push_back(WaitForSingleObject(g_Again, 0) == WAIT_TIMEOUT ? "reset" : "still signalled");
  if (++g_AgainCalls == 1)
    SetEvent(g_Again);
  else
    Stop();
}

TEST_F(WaitLoopTest, EventSignalledDuringItsCallbackIsNotLost) {
  g_AgainCalls = 0;
  g_PipeSources = Sources(1, SignalAgainOnce, 3);
  g_Again = g_PipeSources[0].handle;
  g_OnArrivals = [] { SetEvent(g_Again); };
  RunServiceLoop();
  EXPECT_THAT(g_Log, ElementsAre("arrivals", "entry 3", "reset", "entry 3", "reset"));
}

// PublishPending set (even twice) during a pass: one publish at the start of
// the next pass, before its wait.
HANDLE g_Next;
void SetPublishPending(uint16_t argument) {
  Record(argument);
  PublishPending = 1;
  PublishPending = 1;
  SetEvent(g_Next);
}

TEST_F(WaitLoopTest, PublishPendingGivesOnePublishBeforeTheNextWait) {
  g_PipeSources = Sources(2, SetPublishPending, 1);
  g_PipeSources[1].callback = RecordAndStop;
  g_Next = g_PipeSources[1].handle;
  static HANDLE first;
  first = g_PipeSources[0].handle;
  g_OnArrivals = [] { SetEvent(first); };
  RunServiceLoop();
  EXPECT_THAT(g_Log, ElementsAre("arrivals", "entry 1", "publish", "entry 2"));
  EXPECT_EQ(PublishPending, 0u);
}

// A wait that keeps failing (here: a listed handle that is no handle, as a
// closed one would be; a closed one's value may be handed out again) is
// reported and rebuilt each time; from the second failure in a row each retry
// pauses first, and the stop flag still ends the loop.
TEST_F(WaitLoopTest, PersistentWaitFailurePausesBetweenRetriesAndStops) {
  HANDLE noHandle = reinterpret_cast<HANDLE>(0x00FFFFF0);
  g_PipeSources = {{noHandle, Record, 1}};
  g_PausesBeforeStop = 3;
  RunServiceLoop();
  EXPECT_EQ(g_Pauses, 3);
  EXPECT_EQ(g_Builds, 5);  // every failed pass rebuilds
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 4u);  // the fifth failure comes with the stop flag set
  for (const std::string& line : lines)
    EXPECT_TRUE(StartsWith(line, "[KestrinSvc] 48() failed - ")) << line;
  EXPECT_THAT(g_Log, ElementsAre());
}

TEST_F(WaitLoopTest, PauseAfterFailedWaitEndsAtOnceWhenStopping) {
  StopFlag = 1;
  const ULONGLONG start = GetTickCount64();
  saved_.pauseAfterFailedWait();  // the loop's own pause
  EXPECT_LT(GetTickCount64() - start, 500u);
}

DWORD WINAPI TakeAndAbandon(void* mutex) {
  return WaitForSingleObject(static_cast<HANDLE>(mutex), INFINITE);
}

// A wait result that names no entry (here an abandoned mutex: 0x80 + index)
// gives message 103 and the loop goes on; the mutex, now ours, is then
// signalled normally, its reset fails (a mutex is no event) and is reported,
// and the callback still runs.
TEST_F(WaitLoopTest, UnexpectedResultAndFailedResetAreReportedAndTheLoopGoesOn) {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
  ASSERT_TRUE(mutex);
  handles_.push_back(mutex);
  HANDLE owner = CreateThread(nullptr, 0, TakeAndAbandon, mutex, 0, nullptr);
  ASSERT_TRUE(owner);
  WaitForSingleObject(owner, INFINITE);  // ends owning it: abandoned
  CloseHandle(owner);
  g_PipeSources = {{mutex, RecordAndStop, 9}};

  RunServiceLoop();
  EXPECT_THAT(g_Log, ElementsAre("arrivals", "entry 9"));
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "[KestrinSvc] Bad wait return value: 129");
  EXPECT_TRUE(StartsWith(lines[1], "[KestrinSvc] 41() failed - ")) << lines[1];
  ReleaseMutex(mutex);
}

}  // namespace
