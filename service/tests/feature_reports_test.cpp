// Feature-report exchanges with the simulated firmware behind a test double
// of the HID seam, the rest zone at device open, and the RestZone value.
#include <windows.h>

#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "device_registry.h"
#include "device_slot.h"
#include "feature_reports.h"
#include "hid_access.h"
#include "messages.h"
#include "registry_fixture.h"
#include "sim_firmware.h"

namespace {

SimFirmware g_Firmware;
HANDLE g_LastHandle;
std::vector<DWORD> g_Pauses;
std::vector<uint32_t> g_Events;

void RecordPause(DWORD milliseconds) { g_Pauses.push_back(milliseconds); }

}  // namespace

// ---- the test double of the HID seam and of the event log ----
BOOLEAN HidSetFeature(HANDLE handle, void* report, ULONG reportBytes) {
  g_LastHandle = handle;
  return static_cast<BOOLEAN>(
      SimFirmwareSetFeature(&g_Firmware, static_cast<const uint8_t*>(report), reportBytes));
}
BOOLEAN HidGetFeature(HANDLE handle, void* report, ULONG reportBytes) {
  g_LastHandle = handle;
  return static_cast<BOOLEAN>(
      SimFirmwareGetFeature(&g_Firmware, static_cast<uint8_t*>(report), reportBytes));
}
void ReportEventLog(uint16_t, uint32_t eventId, const char**) { g_Events.push_back(eventId); }

namespace {

const HANDLE kBallHandle = reinterpret_cast<HANDLE>(0x1234);

const uint8_t kQuery[9] = {0x00, 0xFF, 0x70, 0, 0, 0, 0, 0, 0};
const uint8_t kSet40[9] = {0x00, 0xFF, 0x43, 'J', 'S', 40, 0, 0, 0};
const uint8_t kAutoZero[9] = {0x00, 0xFF, 0x5A, 0, 0, 0, 0, 0, 0};

const std::vector<DWORD> kAllPauses = {15, 25, 35, 45, 55, 65, 75, 85, 95, 105};

class FeatureTest : public testing::Test {
 protected:
  void SetUp() override {
    SimFirmwareInit(&g_Firmware, 0x201, 50);
    g_Pauses.clear();
    g_Events.clear();
    g_LastHandle = nullptr;
    FeaturePause = RecordPause;
    memset(&m_Slot, 0, sizeof m_Slot);
    m_Slot.m_Ball.m_Handle = kBallHandle;
    m_Slot.m_Scroll.m_Handle = INVALID_HANDLE_VALUE;
  }

  std::vector<uint8_t> Commands() const {
    uint32_t n = g_Firmware.m_CommandCount < kSimCommandLog ? g_Firmware.m_CommandCount
                                                              : kSimCommandLog;
    return std::vector<uint8_t>(g_Firmware.m_Commands, g_Firmware.m_Commands + n);
  }

  DeviceSlot m_Slot;
};

TEST(FeatureCheckByte, ServiceAndFirmwareAgree) {
  for (int b = 0; b < 256; ++b) {
    uint8_t reply[9] = {0, 0, static_cast<uint8_t>(b), 0x11, 0x22, 0x33, 0x44, 0x55, 0};
    EXPECT_EQ(SimFirmwareCheckByte(reply), FeatureCheckValue(reply)) << b;
  }
  const uint8_t query[9] = {0, 0, 0x70, 0, 75, 0, 0, 0, 0};
  EXPECT_EQ(49, FeatureCheckValue(query));  // 7 x (7 + 0)
  const uint8_t autoZero[9] = {0, 0xFF, 0x5A, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(105, FeatureCheckValue(autoZero));  // 7 x (5 + 10)
}

TEST_F(FeatureTest, ExchangePassesPausesAndAcceptance) {
  struct Case {
    const char* m_Name;
    const uint8_t* m_Request;
    int m_Force;
    uint32_t m_RefuseSets, m_RefuseGets, m_WrongChecks, m_Busy;
    int m_Accepted;
    std::vector<DWORD> m_Pauses;
    uint32_t m_SetCalls, m_GetCalls;
  } cases[] = {
      {"query answered at once", kQuery, 0, 0, 0, 0, 0, 1, {15}, 1, 1},
      {"set answered at once", kSet40, 0, 0, 0, 0, 0, 1, {15}, 1, 1},
      {"auto-zero marks its reply 0xFF: refused unforced", kAutoZero, 0, 0, 0, 0, 0, 0,
       kAllPauses, 10, 10},
      {"auto-zero forced", kAutoZero, 1, 0, 0, 0, 0, 1, {15}, 1, 1},
      {"busy reply refused for the query", kQuery, 0, 0, 0, 0, kSimAlways, 0, kAllPauses, 10,
       10},
      {"busy once: second pass", kQuery, 0, 0, 0, 0, 1, 1, {15, 25}, 2, 2},
      {"wrong check byte once: second pass", kQuery, 0, 0, 0, 1, 0, 1, {15, 25}, 2, 2},
      {"wrong check byte always", kQuery, 0, 0, 0, kSimAlways, 0, 0, kAllPauses, 10, 10},
      {"wrong check byte refused even forced", kAutoZero, 1, 0, 0, kSimAlways, 0, 0,
       kAllPauses, 10, 10},
      {"three sets fail: retried within the pass", kQuery, 0, 3, 0, 0, 0, 1, {15}, 4, 1},
      {"a pass of failed sets has no pause", kQuery, 0, 10, 0, 0, 0, 1, {25}, 11, 2},
      {"nine gets fail: retried within the pass", kQuery, 0, 0, 9, 0, 0, 1, {15}, 1, 10},
      {"ten gets fail: next pass", kQuery, 0, 0, 10, 0, 0, 1, {15, 25}, 2, 11},
      {"every get fails: refused, not the stale buffer", kAutoZero, 1, 0, kSimAlways, 0, 0, 0,
       kAllPauses, 10, 100},
      {"every set fails", kQuery, 0, kSimAlways, 0, 0, 0, 0, {}, 100, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.m_Name);
    SimFirmwareInit(&g_Firmware, 0x201, 50);
    g_Firmware.m_RefuseSets = c.m_RefuseSets;
    g_Firmware.m_RefuseGets = c.m_RefuseGets;
    g_Firmware.m_WrongCheckBytes = c.m_WrongChecks;
    g_Firmware.m_BusyReplies = c.m_Busy;
    g_Pauses.clear();
    uint8_t buffer[9];
    memcpy(buffer, c.m_Request, sizeof buffer);
    EXPECT_EQ(c.m_Accepted, ExchangeFeatureReport(kBallHandle, buffer, buffer, c.m_Force));
    EXPECT_EQ(c.m_Pauses, g_Pauses);
    EXPECT_EQ(c.m_SetCalls, g_Firmware.m_SetCalls);
    EXPECT_EQ(c.m_GetCalls, g_Firmware.m_GetCalls);
    EXPECT_EQ(kBallHandle, g_LastHandle);
    if (c.m_Accepted) {
      EXPECT_EQ(0, memcmp(buffer, g_Firmware.m_Reply, sizeof buffer));
    } else {
      EXPECT_EQ(0, memcmp(buffer, c.m_Request, sizeof buffer));  // the request stays
    }
  }
}

// The firmware still holds its answer to an earlier command; a request that
// never reaches it must not take that answer as its own.
TEST_F(FeatureTest, AnswerToAnEarlierRequestIsNotTakenWhenTheRequestFailed) {
  uint8_t query[9];
  memcpy(query, kQuery, sizeof query);
  ASSERT_EQ(1, ExchangeFeatureReport(kBallHandle, query, query, 0));
  ASSERT_EQ(50, query[4]);

  g_Firmware.m_RefuseSets = kSimAlways;
  uint8_t set[9];
  memcpy(set, kSet40, sizeof set);
  EXPECT_EQ(0, ExchangeFeatureReport(kBallHandle, set, set, 0));
  EXPECT_EQ(0, memcmp(set, kSet40, sizeof set));
  EXPECT_EQ(50, g_Firmware.m_RestZone);
}

TEST_F(FeatureTest, RequestAndReplyMayBeSeparateBuffers) {
  uint8_t reply[9] = {9, 9, 9, 9, 9, 9, 9, 9, 9};
  ASSERT_EQ(1, ExchangeFeatureReport(kBallHandle, kQuery, reply, 0));
  EXPECT_EQ(0x70, reply[2]);
  EXPECT_EQ(50, reply[4]);
  g_Firmware.m_BusyReplies = kSimAlways;
  uint8_t untouched[9] = {9, 9, 9, 9, 9, 9, 9, 9, 9};
  EXPECT_EQ(0, ExchangeFeatureReport(kBallHandle, kQuery, untouched, 0));
  for (uint8_t b : untouched) EXPECT_EQ(9, b);
}

TEST_F(FeatureTest, RestZoneQuerySetAndAutoZeroCommands) {
  uint8_t restZone = 0xEE;
  QueryRestZoneFeature(&m_Slot, &restZone);
  EXPECT_EQ(50, restZone);
  SetRestZoneFeature(&m_Slot, 61);
  EXPECT_EQ(61, g_Firmware.m_RestZone);
  QueryDeviceFeature5A(&m_Slot);
  EXPECT_EQ(1u, g_Firmware.m_AutoZeroCount);
  EXPECT_EQ((std::vector<uint8_t>{0x70, 0x43, 0x5A}), Commands());
  EXPECT_EQ((std::vector<DWORD>{15, 15, 15}), g_Pauses);

  g_Firmware.m_RefuseGets = kSimAlways;
  restZone = 0xEE;
  QueryRestZoneFeature(&m_Slot, &restZone);
  EXPECT_EQ(0, restZone);  // no reply: the request's byte 4
}

std::vector<uint8_t> TenPassesEach(uint8_t first, uint8_t second) {
  std::vector<uint8_t> commands(10, first);
  commands.insert(commands.end(), 10, second);
  return commands;
}

TEST_F(FeatureTest, DeviceRestZoneAtOpenByFirmware) {
  struct Case {
    const char* m_Name;
    uint16_t m_Version;
    uint8_t m_DeviceRestZone;
    uint32_t m_RefuseGets;
    std::vector<uint8_t> m_Commands;
    size_t m_Events;
    uint8_t m_RestZoneAfter;
  } cases[] = {
      {"0x200 gets no feature report", 0x200, 50, 0, {}, 0, 50},
      {"0x201 at 75: query only", 0x201, 75, 0, {0x70}, 0, 75},
      {"0x201 at 50: query, event, set", 0x201, 50, 0, {0x70, 0x43}, 1, 75},
      {"0x202 at 0: query, event, set", 0x202, 0, 0, {0x70, 0x43}, 1, 75},
      // No reply ever accepted: the query gives 0, so the set is sent too
      // (every pass's request reaches the device).
      {"0x201 that never answers", 0x201, 50, kSimAlways, TenPassesEach(0x70, 0x43), 1, 75},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.m_Name);
    SimFirmwareInit(&g_Firmware, c.m_Version, c.m_DeviceRestZone);
    g_Firmware.m_RefuseGets = c.m_RefuseGets;
    g_Events.clear();
    m_Slot.m_Firmware = c.m_Version;
    CheckDeviceRestZone(&m_Slot);
    EXPECT_EQ(c.m_Commands, Commands());
    if (c.m_Commands.empty()) {
      EXPECT_EQ(0u, g_Firmware.m_SetCalls);
      EXPECT_EQ(0u, g_Firmware.m_GetCalls);
    }
    ASSERT_EQ(c.m_Events, g_Events.size());
    if (c.m_Events) {
      EXPECT_EQ(MSG_REST_ZONE_UPDATED, g_Events[0]);
    }
    EXPECT_EQ(c.m_RestZoneAfter, g_Firmware.m_RestZone);
  }
}

// ---- the RestZone value in HKLM ----

const char kSerial[] = "KT0123456789ABCD";  // 16 characters
const char kKey[] = "SOFTWARE\\Pellmor Vastine\\Kestrin\\KT0123456789ABCD";

class RestZoneSettingTest : public FeatureTest {
 protected:
  void SetUp() override {
    FeatureTest::SetUp();
    DeleteTestKey(HKEY_LOCAL_MACHINE, kKey);
    strcpy(m_Slot.m_Serial, kSerial);
  }
  void TearDown() override { DeleteTestKey(HKEY_LOCAL_MACHINE, kKey); }
};

TEST_F(RestZoneSettingTest, RegistryValueSetsTheDeadZone) {
  const DWORD v34 = 34, v35 = 35, v300 = 300, v0 = 0, v255 = 255;
  const uint16_t shortDword = 40;
  struct Case {
    const char* m_Name;
    DWORD m_Type;  // 0: no value
    const void* m_Data;
    DWORD m_Size;
    uint8_t m_RestZone;
    DWORD m_StoredType;
    DWORD m_StoredDword;  // when REG_DWORD
  } cases[] = {
      {"missing: created with 75", 0, nullptr, 0, 75, REG_DWORD, 75},
      {"34 is rewritten as 75", REG_DWORD, &v34, 4, 75, REG_DWORD, 75},
      {"0 is rewritten as 75", REG_DWORD, &v0, 4, 75, REG_DWORD, 75},
      {"35 is used", REG_DWORD, &v35, 4, 35, REG_DWORD, 35},
      {"255 is used", REG_DWORD, &v255, 4, 255, REG_DWORD, 255},
      {"300 gives its low byte 44", REG_DWORD, &v300, 4, 44, REG_DWORD, 300},
      {"a text is kept, the default used", REG_SZ, "40", 3, 75, REG_SZ, 0},
      {"a long text is kept, the default used", REG_SZ, "forty-four", 11, 75, REG_SZ, 0},
      {"4 binary bytes are kept, the default used", REG_BINARY, &v35, 4, 75, REG_BINARY, 0},
      {"a 2-byte DWORD is kept, the default used", REG_DWORD, &shortDword, 2, 75, REG_DWORD,
       0xFFFFFFFF},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.m_Name);
    DeleteTestKey(HKEY_LOCAL_MACHINE, kKey);
    if (c.m_Type) PutValue(HKEY_LOCAL_MACHINE, kKey, "RestZone", c.m_Type, c.m_Data, c.m_Size);
    m_Slot.m_RestZone = 0;
    ReadRestZoneSetting(&m_Slot);
    EXPECT_EQ(c.m_RestZone, m_Slot.m_RestZone);
    StoredValue stored = GetValue(HKEY_LOCAL_MACHINE, kKey, "RestZone");
    ASSERT_EQ(ERROR_SUCCESS, stored.m_Status);
    EXPECT_EQ(c.m_StoredType, stored.m_Type);
    if (c.m_StoredType == REG_DWORD && c.m_StoredDword != 0xFFFFFFFF) {
      EXPECT_EQ(4u, stored.m_Size);
      EXPECT_EQ(c.m_StoredDword, AsDword(stored));
    } else {
      EXPECT_EQ(c.m_Size, stored.m_Size);  // left as it was
      EXPECT_EQ(0, memcmp(c.m_Data, stored.m_Data, c.m_Size));
    }
  }
}

TEST_F(RestZoneSettingTest, OnlySixteenCharacterSerialsHaveAValue) {
  const char* serials[] = {"KT0123456789ABC", "", "KT0123456"};
  for (const char* serial : serials) {
    SCOPED_TRACE(serial);
    strcpy(m_Slot.m_Serial, serial);
    m_Slot.m_RestZone = 0;
    ReadRestZoneSetting(&m_Slot);
    EXPECT_EQ(75, m_Slot.m_RestZone);
    std::string key = std::string("SOFTWARE\\Pellmor Vastine\\Kestrin\\") + serial;
    if (*serial) {
      EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, key.c_str()));
    }
  }
}

// ---- the DWORD routines on their own ----

const char kScratchKey[] = "Software\\KestrinTest\\Dword";

class DwordTest : public testing::Test {
 protected:
  void SetUp() override { DeleteTestKey(HKEY_CURRENT_USER, "Software\\KestrinTest"); }
  void TearDown() override { DeleteTestKey(HKEY_CURRENT_USER, "Software\\KestrinTest"); }
};

TEST_F(DwordTest, ReadWithDefaultCreatesWhatIsMissing) {
  DWORD out = 0;
  ReadDwordWithDefault(HKEY_CURRENT_USER, kScratchKey, "Value", 1234, &out);
  EXPECT_EQ(1234u, out);
  StoredValue stored = GetValue(HKEY_CURRENT_USER, kScratchKey, "Value");
  ASSERT_EQ(ERROR_SUCCESS, stored.m_Status);
  EXPECT_EQ(static_cast<DWORD>(REG_DWORD), stored.m_Type);
  EXPECT_EQ(1234u, AsDword(stored));

  WriteDword(HKEY_CURRENT_USER, kScratchKey, "Value", 0xCAFEF00D);
  ReadDwordWithDefault(HKEY_CURRENT_USER, kScratchKey, "Value", 1, &out);
  EXPECT_EQ(0xCAFEF00Du, out);
}

TEST_F(DwordTest, AKeyThatCannotBeCreatedGivesTheDefault) {
  DWORD out = 0;
  ReadDwordWithDefault(reinterpret_cast<HKEY>(0x1), "X", "Value", 78, &out);
  EXPECT_EQ(78u, out);
}

}  // namespace
