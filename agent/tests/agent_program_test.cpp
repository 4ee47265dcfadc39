// KestrinElf.exe as the library starts it, installed under the program-files
// folder, with this test playing the service's pipe: the command line and its
// exit codes, the single-instance rule, what the agent sends at start-up and
// at every reconnect, and its stops.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "agent_install.h"
#include "client_window.h"
#include "dbwin_monitor.h"
#include "fake_service_pipe.h"
#include "manager_messages.h"
#include "process_runner.h"
#include "settings_registry.h"

namespace {

using namespace kestrin::manager;
using ::testing::IsEmpty;

constexpr DWORD kTimeoutMs = 10000;
// Longer than the agent's slow retry of a closed pipe, so a reconnect is
// seen whichever way it comes.
constexpr DWORD kReconnectMs = 8000;

// An agent process this test started and waits for.
struct AgentProcess {
  HANDLE process = nullptr;
  DWORD pid = 0;
  ~AgentProcess() {
    if (process) CloseHandle(process);
  }
  // The exit code once it ended within timeoutMs, else STILL_ACTIVE.
  DWORD WaitExit(DWORD timeoutMs) const {
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(process, timeoutMs) == WAIT_OBJECT_0) GetExitCodeProcess(process, &code);
    return code;
  }
};

// program: the installed agent unless given.
bool Launch(const std::string& arguments, AgentProcess* agent, std::string program = "") {
  if (program.empty()) program = InstalledAgentPath();
  agent->process = StartProgram(
      "\"" + program + "\"" + (arguments.empty() ? "" : " ") + arguments, &agent->pid);
  return agent->process != nullptr;
}

bool WaitForAgentWindow(DWORD timeoutMs) {
  return PumpUntil([] { return FindAgentWindow() != nullptr; }, timeoutMs);
}

// The two messages every (re)connect begins with.
void ExpectSettingsFirst(FakeServicePipe* pipe, const uint16_t (&factors)[4], uint16_t flags) {
  PipeMessage first = {}, second = {};
  ASSERT_TRUE(pipe->Receive(&first, kTimeoutMs)) << "no LogFactors";
  ASSERT_TRUE(pipe->Receive(&second, kTimeoutMs)) << "the Flags message was lost";
  EXPECT_EQ(first.m_Opcode, PipeSetLogFactors);
  EXPECT_EQ(first.m_Device, 1);
  EXPECT_EQ(std::vector<uint16_t>(first.m_Payload.m_LogFactors, first.m_Payload.m_LogFactors + 4),
            std::vector<uint16_t>(factors, factors + 4));
  EXPECT_EQ(second.m_Opcode, PipeSetFlags);
  EXPECT_EQ(second.m_Device, 1);
  EXPECT_EQ(second.m_Payload.m_Flags, flags);
}

void BroadcastServiceRunning() {
  DWORD recipients = BSM_APPLICATIONS;
  BroadcastSystemMessageA(BSF_IGNORECURRENTTASK | BSF_POSTMESSAGE, &recipients,
                          RegisterWindowMessageA(kServiceMessageName), 1, 0);
}

class AgentProgramTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(InstallAgent(KESTRIN_ELF_EXE)); }

  void SetUp() override {
    ASSERT_TRUE(StopAgent());
    DeleteSettingsKey();
    ASSERT_TRUE(monitor_.Start());
  }
  void TearDown() override {
    EXPECT_TRUE(StopAgent());
    DeleteSettingsKey();
    if (removedInstall_) {
      EXPECT_TRUE(InstallAgent(KESTRIN_ELF_EXE));
    }
    monitor_.Stop();
  }

  // Starts the agent and waits for its window; its debug lines come from pid.
  void StartRunningAgent(const std::string& arguments = "") {
    ASSERT_TRUE(Launch(arguments, &agent_));
    ASSERT_TRUE(WaitForAgentWindow(kTimeoutMs));
    ASSERT_EQ(RunningAgentProcess(), agent_.pid);
  }

  // Removes the installed agents and their folders: an agent that sets its
  // working directory then reports it (call id 42). Windows sets the
  // variable "ProgramFiles" of a 32-bit process itself, so the folder goes,
  // not the variable. TearDown installs them again.
  void RemoveInstallFolders() {
    for (const std::string& path : AgentInstallPaths()) {
      DeleteFileA(path.c_str());
      RemoveDirectoryA(path.substr(0, path.rfind('\\')).c_str());
    }
    removedInstall_ = true;
  }

  bool HasLine(DWORD pid, const std::string& text) {
    for (const std::string& line : monitor_.TextsFrom(pid))
      if (line.find(text) != std::string::npos) return true;
    return false;
  }

  bool WaitForLine(DWORD pid, const std::string& text) {
    return monitor_.WaitFor(
        [&](const std::vector<DebugLine>& lines) {
          for (const DebugLine& line : lines)
            if (line.pid == pid && line.text.find(text) != std::string::npos) return true;
          return false;
        },
        kTimeoutMs);
  }

  DebugMonitor monitor_;
  AgentProcess agent_;
  bool removedInstall_ = false;
};

TEST_F(AgentProgramTest, CommandLineDecidesBeforeTouchingAnything) {
  RemoveInstallFolders();
  const std::string built = WinePath(KESTRIN_ELF_EXE);
  struct Case {
    const char* arguments;
    bool agentRunning;
    DWORD exitCode;
    bool agentStops;  // the running agent leaves its loop and exits 0
  } cases[] = {
      {"-k", false, 0, false},
      {"", true, 1, false},
      {"-K", true, 1, false},  // a capital K does not count: it starts, finds the window
      {"--kill-it", true, 0, true},  // "-k" anywhere in the line counts
      {"-k", true, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("arguments \"") + c.arguments + "\", agent running " +
                 (c.agentRunning ? "yes" : "no"));
    ASSERT_TRUE(StopAgent());
    AgentProcess running;
    if (c.agentRunning) {
      ASSERT_TRUE(Launch("", &running, built));
      ASSERT_TRUE(WaitForAgentWindow(kTimeoutMs));
      // The running agent did try to change its working directory.
      EXPECT_TRUE(WaitForLine(running.pid, "[KestrinElf] 42() failed - "));
    }
    AgentProcess second;
    ASSERT_TRUE(Launch(c.arguments, &second, built));
    EXPECT_EQ(second.WaitExit(kTimeoutMs), c.exitCode);
    if (c.agentStops) {
      EXPECT_EQ(running.WaitExit(kTimeoutMs), 0u);
    }
    if (c.agentRunning && !c.agentStops) {
      EXPECT_EQ(running.WaitExit(300), STILL_ACTIVE);
      EXPECT_EQ(RunningAgentProcess(), running.pid);
    }
    if (!c.agentRunning) {
      EXPECT_EQ(FindAgentWindow(), nullptr) << "it made a window";
    }
    // No working directory, no pipe, no registry: not one line.
    Sleep(200);
    EXPECT_THAT(monitor_.TextsFrom(second.pid), IsEmpty());
  }
  EXPECT_FALSE(SettingsKeyExists());
}

// Two clients that each find no manager window start an agent at the same
// moment: one serves the session, every other exits with code 1.
TEST_F(AgentProgramTest, AgentsStartedTogetherLeaveOneRunning) {
  constexpr int kStarted = 6;
  struct Started {
    AgentProcess agents[kStarted];
    // A second agent would outlive the fixture's stop of the first.
    ~Started() {
      for (AgentProcess& agent : agents)
        if (agent.process && agent.WaitExit(0) == STILL_ACTIVE) TerminateProcess(agent.process, 9);
    }
    int Running() const {
      int running = 0;
      for (const AgentProcess& agent : agents) running += agent.WaitExit(0) == STILL_ACTIVE;
      return running;
    }
  } started;
  // Made suspended and let go together, so that they all look for the
  // window before any has made one.
  HANDLE threads[kStarted] = {};
  const std::string line = "\"" + InstalledAgentPath() + "\"";
  for (int i = 0; i < kStarted; ++i) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    std::string writable = line;
    ASSERT_TRUE(CreateProcessA(nullptr, &writable[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                               nullptr, nullptr, &startup, &info));
    started.agents[i].process = info.hProcess;
    started.agents[i].pid = info.dwProcessId;
    threads[i] = info.hThread;
  }
  for (HANDLE thread : threads) {
    ResumeThread(thread);
    CloseHandle(thread);
  }
  ASSERT_TRUE(WaitForAgentWindow(kTimeoutMs));
  ASSERT_TRUE(PumpUntil([&] { return started.Running() <= 1; }, kTimeoutMs))
      << started.Running() << " agents run in one session";
  Sleep(300);  // time for a late one to go on running
  EXPECT_EQ(started.Running(), 1);
  for (const AgentProcess& agent : started.agents) {
    const DWORD code = agent.WaitExit(0);
    if (code == STILL_ACTIVE)
      EXPECT_EQ(RunningAgentProcess(), agent.pid);
    else
      EXPECT_EQ(code, 1u) << "agent " << agent.pid;
  }
}

TEST_F(AgentProgramTest, CapitalKStartsAnAgentAsWithoutTheOption) {
  StartRunningAgent("-K");
  EXPECT_EQ(agent_.WaitExit(200), STILL_ACTIVE);
}

TEST_F(AgentProgramTest, WithoutTheServiceItRunsTellsWaitingClientsAndConnectsLater) {
  TestClientWindow waiting;  // a library client waiting for an agent
  StartRunningAgent();
  ASSERT_TRUE(PumpUntil([&] { return !waiting.notices().empty(); }, kTimeoutMs));
  ASSERT_EQ(waiting.notices().size(), 1u);
  EXPECT_EQ(waiting.notices()[0].wParam, 1u);  // ManagerStarted, exactly 1
  EXPECT_EQ(waiting.notices()[0].lParam, 0u);
  // The failed open at start-up is reported once, as call id 8.
  EXPECT_TRUE(WaitForLine(agent_.pid, "[KestrinElf] 8() failed - "));

  // The service comes up later: the agent connects without being told (a
  // service in another session cannot reach it with its broadcast) and
  // sends the settings first.
  FakeServicePipe pipe;
  ASSERT_TRUE(pipe.Listen());
  ASSERT_TRUE(pipe.WaitConnected(kReconnectMs));
  const uint16_t defaults[4] = {0x8000, 0x8000, 0x8000, 0x8000};
  ExpectSettingsFirst(&pipe, defaults, 0);
}

TEST_F(AgentProgramTest, StartupSendsTheStoredSettingsLogFactorsFirstThenFlags) {
  struct Case {
    const char* name;
    bool storeFactors;
    uint16_t stored[4];
    bool storeFlags;
    uint32_t storedFlags;
    uint16_t sentFactors[4];
    uint16_t sentFlags;
    bool missingValueLine;  // call id 38 for a missing "LogFactors"
  } cases[] = {
      {"empty HKCU", false, {}, false, 0, {0x8000, 0x8000, 0x8000, 0x8000}, 0, false},
      {"Flags 0x00010001 only", false, {}, true, 0x00010001, {0x8000, 0x8000, 0x8000, 0x8000}, 1,
       true},
      {"both stored", true, {0x1111, 0x2222, 0x3333, 0x4444}, true, 0, {0x1111, 0x2222, 0x3333,
                                                                         0x4444}, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(StopAgent());
    DeleteSettingsKey();
    monitor_.Clear();
    if (c.storeFactors) {
      PutSetting(kLogFactorsValue, REG_QWORD, c.stored, 8);
    }
    if (c.storeFlags) {
      PutSetting(kFlagsValue, REG_DWORD, &c.storedFlags, 4);
    }
    FakeServicePipe pipe;
    ASSERT_TRUE(pipe.Listen());
    AgentProcess agent;
    ASSERT_TRUE(Launch("", &agent));
    ASSERT_TRUE(pipe.WaitConnected(kTimeoutMs));
    ASSERT_TRUE(WaitForAgentWindow(kTimeoutMs));
    ExpectSettingsFirst(&pipe, c.sentFactors, c.sentFlags);
    // The settings are read before they are sent: a line, if any, is on its
    // way to the monitor by now.
    const char* missing = "[KestrinElf] 38() failed - ";
    if (c.missingValueLine) {
      EXPECT_TRUE(WaitForLine(agent.pid, missing));
    } else {
      Sleep(200);
      EXPECT_FALSE(HasLine(agent.pid, missing));
    }
    // Nothing is written at start-up.
    StoredSettings stored = ReadStoredSettings();
    EXPECT_EQ(stored.haveFactors, c.storeFactors);
    EXPECT_EQ(stored.haveFlags, c.storeFlags);
    ASSERT_TRUE(StopAgent());
    EXPECT_EQ(agent.WaitExit(kTimeoutMs), 0u);
  }
}

TEST_F(AgentProgramTest, SettingsMadeWhileThePipeIsClosedAreStoredAndGoFirstAtReconnect) {
  auto pipe = std::make_unique<FakeServicePipe>();
  ASSERT_TRUE(pipe->Listen());
  StartRunningAgent();
  ASSERT_TRUE(pipe->WaitConnected(kTimeoutMs));
  ASSERT_EQ(pipe->ReceiveUntilQuiet(300).size(), 2u);

  // A broadcast while the pipe is open changes nothing.
  BroadcastServiceRunning();
  EXPECT_THAT(pipe->ReceiveUntilQuiet(500), IsEmpty());

  pipe.reset();  // the service stops: the agent's read fails
  Sleep(300);
  HWND manager = FindAgentWindow();
  const UINT message = RegisterWindowMessageA(kMessageName);
  PostMessageA(manager, message, RequestWParam(SetLogFactorsLow, 0x7777), (0x0202 << 16) | 0x0101);
  PostMessageA(manager, message, RequestWParam(SetLogFactorsHigh), (0x0404 << 16) | 0x0303);
  PostMessageA(manager, message, RequestWParam(SetFlags), 0x11);  // only bit 0 counts
  ASSERT_TRUE(PumpUntil(
      [] {
        StoredSettings s = ReadStoredSettings();
        return s.haveFactors && s.haveFlags;
      },
      kTimeoutMs));
  StoredSettings stored = ReadStoredSettings();
  EXPECT_EQ(stored.factorsType, static_cast<DWORD>(REG_QWORD));
  EXPECT_EQ(stored.flagsType, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(stored.factors[0], 0x0101);
  EXPECT_EQ(stored.factors[3], 0x0404);
  EXPECT_EQ(stored.flags, 1u);

  // The service is back and broadcasts that it runs.
  pipe = std::make_unique<FakeServicePipe>();
  ASSERT_TRUE(pipe->Listen());
  BroadcastServiceRunning();
  ASSERT_TRUE(pipe->WaitConnected(kReconnectMs));
  const uint16_t factors[4] = {0x0101, 0x0202, 0x0303, 0x0404};
  ExpectSettingsFirst(pipe.get(), factors, 1);
  EXPECT_THAT(pipe->ReceiveUntilQuiet(300), IsEmpty());
}

TEST_F(AgentProgramTest, MinusKEndsTheRunningAgentWhichClosesItsPipe) {
  FakeServicePipe pipe;
  ASSERT_TRUE(pipe.Listen());
  StartRunningAgent();
  ASSERT_TRUE(pipe.WaitConnected(kTimeoutMs));
  ASSERT_EQ(pipe.ReceiveUntilQuiet(300).size(), 2u);  // its read is outstanding now
  RunResult stop = RunProgram("\"" + InstalledAgentPath() + "\" -k", kTimeoutMs);
  EXPECT_EQ(stop.exitCode, 0u);
  EXPECT_EQ(agent_.WaitExit(kTimeoutMs), 0u);
  EXPECT_TRUE(pipe.WaitClientGone(kTimeoutMs));
  EXPECT_EQ(FindAgentWindow(), nullptr);
}

}  // namespace
