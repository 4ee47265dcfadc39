// The settings loop end to end: KestrinSvcSim.exe as the service on a
// simulated device, the installed agent KestrinElf.exe with the user's
// stored settings, and KestrinProperties.exe, whose library starts the agent
// as it opens. What the dialog changes reaches record 1 of the section and
// the user's hive; Cancel puts back what was there, OK leaves the changes.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>
#include <string.h>

#include <vector>

#include "agent_install.h"
#include "registry_fixture.h"
#include "running_properties.h"
#include "section_view.h"
#include "settings_keys.h"
#include "simulated_service.h"

namespace props {
namespace {

const uint16_t kStored[4] = {0x4000, 0x5000, 0x6000, 0x7000};
constexpr uint16_t kStoredFlags = 1;

struct Settings {
  std::vector<uint16_t> factors;
  uint32_t flags;
  bool operator==(const Settings& o) const { return factors == o.factors && flags == o.flags; }
};
std::ostream& operator<<(std::ostream& out, const Settings& s) {
  out << std::hex << "{";
  for (uint16_t f : s.factors) out << "0x" << f << " ";
  return out << "flags " << s.flags << "}" << std::dec;
}

Settings InHive() {
  Settings s = {std::vector<uint16_t>(4, 0), 0xFFFF};
  StoredValue factors = GetValue(HKEY_CURRENT_USER, kSettingsKey, kLogFactorsValue);
  StoredValue flags = GetValue(HKEY_CURRENT_USER, kSettingsKey, kFlagsValue);
  if (factors.m_Status == ERROR_SUCCESS) memcpy(s.factors.data(), factors.m_Data, 8);
  if (flags.m_Status == ERROR_SUCCESS) s.flags = AsDword(flags);
  return s;
}

class PropertiesEndToEnd : public SimulatedServiceTest {
 protected:
  void SetUp() override {
    SimulatedServiceTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(InstallAgent(KESTRIN_ELF_EXE));  // and no agent runs
    DeleteTestKey(HKEY_CURRENT_USER, kSettingsKey);
    PutValue(HKEY_CURRENT_USER, kSettingsKey, kLogFactorsValue, REG_QWORD, kStored, 8);
    DWORD flags = kStoredFlags;
    PutValue(HKEY_CURRENT_USER, kSettingsKey, kFlagsValue, REG_DWORD, &flags, 4);
  }
  void TearDown() override {
    EXPECT_TRUE(StopAgent());
    DeleteTestKey(HKEY_CURRENT_USER, kSettingsKey);
    SimulatedServiceTest::TearDown();
  }

  Settings InRecord() {
    if (!section_.Open()) return {};
    const DeviceMotionRecord* record = section_.Record(1);
    return {std::vector<uint16_t>(record->m_LogFactors, record->m_LogFactors + 4),
            record->m_Flags};
  }
  // Both places hold the settings within a few seconds.
  void ExpectEverywhere(const Settings& expected) {
    EXPECT_TRUE(PumpUntil([&] { return InRecord() == expected; })) << InRecord();
    EXPECT_TRUE(PumpUntil([&] { return InHive() == expected; })) << InHive();
  }
  // Opens the dialog, changes zoom and the vertical axis, and waits until the
  // change is in force everywhere; what it changed to.
  Settings OpenAndChange(RunningProperties& program, HWND* dialog) {
    *dialog = program.WaitForDialog();
    EXPECT_NE(nullptr, *dialog);
    if (!*dialog) return {};
    // The agent the library started sends the stored settings to the service.
    ExpectEverywhere({std::vector<uint16_t>(kStored, kStored + 4), kStoredFlags});
    // The dialog opened before the agent was there, and shows the user's
    // settings once the library has mapped the section.
    EXPECT_TRUE(PumpUntil([&] {
      return Thumbs(*dialog) == std::vector<uint16_t>(kStored, kStored + 4) &&
             Checked(*dialog, IDC_RADIO_ZOOM_SPINZ);
    })) << std::hex << Thumbs(*dialog)[0];
    Key(*dialog, IDC_ZOOM, VK_NEXT);
    Click(*dialog, IDC_RADIO_PANY_SPINY);
    EXPECT_TRUE(PumpUntil([&] { return Checked(*dialog, IDC_RADIO_PANY_SPINY); }));
    Settings changed = {Thumbs(*dialog), 0};
    ExpectEverywhere(changed);
    return changed;
  }

  SectionView section_;
};

TEST_F(PropertiesEndToEnd, WhatTheDialogChangesReachesTheSectionAndTheHiveAndCancelPutsItBack) {
  RunningProperties program;
  ASSERT_TRUE(program.started());
  HWND dialog = nullptr;
  Settings changed = OpenAndChange(program, &dialog);
  ASSERT_NE(nullptr, dialog);
  const std::vector<uint16_t> expected = {kStored[0], uint16_t(kStored[1] + 0x3333), kStored[2],
                                         kStored[3]};
  EXPECT_EQ(expected, changed.factors) << "the zoom moved by a page, the others as stored";
  EXPECT_NE(0u, RunningAgentProcess()) << "the library started the agent";

  Click(dialog, IDCANCEL);
  EXPECT_EQ(0u, program.WaitForExit());
  ExpectEverywhere({std::vector<uint16_t>(kStored, kStored + 4), kStoredFlags});
}

TEST_F(PropertiesEndToEnd, OkLeavesTheChangesInForce) {
  RunningProperties program;
  ASSERT_TRUE(program.started());
  HWND dialog = nullptr;
  Settings changed = OpenAndChange(program, &dialog);
  ASSERT_NE(nullptr, dialog);
  Click(dialog, IDOK);
  EXPECT_EQ(0u, program.WaitForExit());
  PumpUntil([] { return false; }, 1000);
  EXPECT_EQ(changed, InRecord());
  EXPECT_EQ(changed, InHive());
}

// The service stopped, the agent running, the user's settings stored: the
// section does not exist. The dialog shows the stored settings; a change
// reaches the hive through the agent, and Cancel, touched or not, leaves the
// hive as it was.
TEST(PropertiesServiceStoppedTest, TheDialogShowsTheStoredSettingsAndCancelKeepsThem) {
  const uint16_t users[4] = {0x1357, 0x2468, 0x9ABC, 0xDEF0};
  const Settings stored = {std::vector<uint16_t>(users, users + 4), 1};
  ASSERT_TRUE(InstallAgent(KESTRIN_ELF_EXE));
  for (bool touch : {false, true}) {
    SCOPED_TRACE(touch ? "a trackbar moved" : "nothing touched");
    DeleteTestKey(HKEY_CURRENT_USER, kSettingsKey);
    PutValue(HKEY_CURRENT_USER, kSettingsKey, kLogFactorsValue, REG_QWORD, users, 8);
    DWORD flags = 1;
    PutValue(HKEY_CURRENT_USER, kSettingsKey, kFlagsValue, REG_DWORD, &flags, 4);
    ASSERT_NE(0u, StartAgent());
    {
      RunningProperties program;
      HWND dialog = program.WaitForDialog();
      ASSERT_NE(nullptr, dialog);
      EXPECT_EQ(stored.factors, Thumbs(dialog));
      EXPECT_TRUE(Checked(dialog, IDC_RADIO_ZOOM_SPINZ));
      if (touch) {
        Key(dialog, IDC_PAN, VK_NEXT);
        const std::vector<uint16_t> moved = {uint16_t(users[0] + 0x3333), users[1], users[2],
                                             users[3]};
        EXPECT_TRUE(PumpUntil([&] { return InHive() == Settings{moved, 1}; })) << InHive();
      }
      Click(dialog, IDCANCEL);
      EXPECT_EQ(0u, program.WaitForExit());
    }
    EXPECT_TRUE(StopAgent());  // after it has taken every request
    EXPECT_EQ(stored, InHive());
  }
  DeleteTestKey(HKEY_CURRENT_USER, kSettingsKey);
}

}  // namespace
}  // namespace props
