// The pipe of KestrinSvcSim.exe under the real service manager, this process
// playing the device simulator: what clients see, what settings and
// auto-zero do to the devices and the section, the events the service
// and the server under load, faults and a restart.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "injection.h"
#include "messages.h"
#include "motion_section.h"
#include "pipe_client.h"
#include "pipe_protocol.h"
#include "section_view.h"
#include "report_bytes.h"
#include "simulated_service.h"

bool operator==(const PipeMessage& a, const PipeMessage& b) {
  return a.m_Opcode == b.m_Opcode && a.m_Device == b.m_Device &&
         a.m_Payload.m_DeviceState.m_State == b.m_Payload.m_DeviceState.m_State &&
         a.m_Payload.m_DeviceState.m_Buttons == b.m_Payload.m_DeviceState.m_Buttons;
}
void PrintTo(const PipeMessage& m, std::ostream* os) { *os << DescribePipeMessage(m); }

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr uint16_t kOpen = StateDeviceAttached | StateDeviceEnabled;

std::vector<uint8_t> BallReport(int tz) {
  const int r[6] = {0, 0, tz, 0, 0, 0};
  return ::BallReport(r);
}

PipeMessage State(uint16_t device, uint16_t state, uint32_t buttons = 0) {
  return MakeDeviceStateMessage(device, state, buttons);
}

// The service's events, seen by KestrinEventSpy.dll loaded into the running
// service (Wine's event log keeps nothing): one line per ReportEventA.
struct LoggedEvent {
  DWORD id;
  std::vector<std::string> strings;
};

class EventSpy {
 public:
  // Loads the spy into the process; false when that fails. The service has
  // no message loop to take the DLL at, but its dispatcher thread waits for
  // its whole life (testing/injection.h).
  bool Attach(DWORD pid) {
    const std::string dll = WinePath(KESTRIN_EVENT_SPY_DLL);
    log_ = dll + "." + std::to_string(pid) + ".log";
    DeleteFileA(log_.c_str());  // absent is fine
    std::string error;
    if (InjectWithRemoteThread(pid, std::wstring(dll.begin(), dll.end()), 10000, &error)) return true;
    ADD_FAILURE() << error;
    return false;
  }

  std::vector<LoggedEvent> Events() const {
    std::vector<LoggedEvent> events;
    std::ifstream in(log_);
    std::string line;
    while (std::getline(in, line)) {
      std::stringstream fields(line);
      std::string id, rest;
      std::getline(fields, id, ' ');
      LoggedEvent e = {static_cast<DWORD>(std::stoul(id, nullptr, 16)), {}};
      std::getline(fields, rest, '|');  // the count
      std::string text;
      while (std::getline(fields, text, '|')) e.strings.push_back(text);
      events.push_back(e);
    }
    return events;
  }

  std::vector<LoggedEvent> WithId(DWORD id) const {
    std::vector<LoggedEvent> found;
    for (const LoggedEvent& e : Events())
      if (e.id == id) found.push_back(e);
    return found;
  }

  bool WaitFor(DWORD id, size_t count, DWORD timeoutMs) const {
    for (DWORD waited = 0;; waited += 20) {
      if (WithId(id).size() >= count) return true;
      if (waited >= timeoutMs) return false;
      Sleep(20);
    }
  }

 private:
  std::string log_;
};

template <typename Done>
bool WaitUntil(DWORD timeoutMs, Done done) {
  for (DWORD waited = 0;; waited += 20) {
    if (done()) return true;
    if (waited >= timeoutMs) return false;
    Sleep(20);
  }
}

class PipeServiceTest : public SimulatedServiceTest {
 protected:
  explicit PipeServiceTest(SimulatedDevice device = {L"KS00000000000101", 0x201, 0x101})
      : SimulatedServiceTest(device) {}
  void SetUp() override {
    SimulatedServiceTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(spy_.Attach(servicePid_)) << "the event spy does not load into the service";
  }
  void TearDown() override {
    EXPECT_THAT(spy_.WithId(MSG_PIPE_OPENED), IsEmpty()) << "\"Pipe #%1 opened.\" is never written";
    SimulatedServiceTest::TearDown();
  }

  std::unique_ptr<PipeTestClient> Connect() {
    std::unique_ptr<PipeTestClient> client(new PipeTestClient);
    EXPECT_TRUE(client->Connect(5000)) << "error " << client->lastError();
    return client;
  }

  // Moves the ball (tz) or lets it go (0); the service's state follows.
  bool Ball(int tz) { return SendReport(ball_, BallReport(tz)); }

  // Lines the service wrote to the debugger output that contain text.
  size_t ServiceLinesWith(const std::string& text) {
    size_t n = 0;
    for (const std::string& line : monitor_.TextsFrom(servicePid_))
      if (line.find(text) != std::string::npos) ++n;
    return n;
  }

  EventSpy spy_;
};

class PipeServiceWithoutDeviceTest : public PipeServiceTest {
 protected:
  PipeServiceWithoutDeviceTest() : PipeServiceTest(kNoSimulatedDevice) {}
};

TEST_F(PipeServiceTest, NewClientsGetEveryDeviceAndAHotPlugIsLoggedOnce) {
  auto first = Connect();
  EXPECT_THAT(first->ReceiveUntilQuiet(300), ElementsAre(State(1, kOpen)));

  int second = SimAddDevice(L"KS00000000000102", 0x201, 0x102);
  ASSERT_GE(second, 0);
  ASSERT_TRUE(HotPlug(second));
  ASSERT_TRUE(WaitForDeviceOpen(second));
  // The newly opened device is the current one: its state goes out as device 1.
  EXPECT_THAT(first->ReceiveUntilQuiet(300), ElementsAre(State(1, kOpen)));

  auto late = Connect();
  // One message per slot, most recently opened first.
  EXPECT_THAT(late->ReceiveUntilQuiet(300), ElementsAre(State(2, kOpen), State(1, kOpen)));
  ASSERT_TRUE(spy_.WaitFor(MSG_DEVICE_PLUGGED_IN, 1, 5000));
  Sleep(200);
  auto plugged = spy_.WithId(MSG_DEVICE_PLUGGED_IN);
  ASSERT_EQ(plugged.size(), 1u);
  EXPECT_THAT(plugged[0].strings, IsEmpty());
}

TEST_F(PipeServiceTest, BallStartAndStopReachEveryClient) {
  auto a = Connect();
  auto b = Connect();
  a->ReceiveUntilQuiet(200);
  b->ReceiveUntilQuiet(200);
  ASSERT_TRUE(Ball(200));
  const PipeMessage active = State(1, kOpen | StateBallActive | StateBallChanged);
  EXPECT_THAT(a->ReceiveUntilQuiet(300), ElementsAre(active));
  EXPECT_THAT(b->ReceiveUntilQuiet(300), ElementsAre(active));
  // Continuous motion sends nothing more.
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(Ball(200));
  EXPECT_THAT(a->ReceiveUntilQuiet(200), IsEmpty());
  ASSERT_TRUE(Ball(0));
  const PipeMessage released = State(1, kOpen | StateBallChanged);
  EXPECT_THAT(a->ReceiveUntilQuiet(300), ElementsAre(released));
  EXPECT_THAT(b->ReceiveUntilQuiet(300), ElementsAre(released));
}

TEST_F(PipeServiceTest, SettingsReachTheFirstDeviceAndRecordOne) {
  auto client = Connect();
  client->ReceiveUntilQuiet(200);
  SectionView section;
  const volatile DeviceMotionRecord* record = section.Record(1);
  ASSERT_NE(record, nullptr) << "error " << GetLastError();
  EXPECT_EQ(record->m_LogFactors[0], 0x8000);  // defaults at start

  const uint16_t factors[4] = {0x9000, 0x7000, 0xA000, 0x6000};
  ASSERT_TRUE(client->SendSetLogFactors(factors[0], factors[1], factors[2], factors[3]));
  ASSERT_TRUE(client->SendSetFlags(2));
  EXPECT_TRUE(WaitUntil(3000, [&] { return record->m_Flags == 1; }));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(record->m_LogFactors[i], factors[i]) << i;

  ASSERT_TRUE(client->SendSetFlags(0));
  EXPECT_TRUE(WaitUntil(3000, [&] { return record->m_Flags == 0; }));
  EXPECT_FALSE(client->broken());
}

TEST_F(PipeServiceTest, AutoZeroGoesToTheCurrentDevice) {
  auto client = Connect();
  client->ReceiveUntilQuiet(200);
  const uint32_t before = SimFirmwareOf(ball_)->m_AutoZeroCount;
  ASSERT_TRUE(client->SendTestAutoZero());
  EXPECT_TRUE(WaitUntil(5000, [&] { return SimFirmwareOf(ball_)->m_AutoZeroCount == before + 1; }));
  // The reply is refused unless forced: the exchange was the forced one.
  const SimFirmware* firmware = SimFirmwareOf(ball_);
  ASSERT_GT(firmware->m_CommandCount, 0u);
  EXPECT_EQ(firmware->m_Commands[(firmware->m_CommandCount - 1) % kSimCommandLog], 0x5A);
  EXPECT_FALSE(client->broken());
}

TEST_F(PipeServiceWithoutDeviceTest, AutoZeroWithoutADeviceDoesNothing) {
  auto client = Connect();
  EXPECT_THAT(client->ReceiveUntilQuiet(200), IsEmpty());
  ASSERT_TRUE(client->SendTestAutoZero());
  Sleep(300);
  EXPECT_TRUE(QueryKestrinService().status.dwCurrentState == SERVICE_RUNNING);
  // Still connected and served: another client's settings do not break it.
  EXPECT_THAT(client->ReceiveUntilQuiet(100), IsEmpty());
  EXPECT_FALSE(client->broken());
}

TEST_F(PipeServiceWithoutDeviceTest, ClosedClientsLogTheirPoolIndexOnceEach) {
  // A client that goes before the service has taken it on is closed quietly;
  // each client here is first seen served: its flags reach record 1.
  SectionView section;
  const volatile DeviceMotionRecord* record = section.Record(1);
  ASSERT_NE(record, nullptr) << "error " << GetLastError();
  auto served = [&](PipeTestClient* client, uint16_t flags) {
    return client->SendSetFlags(flags) &&
           WaitUntil(3000, [&] { return record->m_Flags == (flags ? 1 : 0); });
  };
  auto first = Connect();    // index 0; the listener moves to 1
  ASSERT_TRUE(served(first.get(), 1));
  first->Close();
  ASSERT_TRUE(spy_.WaitFor(MSG_PIPE_CLOSED, 1, 5000));
  auto second = Connect();   // the listener at 1; index 0 listens next
  ASSERT_TRUE(served(second.get(), 0));
  auto third = Connect();    // index 0 again
  ASSERT_TRUE(served(third.get(), 1));
  third->Close();
  ASSERT_TRUE(spy_.WaitFor(MSG_PIPE_CLOSED, 2, 5000));
  second->Close();
  ASSERT_TRUE(spy_.WaitFor(MSG_PIPE_CLOSED, 3, 5000));
  Sleep(200);
  auto closed = spy_.WithId(MSG_PIPE_CLOSED);
  ASSERT_EQ(closed.size(), 3u);
  EXPECT_THAT(closed[0].strings, ElementsAre("0"));
  EXPECT_THAT(closed[1].strings, ElementsAre("0"));
  EXPECT_THAT(closed[2].strings, ElementsAre("1"));
}

TEST_F(PipeServiceWithoutDeviceTest, StartRegistersTheRunningProgramAsTheEventSource) {
  HKEY key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                          "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Kestrin",
                          0, KEY_READ, &key),
            ERROR_SUCCESS);
  char file[MAX_PATH] = {};
  DWORD size = sizeof file, type = 0;
  EXPECT_EQ(RegQueryValueExA(key, "EventMessageFile", nullptr, &type,
                             reinterpret_cast<BYTE*>(file), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(_stricmp(file, program_.c_str()), 0) << file;
  DWORD types = 0;
  size = sizeof types;
  EXPECT_EQ(RegQueryValueExA(key, "TypesSupported", nullptr, &type,
                             reinterpret_cast<BYTE*>(&types), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(types, 7u);
  RegCloseKey(key);
}

TEST_F(PipeServiceTest, MalformedTrafficEndsNoOtherClientAndTheServiceRuns) {
  auto watcher = Connect();
  watcher->ReceiveUntilQuiet(200);
  const struct {
    const char* what;
    std::vector<uint8_t> bytes;
    bool dropped;  // the service ends the connection
  } cases[] = {
      {"short", {0x02, 0x40}, false},
      {"garbage opcode", {0xEF, 0xBE, 0xAD, 0xDE, 1, 2, 3, 4, 5, 6, 7, 8}, false},
      {"long", std::vector<uint8_t>(16, 0x40), true},
      {"longer than the pipe buffer", std::vector<uint8_t>(500, 0x01), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const size_t closedBefore = spy_.WithId(MSG_PIPE_CLOSED).size();
    auto client = Connect();
    client->ReceiveUntilQuiet(100);
    client->SendBytes(c.bytes.data(), static_cast<DWORD>(c.bytes.size()));
    PipeMessage message;
    PipeTestClient::Receive r = client->ReceiveMessage(&message, 500);
    if (c.dropped)
      EXPECT_EQ(r, PipeTestClient::Receive::Broken);
    else
      EXPECT_EQ(r, PipeTestClient::Receive::Timeout);
    client->Close();
    // A kept client's close is the normal end, logged once; a dropped one's
    // failed read is no such end and logs nothing.
    const size_t expected = closedBefore + (c.dropped ? 0 : 1);
    spy_.WaitFor(MSG_PIPE_CLOSED, expected, 2000);
    Sleep(100);
    EXPECT_EQ(spy_.WithId(MSG_PIPE_CLOSED).size(), expected);
  }
  // A client that connects and vanishes at once.
  for (int i = 0; i < 5; ++i) Connect()->Close();

  ASSERT_TRUE(Ball(200));
  EXPECT_THAT(watcher->ReceiveUntilQuiet(300),
              ElementsAre(State(1, kOpen | StateBallActive | StateBallChanged)));
  EXPECT_EQ(QueryKestrinService().status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
}

TEST_F(PipeServiceTest, ASleepingClientMissesStatesThenConverges) {
  auto sleeper = Connect();
  auto reader = Connect();
  // Far more state changes than the sleeper's pipe buffer holds.
  uint16_t last = 0;
  for (int i = 0; i < 40; ++i) {
    ASSERT_TRUE(Ball(i % 2 ? 0 : 200));
    PipeMessage message;
    ASSERT_EQ(reader->ReceiveMessage(&message, 2000), PipeTestClient::Receive::Message);
    last = message.m_Payload.m_DeviceState.m_State;
  }
  EXPECT_TRUE(WaitUntil(3000, [&] { return ServiceLinesWith("Pipe write skipped!") > 0; }));
  std::vector<PipeMessage> got = sleeper->ReceiveUntilQuiet(500);
  ASSERT_FALSE(got.empty());
  EXPECT_LT(got.size(), 41u);
  EXPECT_EQ(got.back().m_Payload.m_DeviceState.m_State, last);
  EXPECT_EQ(last, kOpen | StateBallChanged);
}

TEST_F(PipeServiceTest, ManyClientsComingAndGoingWhileTheDeviceStreams) {
  HANDLE service = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, servicePid_);
  ASSERT_NE(service, nullptr);
  auto handles = [service] {
    DWORD count = 0;
    GetProcessHandleCount(service, &count);
    return count;
  };
  // Settle the connection-independent handles first.
  Connect()->Close();
  Sleep(300);
  const DWORD handlesBefore = handles();

  constexpr int kClients = 60;
  constexpr DWORD kRunMs = 30000;
  std::atomic<bool> stop{false};
  std::atomic<int> sessions{0}, busy{0}, failures{0};
  std::thread device([&] {
    int i = 0;
    while (!stop) {
      // Bursts of motion with pauses: the ball starts and stops.
      Ball((i++ / 20) % 2 ? 0 : 150);
      Sleep(5);
    }
    Ball(0);
  });
  std::vector<std::thread> clients;
  for (int n = 0; n < kClients; ++n) {
    clients.emplace_back([&, n] {
      while (!stop) {
        PipeTestClient client;
        if (!client.Connect(2000)) {
          ++busy;
          continue;
        }
        ++sessions;
        // Read what comes, send settings now and then, leave.
        for (int k = 0; k < 3 && !stop; ++k) {
          if ((n + k) % 7 == 0 && !client.SendSetFlags(static_cast<uint16_t>(k & 1))) ++failures;
          client.ReceiveUntilQuiet(20);
        }
        if (client.broken()) ++failures;
      }
    });
  }
  Sleep(kRunMs);
  stop = true;
  for (auto& t : clients) t.join();
  device.join();

  EXPECT_EQ(QueryKestrinService().status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
  {
    std::vector<std::string> lines = monitor_.TextsFrom(servicePid_);
    for (size_t i = lines.size() > 20 ? lines.size() - 20 : 0; i < lines.size(); ++i)
      printf("service: %s", lines[i].c_str());
  }
  EXPECT_GT(sessions.load(), kClients);
  EXPECT_EQ(failures.load(), 0);
  // The list never held more than the wait takes: a refused or failed wait
  // is reported with call id 48.
  EXPECT_EQ(ServiceLinesWith("48() failed"), 0u);

  // Clients that stay end with the current state.
  std::vector<std::unique_ptr<PipeTestClient>> stayers;
  for (int i = 0; i < 20; ++i) stayers.push_back(Connect());
  ASSERT_TRUE(Ball(200));
  ASSERT_TRUE(Ball(0));
  for (auto& s : stayers) {
    std::vector<PipeMessage> got = s->ReceiveUntilQuiet(500);
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.back(), State(1, kOpen | StateBallChanged));
  }
  stayers.clear();
  // The last sessions close on the service's own time.
  WaitUntil(5000, [&] { return handles() <= handlesBefore; });
  EXPECT_LE(handles(), handlesBefore) << "handles left open by the pipe server";
  CloseHandle(service);
  printf("%d sessions, %d waits for a free instance in %lu ms\n", sessions.load(), busy.load(),
         kRunMs);
}

TEST_F(PipeServiceTest, ClientsSeeARestartAndNewConnectionsGetEveryDevice) {
  auto a = Connect();
  auto b = Connect();
  a->ReceiveUntilQuiet(200);
  b->ReceiveUntilQuiet(200);
  ASSERT_EQ(SendServiceControl(SERVICE_CONTROL_STOP), 0u);
  // Closing the devices at shutdown sends their last state; then the pipe breaks.
  for (PipeTestClient* client : {a.get(), b.get()}) {
    std::vector<PipeMessage> last = client->ReceiveUntilQuiet(5000);
    EXPECT_TRUE(client->broken());
    ASSERT_FALSE(last.empty());
    EXPECT_EQ(last.back().m_Payload.m_DeviceState.m_State & kOpen, 0);
  }
  ASSERT_TRUE(WaitForServiceState(SERVICE_STOPPED, 10000));

  int second = SimAddDevice(L"KS00000000000103", 0x201, 0x103);
  ASSERT_TRUE(SimPlug(second, 0) && SimPlug(second + 1, 0));
  RunResult start = Run("-i");
  ASSERT_EQ(start.exitCode, 0u) << start.output;
  ASSERT_TRUE(WaitForServiceState(SERVICE_RUNNING, 20000));
  servicePid_ = QueryKestrinService().status.dwProcessId;
  ASSERT_TRUE(SimWaitOpen(second, 10000) && SimWaitOpen(ball_, 10000));
  auto fresh = Connect();
  std::vector<PipeMessage> got = fresh->ReceiveUntilQuiet(300);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_THAT(std::vector<uint16_t>({got[0].m_Device, got[1].m_Device}),
              ::testing::UnorderedElementsAre(1, 2));
  for (const PipeMessage& m : got) EXPECT_EQ(m.m_Payload.m_DeviceState.m_State, kOpen);
}

}  // namespace
