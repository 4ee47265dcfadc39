// The pipe server in this process, driven by a pump that does what the
// service loop does (publish when asked, rebuild the list, wait, reset, call
// back), with clients of the real pipe and made-up device slots.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "dbwin_monitor.h"
#include "device_slot.h"
#include "event_log_recorder.h"
#include "import_hook.h"
#include "messages.h"
#include "motion_stages.h"
#include "pipe_client.h"
#include "pipe_server.h"
#include "service_private.h"
#include "wait_loop.h"

using ::testing::ElementsAre;

// Beside PipeMessage, where the matchers look for them.
bool operator==(const PipeMessage& a, const PipeMessage& b) {
  return a.m_Opcode == b.m_Opcode && a.m_Device == b.m_Device &&
         (a.m_Opcode != PipeDeviceState ||
          (a.m_Payload.m_DeviceState.m_State == b.m_Payload.m_DeviceState.m_State &&
           a.m_Payload.m_DeviceState.m_Buttons == b.m_Payload.m_DeviceState.m_Buttons));
}

void PrintTo(const PipeMessage& m, std::ostream* os) { *os << DescribePipeMessage(m); }

namespace {

constexpr uint16_t kAttachedEnabled = StateDeviceAttached | StateDeviceEnabled;

class PipeServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(recorder_.installed());
    savedParts_ = WaitLoopParts;
    // The slots here have no device handles to wait on and no arrivals.
    WaitLoopParts.addDeviceWaitItems = [] {};
    WaitLoopParts.processArrivalQueue = [] {};
    WakeEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(WakeEvent, nullptr);
    PoolInit(&DeviceTable, sizeof(DeviceSlot));
    CurrentSlot = -1;
    handlesAtStart_ = HandleCount();
    InitPipeServer();
    Pump();
  }

  void TearDown() override {
    clients_.clear();
    Pump();
    ClosePipeServer();
    FreeWaitList();
    PoolFree(&DeviceTable);
    CurrentSlot = -1;
    CloseHandle(WakeEvent);
    WakeEvent = nullptr;
    WaitLoopParts = savedParts_;
    EXPECT_LE(largestList_, kMaxWaitEntries);
    EXPECT_TRUE(recorder_.EventsWithId(MSG_PIPE_OPENED).empty()) << "\"Pipe #%1 opened.\" is never written";
    EXPECT_EQ(HandleCount(), handlesAtStart_) << "handles left open";
  }

  static DWORD HandleCount() {
    DWORD count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &count);
    return count;
  }

  // Serves until nothing has happened for quietMs (or, with busy clients,
  // until maxMs have passed).
  void Pump(DWORD quietMs = 40, DWORD maxMs = INFINITE) {
    WaitList& list = ServiceWaitList;
    const DWORD start = GetTickCount();
    for (;;) {
      if (maxMs != INFINITE && GetTickCount() - start >= maxMs) return;
      if (PublishPending) {
        PublishPending = 0;
        PublishDeviceState();
      }
      if (list.m_Count == 0) BuildWaitList();
      largestList_ = std::max(largestList_, list.m_Count);
      DWORD result = WaitForMultipleObjects(list.m_Count, list.m_Handles, FALSE, quietMs);
      if (result == WAIT_TIMEOUT) return;
      if (result >= list.m_Count) {
        DWORD error = GetLastError();
        for (uint16_t i = 0; i < list.m_Count; ++i)
          if (WaitForSingleObject(list.m_Handles[i], 0) == WAIT_FAILED)
            ADD_FAILURE() << "entry " << i << " arg " << list.m_Entries[i].m_Argument << " bad";
        FAIL() << "wait failed: " << error << " listening " << ListeningIndex;
      }
      ResetEvent(list.m_Handles[result]);
      const WaitEntry entry = list.m_Entries[result];
      entry.m_Callback(entry.m_Argument);
    }
  }

  PipeTestClient* Connect() {
    clients_.emplace_back(new PipeTestClient);
    PipeTestClient* client = clients_.back().get();
    EXPECT_TRUE(client->Connect(2000)) << "error " << client->lastError();
    Pump();
    return client;
  }

  // A device slot as the device code leaves it after opening a device; it
  // becomes the current device.
  uint16_t AddDevice(uint16_t published, uint32_t publishedButtons, uint16_t live) {
    auto* slot = static_cast<DeviceSlot*>(PoolAlloc(&DeviceTable));
    memset(slot, 0, sizeof *slot);
    slot->m_Ball.m_Handle = INVALID_HANDLE_VALUE;
    slot->m_Scroll.m_Handle = INVALID_HANDLE_VALUE;
    slot->m_PublishedState = published;
    slot->m_PublishedButtons = publishedButtons;
    slot->m_State = live;
    slot->m_Buttons = publishedButtons;
    uint16_t index = PoolIndexOf(&DeviceTable, slot);
    CurrentSlot = static_cast<int16_t>(index);
    return index;
  }

  DeviceSlot* Slot(uint16_t index) {
    return static_cast<DeviceSlot*>(PoolRecord(&DeviceTable, index));
  }

  uint16_t ConnectedCount() {
    uint16_t n = 0;
    for (uint16_t i = 0; i < PipeClients.count; ++i)
      if (PipeClientInUse(i) && PipeClientAt(i)->m_Connected) ++n;
    return n;
  }

  EventLogRecorder recorder_;
  WaitLoopCalls savedParts_;
  std::vector<std::unique_ptr<PipeTestClient>> clients_;
  uint16_t largestList_ = 0;
  DWORD handlesAtStart_ = 0;
};

TEST_F(PipeServerTest, OneInstanceListensAtStart) {
  EXPECT_EQ(ListeningIndex, 0);
  EXPECT_EQ(ServiceWaitList.m_Count, 2);  // the wake event and the listener
  EXPECT_NE(SvcElfMessage, 0u);
  EXPECT_EQ(SvcElfMessage, RegisterWindowMessageA(kServiceMessageName));
}

TEST_F(PipeServerTest, ANewClientGetsEachSlotsPublishedStateInWalkOrder) {
  // Live states with change bits set: the client must get the published copies.
  uint16_t first = AddDevice(kAttachedEnabled, 0x05, kAttachedEnabled | StateBallActive |
                                                         StateBallChanged);
  uint16_t second = AddDevice(kAttachedEnabled | StateScrollActive, 0x80,
                              kAttachedEnabled | StateScrollChanged);
  PipeTestClient* client = Connect();
  // Most recently taken slot first: the walk order of the device table.
  EXPECT_THAT(client->ReceiveUntilQuiet(100),
              ElementsAre(MakeDeviceStateMessage(second + 1, kAttachedEnabled | StateScrollActive,
                                                 0x80),
                          MakeDeviceStateMessage(first + 1, kAttachedEnabled, 0x05)));
  // The connection moved the listener on; the wait list holds the wake event,
  // the new listener and the client's read and write events.
  EXPECT_EQ(ListeningIndex, 1);
  EXPECT_EQ(ServiceWaitList.m_Count, 4);
}

TEST_F(PipeServerTest, PublishSendsTheLiveStateOnlyWhenItChanged) {
  PipeTestClient* a = Connect();
  PipeTestClient* b = Connect();
  const struct {
    const char* what;
    uint16_t live;
    uint32_t buttons;
    bool sent;
  } cases[] = {
      {"nothing changed", kAttachedEnabled, 0, false},
      {"ball starts", kAttachedEnabled | StateBallActive | StateBallChanged, 0, true},
      {"change bit still set", kAttachedEnabled | StateBallActive | StateBallChanged, 0, true},
      {"change bit cleared", kAttachedEnabled | StateBallActive, 0, false},
      {"a button", kAttachedEnabled | StateBallActive, 0x04, true},
      {"ball stops", kAttachedEnabled | StateBallChanged, 0x04, true},
  };
  uint16_t slot = AddDevice(kAttachedEnabled, 0, kAttachedEnabled);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Slot(slot)->m_State = c.live;
    Slot(slot)->m_Buttons = c.buttons;
    PublishPending = 1;
    Pump();
    std::vector<PipeMessage> expected;
    if (c.sent) expected.push_back(MakeDeviceStateMessage(1, c.live, c.buttons));
    EXPECT_EQ(a->ReceiveUntilQuiet(50), expected);
    EXPECT_EQ(b->ReceiveUntilQuiet(50), expected);
    // What was sent is kept without its change bits.
    EXPECT_EQ(Slot(slot)->m_PublishedState, c.live & ~(StateBallChanged | StateScrollChanged));
    EXPECT_EQ(Slot(slot)->m_PublishedButtons, c.buttons);
  }
}

TEST_F(PipeServerTest, NothingIsPublishedWithoutACurrentDevice) {
  PipeTestClient* client = Connect();
  uint16_t slot = AddDevice(kAttachedEnabled, 0, kAttachedEnabled | StateBallActive);
  CurrentSlot = -1;
  PublishPending = 1;
  Pump();
  EXPECT_TRUE(client->ReceiveUntilQuiet(50).empty());
  EXPECT_EQ(Slot(slot)->m_PublishedState, kAttachedEnabled);
}

TEST_F(PipeServerTest, ClosingClientLogsItsPoolIndexOnceAndTheIndexIsReused) {
  PipeTestClient* first = Connect();  // index 0; the listener moves to 1
  first->Close();
  Pump();
  auto closed = recorder_.EventsWithId(MSG_PIPE_CLOSED);
  ASSERT_EQ(closed.size(), 1u);
  EXPECT_EQ(closed[0].type, EVENTLOG_INFORMATION_TYPE);
  EXPECT_THAT(closed[0].strings, ElementsAre("0"));

  Connect();                           // takes the listener at 1; index 0 listens next
  PipeTestClient* third = Connect();   // reuses index 0
  third->Close();
  Pump();
  closed = recorder_.EventsWithId(MSG_PIPE_CLOSED);
  ASSERT_EQ(closed.size(), 2u);
  EXPECT_THAT(closed[1].strings, ElementsAre("0"));
}

TEST_F(PipeServerTest, MalformedTrafficIsDroppedOrEndsOnlyThatClient) {
  uint16_t slot = AddDevice(kAttachedEnabled, 0, kAttachedEnabled);
  CurrentSlot = -1;  // auto-zero must find no device
  const struct {
    const char* what;
    std::vector<uint8_t> bytes;
    bool staysConnected;
  } cases[] = {
      {"unknown opcode", {0x99, 0x77, 1, 0, 1, 2, 3, 4, 5, 6, 7, 8}, true},
      {"device state sent to the service", {3, 0, 1, 0, 0, 4, 0, 0, 0, 0, 0, 0}, true},
      {"auto-zero without a device", {0x03, 0x40, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0}, true},
      {"short message", {0x02, 0x40, 1, 0}, true},
      {"11-byte message", {0x01, 0x40, 1, 0, 1, 2, 3, 4, 5, 6, 7}, true},
      {"empty message", {}, true},
      {"16-byte message", {0x02, 0x40, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 9, 9, 9, 9}, false},
      {"100-byte message", std::vector<uint8_t>(100, 0x41), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    PipeTestClient* client = Connect();
    client->ReceiveUntilQuiet(30);  // the connect's state message
    size_t eventsBefore = recorder_.events.size();
    ASSERT_TRUE(client->SendBytes(c.bytes.data(), static_cast<DWORD>(c.bytes.size())));
    Pump();
    // A client still served gets the next state change.
    Slot(slot)->m_State ^= StateScrollActive;
    CurrentSlot = static_cast<int16_t>(slot);
    PublishPending = 1;
    Pump();
    CurrentSlot = -1;
    std::vector<PipeMessage> got = client->ReceiveUntilQuiet(50);
    if (c.staysConnected) {
      EXPECT_EQ(got.size(), 1u);
      EXPECT_FALSE(client->broken());
    } else {
      EXPECT_TRUE(got.empty());
      EXPECT_TRUE(client->broken());
      // A failed read is no normal end of a connection: no event.
      EXPECT_EQ(recorder_.events.size(), eventsBefore);
    }
    client->Close();
    Pump();
  }
  // Nothing the traffic carried reached a device.
  EXPECT_EQ(Slot(slot)->m_PublishedButtons, 0u);
}

TEST_F(PipeServerTest, SettingsActOnTheFirstSlotWhateverDeviceTheyName) {
  uint16_t first = AddDevice(kAttachedEnabled, 0, kAttachedEnabled);
  uint16_t second = AddDevice(kAttachedEnabled, 0, kAttachedEnabled);
  PipeTestClient* client = Connect();
  const struct {
    uint16_t flags;
    uint16_t convention;
  } flagCases[] = {{2, 1}, {0, 0}, {1, 1}, {0x8000, 1}, {0, 0}};
  for (const auto& c : flagCases) {
    SCOPED_TRACE(c.flags);
    PipeMessage message = {};
    message.m_Opcode = PipeSetFlags;
    message.m_Device = 2;  // ignored: settings go to the first slot
    message.m_Payload.m_Flags = c.flags;
    ASSERT_TRUE(client->Send(message));
    Pump();
    EXPECT_EQ(Slot(first)->m_AxisConvention, c.convention);
    EXPECT_EQ(Slot(second)->m_AxisConvention, 0);
  }

  const uint16_t factors[4] = {0x9000, 0x7000, 0xA000, 0x8000};
  int16_t expected[4];
  GainsFromSettings(expected, factors);
  ASSERT_TRUE(client->SendSetLogFactors(factors[0], factors[1], factors[2], factors[3]));
  Pump();
  EXPECT_EQ(memcmp(Slot(first)->m_Gains, expected, sizeof expected), 0);
  EXPECT_NE(memcmp(Slot(second)->m_Gains, expected, sizeof expected), 0);
  EXPECT_FALSE(client->broken());
}

TEST_F(PipeServerTest, AShortMessageIsNotActedOnWithTheRestOfAnOlderOne) {
  uint16_t slot = AddDevice(kAttachedEnabled, 0, kAttachedEnabled);
  PipeTestClient* a = Connect();
  PipeTestClient* b = Connect();
  ASSERT_TRUE(a->SendSetFlags(1));  // a's buffer now holds flags 1
  Pump();
  ASSERT_TRUE(b->SendSetFlags(0));
  Pump();
  ASSERT_EQ(Slot(slot)->m_AxisConvention, 0);
  // Opcode and device only: acting on it would take a's old flags.
  const uint8_t shortSetFlags[] = {0x02, 0x40, 0x01, 0x00};
  ASSERT_TRUE(a->SendBytes(shortSetFlags, sizeof shortSetFlags));
  Pump();
  EXPECT_EQ(Slot(slot)->m_AxisConvention, 0);
  // The client stays connected and is heard again.
  ASSERT_TRUE(a->SendSetFlags(1));
  Pump();
  EXPECT_EQ(Slot(slot)->m_AxisConvention, 1);
}

TEST_F(PipeServerTest, ClientGoneBeforeTheServiceWritesIsClosedQuietlyOnce) {
  // Connects and vanishes before its connect is served.
  PipeTestClient vanishing;
  ASSERT_TRUE(vanishing.Connect(2000));
  vanishing.Close();
  AddDevice(kAttachedEnabled, 0, kAttachedEnabled);
  Pump();
  PipeTestClient* next = Connect();
  EXPECT_EQ(next->ReceiveUntilQuiet(50).size(), 1u);
  EXPECT_EQ(ConnectedCount(), 1);
  EXPECT_LE(recorder_.EventsWithId(MSG_PIPE_CLOSED).size(), 1u);
}

// A client that opens a new instance between its creation and the connect:
// a hook on CreateNamedPipeA opens the client end right after the instance
// is made, and closes it again or keeps it.
class RacingClient {
 public:
  explicit RacingClient(bool closeAgain)
      : hook_(GetModuleHandleA(nullptr), "kernel32.dll", "CreateNamedPipeA",
              reinterpret_cast<void*>(&Create)) {
    active_ = this;
    closeAgain_ = closeAgain;
  }
  ~RacingClient() { active_ = nullptr; }
  bool installed() const { return hook_.installed(); }
  std::unique_ptr<PipeTestClient> client;  // the one kept open
  int raced = 0;

 private:
  static HANDLE WINAPI Create(LPCSTR name, DWORD openMode, DWORD pipeMode, DWORD instances,
                              DWORD outBytes, DWORD inBytes, DWORD timeout,
                              LPSECURITY_ATTRIBUTES security) {
    RacingClient* self = active_;
    auto real = reinterpret_cast<decltype(&CreateNamedPipeA)>(self->hook_.original());
    HANDLE pipe = real(name, openMode, pipeMode, instances, outBytes, inBytes, timeout, security);
    if (pipe != INVALID_HANDLE_VALUE && self->raced == 0) {
      ++self->raced;
      self->client.reset(new PipeTestClient);
      self->client->Connect(1000);
      if (self->closeAgain_) self->client->Close();
    }
    return pipe;
  }
  static RacingClient* active_;
  ImportHook hook_;
  bool closeAgain_ = false;
};
RacingClient* RacingClient::active_ = nullptr;

TEST_F(PipeServerTest, AClientRacingTheConnectIsServedOrLeavesAListenerBehind) {
  AddDevice(kAttachedEnabled, 0, kAttachedEnabled);
  for (bool closeAgain : {false, true}) {
    SCOPED_TRACE(closeAgain ? "client gone before the connect" : "client there before the connect");
    std::unique_ptr<PipeTestClient> racer;
    {
      RacingClient race(closeAgain);
      ASSERT_TRUE(race.installed());
      Connect();  // its connect makes the next instance, which the racer opens
      Pump();
      ASSERT_EQ(race.raced, 1);
      racer = std::move(race.client);
    }
    if (!closeAgain) {
      EXPECT_EQ(racer->ReceiveUntilQuiet(50).size(), 1u) << "served at once";
    }
    // Either way an instance listens and the next client is served.
    EXPECT_NE(ListeningIndex, kNoListener);
    PipeTestClient* next = Connect();
    EXPECT_EQ(next->ReceiveUntilQuiet(50).size(), 1u);
    racer.reset();
    Pump();
  }
}

TEST_F(PipeServerTest, AClientThatDoesNotReadMissesStatesThenGetsTheLatest) {
  DebugMonitor monitor;
  ASSERT_TRUE(monitor.Start());
  uint16_t slot = AddDevice(kAttachedEnabled, 0, kAttachedEnabled);
  PipeTestClient* reader = Connect();
  PipeTestClient* sleeper = Connect();
  reader->ReceiveUntilQuiet(30);
  // Far more changes than the pipe's buffer holds while the sleeper reads
  // nothing: its writes back up and the server skips it.
  uint32_t buttons = 0;
  for (int i = 0; i < 60; ++i) {
    Slot(slot)->m_Buttons = ++buttons;
    PublishPending = 1;
    Pump(5);
    EXPECT_EQ(reader->ReceiveUntilQuiet(5).size(), 1u);
  }
  Pump();
  EXPECT_TRUE(monitor.WaitForText("Pipe write skipped!", 2000));
  // Now it reads: the last message it gets is the current state.
  std::vector<PipeMessage> got;
  for (int round = 0; round < 50; ++round) {
    std::vector<PipeMessage> more = sleeper->ReceiveUntilQuiet(10);
    Pump(10);
    if (more.empty() && !got.empty()) break;
    got.insert(got.end(), more.begin(), more.end());
  }
  ASSERT_FALSE(got.empty());
  EXPECT_LT(got.size(), 61u) << "some states were skipped";
  EXPECT_EQ(got.back(), MakeDeviceStateMessage(1, kAttachedEnabled, buttons));
}

TEST_F(PipeServerTest, ClientsComingAndGoingLeaveOneListenerAndNothingElse) {
  uint16_t slot = AddDevice(kAttachedEnabled, 0, kAttachedEnabled);
  std::atomic<bool> stop{false};
  std::atomic<int> sessions{0}, finished{0};
  std::vector<std::thread> threads;
  for (int n = 0; n < 40; ++n) {
    threads.emplace_back([&, n] {
      while (!stop) {
        PipeTestClient client;
        if (!client.Connect(200)) continue;
        ++sessions;
        if (n % 3 == 0) client.SendSetFlags(1);
        if (n % 2 == 0) client.ReceiveUntilQuiet(5);
      }
      ++finished;
    });
  }
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < 5000) {
    Slot(slot)->m_Buttons ^= 1;
    PublishPending = 1;
    Pump(1, 1000);
  }
  stop = true;
  // Served until every client has left.
  while (finished < static_cast<int>(threads.size())) Pump(1, 20);
  for (auto& t : threads) t.join();
  Pump(200);
  EXPECT_GT(sessions.load(), 40);
  uint16_t inUse = 0;
  for (uint16_t i = 0; i < PipeClients.count; ++i)
    if (PipeClientInUse(i)) ++inUse;
  EXPECT_EQ(inUse, 1) << "records left besides the listener";
  ASSERT_NE(ListeningIndex, kNoListener);
  PipeTestClient* last = Connect();
  EXPECT_EQ(last->ReceiveUntilQuiet(50).size(), 1u);
}

TEST_F(PipeServerTest, WaitListStaysWithin64HandlesWithManyClients) {
  AddDevice(kAttachedEnabled, 0, kAttachedEnabled);
  // The list would hold the wake event, two device entries in the service:
  // room is kept for them and one more device.
  auto deviceEntries = [] { return uint16_t{2 * 2}; };
  // Records hold the OVERLAPPED blocks of pending reads: they must not move.
  const uint8_t* records = PipeClients.records;
  std::vector<std::unique_ptr<PipeTestClient>> crowd;
  int refused = 0;
  for (int i = 0; i < 40; ++i) {
    crowd.emplace_back(new PipeTestClient);
    if (!crowd.back()->Connect(50)) {
      ++refused;
      EXPECT_EQ(crowd.back()->lastError(), static_cast<DWORD>(ERROR_PIPE_BUSY));
    }
    Pump(10);
  }
  Pump();
  const uint16_t connected = ConnectedCount();
  EXPECT_GT(refused, 0);
  EXPECT_EQ(connected + refused, 40);
  EXPECT_EQ(ListeningIndex, kNoListener);
  EXPECT_LE(1 + 2 * connected + deviceEntries(), kMaxWaitEntries);
  EXPECT_EQ(PipeClients.records, records);
  // One leaves: a waiting client gets in and is served.
  for (auto& c : crowd)
    if (c->connected()) {
      c->Close();
      break;
    }
  Pump();
  EXPECT_NE(ListeningIndex, kNoListener);
  PipeTestClient late;
  ASSERT_TRUE(late.Connect(2000));
  Pump();
  EXPECT_EQ(ConnectedCount(), connected);
  PipeMessage message;
  EXPECT_EQ(late.ReceiveMessage(&message, 500), PipeTestClient::Receive::Message);
  // Every connected client is still served.
  for (auto& c : crowd) c->ReceiveUntilQuiet(5);
  Slot(0)->m_Buttons = 9;
  PublishPending = 1;
  Pump();
  for (auto& c : crowd) {
    if (!c->connected()) continue;
    EXPECT_EQ(c->ReceiveMessage(&message, 500), PipeTestClient::Receive::Message);
  }
  late.Close();
  crowd.clear();
  Pump();
}

}  // namespace
