// The settings loop end to end: KestrinSvcSim.exe as the service on a
// simulated device, the installed agent KestrinElf.exe with the user's
// stored settings, and KestrinProperties.exe, whose library starts the agent
// as it opens. What the dialog changes reaches record 1 of the section and
// the user's hive; Cancel puts back what it changed as it was found, and
// stores nothing when nothing was changed; OK leaves the changes.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>
#include <string.h>

#include <sstream>
#include <string>
#include <vector>

#include "agent_install.h"
#include "pipe_client.h"
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

// The settings key exactly as stored: each value's status, type and bytes,
// and the key's last write time, which every store moves on.
struct HiveState {
  StoredValue factors, flags;
  FILETIME written;
};
HiveState HiveNow() {
  HiveState h = {GetValue(HKEY_CURRENT_USER, kSettingsKey, kLogFactorsValue),
                 GetValue(HKEY_CURRENT_USER, kSettingsKey, kFlagsValue),
                 {0, 0}};
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr, &h.written);
    RegCloseKey(key);
  }
  return h;
}
bool SameValue(const StoredValue& a, const StoredValue& b) {
  return a.m_Status == b.m_Status && a.m_Type == b.m_Type && a.m_Size == b.m_Size &&
         memcmp(a.m_Data, b.m_Data, a.m_Size < sizeof a.m_Data ? a.m_Size : sizeof a.m_Data) == 0;
}
std::string Describe(const StoredValue& v) {
  std::ostringstream out;
  out << "{status " << v.m_Status << " type " << v.m_Type << " size " << v.m_Size << std::hex;
  for (DWORD i = 0; i < v.m_Size && i < 16; ++i) out << " " << int(v.m_Data[i]);
  out << "}";
  return out.str();
}
// Nothing was stored since before was taken.
void ExpectUntouched(const HiveState& before) {
  const HiveState now = HiveNow();
  EXPECT_TRUE(SameValue(before.factors, now.factors)) << Describe(before.factors) << " now " << Describe(now.factors);
  EXPECT_TRUE(SameValue(before.flags, now.flags)) << Describe(before.flags) << " now " << Describe(now.flags);
  EXPECT_EQ(0, CompareFileTime(&before.written, &now.written)) << "the key was written";
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

  // The user's settings stored again, as in SetUp ("LogFactors" of the type
  // given: the agent reads any type, and stores REG_QWORD).
  static void StoreUsersSettings(DWORD factorsType = REG_QWORD) {
    PutValue(HKEY_CURRENT_USER, kSettingsKey, kLogFactorsValue, factorsType, kStored, 8);
    DWORD flags = kStoredFlags;
    PutValue(HKEY_CURRENT_USER, kSettingsKey, kFlagsValue, REG_DWORD, &flags, 4);
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

// Cancel in the two states the service and the agent can be in when the
// dialog opens: the settings in force are the user's stored ones, or others
// (the service restarted and the agent's values not applied yet, or another
// pipe client set them). Untouched, Cancel leaves record 1 and the hive as
// they were, the key not even written; with one setting changed it puts back
// that one as it was found, and leaves the other as stored. "LogFactors" is
// stored as REG_BINARY, which the agent reads as it reads a REG_QWORD: a
// store of the same values by the agent shows as a REG_QWORD (Wine leaves a
// key's write time alone when a value is set to the type and bytes it has).
TEST_F(PropertiesEndToEnd, CancelPutsBackOnlyWhatChangedAsItWasFound) {
  const std::vector<uint16_t> stored(kStored, kStored + 4);
  const uint16_t others[4] = {0x1234, 0x2345, 0x3456, 0x4567};
  enum Touch { kNothing, kSpeeds, kAxis };
  struct Case {
    const char* name;
    bool othersInForce;
    Touch touch;
  };
  const Case cases[] = {
      {"in force as stored, nothing touched", false, kNothing},
      {"others in force, nothing touched", true, kNothing},
      {"others in force, the speeds moved", true, kSpeeds},
      {"others in force, the axis changed", true, kAxis},
  };
  const Settings away = {std::vector<uint16_t>(4, 0x0101), 0};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StoreUsersSettings(REG_BINARY);
    // Record 1 away from the stored settings first, so that it shows when
    // the agent's start-up values have landed.
    PipeTestClient other;
    ASSERT_TRUE(other.Connect(10000));
    ASSERT_TRUE(other.SendSetLogFactors(0x0101, 0x0101, 0x0101, 0x0101));
    ASSERT_TRUE(other.SendSetFlags(0));
    ASSERT_TRUE(PumpUntil([&] { return InRecord() == away; })) << InRecord();
    ASSERT_NE(0u, StartAgent());  // it sends the stored settings
    ExpectEverywhere({stored, kStoredFlags});
    if (c.othersInForce) {
      ASSERT_TRUE(other.SendSetLogFactors(others[0], others[1], others[2], others[3]));
      ASSERT_TRUE(other.SendSetFlags(0));
    }
    const Settings found =
        c.othersInForce ? Settings{std::vector<uint16_t>(others, others + 4), 0}
                        : Settings{stored, kStoredFlags};
    ASSERT_TRUE(PumpUntil([&] { return InRecord() == found; })) << InRecord();
    const HiveState before = HiveNow();
    {
      RunningProperties program;
      HWND dialog = program.WaitForDialog();
      ASSERT_NE(nullptr, dialog);
      EXPECT_TRUE(PumpUntil([&] { return Thumbs(dialog) == found.factors; }));
      if (c.touch == kSpeeds) {
        Key(dialog, IDC_PAN, VK_NEXT);
        EXPECT_TRUE(PumpUntil([&] { return InRecord().factors[0] != found.factors[0]; }));
      } else if (c.touch == kAxis) {
        Click(dialog, found.flags ? IDC_RADIO_PANY_SPINY : IDC_RADIO_ZOOM_SPINZ);
        EXPECT_TRUE(PumpUntil([&] { return InRecord().flags != found.flags; }));
      }
      Click(dialog, IDCANCEL);
      EXPECT_EQ(0u, program.WaitForExit());
    }
    EXPECT_TRUE(PumpUntil([&] { return InRecord() == found; })) << InRecord();
    EXPECT_TRUE(StopAgent());  // after it has taken every request
    EXPECT_EQ(found, InRecord());
    const HiveState after = HiveNow();
    switch (c.touch) {
      case kNothing:
        ExpectUntouched(before);
        break;
      case kSpeeds:
        EXPECT_EQ(found.factors, InHive().factors);
        EXPECT_TRUE(SameValue(before.flags, after.flags)) << "Flags " << Describe(after.flags);
        break;
      case kAxis:
        EXPECT_EQ(found.flags, InHive().flags);
        EXPECT_TRUE(SameValue(before.factors, after.factors)) << "LogFactors " << Describe(after.factors);
        break;
    }
  }
}

// "LogFactors" stored so that it cannot be read (longer than the setting):
// the agent sends the defaults, which are in force, and the dialog shows
// them. A trackbar moved and Cancel puts the defaults back in force.
TEST_F(PropertiesEndToEnd, AnUnreadableStoredLogFactorsIsTheDefaultsAndCancelPutsThemBack) {
  const uint16_t longer[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  PutValue(HKEY_CURRENT_USER, kSettingsKey, kLogFactorsValue, REG_BINARY, longer, 16);
  const Settings defaults = {std::vector<uint16_t>(4, 0x8000), kStoredFlags};
  RunningProperties program;
  HWND dialog = program.WaitForDialog();
  ASSERT_NE(nullptr, dialog);
  EXPECT_TRUE(PumpUntil([&] { return InRecord() == defaults; })) << InRecord();
  EXPECT_TRUE(PumpUntil([&] { return Thumbs(dialog) == defaults.factors; }));
  Key(dialog, IDC_PAN, VK_NEXT);
  EXPECT_TRUE(PumpUntil([&] { return InRecord().factors[0] == 0x8000 + 0x3333; })) << InRecord();
  Click(dialog, IDCANCEL);
  EXPECT_EQ(0u, program.WaitForExit());
  ExpectEverywhere(defaults);
}

// No agent could be started when the dialog opened (it is not installed
// yet); the user changes the zoom and the axis and presses OK; the agent is
// installed and comes only after the dialog has gone. The program waits for
// it, and the changes are in force and stored.
TEST_F(PropertiesEndToEnd, ChangesMadeBeforeAnyAgentReachTheOneThatComesAfterOk) {
  for (const std::string& path : AgentInstallPaths()) DeleteFileA(path.c_str());
  RunningProperties program;
  HWND dialog = program.WaitForDialog();
  ASSERT_NE(nullptr, dialog);
  ASSERT_EQ(0u, RunningAgentProcess());
  Key(dialog, IDC_ZOOM, VK_NEXT);
  Click(dialog, IDC_RADIO_PANY_SPINY);
  const Settings changed = {{kStored[0], uint16_t(kStored[1] + 0x3333), kStored[2], kStored[3]},
                            0};
  ASSERT_TRUE(PumpUntil([&] {
    return Thumbs(dialog) == changed.factors && Checked(dialog, IDC_RADIO_PANY_SPINY);
  }));
  Click(dialog, IDOK);
  ASSERT_TRUE(PumpUntil([&] { return !IsWindow(dialog); }));
  ASSERT_TRUE(InstallAgent(KESTRIN_ELF_EXE));
  ASSERT_NE(0u, StartAgent());
  ExpectEverywhere(changed);
  EXPECT_EQ(0u, program.WaitForExit());
}

// The service stopped, the agent running, the user's settings stored (the
// axis as 0x00010001, which the agent sends as 1): the section does not
// exist. The dialog shows the stored settings; a change reaches the hive
// through the agent. Cancel untouched stores nothing; after a trackbar move
// it puts back the speeds and leaves "Flags" as stored.
TEST(PropertiesServiceStoppedTest, TheDialogShowsTheStoredSettingsAndCancelKeepsThem) {
  const uint16_t users[4] = {0x1357, 0x2468, 0x9ABC, 0xDEF0};
  const DWORD usersFlags = 0x00010001;
  const Settings stored = {std::vector<uint16_t>(users, users + 4), usersFlags};
  ASSERT_TRUE(InstallAgent(KESTRIN_ELF_EXE));
  for (bool touch : {false, true}) {
    SCOPED_TRACE(touch ? "a trackbar moved" : "nothing touched");
    DeleteTestKey(HKEY_CURRENT_USER, kSettingsKey);
    PutValue(HKEY_CURRENT_USER, kSettingsKey, kLogFactorsValue, REG_QWORD, users, 8);
    PutValue(HKEY_CURRENT_USER, kSettingsKey, kFlagsValue, REG_DWORD, &usersFlags, 4);
    ASSERT_NE(0u, StartAgent());
    const HiveState before = HiveNow();
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
        EXPECT_TRUE(PumpUntil([&] { return InHive() == Settings{moved, usersFlags}; })) << InHive();
      }
      Click(dialog, IDCANCEL);
      EXPECT_EQ(0u, program.WaitForExit());
    }
    EXPECT_TRUE(StopAgent());  // after it has taken every request
    EXPECT_EQ(stored, InHive());
    if (!touch) {
      ExpectUntouched(before);
    } else {
      EXPECT_TRUE(SameValue(before.flags, HiveNow().flags)) << "Flags " << Describe(HiveNow().flags);
    }
  }
  DeleteTestKey(HKEY_CURRENT_USER, kSettingsKey);
}

}  // namespace
}  // namespace props
