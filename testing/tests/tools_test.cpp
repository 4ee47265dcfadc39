// The shared test tools against real programs: the debug-output monitor and
// the program runner.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "dbwin_monitor.h"
#include "process_runner.h"

using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

std::string Child(const std::string& arguments) {
  return "\"" + WinePath(KESTRIN_TOOLS_CHILD_EXE) + "\" " + arguments;
}

TEST(WinePathTest, ConvertsUnixPathsAndKeepsWindowsPaths) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"/work/x/y.exe", "Z:\\work\\x\\y.exe"},
      {"/", "Z:\\"},
      {"/a dir/b", "Z:\\a dir\\b"},
      {"C:\\windows\\system32", "C:\\windows\\system32"},
      {"\\\\.\\pipe\\name", "\\\\.\\pipe\\name"},
      {"relative/path", "relative/path"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(WinePath(c.in), c.out) << c.in;
}

TEST(RunProgramTest, CapturesOutputAndExitCode) {
  RunResult run = RunProgram(Child("out first err second exit 7"), 20000);
  ASSERT_TRUE(run.started) << run.output;
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 7u);
  EXPECT_NE(run.pid, 0u);
  // Bytes as written: the C runtime's text mode ends lines with "\r\n".
  EXPECT_THAT(run.output, HasSubstr("first\r\n"));
  EXPECT_THAT(run.output, HasSubstr("second\r\n"));
}

TEST(RunProgramTest, OutputLargerThanThePipeIsNotLostOrBlocking) {
  RunResult run = RunProgram(Child("bulk 300000 out end"), 20000);
  ASSERT_TRUE(run.started);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0u);
  const std::string expected = std::string(300000, 'x') + "end\r\n";
  EXPECT_EQ(run.output.size(), expected.size());
  EXPECT_TRUE(run.output == expected) << "output differs in content";
}

TEST(RunProgramTest, TimeoutTerminatesTheProgram) {
  DWORD before = GetTickCount();
  RunResult run = RunProgram(Child("out started sleep 60000"), 1000);
  ASSERT_TRUE(run.started);
  EXPECT_TRUE(run.timedOut);
  EXPECT_EQ(run.exitCode, 1u);
  EXPECT_THAT(run.output, HasSubstr("started"));
  EXPECT_LT(GetTickCount() - before, 30000u);
}

TEST(RunProgramTest, MissingProgramIsNotStarted) {
  RunResult run = RunProgram("Z:\\nonexistent\\nothing-here.exe", 5000);
  EXPECT_FALSE(run.started);
  EXPECT_THAT(run.output, HasSubstr("CreateProcessA failed"));
}

TEST(RunProgramTest, WorkingDirectoryMayBeAUnixPath) {
  RunResult run = RunProgram("cmd /c cd", 20000, "/tmp");
  ASSERT_TRUE(run.started) << run.output;
  EXPECT_THAT(run.output, HasSubstr("Z:\\tmp"));
}

class DebugMonitorTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(monitor.Start()); }
  DebugMonitor monitor;
};

TEST_F(DebugMonitorTest, ReceivesOwnLinesExactlyAndInOrder) {
  const char* texts[] = {"plain", "with line break\n", "with \r\n windows break\r\n", "",
                         "tab\tand % signs %1 %s"};
  for (const char* text : texts) OutputDebugStringA(text);
  DWORD self = GetCurrentProcessId();
  // The last text is distinct; other processes may write in between.
  ASSERT_TRUE(monitor.WaitFor(
      [&](const std::vector<DebugLine>& lines) {
        for (const DebugLine& line : lines)
          if (line.pid == self && line.text == texts[4]) return true;
        return false;
      },
      10000));
  EXPECT_THAT(monitor.TextsFrom(self),
              ElementsAre(texts[0], texts[1], texts[2], texts[3], texts[4]));
}

TEST_F(DebugMonitorTest, ReceivesLinesOfAnotherProgramWithItsProcessId) {
  RunResult run = RunProgram(Child("debug \"child line one\" debug \"child line two\""), 20000);
  ASSERT_TRUE(run.started);
  ASSERT_TRUE(monitor.WaitForText("child line two", 10000));
  EXPECT_THAT(monitor.TextsFrom(run.pid), ElementsAre("child line one", "child line two"));
  EXPECT_TRUE(monitor.TextsFrom(GetCurrentProcessId()).empty());
}

TEST_F(DebugMonitorTest, LongLineIsCutToTheBuffer) {
  std::string text(6000, 'L');
  OutputDebugStringA(text.c_str());
  DWORD self = GetCurrentProcessId();
  ASSERT_TRUE(monitor.WaitFor(
      [&](const std::vector<DebugLine>& lines) {
        for (const DebugLine& line : lines)
          if (line.pid == self) return true;
        return false;
      },
      10000));
  EXPECT_EQ(monitor.TextsFrom(self).at(0), std::string(4096 - sizeof(DWORD) - 1, 'L'));
}

TEST_F(DebugMonitorTest, ManyWritersAtOnceLoseNothing) {
  constexpr int kThreads = 4, kLines = 200;
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t)
    writers.emplace_back([t] {
      for (int i = 0; i < kLines; ++i)
        OutputDebugStringA(("writer " + std::to_string(t) + " line " + std::to_string(i)).c_str());
    });
  for (std::thread& w : writers) w.join();
  DWORD self = GetCurrentProcessId();
  ASSERT_TRUE(monitor.WaitFor(
      [&](const std::vector<DebugLine>& lines) {
        size_t own = 0;
        for (const DebugLine& line : lines) own += line.pid == self;
        return own >= kThreads * kLines;
      },
      20000));
  std::vector<std::string> texts = monitor.TextsFrom(self);
  ASSERT_EQ(texts.size(), static_cast<size_t>(kThreads * kLines));
  for (int t = 0; t < kThreads; ++t) {
    int next = 0;  // each writer's lines arrive in its own order
    for (const std::string& text : texts)
      if (text == "writer " + std::to_string(t) + " line " + std::to_string(next)) ++next;
    EXPECT_EQ(next, kLines) << "writer " << t;
  }
}

TEST_F(DebugMonitorTest, ClearForgetsAndWaitTimesOut) {
  OutputDebugStringA("before clear");
  ASSERT_TRUE(monitor.WaitForText("before clear", 10000));
  monitor.Clear();
  EXPECT_FALSE(monitor.WaitForText("before clear", 200));
  OutputDebugStringA("after clear");
  EXPECT_TRUE(monitor.WaitForText("after clear", 10000));
}

TEST_F(DebugMonitorTest, SecondMonitorIsRefusedWhileTheFirstRuns) {
  DebugMonitor second;
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(second.Start());
  EXPECT_THAT(::testing::internal::GetCapturedStderr(), HasSubstr("another debug-output monitor"));
  // The first one still works.
  OutputDebugStringA("still received");
  EXPECT_TRUE(monitor.WaitForText("still received", 10000));
}

TEST(DebugMonitorRestartTest, NamesAreFreeAgainAfterStop) {
  for (int round = 0; round < 3; ++round) {
    DebugMonitor monitor;
    ASSERT_TRUE(monitor.Start()) << "round " << round;
    std::string text = "round " + std::to_string(round);
    OutputDebugStringA(text.c_str());
    EXPECT_TRUE(monitor.WaitForText(text, 10000));
    monitor.Stop();
    EXPECT_THAT(monitor.Texts(), ::testing::Contains(text));  // kept after Stop
  }
}

TEST(DebugMonitorRestartTest, WritersDoNotWaitWithoutAMonitor) {
  DWORD before = GetTickCount();
  for (int i = 0; i < 20; ++i) OutputDebugStringA("nobody listens");
  EXPECT_LT(GetTickCount() - before, 5000u);
}

}  // namespace
