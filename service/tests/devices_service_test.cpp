// KestrinSvcSim.exe installed and started through the service control
// manager, this test process playing the device simulator, and a separate
// reader process (KestrinMotionPeek) reading record 1 of the section: the
// whole road of a report from the device to a reader.
#include <windows.h>
#include <stdio.h>
#include <string.h>

#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "motion_stages.h"
#include "process_runner.h"
#include "report_motion.h"
#include "report_bytes.h"
#include "simulated_service.h"

namespace {


// What the reader printed: "ball COUNT MOVING v0..v5 s0..s5 scroll COUNT MOVING x y sx sy".
struct Seen {
  bool ok = false;
  unsigned ballCount = 0, ballMoving = 0, scrollCount = 0, scrollMoving = 0;
  long ballValues[6] = {}, ballSums[6] = {}, scrollValues[2] = {}, scrollSums[2] = {};
};

Seen Peek() {
  Seen seen;
  RunResult run = RunProgram("\"" + WinePath(KESTRIN_PEEK_EXE) + "\" 0", 20000);
  std::istringstream in(run.output);
  std::string word;
  if (!(in >> word) || word != "ball") return seen;
  in >> seen.ballCount >> seen.ballMoving;
  for (long& v : seen.ballValues) in >> v;
  for (long& v : seen.ballSums) in >> v;
  in >> word >> seen.scrollCount >> seen.scrollMoving;
  for (long& v : seen.scrollValues) in >> v;
  for (long& v : seen.scrollSums) in >> v;
  seen.ok = word == "scroll" && !in.fail();
  return seen;
}

// Reads until the ball count reaches count (the service works on its own time).
Seen PeekUntil(unsigned ballCount, unsigned scrollCount) {
  Seen seen;
  for (int i = 0; i < 50; ++i) {
    seen = Peek();
    if (seen.ok && seen.ballCount >= ballCount && seen.scrollCount >= scrollCount) break;
    Sleep(100);
  }
  return seen;
}

using DevicesServiceTest = SimulatedServiceTest;  // the default device: 16-character serial

TEST_F(DevicesServiceTest, ReaderProcessSeesExactlyWhatTheMotionChainGives) {
  const int pushes[][6] = {{0, 0, 200, 0, 0, 0}, {40, -40, 160, 10, 0, -10},
                           {-120, 0, 0, 60, 60, 60}, {0, 300, 0, 0, -50, 0}};
  // The service's chain for a fresh slot: default gains, rest zone 75 (a
  // 16-character serial without a stored setting), vertical axis 0.
  int16_t gains[4];
  GainsFromSettings(gains, kDefaultSpeedSettings);
  float state[3] = {};
  int32_t sums[6] = {};
  int16_t last[6] = {};
  std::vector<uint8_t> read;
  for (const auto& p : pushes) {
    auto report = BallReport(p);
    ProcessBallReport(last, report.data() + 1, state, 75, gains, 0);
    for (int i = 0; i < 6; ++i) sums[i] += last[i];
    read.insert(read.end(), report.begin(), report.end());
    if (read.size() >= 18) {  // two reports a read
      ASSERT_TRUE(SendReport(ball_, read));
      read.clear();
    }
  }
  int16_t scroll[2] = {};
  auto hat = ScrollReport(250, -100, 0);
  ProcessScrollReport(scroll, hat.data() + 1, 75, gains);
  ASSERT_TRUE(SendReport(ball_ + 1, hat));

  Seen seen = PeekUntil(4, 1);
  ASSERT_TRUE(seen.ok);
  EXPECT_EQ(4u, seen.ballCount);
  EXPECT_EQ(1u, seen.ballMoving);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(last[i], seen.ballValues[i]) << "axis " << i;
    EXPECT_EQ(sums[i], seen.ballSums[i]) << "axis " << i;
  }
  EXPECT_EQ(1u, seen.scrollCount);
  EXPECT_EQ(scroll[0], seen.scrollValues[0]);
  EXPECT_EQ(scroll[1], seen.scrollValues[1]);

  // Let go: one zero report counts, the moving bit clears, sums stay.
  ASSERT_TRUE(SendReport(ball_, std::vector<uint8_t>(9, 0)));
  seen = PeekUntil(5, 1);
  EXPECT_EQ(5u, seen.ballCount);
  EXPECT_EQ(0u, seen.ballMoving);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(sums[i], seen.ballSums[i]) << "axis " << i;
}

TEST_F(DevicesServiceTest, UnplugAndReplugContinueTheSameRecord) {
  const int push[6] = {0, 0, 200, 0, 0, 0};
  ASSERT_TRUE(SendReport(ball_, BallReport(push)));
  Seen before = PeekUntil(1, 0);
  ASSERT_EQ(1u, before.ballCount);

  SimUnplug(ball_);
  SimUnplug(ball_ + 1);
  // Removal zeroes the values and keeps count and sums.
  Seen gone;
  for (int i = 0; i < 50; ++i) {
    gone = Peek();
    if (gone.ok && gone.ballValues[2] == 0) break;
    Sleep(100);
  }
  EXPECT_EQ(0, gone.ballValues[2]);
  EXPECT_EQ(before.ballSums[2], gone.ballSums[2]);

  // Hot plug: the arrival notice pairs both interfaces again.
  ASSERT_TRUE(HotPlug(ball_));
  ASSERT_TRUE(WaitForDeviceOpen(ball_));
  ASSERT_TRUE(SendReport(ball_, BallReport(push)));
  Seen again = PeekUntil(2, 0);
  EXPECT_EQ(2u, again.ballCount);
  EXPECT_EQ(before.ballSums[2] * 2, again.ballSums[2]);
}

TEST_F(DevicesServiceTest, HotPluggedFirmware0x201GetsItsRestZoneBroughtTo75) {
  struct Case {
    const char* name;
    uint32_t busyReplies;  // replies with 0xFF in byte 1, refused for the query
    uint8_t deviceRestZone;
  } cases[] = {
      {"a device at 40", 0, 40},
      {"a device whose first replies are refused", 3, 40},
  };
  uint32_t instance = 0x201;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int ball = SimAddDevice(L"KS00000000000201", 0x201, instance++);
    ASSERT_GE(ball, 0);
    SimFirmwareInit(SimFirmwareOf(ball), 0x201, c.deviceRestZone);
    SimFirmwareOf(ball)->m_BusyReplies = c.busyReplies;
    ASSERT_TRUE(HotPlug(ball));
    ASSERT_TRUE(WaitForDeviceOpen(ball));
    // The open queries the device's rest zone and, unless it is 75, sets it.
    SimFirmware* firmware = SimFirmwareOf(ball);
    for (int i = 0; i < 100 && firmware->m_RestZone != 75; ++i) Sleep(50);
    EXPECT_EQ(75, firmware->m_RestZone);
    // One query per refused reply and the accepted one, then the set.
    ASSERT_EQ(c.busyReplies + 2, firmware->m_CommandCount);
    for (uint32_t i = 0; i <= c.busyReplies; ++i) EXPECT_EQ(0x70, firmware->m_Commands[i]);
    EXPECT_EQ(0x43, firmware->m_Commands[c.busyReplies + 1]);
    SimUnplug(ball);
    SimUnplug(ball + 1);
    Sleep(200);
  }
}

TEST_F(DevicesServiceTest, ServiceOutlivesASimulatorThatDies) {
  SimStop();
  Sleep(500);
  ServiceQuery query = QueryKestrinService();
  EXPECT_TRUE(query.installed);
  EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), query.status.dwCurrentState);
  ASSERT_TRUE(SimStart());
  ball_ = SimAddDevice(L"KS00000000000077", 0x200, 0x77);
  ASSERT_TRUE(HotPlug(ball_));
  EXPECT_TRUE(WaitForDeviceOpen(ball_));
}

}  // namespace
