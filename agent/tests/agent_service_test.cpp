// The whole road under Wine: KestrinSvcSim.exe on a simulated device, the
// installed agent (the 64-bit one where this is a 32-bit test and the machine
// runs both), two client processes speaking the window-message protocol, and
// a "properties" process posting settings.
#include <windows.h>
#include <stdlib.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "agent_install.h"
#include "client_process.h"
#include "manager_messages.h"
#include "motion_stages.h"
#include "pipe_protocol.h"
#include "report_bytes.h"
#include "report_motion.h"
#include "section_view.h"
#include "settings_registry.h"
#include "simulated_service.h"

namespace {

using namespace kestrin::manager;

constexpr DWORD kTimeoutMs = 10000;
constexpr uint16_t kOpen = StateDeviceAttached | StateDeviceEnabled;

template <typename Done>
bool WaitUntil(DWORD timeoutMs, Done done) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  for (;;) {
    if (done()) return true;
    if (GetTickCount64() >= end) return false;
    Sleep(20);
  }
}

// The agent to install: where this test is x86 and the machine runs both
// builds (test.sh names the other tree in KESTRIN_OTHER_BUILD), the x64
// build's, so that one 64-bit agent serves the 32-bit clients.
std::string AgentToInstall() {
#ifndef _WIN64
  const char* other = getenv("KESTRIN_OTHER_BUILD");
  const std::string own = KESTRIN_ELF_EXE, root = KESTRIN_BUILD_DIR;
  if (other && *other && own.compare(0, root.size(), root) == 0) {
    const std::string x64 = other + own.substr(root.size());
    if (GetFileAttributesA(WinePath(x64).c_str()) != INVALID_FILE_ATTRIBUTES) return x64;
  }
#endif
  return KESTRIN_ELF_EXE;
}

class AgentServiceTest : public SimulatedServiceTest {
 protected:
  explicit AgentServiceTest(SimulatedDevice device = kDefaultSimulatedDevice)
      : SimulatedServiceTest(device) {}

  static void SetUpTestSuite() {
    agent_ = AgentToInstall();
    printf("agent under test: %s\n", agent_.c_str());
    ASSERT_TRUE(InstallAgent(agent_));
  }

  void SetUp() override {
    DeleteSettingsKey();
    StoreUserSettings();
    SimulatedServiceTest::SetUp();
    if (HasFatalFailure()) return;
    agentPid_ = StartAgent();
    ASSERT_NE(agentPid_, 0u);
    section_ = std::make_unique<SectionView>();
    ASSERT_TRUE(section_->Open());
  }

  // What the user has stored under HKCU before the agent starts: nothing.
  virtual void StoreUserSettings() {}

  void TearDown() override {
    a_.Stop();
    b_.Stop();
    EXPECT_TRUE(StopAgent());
    SimulatedServiceTest::TearDown();
    DeleteSettingsKey();
  }

  void StartClients() {
    ASSERT_TRUE(a_.Start(KESTRIN_TEST_CLIENT_EXE));
    ASSERT_TRUE(b_.Start(KESTRIN_TEST_CLIENT_EXE));
  }

  void Focus(ClientProcess* client) {
    client->TakeForeground();
    ASSERT_TRUE(WaitUntil(kTimeoutMs, [&] { return client->SawForeground(monitor_); }))
        << "the client's window did not take the foreground";
  }

  bool Ball(int tz) {
    const int readings[6] = {0, 0, tz, 0, 0, 0};
    return SendReport(ball_, BallReport(readings));
  }

  // Waits for the state notices of client to reach count; its notices.
  std::vector<ClientNotice> StatesOf(const ClientProcess& client, size_t count) {
    WaitUntil(kTimeoutMs, [&] { return client.StateNotices(monitor_).size() >= count; });
    return client.StateNotices(monitor_);
  }

  bool PostSettings(const std::string& arguments) {
    RunResult run = RunProgram("\"" + WinePath(KESTRIN_SETTINGS_POSTER_EXE) + "\" " + arguments,
                               30000);
    return run.exitCode == 0;
  }

  // Record 1's settings words as the service last applied them.
  std::vector<uint16_t> SectionSettings() {
    const DeviceMotionRecord* r = section_->Record(1);
    return {r->m_LogFactors[0], r->m_LogFactors[1], r->m_LogFactors[2], r->m_LogFactors[3],
            r->m_Flags};
  }

  static std::string agent_;
  DWORD agentPid_ = 0;
  ClientProcess a_, b_;
  std::unique_ptr<SectionView> section_;
};

std::string AgentServiceTest::agent_;

uint16_t Low(const ClientNotice& n) { return NoticeLowWord(n.wParam); }

TEST_F(AgentServiceTest, StateGoesToTheForegroundClientOnlyAndFollowsTheSwitch) {
  // The agent sent the defaults at start-up: empty HKCU.
  ASSERT_TRUE(WaitUntil(kTimeoutMs, [&] {
    return SectionSettings() == std::vector<uint16_t>{0x8000, 0x8000, 0x8000, 0x8000, 0};
  }));
  StartClients();
  Focus(&a_);
  // A gains the focus: the device's current state.
  auto a = StatesOf(a_, 1);
  ASSERT_EQ(a.size(), 1u);
  EXPECT_EQ(a[0].wParam, NoticeWParam(1, kOpen | DeviceStateNotice));
  // The ball moves, then rests: only A hears it.
  ASSERT_TRUE(Ball(200));
  ASSERT_EQ(StatesOf(a_, 2).size(), 2u);
  EXPECT_EQ(Low(StatesOf(a_, 2)[1]),
            kOpen | StateBallActive | StateBallChanged | DeviceStateNotice);
  ASSERT_TRUE(Ball(0));
  ASSERT_EQ(StatesOf(a_, 3).size(), 3u);
  EXPECT_EQ(Low(StatesOf(a_, 3)[2]), kOpen | StateBallChanged | DeviceStateNotice);
  EXPECT_TRUE(b_.StateNotices(monitor_).empty());

  // B takes the foreground: A loses the device, B gets the current state.
  Focus(&b_);
  auto lost = StatesOf(a_, 4);
  ASSERT_EQ(lost.size(), 4u);
  EXPECT_EQ(Low(lost[3]), StateDeviceAttached | DeviceStateNotice);
  EXPECT_EQ(lost[3].lParam, 0u);
  auto b = StatesOf(b_, 1);
  ASSERT_EQ(b.size(), 1u);
  EXPECT_EQ(Low(b[0]), kOpen | DeviceStateNotice);
  ASSERT_TRUE(Ball(-150));
  EXPECT_EQ(StatesOf(b_, 2).size(), 2u);
  Sleep(200);
  EXPECT_EQ(a_.StateNotices(monitor_).size(), 4u);
}

TEST_F(AgentServiceTest, ASettingsRequestReachesTheServiceAndTheUsersHive) {
  ASSERT_TRUE(PostSettings("0x9000 0x8100 0x7F00 0x8800 1"));
  const std::vector<uint16_t> expected = {0x9000, 0x8100, 0x7F00, 0x8800, 1};
  ASSERT_TRUE(WaitUntil(kTimeoutMs, [&] { return SectionSettings() == expected; }));
  // The agent sends each setting on before it stores it: the section can
  // show it a moment before the hive does.
  StoredSettings s;
  ASSERT_TRUE(WaitUntil(kTimeoutMs, [&] {
    s = ReadStoredSettings();
    return s.haveFactors && s.haveFlags && s.flags == 1u;
  }));
  EXPECT_EQ(s.factorsType, static_cast<DWORD>(REG_QWORD));
  EXPECT_EQ(s.flagsType, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(std::vector<uint16_t>(s.factors, s.factors + 4),
            std::vector<uint16_t>(expected.begin(), expected.begin() + 4));
  EXPECT_EQ(s.flags, 1u);
}

TEST_F(AgentServiceTest, AfterAServiceRestartTheAgentReconnectsResendsTheSettingsAndStatesFlow) {
  StartClients();
  Focus(&a_);
  ASSERT_EQ(StatesOf(a_, 1).size(), 1u);
  ASSERT_TRUE(PostSettings("0x9100 0x8200 0x7E00 0x8900 1"));
  const std::vector<uint16_t> stored = {0x9100, 0x8200, 0x7E00, 0x8900, 1};
  ASSERT_TRUE(WaitUntil(kTimeoutMs, [&] { return SectionSettings() == stored; }));

  // No view may keep the section alive: the new service makes a new one.
  section_.reset();
  ASSERT_EQ(SendServiceControl(SERVICE_CONTROL_STOP), 0u);
  ASSERT_TRUE(WaitForServiceState(SERVICE_STOPPED, kTimeoutMs));
  ASSERT_TRUE(StartKestrinService());
  ASSERT_TRUE(WaitForServiceState(SERVICE_RUNNING, kTimeoutMs));
  ASSERT_TRUE(WaitForDeviceOpen(ball_));
  servicePid_ = QueryKestrinService().status.dwProcessId;
  // A new service starts from its defaults in a new section: what record 1
  // shows came from the agent.
  section_ = std::make_unique<SectionView>();
  ASSERT_TRUE(WaitUntil(kTimeoutMs, [&] { return section_->Open(); }));
  ASSERT_TRUE(WaitUntil(kTimeoutMs, [&] { return SectionSettings() == stored; }))
      << "the stored settings were not sent at reconnect";
  // And states flow again to the focused client.
  const size_t before = a_.StateNotices(monitor_).size();
  ASSERT_TRUE(Ball(250));
  EXPECT_TRUE(WaitUntil(kTimeoutMs, [&] {
    auto states = a_.StateNotices(monitor_);
    return states.size() > before && (Low(states.back()) & StateBallActive);
  }));
}

TEST_F(AgentServiceTest, AThousandSettingsRequestsEndWithTheLastValuesInServiceAndHive) {
  ASSERT_TRUE(PostSettings("0x9234 0x8765 0x7ABC 0x8DEF 0 1000"));
  const std::vector<uint16_t> expected = {0x9234, 0x8765, 0x7ABC, 0x8DEF, 0};
  ASSERT_TRUE(WaitUntil(30000, [&] {
    StoredSettings s = ReadStoredSettings();
    return s.haveFactors && s.factors[0] == 0x9234 && s.factors[3] == 0x8DEF;
  }));
  ASSERT_TRUE(WaitUntil(kTimeoutMs, [&] { return SectionSettings() == expected; }));
  Sleep(300);  // nothing older arrives after the last
  EXPECT_EQ(SectionSettings(), expected);
  StoredSettings s = ReadStoredSettings();
  EXPECT_EQ(std::vector<uint16_t>(s.factors, s.factors + 4),
            std::vector<uint16_t>(expected.begin(), expected.begin() + 4));
  EXPECT_EQ(s.flags, 0u);
  // The agent is still there and serves.
  EXPECT_EQ(RunningAgentProcess(), agentPid_);
}

// ---- the user's settings on every device the service opens ----

const uint16_t kUserFactors[4] = {0x1357, 0x2468, 0x9ABC, 0xDEF0};
constexpr uint16_t kUserFlags = 1;
// Pushes and twists on every axis, so that each gain group and the vertical
// axis convention show in the outputs.
const int kProbe[6] = {40, -40, 160, 10, 30, -10};
// The rest zone of a device with a 16-character serial and none stored.
constexpr uint8_t kProbeRestZone = 75;
constexpr SimulatedDevice kOtherDevice = {L"KS00000000000078", 0x200, 0x78};

// The outputs of the probe on a freshly opened device with these settings.
std::vector<int16_t> ProbeMotion(const uint16_t factors[4], uint16_t flags) {
  int16_t gains[4];
  GainsFromSettings(gains, factors);
  float state[3] = {};
  int16_t out[6];
  const std::vector<uint8_t> report = BallReport(kProbe);
  ProcessBallReport(out, report.data() + 1, state, kProbeRestZone, gains, flags);
  return std::vector<int16_t>(out, out + 6);
}

// The user has stored speed settings and the vertical-axis convention 1
// before the agent starts.
class UserSettingsTest : public AgentServiceTest {
 protected:
  explicit UserSettingsTest(SimulatedDevice device = kDefaultSimulatedDevice)
      : AgentServiceTest(device) {}

  void StoreUserSettings() override {
    PutSetting(kLogFactorsValue, REG_QWORD, kUserFactors, sizeof kUserFactors);
    const DWORD flags = kUserFlags;
    PutSetting(kFlagsValue, REG_DWORD, &flags, sizeof flags);
  }

  const std::vector<uint16_t> user_ = {kUserFactors[0], kUserFactors[1], kUserFactors[2],
                                       kUserFactors[3], kUserFlags};

  // Unplugs the device whose ball interface is ball and waits until the
  // service has let go of it.
  void Unplug(int ball) {
    SimUnplug(ball);
    SimUnplug(ball + 1);
    ASSERT_TRUE(WaitUntil(kTimeoutMs, [&] { return !SimIsOpen(ball) && !SimIsOpen(ball + 1); }))
        << "the service still holds the unplugged device";
  }

  // Plugs the device in while the service runs and waits until it is open.
  void Replug(int ball) {
    ASSERT_TRUE(HotPlug(ball));
    ASSERT_TRUE(WaitForDeviceOpen(ball)) << "the plugged device was not opened";
  }

  // The moment the device is open: record 1 says the user's settings, one
  // report of the ball comes out scaled and ordered by them, and HKCU still
  // holds them. The settings are in force before the device's first report
  // is read, so nothing here waits for them.
  void ExpectUserSettingsInForce(int ball, const char* step) {
    SCOPED_TRACE(step);
    const std::vector<uint16_t> record = SectionSettings();
    uint16_t header = 0;
    BallBuffer before = {};
    ASSERT_TRUE(ReadBallMotion(section_->Record(1), &before, &header));
    const uint16_t count = MotionReportCount(header);
    ASSERT_TRUE(SendReport(ball, BallReport(kProbe)));
    BallBuffer after = {};
    ASSERT_TRUE(WaitUntil(kTimeoutMs, [&] {
      return ReadBallMotion(section_->Record(1), &after, &header) &&
             MotionReportCount(header) != count;
    })) << "the probe report was not published";
    const std::vector<int16_t> motion(after.m_Values, after.m_Values + 6);
    const StoredSettings stored = ReadStoredSettings();
    printf("%s: record 1 LogFactors %04X %04X %04X %04X Flags %u; motion %d %d %d %d %d %d; "
           "HKCU LogFactors %04X %04X %04X %04X Flags %u\n",
           step, record[0], record[1], record[2], record[3], record[4], motion[0], motion[1],
           motion[2], motion[3], motion[4], motion[5], stored.factors[0], stored.factors[1],
           stored.factors[2], stored.factors[3], static_cast<unsigned>(stored.flags));

    EXPECT_EQ(record, user_) << "record 1 does not say the user's settings";
    EXPECT_EQ(motion, ProbeMotion(kUserFactors, kUserFlags))
        << "the motion is not scaled by the user's settings";
    EXPECT_TRUE(stored.haveFactors && stored.haveFlags);
    EXPECT_EQ(std::vector<uint16_t>(stored.factors, stored.factors + 4),
              std::vector<uint16_t>(kUserFactors, kUserFactors + 4));
    EXPECT_EQ(stored.flags, kUserFlags);
  }
};

TEST_F(UserSettingsTest, TheUsersSettingsStayInForceThroughReplugs) {
  // The probe tells the user's settings from the defaults in every output.
  ASSERT_NE(ProbeMotion(kUserFactors, kUserFlags), ProbeMotion(kDefaultSpeedSettings, 0));
  // The agent sends them at its start to the device already open.
  ASSERT_TRUE(WaitUntil(kTimeoutMs, [&] { return SectionSettings() == user_; }))
      << "the stored settings were not sent at the agent's start";
  ExpectUserSettingsInForce(ball_, "device open, agent started");

  Unplug(ball_);
  Replug(ball_);
  ExpectUserSettingsInForce(ball_, "the same device plugged in again");

  Unplug(ball_);
  const int other = SimAddDevice(kOtherDevice.serial, kOtherDevice.firmware, kOtherDevice.instance);
  ASSERT_GE(other, 0);
  Replug(other);
  ExpectUserSettingsInForce(other, "another device plugged in");
}

// The agent runs before any device is plugged in (a mouse plugged in after
// logon).
class UserSettingsLatePlugTest : public UserSettingsTest {
 protected:
  UserSettingsLatePlugTest() : UserSettingsTest(kNoSimulatedDevice) {}
};

TEST_F(UserSettingsLatePlugTest, ADevicePluggedInAfterTheAgentStartedRunsOnTheUsersSettings) {
  ASSERT_TRUE(WaitUntil(kTimeoutMs, [&] { return SectionSettings() == user_; }))
      << "the stored settings were not sent at the agent's start";
  const int ball = SimAddDevice(kDefaultSimulatedDevice.serial, kDefaultSimulatedDevice.firmware,
                                kDefaultSimulatedDevice.instance);
  ASSERT_GE(ball, 0);
  Replug(ball);
  ExpectUserSettingsInForce(ball, "device plugged in after the agent started");
}

}  // namespace
