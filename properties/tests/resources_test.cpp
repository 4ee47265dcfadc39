// The program's resources as the system reads them from the built files:
// the manifest, the icon group, the version block, the task-links document,
// and the German library's templates, which must hold every control of the
// English ones at the same place with the same class and style.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "process_runner.h"
#include "resource.h"

namespace {

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

class DataFile {
 public:
  explicit DataFile(const char* unixPath)
      : module_(LoadLibraryExW(Wide(WinePath(unixPath)).c_str(), nullptr,
                               LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {}
  ~DataFile() {
    if (module_) FreeLibrary(module_);
  }
  HMODULE get() const { return module_; }
  std::string Bytes(const wchar_t* type, const wchar_t* name) const {
    HRSRC found = FindResourceW(module_, name, type);
    if (!found) return "";
    HGLOBAL loaded = LoadResource(module_, found);
    const char* data = static_cast<const char*>(LockResource(loaded));
    return data ? std::string(data, SizeofResource(module_, found)) : "";
  }

 private:
  HMODULE module_;
};

const DataFile& Program() {
  static DataFile program(KESTRIN_PROPERTIES_EXE);
  return program;
}

TEST(PropertiesResourcesTest, ManifestCommonControlsSixForAnyArchitectureAsInvokerDpiAware) {
  std::string manifest = Program().Bytes(MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1));
  ASSERT_FALSE(manifest.empty());
  for (const char* part : {"name=\"Microsoft.Windows.Common-Controls\"", "version=\"6.0.0.0\"",
                           "processorArchitecture=\"*\"", "level=\"asInvoker\"",
                           "uiAccess=\"false\"", ">true</dpiAware>"})
    EXPECT_NE(std::string::npos, manifest.find(part)) << part;
  EXPECT_EQ(std::string::npos, manifest.find("\"x86\"")) << "an x86 dependency fails the x64 build";
}

#pragma pack(push, 2)
struct GroupIconEntry {
  BYTE width, height, colours, reserved;
  WORD planes, bitCount;
  DWORD bytes;
  WORD id;
};
#pragma pack(pop)

TEST(PropertiesResourcesTest, IconsOneToThreeInGroup128) {
  std::string group = Program().Bytes(MAKEINTRESOURCEW(14), MAKEINTRESOURCEW(IDR_MAINFRAME));
  ASSERT_GE(group.size(), 6u);
  const WORD* header = reinterpret_cast<const WORD*>(group.data());
  ASSERT_EQ(3, header[2]);
  ASSERT_EQ(6 + 3 * sizeof(GroupIconEntry), group.size());
  const GroupIconEntry* entries = reinterpret_cast<const GroupIconEntry*>(group.data() + 6);
  for (WORD i = 0; i < 3; ++i) {
    EXPECT_EQ(i + 1, entries[i].id);
    EXPECT_FALSE(Program().Bytes(MAKEINTRESOURCEW(3), MAKEINTRESOURCEW(i + 1)).empty());
  }
  EXPECT_NE(nullptr, LoadIconW(Program().get(), MAKEINTRESOURCEW(IDR_MAINFRAME)));
}

TEST(PropertiesResourcesTest, VersionBlock) {
  std::wstring path = Wide(WinePath(KESTRIN_PROPERTIES_EXE));
  DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
  ASSERT_NE(0u, size);
  std::vector<char> block(size);
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(MAKELONG(1, 3), fixed->dwFileVersionMS);
  EXPECT_EQ(MAKELONG(22, 0), fixed->dwFileVersionLS);
  EXPECT_EQ(fixed->dwFileVersionMS, fixed->dwProductVersionMS);
  EXPECT_EQ(fixed->dwFileVersionLS, fixed->dwProductVersionLS);
  EXPECT_EQ(static_cast<DWORD>(VFT_APP), fixed->dwFileType);
  EXPECT_EQ(4u, fixed->dwFileOS);
  struct Text {
    const wchar_t* name;
    const wchar_t* value;
  };
  const Text texts[] = {{L"FileDescription", L"Properties dialog box for Kestrin 3D mice"},
                        {L"InternalName", L"KestrinProperties.exe"},
                        {L"OriginalFilename", L"KestrinProperties.exe"},
                        {L"FileVersion", L"3.1.0.22"}};
  for (const Text& t : texts) {
    wchar_t* value = nullptr;
    std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + t.name;
    ASSERT_TRUE(VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value),
                               &length)) << query.size();
    EXPECT_EQ(std::wstring(t.value), value);
  }
}

TEST(PropertiesResourcesTest, TaskLinksNameTheTaskAndItsCategory) {
  std::string xml = Program().Bytes(L"TASKLINKS", MAKEINTRESOURCEW(IDR_TASKLINKS));
  ASSERT_FALSE(xml.empty());
  for (const char* part :
       {"xmlns=\"http://schemas.microsoft.com/windows/cpltasks/v1\"",
        "xmlns:sh=\"http://schemas.microsoft.com/windows/tasks/v1\"",
        "<sh:name>Configure the Kestrin 3D mouse settings</sh:name>",
        "<sh:keywords>kestrin;3D mouse</sh:keywords>",
        "<sh:command>%ProgramFiles%\\Pellmor Vastine\\Kestrin\\Kestrin.exe</sh:command>",
        "<category id=\"2\">"})
    EXPECT_NE(std::string::npos, xml.find(part)) << part;
  // The category refers to the task by the task's own GUID.
  size_t task = xml.find("<sh:task id=\"");
  ASSERT_NE(std::string::npos, task);
  std::string guid = xml.substr(task + 13, 38);
  EXPECT_NE(std::string::npos, xml.find("<sh:task idref=\"" + guid + "\"/>")) << guid;
  size_t application = xml.find("<application id=\"");
  ASSERT_NE(std::string::npos, application);
  EXPECT_NE(guid, xml.substr(application + 17, 38)) << "the application has a GUID of its own";
}

// ---- the German templates beside the English ones ----

struct Control {
  int id;
  std::wstring className;
  LONG style;
  RECT rect;
};

INT_PTR CALLBACK NoProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

BOOL CALLBACK Collect(HWND window, LPARAM p) {
  auto* controls = reinterpret_cast<std::vector<Control>*>(p);
  Control c;
  c.id = GetDlgCtrlID(window);
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  c.className = name;
  c.style = GetWindowLongW(window, GWL_STYLE);
  GetWindowRect(window, &c.rect);
  controls->push_back(c);
  return TRUE;
}

// The controls of a template, made hidden from that module.
std::vector<Control> ControlsOf(HMODULE module, UINT id) {
  std::vector<Control> controls;
  HWND dialog = CreateDialogParamW(module, MAKEINTRESOURCEW(id), nullptr, &NoProc, 0);
  if (!dialog) return controls;
  RECT frame;
  GetWindowRect(dialog, &frame);
  EnumChildWindows(dialog, &Collect, reinterpret_cast<LPARAM>(&controls));
  for (Control& c : controls) OffsetRect(&c.rect, -frame.left, -frame.top);
  DestroyWindow(dialog);
  return controls;
}

TEST(PropertiesResourcesTest, TheGermanTemplatesHoldEveryControlOfTheEnglishOnes) {
  INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_WIN95_CLASSES};
  InitCommonControlsEx(&icc);
  HMODULE english = LoadLibraryW(Wide(WinePath(KESTRIN_PROPERTIES_EXE)).c_str());
  HMODULE german = LoadLibraryW(Wide(WinePath(KESTRIN_PROPERTIES_DEU_DLL)).c_str());
  ASSERT_NE(nullptr, english);
  ASSERT_NE(nullptr, german);
  for (UINT id : {IDD_ABOUTBOX, IDD_KESTRINPROPERTIES_DIALOG}) {
    SCOPED_TRACE(id);
    std::vector<Control> en = ControlsOf(english, id), de = ControlsOf(german, id);
    ASSERT_FALSE(en.empty());
    ASSERT_EQ(en.size(), de.size());
    for (size_t i = 0; i < en.size(); ++i) {
      if (en[i].id == -1 || en[i].id == 0xFFFF) continue;  // labels may move with their text
      EXPECT_EQ(en[i].id, de[i].id);
      EXPECT_EQ(en[i].className, de[i].className) << en[i].id;
      EXPECT_EQ(en[i].style, de[i].style) << en[i].id;
      EXPECT_TRUE(EqualRect(&en[i].rect, &de[i].rect)) << en[i].id;
    }
  }
  // The strings, translated.
  wchar_t text[64] = {};
  EXPECT_GT(LoadStringW(german, IDS_ABOUTBOX, text, 64), 0);
  EXPECT_GT(LoadStringW(german, IDS_COLUMN_SERIAL, text, 64), 0);
}

}  // namespace
