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
#include <string>
#include <vector>

#include "foreground_window.h"
#include "running_properties.h"

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

const std::vector<Request> kRestore = {Flags(1), Low(0x1000, 0x2000), High(0x3000, 0xF000)};

class PropertiesEndingTest : public PropertiesProgramTest,
                             public ::testing::WithParamInterface<std::tuple<Ending, bool>> {};

TEST_P(PropertiesEndingTest, CancelRestoresTheSettingsFoundAtStartOkPostsNothing) {
  const Ending& ending = std::get<0>(GetParam());
  bool defaultsFirst = std::get<1>(GetParam());
  Key(dialog_, IDC_SPIN, VK_NEXT);
  Click(dialog_, IDC_RADIO_PANY_SPINY);
  if (defaultsFirst) Click(dialog_, IDC_DEFAULTS);
  agent_.TakeWhen(defaultsFirst ? 7 : 3);
  std::vector<Request> after = End([&] { ending.end(dialog_); });
  EXPECT_EQ(ending.restores ? kRestore : std::vector<Request>{}, after);
}

INSTANTIATE_TEST_SUITE_P(
    Endings, PropertiesEndingTest,
    ::testing::Combine(::testing::ValuesIn(kEndings), ::testing::Bool()),
    [](const ::testing::TestParamInfo<std::tuple<Ending, bool>>& info) {
      std::string name = std::get<0>(info.param).name;
      for (char& c : name)
        if (c == ' ') c = '_';
      return name + (std::get<1>(info.param) ? "_AfterDefaults" : "");
    });

// ---- system menu ----

TEST_F(PropertiesProgramTest, TheAboutItemOpensTheAboutBoxOtherCommandsActAsUsual) {
  PostMessageW(dialog_, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
  HWND about = nullptr;
  ASSERT_TRUE(PumpUntil([&] {
    about = program_.FindWindowWith(IDOK);
    return about && about != dialog_;
  }));
  wchar_t caption[64] = {};
  GetWindowTextW(about, caption, 64);
  EXPECT_EQ(std::wstring(L"About KestrinProperties"), caption);
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

// ---- without a section, without an agent ----

TEST(PropertiesWithoutSectionTest, ShowsAndSavesTheDefaults) {
  StandInManager agent;
  RunningProperties program;
  HWND dialog = program.WaitForDialog();
  ASSERT_NE(nullptr, dialog);
  EXPECT_EQ(std::vector<uint16_t>(4, 0x8000), Thumbs(dialog));
  EXPECT_TRUE(Checked(dialog, IDC_RADIO_PANY_SPINY));
  Key(dialog, IDC_PAN, VK_RIGHT);
  agent.TakeWhen(2);
  Click(dialog, IDCANCEL);
  EXPECT_EQ(0u, program.WaitForExit());
  EXPECT_EQ((std::vector<Request>{Flags(0), {km::SetLogFactorsLow, 0x80008000},
                                  {km::SetLogFactorsHigh, 0x80008000}}),
            agent.TakeWhen(3));
}

// A folder standing in for the program-files folder, with no agent in it.
std::string EmptyProgramFiles() {
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  std::string folder = std::string(temp) + "kestrin-props-noagent";
  CreateDirectoryA(folder.c_str(), nullptr);
  return folder;
}

TEST(PropertiesWithoutAgentTest, ControlsWorkAndAnAgentThatComesLaterGetsTheNextChange) {
  uint16_t found[4] = {0x1000, 0x2000, 0x3000, 0x4000};
  TestSection section(found, 0);
  ASSERT_TRUE(section.ok());
  RunningProperties program("", {{L"ProgramFiles", Wide(EmptyProgramFiles())}});
  HWND dialog = program.WaitForDialog();
  ASSERT_NE(nullptr, dialog);

  Key(dialog, IDC_PAN, VK_RIGHT);
  Click(dialog, IDC_RADIO_ZOOM_SPINZ);
  Click(dialog, IDC_DEFAULTS);
  Click(dialog, IDC_RADIO_ZOOM_SPINZ);
  Key(dialog, IDC_SPIN, VK_LEFT);
  EXPECT_TRUE(PumpUntil([&] {
    return Thumbs(dialog) == std::vector<uint16_t>{0x8000, 0x8000, 0x7FFF, 0x8000} &&
           Checked(dialog, IDC_RADIO_ZOOM_SPINZ);
  })) << "the controls change without an agent";

  // The agent starts now: its ManagerStarted makes the library take its
  // window and map the section, and the next change goes there. The
  // settings the dialog saves for Cancel are then the section's, not the
  // defaults it showed while nothing was mapped.
  {
    StandInManager agent;
    HWND client = program.ClientWindow();
    ASSERT_NE(nullptr, client);
    PostMessageA(client, RegisterWindowMessageA(km::kMessageName), km::ManagerStarted, 0);
    ASSERT_TRUE(PumpUntil([&] { return agent.ClientMessages() > 0; }));
    Key(dialog, IDC_SCROLL_HAT, VK_RIGHT);
    EXPECT_EQ((std::vector<Request>{Low(0x8000, 0x8000), High(0x7FFF, 0x8001)}), agent.TakeWhen(2));
    Click(dialog, IDCANCEL);
    EXPECT_EQ(0u, program.WaitForExit());
    EXPECT_EQ((std::vector<Request>{Flags(0), Low(0x1000, 0x2000), High(0x3000, 0x4000)}),
              agent.TakeWhen(3));
  }
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

// A folder with the German library as the program's LOC library.
std::string FolderWithLocLibrary() {
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  std::string folder = std::string(temp) + "kestrin-props-loc";
  CreateDirectoryA(folder.c_str(), nullptr);
  CopyFileA((ProgramFolder() + "\\KestrinPropertiesDEU.dll").c_str(),
            (folder + "\\KestrinPropertiesLOC.dll").c_str(), FALSE);
  return folder;
}

TEST(PropertiesLocLibraryTest, ItGivesTheDialogsAndASecondCopyStillFindsTheTranslatedOne) {
  StandInManager agent;
  RunningProperties program(FolderWithLocLibrary());
  HWND dialog = program.WaitForDialog();
  ASSERT_NE(nullptr, dialog);
  wchar_t text[64] = {};
  GetWindowTextW(dialog, text, 64);
  EXPECT_EQ(std::wstring(L"Eigenschaften der Kestrin 3D-Maus"), text);
  GetDlgItemTextW(dialog, IDCANCEL, text, 64);
  EXPECT_EQ(std::wstring(L"&Abbrechen"), text);

  // Whatever the caption says, a second copy finds this one.
  RunningProperties second;
  EXPECT_EQ(0u, second.WaitForExit(20000));
  EXPECT_EQ(nullptr, second.FindWindowWith(IDC_PAN));
  Click(dialog, IDOK);
  EXPECT_EQ(0u, program.WaitForExit());
}

}  // namespace
}  // namespace props
