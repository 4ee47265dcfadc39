// The whole road to a client program: KestrinSvcSim.exe installed as the
// service on a simulated device, the agent not running, and this program, a
// client of Kestrin1.dll by import. The library starts the installed agent,
// the agent routes the device to this process (it holds the foreground),
// and the reads give what the service's stages make of the simulator's
// reports. The agent is this build's, and where both Windows builds run also
// the other build's: one agent serves clients of both architectures.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Kestrin1.h"
#include "agent_install.h"
#include "client_end_to_end.h"
#include "foreground_window.h"
#include "motion_section.h"
#include "motion_stages.h"
#include "report_bytes.h"
#include "report_motion.h"

using namespace Kestrin1;

namespace {

std::vector<unsigned> g_Events;
long KESTRIN1_CALLBACK RecordEvent(unsigned int event, long) {
  g_Events.push_back(event);
  return 0;
}

std::vector<short> Axes(const ABallMotion& m) { return {m.tx, m.ty, m.tz, m.rx, m.ry, m.rz}; }

bool Seen(unsigned event) {
  return std::find(g_Events.begin(), g_Events.end(), event) != g_Events.end();
}

// Events with the thread they came on and when (ms on the performance
// counter), for clients whose objects live on several threads.
struct Timed {
  unsigned m_Event;
  long m_Param;
  DWORD m_Thread;
  double m_Ms;
};
std::mutex g_TimedLock;
std::vector<Timed> g_Timed;
double NowMs() {
  LARGE_INTEGER frequency, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&now);
  return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}
long KESTRIN1_CALLBACK RecordTimed(unsigned int event, long param) {
  std::lock_guard<std::mutex> hold(g_TimedLock);
  g_Timed.push_back({event, param, GetCurrentThreadId(), NowMs()});
  return 0;
}
std::vector<Timed> TimedSince(double ms) {
  std::lock_guard<std::mutex> hold(g_TimedLock);
  std::vector<Timed> since;
  for (const Timed& t : g_Timed)
    if (t.m_Ms >= ms) since.push_back(t);
  return since;
}
bool HeardOn(unsigned event, long param, DWORD thread, double sinceMs) {
  for (const Timed& t : TimedSince(sinceMs))
    if (t.m_Event == event && t.m_Param == param && t.m_Thread == thread) return true;
  return false;
}
// "event(param) after ms", one per event heard since sinceMs.
std::string Describe(const std::vector<Timed>& events, double sinceMs) {
  std::string text;
  char one[64];
  for (const Timed& t : events) {
    snprintf(one, sizeof one, "%s%u(%ld) after %.1f ms", text.empty() ? "" : ", ", t.m_Event,
             t.m_Param, t.m_Ms - sinceMs);
    text += one;
  }
  return text;
}

class Kestrin1EndToEnd : public ClientEndToEndTest {
 protected:
  // The service runs; the agent is installed by each test.
  void InstallThisAgent(const std::string& exe) {
    ASSERT_TRUE(InstallAgent(exe));  // stops a running one first
    ASSERT_EQ(0u, RunningAgentProcess());
  }
  void TearDown() override {
    delete kestrin_;
    ClientEndToEndTest::TearDown();
  }
  // Builds the object and waits until the agent has routed the device to it.
  void Connect() {
    g_Events.clear();
    kestrin_ = new CKestrin();
    ASSERT_TRUE(PumpUntil([] { return Seen(EventDeviceEnabled); }, 20000))
        << "events so far: " << ::testing::PrintToString(g_Events);
    EXPECT_THAT(g_Events, ::testing::ElementsAre(EventDeviceAttached, EventDeviceEnabled));
    ASSERT_NE(nullptr, *AJLSKDFHEIEMUWPMXURSKDFNB.m_pView);
    ASSERT_NE(nullptr, *AJLSKDFHEIEMUWPMXURSKDFNB.m_pManagerWindow);
  }
  // Single pushes, each read as the service's stages make it of the report
  // (solver state from rest, as in a service that just started).
  void ReadSinglePushes();
  // This build's agent, this process in the foreground, the object built
  // and heard, and single pushes read.
  void ConnectAndReadPushes() {
    InstallThisAgent(KESTRIN_ELF_EXE);
    if (HasFatalFailure()) return;
    ASSERT_NE(nullptr, ShowForegroundWindow("Kestrin1EndToEndWindow", "Kestrin1 end to end"));
    CKestrin::Register(RecordEvent, GetCurrentProcessId());
    Connect();
    if (HasFatalFailure()) return;
    ReadSinglePushes();
  }
  void Road();

  CKestrin* kestrin_ = nullptr;
  // The service's stages for this slot: rest zone 75 (a 16-character serial
  // with no stored setting), the settings the agent sent.
  float solver_[3] = {};
  int16_t gains_[4] = {};
  uint16_t convention_ = 0;
  std::vector<uint8_t> Expect(const int (&readings)[6], int16_t out[6]) {
    std::vector<uint8_t> report = BallReport(readings);
    ProcessBallReport(out, report.data() + 1, solver_, 75, gains_, convention_);
    return report;
  }
};

void Kestrin1EndToEnd::ReadSinglePushes() {
  // The settings the agent sent reach the record before any report.
  Sleep(300);
  uint16_t settings[4];
  memcpy(settings, Record1()->m_LogFactors, sizeof settings);
  convention_ = Record1()->m_Flags;
  GainsFromSettings(gains_, settings);
  for (float& s : solver_) s = 0;

  ABallMotion motion;
  const int pushes[][6] = {{0, 0, 200, 0, 0, 0}, {40, -40, 160, 10, 0, -10}, {0, 90, 0, 30, 0, 0}};
  for (const auto& push : pushes) {
    int16_t out[6];
    std::vector<uint8_t> report = Expect(push, out);
    SendBall(report, 1);
    if (HasFatalFailure()) return;
    ASSERT_EQ(1, KesGetBallMotion(kestrin_, &motion));
    EXPECT_THAT(Axes(motion), ::testing::ElementsAreArray(out, 6));
  }
}

void Kestrin1EndToEnd::Road() {
  ASSERT_NE(nullptr, ShowForegroundWindow("Kestrin1EndToEndWindow", "Kestrin1 end to end"));
  CKestrin::Register(RecordEvent, GetCurrentProcessId());
  Connect();
  if (HasFatalFailure()) return;
  EXPECT_NE(0u, RunningAgentProcess());
  EXPECT_EQ(FindAgentWindow(), *AJLSKDFHEIEMUWPMXURSKDFNB.m_pManagerWindow);
  g_Events.clear();
  ReadSinglePushes();
  if (HasFatalFailure()) return;
  ASSERT_TRUE(PumpUntil([] { return Seen(EventBallActive); }, 5000));
  ABallMotion motion;

  // Three reports in one read: the read gives their mean.
  const int batch[][6] = {{100, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 90, 0}, {-60, 0, 30, 0, 0, 0}};
  std::vector<uint8_t> bytes;
  int32_t sums[6] = {};
  for (const auto& push : batch) {
    int16_t out[6];
    std::vector<uint8_t> report = Expect(push, out);
    bytes.insert(bytes.end(), report.begin(), report.end());
    for (int i = 0; i < 6; ++i) sums[i] += out[i];
  }
  SendBall(bytes, 3);
  ASSERT_EQ(1, KesGetBallMotion(kestrin_, &motion));
  EXPECT_THAT(std::vector<short>({motion.tx, motion.ty, motion.tz, motion.rx, motion.ry, motion.rz}),
              ::testing::ElementsAre(sums[0] / 3, sums[1] / 3, sums[2] / 3, sums[3] / 3,
                                     sums[4] / 3, sums[5] / 3));
  EXPECT_GE(motion.tics, 1);

  // Let go: the zero report ends the run and the ball is released.
  SendBall(std::vector<uint8_t>(9, 0), 1);
  EXPECT_EQ(0, KesGetBallMotion(kestrin_, &motion));
  EXPECT_EQ(0, motion.tics);
  ASSERT_TRUE(PumpUntil([] { return Seen(EventBallReleased); }, 5000));
  EXPECT_THAT(g_Events, ::testing::ElementsAre(EventBallActive, EventBallReleased));
}

TEST_F(Kestrin1EndToEnd, StartsTheAgentHearsTheDeviceAndReadsWhatTheServiceMade) {
  InstallThisAgent(KESTRIN_ELF_EXE);
  if (HasFatalFailure()) return;
  Road();
}

TEST_F(Kestrin1EndToEnd, AnObjectBuiltAfterTheServiceRestartedReadsItsMotion) {
  // Every object of the process goes, the service stops and starts again
  // (creating its section by its name), and the next object reads what the
  // new service publishes.
  ConnectAndReadPushes();
  if (HasFatalFailure()) return;
  delete kestrin_;
  kestrin_ = nullptr;

  ASSERT_EQ(0u, SendServiceControl(SERVICE_CONTROL_STOP));
  ASSERT_TRUE(WaitForServiceState(SERVICE_STOPPED, 20000));
  ASSERT_TRUE(StartKestrinService());
  ASSERT_TRUE(WaitForServiceState(SERVICE_RUNNING, 20000));
  ASSERT_TRUE(WaitForDeviceOpen(ball_));
  servicePid_ = QueryKestrinService().status.dwProcessId;

  Connect();
  if (HasFatalFailure()) return;
  ReadSinglePushes();
}

TEST_F(Kestrin1EndToEnd, AnObjectKeptThroughAServiceRestartReadsTheNewServicesMotion) {
  // The object lives on while the service is removed (-u) and installed and
  // started again (-i), as an update of the service does: the new service
  // opens the section the client still holds and publishes into it, and the
  // same object reads the new motion without doing anything.
  ConnectAndReadPushes();
  if (HasFatalFailure()) return;

  const DWORD removing = GetTickCount();
  RunResult removed = Run("-u");
  ASSERT_TRUE(removed.started) << removed.output;
  ASSERT_EQ(0u, removed.exitCode) << removed.output;
  ASSERT_TRUE(WaitForServiceGone(20000));
  const DWORD start = GetTickCount();
  install_ = Run("-i");
  ASSERT_TRUE(install_.started) << install_.output;
  ASSERT_EQ(0u, install_.exitCode) << install_.output;
  ASSERT_TRUE(WaitForServiceState(SERVICE_RUNNING, 20000));
  servicePid_ = QueryKestrinService().status.dwProcessId;
  ASSERT_TRUE(WaitForDeviceOpen(ball_));
  const DWORD running = GetTickCount();

  // A push of the new recording, from rest as the new service's solver is.
  uint16_t settings[4];
  memcpy(settings, Record1()->m_LogFactors, sizeof settings);
  GainsFromSettings(gains_, settings);
  convention_ = Record1()->m_Flags;
  for (float& s : solver_) s = 0;
  const int push[6] = {-30, 70, 0, 0, 25, 0};
  int16_t out[6];
  SendBall(Expect(push, out), 1);  // seen through the view the object kept
  if (HasFatalFailure()) return;
  ABallMotion motion = {};
  ASSERT_TRUE(PumpUntil([&] { return KesGetBallMotion(kestrin_, &motion) == 1; }, 10000))
      << "events since the restart: " << ::testing::PrintToString(g_Events);
  const DWORD read = GetTickCount();
  EXPECT_THAT(Axes(motion), ::testing::ElementsAreArray(out, 6));
  printf("from -i to the first read of the new motion: %lu ms (service running with the device "
         "open after %lu ms; from -u: %lu ms)\n",
         static_cast<unsigned long>(read - start), static_cast<unsigned long>(running - start),
         static_cast<unsigned long>(read - removing));
  // And every push after it.
  const int next[6] = {0, 0, 200, 0, 0, 0};
  SendBall(Expect(next, out), 1);
  if (HasFatalFailure()) return;
  ASSERT_EQ(1, KesGetBallMotion(kestrin_, &motion));
  EXPECT_THAT(Axes(motion), ::testing::ElementsAreArray(out, 6));
}

TEST_F(Kestrin1EndToEnd, AnObjectKeptAfterTheConnectingThreadEndedHearsTheButtons) {
  // A host that sets up its plug-ins on a worker thread: the worker builds the
  // process's first object (which starts the agent) and hears the device;
  // this thread, with the foreground window and a message loop, builds one
  // and keeps it; the worker destroys its object and ends. A button pressed
  // and released is heard on the worker while it lives, and on this thread
  // once it has ended.
  InstallThisAgent(KESTRIN_ELF_EXE);
  if (HasFatalFailure()) return;
  ASSERT_NE(nullptr, ShowForegroundWindow("Kestrin1EndToEndWindow", "Kestrin1 end to end"));
  CKestrin::Register(RecordTimed, GetCurrentProcessId());
  const double start = NowMs();
  std::atomic<DWORD> workerId{0};
  std::atomic<bool> end{false};
  std::thread worker([&] {
    workerId = GetCurrentThreadId();
    CKestrin* first = new CKestrin();
    PumpUntil([&] { return end.load(); }, 60000);
    delete first;
  });
  while (!workerId) Sleep(1);
  const DWORD here = GetCurrentThreadId();
  ASSERT_TRUE(PumpUntil([&] { return HeardOn(EventDeviceEnabled, 0, workerId, start); }, 20000))
      << Describe(TimedSince(start), start);
  kestrin_ = new CKestrin();
  // Heard on thread; the figures count from the press, or from origin.
  auto pressAndRelease = [&](DWORD thread, const char* when, double origin) {
    const double pressed = NowMs();
    if (origin == 0) origin = pressed;
    ASSERT_TRUE(SendReport(ball_ + 1, ScrollReport(0, 0, 1)));
    ASSERT_TRUE(SendReport(ball_ + 1, ScrollReport(0, 0, 0)));
    const bool released = PumpUntil([&] {
      return HeardOn(EventButtonsChanged, 0, thread, pressed);
    }, 5000);
    std::vector<Timed> heard = TimedSince(pressed);
    printf("%s: %zu events: %s\n", when, heard.size(), Describe(heard, origin).c_str());
    ASSERT_TRUE(released) << when << ": the release was not heard in 5 s";
    EXPECT_TRUE(HeardOn(EventButtonsChanged, 1, thread, pressed));
    for (const Timed& t : heard) EXPECT_EQ(thread, t.m_Thread) << "event " << t.m_Event;
  };
  pressAndRelease(workerId, "the worker alive, heard on the worker (from the press)", 0);
  if (HasFatalFailure()) {
    end = true;
    worker.join();
    return;
  }

  end = true;
  worker.join();
  pressAndRelease(here, "the worker ended, heard on this thread (from its end)", NowMs());
  if (HasFatalFailure()) return;
  // The kept object, the newest, has followed the device's state all along:
  // it reads the device's motion too.
  ReadSinglePushes();
}

TEST_F(Kestrin1EndToEnd, TheOtherArchitecturesAgentServesThisClient) {
  const char* other = getenv("KESTRIN_OTHER_BUILD");
  if (!other || !*other)
    GTEST_SKIP() << "KESTRIN_OTHER_BUILD names no other Windows build: this machine runs one";
  InstallThisAgent(std::string(other) + "/agent/KestrinElf.exe");
  if (HasFatalFailure()) return;
  Road();
}

}  // namespace
