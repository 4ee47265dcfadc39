// The language rules of the satellite libraries: which library, beside the
// program or in the current directory, becomes the resource handle for a
// program path and a user language. The libraries are copies of the German
// one under the names each case needs.
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

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// The file that a library handle maps, as its folder's name and its own
// ("kestrin-beside-1\\KestrinPropertiesDEU.dll"). A resource image is not
// among the process's modules (GetModuleFileName knows nothing of it): its
// handle is its mapping's address with low bits set, and the mapping names
// the file.
std::wstring FileNameOf(HMODULE module) {
  wchar_t path[MAX_PATH] = {};
  void* base = reinterpret_cast<void*>(reinterpret_cast<ULONG_PTR>(module) & ~ULONG_PTR{3});
  GetMappedFileNameW(GetCurrentProcess(), base, path, MAX_PATH);
  std::wstring name = path;
  size_t last = name.find_last_of(L'\\');
  if (last == std::wstring::npos || last == 0) return name;
  return name.substr(name.find_last_of(L'\\', last - 1) + 1);
}

// Two fresh folders holding the named libraries: the program's folder (the
// program itself need not be there) and another one, made the current
// directory.
class SatelliteFolders {
 public:
  SatelliteFolders(const std::vector<std::wstring>& beside,
                   const std::vector<std::wstring>& current)
      : program_("kestrin-beside-" + std::to_string(++count_)),
        current_("kestrin-satellites-" + std::to_string(count_)) {
    Fill(program_, beside);
    Fill(current_, current);
    GetCurrentDirectoryW(MAX_PATH, saved_);
    SetCurrentDirectoryW(current_.wpath().c_str());
  }
  // Back to the directory it was, then the folders go.
  ~SatelliteFolders() { SetCurrentDirectoryW(saved_); }

  std::wstring ProgramPath() const { return program_.wpath() + L"\\KestrinProperties.exe"; }
  // "kestrin-beside-N\\name" or "kestrin-satellites-N\\name".
  std::wstring Beside(const wchar_t* name) const { return Tail(program_) + name; }
  std::wstring Current(const wchar_t* name) const { return Tail(current_) + name; }

 private:
  static void Fill(const ScratchFolder& folder, const std::vector<std::wstring>& libraries) {
    for (const std::wstring& name : libraries)
      CopyFileW(Wide(kGermanLibrary).c_str(), (folder.wpath() + L"\\" + name).c_str(), FALSE);
  }
  static std::wstring Tail(const ScratchFolder& folder) {
    std::wstring path = folder.wpath();
    return path.substr(path.find_last_of(L'\\') + 1) + L"\\";
  }
  static int count_;
  ScratchFolder program_;
  ScratchFolder current_;
  wchar_t saved_[MAX_PATH];
};
int SatelliteFolders::count_ = 0;

TEST(SatelliteResourcesTest, TheLibraryTheLanguageRulesChoose) {
  enum Where { kNone, kBeside, kCurrent };
  struct Case {
    const char* name;
    std::vector<std::wstring> beside;   // in the program's folder
    std::vector<std::wstring> current;  // in the current directory
    LANGID language;
    Where where;
    const wchar_t* loaded;  // kNone: none, the resource handle stays
  };
  const Case cases[] = {
      {"LOC wins over the language libraries", {},
       {L"KestrinPropertiesLOC.dll", L"KestrinPropertiesDES.dll", L"KestrinPropertiesDEU.dll"},
       0x0807, kCurrent, L"KestrinPropertiesLOC.dll"},
      {"the language's own library before its fallback", {},
       {L"KestrinPropertiesDES.dll", L"KestrinPropertiesDEU.dll"}, 0x0807, kCurrent,
       L"KestrinPropertiesDES.dll"},
      {"no DES library: the fallback DEU", {}, {L"KestrinPropertiesDEU.dll"}, 0x0807, kCurrent,
       L"KestrinPropertiesDEU.dll"},
      {"British English falls back to ENU", {}, {L"KestrinPropertiesENU.dll"}, 0x0809, kCurrent,
       L"KestrinPropertiesENU.dll"},
      {"a language without a row loads nothing", {L"KestrinPropertiesDEU.dll"},
       {L"KestrinPropertiesDEU.dll", L"KestrinPropertiesENU.dll"}, 0x083C, kNone, nullptr},
      {"no library at all", {}, {}, 0x0407, kNone, nullptr},
      {"another program's library does not count", {L"OtherProgramDEU.dll"},
       {L"OtherProgramDEU.dll"}, 0x0407, kNone, nullptr},
      {"beside the program, started in another folder", {L"KestrinPropertiesDEU.dll"}, {}, 0x0407,
       kBeside, L"KestrinPropertiesDEU.dll"},
      {"beside the program before the same name in the current directory",
       {L"KestrinPropertiesDEU.dll"}, {L"KestrinPropertiesDEU.dll"}, 0x0407, kBeside,
       L"KestrinPropertiesDEU.dll"},
      {"LOC beside the program before LOC in the current directory",
       {L"KestrinPropertiesLOC.dll", L"KestrinPropertiesDEU.dll"}, {L"KestrinPropertiesLOC.dll"},
       0x0407, kBeside, L"KestrinPropertiesLOC.dll"},
      {"LOC in the current directory before the language's library beside the program",
       {L"KestrinPropertiesDEU.dll"}, {L"KestrinPropertiesLOC.dll"}, 0x0407, kCurrent,
       L"KestrinPropertiesLOC.dll"},
      {"the language's own library in the current directory before its fallback beside",
       {L"KestrinPropertiesDEU.dll"}, {L"KestrinPropertiesDES.dll"}, 0x0807, kCurrent,
       L"KestrinPropertiesDES.dll"},
  };
  HINSTANCE own = GetModuleHandleW(nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SatelliteFolders folders(c.beside, c.current);
    AfxSetResourceHandle(own);
    HMODULE loaded = LoadSatelliteResourcesFor(folders.ProgramPath(), c.language);
    if (c.where != kNone) {
      EXPECT_NE(nullptr, loaded);
      if (!loaded) continue;
      EXPECT_EQ(c.where == kBeside ? folders.Beside(c.loaded) : folders.Current(c.loaded),
                FileNameOf(loaded));
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
