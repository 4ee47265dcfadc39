// The language rules of the satellite libraries: which library in the
// current directory becomes the resource handle for a program path and a
// user language. The libraries are copies of the German one under the names
// each case needs.
#include <windows.h>
#include <psapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework.h"
#include "process_runner.h"
#include "resource.h"
#include "satellite_resources.h"
#include "scratch_folder.h"

namespace {

const std::string kGermanLibrary = WinePath(KESTRIN_PROPERTIES_DEU_DLL);
const wchar_t kProgram[] = L"C:\\Program Files\\Pellmor Vastine\\Kestrin\\KestrinProperties.exe";

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// The file that a library handle maps. A resource image is not among the
// process's modules (GetModuleFileName knows nothing of it): its handle is
// its mapping's address with low bits set, and the mapping names the file.
std::wstring FileNameOf(HMODULE module) {
  wchar_t path[MAX_PATH] = {};
  void* base = reinterpret_cast<void*>(reinterpret_cast<ULONG_PTR>(module) & ~ULONG_PTR{3});
  GetMappedFileNameW(GetCurrentProcess(), base, path, MAX_PATH);
  std::wstring name = path;
  return name.substr(name.find_last_of(L'\\') + 1);
}

// A fresh folder, made the current directory, holding the named libraries.
class SatelliteFolder {
 public:
  explicit SatelliteFolder(const std::vector<std::wstring>& libraries)
      : folder_("kestrin-satellites-" + std::to_string(++count_)) {
    for (const std::wstring& name : libraries)
      CopyFileW(Wide(kGermanLibrary).c_str(), (folder_.wpath() + L"\\" + name).c_str(), FALSE);
    GetCurrentDirectoryW(MAX_PATH, saved_);
    SetCurrentDirectoryW(folder_.wpath().c_str());
  }
  // Back to the directory it was, then the folder goes.
  ~SatelliteFolder() { SetCurrentDirectoryW(saved_); }

 private:
  static int count_;
  ScratchFolder folder_;
  wchar_t saved_[MAX_PATH];
};
int SatelliteFolder::count_ = 0;

TEST(SatelliteResourcesTest, TheLibraryTheLanguageRulesChoose) {
  struct Case {
    const char* name;
    std::vector<std::wstring> present;
    LANGID language;
    const wchar_t* loaded;  // null: none, the resource handle stays
  };
  const Case cases[] = {
      {"LOC wins over the language libraries",
       {L"KestrinPropertiesLOC.dll", L"KestrinPropertiesDES.dll", L"KestrinPropertiesDEU.dll"},
       0x0807, L"KestrinPropertiesLOC.dll"},
      {"the language's own library before its fallback",
       {L"KestrinPropertiesDES.dll", L"KestrinPropertiesDEU.dll"}, 0x0807,
       L"KestrinPropertiesDES.dll"},
      {"no DES library: the fallback DEU", {L"KestrinPropertiesDEU.dll"}, 0x0807,
       L"KestrinPropertiesDEU.dll"},
      {"British English falls back to ENU", {L"KestrinPropertiesENU.dll"}, 0x0809,
       L"KestrinPropertiesENU.dll"},
      {"a language without a row loads nothing",
       {L"KestrinPropertiesDEU.dll", L"KestrinPropertiesENU.dll"}, 0x083C, nullptr},
      {"no library at all", {}, 0x0407, nullptr},
      {"another program's library does not count", {L"OtherProgramDEU.dll"}, 0x0407, nullptr},
  };
  HINSTANCE own = GetModuleHandleW(nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SatelliteFolder folder(c.present);
    AfxSetResourceHandle(own);
    HMODULE loaded = LoadSatelliteResourcesFor(kProgram, c.language);
    if (c.loaded) {
      ASSERT_NE(nullptr, loaded);
      EXPECT_EQ(c.loaded, FileNameOf(loaded));
      EXPECT_EQ(nullptr, GetModuleHandleW(c.loaded)) << "mapped as resources, not loaded as code";
      EXPECT_EQ(loaded, AfxGetResourceHandle());
      // The framework finds the library's dialogs and strings through it.
      EXPECT_EQ(loaded,
                AfxFindResourceHandle(MAKEINTRESOURCEW(IDD_KESTRINPROPERTIES_DIALOG), RT_DIALOG));
      EXPECT_EQ(L"Seriennummer", AfxLoadString(IDS_COLUMN_SERIAL));
      FreeLibrary(loaded);
    } else {
      EXPECT_EQ(nullptr, loaded);
      EXPECT_EQ(own, AfxGetResourceHandle());
    }
  }
  AfxSetResourceHandle(own);
}

}  // namespace
