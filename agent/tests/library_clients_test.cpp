// The agent between client programs of Kestrin1.dll, end to end:
// KestrinSvcSim.exe on a simulated device, the installed agent, and
// KestrinLibraryClient.exe processes (written from the library's public
// header) that hold the foreground or work for the program that does. A
// button is pressed and let go on the device, and each client says what its
// callback heard and when.
#include <windows.h>
#include <tlhelp32.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdio.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "Kestrin1.h"
#include "agent_install.h"
#include "foreground_window.h"
#include "library_client.h"
#include "manager_messages.h"
#include "pump.h"
#include "report_bytes.h"
#include "simulated_service.h"

namespace {

using namespace Kestrin1;
using ::testing::IsEmpty;

constexpr DWORD kTimeoutMs = 20000;

std::vector<unsigned> EventsOf(const std::vector<LibraryEvent>& heard) {
  std::vector<unsigned> events;
  for (const LibraryEvent& e : heard) events.push_back(e.event);
  return events;
}

bool Heard(const LibraryClient& client, unsigned event, long param = 0) {
  for (const LibraryEvent& e : client.Events())
    if (e.event == event && e.param == param) return true;
  return false;
}

// The first time after `since` (microseconds) that the client heard event
// with param, or a negative value.
double HeardAt(const LibraryClient& client, unsigned event, long param, double since) {
  for (const LibraryEvent& e : client.Events())
    if (e.event == event && e.param == param && e.us >= since) return e.us;
  return -1;
}

double Ms(double fromUs, double toUs) { return (toUs - fromUs) / 1000.0; }

// A KestrinElf.exe that process `parent` started (the library keeps no
// handle of the agent it starts), or null.
HANDLE AgentStartedBy(DWORD parent, DWORD* pid) {
  HANDLE found = nullptr;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return nullptr;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more && !found;
       more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ParentProcessID != parent || _wcsicmp(entry.szExeFile, L"KestrinElf.exe") != 0)
      continue;
    found = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION, FALSE,
                        entry.th32ProcessID);
    *pid = entry.th32ProcessID;
  }
  CloseHandle(snapshot);
  return found;
}

class AgentLibraryClientsTest : public SimulatedServiceTest {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(InstallAgent(KESTRIN_ELF_EXE)); }

  void TearDown() override {
    clients_.clear();
    EXPECT_TRUE(StopAgent());
    // Agents this test started or found that are still there (one that
    // waits for another to end has no window for StopAgent to find).
    for (HANDLE agent : agents_) {
      if (WaitForSingleObject(agent, 0) == WAIT_TIMEOUT) {
        TerminateProcess(agent, 9);
        WaitForSingleObject(agent, 5000);
      }
      CloseHandle(agent);
    }
    SimulatedServiceTest::TearDown();
  }

  // A started client program, kept until the test ends.
  LibraryClient* NewClient() {
    clients_.push_back(std::make_unique<LibraryClient>(monitor_));
    LibraryClient* client = clients_.back().get();
    EXPECT_TRUE(client->Start(KESTRIN_LIBRARY_CLIENT_EXE));
    return client;
  }

  // Builds the client's object and puts its window in front; true once it
  // has heard that the device is there and enabled.
  bool ConnectInFront(LibraryClient* client) {
    if (client->Run(LibraryClient::Build) != 1) return false;
    if (client->Run(LibraryClient::TakeFront) != 1) return false;
    return PumpUntil([&] { return Heard(*client, EventDeviceEnabled); }, kTimeoutMs);
  }

  // Button 1 pressed, then let go; the performance counter at each report.
  void PressAndRelease(double* pressUs, double* releaseUs) {
    *pressUs = MicrosecondsNow();
    EXPECT_TRUE(SendReport(ball_ + 1, ScrollReport(0, 0, 1)));
    PumpFor(100);
    *releaseUs = MicrosecondsNow();
    EXPECT_TRUE(SendReport(ball_ + 1, ScrollReport(0, 0, 0)));
  }

  // Presses and lets go, and expects the client to hear both; the
  // milliseconds from each report to the callback (negative when unheard).
  std::pair<double, double> PressAndReleaseHeardBy(const LibraryClient& client) {
    double pressUs = 0, releaseUs = 0;
    PressAndRelease(&pressUs, &releaseUs);
    PumpUntil([&] { return HeardAt(client, EventButtonsChanged, 0, releaseUs) >= 0; },
              kTimeoutMs);
    const double press = HeardAt(client, EventButtonsChanged, 1, pressUs);
    const double release = HeardAt(client, EventButtonsChanged, 0, releaseUs);
    EXPECT_GE(press, 0) << "the press was not heard";
    EXPECT_GE(release, 0) << "the release was not heard";
    return {press < 0 ? -1 : Ms(pressUs, press), release < 0 ? -1 : Ms(releaseUs, release)};
  }

  std::vector<std::unique_ptr<LibraryClient>> clients_;
  std::vector<HANDLE> agents_;
};

TEST_F(AgentLibraryClientsTest, AClientOfTheProgramInFrontKeepsTheDeviceWhenAnotherNamesIt) {
  // P holds the foreground and hears the device. Another client names P's
  // process, twice: a program without a window registers for P (a helper or
  // plug-in host working for it), or a program says hello for P's window.
  struct Case {
    const char* name;
    bool helper;  // else a hello for P's window
  } cases[] = {
      {"a program without a window registers for it", true},
      {"another program says hello for its window", false},
  };
  ASSERT_NE(0u, StartAgent());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LibraryClient* p = NewClient();
    ASSERT_TRUE(ConnectInFront(p)) << ::testing::PrintToString(EventsOf(p->Events()));
    const size_t before = p->Events().size();
    LibraryClient* q = nullptr;
    if (c.helper) {
      q = NewClient();
      ASSERT_EQ(1, q->Run(LibraryClient::Build));
      for (int i = 0; i < 2; ++i) ASSERT_EQ(1, q->Run(LibraryClient::RegisterFor, p->pid()));
    } else {
      const UINT message = RegisterWindowMessageA(kestrin::manager::kMessageName);
      const LPARAM window = static_cast<LPARAM>(reinterpret_cast<uintptr_t>(p->FrontWindow()));
      ASSERT_NE(0, window);
      for (int i = 0; i < 2; ++i)
        PostMessageA(FindAgentWindow(), message,
                     kestrin::manager::RequestWParam(kestrin::manager::ClientHello), window);
    }

    const std::pair<double, double> heard = PressAndReleaseHeardBy(*p);
    PumpFor(300);  // anything else on its way
    std::vector<LibraryEvent> after = p->Events();
    after.erase(after.begin(), after.begin() + static_cast<long>(before));
    EXPECT_THAT(EventsOf(after), ::testing::ElementsAre(EventButtonsChanged, EventButtonsChanged))
        << "what the program in front heard after the other named it";
    if (q) {
      EXPECT_THAT(EventsOf(q->Events()), IsEmpty()) << "what the helper heard";
    }
    printf("%s: P heard the press after %.1f ms and the release after %.1f ms%s\n", c.name,
           heard.first, heard.second,
           q ? (q->Events().empty() ? "; Q heard nothing" : "; Q heard events") : "");
    clients_.clear();
  }
}

TEST_F(AgentLibraryClientsTest, AClosedClientHandsTheDeviceOnlyToAClientOfTheProgramInFront) {
  // Q works for P and registered before P built its object; P holds the
  // foreground and hears the device. P's last object goes (its goodbye):
  // while P is still in front Q, working for it, takes the device at once;
  // after another program came to the front (without a word to the agent)
  // Q hears nothing.
  struct Case {
    const char* name;
    bool anotherInFront;
  } cases[] = {
      {"P still in front", false},
      {"another program in front", true},
  };
  ASSERT_NE(0u, StartAgent());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LibraryClient* p = NewClient();
    LibraryClient* q = NewClient();
    ASSERT_EQ(1, q->Run(LibraryClient::Build));
    ASSERT_EQ(1, q->Run(LibraryClient::RegisterFor, p->pid()));
    ASSERT_TRUE(ConnectInFront(p)) << ::testing::PrintToString(EventsOf(p->Events()));
    ASSERT_THAT(EventsOf(q->Events()), IsEmpty());
    if (c.anotherInFront) {
      HWND front = ShowForegroundWindow("KestrinAgentTestFront", "another program");
      ASSERT_TRUE(front != nullptr && GetForegroundWindow() == front);
    }

    const double closeUs = MicrosecondsNow();
    ASSERT_EQ(1, p->Run(LibraryClient::Destroy));
    if (!c.anotherInFront) {
      ASSERT_TRUE(PumpUntil([&] { return Heard(*q, EventDeviceEnabled); }, kTimeoutMs));
      const std::pair<double, double> heard = PressAndReleaseHeardBy(*q);
      EXPECT_THAT(EventsOf(q->Events()),
                  ::testing::ElementsAre(EventDeviceAttached, EventDeviceEnabled,
                                         EventButtonsChanged, EventButtonsChanged));
      printf("%s: Q heard the device %.1f ms after P closed, the press after %.1f ms and the "
             "release after %.1f ms\n",
             c.name, Ms(closeUs, q->Events()[1].us), heard.first, heard.second);
    } else {
      double pressUs = 0, releaseUs = 0;
      PressAndRelease(&pressUs, &releaseUs);
      PumpFor(500);  // time for anything to arrive
      EXPECT_THAT(EventsOf(q->Events()), IsEmpty()) << "Q, in the background, heard";
      printf("%s: Q heard %s\n", c.name, q->Events().empty() ? "nothing" : "events");
    }
    clients_.clear();
  }
}

TEST_F(AgentLibraryClientsTest, AProgramInFrontThatClosesItsOnlyObjectHearsItsNextOneAtOnce) {
  ASSERT_NE(0u, StartAgent());
  LibraryClient* p = NewClient();
  ASSERT_TRUE(ConnectInFront(p)) << ::testing::PrintToString(EventsOf(p->Events()));
  ASSERT_EQ(1, p->Run(LibraryClient::Destroy));
  const double buildUs = MicrosecondsNow();
  ASSERT_EQ(1, p->Run(LibraryClient::Build));
  ASSERT_TRUE(PumpUntil([&] { return HeardAt(*p, EventDeviceEnabled, 0, buildUs) >= 0; },
                        kTimeoutMs))
      << "the new object heard nothing: " << ::testing::PrintToString(EventsOf(p->Events()));
  const std::pair<double, double> heard = PressAndReleaseHeardBy(*p);
  printf("the new object heard the device %.1f ms after it was built, the press after %.1f ms "
         "and the release after %.1f ms\n",
         Ms(buildUs, HeardAt(*p, EventDeviceEnabled, 0, buildUs)), heard.first, heard.second);
}

TEST_F(AgentLibraryClientsTest, AnAgentStartedWhileTheSessionsAgentIsEndingServesTheClient) {
  // The session's agent is on its way out: its window is gone (its shutdown
  // destroys it first), its process has not ended yet. A client program in
  // front builds its object, finds no agent and starts one. When the first
  // agent has ended (it quits, or is killed), the new one serves.
  struct Case {
    const char* name;
    bool killed;  // else it leaves its loop and shuts down
  } cases[] = {
      {"the ending agent quits", false},
      {"the ending agent is killed", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(StopAgent());
    const DWORD firstPid = StartAgent();
    ASSERT_NE(0u, firstPid);
    HANDLE first = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, firstPid);
    ASSERT_NE(nullptr, first);
    agents_.push_back(first);
    HWND window = FindAgentWindow();
    const DWORD firstThread = GetWindowThreadProcessId(window, nullptr);
    PostMessageA(window, WM_CLOSE, 0, 0);
    ASSERT_TRUE(PumpUntil([] { return FindAgentWindow() == nullptr; }, kTimeoutMs));
    ASSERT_EQ(WAIT_TIMEOUT, WaitForSingleObject(first, 0));

    LibraryClient* p = NewClient();
    ASSERT_EQ(1, p->Run(LibraryClient::TakeFront));
    ASSERT_EQ(1, p->Run(LibraryClient::Build));
    DWORD secondPid = 0;
    HANDLE second = nullptr;
    ASSERT_TRUE(PumpUntil([&] { return (second = AgentStartedBy(p->pid(), &secondPid)); },
                          kTimeoutMs));
    agents_.push_back(second);
    // The new agent looks for a serving one and finds the ending one's hold
    // on the session: it must not give up.
    PumpUntil([&] { return WaitForSingleObject(second, 0) == WAIT_OBJECT_0; }, 2000);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(second, &code);
    ASSERT_EQ(STILL_ACTIVE, code) << "the agent the client started exited with code " << code
                                  << " while the ending agent held the session";

    if (c.killed)
      TerminateProcess(first, 9);
    else
      PostThreadMessageA(firstThread, WM_QUIT, 0, 0);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(first, kTimeoutMs));
    const double endedUs = MicrosecondsNow();
    ASSERT_TRUE(PumpUntil([&] { return Heard(*p, EventDeviceEnabled); }, kTimeoutMs))
        << "the client heard nothing: " << ::testing::PrintToString(EventsOf(p->Events()));
    EXPECT_EQ(secondPid, RunningAgentProcess());
    const std::pair<double, double> heard = PressAndReleaseHeardBy(*p);
    printf("%s: P heard the device %.1f ms after the ending agent was gone, the press after "
           "%.1f ms and the release after %.1f ms\n",
           c.name, Ms(endedUs, HeardAt(*p, EventDeviceEnabled, 0, 0)), heard.first,
           heard.second);
    clients_.clear();
  }
}

}  // namespace
