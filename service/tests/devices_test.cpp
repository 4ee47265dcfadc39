// The device part against the device simulator, in one process: the
// simulator's engine serves its pipes on a thread of its own while the test
// thread plays the service thread, calling the device part's entry points
// as the wait loop would.
#include <windows.h>
#include <dbt.h>
#include <string.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "dbwin_monitor.h"
#include "device_test_stubs.h"
#include "devices.h"
#include "feature_reports.h"
#include "messages.h"
#include "motion_stages.h"
#include "report_motion.h"
#include "service_private.h"
#include "report_bytes.h"
#include "sim_core.h"
#include "sim_protocol.h"

namespace {

constexpr DWORD kWaitMs = 3000;

std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

const std::vector<uint8_t> kZeroBall(9, 0);
const int kPush[6] = {0, 0, 200, 0, 0, 0};
const int kTwist[6] = {60, -60, 0, 90, 0, -90};

// The outputs the service's chain gives for a report, with a solver state
// and the slot's settings: what a correct reader must publish.
struct BallModel {
  float m_State[3] = {};
  int16_t m_Gains[4];
  uint8_t m_RestZone;
  BallModel(uint8_t restZone) : m_RestZone(restZone) { GainsFromSettings(m_Gains, kDefaultSpeedSettings); }
  int Process(const std::vector<uint8_t>& report, int16_t out[6]) {
    memset(out, 0, 6 * sizeof(int16_t));
    bool any = false;
    for (int i = 1; i < 9; ++i) any |= report[i] != 0;
    if (!any) return 0;
    return ProcessBallReport(out, report.data() + 1, m_State, m_RestZone, m_Gains, 0);
  }
};

class SimEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { ASSERT_TRUE(SimStart()); }
  void TearDown() override { SimStop(); }
};
::testing::Environment* const kSim = ::testing::AddGlobalTestEnvironment(new SimEnvironment);

class DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SimReset();
    ResetDeviceStubs();
    InitDevices();
    Stubs.m_Published.clear();
  }
  void TearDown() override {
    CloseAllDevices();
    SimReset();
  }

  // A plugged device; its ball interface index.
  int Plug(const wchar_t* serial, uint16_t version, uint32_t instance) {
    int ball = SimAddDevice(serial, version, instance);
    EXPECT_GE(ball, 0);
    EXPECT_TRUE(SimPlug(ball, 0));
    EXPECT_TRUE(SimPlug(ball + 1, 0));
    return ball;
  }

  // The one open slot's index, after enumeration.
  uint16_t OpenOne(const wchar_t* serial = L"KS00000000000001", uint16_t version = 0x200) {
    m_Sim = Plug(serial, version, 1);
    EnumerateDevices();
    EXPECT_EQ(0, CurrentSlot);
    return 0;
  }

  // Hands bytes to the interface as one read and runs its reader once the
  // read completed.
  void Feed(uint16_t slot, int sim, const std::vector<uint8_t>& bytes, bool ball = true) {
    ASSERT_TRUE(SimSend(sim, bytes.data(), static_cast<uint32_t>(bytes.size())));
    Complete(slot, ball);
  }
  void Complete(uint16_t slot, bool ball = true) {
    DeviceSlot* s = SlotAt(slot);
    HANDLE event = ball ? s->m_Ball.m_Overlapped.hEvent : s->m_Scroll.m_Overlapped.hEvent;
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, kWaitMs));
    if (ball)
      OnBallReportsRead(slot);
    else
      OnScrollReportsRead(slot);
  }

  DeviceMotionRecord& Record(uint16_t slot) { return Stubs.m_Records[slot + 1]; }
  int m_Sim = -1;
};

// ---- the interface test ----

TEST(InterfaceTest, AcceptsTheDevicesPrefixInAnyCase) {
  struct Case {
    const char* path;
    int expected;
  } cases[] = {
      {"\\\\?\\hid#vid_15de&pid_6000&mi_00#7&1a&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}", 1},
      {"\\\\?\\HID#VID_15DE&PID_6000&MI_01#7&1a&0&0000#{4d1e55b2}", 1},
      {"\\\\?\\HID#Vid_15de&Pid_6000&MI_0", 1},           // the prefix alone
      {"\\\\?\\hid#vid_15de&pid_6001&mi_00#7&1a&0&0000", 0},  // another product
      {"\\\\?\\hid#vid_15df&pid_6000&mi_00#7&1a&0&0000", 0},  // another vendor
      {"\\\\?\\hid#vid_845e&pid_0001#1&2d595ca7&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}", 0},
      {"\\\\?\\hid#vid_15de&pid_6000&mi_", 0},  // shorter than the prefix
      {"", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(c.expected, IsKestrinInterface(c.path)) << c.path;
}

// ---- enumeration at start: pairing by serial ----

TEST_F(DeviceTest, TwoDevicesFormTwoSlotsAndTheLastOpenedIsCurrent) {
  int a = Plug(L"KS00000000000001", 0x200, 1);
  int b = Plug(L"KS00000000000002", 0x200, 2);
  EnumerateDevices();
  ASSERT_TRUE(SlotInUse(0));
  ASSERT_TRUE(SlotInUse(1));
  // The simulator's worker sees a client that has just opened a moment later.
  for (int i : {a, a + 1, b, b + 1}) EXPECT_TRUE(SimWaitOpen(i, kWaitMs)) << i;
  // Opened in the pairing pool's order; the last one opened is current and
  // was the last to publish its attached state.
  ASSERT_FALSE(Stubs.m_MapEntries.empty());
  EXPECT_EQ(Stubs.m_MapEntries.back(), CurrentSlot);
  ASSERT_FALSE(Stubs.m_Published.empty());
  EXPECT_EQ(CurrentSlot, Stubs.m_Published.back().m_Slot);
  EXPECT_EQ(StateDeviceAttached | StateDeviceEnabled, Stubs.m_Published.back().m_State);
  // Each interface of a slot is its own device's.
  for (uint16_t k = 0; k < 2; ++k) {
    DeviceSlot* slot = SlotAt(k);
    EXPECT_EQ(0, memcmp(slot->m_Ball.m_Path->m_Path, slot->m_Scroll.m_Path->m_Path,
                        kInterfacePrefixLength));
    EXPECT_EQ(0, strncmp(slot->m_Ball.m_Path->m_Path + 31, slot->m_Scroll.m_Path->m_Path + 31, 12));
  }
}

TEST_F(DeviceTest, InterfacesWithDifferentSerialsFormNoDevice) {
  char path[kSimMaxPath];
  SimInterfacePath(path, sizeof path, 0, 1);
  int ball = SimAddInterface(path, L"KS00000000000001", 0x200);
  SimInterfacePath(path, sizeof path, 1, 1);
  int scroll = SimAddInterface(path, L"KS00000000000009", 0x200);
  SimPlug(ball, 0);
  SimPlug(scroll, 0);
  EnumerateDevices();
  EXPECT_EQ(nullptr, PoolFirst(&DeviceTable));
  EXPECT_EQ(-1, CurrentSlot);
}

TEST_F(DeviceTest, ForeignProductsAndThirdInterfacesAreLeftAlone) {
  const char* paths[] = {
      "\\\\?\\hid#vid_15de&pid_6001&mi_00#7&5&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}",
      "\\\\?\\hid#vid_15de&pid_6001&mi_01#7&5&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}",
      "\\\\?\\hid#vid_845e&pid_0001#1&2d595ca7&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}",
  };
  std::vector<int> sims;
  for (const char* p : paths) {
    sims.push_back(SimAddInterface(p, L"KS00000000000001", 0x200));
    SimPlug(sims.back(), 0);
  }
  EnumerateDevices();
  EXPECT_EQ(nullptr, PoolFirst(&DeviceTable));
  for (int s : sims) EXPECT_FALSE(SimIsOpen(s)) << SimPathOf(s);
}

TEST_F(DeviceTest, SerialLengthDecidesTheRestZoneSetting) {
  struct Case {
    const wchar_t* serial;
    const char* kept;
    size_t restZoneReads;
  } cases[] = {
      {L"KS0000000000001", "KS0000000000001", 0},    // 15 characters: registry untouched
      {L"KS00000000000001", "KS00000000000001", 1},  // 16
      // Longer than the 20-character pairing field and than the slot's 16.
      // The slot keeps 16 of them, which then name its setting.
      {L"KS000000000000000000000000001", "KS00000000000000", 1},
  };
  for (const Case& c : cases) {
    SetUp();
    OpenOne(c.serial);
    ASSERT_TRUE(SlotInUse(0)) << c.kept;
    EXPECT_STREQ(c.kept, SlotAt(0)->m_Serial);
    EXPECT_EQ(kDefaultRestZone, SlotAt(0)->m_RestZone);
    EXPECT_EQ(c.restZoneReads, Stubs.m_RestZoneReads.size()) << c.kept;
    TearDown();
  }
}

TEST_F(DeviceTest, FirmwareDecidesTheRestZoneCheckAndTheBaselineFlags) {
  struct Case {
    uint16_t version;
    size_t checks;
    uint32_t baselineDone;
  } cases[] = {{0x200, 0, 1}, {0x201, 1, 0}, {0x202, 1, 1}};
  for (const Case& c : cases) {
    SetUp();
    OpenOne(L"KS00000000000001", c.version);
    ASSERT_TRUE(SlotInUse(0));
    EXPECT_EQ(c.version, SlotAt(0)->m_Firmware);
    EXPECT_EQ(c.checks, Stubs.m_RestZoneChecks.size()) << std::hex << c.version;
    EXPECT_EQ(c.baselineDone, SlotAt(0)->m_AxesBaselineDone);
    EXPECT_EQ(c.baselineDone, SlotAt(0)->m_ButtonsBaselineDone);
    TearDown();
  }
}

TEST_F(DeviceTest, DeviceWhoseIdentityCannotBeReadStaysOpenWithoutDeadZone) {
  struct Case {
    uint32_t attributeFailures;
    uint32_t serialFailures;
    uint16_t firmware;
  } cases[] = {{1, 0, 0}, {0, 1, 0x201}};
  for (const Case& c : cases) {
    SetUp();
    m_Sim = SimAddDevice(L"KS00000000000001", 0x201, 1);
    SimPlug(m_Sim, 0);
    SimPlug(m_Sim + 1, 0);
    // Enumeration reads the serial through each interface first; the open
    // then asks again through the ball.
    SimFailIdentity(m_Sim, c.attributeFailures, 0);
    Stubs.m_OnIdentified = nullptr;
    EnumerateDevices();
    if (c.serialFailures) {
      // Reach the open's own serial request: fail it from now on.
      TearDown();
      SetUp();
      m_Sim = SimAddDevice(L"KS00000000000001", 0x201, 1);
      SimPlug(m_Sim, 0);
      SimPlug(m_Sim + 1, 0);
      InterfacePathBlock* ball = NewInterfacePathBlock(SimPathOf(m_Sim));
      InterfacePathBlock* scroll = NewInterfacePathBlock(SimPathOf(m_Sim + 1));
      SimFailIdentity(m_Sim, 0, 1);
      DeviceSlot* slot = PairInterfaces(0, &scroll, &ball);
      ASSERT_NE(nullptr, slot);
      EXPECT_EQ(1, OpenDevice(slot));
    }
    ASSERT_TRUE(SlotInUse(0));
    DeviceSlot* slot = SlotAt(0);
    EXPECT_EQ(StateDeviceAttached | StateDeviceEnabled, slot->m_State);
    EXPECT_TRUE(Stubs.m_MapEntries.empty());
    EXPECT_TRUE(Stubs.m_RestZoneChecks.empty());
    EXPECT_EQ(0, slot->m_RestZone);
    EXPECT_STREQ("", slot->m_Serial);
    EXPECT_EQ(c.firmware, slot->m_Firmware);
    EXPECT_TRUE(SimWaitOpen(m_Sim, kWaitMs) && SimWaitOpen(m_Sim + 1, kWaitMs));
    TearDown();
  }
}

TEST_F(DeviceTest, NoInterfaceListMeansNoDeviceAndALine) {
  DebugMonitor monitor;
  ASSERT_TRUE(monitor.Start());
  SimStop();  // nobody answers: the interface list cannot be built
  EnumerateDevices();
  EXPECT_EQ(nullptr, PoolFirst(&DeviceTable));
  EXPECT_TRUE(monitor.WaitForText("SetupDiGetClassDevsA() failed - ", kWaitMs));
  ASSERT_TRUE(SimStart());
}

// ---- hot plug: pairing by order ----

// The record the control handler receives for an arrival.
std::vector<uint8_t> ArrivalRecord(const std::string& path, bool wide) {
  size_t chars = path.size() + 1;
  std::vector<uint8_t> record(28 + chars * (wide ? 2 : 1), 0);
  auto* header = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_A*>(record.data());
  header->dbcc_size = static_cast<DWORD>(record.size());
  header->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  for (size_t i = 0; i < chars; ++i) {
    char c = i < path.size() ? path[i] : 0;
    if (wide)
      record[28 + 2 * i] = static_cast<uint8_t>(c);
    else
      record[28 + i] = static_cast<uint8_t>(c);
  }
  return record;
}

TEST_F(DeviceTest, ArrivalsPairByOrder) {
  DebugMonitor monitor;
  ASSERT_TRUE(monitor.Start());
  int a = SimAddDevice(L"KS00000000000001", 0x200, 1);
  int b = SimAddDevice(L"KS00000000000002", 0x200, 2);
  for (int i : {a, a + 1, b, b + 1}) SimPlug(i, 0);
  std::string ballA = SimPathOf(a), scrollA = SimPathOf(a + 1);
  std::string ballB = SimPathOf(b), scrollB = SimPathOf(b + 1);

  // A scroll hat with nothing before it: a line, no slot.
  auto record = ArrivalRecord(scrollA, true);
  OnDeviceArrival(DBT_DEVICEARRIVAL, record.data());
  ProcessArrivalQueue();
  EXPECT_EQ(nullptr, PoolFirst(&DeviceTable));
  EXPECT_TRUE(monitor.WaitForText("Unmatched scroll hat device - " + scrollA, kWaitMs));

  // Not an arrival, or not ours: nothing queued.
  record = ArrivalRecord(ballA, false);
  OnDeviceArrival(DBT_DEVICEREMOVECOMPLETE, record.data());
  record = ArrivalRecord("\\\\?\\hid#vid_845e&pid_0001#1&2d595ca7&0&0000", true);
  OnDeviceArrival(DBT_DEVICEARRIVAL, record.data());
  ProcessArrivalQueue();
  EXPECT_EQ(nullptr, PendingBallInterface);

  // A second ball replaces the first; the scroll hat pairs with the held one.
  for (const std::string* p : {&ballB, &ballA}) {
    record = ArrivalRecord(*p, p == &ballA);  // narrow and wide names alike
    OnDeviceArrival(DBT_DEVICEARRIVAL, record.data());
  }
  record = ArrivalRecord(scrollA, false);
  OnDeviceArrival(DBT_DEVICEARRIVAL, record.data());
  ProcessArrivalQueue();
  ASSERT_TRUE(SlotInUse(0));
  EXPECT_STREQ(ballA.c_str(), SlotAt(0)->m_Ball.m_Path->m_Path);
  EXPECT_EQ(0, CurrentSlot);
  EXPECT_EQ(std::vector<uint32_t>{MSG_DEVICE_PLUGGED_IN}, Stubs.m_Events);
  EXPECT_EQ(nullptr, PendingBallInterface);
  EXPECT_TRUE(SimWaitOpen(a, kWaitMs) && SimWaitOpen(a + 1, kWaitMs));
}

// The device notification outlives the queue at shutdown: arrivals that come
// while CloseAllDevices takes the queue down, and after it, must neither
// crash nor leave anything queued or signalled behind them.
TEST_F(DeviceTest, ArrivalsDuringAndAfterShutdownLeaveNothingBehind) {
  int a = SimAddDevice(L"KS00000000000001", 0x200, 1);
  SimPlug(a, 0);
  SimPlug(a + 1, 0);
  auto ball = ArrivalRecord(SimPathOf(a), true);
  auto scroll = ArrivalRecord(SimPathOf(a + 1), true);
  std::atomic<bool> closed{false};
  std::thread handler([&] {
    // The control handler's thread: some arrivals before the close, some
    // racing it, a few hundred after it.
    for (int late = 0; late < 300;) {
      OnDeviceArrival(DBT_DEVICEARRIVAL, ball.data());
      if (closed) ++late;
    }
  });
  Sleep(5);
  CloseAllDevices();
  closed = true;
  handler.join();
  WakeEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(nullptr, WakeEvent);
  OnDeviceArrival(DBT_DEVICEARRIVAL, scroll.data());
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(WakeEvent, 0));
  CloseHandle(WakeEvent);
  WakeEvent = nullptr;

  // The next start finds nothing of them: no held ball, no device.
  InitDevices();
  ProcessArrivalQueue();
  EXPECT_EQ(nullptr, PendingBallInterface);
  EXPECT_EQ(nullptr, PoolFirst(&DeviceTable));
  EXPECT_TRUE(Stubs.m_Events.empty());
  EXPECT_FALSE(SimIsOpen(a));
}

TEST_F(DeviceTest, ScrollHatWhosePrefixDiffersInCaseIsUnmatched) {
  int a = SimAddDevice(L"KS00000000000001", 0x200, 1);
  SimPlug(a, 0);
  SimPlug(a + 1, 0);
  std::string upper = SimPathOf(a + 1);
  for (size_t i = 0; i < kInterfacePrefixLength; ++i)
    upper[i] = static_cast<char>(toupper(static_cast<unsigned char>(upper[i])));
  auto ball = ArrivalRecord(SimPathOf(a), true);
  auto scroll = ArrivalRecord(upper, true);
  OnDeviceArrival(DBT_DEVICEARRIVAL, ball.data());
  OnDeviceArrival(DBT_DEVICEARRIVAL, scroll.data());
  ProcessArrivalQueue();
  EXPECT_EQ(nullptr, PoolFirst(&DeviceTable));
  ASSERT_NE(nullptr, PendingBallInterface);  // still waits for its partner
  EXPECT_STREQ(SimPathOf(a), PendingBallInterface->m_Path);
}

TEST_F(DeviceTest, OverlongArrivalNameIsIgnored) {
  std::string path = std::string(SimPathOf(0) ? "" : "") + "\\\\?\\hid#vid_15de&pid_6000&mi_00#";
  path += std::string(1100 - path.size(), 'a');
  auto record = ArrivalRecord(path, true);
  OnDeviceArrival(DBT_DEVICEARRIVAL, record.data());
  ProcessArrivalQueue();
  EXPECT_EQ(nullptr, PendingBallInterface);
}

TEST_F(DeviceTest, ArrivalNoticeFromAnotherThreadWakesTheServiceThread) {
  WakeEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(nullptr, WakeEvent);
  int a = SimAddDevice(L"KS00000000000001", 0x200, 3);
  // The access layer's notice thread connects to the simulator first.
  ASSERT_TRUE(SimWaitNoticeListener(kWaitMs));
  ASSERT_TRUE(SimPlug(a, 1));
  ASSERT_TRUE(SimPlug(a + 1, 1));
  DWORD start = GetTickCount();
  while (!SlotInUse(0) && GetTickCount() - start < kWaitMs) {
    if (WaitForSingleObject(WakeEvent, 100) == WAIT_OBJECT_0) {
      ResetEvent(WakeEvent);
      ProcessArrivalQueue();
    }
  }
  EXPECT_TRUE(SlotInUse(0));
  EXPECT_EQ(std::vector<uint32_t>{MSG_DEVICE_PLUGGED_IN}, Stubs.m_Events);
  CloseHandle(WakeEvent);
  WakeEvent = nullptr;
}

// ---- opening and removal ----

TEST_F(DeviceTest, FirstReadFindingTheDeviceGoneReleasesTheSlot) {
  struct Case {
    int interfaceOffset;  // 0 ball, 1 scroll hat
    DWORD error;
    size_t events;
  } cases[] = {{0, ERROR_DEVICE_NOT_CONNECTED, 1}, {1, ERROR_DEVICE_NOT_CONNECTED, 0}};
  for (const Case& c : cases) {
    SetUp();
    m_Sim = Plug(L"KS00000000000001", 0x200, 1);
    Stubs.m_OnIdentified = [&] { SimSendError(m_Sim + c.interfaceOffset, c.error, nullptr, 0); };
    InterfacePathBlock* ball = NewInterfacePathBlock(SimPathOf(m_Sim));
    InterfacePathBlock* scroll = NewInterfacePathBlock(SimPathOf(m_Sim + 1));
    DeviceSlot* slot = PairInterfaces(0, &scroll, &ball);
    ASSERT_NE(nullptr, slot);
    EXPECT_EQ(0, OpenDevice(slot));
    EXPECT_FALSE(SlotInUse(0));
    EXPECT_EQ(-1, CurrentSlot);
    EXPECT_EQ(c.events, Stubs.m_Events.size());
    EXPECT_EQ(1u, Stubs.m_MapDeletes.size());
    Stubs.m_OnIdentified = nullptr;
    TearDown();
  }
}

TEST_F(DeviceTest, InterfaceThatCannotBeOpenedGivesUpTheSlot) {
  DebugMonitor monitor;
  ASSERT_TRUE(monitor.Start());
  m_Sim = SimAddDevice(L"KS00000000000001", 0x200, 1);
  SimPlug(m_Sim, 0);  // the scroll hat's pipe never appears
  InterfacePathBlock* ball = NewInterfacePathBlock(SimPathOf(m_Sim));
  InterfacePathBlock* scroll = NewInterfacePathBlock(SimPathOf(m_Sim + 1));
  DeviceSlot* slot = PairInterfaces(0, &scroll, &ball);
  ASSERT_NE(nullptr, slot);
  EXPECT_EQ(0, OpenDevice(slot));
  EXPECT_FALSE(SlotInUse(0));
  EXPECT_TRUE(monitor.WaitForText("Error processing Kestrin attachment", kWaitMs));
  EXPECT_FALSE(SimIsOpen(m_Sim));
}

TEST_F(DeviceTest, RemovingTheCurrentDeviceMakesTheOtherCurrent) {
  int a = Plug(L"KS00000000000001", 0x200, 1);
  int b = Plug(L"KS00000000000002", 0x200, 2);
  EnumerateDevices();
  ASSERT_TRUE(SlotInUse(0) && SlotInUse(1));
  uint16_t current = static_cast<uint16_t>(CurrentSlot);
  uint16_t other = current ^ 1;
  int currentSim = strcmp(SlotAt(current)->m_Ball.m_Path->m_Path, SimPathOf(a)) == 0 ? a : b;

  // Motion first, so the removal has values to clear and an active ball.
  Feed(current, currentSim, BallReport(kPush));
  ASSERT_TRUE(SlotAt(current)->m_State & StateBallActive);
  DeviceMotionRecord before = Record(current);
  Stubs.m_Published.clear();

  SimUnplug(currentSim);
  Complete(current);
  EXPECT_FALSE(SlotInUse(current));
  EXPECT_EQ(other, CurrentSlot);
  EXPECT_EQ(std::vector<uint32_t>{MSG_DEVICE_UNPLUGGED}, Stubs.m_Events);
  EXPECT_EQ(1, PublishPending);
  // The removed device's state went out (ball inactive, changed), twice as
  // it was current; its record keeps headers and sums with zeroed values.
  ASSERT_EQ(2u, Stubs.m_Published.size());
  EXPECT_EQ(StateBallChanged, Stubs.m_Published[0].m_State);
  const DeviceMotionRecord& after = Record(current);
  EXPECT_EQ(before.m_BallHeader, after.m_BallHeader);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(0, memcmp(before.m_Ball[i].m_Sums, after.m_Ball[i].m_Sums, 24));
    for (int16_t v : after.m_Ball[i].m_Values) EXPECT_EQ(0, v);
  }
  // The other device still reads.
  int otherSim = currentSim == a ? b : a;
  Feed(other, otherSim, BallReport(kPush));
  EXPECT_EQ(1, Record(other).m_BallHeader & kHeaderCountMask);
}

// ---- the settings a new slot starts with ----

const uint16_t kUserSettings[4] = {0x1357, 0x2468, 0x9ABC, 0xDEF0};

// The settings in force in a slot, and what its record says of them.
void ExpectSlotSettings(uint16_t slot, const uint16_t settings[4], uint16_t flags) {
  ASSERT_TRUE(SlotInUse(slot));
  int16_t gains[4];
  GainsFromSettings(gains, settings);
  EXPECT_EQ(0, memcmp(gains, SlotAt(slot)->m_Gains, sizeof gains));
  EXPECT_EQ(flags, SlotAt(slot)->m_AxisConvention);
  const DeviceMotionRecord& record = Stubs.m_Records[slot + 1];
  EXPECT_EQ(0, memcmp(settings, record.m_LogFactors, sizeof record.m_LogFactors));
  EXPECT_EQ(flags, record.m_Flags);
}

// Both interfaces arrive as the control handler hands them over.
void HotPlug(int ball) {
  for (int i : {ball, ball + 1}) {
    auto record = ArrivalRecord(SimPathOf(i), true);
    OnDeviceArrival(DBT_DEVICEARRIVAL, record.data());
  }
  ProcessArrivalQueue();
}

TEST_F(DeviceTest, ADeviceComingIntoTheFirstSlotTakesTheSettingsLastSetForIt) {
  // Set as the pipe sets them, before any device is there.
  SetGains(0, kUserSettings);
  SetAxisConvention(0, 1);
  int a = Plug(L"KS00000000000001", 0x200, 1);
  EnumerateDevices();
  {
    SCOPED_TRACE("found at start");
    ExpectSlotSettings(0, kUserSettings, 1);
  }
  int b = SimAddDevice(L"KS00000000000002", 0x200, 2);
  ASSERT_GE(b, 0);
  const struct {
    const char* what;
    int device;
  } replugs[] = {{"the same device plugged in again", a}, {"another device plugged in", b}};
  int plugged = a;
  for (const auto& r : replugs) {
    SCOPED_TRACE(r.what);
    SimUnplug(plugged);
    SimUnplug(plugged + 1);
    Complete(0);
    ASSERT_FALSE(SlotInUse(0));
    ASSERT_TRUE(SimPlug(r.device, 0) && SimPlug(r.device + 1, 0));
    HotPlug(r.device);
    ExpectSlotSettings(0, kUserSettings, 1);
    plugged = r.device;
  }

  // A second device beside it runs on the defaults, and its record says so
  // whatever it said before: the settings address the first slot only.
  Stubs.m_Records[2].m_Flags = 1;
  HotPlug(Plug(L"KS00000000000003", 0x200, 3));
  ExpectSlotSettings(1, kDefaultSpeedSettings, 0);
  ExpectSlotSettings(0, kUserSettings, 1);
}

TEST_F(DeviceTest, AStartAppliesTheDefaultsAndRecordOneSaysBothWords) {
  // What the previous service applied, still in a section its readers kept.
  SetGains(0, kUserSettings);
  SetAxisConvention(0, 1);
  CloseAllDevices();
  InitDevices();
  EXPECT_EQ(0, memcmp(kDefaultSpeedSettings, Record(0).m_LogFactors, sizeof Record(0).m_LogFactors));
  EXPECT_EQ(0, Record(0).m_Flags);
  OpenOne();
  ExpectSlotSettings(0, kDefaultSpeedSettings, 0);
}

TEST_F(DeviceTest, SlotsBeyondTheSectionAreRefused) {
  DebugMonitor monitor;
  ASSERT_TRUE(monitor.Start());
  Stubs.m_SectionRecords = 2;  // record 0 and one device
  Plug(L"KS00000000000001", 0x200, 1);
  Plug(L"KS00000000000002", 0x200, 2);
  EnumerateDevices();
  EXPECT_TRUE(SlotInUse(0));
  EXPECT_FALSE(SlotInUse(1));
  EXPECT_TRUE(monitor.WaitForText("slot 1 has no record", kWaitMs));
}

TEST_F(DeviceTest, DeviceWhoseReadsDoNotFitTheWaitListIsRefused) {
  DebugMonitor monitor;
  ASSERT_TRUE(monitor.Start());
  Stubs.m_WaitEntriesFree = 1;
  Plug(L"KS00000000000001", 0x200, 1);
  EnumerateDevices();
  EXPECT_FALSE(SlotInUse(0));
  EXPECT_EQ(-1, CurrentSlot);
  EXPECT_TRUE(monitor.WaitForText("no room for its two reads", kWaitMs));
  // Room again (a client left): the next arrival opens.
  Stubs.m_WaitEntriesFree = 2;
  EnumerateDevices();
  EXPECT_TRUE(SlotInUse(0));
}

// The slots hold the OVERLAPPED records of pending reads: the table is made
// once and a device beyond it is refused rather than moving the others.
TEST_F(DeviceTest, DeviceTableNeverMovesAndRefusesBeyondItsRecords) {
  DebugMonitor monitor;
  ASSERT_TRUE(monitor.Start());
  Stubs.m_SectionRecords = 0;  // no section: only the table bounds the devices
  ASSERT_EQ(kDeviceSlotRecords, DeviceTable.capacity);
  // All records but one taken, as by that many devices.
  std::vector<uint16_t> taken;
  for (uint16_t i = 0; i + 1 < kDeviceSlotRecords; ++i)
    taken.push_back(PoolIndexOf(&DeviceTable, PoolAlloc(&DeviceTable)));
  uint8_t* records = DeviceTable.records;
  Plug(L"KS00000000000001", 0x200, 1);
  Plug(L"KS00000000000002", 0x200, 2);
  EnumerateDevices();
  EXPECT_TRUE(SlotInUse(kDeviceSlotRecords - 1));
  EXPECT_EQ(kDeviceSlotRecords - 1, CurrentSlot);
  EXPECT_EQ(kDeviceSlotRecords, DeviceTable.capacity);
  EXPECT_EQ(records, DeviceTable.records);
  EXPECT_TRUE(monitor.WaitForText("the device table is full", kWaitMs));
  for (uint16_t index : taken) PoolRelease(&DeviceTable, index);
}

TEST_F(DeviceTest, WaitItemsAreBothReadEventsOfEveryDeviceInPoolOrder) {
  Plug(L"KS00000000000001", 0x200, 1);
  Plug(L"KS00000000000002", 0x200, 2);
  EnumerateDevices();
  Stubs.m_WaitItems.clear();
  AddDeviceWaitItems();
  std::vector<uint16_t> walk;
  for (void* r = PoolFirst(&DeviceTable); r; r = PoolNext(&DeviceTable))
    walk.push_back(PoolIndexOf(&DeviceTable, r));
  ASSERT_EQ(4u, Stubs.m_WaitItems.size());
  for (size_t i = 0; i < walk.size(); ++i) {
    DeviceSlot* slot = SlotAt(walk[i]);
    EXPECT_EQ(slot->m_Ball.m_Overlapped.hEvent, Stubs.m_WaitItems[2 * i].m_Handle);
    EXPECT_EQ(&OnBallReportsRead, Stubs.m_WaitItems[2 * i].m_Callback);
    EXPECT_EQ(slot->m_Scroll.m_Overlapped.hEvent, Stubs.m_WaitItems[2 * i + 1].m_Handle);
    EXPECT_EQ(&OnScrollReportsRead, Stubs.m_WaitItems[2 * i + 1].m_Callback);
    EXPECT_EQ(walk[i], Stubs.m_WaitItems[2 * i].m_Argument);
    EXPECT_EQ(walk[i], Stubs.m_WaitItems[2 * i + 1].m_Argument);
  }
}

// ---- report reading and publishing ----

TEST_F(DeviceTest, IdleBatchLeavesTheRecordUntouched) {
  uint16_t k = OpenOne();
  // A previous batch left values in both buffers (moving, then idle).
  Feed(k, m_Sim, BallReport(kPush));
  Feed(k, m_Sim, BallReport(kTwist));
  Feed(k, m_Sim, kZeroBall);
  DeviceMotionRecord before = Record(k);
  PublishPending = 0;
  Feed(k, m_Sim, Join({kZeroBall, kZeroBall, kZeroBall}));
  EXPECT_EQ(0, memcmp(&before, &Record(k), sizeof before));
  EXPECT_EQ(0, PublishPending);
}

TEST_F(DeviceTest, MovingThenZeroReportsAccumulateTwo) {
  uint16_t k = OpenOne();
  BallModel model(SlotAt(k)->m_RestZone);
  int16_t expected[6];
  ASSERT_TRUE(model.Process(BallReport(kPush), expected));
  Feed(k, m_Sim, Join({BallReport(kPush), kZeroBall, kZeroBall}));
  const DeviceMotionRecord& r = Record(k);
  EXPECT_EQ(kHeaderBufferBit | 2, r.m_BallHeader);  // B current, count 2, not moving
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(expected[i], r.m_Ball[1].m_Sums[i]) << i;
    EXPECT_EQ(0, r.m_Ball[1].m_Values[i]);
  }
  // Active and back: both changes are waiting for the wait loop's publish.
  EXPECT_EQ(StateBallChanged | StateDeviceAttached | StateDeviceEnabled, SlotAt(k)->m_State);
  EXPECT_EQ(1, PublishPending);
}

TEST_F(DeviceTest, SumsAndValuesFollowTheMotionChainAcrossBatches) {
  uint16_t k = OpenOne();
  BallModel model(SlotAt(k)->m_RestZone);
  std::vector<std::vector<uint8_t>> batches = {
      Join({BallReport(kPush), BallReport(kTwist)}),
      Join({BallReport(kTwist), BallReport(kPush), BallReport(kTwist)}),
      BallReport(kPush),
  };
  int32_t sums[6] = {};
  int16_t last[6] = {};
  uint16_t count = 0;
  for (const auto& batch : batches) {
    for (size_t at = 0; at < batch.size(); at += 9) {
      std::vector<uint8_t> report(batch.begin() + at, batch.begin() + at + 9);
      model.Process(report, last);
      for (int i = 0; i < 6; ++i) sums[i] += last[i];
      ++count;
    }
    Feed(k, m_Sim, batch);
    const DeviceMotionRecord& r = Record(k);
    const BallBuffer& current = r.m_Ball[(r.m_BallHeader & kHeaderBufferBit) ? 1 : 0];
    EXPECT_EQ(count, r.m_BallHeader & kHeaderCountMask);
    EXPECT_TRUE(r.m_BallHeader & kHeaderMovingBit);
    for (int i = 0; i < 6; ++i) {
      EXPECT_EQ(sums[i], current.m_Sums[i]) << i;
      EXPECT_EQ(last[i], current.m_Values[i]) << i;
    }
  }
}

TEST_F(DeviceTest, ReadShapesAreTakenReportByReport) {
  // bytes of one read -> reports accumulated
  struct Case {
    const char* name;
    size_t sent;      // whole ball reports in the read
    size_t extra;     // trailing bytes of a partial report
    size_t expected;  // reports accumulated
  } cases[] = {
      {"one report", 1, 0, 1},
      {"three reports", 3, 0, 3},
      {"two and a trailing part", 2, 4, 2},
      // A read takes 35 bytes: the fourth report is cut and dropped.
      {"four reports, longer than one read", 4, 0, 3},
  };
  for (const Case& c : cases) {
    SetUp();
    uint16_t k = OpenOne();
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < c.sent; ++i) {
      auto r = BallReport(i % 2 ? kTwist : kPush);
      bytes.insert(bytes.end(), r.begin(), r.end());
    }
    bytes.insert(bytes.end(), c.extra, 0x11);
    Feed(k, m_Sim, bytes);
    EXPECT_EQ(c.expected, Record(k).m_BallHeader & kHeaderCountMask) << c.name;
    TearDown();
  }
}

TEST_F(DeviceTest, HeaderCountWrapsWhileTheOtherBitsFollowTheirRules) {
  uint16_t k = OpenOne();
  struct Case {
    uint16_t header;
    std::vector<uint8_t> batch;
    uint16_t expected;
  } cases[] = {
      {0x3FFF, Join({BallReport(kPush), BallReport(kPush), BallReport(kPush)}), 0xC002},
      {0xBFFF, Join({BallReport(kPush), BallReport(kPush)}), 0x4001},
      {0x7FFE, Join({BallReport(kPush), kZeroBall, kZeroBall}), 0x8000},
  };
  for (const Case& c : cases) {
    Record(k).m_BallHeader = c.header;
    Feed(k, m_Sim, c.batch);
    EXPECT_EQ(c.expected, Record(k).m_BallHeader) << std::hex << c.header;
  }
}

TEST_F(DeviceTest, ScrollHatBaselineOfFirmware0x201) {
  struct Step {
    std::vector<uint8_t> report;
    uint16_t count;     // scroll header count afterwards
    uint32_t buttons;   // m_Buttons afterwards
  };
  struct Case {
    uint16_t firmware;
    std::vector<Step> steps;
  } cases[] = {
      {0x201,
       {
           {ScrollReport(300, 0, 0x01), 0, 0},  // kept as the baseline: nothing
           {ScrollReport(300, 0, 0x01), 0, 0},  // equal: still suppressed
           {ScrollReport(300, 0, 0x03), 0, 3},  // buttons differ: they count now
           {ScrollReport(300, 0, 0x01), 0, 1},  // and go on counting
           {ScrollReport(301, 0, 0x01), 1, 1},  // axes differ: suppression ends
           {ScrollReport(300, 0, 0x01), 2, 1},  // for good
           {ScrollReport(0, 0, 0x01), 3, 1},    // at rest: the change to idle counts
       }},
      {0x200,
       {
           {ScrollReport(300, 0, 0x01), 1, 1},  // processed at once
           {ScrollReport(0, 0, 0x01), 2, 1},
       }},
  };
  for (const Case& c : cases) {
    SetUp();
    uint16_t k = OpenOne(L"KS00000000000001", c.firmware);
    for (size_t i = 0; i < c.steps.size(); ++i) {
      Feed(k, m_Sim + 1, c.steps[i].report, false);
      EXPECT_EQ(c.steps[i].buttons, SlotAt(k)->m_Buttons) << c.firmware << " step " << i;
      EXPECT_EQ(c.steps[i].count, Record(k).m_ScrollHeader & kHeaderCountMask)
          << std::hex << c.firmware << " step " << i;
    }
    TearDown();
  }
}

TEST_F(DeviceTest, ScrollHatAtItsCornerPublishesTheNegatedLimit) {
  uint16_t k = OpenOne();
  // Both axes at -512: decoded (0, -32768), y negated to 32767, and the
  // default gain limited so the value stays in range.
  Feed(k, m_Sim + 1, ScrollReport(-512, -512, 0), false);
  const DeviceMotionRecord& r = Record(k);
  ASSERT_EQ(kHeaderBufferBit | kHeaderMovingBit | 1, r.m_ScrollHeader);
  EXPECT_EQ(0, r.m_Scroll[1].m_Values[0]);
  EXPECT_EQ(32767, r.m_Scroll[1].m_Values[1]);
  EXPECT_EQ(32767, r.m_Scroll[1].m_Sums[1]);
}

TEST_F(DeviceTest, ButtonChangeMidBatchPublishesBeforeTheHeaderStore) {
  uint16_t k = OpenOne();
  Stubs.m_Published.clear();
  uint16_t before = Record(k).m_ScrollHeader;
  Feed(k, m_Sim + 1,
       Join({ScrollReport(300, 0, 0), ScrollReport(300, 0, 0x04), ScrollReport(300, 0, 0x04)}),
       false);
  ASSERT_EQ(1u, Stubs.m_Published.size());
  EXPECT_EQ(0x04u, Stubs.m_Published[0].m_Buttons);
  EXPECT_EQ(before, Stubs.m_Published[0].m_ScrollHeader);
  EXPECT_EQ(3, Record(k).m_ScrollHeader & kHeaderCountMask);
  EXPECT_TRUE(Record(k).m_ScrollHeader & kHeaderMovingBit);
  EXPECT_TRUE(SlotAt(k)->m_State & StateScrollActive);
}

TEST_F(DeviceTest, ReadErrorsRemoveOrCount) {
  struct Case {
    bool ball;
    DWORD error;
    bool removed;
    size_t events;
  } cases[] = {
      {true, ERROR_OPERATION_ABORTED, true, 1},
      {true, ERROR_DEVICE_NOT_CONNECTED, true, 1},
      {false, ERROR_OPERATION_ABORTED, true, 0},
      {false, ERROR_DEVICE_NOT_CONNECTED, true, 0},
      // Any other failure of a completion is a read of the bytes it gave.
      {true, ERROR_GEN_FAILURE, false, 0},
      {false, ERROR_CRC, false, 0},
  };
  for (const Case& c : cases) {
    SetUp();
    uint16_t k = OpenOne();
    auto report = c.ball ? BallReport(kPush) : ScrollReport(300, 0, 0);
    int sim = c.ball ? m_Sim : m_Sim + 1;
    Feed(k, sim, report, c.ball);
    // The error ends the read that is pending now.
    ASSERT_TRUE(SimSendError(sim, c.error, report.data(), static_cast<uint32_t>(report.size())));
    Complete(k, c.ball);
    EXPECT_EQ(!c.removed, SlotInUse(k)) << c.error;
    EXPECT_EQ(c.events, Stubs.m_Events.size()) << c.error;
    const DeviceMotionRecord& r = Record(k);
    uint16_t header = c.ball ? r.m_BallHeader : r.m_ScrollHeader;
    EXPECT_EQ(c.removed ? 1 : 2, header & kHeaderCountMask) << c.error;
    if (c.removed) {
      EXPECT_EQ(-1, CurrentSlot);
      EXPECT_EQ(1, PublishPending);
    }
    TearDown();
  }
}

TEST_F(DeviceTest, ReportsBeforeAnUnplugInTheSameCallAreNotPublished) {
  uint16_t k = OpenOne();
  auto report = BallReport(kPush);
  // Both reach the pipe before the reader runs: the report completes the
  // pending read, the error the read issued right after it.
  ASSERT_TRUE(SimSend(m_Sim, report.data(), 9));
  ASSERT_TRUE(SimSendError(m_Sim, ERROR_DEVICE_NOT_CONNECTED, nullptr, 0));
  Complete(k);
  EXPECT_FALSE(SlotInUse(k));
  EXPECT_EQ(0, Record(k).m_BallHeader);
}

TEST_F(DeviceTest, WithoutSectionReportsStillTrackActivity) {
  Stubs.m_SectionRecords = 0;
  memset(Stubs.m_Records, 0, sizeof Stubs.m_Records);
  uint16_t k = OpenOne();
  Feed(k, m_Sim, BallReport(kPush));
  Feed(k, m_Sim + 1, ScrollReport(300, 0, 2), false);
  EXPECT_TRUE(SlotAt(k)->m_State & StateBallActive);
  EXPECT_TRUE(SlotAt(k)->m_State & StateScrollActive);
  EXPECT_EQ(2u, SlotAt(k)->m_Buttons);
  DeviceMotionRecord zero = {};
  for (const DeviceMotionRecord& r : Stubs.m_Records) EXPECT_EQ(0, memcmp(&zero, &r, sizeof r));
}

TEST_F(DeviceTest, SimulatorThatDiesUnplugsItsDevices) {
  uint16_t k = OpenOne();
  SimStop();
  Complete(k);
  EXPECT_FALSE(SlotInUse(k));
  EXPECT_EQ(std::vector<uint32_t>{MSG_DEVICE_UNPLUGGED}, Stubs.m_Events);
  ASSERT_TRUE(SimStart());
}

}  // namespace
