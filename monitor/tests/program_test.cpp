// KestrinMonitor.exe as a program under the X server: without the service,
// and against a stand-in service whose pipe breaks.
#include <gtest/gtest.h>

#include <thread>

#include "fake_service.h"
#include "monitor_windows.h"
#include "process_runner.h"

namespace monitor {
namespace {

const std::string kMonitorExe = WinePath(KESTRIN_MONITOR_EXE);

// Runs the program on a thread of its own while the test looks at it.
class RunningMonitor {
 public:
  RunningMonitor() : thread_([this] { result_ = RunProgram(kMonitorExe, 30000); }) {}
  ~RunningMonitor() { Join(); }
  const RunResult& Join() {
    if (thread_.joinable()) thread_.join();
    return result_;
  }

 private:
  RunResult result_ = {};
  std::thread thread_;
};

void ExpectMonitorPlacement(HWND window) {
  RECT r;
  ASSERT_TRUE(GetWindowRect(window, &r));
  EXPECT_EQ(r.left, kMonitorX);
  EXPECT_EQ(r.top, kMonitorY);
  EXPECT_EQ(r.bottom - r.top, kMonitorHeight);
  // A window with a sizing frame is never narrower than the system's minimum
  // tracking width, on Windows as under Wine (112 there).
  EXPECT_EQ(r.right - r.left, std::max(kMonitorWidth, GetSystemMetrics(SM_CXMINTRACK)));
  EXPECT_TRUE(GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST);
}

TEST(MonitorProgram, WithoutTheServiceSaysSoForPipeAndSectionThenDrawsTheRestingScene) {
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

  Sleep(500);  // the first frames
  ScreenShot shot = ShootClient(window);
  ASSERT_GT(shot.width, 40);
  EXPECT_TRUE(ScreenBackground(shot.At(shot.width - 3, 3)));
  EXPECT_GT(shot.Count(ScreenRed), 150) << "the text";
  EXPECT_TRUE(SpinnerIs(shot, ScreenRed));

  PostMessageA(window, WM_CHAR, 'x', 0);
  const RunResult& result = monitor.Join();
  EXPECT_TRUE(result.started) << result.output;
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitCode, 0u);
}

TEST(MonitorProgram, EndsWhenThePipeBreaks) {
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
