// KestrinMonitor.exe as a program under the X server: without the service,
// and against a stand-in service whose pipe breaks.
#include <gtest/gtest.h>

#include <thread>

#include "agent_install.h"
#include "fake_service.h"
#include "running_monitor.h"

namespace monitor {
namespace {

// The monitor's library connection starts the agent when one is installed
// (another test may have installed it); none is left running.
class MonitorProgram : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_TRUE(StopAgent()); }
};

TEST_F(MonitorProgram, WithoutTheServiceSaysSoForPipeAndSectionThenDrawsTheRestingScene) {
  ASSERT_FALSE(FindMonitorWindow()) << "a monitor is running already";
  RunningMonitor monitor;
  HWND previous = nullptr;
  for (const char* what : {"pipe", "section"}) {
    HWND box = WaitForWindow([&] { return FindMonitorBox(previous); }, 10000);
    ASSERT_TRUE(box) << "no box for the " << what;
    EXPECT_EQ(BoxText(box), kNoServiceText) << what;
    EXPECT_FALSE(FindMonitorWindow()) << "the boxes come before the window";
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    WaitForWindow([&] { return IsWindow(box) ? nullptr : box; }, 5000);
    previous = box;
  }
  HWND window = WaitForWindow(FindMonitorWindow, 10000);
  ASSERT_TRUE(window);
  ExpectMonitorPlacement(window);
  EXPECT_FALSE(FindMonitorBox()) << "one box each, no more";

  ScreenShot shot = ShootRestingScene(window);
  ASSERT_NO_FATAL_FAILURE(ExpectRestingScene(shot));

  PostMessageA(window, WM_CHAR, 'x', 0);
  const RunResult& result = monitor.Join();
  EXPECT_TRUE(result.started) << result.output;
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitCode, 0u);
}

TEST_F(MonitorProgram, EndsWhenThePipeBreaks) {
  FakeService service;
  ASSERT_TRUE(service.ready());
  RunningMonitor monitor;
  ASSERT_TRUE(service.WaitConnected(10000));
  HWND window = WaitForWindow(FindMonitorWindow, 10000);
  ASSERT_TRUE(window);
  EXPECT_FALSE(FindMonitorBox()) << "pipe and section were there";
  ExpectMonitorPlacement(window);

  DWORD start = GetTickCount();
  service.ClosePipe();
  const RunResult& result = monitor.Join();
  EXPECT_FALSE(result.timedOut) << "still running after the pipe broke";
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_LT(GetTickCount() - start, 10000u);
  EXPECT_FALSE(IsWindow(window));
}

}  // namespace
}  // namespace monitor
