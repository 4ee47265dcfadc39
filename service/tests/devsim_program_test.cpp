// KestrinDeviceSim.exe as the device, played from a script and driven
// through its standard input, against the device part in this process (the
// other parts of the service recorded by stubs).
#include <windows.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include <gtest/gtest.h>

#include "device_test_stubs.h"
#include "devices.h"
#include "messages.h"
#include "process_runner.h"
#include "service_private.h"

namespace {

constexpr DWORD kWaitMs = 5000;

std::string WriteScript(const char* name, const std::string& text) {
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  std::string path = std::string(temp) + name;
  FILE* f = fopen(path.c_str(), "w");
  fputs(text.c_str(), f);
  fclose(f);
  return path;
}

// The simulator with its standard input and output on pipes of this test.
class SimulatorProcess {
 public:
  bool Start(const std::string& arguments) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE childIn = nullptr, childOut = nullptr;
    if (!CreatePipe(&childIn, &m_In, &inherit, 0) || !CreatePipe(&m_Out, &childOut, &inherit, 0))
      return false;
    SetHandleInformation(m_In, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(m_Out, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = childIn;
    si.hStdOutput = childOut;
    si.hStdError = childOut;
    std::string line = "\"" + WinePath(KESTRIN_DEVICE_SIM_EXE) + "\" " + arguments;
    BOOL ok = CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                             &m_Process);
    CloseHandle(childIn);
    CloseHandle(childOut);
    return ok != FALSE;
  }
  // One command; its answer line.
  std::string Command(const std::string& command) {
    std::string text = command + "\n";
    DWORD written = 0;
    WriteFile(m_In, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    std::string answer;
    char c;
    DWORD got = 0;
    while (ReadFile(m_Out, &c, 1, &got, nullptr) && got && c != '\n')
      if (c != '\r') answer.push_back(c);
    return answer;
  }
  DWORD Finish() {
    if (m_In) CloseHandle(m_In);
    m_In = nullptr;
    DWORD code = 1;
    if (m_Process.hProcess) {
      WaitForSingleObject(m_Process.hProcess, kWaitMs);
      GetExitCodeProcess(m_Process.hProcess, &code);
      CloseHandle(m_Process.hProcess);
      CloseHandle(m_Process.hThread);
      m_Process = PROCESS_INFORMATION();
    }
    if (m_Out) CloseHandle(m_Out);
    m_Out = nullptr;
    return code;
  }
  ~SimulatorProcess() { Finish(); }

 private:
  HANDLE m_In = nullptr;
  HANDLE m_Out = nullptr;
  PROCESS_INFORMATION m_Process = {};
};

class DevsimProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetDeviceStubs();
    InitDevices();
  }
  void TearDown() override { CloseAllDevices(); }

  // Enumerates until the simulator's device is there and open.
  bool OpenDevice() {
    for (DWORD start = GetTickCount(); GetTickCount() - start < kWaitMs; Sleep(50)) {
      EnumerateDevices();
      if (SlotInUse(0)) return true;
    }
    return false;
  }
  // Runs the reader of slot 0 once its read completed.
  bool Complete(bool ball) {
    DeviceSlot* s = SlotAt(0);
    HANDLE event = ball ? s->m_Ball.m_Overlapped.hEvent : s->m_Scroll.m_Overlapped.hEvent;
    if (WaitForSingleObject(event, kWaitMs) != WAIT_OBJECT_0) return false;
    if (ball)
      OnBallReportsRead(0);
    else
      OnScrollReportsRead(0);
    return true;
  }
  uint16_t BallCount() { return Stubs.m_Records[1].m_BallHeader & kHeaderCountMask; }
};

TEST_F(DevsimProgramTest, ScriptErrorsNameTheirLine) {
  struct Case {
    const char* script;
    const char* message;
  } cases[] = {
      {"device k\nbogus k\n", ":2: unknown command bogus"},
      {"device k\nball k 1 2 3\n", ":2: a ball report has six readings"},
      {"# a comment\n\nplug nobody\n", ":3: no device nobody"},
      {"device k\nrepeat 2\nsleep 1\n", ":2: repeat without end"},
  };
  for (const Case& c : cases) {
    std::string path = WriteScript("kestrin-devsim-bad.kds", c.script);
    RunResult run = RunProgram("\"" + WinePath(KESTRIN_DEVICE_SIM_EXE) + "\" \"" + path + "\"",
                               kWaitMs);
    EXPECT_EQ(1u, run.exitCode) << c.script;
    EXPECT_NE(std::string::npos, run.output.find(c.message)) << run.output;
    DeleteFileA(path.c_str());
  }
}

TEST_F(DevsimProgramTest, ScriptThenCommandsReachTheReaders) {
  std::string path = WriteScript("kestrin-devsim.kds",
                                 "device k serial=KS00000000000005 firmware=0x200\n"
                                 "plug k quiet\n"
                                 "wait-open k 10000\n"
                                 "repeat 3\n"
                                 "ball k 0 0 200 0 0 0\n"
                                 "sleep 20\n"
                                 "end\n");
  SimulatorProcess sim;
  ASSERT_TRUE(sim.Start("\"" + path + "\" -i"));
  ASSERT_TRUE(OpenDevice());
  EXPECT_STREQ("KS00000000000005", SlotAt(0)->m_Serial);
  // The script's three reads, then the commands.
  for (int i = 0; i < 3 && BallCount() < 3; ++i) ASSERT_TRUE(Complete(true));
  EXPECT_EQ(3, BallCount());

  EXPECT_EQ("ok", sim.Command("ball k 0 0 200 0 0 0 ; 0 0 200 0 0 0"));
  ASSERT_TRUE(Complete(true));
  EXPECT_EQ(5, BallCount());
  EXPECT_EQ("ok", sim.Command("raw k ball 00 01 02 03"));  // part of a report only
  ASSERT_TRUE(Complete(true));
  EXPECT_EQ(5, BallCount());
  EXPECT_EQ("ok", sim.Command("scroll k 300 0 6"));
  ASSERT_TRUE(Complete(false));
  EXPECT_EQ(6u, SlotAt(0)->m_Buttons);
  EXPECT_EQ("error: unknown command bogus", sim.Command("bogus k"));
  EXPECT_EQ("ok", sim.Command("error k ball 995"));
  ASSERT_TRUE(Complete(true));
  EXPECT_FALSE(SlotInUse(0));
  EXPECT_EQ(std::vector<uint32_t>{MSG_DEVICE_UNPLUGGED}, Stubs.m_Events);
  EXPECT_EQ("ok", sim.Command("quit"));
  EXPECT_EQ(0u, sim.Finish());
  DeleteFileA(path.c_str());
}

}  // namespace
