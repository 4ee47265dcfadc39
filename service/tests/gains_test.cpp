// The setters of speed settings and axis convention over the device table and
// the shared section.
#include <windows.h>

#include <gtest/gtest.h>
#include <string.h>

#include "device_slot.h"
#include "motion_section.h"
#include "motion_stages.h"
#include "service_private.h"

namespace {

class GainsTest : public testing::Test {
 protected:
  void SetUp() override {
    UnmapSharedMemory();  // the section is mapped only where a test asks for it
    PoolInit(&DeviceTable, sizeof(DeviceSlot));
  }
  void TearDown() override {
    PoolFree(&DeviceTable);
    UnmapSharedMemory();
  }
  DeviceSlot* AllocSlot() {
    DeviceSlot* slot = static_cast<DeviceSlot*>(PoolAlloc(&DeviceTable));
    EXPECT_NE(nullptr, slot);
    return slot;
  }
  DeviceSlot* Slot(uint16_t index) {
    return static_cast<DeviceSlot*>(PoolRecord(&DeviceTable, index));
  }
  static bool AllZero(const void* p, size_t n) {
    const uint8_t* b = static_cast<const uint8_t*>(p);
    for (size_t i = 0; i < n; ++i)
      if (b[i]) return false;
    return true;
  }
};

TEST_F(GainsTest, SettingsGiveTheGainsOfTheirGroup) {
  AllocSlot();
  struct Case {
    uint16_t setting;
    int16_t motion, scroll;
  } cases[] = {
      {0, 4, 3}, {0x4000, 32, 25}, {0x8000, 256, 204}, {0xC000, 2048, 1632}, {0xFFFF, 16390, 13060},
  };
  for (const Case& c : cases) {
    const uint16_t settings[4] = {c.setting, c.setting, c.setting, c.setting};
    SetGains(1, settings);
    const int16_t expected[4] = {c.motion, c.motion, c.motion, c.scroll};
    EXPECT_EQ(0, memcmp(expected, Slot(0)->m_Gains, sizeof expected)) << std::hex << c.setting;
  }
}

TEST_F(GainsTest, DeviceNumbersAddressTheirSlot) {
  AllocSlot();
  AllocSlot();
  struct Case {
    uint16_t device;
    uint16_t slot;
  } cases[] = {{0, 0}, {1, 0}, {2, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.device);
    memset(Slot(0)->m_Gains, 0, sizeof Slot(0)->m_Gains);
    memset(Slot(1)->m_Gains, 0, sizeof Slot(1)->m_Gains);
    Slot(0)->m_AxisConvention = Slot(1)->m_AxisConvention = 0;
    SetGains(c.device, kDefaultSpeedSettings);
    SetAxisConvention(c.device, 1);
    const uint16_t other = c.slot == 0 ? 1 : 0;
    EXPECT_EQ(256, Slot(c.slot)->m_Gains[0]);
    EXPECT_EQ(204, Slot(c.slot)->m_Gains[3]);
    EXPECT_EQ(1, Slot(c.slot)->m_AxisConvention);
    EXPECT_TRUE(AllZero(Slot(other)->m_Gains, sizeof Slot(other)->m_Gains));
    EXPECT_EQ(0, Slot(other)->m_AxisConvention);
  }
  // The flag is stored as given.
  SetAxisConvention(0, 0x8001);
  EXPECT_EQ(0x8001, Slot(0)->m_AxisConvention);
  SetAxisConvention(0, 0);
  EXPECT_EQ(0, Slot(0)->m_AxisConvention);
}

TEST_F(GainsTest, NumbersWithoutADeviceChangeNoSlot) {
  // At start-up, before any device: the first slot does not exist yet.
  SetGains(0, kDefaultSpeedSettings);
  SetAxisConvention(0, 1);
  EXPECT_EQ(0, DeviceTable.count);
  EXPECT_TRUE(AllZero(DeviceTable.records, DeviceTable.capacity * sizeof(DeviceSlot)));

  // A released slot and one beyond the table stay as they are.
  AllocSlot();
  AllocSlot();
  PoolRelease(&DeviceTable, 1);
  SetGains(2, kDefaultSpeedSettings);
  SetAxisConvention(2, 1);
  SetGains(9, kDefaultSpeedSettings);
  SetGains(0xFFFF, kDefaultSpeedSettings);
  SetAxisConvention(0xFFFF, 1);
  EXPECT_TRUE(AllZero(Slot(1), sizeof(DeviceSlot)));
  EXPECT_TRUE(AllZero(Slot(0), sizeof(DeviceSlot)));
  // Released slots are used again and then take settings.
  ASSERT_EQ(Slot(1), AllocSlot());
  SetGains(2, kDefaultSpeedSettings);
  EXPECT_EQ(256, Slot(1)->m_Gains[2]);
}

TEST_F(GainsTest, WithTheSectionUnmappedOnlyTheSlotChanges) {
  ASSERT_EQ(nullptr, MotionRecordForSlot(0));
  AllocSlot();
  const uint16_t settings[4] = {0, 0x4000, 0xC000, 0xFFFF};
  SetGains(1, settings);
  SetAxisConvention(1, 1);
  const int16_t expected[4] = {4, 32, 2048, 13060};
  EXPECT_EQ(0, memcmp(expected, Slot(0)->m_Gains, sizeof expected));
  EXPECT_EQ(1, Slot(0)->m_AxisConvention);
}

TEST_F(GainsTest, WithTheSectionMappedTheRecordShowsTheSettings) {
  BuildSharedMemorySecurity();
  if (!InitSharedMemory()) GTEST_SKIP() << "no shared section in this build";
  DeviceMotionRecord* first = MotionRecordForSlot(0);
  DeviceMotionRecord* second = MotionRecordForSlot(1);
  ASSERT_NE(nullptr, first);
  ASSERT_NE(nullptr, second);
  memset(first, 0, sizeof *first);
  memset(second, 0, sizeof *second);

  // Before any device (service start): the record still shows the settings.
  SetGains(0, kDefaultSpeedSettings);
  EXPECT_EQ(0, memcmp(kDefaultSpeedSettings, first->m_LogFactors, sizeof kDefaultSpeedSettings));

  AllocSlot();
  AllocSlot();
  const uint16_t settings[4] = {0x1234, 0, 0xFFFF, 0x8000};
  SetGains(2, settings);
  SetAxisConvention(2, 1);
  EXPECT_EQ(0, memcmp(settings, second->m_LogFactors, sizeof settings));
  EXPECT_EQ(1, second->m_Flags);
  EXPECT_EQ(0, memcmp(kDefaultSpeedSettings, first->m_LogFactors, sizeof kDefaultSpeedSettings));
  EXPECT_EQ(0, first->m_Flags);
  SetGains(1, settings);
  SetAxisConvention(0, 1);
  EXPECT_EQ(0, memcmp(settings, first->m_LogFactors, sizeof settings));
  EXPECT_EQ(1, first->m_Flags);
  // Nothing but the two fields is written.
  DeviceMotionRecord expected = {};
  memcpy(expected.m_LogFactors, settings, sizeof settings);
  expected.m_Flags = 1;
  EXPECT_EQ(0, memcmp(&expected, first, sizeof expected));
}

}  // namespace
