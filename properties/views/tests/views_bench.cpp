// The motion views of KestrinProperties.exe against the live suite (the
// service on a simulated device, the installed agent), seen through the swap
// spy with its frames off (it only logs each swap's time): the time from a
// ball report after rest to both views' swaps, the frames per second while
// reports stream, and the program's CPU time at rest. Beside the first, the
// floor from the same run: the time from the same report to the library's
// ball-active event in this process's own Kestrin1 client. Prints figures,
// judges nothing.
#include <windows.h>

#include <gtest/gtest.h>
#include <stdio.h>

#include <fstream>
#include <sstream>
#include <vector>

#include "Kestrin1.h"
#include "agent_install.h"
#include "foreground_window.h"
#include "latency_figures.h"
#include "process_runner.h"
#include "report_bytes.h"
#include "running_properties.h"
#include "simulated_service.h"

namespace {

constexpr int kSamples = 40;

struct Swap {
  int id;
  double us;
};

std::vector<Swap> ReadSwaps(const std::string& path) {
  std::vector<Swap> swaps;
  std::ifstream in(path);
  long long count = 0, frequency = 0;
  int id = 0;
  while (in >> id >> count >> frequency)
    swaps.push_back({id, static_cast<double>(count) * 1e6 / static_cast<double>(frequency)});
  return swaps;
}

double g_EventAt = 0;
long KESTRIN1_CALLBACK OnEvent(unsigned int event, long) {
  if (event == Kestrin1::EventBallActive) g_EventAt = MicrosecondsNow();
  return 0;
}

class ViewsBench : public SimulatedServiceTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(InstallAgent(KESTRIN_ELF_EXE));
    SimulatedServiceTest::SetUp();
    ASSERT_NE(StartAgent(), 0u);
  }
  void TearDown() override {
    StopAgent();
    SimulatedServiceTest::TearDown();
  }
  void Pump(DWORD ms) {
    props::PumpUntil([] { return false; }, ms);
  }
};

TEST_F(ViewsBench, Figures) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string folder = std::string(temp) + "kestrin-views-bench";
  CreateDirectoryA(folder.c_str(), nullptr);
  const std::string log = folder + "\\swaps.log";
  const int push[6] = {40, -30, 0, 15, 25, 40};
  const std::vector<uint8_t> still(9, 0);

  // ---- the floor: report -> the library's event in a client of our own,
  // while it owns the foreground ----
  {
    ASSERT_TRUE(ShowForegroundWindow("ViewsBenchFloor", "views bench floor"));
    Kestrin1::CKestrin client(0);
    Kestrin1::CKestrin::Register(&OnEvent, GetCurrentProcessId());
    Pump(1500);
    std::vector<double> floor;
    int lost = 0;
    for (int i = 0; i < kSamples; ++i) {
      g_EventAt = 0;
      const double sent = MicrosecondsNow();
      SendReport(ball_, BallReport(push));
      props::PumpUntil([] { return g_EventAt != 0; }, 2000);
      if (g_EventAt) floor.push_back(g_EventAt - sent); else ++lost;
      SendReport(ball_, still);
      Pump(250);
    }
    PrintLatency("report -> library event (floor)", floor, lost);
  }

  // ---- the program ----
  DeleteFileA(log.c_str());
  props::RunningProperties program(
      "", {{L"KESTRIN_SWAP_SPY_DIR", std::wstring(folder.begin(), folder.end())},
           {L"KESTRIN_SWAP_SPY_FRAMES", L"0"}});
  HWND dialog = program.WaitForDialog();
  ASSERT_TRUE(dialog);
  SetForegroundWindow(dialog);
  RunResult inject = RunProgram("\"" + WinePath(KESTRIN_SPY_INJECT_EXE) +
                                    "\" \"Kestrin 3D Mouse Properties\" \"" +
                                    WinePath(KESTRIN_SWAP_SPY_DLL) + "\"",
                                20000);
  ASSERT_EQ(inject.exitCode, 0u) << inject.output;
  Pump(1500);

  std::vector<double> repaint;
  int lost = 0;
  for (int i = 0; i < kSamples; ++i) {
    const double sent = MicrosecondsNow();
    SendReport(ball_, BallReport(push));
    double both = 0;
    props::PumpUntil([&] {
      double v3 = 0, v2 = 0;
      for (const Swap& s : ReadSwaps(log)) {
        if (s.us < sent) continue;
        if (s.id == 1006 && !v3) v3 = s.us;
        if (s.id == 1008 && !v2) v2 = s.us;
      }
      both = (v3 && v2) ? std::max(v3, v2) : 0;
      return both != 0;
    }, 3000);
    if (both) repaint.push_back(both - sent); else ++lost;
    SendReport(ball_, still);
    Pump(300);
  }
  PrintLatency("report -> both views swapped", repaint, lost);

  // Frames while reports stream every 10 ms for 3 s.
  const double start = MicrosecondsNow();
  for (int i = 0; i < 300; ++i) {
    SendReport(ball_, BallReport(push));
    Sleep(10);
  }
  const double end = MicrosecondsNow();
  SendReport(ball_, still);
  int frames3D = 0, frames2D = 0;
  for (const Swap& s : ReadSwaps(log)) {
    if (s.us < start || s.us > end) continue;
    (s.id == 1006 ? frames3D : frames2D)++;
  }
  const double seconds = (end - start) / 1e6;
  printf("%-46s 3D %.1f fps, 2D %.1f fps over %.1f s of reports every 10 ms\n",
         "frames while the device moves", frames3D / seconds, frames2D / seconds, seconds);

  // At rest: the program's CPU time and its swaps over 5 s.
  Pump(1500);
  FILETIME created, exited, kernel0, user0, kernel1, user1;
  GetProcessTimes(program.process(), &created, &exited, &kernel0, &user0);
  const size_t swapsBefore = ReadSwaps(log).size();
  Pump(5000);
  GetProcessTimes(program.process(), &created, &exited, &kernel1, &user1);
  auto ms = [](const FILETIME& a, const FILETIME& b) {
    ULARGE_INTEGER x, y;
    x.LowPart = a.dwLowDateTime; x.HighPart = a.dwHighDateTime;
    y.LowPart = b.dwLowDateTime; y.HighPart = b.dwHighDateTime;
    return static_cast<double>(y.QuadPart - x.QuadPart) / 1e4;
  };
  printf("%-46s %.1f ms CPU (user %.1f, kernel %.1f) and %zu swaps in 5 s\n",
         "the program at rest", ms(user0, user1) + ms(kernel0, kernel1), ms(user0, user1),
         ms(kernel0, kernel1), ReadSwaps(log).size() - swapsBefore);
  PostMessageW(dialog, WM_CLOSE, 0, 0);
  program.WaitForExit();
}

}  // namespace
