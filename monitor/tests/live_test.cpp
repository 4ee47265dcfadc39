// KestrinMonitor.exe against the running suite: the service on a simulated
// device and the session agent, which the monitor's library connection
// starts. The resting scene, the scene while the ball moves, and the end of
// the program when the service goes away; frames are read from the screen.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "agent_install.h"
#include "report_bytes.h"
#include "running_monitor.h"
#include "simulated_service.h"

namespace monitor {
namespace {

class MonitorLiveTest : public SimulatedServiceTest {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(InstallAgent(KESTRIN_ELF_EXE)); }

  // Pushes and twists the ball, one report every 20 ms, until stopped.
  void StartMoving() {
    moving_ = true;
    hand_ = std::thread([this] {
      const int pushes[][6] = {{0, 0, 200, 0, 0, 60}, {120, 0, 160, 40, 0, 80},
                               {160, -40, 120, 60, 20, 100}};
      for (int i = 0; moving_; ++i) {
        SendReport(ball_, BallReport(pushes[i % 3]));
        Sleep(20);
      }
      SendReport(ball_, std::vector<uint8_t>(9, 0));  // let go
    });
  }
  void StopMoving() {
    moving_ = false;
    if (hand_.joinable()) hand_.join();
  }
  void TearDown() override {
    StopMoving();
    EXPECT_TRUE(StopAgent());
    SimulatedServiceTest::TearDown();
  }

  std::atomic<bool> moving_{false};
  std::thread hand_;
};

TEST_F(MonitorLiveTest, RestMotionRestThenEndsWithTheService) {
  RunningMonitor monitor;
  HWND window = WaitForWindow(FindMonitorWindow, 10000);
  ASSERT_TRUE(window);
  EXPECT_FALSE(FindMonitorBox()) << BoxText(FindMonitorBox());
  ExpectMonitorPlacement(window);
  EXPECT_TRUE(WaitForWindow(FindAgentWindow, 10000)) << "the library started the agent";

  ScreenShot rest = ShootRestingScene(window);
  ASSERT_NO_FATAL_FAILURE(ExpectRestingScene(rest));
  EXPECT_FALSE(SpinnerIs(rest, ScreenGreen));

  StartMoving();
  ScreenShot moving = ShootWhen(
      window, [&](const ScreenShot& s) { return SpinnerIs(s, ScreenGreen) && s.Differences(rest) > 300; },
      5000);
  EXPECT_GT(moving.Differences(rest), 300) << "the sphere moved and turned";
  EXPECT_TRUE(SpinnerIs(moving, ScreenGreen));
  EXPECT_TRUE(ScreenBackground(moving.At(moving.width - 3, 3)));

  StopMoving();
  ScreenShot after = ShootWhen(
      window, [&](const ScreenShot& s) { return SpinnerIs(s, ScreenRed) && s.Differences(rest) < 100; },
      5000);
  EXPECT_TRUE(SpinnerIs(after, ScreenRed));
  EXPECT_LT(after.Differences(rest), 100) << "back at the resting place";

  // The service goes away: its pipe breaks and the program ends.
  ASSERT_TRUE(RemoveKestrinService());
  const RunResult& result = monitor.Join();
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitCode, 0u);
}

}  // namespace
}  // namespace monitor
