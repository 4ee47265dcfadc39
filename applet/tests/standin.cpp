#include "standin.h"

#include <shlobj.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "process_runner.h"

namespace {

std::string RecordPath() { return InstallFolder() + "\\started.txt"; }

}  // namespace

// Taken once: a test may point the system's program-files folder elsewhere
// for a while, and the stand-in stays where it was installed.
std::string InstallFolder() {
  static const std::string installed = [] {
    char folder[MAX_PATH] = {};
    if (SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, folder) != S_OK)
      return std::string();
    return std::string(folder) + "\\Pellmor Vastine\\Kestrin";
  }();
  return installed;
}

std::string InstalledProgramPath() { return InstallFolder() + "\\Kestrin.exe"; }

bool InstallStandIn() {
  const std::string folder = InstallFolder();
  if (folder.empty()) return false;
  int made = SHCreateDirectoryExA(nullptr, folder.c_str(), nullptr);
  if (made != ERROR_SUCCESS && made != ERROR_ALREADY_EXISTS && made != ERROR_FILE_EXISTS)
    return false;
  DeleteFileA(RecordPath().c_str());
  return CopyFileA(WinePath(KESTRIN_STANDIN_EXE).c_str(), InstalledProgramPath().c_str(), FALSE);
}

void RemoveStandIn() {
  DeleteFileA(InstalledProgramPath().c_str());
  DeleteFileA(RecordPath().c_str());
}

std::vector<StandInStart> RecordedStarts() {
  std::vector<StandInStart> starts;
  std::ifstream record(RecordPath());
  std::string line;
  while (std::getline(record, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // args=N show=N cwd=<folder> cmdline=<line>; the folder may hold blanks.
    const size_t cwd = line.find(" cwd="), cmd = line.find(" cmdline=");
    if (line.rfind("args=", 0) != 0 || cwd == std::string::npos || cmd == std::string::npos) continue;
    StandInStart start = {};
    std::istringstream numbers(line.substr(0, cwd));
    std::string args, show;
    numbers >> args >> show;
    start.args = std::stoi(args.substr(5));
    start.show = std::stoi(show.substr(5));
    start.cwd = line.substr(cwd + 5, cmd - cwd - 5);
    start.commandLine = line.substr(cmd + 9);
    starts.push_back(start);
  }
  return starts;
}

std::vector<StandInStart> WaitForStarts(DWORD timeoutMs, DWORD quietMs) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  while (RecordedStarts().empty() && GetTickCount64() < end) Sleep(20);
  Sleep(quietMs);
  return RecordedStarts();
}

void ExpectOneStartLikeTheApplet(const std::vector<StandInStart>& starts, const std::string& cwd) {
  ASSERT_EQ(1u, starts.size());
  EXPECT_EQ(0, starts[0].args) << starts[0].commandLine;
  EXPECT_EQ(SW_SHOW, starts[0].show);
  EXPECT_EQ(0, lstrcmpiA(cwd.c_str(), starts[0].cwd.c_str())) << starts[0].cwd;
}

std::string MakeScratchFolder() {
  char temp[MAX_PATH] = {};
  GetTempPathA(sizeof temp, temp);
  std::string folder =
      std::string(temp) + "kestrin-applet-" + std::to_string(GetCurrentProcessId()) + "-" +
      std::to_string(GetTickCount64());
  CreateDirectoryA(folder.c_str(), nullptr);
  return folder;
}

void RemoveScratchFolder(const std::string& folder) { RemoveDirectoryA(folder.c_str()); }
