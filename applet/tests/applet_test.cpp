// The built Kestrin.cpl loaded as the Control Panel loads it: its export, its
// answer to every message, the records it fills and leaves alone, its
// resources, and opening the item with the stand-in configuration program.
#include <windows.h>
#include <cpl.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "process_runner.h"
#include "standin.h"

namespace {

class LoadedApplet : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    module_ = LoadLibraryA(WinePath(KESTRIN_APPLET_CPL).c_str());
    if (module_)
      proc_ = reinterpret_cast<APPLET_PROC>(
          reinterpret_cast<void*>(GetProcAddress(module_, "CPlApplet")));
  }
  static void TearDownTestSuite() {
    if (module_) FreeLibrary(module_);
    module_ = nullptr;
    proc_ = nullptr;
  }
  void SetUp() override {
    ASSERT_NE(nullptr, module_) << "LoadLibrary failed, error " << GetLastError();
    ASSERT_NE(nullptr, proc_);
  }
  LONG Send(UINT message, LPARAM lParam1 = 0, LPARAM lParam2 = 0) {
    return proc_(nullptr, message, lParam1, lParam2);
  }
  static HMODULE module_;
  static APPLET_PROC proc_;
};
HMODULE LoadedApplet::module_ = nullptr;
APPLET_PROC LoadedApplet::proc_ = nullptr;

// ---- the export ----

// The names and ordinals of the module's export directory.
std::vector<std::pair<std::string, WORD>> Exports(HMODULE module) {
  const BYTE* base = reinterpret_cast<const BYTE*>(module);
  const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& entry = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  std::vector<std::pair<std::string, WORD>> names;
  if (!entry.VirtualAddress) return names;
  const IMAGE_EXPORT_DIRECTORY* dir =
      reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + entry.VirtualAddress);
  const DWORD* nameRvas = reinterpret_cast<const DWORD*>(base + dir->AddressOfNames);
  const WORD* indexes = reinterpret_cast<const WORD*>(base + dir->AddressOfNameOrdinals);
  for (DWORD i = 0; i < dir->NumberOfNames; ++i)
    names.emplace_back(reinterpret_cast<const char*>(base + nameRvas[i]),
                       static_cast<WORD>(dir->Base + indexes[i]));
  return names;
}

TEST_F(LoadedApplet, ExportsCPlAppletByPlainNameAsOrdinalOne) {
  const std::vector<std::pair<std::string, WORD>> expected = {{"CPlApplet", 1}};
  EXPECT_EQ(expected, Exports(module_));
  EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(module_, MAKEINTRESOURCEA(1))),
            reinterpret_cast<void*>(proc_));
}

// ---- the messages ----

TEST_F(LoadedApplet, AnswersEveryMessageOfTheTable) {
  struct Case {
    UINT message;
    LONG answer;
  } cases[] = {
      {CPL_INIT, 1},   {CPL_GETCOUNT, 1}, {CPL_SELECT, 1}, {CPL_STOP, 1},
      {CPL_EXIT, 0},
      // Opening with parameters is not handled, so the Control Panel goes on
      // to CPL_DBLCLK.
      {CPL_STARTWPARMSA, 0}, {CPL_STARTWPARMSW, 0},
      // Any other message.
      {0, 1},          {11, 1},           {WM_USER, 1},    {WM_CPL_LAUNCH, 1}, {0xFFFFFFFFu, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("message " + std::to_string(c.message));
    EXPECT_EQ(c.answer, Send(c.message));
    // Neither the window nor lParam1 changes an answer.
    EXPECT_EQ(c.answer, proc_(GetDesktopWindow(), c.message, 7, 0));
  }
}

// CPL_INQUIRE fills the system's packed record and not one byte beyond it: a
// naturally aligned copy of the record (24 bytes in the x64 build) would
// overwrite the bytes after the Control Panel's 20.
TEST_F(LoadedApplet, InquireFillsThePackedRecordAndNothingBeyond) {
#ifdef _WIN64
  EXPECT_EQ(20u, sizeof(CPLINFO));
#else
  EXPECT_EQ(16u, sizeof(CPLINFO));
#endif
  unsigned char buffer[sizeof(CPLINFO) + 16];
  std::memset(buffer, 0xCD, sizeof buffer);
  EXPECT_EQ(0, Send(CPL_INQUIRE, 0, reinterpret_cast<LPARAM>(buffer)));
  CPLINFO info;
  std::memcpy(&info, buffer, sizeof info);
  EXPECT_EQ(2001, info.idIcon);
  EXPECT_EQ(1, info.idName);
  EXPECT_EQ(2, info.idInfo);
  EXPECT_EQ(0, info.lData);
  for (size_t i = sizeof(CPLINFO); i < sizeof buffer; ++i)
    EXPECT_EQ(0xCD, buffer[i]) << "byte " << i << " past the record";
}

// CPL_NEWINQUIRE is not answered: 1, and the record byte for byte as given,
// in its ANSI and its wide form.
TEST_F(LoadedApplet, NewInquireLeavesTheRecordUntouched) {
  const DWORD sizes[] = {sizeof(NEWCPLINFOA), sizeof(NEWCPLINFOW)};
  for (DWORD size : sizes) {
    SCOPED_TRACE("record of " + std::to_string(size) + " bytes");
    std::vector<unsigned char> record(size + 16);
    for (size_t i = 0; i < record.size(); ++i) record[i] = static_cast<unsigned char>(i * 7 + 1);
    std::memcpy(record.data(), &size, sizeof size);
    const std::vector<unsigned char> before = record;
    EXPECT_EQ(1, Send(CPL_NEWINQUIRE, 0, reinterpret_cast<LPARAM>(record.data())));
    EXPECT_EQ(before, record);
  }
}

// ---- the resources ----

constexpr WORD kEnglishUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);  // 1033

std::string ResourceBytes(HMODULE module, LPCSTR type, LPCSTR name) {
  HRSRC found = FindResourceExA(module, type, name, kEnglishUs);
  if (!found) return "";
  HGLOBAL loaded = LoadResource(module, found);
  const char* data = static_cast<const char*>(LockResource(loaded));
  return data ? std::string(data, SizeofResource(module, found)) : "";
}

#pragma pack(push, 2)
struct IconGroupEntry {  // one entry of an RT_GROUP_ICON resource
  BYTE width, height, colours, reserved;
  WORD planes, bitCount;
  DWORD bytes;
  WORD id;
};
#pragma pack(pop)
static_assert(sizeof(IconGroupEntry) == 14, "an icon group entry is 14 bytes");

TEST_F(LoadedApplet, IconGroup2001Has16_32And48PixelsAt8BitsPerPixel) {
  const std::string group = ResourceBytes(module_, RT_GROUP_ICON, MAKEINTRESOURCEA(2001));
  ASSERT_GE(group.size(), 6u) << "no icon group 2001 in language 1033";
  WORD header[3];
  std::memcpy(header, group.data(), sizeof header);
  EXPECT_EQ(1, header[1]);  // icons, not cursors
  ASSERT_EQ(group.size(), 6 + header[2] * sizeof(IconGroupEntry));
  std::set<int> sizes;
  for (WORD i = 0; i < header[2]; ++i) {
    IconGroupEntry entry;
    std::memcpy(&entry, group.data() + 6 + i * sizeof entry, sizeof entry);
    SCOPED_TRACE("icon " + std::to_string(entry.id));
    EXPECT_EQ(entry.width, entry.height);
    EXPECT_EQ(8, entry.bitCount);
    sizes.insert(entry.width);
    // The image itself agrees: a bitmap header of that size (height doubled
    // for the mask) and depth, and the system makes an icon of it.
    const std::string image = ResourceBytes(module_, RT_ICON, MAKEINTRESOURCEA(entry.id));
    ASSERT_GE(image.size(), sizeof(BITMAPINFOHEADER));
    BITMAPINFOHEADER bitmap;
    std::memcpy(&bitmap, image.data(), sizeof bitmap);
    EXPECT_EQ(entry.width, bitmap.biWidth);
    EXPECT_EQ(2 * entry.width, bitmap.biHeight);
    EXPECT_EQ(8, bitmap.biBitCount);
    HICON icon = CreateIconFromResourceEx(
        reinterpret_cast<PBYTE>(const_cast<char*>(image.data())), static_cast<DWORD>(image.size()),
        TRUE, 0x00030000, entry.width, entry.width, LR_DEFAULTCOLOR);
    EXPECT_NE(nullptr, icon);
    if (icon) DestroyIcon(icon);
  }
  EXPECT_EQ((std::set<int>{16, 32, 48}), sizes);
}

// Strings 1 and 2 of language 1033, exactly (two blanks after "(3D mouse).").
TEST_F(LoadedApplet, NameAndDescriptionStrings) {
  ASSERT_FALSE(ResourceBytes(module_, RT_STRING, MAKEINTRESOURCEA(1)).empty())
      << "strings 0-15 are not in language 1033";
  struct Case {
    UINT id;
    const char* text;
  } cases[] = {
      {1, "Kestrin Controllers"},
      {2, "Configure Kestrin spatial controllers (3D mouse).  Visit "
          "https://www.pellmor-vastine.example/kestrin for more information."},
  };
  for (const Case& c : cases) {
    char text[512] = {};
    EXPECT_EQ(std::strlen(c.text), static_cast<size_t>(LoadStringA(module_, c.id, text, sizeof text)));
    EXPECT_STREQ(c.text, text);
  }
}

TEST_F(LoadedApplet, ManifestAsResource2RunsAsInvokerAndIsDpiAware) {
  const std::string manifest =
      ResourceBytes(module_, MAKEINTRESOURCEA(24) /* RT_MANIFEST */, MAKEINTRESOURCEA(2));
  ASSERT_FALSE(manifest.empty()) << "no manifest 2 in language 1033";
  const char* parts[] = {"level=\"asInvoker\"", "uiAccess=\"false\"", ">true</dpiAware>"};
  for (const char* part : parts) EXPECT_NE(std::string::npos, manifest.find(part)) << part;
}

// ---- opening the item ----

class OpenedApplet : public LoadedApplet {
 protected:
  void SetUp() override {
    LoadedApplet::SetUp();
    char cwd[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof cwd, cwd);
    savedCwd_ = cwd;
    scratch_ = MakeScratchFolder();
  }
  void TearDown() override {
    RemoveStandIn();
    SetCurrentDirectoryA(savedCwd_.c_str());
    RemoveScratchFolder(scratch_);
  }
  std::string savedCwd_, scratch_;
};

// One instance, no arguments, shown, in the folder that was current in the
// caller (the applet gives ShellExecuteA no working directory).
TEST_F(OpenedApplet, StartsTheInstalledProgramOnceWithoutArguments) {
  ASSERT_TRUE(InstallStandIn());
  ASSERT_TRUE(SetCurrentDirectoryA(scratch_.c_str()));
  EXPECT_EQ(0, Send(CPL_DBLCLK, 0, 0));
  ExpectOneStartLikeTheApplet(WaitForStarts(10000, 1000), scratch_);
}

TEST_F(OpenedApplet, MissingProgramStartsNothingAndAnswersZero) {
  RemoveStandIn();
  EXPECT_EQ(0, Send(CPL_DBLCLK, 0, 0));
  // (Nothing shown: a box would have kept the call from returning; the
  // Control Panel test checks the same in a process of its own.)
  EXPECT_TRUE(WaitForStarts(500, 0).empty());
}

// A program-files folder so long that the program's path does not fit in
// MAX_PATH: the applet refuses, starts nothing, shows nothing, answers 0. The
// folder is set where the system keeps it (ProgramFilesDir) for this test.
class LongProgramFiles : public OpenedApplet {
 protected:
  static constexpr char kKey[] = "Software\\Microsoft\\Windows\\CurrentVersion";
  void SetUp() override {
    OpenedApplet::SetUp();
    ASSERT_TRUE(InstallStandIn());  // the normal place holds a program to start
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0,
                                           KEY_QUERY_VALUE | KEY_SET_VALUE, &key_));
    char value[MAX_PATH] = {};
    DWORD size = sizeof value;
    ASSERT_EQ(ERROR_SUCCESS,
              RegQueryValueExA(key_, "ProgramFilesDir", nullptr, nullptr,
                               reinterpret_cast<BYTE*>(value), &size));
    saved_ = value;
    // The system gives the folder only when it exists.
    const std::string tail = "\\Pellmor Vastine\\Kestrin\\Kestrin.exe";
    longFolder_ = "C:\\" + std::string(MAX_PATH - tail.size() - 3, 'x');  // one too many
    ASSERT_TRUE(CreateDirectoryA(longFolder_.c_str(), nullptr) ||
                GetLastError() == ERROR_ALREADY_EXISTS);
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key_, "ProgramFilesDir", 0, REG_SZ,
                                            reinterpret_cast<const BYTE*>(longFolder_.c_str()),
                                            static_cast<DWORD>(longFolder_.size() + 1)));
    changed_ = true;
  }
  void TearDown() override {
    if (changed_)
      RegSetValueExA(key_, "ProgramFilesDir", 0, REG_SZ,
                     reinterpret_cast<const BYTE*>(saved_.c_str()),
                     static_cast<DWORD>(saved_.size() + 1));
    if (key_) RegCloseKey(key_);
    if (!longFolder_.empty()) RemoveDirectoryA(longFolder_.c_str());
    OpenedApplet::TearDown();
  }
  HKEY key_ = nullptr;
  bool changed_ = false;
  std::string saved_, longFolder_;
};
constexpr char LongProgramFiles::kKey[];

TEST_F(LongProgramFiles, PathThatDoesNotFitStartsNothing) {
  char folder[MAX_PATH] = {};
  SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, folder);
  // Otherwise the applet would show its box and this call would not return.
  if (longFolder_ != folder) GTEST_SKIP() << "the system does not take ProgramFilesDir: " << folder;
  EXPECT_EQ(0, Send(CPL_DBLCLK, 0, 0));
  EXPECT_TRUE(WaitForStarts(1000, 0).empty());
}

}  // namespace
