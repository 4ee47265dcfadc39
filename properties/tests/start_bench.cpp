// Start-up and idle cost of KestrinProperties.exe against the live suite
// (KestrinSvcSim.exe on a simulated device that rests, the installed agent
// running): the time from CreateProcess to the shown dialog, and the CPU time
// and wake-ups of the program while its dialog stays open. Beside each, the
// same figure of a floor program from the same run: a plain window with one
// control (PropertiesStartFloor.exe), which is what starting any program with
// a window costs under this Wine. Prints figures, judges nothing.
#include <windows.h>

#include <gtest/gtest.h>
#include <stdio.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "agent_install.h"
#include "latency_figures.h"
#include "running_properties.h"
#include "simulated_service.h"
#include "unix_processes.h"

namespace props {
namespace {

const std::string kFloorExe = WinePath(KESTRIN_START_FLOOR_EXE);
constexpr int kStarts = 8;
constexpr DWORD kIdleMs = 10000;

struct Program {
  const char* name;       // for the figures
  const char* unixName;   // as it appears in the Unix command line
  std::string path;
};

// One process of either program; the time until its window shows, in ms.
class Started {
 public:
  explicit Started(const Program& program) {
    std::string command = "\"" + program.path + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    std::string folder = program.path.substr(0, program.path.find_last_of('\\'));
    start_ = MicrosecondsNow();
    ok_ = CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                         folder.c_str(), &startup, &process_) != 0;
  }
  ~Started() {
    if (!ok_) return;
    if (window_) PostMessageW(window_, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process_.hProcess, 10000) != WAIT_OBJECT_0)
      TerminateProcess(process_.hProcess, 1);
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }
  // Milliseconds until the window is visible, -1 when it never was.
  double WaitShown() {
    if (!ok_) return -1;
    for (int i = 0; i < 30000; ++i) {
      window_ = FindShown();
      if (window_) return (MicrosecondsNow() - start_) / 1000.0;
      Sleep(1);
    }
    return -1;
  }

 private:
  static BOOL CALLBACK Match(HWND window, LPARAM p) {
    auto* s = reinterpret_cast<std::pair<DWORD, HWND>*>(p);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != s->first || !IsWindowVisible(window) || !GetDlgItem(window, IDC_PAN)) return TRUE;
    s->second = window;
    return FALSE;
  }
  HWND FindShown() const {
    std::pair<DWORD, HWND> search = {process_.dwProcessId, nullptr};
    EnumWindows(&Started::Match, reinterpret_cast<LPARAM>(&search));
    return search.second;
  }

  bool ok_ = false;
  double start_ = 0;
  HWND window_ = nullptr;
  PROCESS_INFORMATION process_ = {};
};

void PrintMs(const char* what, std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  printf("%-44s median %7.1f ms  min %7.1f ms  max %7.1f ms  (%zu starts)\n", what,
         ms[ms.size() / 2], ms.front(), ms.back(), ms.size());
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

class PropertiesStartBench : public SimulatedServiceTest {};

TEST_F(PropertiesStartBench, StartUpAndIdle) {
  ASSERT_TRUE(InstallAgent(KESTRIN_ELF_EXE));
  ASSERT_NE(0u, StartAgent());
  const Program properties = {"KestrinProperties.exe", "KestrinProperties.exe", kPropertiesExe};
  const Program floor = {"floor (a plain window)", "PropertiesStartFloor.exe", kFloorExe};

  // Start-up, the two programs taking turns; the first start of each warms
  // the file cache and is not counted.
  std::vector<double> ms[2];
  const Program* programs[2] = {&properties, &floor};
  for (int run = 0; run <= kStarts; ++run) {
    for (int p = 0; p < 2; ++p) {
      Started started(*programs[p]);
      double shown = started.WaitShown();
      ASSERT_GT(shown, 0) << programs[p]->name << " never showed its window";
      if (run > 0) ms[p].push_back(shown);
    }
  }
  printf("start-up to the shown window (the service and the agent running):\n");
  PrintMs("  KestrinProperties.exe, dialog shown", ms[0]);
  PrintMs("  floor: a plain window with one control", ms[1]);
  printf("  ratio (median): %.2f\n", Median(ms[0]) / Median(ms[1]));

  // Idle: each program open while the device rests.
  printf("open while the device rests (%.0f s each; CPU and context switches of its Unix "
         "process):\n", kIdleMs / 1000.0);
  for (const Program* program : programs) {
    Started started(*program);
    ASSERT_GT(started.WaitShown(), 0);
    Sleep(2000);  // past the first paints
    std::vector<std::string> pids = UnixProcesses(program->unixName);
    ASSERT_FALSE(pids.empty()) << program->unixName;
    double cpu0 = UnixCpuSeconds(pids);
    unsigned long long switches0 = UnixContextSwitches(pids);
    Sleep(kIdleMs);
    double cpu = UnixCpuSeconds(pids) - cpu0;
    unsigned long long switches = UnixContextSwitches(pids) - switches0;
    printf("  %-40s CPU %5.2f%% of a core  %7.1f wake-ups/s  (%zu Unix process, %llu switches "
           "before)\n", program->name, 100.0 * cpu / (kIdleMs / 1000.0),
           switches / (kIdleMs / 1000.0), pids.size(), switches0);
  }
  EXPECT_TRUE(StopAgent());
}

}  // namespace
}  // namespace props
