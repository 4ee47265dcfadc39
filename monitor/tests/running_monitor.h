// KestrinMonitor.exe run by a test on a thread of its own, and what its
// window must look like from outside.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>

#include "monitor_windows.h"
#include "process_runner.h"

namespace monitor {

inline const std::string kMonitorExe = WinePath(KESTRIN_MONITOR_EXE);

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

inline void ExpectMonitorPlacement(HWND window) {
  RECT r;
  ASSERT_TRUE(GetWindowRect(window, &r));
  EXPECT_EQ(r.left, kMonitorX);
  EXPECT_EQ(r.top, kMonitorY);
  EXPECT_EQ(r.bottom - r.top, kMonitorHeight);
  // A window with a sizing frame is never narrower than the system's minimum
  // tracking width, on Windows as under Wine (116 pixels here).
  EXPECT_EQ(r.right - r.left, std::max(kMonitorWidth, GetSystemMetrics(SM_CXMINTRACK)));
  EXPECT_TRUE(GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST);
}


// The scene at rest as a screenshot shows it: the background, the red text,
// the grey sphere and the red spinner.
inline bool IsRestingScene(const ScreenShot& shot) {
  return shot.width > 40 && ScreenBackground(shot.At(shot.width - 3, 3)) &&
         shot.Count(ScreenRed) > 150 && shot.Count(ScreenGrey) > 300 && SpinnerIs(shot, ScreenRed);
}
// The same, check by check, for a test's failure message.
inline void ExpectRestingScene(const ScreenShot& shot) {
  ASSERT_GT(shot.width, 40);
  EXPECT_TRUE(ScreenBackground(shot.At(shot.width - 3, 3)));
  EXPECT_GT(shot.Count(ScreenRed), 150) << "the text";
  EXPECT_GT(shot.Count(ScreenGrey), 300) << "the sphere";
  EXPECT_TRUE(SpinnerIs(shot, ScreenRed));
}

// The first frames: the resting scene, within a few seconds.
inline ScreenShot ShootRestingScene(HWND window) { return ShootWhen(window, IsRestingScene, 5000); }

}  // namespace monitor
