// CKestrin's connection in a test process: the agent start, the connect and
// reconnect against a stand-in manager window of this process, notices
// posted to the client window, the requests the library posts, the idle
// wakeup, the section's open and view, and objects built after others were
// destroyed. Each case runs in a process of its own (one connection per
// process).
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

#include <atomic>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "connection_private.h"
#include "dbwin_monitor.h"
#include "section.h"
#include "manager_messages.h"
#include "message_windows.h"
#include "process_runner.h"
#include "pump.h"
#include "stand_in_manager.h"

using ::testing::ElementsAre;
using ::testing::StartsWith;
using namespace Kestrin1;
namespace km = kestrin::manager;

namespace {

// The requests the stand-in manager windows received: (wParam, lParam).
std::vector<StandInManager::Request>& g_Requests = StandInManager::Requests();

std::vector<std::pair<unsigned, long>> g_Events;
long KESTRIN1_CALLBACK RecordEvent(unsigned int event, long param) {
  g_Events.emplace_back(event, param);
  return 0;
}

LPARAM ClientLParam() { return reinterpret_cast<LPARAM>(g_Connection.m_ClientWindow); }

void PostNotice(uint32_t wParam, LPARAM lParam) {
  PostMessageA(g_Connection.m_ClientWindow, g_Connection.m_MessageId, wParam, lParam);
  PumpPending();
}

// The section as the service makes it, writable here.
class TestSection {
 public:
  TestSection() {
    mapping_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096,
                                  kSectionName);
    view_ = mapping_ ? MapViewOfFile(mapping_, FILE_MAP_ALL_ACCESS, 0, 0, 4096) : nullptr;
  }
  ~TestSection() {
    if (view_) UnmapViewOfFile(view_);
    if (mapping_) CloseHandle(mapping_);
  }
  DeviceMotionRecord* Record1() { return static_cast<DeviceMotionRecord*>(view_) + 1; }
  bool ok() const { return view_ != nullptr; }

 private:
  HANDLE mapping_;
  void* view_;
};

// One moving ball report with these values, published as the service does.
void PublishBall(DeviceMotionRecord* record, int16_t value) {
  uint16_t* header = BallHeaderOf(record);
  uint16_t h = BeginMotionBatch(header);
  BallBuffer* target = &record->m_Ball[MotionBackBuffer(h)];
  const BallBuffer& current = record->m_Ball[MotionCurrentBuffer(h)];
  for (int i = 0; i < 6; ++i) {
    target->m_Sums[i] = current.m_Sums[i] + value;
    target->m_Values[i] = value;
  }
  PublishMotionBatch(header, WithMovingBit(h, value != 0), 1);
}

// A new object, with g_Events empty, hears the device attached, enabled and
// the ball active, and reads one ball report of value published after that.
ABallMotion HearAndRead(CKestrin* kestrin, TestSection* section, int16_t value) {
  PostNotice(km::NoticeWParam(1, 0x0706), 0);
  EXPECT_THAT(g_Events, ElementsAre(std::make_pair(EventDeviceAttached, 0L),
                                    std::make_pair(EventDeviceEnabled, 0L),
                                    std::make_pair(EventBallActive, 0L)));
  PublishBall(section->Record1(), value);
  ABallMotion motion = {};
  EXPECT_EQ(1, KesGetBallMotion(kestrin, &motion));
  EXPECT_EQ(value, motion.tx);
  return motion;
}

int CountClientWindows() {
  return static_cast<int>(km::ClientWindowsOf(GetCurrentProcessId()).size());
}

// The stand-in agents this process started that still run (the library keeps
// no handle of the agent it starts).
std::vector<HANDLE> StandInsRunning() {
  std::vector<HANDLE> running;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return running;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ParentProcessID != GetCurrentProcessId() ||
        _wcsicmp(entry.szExeFile, L"KestrinElf.exe") != 0)
      continue;
    if (HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID))
      running.push_back(process);
  }
  CloseHandle(snapshot);
  return running;
}

void WaitForStandIns() {
  for (HANDLE process : StandInsRunning()) {
    WaitForSingleObject(process, 10000);
    CloseHandle(process);
  }
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// A folder standing in for the program-files folder, holding the stand-in
// agent where the installed one would be; "ProgramFiles" names it while the
// object lives. It goes with the object, once every stand-in this process
// started has ended: a running one keeps its program file, and one that has
// not yet written its log would write it into the folder after it went.
class AgentFolder {
 public:
  explicit AgentFolder(bool withAgent) {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    folder_ = std::string(temp) + "kestrin1-test-" + std::to_string(GetCurrentProcessId());
    std::string agentDir = folder_ + "\\Pellmor Vastine\\Kestrin";
    CreateDirectoryA(folder_.c_str(), nullptr);
    CreateDirectoryA((folder_ + "\\Pellmor Vastine").c_str(), nullptr);
    CreateDirectoryA(agentDir.c_str(), nullptr);
    log_ = agentDir + "\\starts.log";
    DeleteFileA(log_.c_str());
    agent_ = agentDir + "\\KestrinElf.exe";
    if (withAgent) CopyFileA(WinePath(KESTRIN_AGENT_STAND_IN_EXE).c_str(), agent_.c_str(), FALSE);
    SetEnvironmentVariableA("ProgramFiles", folder_.c_str());
  }
  ~AgentFolder() {
    WaitForStandIns();
    DeleteFileA(log_.c_str());
    DeleteFileA(agent_.c_str());
    RemoveDirectoryA((folder_ + "\\Pellmor Vastine\\Kestrin").c_str());
    RemoveDirectoryA((folder_ + "\\Pellmor Vastine").c_str());
    RemoveDirectoryA(folder_.c_str());
  }
  const std::string& path() const { return folder_; }
  // The lines of starts.log once it holds at least `want` of them (5 s at most).
  std::vector<std::string> Starts(size_t want) const {
    std::vector<std::string> lines;
    for (int i = 0; i < 100; ++i) {
      lines.clear();
      std::ifstream in(log_);
      for (std::string line; std::getline(in, line);) lines.push_back(line);
      if (lines.size() >= want) break;
      Sleep(50);
    }
    return lines;
  }
  const std::string& agent() const { return agent_; }

 private:
  std::string folder_, log_, agent_;
};

TEST(Kestrin1AgentStart, FirstConstructionStartsTheAgentOnceThenSaysHelloOnManagerStarted) {
  TestSection section;
  ASSERT_TRUE(section.ok());
  AgentFolder folder(true);
  CKestrin first;
  // Started once with an empty command line (under Wine the program sees its
  // own quoted path in place of an empty one: no arguments either way);
  // nothing to post to yet, and the section is not opened before the agent
  // is there.
  EXPECT_THAT(folder.Starts(1),
              ElementsAre(::testing::AnyOf("[]", "[\"" + folder.agent() + "\"]")));
  EXPECT_EQ(nullptr, g_Connection.m_ManagerWindow);
  EXPECT_EQ(nullptr, g_Connection.m_View);
  EXPECT_NE(nullptr, g_Connection.m_ClientWindow);
  EXPECT_EQ(1, CountClientWindows());

  StandInManager manager;
  PumpPending();
  EXPECT_TRUE(g_Requests.empty());
  PostNotice(km::NoticeWParam(0, km::ManagerStarted), 0);
  EXPECT_THAT(g_Requests, ElementsAre(std::make_pair(km::RequestWParam(km::ClientHello),
                                                     ClientLParam())));
  EXPECT_EQ(manager.window(), g_Connection.m_ManagerWindow);
  EXPECT_NE(nullptr, g_Connection.m_View);

  // A second object does not connect again: no start, no hello, one window;
  // notices then update the newest object's state only.
  g_Requests.clear();
  CKestrin second;
  PumpPending();
  EXPECT_TRUE(g_Requests.empty());
  EXPECT_EQ(1, CountClientWindows());
  PostNotice(km::NoticeWParam(1, 0x0306), 0);
  EXPECT_EQ(0x0306, second.m_pConnection->m_Status);
  EXPECT_EQ(0, first.m_pConnection->m_Status);
  Sleep(200);
  EXPECT_EQ(1u, folder.Starts(1).size());
}

// The stand-in's folder goes whichever ends first, the stand-in or the test.
struct StandInEnd {
  const char* m_Name;
  const char* m_Times;  // KESTRIN_STAND_IN_TIMES: ms before and after its log line
  bool m_SeenStarting;  // the test waits for its log line
  bool m_SeenEnding;    // and for it to end
};

void PrintTo(const StandInEnd& c, std::ostream* os) { *os << c.m_Name; }

class Kestrin1AgentStartFolder : public ::testing::TestWithParam<StandInEnd> {};

TEST_P(Kestrin1AgentStartFolder, NothingIsLeftOfTheStandIn) {
  const StandInEnd& c = GetParam();
  SetEnvironmentVariableA("KESTRIN_STAND_IN_TIMES", c.m_Times);
  std::string path;
  {
    AgentFolder folder(true);
    path = folder.path();
    CKestrin kestrin;  // no manager window: the stand-in is started
    if (c.m_SeenStarting) {
      EXPECT_EQ(1u, folder.Starts(1).size());
    }
    if (c.m_SeenEnding) WaitForStandIns();
    EXPECT_TRUE(Exists(folder.agent()));
  }
  SetEnvironmentVariableA("KESTRIN_STAND_IN_TIMES", nullptr);
  EXPECT_FALSE(Exists(path)) << path << " is left behind";
  // Nothing comes back later either.
  Sleep(300);
  EXPECT_FALSE(Exists(path)) << path << " came back";
}

INSTANTIATE_TEST_SUITE_P(
    WhoeverEndsFirst, Kestrin1AgentStartFolder,
    ::testing::Values(StandInEnd{"TheStandInEndedFirst", "0 0", true, true},
                      StandInEnd{"TheStandInStillRuns", "0 1500", true, false},
                      StandInEnd{"TheStandInHasNotWrittenYet", "1000 0", false, false}),
    [](const ::testing::TestParamInfo<StandInEnd>& info) { return std::string(info.param.m_Name); });

TEST(Kestrin1AgentStart, ProgramPathFromTheEnvironment) {
  const struct {
    const char* m_Folder;  // null: the variable is unset
    const char* m_Path;
  } cases[] = {
      {"D:\\Apps", "D:\\Apps\\Pellmor Vastine\\Kestrin\\KestrinElf.exe"},
      {nullptr, "C:\\Program Files\\Pellmor Vastine\\Kestrin\\KestrinElf.exe"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.m_Path);
    SetEnvironmentVariableA("ProgramFiles", c.m_Folder);
    char* path = AgentProgramPath();
    ASSERT_NE(nullptr, path);
    EXPECT_STREQ(c.m_Path, path);
    LocalFree(path);
  }
}

TEST(Kestrin1AgentStart, AFailedStartIsOneDebugLine) {
  DebugMonitor monitor;
  ASSERT_TRUE(monitor.Start());
  AgentFolder folder(false);  // no agent installed there
  CKestrin kestrin;
  ASSERT_TRUE(monitor.WaitForText("[Kestrin1] ", 5000));
  monitor.Stop();
  std::vector<std::string> lines = monitor.TextsFrom(GetCurrentProcessId());
  ASSERT_EQ(1u, lines.size());
  EXPECT_THAT(lines[0], StartsWith("[Kestrin1] CreateProcess() failed: <"));
  // The system text without its own line break, then the line's.
  EXPECT_EQ(std::string::npos, lines[0].find('\r'));
  EXPECT_EQ('\n', lines[0].back());
  // No manager was found: FocusChanged posts nothing.
  StandInManager manager;
  CKestrin::FocusChanged(1);
  PumpPending();
  EXPECT_TRUE(g_Requests.empty());
}

class Kestrin1Connected : public ::testing::Test {
 protected:
  void SetUp() override {
    g_Requests.clear();
    g_Events.clear();
    kestrin_ = new CKestrin();
    PumpPending();
    CKestrin::Register(RecordEvent, GetCurrentProcessId());
  }
  void TearDown() override { delete kestrin_; }
  StandInManager manager_;
  CKestrin* kestrin_ = nullptr;
};

TEST_F(Kestrin1Connected, HelloAtConstructionAndTheExportedGlobals) {
  EXPECT_THAT(g_Requests, ElementsAre(std::make_pair(km::RequestWParam(km::ClientHello),
                                                     ClientLParam())));
  EXPECT_EQ(&g_Connection.m_View, AJLSKDFHEIEMUWPMXURSKDFNB.m_pView);
  EXPECT_EQ(&g_Connection.m_ManagerWindow, AJLSKDFHEIEMUWPMXURSKDFNB.m_pManagerWindow);
  EXPECT_EQ(&g_Connection.m_MessageId, AJLSKDFHEIEMUWPMXURSKDFNB.m_pMessageId);
  EXPECT_EQ(RegisterWindowMessageA(km::kMessageName), *AJLSKDFHEIEMUWPMXURSKDFNB.m_pMessageId);
  EXPECT_EQ(manager_.window(), *AJLSKDFHEIEMUWPMXURSKDFNB.m_pManagerWindow);
  EXPECT_EQ(RecordEvent, AJLSKDFHEIEMUWPMXURSKDFNB.m_Callback);
  EXPECT_NE(nullptr, g_Connection.m_IdleHook);
}

TEST_F(Kestrin1Connected, NoticesBecomeEventsThroughTheWindow) {
  // All three bits at once, then buttons; the device id in the high word is
  // not looked at.
  PostNotice(km::NoticeWParam(3, 0x0706), 4);
  EXPECT_THAT(g_Events, ElementsAre(std::make_pair(EventDeviceAttached, 0L),
                                    std::make_pair(EventDeviceEnabled, 0L),
                                    std::make_pair(EventBallActive, 0L),
                                    std::make_pair(EventButtonsChanged, 4L)));
  g_Events.clear();
  // Other codes are ignored, ClientRegistered among them.
  PostNotice(km::NoticeWParam(1, km::ClientRegistered), 1);
  PostNotice(km::NoticeWParam(1, 0x0704), 9);
  // Buttons only.
  PostNotice(km::NoticeWParam(1, 0x0706), 6);
  EXPECT_THAT(g_Events, ElementsAre(std::make_pair(EventButtonsChanged, 6L)));
  g_Events.clear();
  // The wakeup command, and other commands that are not it.
  PostMessageA(g_Connection.m_ClientWindow, WM_COMMAND, 0, 0);
  PostMessageA(g_Connection.m_ClientWindow, WM_COMMAND, 1, 0);
  PumpPending();
  EXPECT_THAT(g_Events, ElementsAre(std::make_pair(EventWakeup, 0L)));
  // UnRegister puts the do-nothing callback back.
  g_Events.clear();
  EXPECT_EQ(1, CKestrin::UnRegister(12345));
  PostNotice(km::NoticeWParam(1, 0x0306), 6);
  EXPECT_TRUE(g_Events.empty());
  EXPECT_EQ(0, AJLSKDFHEIEMUWPMXURSKDFNB.m_Callback(1, 2));
}

TEST_F(Kestrin1Connected, RequestsPostedToTheManager) {
  g_Requests.clear();
  const LPARAM client = ClientLParam();
  EXPECT_EQ(1, CKestrin::Register(RecordEvent, GetCurrentProcessId()));
  PumpPending();
  EXPECT_TRUE(g_Requests.empty());
  EXPECT_EQ(1, CKestrin::Register(RecordEvent, 0x12345678));
  CKestrin::FocusChanged(7);
  CKestrin::FocusChanged(0);
  PumpPending();
  EXPECT_THAT(g_Requests,
              ElementsAre(std::make_pair(km::RequestWParam(km::ClientProcessHigh, 0x1234), client),
                          std::make_pair(km::RequestWParam(km::ClientProcessLow, 0x5678), client),
                          std::make_pair(km::RequestWParam(km::ClientFocusGained), client),
                          std::make_pair(km::RequestWParam(km::ClientFocusLost), client)));
}

TEST_F(Kestrin1Connected, OneWakeupPerRequestWhenTheThreadGoesIdle) {
  // The system never calls the foreground-idle hook under Wine: the test
  // calls the hook procedure as the system would.
  CKestrin::RequestWakeup();
  CKestrin::RequestWakeup();
  ForegroundIdleProc(1, 0, 0);  // not HC_ACTION: the request stays
  PumpPending();
  EXPECT_TRUE(g_Events.empty());
  ForegroundIdleProc(HC_ACTION, 0, 0);
  ForegroundIdleProc(HC_ACTION, 0, 0);
  PumpPending();
  EXPECT_THAT(g_Events, ElementsAre(std::make_pair(EventWakeup, 0L)));
  g_Events.clear();
  ForegroundIdleProc(HC_ACTION, 0, 0);
  PumpPending();
  EXPECT_TRUE(g_Events.empty());
}

TEST_F(Kestrin1Connected, DeviceEnumerationAndConstantMembers) {
  EXPECT_EQ(0, CKestrin::GetNextKestrinId());
  EXPECT_EQ(1, CKestrin::GetKestrinCount());
  EXPECT_EQ(1, CKestrin::GetNextKestrinId());
  EXPECT_EQ(0, CKestrin::GetNextKestrinId());
  CKestrin::GetKestrinCount();
  CKestrin::GetKestrinCount();
  EXPECT_EQ(1, CKestrin::GetNextKestrinId());
  EXPECT_EQ(0, CKestrin::GetNextKestrinId());

  EXPECT_EQ(1, kestrin_->GetKestrinId());
  EXPECT_EQ(0, kestrin_->GetAccessMode());
  EXPECT_EQ(0, kestrin_->SetAccessMode(static_cast<CKestrin::EAccessMode>(3)));
  unsigned long detail = 77;
  EXPECT_EQ(0u, kestrin_->GetLastError(&detail));
  EXPECT_EQ(77u, detail);
  EXPECT_STREQ("CKestrin::GetErrorText() not implemented!", kestrin_->GetErrorText(5));
  EXPECT_FLOAT_EQ(0.0002048f, CKestrin::SecondsPerTic());
}

TEST(Kestrin1Section, MissingIsSilentAndANonSectionIsReported) {
  DebugMonitor monitor;
  ASSERT_TRUE(monitor.Start());
  StandInManager manager;
  {
    CKestrin kestrin;  // no section: nothing said, nothing mapped
    EXPECT_EQ(nullptr, g_Connection.m_View);
    ABallMotion motion;
    EXPECT_EQ(0, KesGetBallMotion(&kestrin, &motion));
  }
  // Another kind of object holds the name.
  HANDLE squatter = CreateEventA(nullptr, TRUE, FALSE, kSectionName);
  ASSERT_NE(nullptr, squatter);
  {
    CKestrin kestrin;
    ASSERT_TRUE(monitor.WaitForText("OpenFileMapping", 5000));
  }
  monitor.Stop();
  CloseHandle(squatter);
  std::vector<std::string> lines = monitor.TextsFrom(GetCurrentProcessId());
  ASSERT_EQ(1u, lines.size());
  EXPECT_THAT(lines[0], StartsWith("[Kestrin1] OpenFileMapping() failed: <6> "));
}

TEST(Kestrin1Section, EachReconnectReleasesTheEarlierHandleAndKeepsTheOneView) {
  TestSection section;
  ASSERT_TRUE(section.ok());
  StandInManager manager;
  CKestrin kestrin;
  HANDLE firstHandle = g_Connection.m_Mapping;
  void* view = g_Connection.m_View;
  ASSERT_NE(nullptr, firstHandle);
  ASSERT_NE(nullptr, view);
  PostNotice(km::NoticeWParam(0, km::ManagerStarted), 0);
  EXPECT_NE(nullptr, g_Connection.m_Mapping);
  EXPECT_NE(firstHandle, g_Connection.m_Mapping);
  DWORD flags;
  EXPECT_FALSE(GetHandleInformation(firstHandle, &flags));
  EXPECT_EQ(view, g_Connection.m_View);
}

TEST(Kestrin1Lifetime, AnObjectBuiltAfterTheLastWasDestroyedConnectsAgain) {
  TestSection section;
  ASSERT_TRUE(section.ok());
  StandInManager manager;
  CKestrin::Register(RecordEvent, GetCurrentProcessId());
  CKestrin* first = KesKestrinCreate(0, CKestrin::AccessModeDefault);
  ASSERT_NE(nullptr, first);
  HWND firstWindow = g_Connection.m_ClientWindow;
  void* view = g_Connection.m_View;
  PumpPending();
  KesKestrinDestroy(first);
  KesKestrinDestroy(nullptr);
  // Everything but the view is released, once.
  EXPECT_FALSE(IsWindow(firstWindow));
  EXPECT_EQ(nullptr, g_Connection.m_ClientWindow);
  EXPECT_EQ(nullptr, g_Connection.m_IdleHook);
  EXPECT_EQ(nullptr, g_Connection.m_Mapping);
  EXPECT_EQ(view, g_Connection.m_View);
  EXPECT_EQ(0, CountClientWindows());
  // The agent is told the window is gone: it hands the process's focus on.
  g_Requests.clear();
  PumpPending();
  EXPECT_THAT(g_Requests, ElementsAre(std::make_pair(km::RequestWParam(km::ClientGoodbye),
                                                     reinterpret_cast<LPARAM>(firstWindow))));

  g_Requests.clear();
  CKestrin* second = KesKestrinCreate(0, CKestrin::AccessModeDefault);
  PumpPending();
  EXPECT_EQ(1, CountClientWindows());
  EXPECT_NE(nullptr, g_Connection.m_IdleHook);
  EXPECT_NE(nullptr, g_Connection.m_Mapping);
  EXPECT_THAT(g_Requests, ElementsAre(std::make_pair(km::RequestWParam(km::ClientHello),
                                                     ClientLParam())));
  // The new object hears the device and reads motion.
  ABallMotion motion = HearAndRead(second, &section, 321);
  EXPECT_EQ(321, motion.rz);
  EXPECT_EQ(122, motion.tics);
  KesKestrinDestroy(second);
  EXPECT_EQ(0, CountClientWindows());
}

TEST(Kestrin1Lifetime, SeveralObjectsShareTheConnectionUntilTheLastGoes) {
  StandInManager manager;
  CKestrin::Register(RecordEvent, GetCurrentProcessId());
  CKestrin* older = new CKestrin();
  CKestrin* newer = new CKestrin();
  CKestrin* newest = new CKestrin();
  // An older object going leaves the newest one's notices alone.
  delete older;
  EXPECT_EQ(1, CountClientWindows());
  PostNotice(km::NoticeWParam(1, 0x0306), 0);
  EXPECT_EQ(0x0306, newest->m_pConnection->m_Status);
  // The newest going stops the notices; the connection stays for the other.
  delete newest;
  g_Events.clear();
  PostNotice(km::NoticeWParam(1, 0x0706), 0);
  EXPECT_TRUE(g_Events.empty());
  EXPECT_EQ(0, newer->m_pConnection->m_Status);
  EXPECT_EQ(1, CountClientWindows());
  delete newer;
  EXPECT_EQ(0, CountClientWindows());
}

CKestrin* g_Doomed = nullptr;
long KESTRIN1_CALLBACK DestroyOnAttach(unsigned int event, long param) {
  g_Events.emplace_back(event, param);
  if (event == EventDeviceAttached) {
    delete g_Doomed;
    g_Doomed = nullptr;
  }
  return 0;
}

TEST(Kestrin1Lifetime, DestroyedInsideItsOwnCallback) {
  // A client that lets its object go when the device goes away, from the
  // callback: the rest of that notice is not applied to the freed state.
  StandInManager manager;
  g_Events.clear();
  CKestrin::Register(DestroyOnAttach, GetCurrentProcessId());
  g_Doomed = new CKestrin();
  PostNotice(km::NoticeWParam(1, 0x0706), 3);
  EXPECT_THAT(g_Events, ElementsAre(std::make_pair(EventDeviceAttached, 0L)));
  EXPECT_EQ(nullptr, g_Doomed);
  EXPECT_EQ(0, CountClientWindows());
}

TEST(Kestrin1Lifetime, TheLastObjectDestroyedOnAnotherThread) {
  // The connection belongs to the thread that built the first object; the
  // last object goes on another one, and the window still goes, once. (On
  // Windows DestroyWindow refuses another thread's window; Wine's destroys
  // it anyway, so here this shows the release, not the refusal.)
  StandInManager manager;
  CKestrin* kestrin = nullptr;
  HWND window = nullptr;
  HANDLE built = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  HANDLE destroyed = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  std::thread owner([&] {
    kestrin = new CKestrin();
    window = g_Connection.m_ClientWindow;
    SetEvent(built);
    WaitForSingleObject(destroyed, 5000);
    PumpPending();
  });
  WaitForSingleObject(built, 5000);
  ASSERT_NE(nullptr, window);
  delete kestrin;
  EXPECT_EQ(nullptr, g_Connection.m_ClientWindow);
  EXPECT_EQ(nullptr, g_Connection.m_IdleHook);
  SetEvent(destroyed);
  owner.join();
  EXPECT_FALSE(IsWindow(window));
  CloseHandle(built);
  CloseHandle(destroyed);
}

TEST(Kestrin1Lifetime, AClientWindowDestroyedWhileItsThreadLivesHandsTheConnectionOn) {
  // A host tearing down its thread's windows destroys the client window too,
  // and the thread lives on. Its idle hook goes with the window (no hook into
  // the library is left on that thread, which would outlive an unload), the
  // agent hears goodbye for the window, and the thread of the newest object,
  // this one, takes the connection over.
  StandInManager manager;
  CKestrin::Register(RecordEvent, GetCurrentProcessId());
  HANDLE built = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE destroy = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE destroyed = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE end = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HWND window = nullptr;
  HHOOK hook = nullptr;
  std::thread owner([&] {
    CKestrin* first = new CKestrin();
    window = g_Connection.m_ClientWindow;
    hook = g_Connection.m_IdleHook;
    SetEvent(built);
    WaitForSingleObject(destroy, 20000);
    DestroyWindow(window);
    SetEvent(destroyed);
    WaitForSingleObject(end, 20000);
    delete first;
  });
  WaitForSingleObject(built, 20000);
  ASSERT_NE(nullptr, hook);
  CKestrin* kept = new CKestrin();
  PumpPending();
  g_Requests.clear();
  SetEvent(destroy);
  WaitForSingleObject(destroyed, 20000);
  // The owner lives: its hook was removed all the same.
  EXPECT_FALSE(UnhookWindowsHookEx(hook)) << "the destroyed window's hook is still set";
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HOOK_HANDLE), GetLastError());

  PumpPending();
  HWND here = g_Connection.m_ClientWindow;
  ASSERT_TRUE(IsWindow(here));
  EXPECT_EQ(GetCurrentThreadId(), GetWindowThreadProcessId(here, nullptr));
  EXPECT_NE(nullptr, g_Connection.m_IdleHook);
  EXPECT_THAT(g_Requests, ElementsAre(std::make_pair(km::RequestWParam(km::ClientGoodbye),
                                                     reinterpret_cast<LPARAM>(window)),
                                      std::make_pair(km::RequestWParam(km::ClientHello),
                                                     reinterpret_cast<LPARAM>(here))));
  g_Events.clear();
  PostNotice(km::NoticeWParam(1, 0x0306), 0);
  EXPECT_THAT(g_Events, ElementsAre(std::make_pair(EventDeviceAttached, 0L),
                                    std::make_pair(EventDeviceEnabled, 0L)));
  SetEvent(end);
  owner.join();
  delete kept;
  EXPECT_EQ(0, CountClientWindows());
  EXPECT_EQ(nullptr, g_Connection.m_IdleHook);
  for (HANDLE h : {built, destroy, destroyed, end}) CloseHandle(h);
}

// ---- the view across a service restart, and the read state at a late mapping ----

// Each axis of a read between lo and hi.
void ExpectWithin(const ABallMotion& m, int lo, int hi) {
  for (short v : {m.tx, m.ty, m.tz, m.rx, m.ry, m.rz}) {
    EXPECT_GE(v, lo);
    EXPECT_LE(v, hi);
  }
}

TEST(Kestrin1Section, AServiceRestartedAfterTheLastObjectWentIsReadByTheNextObject) {
  // Every object goes, then the service stops (its handles and view with it)
  // and starts again, creating the section by its name: an object built now
  // reads what the new service publishes.
  StandInManager manager;
  CKestrin::Register(RecordEvent, GetCurrentProcessId());
  auto service = std::make_unique<TestSection>();
  ASSERT_TRUE(service->ok());
  CKestrin* first = new CKestrin();
  ASSERT_NE(nullptr, g_Connection.m_View);
  delete first;
  service.reset();

  TestSection restarted;
  ASSERT_TRUE(restarted.ok());
  CKestrin second;
  PumpPending();
  PostNotice(km::NoticeWParam(1, 0x0706), 0);
  ABallMotion motion = {};
  PublishBall(restarted.Record1(), 321);
  ASSERT_EQ(1, second.GetBallMotion());
  EXPECT_EQ(321, second.m_Motion.tx);
  EXPECT_EQ(321, second.m_Motion.rz);
  PublishBall(restarted.Record1(), 7);
  PublishBall(restarted.Record1(), 9);
  ASSERT_EQ(1, KesGetBallMotion(&second, &motion));
  EXPECT_EQ(8, motion.ty);  // the mean of the two reports since the last read
}

TEST(Kestrin1Section, ALateMappingPrimesEveryLiveObjectFromThatMoment) {
  // The first client starts the agent itself, so the view comes later than
  // the objects; the service has been streaming all along. The first read
  // covers the reports since the mapping, not the service's whole run.
  TestSection service;
  ASSERT_TRUE(service.ok());
  AgentFolder folder(true);
  CKestrin::Register(RecordEvent, GetCurrentProcessId());
  CKestrin older, newer;
  ASSERT_EQ(nullptr, g_Connection.m_View);
  for (int i = 0; i < 20; ++i) PublishBall(service.Record1(), 300);

  StandInManager manager;
  PostNotice(km::NoticeWParam(0, km::ManagerStarted), 0);
  ASSERT_NE(nullptr, g_Connection.m_View);
  for (int16_t value : {-100, -120, -140}) PublishBall(service.Record1(), value);

  PostNotice(km::NoticeWParam(1, 0x0706), 0);  // the newest object hears it
  older.m_pConnection->m_Status = newer.m_pConnection->m_Status;
  for (CKestrin* k : {&newer, &older}) {
    SCOPED_TRACE(k == &newer ? "newer" : "older");
    ASSERT_EQ(1, k->GetBallMotion());
    EXPECT_EQ(122, k->m_Motion.tics);
    ExpectWithin(k->m_Motion, -140, -100);
    EXPECT_EQ(-120, k->m_Motion.tx);
  }
  // A later object is primed at its construction.
  for (int16_t value : {50, 60}) PublishBall(service.Record1(), value);
  CKestrin latest;
  PostNotice(km::NoticeWParam(1, 0x0706), 0);
  PublishBall(service.Record1(), 70);
  PublishBall(service.Record1(), 80);
  ASSERT_EQ(1, latest.GetBallMotion());
  EXPECT_EQ(75, latest.m_Motion.tx);
}

// ---- the callback ----

TEST_F(Kestrin1Connected, ANullCallbackIsNoCallback) {
  EXPECT_EQ(1, CKestrin::Register(nullptr, GetCurrentProcessId()));
  EXPECT_NE(nullptr, AJLSKDFHEIEMUWPMXURSKDFNB.m_Callback);
  PostNotice(km::NoticeWParam(1, 0x0706), 3);
  EXPECT_EQ(0x0706, kestrin_->m_pConnection->m_Status);
  EXPECT_EQ(3u, kestrin_->m_pConnection->m_StatusValue);
  EXPECT_EQ(1, KesRegister(nullptr, 0x12345678));
  PostMessageA(g_Connection.m_ClientWindow, WM_COMMAND, 0, 0);
  PumpPending();
  PostNotice(km::NoticeWParam(1, 0x0306), 4);
  // A client that writes the exported callback word itself.
  AJLSKDFHEIEMUWPMXURSKDFNB.m_Callback = nullptr;
  PostNotice(km::NoticeWParam(1, 0x0706), 5);
  EXPECT_EQ(5u, kestrin_->m_pConnection->m_StatusValue);
  // A real callback afterwards is heard again.
  CKestrin::Register(RecordEvent, GetCurrentProcessId());
  PostNotice(km::NoticeWParam(1, 0x0706), 6);
  EXPECT_THAT(g_Events, ElementsAre(std::make_pair(EventButtonsChanged, 6L)));
}

// ---- objects on several threads ----

// State blocks given back while a test runs: filled with a mark and kept, so
// that a write into a state after it was freed shows. A block freed while the
// window procedure holds it for a notice is counted as well. (Which state a
// notice works on is the one newest when the procedure took it: by the time
// the callback runs, the other thread may have made a newer one.)
constexpr unsigned char kFreedMark = 0xDD;
std::mutex g_QuarantineLock;
std::vector<std::pair<unsigned char*, size_t>> g_Quarantine;
std::atomic<long> g_Freed{0}, g_FreedWhileApplied{0};
void QuarantineState(void* block, size_t bytes) {
  if (NoticesHolding(static_cast<const ConnectionState*>(block)) != 0) ++g_FreedWhileApplied;
  memset(block, kFreedMark, bytes);
  std::lock_guard<std::mutex> hold(g_QuarantineLock);
  g_Quarantine.emplace_back(static_cast<unsigned char*>(block), bytes);
  ++g_Freed;
}
// Blocks written after they were freed; the quarantine is emptied.
size_t WrittenAfterFree() {
  std::lock_guard<std::mutex> hold(g_QuarantineLock);
  size_t written = 0;
  for (auto& block : g_Quarantine) {
    for (size_t i = 0; i < block.second; ++i) {
      if (block.first[i] != kFreedMark) {
        ++written;
        break;
      }
    }
    ::operator delete(block.first);
  }
  g_Quarantine.clear();
  return written;
}

void SpinMicroseconds(int us) {
  LARGE_INTEGER frequency, start, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  do {
    QueryPerformanceCounter(&now);
  } while ((now.QuadPart - start.QuadPart) * 1000000 < us * frequency.QuadPart);
}

// A client whose callback takes its time: while it runs, the other thread
// destroys objects (the one whose state the notice is for among them).
std::atomic<long> g_Heard{0};
long KESTRIN1_CALLBACK SlowCallback(unsigned int, long) {
  const long freed = g_Freed;
  const DWORD start = GetTickCount();
  while (g_Freed < freed + 2 && GetTickCount() - start < 100) {
  }
  ++g_Heard;
  return 0;
}

TEST(Kestrin1Threads, ObjectsDestroyedOnAnotherThreadWhileNoticesArrive) {
  // The connection's thread applies notices to the newest object's state;
  // another thread keeps building and destroying objects (each becomes the
  // newest). No state is freed while a notice is being applied to it, and
  // none is written after it was freed.
  StandInManager manager;
  CKestrin::Register(SlowCallback, GetCurrentProcessId());
  CKestrin kept;  // the connection stays with this thread
  g_FreeStateMemory = QuarantineState;
  std::atomic<bool> stop{false};
  std::atomic<long> cycles{0};
  std::thread other([&] {
    while (!stop) {
      CKestrin* k = new CKestrin();
      SpinMicroseconds(200);  // lives a while as the newest object
      delete k;
      ++cycles;
    }
  });
  for (int i = 0; i < 300; ++i) {
    // Buttons alone, then the state bits too: both write into the state.
    const uint16_t low = (i & 2) ? 0x0706 : 0x0306;
    // Sent while an object of the other thread is the newest.
    const DWORD start = GetTickCount();
    for (ConnectionState* s = nullptr;
         (!s || s == kept.m_pConnection) && GetTickCount() - start < 100;)
      s = __atomic_load_n(&g_Connection.m_CurrentState, __ATOMIC_ACQUIRE);
    PostMessageA(g_Connection.m_ClientWindow, g_Connection.m_MessageId,
                 km::NoticeWParam(1, low), i);
    PumpPending();
  }
  stop = true;
  other.join();
  g_FreeStateMemory = nullptr;
  printf("%ld objects built and destroyed on the other thread, %ld events heard\n",
         cycles.load(), g_Heard.load());
  EXPECT_GT(g_Heard.load(), 100);
  EXPECT_EQ(0, g_FreedWhileApplied.load());
  EXPECT_EQ(0u, WrittenAfterFree());
  EXPECT_EQ(1, g_Connection.m_Objects);
}

TEST(Kestrin1Threads, ConstructionAndDestructionOnTwoThreadsShareOneConnection) {
  // Two threads build and destroy their objects at the same time; an object
  // never joins a connection that is being closed, and no connection is
  // made twice. Neither thread ends before both are done: a thread that ends
  // takes its windows and hooks with it, which the library hears in its
  // thread detach (a DLL's: the host tests, Kestrin1HostThreads, end threads
  // while objects are built) or finds at the next construction (the case
  // below).
  StandInManager manager;
  std::atomic<int> orphans{0};
  std::atomic<bool> go{false};
  std::atomic<int> done{0};
  auto worker = [&] {
    while (!go) {
    }
    for (int i = 0; i < 400; ++i) {
      CKestrin* k = new CKestrin();
      HWND window = __atomic_load_n(&g_Connection.m_ClientWindow, __ATOMIC_ACQUIRE);
      if (!window || !__atomic_load_n(&g_Connection.m_IdleHook, __ATOMIC_ACQUIRE)) ++orphans;
      PumpPending();  // closes this thread's windows that another thread let go
      window = __atomic_load_n(&g_Connection.m_ClientWindow, __ATOMIC_ACQUIRE);
      if (!window || !IsWindow(window)) ++orphans;
      delete k;
      PumpPending();
    }
    ++done;
    while (done < 2) PumpPending();
  };
  std::thread a(worker), b(worker);
  go = true;
  a.join();
  b.join();
  EXPECT_EQ(0, orphans.load());
  EXPECT_EQ(0, g_Connection.m_Objects);
  EXPECT_FALSE(g_Connection.m_Connected);
  EXPECT_EQ(nullptr, g_Connection.m_ClientWindow);
  EXPECT_EQ(nullptr, g_Connection.m_IdleHook);
  EXPECT_EQ(0, CountClientWindows()) << "each thread's windows went with it";
  // The connection still works for a new object.
  CKestrin k;
  EXPECT_EQ(1, CountClientWindows());
}

TEST(Kestrin1Threads, AnObjectBuiltAfterTheConnectionsThreadEndedConnectsOnItsOwnThread) {
  // The thread that made the connection lets its object go and ends while
  // an object of this thread keeps the connection: the system destroys that
  // thread's client window and removes its hook. The next object connects
  // again on its own thread, tells the agent the old window is gone, hears
  // notices and reads through the same view.
  TestSection section;
  ASSERT_TRUE(section.ok());
  StandInManager manager;
  CKestrin::Register(RecordEvent, GetCurrentProcessId());
  CKestrin* kept = nullptr;
  HWND ended = nullptr;
  std::thread maker([&] {
    CKestrin* first = new CKestrin();
    ended = g_Connection.m_ClientWindow;
    std::thread keeper([&] { kept = new CKestrin(); });  // joins the connection
    keeper.join();
    delete first;
  });
  maker.join();
  ASSERT_NE(nullptr, kept);
  ASSERT_NE(nullptr, ended);
  ASSERT_FALSE(IsWindow(ended)) << "the window went with its thread";
  void* view = g_Connection.m_View;
  ASSERT_NE(nullptr, view);

  PumpPending();
  g_Requests.clear();
  g_Events.clear();
  CKestrin* newest = new CKestrin();
  HWND window = g_Connection.m_ClientWindow;
  ASSERT_TRUE(IsWindow(window));
  EXPECT_EQ(GetCurrentThreadId(), GetWindowThreadProcessId(window, nullptr));
  EXPECT_NE(nullptr, g_Connection.m_IdleHook);
  EXPECT_EQ(view, g_Connection.m_View);
  PumpPending();
  EXPECT_THAT(g_Requests,
              ElementsAre(std::make_pair(km::RequestWParam(km::ClientGoodbye),
                                         reinterpret_cast<LPARAM>(ended)),
                          std::make_pair(km::RequestWParam(km::ClientHello), ClientLParam())));
  HearAndRead(newest, &section, 55);
  delete kept;
  delete newest;
  EXPECT_EQ(0, CountClientWindows());
  EXPECT_EQ(nullptr, g_Connection.m_IdleHook);
}

TEST(Kestrin1Load, RefreshPeriodOfTheDisplay) {
  const struct {
    int m_Rate;
    float m_Period;
  } cases[] = {{0, 1.0f / 75}, {1, 1.0f / 75}, {29, 1.0f / 75}, {30, 1.0f / 30}, {60, 1.0f / 60}};
  for (const auto& c : cases) EXPECT_FLOAT_EQ(c.m_Period, RefreshPeriodForRate(c.m_Rate)) << c.m_Rate;
}

}  // namespace
