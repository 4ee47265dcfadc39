// KestrinProperties.exe against a stand-in agent window that records every
// request, a section made by the test and device-map entries the test
// writes: what the dialog shows at start, what each control posts, how the
// dialog ends, the About box, the single running copy and a satellite
// library. Needs a display (Xvfb).
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>
#include <string.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dbwin_monitor.h"
#include "foreground_window.h"
#include "registry_fixture.h"
#include "running_properties.h"
#include "scratch_folder.h"
#include "settings_keys.h"

namespace props {
namespace {

const char kDeviceMapParent[] = "HARDWARE\\DEVICEMAP\\Kestrins";
const char kDeviceMapEntry[] = "HARDWARE\\DEVICEMAP\\Kestrins\\1";

void DeleteDeviceMap() {
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kDeviceMapEntry);
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kDeviceMapParent);
}

// HKLM\HARDWARE takes only volatile keys.
HKEY CreateDeviceMap() {
  HKEY parent = nullptr, entry = nullptr;
  RegCreateKeyExA(HKEY_LOCAL_MACHINE, kDeviceMapParent, 0, nullptr, REG_OPTION_VOLATILE,
                  KEY_ALL_ACCESS, nullptr, &parent, nullptr);
  if (parent) {
    RegCreateKeyExA(parent, "1", 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &entry,
                    nullptr);
    RegCloseKey(parent);
  }
  return entry;
}

// The serial as the service writes it: its characters without a terminator.
void PutSerial(HKEY entry, const char* serial) {
  RegSetValueExA(entry, "Serial Number", 0, REG_SZ, reinterpret_cast<const BYTE*>(serial),
                 static_cast<DWORD>(strlen(serial)));
}
void PutFirmware(HKEY entry, DWORD type, uint32_t value, DWORD size) {
  RegSetValueExA(entry, "Firmware Version", 0, type, reinterpret_cast<const BYTE*>(&value), size);
}

const uint16_t kFound[4] = {0x1000, 0x2000, 0x3000, 0xF000};
constexpr uint16_t kFoundFlags = 1;

// The program with the stand-in agent and a section whose record 1 holds
// kFound and kFoundFlags.
class PropertiesProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteDeviceMap();
    ASSERT_TRUE(section_.ok());
    ASSERT_TRUE(program_.started());
    dialog_ = program_.WaitForDialog();
    ASSERT_NE(nullptr, dialog_);
    // The library says hello first.
    PumpUntil([&] { return agent_.ClientMessages() > 0; });
  }
  void TearDown() override { DeleteDeviceMap(); }

  // Ends the dialog and returns what was posted after the end.
  std::vector<Request> End(const std::function<void()>& how) {
    std::vector<Request> before = agent_.TakeUpToMarker(dialog_);
    EXPECT_TRUE(before.empty()) << "unexpected requests before the end: " << before.size();
    how();
    EXPECT_EQ(0u, program_.WaitForExit());
    PumpUntil([] { return false; }, 300);
    return agent_.Take();
  }

  StandInManager agent_;
  TestSection section_{kFound, kFoundFlags};
  RunningProperties program_;
  HWND dialog_ = nullptr;
};

TEST_F(PropertiesProgramTest, StartsAtTheSectionsValuesWithTicksAcrossTheWholeRange) {
  EXPECT_EQ(std::vector<uint16_t>(kFound, kFound + 4), Thumbs(dialog_));
  for (int id : kTrackbars) {
    SCOPED_TRACE(id);
    HWND bar = GetDlgItem(dialog_, id);
    EXPECT_EQ(0, SendMessageW(bar, TBM_GETRANGEMIN, 0, 0));
    EXPECT_EQ(0xFFFF, SendMessageW(bar, TBM_GETRANGEMAX, 0, 0));
    // Ticks at 6553, 13106, ... 65530 between the two ends.
    ASSERT_EQ(12, SendMessageW(bar, TBM_GETNUMTICS, 0, 0));
    for (int i = 0; i < 10; ++i) EXPECT_EQ(6553 * (i + 1), SendMessageW(bar, TBM_GETTIC, i, 0));
  }
  EXPECT_FALSE(Checked(dialog_, IDC_RADIO_PANY_SPINY));
  EXPECT_TRUE(Checked(dialog_, IDC_RADIO_ZOOM_SPINZ));
  EXPECT_TRUE(agent_.TakeUpToMarker(dialog_).empty()) << "opening posts no setting";
  EXPECT_EQ(L"Kestrin 3D Mouse Properties", [&] {
    wchar_t caption[64] = {};
    GetWindowTextW(dialog_, caption, 64);
    return std::wstring(caption);
  }());
}

TEST_F(PropertiesProgramTest, ATrackbarMovePostsAllFourPositionsAndNoChangePostsNothing) {
  Key(dialog_, IDC_ZOOM, VK_RIGHT);  // one line: +1
  EXPECT_EQ((std::vector<Request>{Low(0x1000, 0x2001), High(0x3000, 0xF000)}),
            agent_.TakeWhen(2));
  Key(dialog_, IDC_SCROLL_HAT, VK_LEFT);
  EXPECT_EQ((std::vector<Request>{Low(0x1000, 0x2001), High(0x3000, 0xEFFF)}),
            agent_.TakeWhen(2));
  EXPECT_EQ((std::vector<uint16_t>{0x1000, 0x2001, 0x3000, 0xEFFF}), Thumbs(dialog_));

  // The scroll messages a release brings, and one from no trackbar at all:
  // the positions are as stored.
  PostMessageW(dialog_, WM_HSCROLL, TB_ENDTRACK, reinterpret_cast<LPARAM>(GetDlgItem(dialog_, IDC_PAN)));
  PostMessageW(dialog_, WM_HSCROLL, TB_THUMBPOSITION, 0);
  EXPECT_TRUE(agent_.TakeUpToMarker(dialog_).empty());
}

TEST_F(PropertiesProgramTest, DefaultsPostsFlagsThePairAndFlagsAndResetsTheControls) {
  Key(dialog_, IDC_PAN, VK_NEXT);
  agent_.TakeWhen(2);
  Click(dialog_, IDC_DEFAULTS);
  EXPECT_EQ((std::vector<Request>{Flags(0), {km::SetLogFactorsLow, 0x80008000},
                                  {km::SetLogFactorsHigh, 0x80008000}, Flags(0)}),
            agent_.TakeWhen(4));
  EXPECT_EQ(std::vector<uint16_t>(4, 0x8000), Thumbs(dialog_));
  EXPECT_TRUE(Checked(dialog_, IDC_RADIO_PANY_SPINY));
  EXPECT_FALSE(Checked(dialog_, IDC_RADIO_ZOOM_SPINZ));
}

TEST_F(PropertiesProgramTest, EachRadioClickPostsItsFlagsAlsoWhenAlreadyChecked) {
  Click(dialog_, IDC_RADIO_ZOOM_SPINZ);  // checked already
  EXPECT_EQ(std::vector<Request>{Flags(1)}, agent_.TakeWhen(1));
  Click(dialog_, IDC_RADIO_PANY_SPINY);
  EXPECT_EQ(std::vector<Request>{Flags(0)}, agent_.TakeWhen(1));
  EXPECT_TRUE(Checked(dialog_, IDC_RADIO_PANY_SPINY));
  EXPECT_FALSE(Checked(dialog_, IDC_RADIO_ZOOM_SPINZ));
  Click(dialog_, IDC_RADIO_PANY_SPINY);
  EXPECT_EQ(std::vector<Request>{Flags(0)}, agent_.TakeWhen(1));
}

TEST_F(PropertiesProgramTest, TestAutoZeroPostsItsRequest) {
  Click(dialog_, IDC_TEST_AUTOZERO);
  const std::vector<Request> expected = {{km::TestAutoZero, 0}};
  EXPECT_EQ(expected, agent_.TakeWhen(1));
}

// ---- ending: Cancel, Escape and the close box restore what was found ----

struct Ending {
  const char* name;
  std::function<void(HWND)> end;
  bool restores;
};
const Ending kEndings[] = {
    {"Cancel", [](HWND d) { Click(d, IDCANCEL); }, true},
    {"Escape", [](HWND d) { PostMessageW(d, WM_KEYDOWN, VK_ESCAPE, 0x00010001); }, true},
    {"the close box", [](HWND d) { PostMessageW(d, WM_SYSCOMMAND, SC_CLOSE, 0); }, true},
    {"OK", [](HWND d) { Click(d, IDOK); }, false},
};
void PrintTo(const Ending& ending, std::ostream* out) { *out << ending.name; }

// What the user changed before the end, and what an ending that restores
// posts after it: the settings found at start, only those that changed.
struct Changes {
  const char* name;
  std::function<void(HWND)> make;
  size_t posts;  // the requests the changes post
  std::vector<Request> restored;
};
const Changes kChanges[] = {
    {"Untouched", [](HWND) {}, 0, {}},
    {"Speeds", [](HWND d) { Key(d, IDC_SPIN, VK_NEXT); }, 2,
     {Low(0x1000, 0x2000), High(0x3000, 0xF000)}},
    {"Axis", [](HWND d) { Click(d, IDC_RADIO_PANY_SPINY); }, 1, {Flags(1)}},
    {"Both",
     [](HWND d) {
       Key(d, IDC_SPIN, VK_NEXT);
       Click(d, IDC_RADIO_PANY_SPINY);
     },
     3, {Flags(1), Low(0x1000, 0x2000), High(0x3000, 0xF000)}},
    {"BothThenDefaults",
     [](HWND d) {
       Key(d, IDC_SPIN, VK_NEXT);
       Click(d, IDC_RADIO_PANY_SPINY);
       Click(d, IDC_DEFAULTS);
     },
     7, {Flags(1), Low(0x1000, 0x2000), High(0x3000, 0xF000)}},
};
void PrintTo(const Changes& changes, std::ostream* out) { *out << changes.name; }

class PropertiesEndingTest : public PropertiesProgramTest,
                             public ::testing::WithParamInterface<std::tuple<Ending, Changes>> {};

TEST_P(PropertiesEndingTest, CancelRestoresWhatChangedAsFoundAtStartOkPostsNothing) {
  const Ending& ending = std::get<0>(GetParam());
  const Changes& changes = std::get<1>(GetParam());
  changes.make(dialog_);
  EXPECT_EQ(changes.posts, agent_.TakeWhen(changes.posts).size());
  std::vector<Request> after = End([&] { ending.end(dialog_); });
  EXPECT_EQ(ending.restores ? changes.restored : std::vector<Request>{}, after);
}

INSTANTIATE_TEST_SUITE_P(
    Endings, PropertiesEndingTest,
    ::testing::Combine(::testing::ValuesIn(kEndings), ::testing::ValuesIn(kChanges)),
    [](const ::testing::TestParamInfo<std::tuple<Ending, Changes>>& info) {
      std::string name = std::get<0>(info.param).name;
      for (char& c : name)
        if (c == ' ') c = '_';
      return name + "_" + std::get<1>(info.param).name;
    });

// ---- system menu ----

// The About box opened from the dialog's system menu, once it shows.
HWND OpenAbout(RunningProperties& program, HWND dialog) {
  PostMessageW(dialog, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
  HWND about = nullptr;
  PumpUntil([&] {
    about = program.FindWindowWith(IDOK);
    return about && about != dialog;
  });
  return about != dialog ? about : nullptr;
}

// The icon that the window's icon control shows, or null (also when it has
// no icon control).
HICON ShownIcon(HWND window) {
  struct Search {
    HICON icon;
    static BOOL CALLBACK Each(HWND control, LPARAM p) {
      wchar_t name[16] = {};
      GetClassNameW(control, name, 16);
      if (lstrcmpiW(name, L"Static") != 0 ||
          (GetWindowLongPtrW(control, GWL_STYLE) & SS_TYPEMASK) != SS_ICON)
        return TRUE;
      reinterpret_cast<Search*>(p)->icon =
          reinterpret_cast<HICON>(SendMessageW(control, STM_GETICON, 0, 0));
      return FALSE;
    }
  } search = {nullptr};
  EnumChildWindows(window, &Search::Each, reinterpret_cast<LPARAM>(&search));
  return search.icon;
}

TEST_F(PropertiesProgramTest, TheAboutItemOpensTheAboutBoxOtherCommandsActAsUsual) {
  HWND about = OpenAbout(program_, dialog_);
  ASSERT_NE(nullptr, about);
  wchar_t caption[64] = {};
  GetWindowTextW(about, caption, 64);
  EXPECT_EQ(std::wstring(L"About KestrinProperties"), caption);
  EXPECT_NE(nullptr, ShownIcon(about)) << "the program's icon";
  EXPECT_EQ(dialog_, GetWindow(about, GW_OWNER));
  EXPECT_FALSE(IsWindowEnabled(dialog_)) << "modal over the dialog";
  PostMessageW(about, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  EXPECT_TRUE(PumpUntil([&] { return !IsWindow(about); }));
  EXPECT_TRUE(IsWindowEnabled(dialog_));

  // The About item's low bits do not matter.
  PostMessageW(dialog_, WM_SYSCOMMAND, IDM_ABOUTBOX | 0x3, 0);
  ASSERT_TRUE(PumpUntil([&] {
    about = program_.FindWindowWith(IDOK);
    return about && about != dialog_;
  }));
  PostMessageW(about, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
  EXPECT_TRUE(PumpUntil([&] { return !IsWindow(about); }));

  PostMessageW(dialog_, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  EXPECT_TRUE(PumpUntil([&] { return IsIconic(dialog_) != 0; }));
  PostMessageW(dialog_, WM_SYSCOMMAND, SC_RESTORE, 0);
  EXPECT_TRUE(PumpUntil([&] { return !IsIconic(dialog_); }));
  EXPECT_TRUE(IsWindow(dialog_));
  EXPECT_EQ(STILL_ACTIVE, program_.WaitForExit(0));
}

// ---- the single running copy ----

TEST_F(PropertiesProgramTest, ASecondCopyBringsTheFirstToTheFrontAndShowsNothing) {
  HWND other = ShowForegroundWindow("PropertiesTestForeground", "in front");
  ASSERT_NE(nullptr, other);
  ASSERT_EQ(other, GetForegroundWindow());
  RunningProperties second;
  ASSERT_TRUE(second.started());
  EXPECT_EQ(0u, second.WaitForExit(20000));
  EXPECT_EQ(nullptr, second.FindWindowWith(IDC_PAN));
  EXPECT_TRUE(PumpUntil([&] { return GetForegroundWindow() == dialog_; }));
  DestroyWindow(other);
}

// Two copies started at the same moment (a double click that the shell
// delivers twice): one dialog shows, the other copy ends without one.
TEST(PropertiesRunningCopyTest, TwoCopiesStartedTogetherShowOneDialog) {
  StandInManager agent;
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    RunningProperties first, second;
    ASSERT_TRUE(first.started() && second.started());
    RunningProperties* shown = nullptr;
    ASSERT_TRUE(PumpUntil([&] {
      if (first.FindWindowWith(IDC_PAN)) shown = &first;
      else if (second.FindWindowWith(IDC_PAN)) shown = &second;
      return shown != nullptr;
    }, 20000));
    RunningProperties& other = shown == &first ? second : first;
    EXPECT_EQ(0u, other.WaitForExit(20000)) << "the other copy ends";
    EXPECT_EQ(nullptr, other.FindWindowWith(IDC_PAN));
    EXPECT_EQ(STILL_ACTIVE, shown->WaitForExit(0));
    Click(shown->FindWindowWith(IDC_PAN), IDOK);
    EXPECT_EQ(0u, shown->WaitForExit());
  }
}

// ---- without a section, without an agent ----

// The user's settings as the agent keeps them, for one test.
class StoredSettings {
 public:
  StoredSettings() { DeleteTestKey(HKEY_CURRENT_USER, kSettingsKey); }
  ~StoredSettings() { DeleteTestKey(HKEY_CURRENT_USER, kSettingsKey); }
  StoredSettings(const StoredSettings&) = delete;
  StoredSettings& operator=(const StoredSettings&) = delete;
  void Put(const char* name, DWORD type, const void* data, DWORD size) {
    PutValue(HKEY_CURRENT_USER, kSettingsKey, name, type, data, size);
  }
  void Put(const uint16_t factors[4], uint32_t flags) {
    Put(kLogFactorsValue, REG_QWORD, factors, 8);
    Put(kFlagsValue, REG_DWORD, &flags, 4);
  }
};

// The service stopped, the agent running: the section does not exist, and
// the settings are the ones the agent keeps for the user, read as the agent
// reads them (and sends them to the service when it connects). The dialog
// shows them, and Cancel puts back only what the user changed, as it was
// read: nothing when nothing was touched.
TEST(PropertiesWithoutSectionTest, ShowsTheStoredSettingsAsTheAgentReadsThemCancelPutsBackWhatChanged) {
  const uint16_t kUsers[4] = {0x1357, 0x2468, 0x9ABC, 0xDEF0};
  const std::vector<uint16_t> kUsersShown(kUsers, kUsers + 4);
  const std::vector<uint16_t> kDefaultsShown(4, 0x8000);
  enum Touch { kNothing, kTrackbar, kAxis, kBoth };
  struct Case {
    const char* name;
    std::function<void(StoredSettings&)> store;
    std::vector<uint16_t> thumbs;
    bool zoomSpinZ;
    Touch touch;
    std::vector<Request> restored;  // what Cancel posts
  };
  const Case cases[] = {
      {"the user's settings, nothing touched: nothing posted",
       [&](StoredSettings& s) { s.Put(kUsers, 1); }, kUsersShown, true, kNothing, {}},
      {"the user's settings, a trackbar moved: the pair as read",
       [&](StoredSettings& s) { s.Put(kUsers, 1); }, kUsersShown, true, kTrackbar,
       {Low(0x1357, 0x2468), High(0x9ABC, 0xDEF0)}},
      {"the user's settings, the axis changed: Flags as read",
       [&](StoredSettings& s) { s.Put(kUsers, 1); }, kUsersShown, true, kAxis, {Flags(1)}},
      {"nothing stored: the agent's defaults", [](StoredSettings&) {}, kDefaultsShown, false,
       kBoth, {Flags(0), Low(0x8000, 0x8000), High(0x8000, 0x8000)}},
      {"Flags 0x00010001 counts by its low 16 bits",
       [&](StoredSettings& s) { s.Put(kUsers, 0x00010001); }, kUsersShown, true, kAxis,
       {Flags(1)}},
      {"Flags 0x00010000 is 0 in its low 16 bits: PanY/SpinY",
       [&](StoredSettings& s) { s.Put(kUsers, 0x00010000); }, kUsersShown, false, kAxis,
       {Flags(0)}},
      {"Flags 2 is Zoom/SpinZ, as the service applies any value but 0",
       [&](StoredSettings& s) { s.Put(kUsers, 2); }, kUsersShown, true, kAxis, {Flags(1)}},
      {"a LogFactors of 4 bytes fills pan and zoom, the rest 0 (as the agent reads it)",
       [&](StoredSettings& s) {
         s.Put(kLogFactorsValue, REG_BINARY, kUsers, 4);
         DWORD flags = 0;
         s.Put(kFlagsValue, REG_DWORD, &flags, 4);
       },
       {0x1357, 0x2468, 0, 0}, false, kTrackbar, {Low(0x1357, 0x2468), High(0, 0)}},
      {"a Flags of 8 bytes cannot be read: the agent's default 0",
       [&](StoredSettings& s) {
         uint64_t flags = 1;
         s.Put(kLogFactorsValue, REG_QWORD, kUsers, 8);
         s.Put(kFlagsValue, REG_QWORD, &flags, 8);
       },
       kUsersShown, false, kAxis, {Flags(0)}},
      {"a LogFactors of 16 bytes cannot be read: the agent's defaults",
       [&](StoredSettings& s) {
         const uint16_t longer[8] = {1, 2, 3, 4, 5, 6, 7, 8};
         DWORD flags = 1;
         s.Put(kLogFactorsValue, REG_BINARY, longer, 16);
         s.Put(kFlagsValue, REG_DWORD, &flags, 4);
       },
       kDefaultsShown, true, kTrackbar, {Low(0x8000, 0x8000), High(0x8000, 0x8000)}},
  };
  StandInManager agent;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StoredSettings stored;
    c.store(stored);
    RunningProperties program;
    HWND dialog = program.WaitForDialog();
    ASSERT_NE(nullptr, dialog);
    EXPECT_EQ(c.thumbs, Thumbs(dialog));
    EXPECT_EQ(c.zoomSpinZ, Checked(dialog, IDC_RADIO_ZOOM_SPINZ));
    EXPECT_EQ(!c.zoomSpinZ, Checked(dialog, IDC_RADIO_PANY_SPINY));
    if (c.touch == kTrackbar || c.touch == kBoth) {
      Key(dialog, IDC_PAN, VK_RIGHT);
      agent.TakeWhen(2);
    }
    if (c.touch == kAxis || c.touch == kBoth) {
      Click(dialog, c.zoomSpinZ ? IDC_RADIO_PANY_SPINY : IDC_RADIO_ZOOM_SPINZ);
      agent.TakeWhen(1);
    }
    EXPECT_TRUE(agent.TakeUpToMarker(dialog).empty());
    Click(dialog, IDCANCEL);
    EXPECT_EQ(0u, program.WaitForExit());
    PumpUntil([] { return false; }, 300);
    EXPECT_EQ(c.restored, agent.Take());
  }
}

// The program opened while no agent runs (the library finds none to start).
// The test plays the agent that appears later: its window, then the
// ManagerStarted that makes the library take it and map the section.
class PropertiesLateAgentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(section_.ok());
    stored_.Put(kStored, kStoredFlags);
    Start();
  }
  void Start() {
    agent_.reset();
    program_.reset(new RunningProperties("", {{L"ProgramFiles", programFiles_.wpath()}}));
    ASSERT_TRUE(program_->started());
    dialog_ = program_->WaitForDialog();
    ASSERT_NE(nullptr, dialog_);
  }
  void AgentAppears() {
    agent_.reset(new StandInManager);
    HWND client = program_->ClientWindow();
    ASSERT_NE(nullptr, client);
    PostMessageA(client, RegisterWindowMessageA(km::kMessageName), km::ManagerStarted, 0);
    ASSERT_TRUE(PumpUntil([&] { return agent_->ClientMessages() > 0; }));
  }
  // PanY/SpinY clicked and the pan one step right; true once the controls
  // show it (they change whether or not an agent takes it).
  bool ChangeAxisAndPan() {
    Click(dialog_, IDC_RADIO_PANY_SPINY);
    Key(dialog_, IDC_PAN, VK_RIGHT);
    return PumpUntil([&] {
      return Thumbs(dialog_) == std::vector<uint16_t>{0x1112, 0x2222, 0x3333, 0x4444} &&
             Checked(dialog_, IDC_RADIO_PANY_SPINY);
    });
  }

  // What the user stored; the service had the others when it started.
  static constexpr uint16_t kStored[4] = {0x1111, 0x2222, 0x3333, 0x4444};
  static constexpr uint16_t kStoredFlags = 1;
  static constexpr uint16_t kStart[4] = {0x8000, 0x8000, 0x8000, 0x8000};
  StoredSettings stored_;
  TestSection section_{kStart, 0};
  // A folder standing in for the program-files folder, with no agent in it;
  // removed after the program has ended.
  ScratchFolder programFiles_{"kestrin-props-noagent"};
  std::unique_ptr<StandInManager> agent_;
  std::unique_ptr<RunningProperties> program_;
  HWND dialog_ = nullptr;
};

// The dialog starts the agent: the agent sends the stored settings to the
// service and says ManagerStarted, but the service applies them after the
// dialog has mapped the section, which meanwhile holds its start values.
// Those are never taken for the user's: the dialog keeps showing the stored
// settings, and Cancel puts back what the user changed as stored, also when
// the change came before the values landed.
TEST_F(PropertiesLateAgentTest, TheServicesStartValuesAreNeverTakenForTheUsers) {
  const std::vector<uint16_t> stored(kStored, kStored + 4);
  EXPECT_EQ(stored, Thumbs(dialog_)) << "the stored settings while nothing is mapped";
  EXPECT_TRUE(Checked(dialog_, IDC_RADIO_ZOOM_SPINZ));
  AgentAppears();
  ASSERT_FALSE(HasFatalFailure());
  PumpUntil([] { return false; }, 500);  // the dialog reads the record many times
  EXPECT_EQ(stored, Thumbs(dialog_)) << "the service's start values are not the user's";
  EXPECT_TRUE(Checked(dialog_, IDC_RADIO_ZOOM_SPINZ));

  // A change before the values land carries the others as stored.
  Key(dialog_, IDC_SPIN, VK_RIGHT);
  EXPECT_EQ((std::vector<Request>{Low(0x1111, 0x2222), High(0x3334, 0x4444)}), agent_->TakeWhen(2));
  section_.Set(kStored, kStoredFlags);  // landed, late
  PumpUntil([] { return false; }, 300);
  Click(dialog_, IDCANCEL);
  EXPECT_EQ(0u, program_->WaitForExit());
  PumpUntil([] { return false; }, 300);
  EXPECT_EQ((std::vector<Request>{Low(0x1111, 0x2222), High(0x3333, 0x4444)}), agent_->Take())
      << "the speeds as stored; the axis was not touched";
}

TEST_F(PropertiesLateAgentTest, NothingTouchedCancelPostsNothing) {
  AgentAppears();
  ASSERT_FALSE(HasFatalFailure());
  PumpUntil([] { return false; }, 500);
  EXPECT_TRUE(agent_->TakeUpToMarker(dialog_).empty()) << "nothing changed: nothing posted";
  Click(dialog_, IDCANCEL);  // before the values land
  EXPECT_EQ(0u, program_->WaitForExit());
  PumpUntil([] { return false; }, 300);
  EXPECT_EQ(std::vector<Request>{}, agent_->Take());
}

// Changes made while no agent runs reach no one; when the agent appears, the
// dialog posts what it shows, so that OK leaves in force what the user set
// (and Cancel still puts back the stored settings).
TEST_F(PropertiesLateAgentTest, ChangesMadeBeforeTheAgentArePostedWhenItAppears) {
  for (bool ok : {true, false}) {
    SCOPED_TRACE(ok ? "OK" : "Cancel");
    if (!ok) Start();  // a second run of the program, from the start
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_TRUE(ChangeAxisAndPan()) << "the controls change without an agent";

    AgentAppears();
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ((std::vector<Request>{Flags(0), Low(0x1112, 0x2222), High(0x3333, 0x4444)}),
              agent_->TakeWhen(3))
        << "what the dialog shows, once the agent is there";
    Key(dialog_, IDC_SCROLL_HAT, VK_LEFT);
    EXPECT_EQ((std::vector<Request>{Low(0x1112, 0x2222), High(0x3333, 0x4443)}),
              agent_->TakeWhen(2));
    Click(dialog_, ok ? IDOK : IDCANCEL);
    EXPECT_EQ(0u, program_->WaitForExit());
    PumpUntil([] { return false; }, 300);
    const std::vector<Request> restored =
        ok ? std::vector<Request>{}
           : std::vector<Request>{Flags(1), Low(0x1111, 0x2222), High(0x3333, 0x4444)};
    EXPECT_EQ(restored, agent_->Take());
  }
}

// The program ends while what it has to post has reached no agent: the
// changes made without one (OK), or the settings to put back after the agent
// that took the changes went away (Cancel). It waits for an agent to take
// them, and says in a debug line what none took.
TEST_F(PropertiesLateAgentTest, WhatIsLeftToPostAtTheEndGoesToAnAgentThatAppearsOrIsTold) {
  struct Case {
    const char* name;
    int end;           // IDOK or IDCANCEL
    bool agentComes;   // an agent appears after the dialog has gone
    std::vector<Request> posted;  // what reaches that agent
    const char* told;  // the debug line, when none comes
  };
  const Case cases[] = {
      {"OK, changes made without an agent, one comes", IDOK, true,
       {Flags(0), Low(0x1112, 0x2222), High(0x3333, 0x4444)}, nullptr},
      {"OK, changes made without an agent, none comes", IDOK, false, {},
       "[KestrinProperties] No agent took them within 5 s: the vertical axis and speeds "
       "changed here were not sent\n"},
      {"Cancel after the agent went, another comes", IDCANCEL, true,
       {Flags(1), Low(0x1111, 0x2222), High(0x3333, 0x4444)}, nullptr},
      {"Cancel after the agent went, none comes", IDCANCEL, false, {},
       "[KestrinProperties] No agent took them within 5 s: the vertical axis and speeds "
       "found at start were not put back\n"},
  };
  DebugMonitor monitor;
  ASSERT_TRUE(monitor.Start());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Start();
    ASSERT_FALSE(HasFatalFailure());
    if (c.end == IDCANCEL) {
      AgentAppears();
      ASSERT_FALSE(HasFatalFailure());
    }
    ASSERT_TRUE(ChangeAxisAndPan());
    if (c.end == IDCANCEL) {
      EXPECT_EQ(3u, agent_->TakeWhen(3).size()) << "the changes reached the agent";
      agent_.reset();  // and it went
    }
    Click(dialog_, c.end);
    ASSERT_TRUE(PumpUntil([&] { return !IsWindow(dialog_); })) << "the dialog has gone";
    if (c.agentComes) {
      AgentAppears();
      ASSERT_FALSE(HasFatalFailure());
      EXPECT_EQ(c.posted, agent_->TakeWhen(c.posted.size()));
    }
    EXPECT_EQ(0u, program_->WaitForExit(20000));
    std::vector<std::string> lines;  // the program's own (the library's say it found no agent)
    for (const std::string& line : monitor.TextsFrom(program_->pid()))
      if (line.rfind("[KestrinProperties]", 0) == 0) lines.push_back(line);
    if (c.told) {
      EXPECT_EQ(std::vector<std::string>{c.told}, lines);
    } else {
      EXPECT_EQ(std::vector<std::string>{}, lines);
    }
  }
}

// The agent had just connected when the dialog opened: the section is
// mapped, its record still holds the service's start values. Until the
// user's first change, the dialog follows the record, and once the agent's
// values have landed, those are what it shows and what Cancel puts back.
TEST(PropertiesJustStartedAgentTest, TheDialogFollowsTheRecordUntilTheAgentsValuesLand) {
  const uint16_t stored[4] = {0x1111, 0x2222, 0x3333, 0x4444};
  const uint16_t start[4] = {0x8000, 0x8000, 0x8000, 0x8000};
  StoredSettings settings;
  settings.Put(stored, 1);
  TestSection section(start, 0);
  ASSERT_TRUE(section.ok());
  StandInManager agent;
  RunningProperties program;
  HWND dialog = program.WaitForDialog();
  ASSERT_NE(nullptr, dialog);
  EXPECT_EQ(std::vector<uint16_t>(start, start + 4), Thumbs(dialog));
  section.Set(stored, 1);
  EXPECT_TRUE(PumpUntil([&] {
    return Thumbs(dialog) == std::vector<uint16_t>(stored, stored + 4) &&
           Checked(dialog, IDC_RADIO_ZOOM_SPINZ);
  })) << "the landed values shown";
  // Landed: the record is no longer followed.
  section.Set(start, 0);
  PumpUntil([] { return false; }, 300);
  EXPECT_EQ(std::vector<uint16_t>(stored, stored + 4), Thumbs(dialog));
  EXPECT_TRUE(agent.TakeUpToMarker(dialog).empty());
  Key(dialog, IDC_PAN, VK_RIGHT);
  EXPECT_EQ((std::vector<Request>{Low(0x1112, 0x2222), High(0x3333, 0x4444)}), agent.TakeWhen(2))
      << "a change carries the others as landed";
  Click(dialog, IDCANCEL);
  EXPECT_EQ(0u, program.WaitForExit());
  EXPECT_EQ((std::vector<Request>{Low(0x1111, 0x2222), High(0x3333, 0x4444)}), agent.TakeWhen(2));
}

// ---- the device list ----

TEST(PropertiesDeviceListTest, SerialAndFirmwareFromTheDeviceMap) {
  struct Case {
    const char* name;
    std::function<void()> arrange;
    const wchar_t* serial;
    const wchar_t* firmware;
  };
  const Case cases[] = {
      {"serial without terminator, firmware 0x0312",
       [] {
         HKEY e = CreateDeviceMap();
         PutSerial(e, "KS00000000000077");
         PutFirmware(e, REG_DWORD, 0x0312, 4);
         RegCloseKey(e);
       },
       L"KS00000000000077", L"3.18"},
      {"no key", [] {}, L"", L""},
      {"no serial",
       [] {
         HKEY e = CreateDeviceMap();
         PutFirmware(e, REG_DWORD, 0x0105, 4);
         RegCloseKey(e);
       },
       L"", L"1.05"},
      {"a firmware of two bytes",
       [] {
         HKEY e = CreateDeviceMap();
         PutSerial(e, "KS1");
         PutFirmware(e, REG_DWORD, 0x0312, 2);
         RegCloseKey(e);
       },
       L"KS1", L""},
      {"a firmware of eight bytes",
       [] {
         HKEY e = CreateDeviceMap();
         uint64_t big = 0x0312;
         RegSetValueExA(e, "Firmware Version", 0, REG_QWORD, reinterpret_cast<BYTE*>(&big), 8);
         RegCloseKey(e);
       },
       L"", L""},
      {"a serial that is no text",
       [] {
         HKEY e = CreateDeviceMap();
         const wchar_t bytes[] = L"KS0000000000007";
         RegSetValueExW(e, L"Serial Number", 0, REG_BINARY, reinterpret_cast<const BYTE*>(bytes),
                        sizeof bytes);
         PutFirmware(e, REG_DWORD, 0x0312, 4);
         RegCloseKey(e);
       },
       L"", L"3.18"},
      {"a serial of 65 characters",
       [] {
         HKEY e = CreateDeviceMap();
         PutSerial(e, std::string(65, 'K').c_str());
         RegCloseKey(e);
       },
       L"", L""},
      {"a serial of 64 characters",
       [] {
         HKEY e = CreateDeviceMap();
         PutSerial(e, std::string(64, 'K').c_str());
         RegCloseKey(e);
       },
       L"KKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKK", L""},
      {"a serial of a megabyte",
       [] {
         HKEY e = CreateDeviceMap();
         PutSerial(e, std::string(1 << 20, 'K').c_str());
         RegCloseKey(e);
       },
       L"", L""},
      {"a firmware that is no DWORD",
       [] {
         HKEY e = CreateDeviceMap();
         PutFirmware(e, REG_BINARY, 0x0312, 4);
         RegCloseKey(e);
       },
       L"", L""},
  };
  StandInManager agent;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DeleteDeviceMap();
    c.arrange();
    RunningProperties program;
    HWND dialog = program.WaitForDialog();
    ASSERT_NE(nullptr, dialog);
    HWND list = GetDlgItem(dialog, IDC_DEVICE_LIST);
    EXPECT_EQ(1, SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    EXPECT_EQ(L"1", program.ListText(list, 0, 0));
    EXPECT_EQ(c.serial, program.ListText(list, 0, 1));
    EXPECT_EQ(c.firmware, program.ListText(list, 0, 2));
    Click(dialog, IDOK);
    EXPECT_EQ(0u, program.WaitForExit());
  }
  DeleteDeviceMap();
}

TEST_F(PropertiesProgramTest, ListColumnsAndTheirHeadings) {
  HWND list = GetDlgItem(dialog_, IDC_DEVICE_LIST);
  struct Column {
    int format;
    int width;
  };
  // Column 0 is left-aligned: a list view keeps its first column so.
  const Column columns[] = {{LVCFMT_LEFT, 32}, {LVCFMT_LEFT, 112}, {LVCFMT_LEFT, 80}};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    LVCOLUMNW column = program_.ListColumn(list, i);
    EXPECT_EQ(columns[i].format, column.fmt & LVCFMT_JUSTIFYMASK);
    EXPECT_EQ(columns[i].width, column.cx);
  }
}

// ---- a satellite library in the current directory ----

// A folder with a LOC library that holds the German dialogs and strings and
// code in its entry point, as one planted in the current directory would:
// that code marks that it ran with a named event it keeps open.
const wchar_t kPlantedCodeRan[] = L"KestrinPlantedLocLibraryRan";
// The folder goes once the programs that ran in it have ended.
struct FolderWithLocLibrary : ScratchFolder {
  FolderWithLocLibrary() : ScratchFolder("kestrin-props-loc") {
    CopyFileA(WinePath(KESTRIN_PLANTED_LOC_DLL).c_str(),
              (path() + "\\KestrinPropertiesLOC.dll").c_str(), FALSE);
  }
};

TEST(PropertiesLocLibraryTest, ItGivesTheDialogsNoneOfItsCodeRunsAndASecondCopyFindsTheDialog) {
  StandInManager agent;
  const FolderWithLocLibrary folder;
  RunningProperties program(folder.path());
  HWND dialog = program.WaitForDialog();
  ASSERT_NE(nullptr, dialog);
  ExpectGermanDialog(dialog);
  HANDLE ran = OpenEventW(SYNCHRONIZE, FALSE, kPlantedCodeRan);
  EXPECT_EQ(nullptr, ran) << "the library's entry point ran in the program";
  if (ran) CloseHandle(ran);

  // Its About box, German, with the program's icon, which the library lacks.
  HWND about = OpenAbout(program, dialog);
  ASSERT_NE(nullptr, about);
  wchar_t text[64] = {};
  GetWindowTextW(about, text, 64);
  EXPECT_EQ(std::wstring(L"Info \u00FCber KestrinProperties"), text);
  EXPECT_NE(nullptr, ShownIcon(about));
  PostMessageW(about, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  EXPECT_TRUE(PumpUntil([&] { return !IsWindow(about); }));

  // Whatever the caption says, a second copy finds this one.
  RunningProperties second;
  EXPECT_EQ(0u, second.WaitForExit(20000));
  EXPECT_EQ(nullptr, second.FindWindowWith(IDC_PAN));
  Click(dialog, IDOK);
  EXPECT_EQ(0u, program.WaitForExit());
}

}  // namespace
}  // namespace props
