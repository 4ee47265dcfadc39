// A German user opens the "Kestrin Controllers" item of the installed suite
// from the Control Panel (control_panel_user.sh installs the suite with
// scripts/install_suite.sh and runs this program with LC_ALL=de_DE.UTF-8).
// The Control Panel starts Kestrin.exe, the properties program, in its own
// current folder, where no language library lies: the dialog is German all
// the same, from the library installed beside the program.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "process_runner.h"
#include "running_properties.h"
#include "scratch_folder.h"

namespace props {
namespace {

// The program-files folder of this architecture + the installed Kestrin.exe
// and Kestrin.cpl, as install_suite.sh puts them.
std::string InstallFolder() {
  char folder[MAX_PATH] = {};
  GetEnvironmentVariableA("ProgramFiles", folder, MAX_PATH);
  return std::string(folder) + "\\Pellmor Vastine\\Kestrin";
}

// The visible dialog of a process whose program is path, or null.
HWND DialogOfProgram(const std::string& path, DWORD* pid) {
  struct Search {
    std::string path;
    HWND found;
    DWORD pid;
    static BOOL CALLBACK Each(HWND window, LPARAM p) {
      auto* s = reinterpret_cast<Search*>(p);
      if (!IsWindowVisible(window) || !GetDlgItem(window, IDC_PAN)) return TRUE;
      DWORD owner = 0;
      GetWindowThreadProcessId(window, &owner);
      HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, owner);
      if (!process) return TRUE;
      char image[MAX_PATH] = {};
      DWORD size = MAX_PATH;
      bool same = QueryFullProcessImageNameA(process, 0, image, &size) &&
                  lstrcmpiA(image, s->path.c_str()) == 0;
      CloseHandle(process);
      if (!same) return TRUE;
      s->found = window;
      s->pid = owner;
      return FALSE;
    }
  } search = {path, nullptr, 0};
  EnumWindows(&Search::Each, reinterpret_cast<LPARAM>(&search));
  *pid = search.pid;
  return search.found;
}

TEST(PropertiesFromTheControlPanel, AGermanUserGetsTheGermanDialog) {
  if (GetUserDefaultLangID() != 0x0407)
    GTEST_SKIP() << "left out: the German user's dialog from the Control Panel; Wine runs this "
                    "user with language 0x"
                 << std::hex << GetUserDefaultLangID()
                 << ", not German (0x407): is the de_DE.UTF-8 locale missing?";
  const std::string folder = InstallFolder();
  const std::string program = folder + "\\Kestrin.exe";
  ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((folder + "\\Kestrin.cpl").c_str()))
      << "the suite is installed (control_panel_user.sh)";
  ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((folder + "\\KestrinDEU.dll").c_str()))
      << "the German library is installed beside Kestrin.exe";

  // The Control Panel opens the item as for a user's double click, from a
  // folder of its own; it ends once the item has started the program.
  const ScratchFolder panelFolder("kestrin-props-panel");
  char system[MAX_PATH] = {};
  GetSystemDirectoryA(system, MAX_PATH);
  RunResult panel = RunProgram("\"" + std::string(system) + "\\control.exe\" \"" + folder +
                                   "\\Kestrin.cpl\"",
                               30000, panelFolder.path().c_str());
  ASSERT_TRUE(panel.started && !panel.timedOut) << panel.output;

  DWORD pid = 0;
  HWND dialog = nullptr;
  ASSERT_TRUE(PumpUntil([&] { return (dialog = DialogOfProgram(program, &pid)) != nullptr; },
                        20000))
      << "no dialog of " << program;
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
  ExpectGermanDialog(dialog);
  Click(dialog, IDCANCEL);
  EXPECT_TRUE(PumpUntil([&] { return !process || WaitForSingleObject(process, 0) == WAIT_OBJECT_0; },
                        20000));
  if (process) CloseHandle(process);
}

}  // namespace
}  // namespace props
