// The Control Panel of the prefix, control.exe, with the applet named on its
// command line: it loads the applet, opens its one item and unloads it, as it
// does for an item the user opens.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "process_runner.h"
#include "standin.h"

namespace {

std::string ControlPanelCommand(const std::string& applet) {
  char folder[MAX_PATH] = {};
  GetSystemDirectoryA(folder, sizeof folder);
  return "\"" + std::string(folder) + "\\control.exe\" \"" + WinePath(applet) + "\"";
}

class ControlPanel : public ::testing::Test {
 protected:
  void SetUp() override { scratch_ = MakeScratchFolder(); }
  void TearDown() override {
    RemoveStandIn();
    DeleteFileA(SpyLog().c_str());
    SetEnvironmentVariableA("KESTRIN_CPL_SPY_LOG", nullptr);
    SetEnvironmentVariableA("KESTRIN_CPL_SPY_TARGET", nullptr);
    RemoveScratchFolder(scratch_);
  }
  std::string SpyLog() const { return scratch_ + "\\spy.log"; }
  // Runs control.exe in the scratch folder; true when it ended by itself (a
  // box of the applet would keep it waiting).
  bool RunControlPanel(const std::string& applet) {
    RunResult run = RunProgram(ControlPanelCommand(applet), 30000, scratch_.c_str());
    EXPECT_TRUE(run.started) << run.output;
    return run.started && !run.timedOut;
  }
  std::string scratch_;
};

// What goes through between the Control Panel and the applet, seen by the spy
// applet in between. This is Wine's order: before CPL_DBLCLK it asks
// CPL_STARTWPARMSW whether the applet opened the item with parameters, and it
// sends CPL_NEWINQUIRE only to an applet whose CPL_INQUIRE gave no name.
TEST_F(ControlPanel, SendsItsMessagesInOrderAndOpensTheItem) {
  ASSERT_TRUE(InstallStandIn());
  SetEnvironmentVariableA("KESTRIN_CPL_SPY_LOG", SpyLog().c_str());
  SetEnvironmentVariableA("KESTRIN_CPL_SPY_TARGET", WinePath(KESTRIN_APPLET_CPL).c_str());
  ASSERT_TRUE(RunControlPanel(KESTRIN_CPL_SPY));
  std::vector<std::string> calls;
  std::ifstream log(SpyLog());
  for (std::string line; std::getline(log, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    calls.push_back(line);
  }
  // <message> <item> -> <answer>
  const std::vector<std::string> expected = {
      "1 0 -> 1",                                          // CPL_INIT
      "2 0 -> 1",                                          // CPL_GETCOUNT
      "3 0 -> 0 icon=2001 name=1 info=2 data=0",           // CPL_INQUIRE
      "10 0 -> 0",                                         // CPL_STARTWPARMSW: not handled
      "5 0 -> 0",                                          // CPL_DBLCLK
      "6 0 -> 1",                                          // CPL_STOP
      "7 0 -> 0",                                          // CPL_EXIT
  };
  EXPECT_EQ(expected, calls);
  // No working directory from the applet: the program works in the Control
  // Panel's current folder.
  ExpectOneStartLikeTheApplet(WaitForStarts(10000, 1000), scratch_);
}

// The applet itself, without the spy: opening the item starts the installed
// program once; with the program missing nothing starts and nothing is shown
// (the Control Panel ends by itself).
TEST_F(ControlPanel, OpensTheItemWhenTheProgramIsInstalled) {
  struct Case {
    const char* what;
    bool installed;
    size_t starts;
  } cases[] = {{"installed", true, 1}, {"missing", false, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RemoveStandIn();
    if (c.installed) {
      ASSERT_TRUE(InstallStandIn());
    }
    EXPECT_TRUE(RunControlPanel(KESTRIN_APPLET_CPL));
    EXPECT_EQ(c.starts, (c.installed ? WaitForStarts(10000, 1000) : WaitForStarts(1000, 0)).size());
  }
}

}  // namespace
