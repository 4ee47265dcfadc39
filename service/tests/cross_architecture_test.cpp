// The service of this build serves the programs of the other architecture:
// KestrinSvcSim.exe of this build under the service manager, this process
// playing the device simulator, and KestrinMotionPeek and KestrinPipeClient
// of the other Windows build (x86 beside x64, x64 beside x86) as the reader
// of record 1 and the pipe client. They must see what the programs of this
// build see.
//
// The other build's tree is given as a Unix path in KESTRIN_OTHER_BUILD
// (test.sh sets it where the machine runs both builds); without it the tests
// are skipped.
#include <windows.h>
#include <stdlib.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "process_runner.h"
#include "report_bytes.h"
#include "section_view.h"
#include "simulated_service.h"

namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

// A program of this build and its twin in the other build's tree.
struct ProgramPair {
  std::string own;
  std::string other;
};

// The same path below the other tree's root.
std::string InOtherBuild(const std::string& otherRoot, const std::string& ownExe) {
  const std::string ownRoot = KESTRIN_BUILD_DIR;
  if (ownExe.compare(0, ownRoot.size(), ownRoot) != 0) return std::string();
  return WinePath(otherRoot + ownExe.substr(ownRoot.size()));
}

// "state: ..." lines of a pipe client's output, without the CR of text mode.
std::vector<std::string> StateLines(const std::string& output) {
  std::vector<std::string> lines;
  std::istringstream in(output);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("state:", 0) == 0) lines.push_back(line);
  }
  return lines;
}

RunResult RunExe(const std::string& exe, const std::string& arguments) {
  return RunProgram("\"" + exe + "\" " + arguments, 20000);
}

class CrossArchitectureTest : public SimulatedServiceTest {
 protected:
  void SetUp() override {
    const char* other = getenv("KESTRIN_OTHER_BUILD");
    if (!other || !*other) {
      GTEST_SKIP() << "KESTRIN_OTHER_BUILD names no other Windows build: this machine runs one "
                      "architecture only, or the tests were started without test.sh";
    }
    peek_ = {WinePath(KESTRIN_PEEK_EXE), InOtherBuild(other, KESTRIN_PEEK_EXE)};
    client_ = {WinePath(KESTRIN_PIPE_CLIENT_EXE), InOtherBuild(other, KESTRIN_PIPE_CLIENT_EXE)};
    // The other build's programs must be there and of the other architecture.
    DWORD own = 0, twin = 0;
    ASSERT_TRUE(GetBinaryTypeA(peek_.own.c_str(), &own)) << peek_.own;
    for (const std::string& exe : {peek_.other, client_.other}) {
      ASSERT_TRUE(GetBinaryTypeA(exe.c_str(), &twin)) << exe << " (" << other << ")";
      ASSERT_NE(own, twin) << exe << " has the architecture of this build";
    }
    serviceSetUp_ = true;
    SimulatedServiceTest::SetUp();
  }
  void TearDown() override {
    if (serviceSetUp_) SimulatedServiceTest::TearDown();
  }

  // Reads record 1 with this build's reader until the counts are reached.
  std::string PeekUntil(const std::string& expected) {
    RunResult seen;
    for (int i = 0; i < 50; ++i) {
      seen = RunExe(peek_.own, "0");
      if (seen.output.find(expected) != std::string::npos) break;
      Sleep(100);
    }
    return seen.output;
  }

  bool serviceSetUp_ = false;
  ProgramPair peek_, client_;
};

TEST_F(CrossArchitectureTest, ReaderOfTheOtherArchitectureSeesTheSameRecord) {
  const int pushes[][6] = {{40, -40, 160, 10, 0, -10}, {-120, 0, 0, 60, 60, 60}};
  std::vector<uint8_t> read = BallReport(pushes[0]);
  const std::vector<uint8_t> second = BallReport(pushes[1]);
  read.insert(read.end(), second.begin(), second.end());
  ASSERT_TRUE(SendReport(ball_, read));
  ASSERT_TRUE(SendReport(ball_ + 1, ScrollReport(250, -100)));

  // Two ball reports, both moving; one scroll-hat report, moving.
  const std::string own = PeekUntil(" scroll 1 1 ");
  ASSERT_THAT(own, StartsWith("ball 2 1 "));
  ASSERT_THAT(own, HasSubstr(" scroll 1 1 "));
  RunResult other = RunExe(peek_.other, "0");
  EXPECT_EQ(0u, other.exitCode);
  EXPECT_EQ(own, other.output);
}

TEST_F(CrossArchitectureTest, PipeClientOfTheOtherArchitectureSeesTheSameStatesAndIsObeyed) {
  // A pressed scroll-hat button shows in the state message a client gets on
  // connecting.
  ASSERT_TRUE(SendReport(ball_ + 1, ScrollReport(0, 0, 0x01)));
  std::vector<std::string> own;
  for (int i = 0; i < 50; ++i) {
    own = StateLines(RunExe(client_.own, "-t 0").output);
    if (!own.empty() && own[0].find("buttons 0x01") != std::string::npos) break;
    Sleep(100);
  }
  ASSERT_FALSE(own.empty());
  ASSERT_THAT(own[0], StartsWith("state: device 1 state 0x"));
  ASSERT_THAT(own[0], HasSubstr("buttons 0x01 (attached enabled"));

  RunResult other = RunExe(client_.other, "-t 0 -l 0x9000 0x8000 0x8000 0x7000 -f 1");
  EXPECT_EQ(0u, other.exitCode) << other.output;
  EXPECT_EQ(own, StateLines(other.output)) << other.output;

  // Its settings reach the device's record.
  SectionView section;
  ASSERT_TRUE(section.Open()) << section.error();
  const volatile DeviceMotionRecord* record = section.Record(1);
  bool applied = false;
  for (int i = 0; i < 100; ++i) {
    applied = record->m_LogFactors[0] == 0x9000 && record->m_LogFactors[1] == 0x8000 &&
              record->m_LogFactors[2] == 0x8000 && record->m_LogFactors[3] == 0x7000 &&
              record->m_Flags == 1;
    if (applied) break;
    Sleep(50);
  }
  EXPECT_TRUE(applied) << std::hex << record->m_LogFactors[0] << " " << record->m_LogFactors[3]
                       << " flags " << record->m_Flags;
}

}  // namespace
