// The agent's parts in this process: the manager window and its requests, the
// client table, the focus routing (client windows of this process are given
// processes and a foreground of their own through the agent's system-call
// pointers), the device table, and the pipe client against a pipe server
// played by the test.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdio.h>

#include <array>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "agent_resource.h"
#include "client_window.h"
#include "dbwin_monitor.h"
#include "fake_service_pipe.h"
#include "import_hook.h"
#include "manager.h"
#include "manager_messages.h"
#include "reporting.h"
#include "service_pipe.h"
#include "settings.h"
#include "settings_registry.h"
#include "startup.h"
#include "system_calls.h"

bool operator==(const ReceivedNotice& a, const ReceivedNotice& b) {
  return a.wParam == b.wParam && a.lParam == b.lParam;
}
void PrintTo(const ReceivedNotice& n, std::ostream* os) {
  char text[48];
  snprintf(text, sizeof text, "{wParam 0x%08lX, lParam 0x%lX}", static_cast<unsigned long>(n.wParam),
           static_cast<unsigned long>(n.lParam));
  *os << text;
}

namespace {

using namespace kestrin::manager;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr uint16_t kOpen = StateDeviceAttached | StateDeviceEnabled;

// ---- the processes and the foreground of the session, as the agent sees them ----

std::map<HWND, DWORD> WindowProcesses;
HWND Foreground;

HWND WINAPI FakeForegroundWindow() { return Foreground; }
DWORD WINAPI FakeWindowThreadProcessId(HWND window, LPDWORD processId) {
  auto found = WindowProcesses.find(window);
  if (found == WindowProcesses.end() || !IsWindow(window)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (processId) *processId = found->second;
  return 1;  // a thread id
}

// ---- what the manager asked of the pipe side ----

struct Requests {
  std::vector<std::array<uint16_t, 5>> factors;  // device, then the four factors
  std::vector<std::array<uint16_t, 2>> flags;    // device, flags
  std::vector<uint16_t> autoZero;                // device
  std::vector<std::array<uint32_t, 2>> notifies; // wParam, lParam
} Asked;

void RecordFactors(uint16_t device, const uint16_t f[4]) {
  Asked.factors.push_back({device, f[0], f[1], f[2], f[3]});
}
void RecordFlags(uint16_t device, uint16_t flags) { Asked.flags.push_back({device, flags}); }
void RecordAutoZero(uint16_t device) { Asked.autoZero.push_back(device); }
void RecordNotify(WPARAM wParam, LPARAM lParam) {
  Asked.notifies.push_back({static_cast<uint32_t>(wParam), static_cast<uint32_t>(lParam)});
}

const ManagerOperations kRecordingOperations = {RecordNotify,       RecordFactors,
                                                RecordFlags,        RecordAutoZero,
                                                GetDeviceForClient, FindUnassignedDevice};
const ManagerOperations kAgentOperations = {OnServiceNotify,    ApplyLogFactors,
                                            ApplyFlags,         SendAutoZero,
                                            GetDeviceForClient, FindUnassignedDevice};

// ---- running the agent's own loop until a condition holds ----

std::function<bool()> ServeDone;
ULONGLONG ServeEnd;
void CALLBACK CheckServeDone(HWND, UINT, UINT_PTR, DWORD) {
  if (ServeDone() || GetTickCount64() >= ServeEnd) PostQuitMessage(0);
}

// RunEventLoop until done() (checked every 10 ms) or the timeout; done()'s result.
bool ServeUntil(std::function<bool()> done, DWORD timeoutMs = 5000) {
  ServeDone = done;
  ServeEnd = GetTickCount64() + timeoutMs;
  UINT_PTR timer = SetTimer(nullptr, 0, 10, CheckServeDone);
  QuitFlag = 0;
  RunEventLoop();
  QuitFlag = 0;
  KillTimer(nullptr, timer);
  return done();
}

// Serves whatever is queued now.
void Serve() { ServeUntil([] { return true; }, 0); }

uint32_t Notice(uint16_t device, uint16_t lowWord) { return NoticeWParam(device, lowWord); }

class AgentCoreTest : public ::testing::Test {
 protected:
  void SetUp() override { Start(kRecordingOperations); }

  void Start(const ManagerOperations& operations) {
    ASSERT_TRUE(monitor_.Start());
    SetProgramName("KestrinElf");
    SetCallFailureMessageId(IDS_CALL_FAILED);
    DeleteSettingsKey();
    Asked = Requests();
    WindowProcesses.clear();
    Foreground = nullptr;
    AgentSystem = {FakeForegroundWindow, FakeWindowThreadProcessId};
    LastForegroundWindow = nullptr;
    LastForegroundProcess = 0;
    for (uint16_t& f : PendingLogFactors) f = 0;
    OpenServicePipe(OnServiceRecord);  // no service: the pipe stays closed
    InitManager(GetModuleHandleA(nullptr), kServiceMessageName, &operations);
    // The pipe's failed open (no service) is reported: not a line of the test.
    ASSERT_TRUE(monitor_.WaitForText("[KestrinElf] 8() failed - ", 2000));
    monitor_.Clear();
  }

  void TearDown() override {
    ClosePipeAndEvents();
    DestroyWindow(ManagerWindow);
    DestroyWindow(ServiceListenerWindow);
    ManagerWindow = ServiceListenerWindow = nullptr;
    PoolFree(&AgentClients);
    PoolFree(&AgentDevices);
    AgentSystem = {::GetForegroundWindow, ::GetWindowThreadProcessId};
    Serve();  // what was left for the windows that are gone
    DeleteSettingsKey();
    monitor_.Stop();
  }

  void Post(uint16_t code, uint16_t high, uint32_t lParam) {
    PostMessageA(ManagerWindow, KestrinMessageId, RequestWParam(code, high),
                 static_cast<LPARAM>(lParam));
  }

  // A client window of process pid that has said ClientHello.
  // A client window of process pid that has said hello; it holds what it
  // heard on registering.
  std::unique_ptr<TestClientWindow> NewClient(DWORD pid) {
    auto client = std::make_unique<TestClientWindow>();
    WindowProcesses[client->window()] = pid;
    Post(ClientHello, 0, static_cast<uint32_t>(client->param()));
    Serve();
    return client;
  }
  // The same with what it heard cleared (ClientRegistered).
  std::unique_ptr<TestClientWindow> Client(DWORD pid) {
    auto client = NewClient(pid);
    client->ClearNotices();
    return client;
  }

  // A window of process pid that takes the foreground.
  HWND ForegroundOf(DWORD pid) {
    HWND window = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                                  nullptr);
    windows_.push_back(window);
    WindowProcesses[window] = pid;
    Foreground = window;
    return window;
  }

  void State(uint16_t device, uint16_t state, uint32_t buttons = 0) {
    PipeMessage m = MakeDeviceStateMessage(device, state, buttons);
    OnServiceRecord(&m);
    Serve();
  }

  int ClientCount() {
    int n = 0;
    for (void* c = PoolFirst(&AgentClients); c; c = PoolNext(&AgentClients)) ++n;
    return n;
  }

  AgentClientRecord* Record(const TestClientWindow& client) {
    return FindClientByWindow(client.window());
  }
  // Its table index, as FocusedClient holds it; kNoClient when not registered.
  int IndexOfClient(const TestClientWindow& client) {
    AgentClientRecord* record = Record(client);
    return record ? static_cast<int>(PoolIndexOf(&AgentClients, record)) : kNoClient;
  }
  // The DeviceStateNotices it heard.
  static std::vector<ReceivedNotice> StatesOf(const TestClientWindow& client) {
    std::vector<ReceivedNotice> states;
    for (const ReceivedNotice& n : client.notices())
      if (NoticeCode(n.wParam) == DeviceStateNotice) states.push_back(n);
    return states;
  }

  std::vector<std::string> AgentLines() { return monitor_.TextsFrom(GetCurrentProcessId()); }

  DebugMonitor monitor_;
  std::vector<HWND> windows_;

  ~AgentCoreTest() override {
    for (HWND w : windows_) DestroyWindow(w);
  }
};

// ---- client table ----

TEST_F(AgentCoreTest, ASecondHelloAddsNoRecordAndIsAnsweredAgainWithTheSameDevice) {
  TestClientWindow a;
  WindowProcesses[a.window()] = 100;
  for (int i = 0; i < 2; ++i) Post(ClientHello, 0, static_cast<uint32_t>(a.param()));
  Serve();
  EXPECT_EQ(ClientCount(), 1);
  ASSERT_EQ(a.notices().size(), 2u);
  for (const ReceivedNotice& n : a.notices()) {
    EXPECT_EQ(n.wParam, Notice(1, ClientRegistered));
    EXPECT_EQ(n.lParam, 1u);
  }
}

TEST_F(AgentCoreTest, AHelloFromAWindowWithoutProcessRegistersNothingAndSaysSo) {
  TestClientWindow orphan;  // no process known for it
  Post(ClientHello, 0, static_cast<uint32_t>(orphan.param()));
  Serve();
  EXPECT_EQ(ClientCount(), 0);
  EXPECT_THAT(orphan.notices(), IsEmpty());
  char expected[96];
  snprintf(expected, sizeof expected, "[KestrinElf] The window's (hWnd=%ld) process not found - ",
           static_cast<long>(reinterpret_cast<LONG_PTR>(orphan.window())));
  ASSERT_TRUE(monitor_.WaitForText(expected, 2000));
}

TEST_F(AgentCoreTest, DeviceRecordsAreMadeOnFirstSightAndClientsBindToUnheldDevices) {
  State(1, kOpen);
  State(2, kOpen);
  State(2, kOpen | StateBallActive, 4);  // the same record again
  int devices = 0;
  for (void* d = PoolFirst(&AgentDevices); d; d = PoolNext(&AgentDevices)) ++devices;
  EXPECT_EQ(devices, 2);
  ASSERT_NE(FindDeviceRecord(2), nullptr);
  EXPECT_EQ(FindDeviceRecord(2)->m_State, kOpen | StateBallActive);
  EXPECT_EQ(FindDeviceRecord(2)->m_Buttons, 4u);

  auto a = Client(100), b = Client(100), c = Client(100);
  const uint16_t da = Record(*a)->m_DeviceId, db = Record(*b)->m_DeviceId;
  EXPECT_NE(da, db);
  EXPECT_TRUE((da == 1 || da == 2) && (db == 1 || db == 2));
  EXPECT_EQ(Record(*c)->m_DeviceId, 1) << "every device held: device 1";
  // A client bound to a device number that has no record is bound to 1.
  Record(*c)->m_DeviceId = 9;
  EXPECT_EQ(GetDeviceForClient(Record(*c)), FindDeviceRecord(1));
  EXPECT_EQ(Record(*c)->m_DeviceId, 1);
}

TEST_F(AgentCoreTest, ProcessHalvesCompleteOnlyHighThenLowAndTheLatestHighCounts) {
  struct Case {
    const char* name;
    std::vector<std::array<uint16_t, 2>> requests;  // code, high word
    uint32_t associated;
  } cases[] = {
      {"low without high", {{ClientProcessLow, 0x5678}}, 0},
      {"high then low", {{ClientProcessHigh, 0x1234}, {ClientProcessLow, 0x5678}}, 0x12345678},
      {"a second high overwrites the first",
       {{ClientProcessHigh, 0x1111}, {ClientProcessHigh, 0x2222}, {ClientProcessLow, 0x0042}},
       0x22220042},
      {"a second low is ignored",
       {{ClientProcessHigh, 0x1234}, {ClientProcessLow, 0x5678}, {ClientProcessLow, 0x0001}},
       0x12345678},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto client = Client(100);
    for (const auto& r : c.requests) Post(r[0], r[1], static_cast<uint32_t>(client->param()));
    Serve();
    EXPECT_EQ(Record(*client)->m_AssociatedProcessId, c.associated);
    Post(ClientGoodbye, 0, static_cast<uint32_t>(client->param()));
    Serve();
    EXPECT_EQ(ClientCount(), 0);
  }
  // Requests 2, 5 and 6 for a window not in the table do nothing.
  TestClientWindow stranger;
  for (uint16_t code : {ClientGoodbye, ClientProcessHigh, ClientProcessLow})
    Post(code, 1, static_cast<uint32_t>(stranger.param()));
  Serve();
  EXPECT_EQ(ClientCount(), 0);
  EXPECT_THAT(AgentLines(), IsEmpty());
}

TEST_F(AgentCoreTest, AClientWorkingForTheForegroundProcessTakesTheFocusWhenItsIdCompletes) {
  State(1, kOpen);
  ForegroundOf(300);  // a host process with no client of its own
  auto helper = Client(100);
  State(1, kOpen | StateBallActive);  // samples the foreground: process 300, nobody
  EXPECT_THAT(helper->notices(), IsEmpty());
  Post(ClientProcessHigh, 0, static_cast<uint32_t>(helper->param()));
  Post(ClientProcessLow, 300, static_cast<uint32_t>(helper->param()));
  Serve();
  EXPECT_THAT(helper->notices(), ElementsAre(::testing::Field(
                                     &ReceivedNotice::wParam,
                                     Notice(1, (kOpen | StateBallActive) | DeviceStateNotice))));
}

// ---- settings requests ----

TEST_F(AgentCoreTest, SettingsRequestsActOnDeviceOneWhateverTheHighWordHolds) {
  Post(SetLogFactorsHigh, 0xABCD, (0x0004 << 16) | 0x0003);  // no low half yet: pan and zoom 0
  Post(SetLogFactorsLow, 0x1234, (0x0002 << 16) | 0x0001);   // stored, nothing sent
  Post(SetLogFactorsHigh, 0xFFFF, (0x0044 << 16) | 0x0033);
  Post(SetFlags, 0x0101, 0x12);  // bit 0 only: 0
  Post(SetFlags, 0x0202, 0x03);  // 1
  Post(TestAutoZero, 0x0303, 0x55);
  Serve();
  EXPECT_THAT(Asked.factors, ElementsAre(std::array<uint16_t, 5>{1, 0, 0, 3, 4},
                                         std::array<uint16_t, 5>{1, 1, 2, 0x33, 0x44}));
  EXPECT_THAT(Asked.flags,
              ElementsAre(std::array<uint16_t, 2>{1, 0}, std::array<uint16_t, 2>{1, 1}));
  EXPECT_THAT(Asked.autoZero, ElementsAre(1));
  EXPECT_THAT(AgentLines(), IsEmpty());
}

TEST_F(AgentCoreTest, UnknownRequestCodesGiveOneLineWithTheWholeParameters) {
  const uint32_t cases[][2] = {
      {0x00000000, 0x00000000}, {0x00000007, 0x12345678}, {0x0000FFFB, 0xFFFFFFFF},
      {0xABCD0007, 0x00000001}, {0x0001FFF0, 0x80000000},
  };
  for (const auto& c : cases) {
    PostMessageA(ManagerWindow, KestrinMessageId, c[0], static_cast<LPARAM>(c[1]));
    Serve();
    char expected[96];
    snprintf(expected, sizeof expected, "[KestrinElf] Unknown message: wParam=%8lX lParam=%8lX\n",
             static_cast<unsigned long>(c[0]), static_cast<unsigned long>(c[1]));
    EXPECT_TRUE(monitor_.WaitForText(expected, 2000)) << expected;
  }
  EXPECT_EQ(AgentLines().size(), 5u);
  EXPECT_EQ(ClientCount(), 0);
  EXPECT_TRUE(Asked.factors.empty() && Asked.flags.empty() && Asked.autoZero.empty());
}

// ---- focus routing ----

TEST_F(AgentCoreTest, OnlyTheForegroundProcessClientGetsStateAndASwitchMovesIt) {
  const uint16_t moving = kOpen | StateBallActive | StateBallChanged;
  State(1, kOpen);
  auto a = Client(100), b = Client(200);
  HWND fa = ForegroundOf(100);
  State(1, moving, 0x05);
  // A is evaluated for the focus first (state without change bits), then
  // the message itself is routed to it.
  EXPECT_THAT(a->notices(),
              ElementsAre(ReceivedNotice{Notice(1, (kOpen | StateBallActive) | 6), 0x05},
                          ReceivedNotice{Notice(1, moving | 6), 0x05}));
  EXPECT_THAT(b->notices(), IsEmpty());
  a->ClearNotices();

  // The foreground moves to B's process; B's library says so.
  ForegroundOf(200);
  Post(ClientFocusGained, 0, static_cast<uint32_t>(b->param()));
  Serve();
  EXPECT_THAT(a->notices(), ElementsAre(ReceivedNotice{Notice(1, StateDeviceAttached | 6), 0}));
  EXPECT_THAT(b->notices(),
              ElementsAre(ReceivedNotice{Notice(1, (kOpen | StateBallActive) | 6), 0x05}));
  a->ClearNotices();
  b->ClearNotices();

  // A null foreground (during a switch) changes nothing.
  Foreground = nullptr;
  State(1, kOpen | StateBallActive, 0x05);  // same as B's copy: nothing to send
  State(1, kOpen, 0x05);
  EXPECT_THAT(b->notices(), ElementsAre(ReceivedNotice{Notice(1, kOpen | 6), 0x05}));
  EXPECT_THAT(a->notices(), IsEmpty());
  b->ClearNotices();

  // To a process without a client: B loses the device, later states reach nobody.
  ForegroundOf(300);
  Post(ClientFocusLost, 0, static_cast<uint32_t>(b->param()));
  Serve();
  EXPECT_THAT(b->notices(), ElementsAre(ReceivedNotice{Notice(1, StateDeviceAttached | 6), 0}));
  b->ClearNotices();
  State(1, moving, 0x01);
  EXPECT_THAT(a->notices(), IsEmpty());
  EXPECT_THAT(b->notices(), IsEmpty());
  EXPECT_EQ(FocusedClient, kNoClient);

  // Back to A's window.
  Foreground = fa;
  State(1, kOpen | StateBallActive, 0x01);
  EXPECT_EQ(a->notices().size(), 1u);  // its state (without change bits) equals the message
}

TEST_F(AgentCoreTest, AForegroundWindowWithoutAProcessFocusesNobody) {
  State(1, kOpen);
  auto a = Client(100);  // works for no other process: its associated id is 0
  // A session change before any foreground was sampled: no process yet.
  PostMessageA(ManagerWindow, 0x02B1 /* WM_WTSSESSION_CHANGE */, 1, 0);
  Serve();
  EXPECT_THAT(a->notices(), IsEmpty());
  ForegroundOf(300);  // a process without a client
  State(1, kOpen | StateBallActive);
  EXPECT_THAT(a->notices(), IsEmpty());
  // The foreground window is gone before its process is asked for.
  Foreground = reinterpret_cast<HWND>(static_cast<LONG_PTR>(0x7FFF0010));
  State(1, kOpen, 1);
  EXPECT_THAT(a->notices(), IsEmpty());
  EXPECT_EQ(FocusedClient, kNoClient);
  // The focus still follows a real foreground afterwards.
  ForegroundOf(100);
  State(1, kOpen | StateBallActive, 2);
  EXPECT_EQ(a->notices().size(), 1u);
}

TEST_F(AgentCoreTest, ANewlyFocusedClientGetsNothingWhileTheDeviceIsNotOpen) {
  State(1, StateDeviceAttached);  // attached, not enabled
  auto a = Client(100);
  ForegroundOf(100);
  Post(ClientFocusGained, 0, static_cast<uint32_t>(a->param()));
  Serve();
  EXPECT_THAT(a->notices(), IsEmpty());
  EXPECT_EQ(FocusedClient, static_cast<int>(PoolIndexOf(&AgentClients, Record(*a))));
  State(1, kOpen);
  EXPECT_THAT(a->notices(), ElementsAre(ReceivedNotice{Notice(1, kOpen | 6), 0}));
}

TEST_F(AgentCoreTest, ARepeatedStateIsNotPostedButChangeBitsAlwaysAre) {
  State(1, kOpen);
  auto a = Client(100);
  ForegroundOf(100);
  State(1, kOpen | StateBallActive);  // focus gained (1 notice) + nothing more: same
  State(1, kOpen | StateBallActive);
  EXPECT_EQ(a->notices().size(), 1u);
  State(1, kOpen | StateScrollActive | StateScrollChanged);
  State(1, kOpen | StateScrollActive | StateScrollChanged);
  EXPECT_EQ(a->notices().size(), 3u);
  State(1, kOpen | StateScrollActive, 2);  // buttons changed
  EXPECT_EQ(a->notices().size(), 4u);
  EXPECT_EQ(a->notices().back().lParam, 2u);
}

TEST_F(AgentCoreTest, OtherDevicesGoToTheFirstClientBoundToThem) {
  State(1, kOpen);
  State(2, kOpen);
  auto a = Client(100), b = Client(200);
  TestClientWindow* onTwo = Record(*a)->m_DeviceId == 2 ? a.get() : b.get();
  TestClientWindow* onOne = onTwo == a.get() ? b.get() : a.get();
  Foreground = nullptr;
  State(2, kOpen | StateBallActive, 7);
  EXPECT_THAT(onTwo->notices(),
              ElementsAre(ReceivedNotice{Notice(2, (kOpen | StateBallActive) | 6), 7}));
  EXPECT_THAT(onOne->notices(), IsEmpty());
}

TEST_F(AgentCoreTest, APostToADestroyedWindowRemovesItsClientAndTheFocus) {
  State(1, kOpen);
  auto a = Client(100);
  ForegroundOf(100);
  State(1, kOpen | StateBallActive);
  ASSERT_EQ(a->notices().size(), 1u);
  a->Destroy();  // the client's process ended without a word
  State(1, kOpen);
  EXPECT_EQ(ClientCount(), 0);
  EXPECT_EQ(FocusedClient, kNoClient);
}

TEST_F(AgentCoreTest, WhenADeadClientsProcessIdIsReusedTheLiveClientOfThatProcessGetsTheFocus) {
  State(1, kOpen);
  auto x = Client(200);
  auto dead = Client(100);
  auto other = Client(300);
  auto spare = Client(400);
  const HWND deadWindow = dead->window();
  dead->Destroy();  // process 100 ends silently: its record stays
  // Goodbyes out of order free a lower slot for the new client and make the
  // table walk from the highest slot down again.
  Post(ClientGoodbye, 0, static_cast<uint32_t>(x->param()));
  Serve();
  auto reborn = Client(100);  // a new process is given id 100
  Post(ClientGoodbye, 0, static_cast<uint32_t>(spare->param()));
  Serve();
  // The table is walked with the dead record ahead of the new one.
  ASSERT_EQ(FindClientByProcess(100), FindClientByWindow(deadWindow));
  ForegroundOf(300);
  State(1, kOpen | StateBallActive);
  other->ClearNotices();

  ForegroundOf(100);  // the new process owns the foreground
  Post(ClientFocusGained, 0, static_cast<uint32_t>(reborn->param()));
  Serve();
  EXPECT_THAT(reborn->notices(),
              ElementsAre(ReceivedNotice{Notice(1, (kOpen | StateBallActive) | 6), 0}));
  EXPECT_EQ(FocusedClient, static_cast<int>(PoolIndexOf(&AgentClients, Record(*reborn))));
  EXPECT_EQ(ClientCount(), 2) << "the dead record is gone";
  State(1, kOpen);
  EXPECT_EQ(reborn->notices().size(), 2u) << "states keep flowing to it";
}

TEST_F(AgentCoreTest, AFocusedClientOfTheProcessInFrontKeepsTheFocusUntilItGoes) {
  // Process 100 owns the foreground and its client hears the device. Another
  // client arrives for process 100, again and again (a library says hello at
  // every ManagerStarted, a helper completes its id at every Register): a
  // second window of that process, or a client of process 200 working for
  // it. The focused client keeps the device while it lives; its goodbye, or
  // its window found gone, hands the device on with the current state.
  const uint16_t moving = kOpen | StateBallActive;
  enum Newcomer { SecondWindow, WorkingForIt };
  struct Case {
    const char* name;
    Newcomer newcomer;
    bool goodbye;  // else its window goes without a word
  } cases[] = {
      {"a second window; the focused one says goodbye", SecondWindow, true},
      {"a second window; the focused one went silently", SecondWindow, false},
      {"a client working for the process; the focused one says goodbye", WorkingForIt, true},
      {"a client working for the process; the focused one went silently", WorkingForIt, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    State(1, moving, 3);
    auto focused = Client(100);
    ForegroundOf(100);
    Post(ClientFocusGained, 0, static_cast<uint32_t>(focused->param()));
    Serve();
    ASSERT_THAT(focused->notices(), ElementsAre(ReceivedNotice{Notice(1, moving | 6), 3}));
    focused->ClearNotices();

    auto newcomer = Client(c.newcomer == SecondWindow ? 100 : 200);
    auto arrive = [&] {
      const uint32_t window = static_cast<uint32_t>(newcomer->param());
      if (c.newcomer == SecondWindow) {
        Post(ClientHello, 0, window);
      } else {
        Post(ClientProcessHigh, 0, window);
        Post(ClientProcessLow, 100, window);
      }
      Serve();
    };
    arrive();
    arrive();
    EXPECT_THAT(focused->notices(), IsEmpty()) << "it lost the device while in front";
    EXPECT_EQ(FocusedClient, IndexOfClient(*focused));
    State(1, kOpen, 3);
    EXPECT_THAT(focused->notices(), ElementsAre(ReceivedNotice{Notice(1, kOpen | 6), 3}));
    EXPECT_THAT(StatesOf(*newcomer), IsEmpty());

    if (c.goodbye) {
      Post(ClientGoodbye, 0, static_cast<uint32_t>(focused->param()));
      Serve();
    } else {
      focused->Destroy();
      arrive();  // finds the focused window gone
    }
    EXPECT_THAT(StatesOf(*newcomer), ElementsAre(ReceivedNotice{Notice(1, kOpen | 6), 3}));
    EXPECT_EQ(FocusedClient, IndexOfClient(*newcomer));
    EXPECT_EQ(ClientCount(), 1);

    Post(ClientGoodbye, 0, static_cast<uint32_t>(newcomer->param()));
    Serve();
    ASSERT_EQ(ClientCount(), 0);
    Foreground = LastForegroundWindow = nullptr;
    LastForegroundProcess = 0;
  }
}

TEST_F(AgentCoreTest, AFocusedClientThatGoesHandsTheFocusToTheProgramInFrontNow) {
  // Process 100 owns the foreground and has two clients, one focused. The
  // foreground may have moved since the agent last looked (nothing told it):
  // when the focused client goes, its goodbye or the next post to its window
  // hands the focus to a client of the program in front now.
  const uint16_t moving = kOpen | StateBallActive;
  enum Front { StillThere, MovedToAProgramWithoutClient, MovedToAnotherClient };
  struct Case {
    const char* name;
    bool goodbye;  // else its window goes without a word, found by the next state
    Front front;
  } cases[] = {
      {"goodbye, its program still in front", true, StillThere},
      {"goodbye, a program without a client in front", true, MovedToAProgramWithoutClient},
      {"goodbye, another client's program in front", true, MovedToAnotherClient},
      {"window gone, its program still in front", false, StillThere},
      {"window gone, a program without a client in front", false, MovedToAProgramWithoutClient},
      {"window gone, another client's program in front", false, MovedToAnotherClient},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    State(1, moving, 1);
    auto first = Client(100), second = Client(100), elsewhere = Client(300);
    ForegroundOf(100);
    Post(ClientFocusGained, 0, static_cast<uint32_t>(first->param()));
    Serve();
    ASSERT_NE(FocusedClient, kNoClient);
    const bool firstFocused = FocusedClient == IndexOfClient(*first);
    TestClientWindow* focused = firstFocused ? first.get() : second.get();
    TestClientWindow* other = firstFocused ? second.get() : first.get();
    other->ClearNotices();
    if (c.front == MovedToAProgramWithoutClient) ForegroundOf(200);
    if (c.front == MovedToAnotherClient) ForegroundOf(300);

    uint32_t buttons = 1;
    if (c.goodbye) {
      Post(ClientGoodbye, 0, static_cast<uint32_t>(focused->param()));
      Serve();
    } else {
      focused->Destroy();
      State(1, moving, buttons = 2);
    }
    const std::vector<ReceivedNotice> told = {{Notice(1, moving | 6), buttons}};
    EXPECT_EQ(other->notices(), c.front == StillThere ? told : std::vector<ReceivedNotice>());
    EXPECT_EQ(elsewhere->notices(),
              c.front == MovedToAnotherClient ? told : std::vector<ReceivedNotice>());
    EXPECT_EQ(FocusedClient, c.front == StillThere             ? IndexOfClient(*other)
                             : c.front == MovedToAnotherClient ? IndexOfClient(*elsewhere)
                                                               : kNoClient);

    for (TestClientWindow* client : {first.get(), second.get(), elsewhere.get()})
      Post(ClientGoodbye, 0, static_cast<uint32_t>(client->param()));
    Serve();
    ASSERT_EQ(ClientCount(), 0);
    Foreground = LastForegroundWindow = nullptr;
    LastForegroundProcess = 0;
  }
}

TEST_F(AgentCoreTest, AfterItsOnlyClientsGoodbyeTheProcessInFrontsNextClientHearsTheStateAtOnce) {
  // A program that closes its only connection and opens a new one (a host
  // that closes and reopens its only device handle).
  const uint16_t moving = kOpen | StateBallActive;
  State(1, moving, 1);
  auto only = Client(100);
  ForegroundOf(100);
  Post(ClientFocusGained, 0, static_cast<uint32_t>(only->param()));
  Serve();
  ASSERT_EQ(only->notices().size(), 1u);
  Post(ClientGoodbye, 0, static_cast<uint32_t>(only->param()));
  Serve();
  EXPECT_EQ(FocusedClient, kNoClient);
  EXPECT_EQ(ClientCount(), 0);
  auto next = NewClient(100);
  EXPECT_THAT(next->notices(), ElementsAre(ReceivedNotice{Notice(1, ClientRegistered), 1},
                                           ReceivedNotice{Notice(1, moving | 6), 1}));
  EXPECT_EQ(FocusedClient, IndexOfClient(*next));
}

// ---- windows and the loop ----

TEST_F(AgentCoreTest, TheServiceBroadcastIsHeardThroughTheHiddenTopLevelWindow) {
  ASSERT_NE(ServiceListenerWindow, nullptr);
  EXPECT_FALSE(IsWindowVisible(ServiceListenerWindow));
  DWORD recipients = BSM_APPLICATIONS;
  // Not BSF_IGNORECURRENTTASK: the listener is in this process.
  ASSERT_GE(BroadcastSystemMessageA(BSF_POSTMESSAGE, &recipients, ServiceMessageId, 1, 0), 0);
  ASSERT_TRUE(ServeUntil([] { return !Asked.notifies.empty(); }));
  EXPECT_THAT(Asked.notifies, ElementsAre(std::array<uint32_t, 2>{1, 0}));
  // Posted to the manager window itself, it reaches the same handler.
  PostMessageA(ManagerWindow, ServiceMessageId, 2, 7);
  Serve();
  EXPECT_EQ(Asked.notifies.size(), 2u);
  // Neither window is taken for a client or found as another manager.
  EXPECT_EQ(FindWindowExA(HWND_MESSAGE, nullptr, kManagerClass, kManagerTitle), ManagerWindow);
}

// The window a walk over the client windows stands on is destroyed just after
// the walk found it, as when that client's process ends at that moment.
HWND (WINAPI* RealFindWindowExA)(HWND, HWND, LPCSTR, LPCSTR);
HWND DestroyWhenFound;
HWND WINAPI FindWindowThenLoseIt(HWND parent, HWND after, LPCSTR windowClass, LPCSTR title) {
  HWND found = RealFindWindowExA(parent, after, windowClass, title);
  if (found && found == DestroyWhenFound) DestroyWindow(found);
  return found;
}

TEST_F(AgentCoreTest, ManagerStartedReachesEveryClientWhenAWindowGoesDuringTheWalk) {
  std::vector<std::unique_ptr<TestClientWindow>> clients;
  for (int i = 0; i < 4; ++i) clients.push_back(std::make_unique<TestClientWindow>());
  // Whichever of them the walk meets first goes.
  HWND first = FindWindowExA(HWND_MESSAGE, nullptr, kClientClass, kClientTitle);
  ASSERT_NE(nullptr, first);
  DestroyWhenFound = first;
  {
    ImportHook hook(GetModuleHandleA(nullptr), "user32.dll", "FindWindowExA",
                    reinterpret_cast<void*>(FindWindowThenLoseIt),
                    reinterpret_cast<void**>(&RealFindWindowExA));
    ASSERT_TRUE(hook.installed());
    BroadcastToClients(ManagerStarted, 0);
  }
  DestroyWhenFound = nullptr;
  Serve();
  ASSERT_FALSE(IsWindow(first));
  for (const auto& client : clients) {
    if (client->window() == first) continue;
    EXPECT_THAT(client->notices(), ElementsAre(ReceivedNotice{ManagerStarted, 0}))
        << "a client after the window that went was not told";
  }
}

TEST_F(AgentCoreTest, AQuitAheadOfOtherMessagesEndsThePumpWithoutDispatchingThem) {
  TestClientWindow a;
  WindowProcesses[a.window()] = 100;
  PostMessageA(ManagerWindow, WM_QUIT, 0, 0);
  Post(ClientHello, 0, static_cast<uint32_t>(a.param()));
  QuitFlag = 0;
  PumpMessages();
  EXPECT_EQ(QuitFlag, 1);
  EXPECT_EQ(ClientCount(), 0);
  MSG left;
  EXPECT_TRUE(PeekMessageA(&left, ManagerWindow, 0, 0, PM_NOREMOVE)) << "the hello stays queued";
  QuitFlag = 0;
  Serve();
  EXPECT_EQ(ClientCount(), 1);
}

class AgentPipeTest : public AgentCoreTest {
 protected:
  void SetUp() override { Start(kAgentOperations); }
};

TEST_F(AgentPipeTest, WithThePipeClosedSettingsAreStoredAndNothingIsRead) {
  ASSERT_FALSE(PipeIsOpen());
  PipeMessage m;
  EXPECT_EQ(ReadRecord(&m), RecordPipeClosed);
  Post(SetFlags, 0, 1);
  Post(SetLogFactorsLow, 0, (2 << 16) | 1);
  Post(SetLogFactorsHigh, 0, (4 << 16) | 3);
  Serve();
  StoredSettings s = ReadStoredSettings();
  ASSERT_TRUE(s.haveFlags && s.haveFactors);
  EXPECT_EQ(s.flags, 1u);
  EXPECT_EQ(s.factorsType, static_cast<DWORD>(REG_QWORD));
  EXPECT_EQ(std::vector<uint16_t>(s.factors, s.factors + 4), (std::vector<uint16_t>{1, 2, 3, 4}));
  // An unknown code of the service's message is reported; a known one tries the pipe.
  OnServiceNotify(3, 5);
  EXPECT_TRUE(monitor_.WaitForText(
      "[KestrinElf] Unknown message: wParam=       3 lParam=       5\n", 2000));
}

TEST_F(AgentPipeTest, StatesFromThePipeFillTheDeviceTableAndALongerMessageClosesThePipe) {
  FakeServicePipe pipe;
  ASSERT_TRUE(pipe.Listen());
  OnServiceNotify(1, 0);
  ASSERT_TRUE(pipe.WaitConnected(2000));
  ASSERT_EQ(pipe.ReceiveUntilQuiet(100).size(), 2u);
  PipeMessage other = MakeDeviceStateMessage(4, kOpen, 0);
  other.m_Opcode = PipeSetFlags;  // not a state: ignored without a word
  ASSERT_TRUE(pipe.Send(other));
  ASSERT_TRUE(pipe.Send(MakeDeviceStateMessage(3, kOpen | StateBallActive, 0x21)));
  ASSERT_TRUE(ServeUntil([] { return FindDeviceRecord(3) != nullptr; }));
  EXPECT_EQ(FindDeviceRecord(3)->m_State, kOpen | StateBallActive);
  EXPECT_EQ(FindDeviceRecord(3)->m_Buttons, 0x21u);
  EXPECT_EQ(FindDeviceRecord(4), nullptr);
  ASSERT_TRUE(pipe.Send(MakeDeviceStateMessage(3, kOpen, 0)));  // the same record again
  ASSERT_TRUE(ServeUntil([] { return FindDeviceRecord(3)->m_State == kOpen; }));

  const uint8_t longer[16] = {3, 0, 3, 0};
  ASSERT_TRUE(pipe.SendBytes(longer, sizeof longer));
  EXPECT_TRUE(ServeUntil([] { return !PipeIsOpen(); }));
  EXPECT_EQ(FindDeviceRecord(3)->m_State, kOpen) << "the longer message was not taken";
  EXPECT_THAT(AgentLines(), IsEmpty()) << "a closed pipe is no failure to report";
}

TEST_F(AgentPipeTest, AMessageShorterThanTwelveBytesIsSkipped) {
  FakeServicePipe pipe;
  ASSERT_TRUE(pipe.Listen());
  OnServiceNotify(1, 0);
  ASSERT_TRUE(pipe.WaitConnected(2000));
  ASSERT_EQ(pipe.ReceiveUntilQuiet(100).size(), 2u);
  ASSERT_TRUE(pipe.Send(MakeDeviceStateMessage(3, kOpen | StateBallActive, 0x21)));
  // The opcode and device number of a state for device 4, and nothing more:
  // the rest of the receive buffer still holds the message before it.
  const PipeMessage cut = MakeDeviceStateMessage(4, kOpen, 0x99);
  for (DWORD bytes : {5u, 0u, 11u}) ASSERT_TRUE(pipe.SendBytes(&cut, bytes));
  ASSERT_TRUE(pipe.Send(MakeDeviceStateMessage(5, kOpen, 0x07)));
  ASSERT_TRUE(ServeUntil([] { return FindDeviceRecord(5) != nullptr; }));
  EXPECT_EQ(FindDeviceRecord(4), nullptr);
  EXPECT_EQ(FindDeviceRecord(3)->m_State, kOpen | StateBallActive);
  EXPECT_EQ(FindDeviceRecord(5)->m_Buttons, 0x07u);
  EXPECT_TRUE(PipeIsOpen());
}

TEST_F(AgentPipeTest, AReconnectWhoseFirstWriteStaysPendingStillSendsTheFlags) {
  const uint32_t stored = 0x00010001;  // read back as its low 16 bits
  PutSetting(kFlagsValue, REG_DWORD, &stored, sizeof stored);
  FakeServicePipe pipe(0);  // every write waits until the reader takes it
  ASSERT_TRUE(pipe.Listen());
  OnServiceNotify(2, 0);
  ASSERT_TRUE(PipeIsOpen());
  ASSERT_TRUE(pipe.WaitConnected(2000));
  EXPECT_EQ(Outgoing.m_Count, 1) << "the Flags message waits behind the pending LogFactors";
  // The service's side reads on a thread of its own while the agent serves.
  PipeMessage first = {}, second = {};
  std::atomic<int> got{0};
  std::thread reader([&] {
    if (pipe.Receive(&first, 5000) && ++got && pipe.Receive(&second, 5000)) ++got;
  });
  const bool both = ServeUntil([&] { return got == 2; });
  reader.join();
  ASSERT_TRUE(both) << got << " of the two messages";
  EXPECT_EQ(first.m_Opcode, PipeSetLogFactors);
  EXPECT_EQ(first.m_Payload.m_LogFactors[3], 0x8000) << "no LogFactors stored: the defaults";
  EXPECT_EQ(second.m_Opcode, PipeSetFlags);
  EXPECT_EQ(second.m_Device, 1);
  EXPECT_EQ(second.m_Payload.m_Flags, 1);
  // A missing "LogFactors" under an existing key is one line, call id 38.
  EXPECT_TRUE(monitor_.WaitForText("[KestrinElf] 38() failed - ", 2000));
}

TEST_F(AgentPipeTest, AThousandSettingsRequestsEndWithTheLastValuesAndABoundedQueue) {
  FakeServicePipe pipe(0);  // every write waits until the reader takes it
  ASSERT_TRUE(pipe.Listen());
  OnServiceNotify(1, 0);  // connects, sends the stored settings (defaults) first
  ASSERT_TRUE(PipeIsOpen());
  ASSERT_TRUE(pipe.WaitConnected(2000));
  // A broadcast while the pipe is open changes nothing.
  OnServiceNotify(1, 0);
  Outgoing.m_HighWater = 0;

  std::atomic<bool> done{false};
  std::mutex lock;
  std::vector<PipeMessage> received;
  std::thread reader([&] {
    PipeMessage m;
    int n = 0;
    while (!done) {
      if (!pipe.Receive(&m, 50)) continue;
      {
        std::lock_guard<std::mutex> hold(lock);
        received.push_back(m);
      }
      if (++n % 16 == 0) Sleep(1);  // a service that lags now and then
    }
  });
  constexpr int kRequests = 1000;
  for (int i = 1; i <= kRequests; ++i) {
    Post(SetLogFactorsLow, 0, (static_cast<uint32_t>(i) << 16) | i);
    Post(SetLogFactorsHigh, 0, (static_cast<uint32_t>(i + 1) << 16) | (i + 2));
    Post(SetFlags, 0, static_cast<uint32_t>(i + 1) & 1);
  }
  const uint16_t last[4] = {kRequests, kRequests, kRequests + 2, kRequests + 1};
  const uint16_t lastFlags = (kRequests + 1) & 1;
  // The latest message of an opcode, or none.
  auto latest = [&](uint16_t opcode, PipeMessage* out) {
    std::lock_guard<std::mutex> hold(lock);
    for (auto m = received.rbegin(); m != received.rend(); ++m) {
      if (m->m_Opcode == opcode) {
        *out = *m;
        return true;
      }
    }
    return false;
  };
  const bool arrived = ServeUntil(
      [&] {
        PipeMessage f;
        return latest(PipeSetLogFactors, &f) && f.m_Payload.m_LogFactors[0] == last[0];
      },
      30000);
  ServeUntil([] { return false; }, 500);  // whatever still waited
  done = true;
  reader.join();
  ASSERT_TRUE(arrived) << received.size() << " messages";
  PipeMessage f, g;
  ASSERT_TRUE(latest(PipeSetLogFactors, &f) && latest(PipeSetFlags, &g));
  EXPECT_EQ(std::vector<uint16_t>(f.m_Payload.m_LogFactors, f.m_Payload.m_LogFactors + 4),
            std::vector<uint16_t>(last, last + 4));
  EXPECT_EQ(g.m_Payload.m_Flags, lastFlags);
  EXPECT_LE(Outgoing.m_HighWater, 3);
  EXPECT_LE(received.size(), static_cast<size_t>(2 + 2 * kRequests));
  EXPECT_EQ(received[0].m_Opcode, PipeSetLogFactors);  // the connect's settings first
  EXPECT_EQ(received[0].m_Payload.m_LogFactors[0], 0x8000);
  EXPECT_EQ(received[1].m_Opcode, PipeSetFlags);
  printf("%zu messages on the pipe for %d requests, at most %u waiting\n", received.size(),
         2 * kRequests, static_cast<unsigned>(Outgoing.m_HighWater));
  StoredSettings s = ReadStoredSettings();
  EXPECT_EQ(std::vector<uint16_t>(s.factors, s.factors + 4),
            std::vector<uint16_t>(last, last + 4));
  EXPECT_EQ(s.flags, static_cast<uint32_t>(lastFlags));

  // The service goes: the agent closes its end, and no read is made.
  pipe.Close();
  ASSERT_TRUE(ServeUntil([] { return !PipeIsOpen(); }));
  PipeMessage m;
  EXPECT_EQ(ReadRecord(&m), RecordPipeClosed);
}

}  // namespace
