#include "agent_install.h"

#include <shlobj.h>
#include <stdlib.h>

#include "manager_messages.h"
#include "process_runner.h"

namespace {

constexpr char kInstallTail[] = "\\Pellmor Vastine\\Kestrin";
constexpr char kAgentFile[] = "\\KestrinElf.exe";

void AddFolder(std::vector<std::string>* folders, const std::string& folder) {
  if (folder.empty()) return;
  for (const std::string& f : *folders)
    if (lstrcmpiA(f.c_str(), folder.c_str()) == 0) return;
  folders->push_back(folder);
}

std::string ShellFolder(int csidl) {
  char path[MAX_PATH] = {};
  if (SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path) != S_OK) return "";
  return path;
}

std::string Environment(const char* name) {
  char value[MAX_PATH] = {};
  DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
  return length && length < sizeof value ? value : "";
}

bool WaitForWindow(bool present, DWORD timeoutMs) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  for (;;) {
    if ((FindAgentWindow() != nullptr) == present) return true;
    if (GetTickCount64() >= end) return false;
    Sleep(10);
  }
}

// At the end of a test program that installed the agent: the agent stops and
// its copies go, so that no later program's first connection starts an agent
// that outlives it (and holds windows, the pipe's client end or ctest's
// output pipe while the next test runs).
void RemoveInstalledAgent() {
  StopAgent();
  for (const std::string& path : AgentInstallPaths()) DeleteFileA(path.c_str());
}

}  // namespace

std::vector<std::string> AgentInstallPaths() {
  std::vector<std::string> folders;
  AddFolder(&folders, ShellFolder(CSIDL_PROGRAM_FILES));     // this program's own
  AddFolder(&folders, ShellFolder(CSIDL_PROGRAM_FILESX86));  // 32-bit programs'
  AddFolder(&folders, Environment("ProgramW6432"));          // 64-bit programs'
  std::vector<std::string> paths;
  for (const std::string& folder : folders) paths.push_back(folder + kInstallTail + kAgentFile);
  return paths;
}

std::string InstalledAgentPath() {
  return ShellFolder(CSIDL_PROGRAM_FILES) + kInstallTail + kAgentFile;
}

bool InstallAgent(const std::string& builtExe) {
  if (!StopAgent()) return false;
  static const bool removedAtExit = atexit(RemoveInstalledAgent) == 0;
  (void)removedAtExit;
  const std::string source = WinePath(builtExe);
  bool all = true;
  for (const std::string& path : AgentInstallPaths()) {
    const std::string folder = path.substr(0, path.size() - (sizeof kAgentFile - 1));
    int made = SHCreateDirectoryExA(nullptr, folder.c_str(), nullptr);
    if (made != ERROR_SUCCESS && made != ERROR_ALREADY_EXISTS && made != ERROR_FILE_EXISTS) {
      all = false;
      continue;
    }
    if (!CopyFileA(source.c_str(), path.c_str(), FALSE)) all = false;
  }
  return all;
}

HWND FindAgentWindow() {
  return FindWindowExA(HWND_MESSAGE, nullptr, kestrin::manager::kManagerClass,
                       kestrin::manager::kManagerTitle);
}

DWORD RunningAgentProcess() {
  HWND window = FindAgentWindow();
  DWORD pid = 0;
  if (window) GetWindowThreadProcessId(window, &pid);
  return pid;
}

DWORD StartAgent(DWORD timeoutMs) {
  std::string path = InstalledAgentPath();
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(path.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process))
    return 0;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  if (!WaitForWindow(true, timeoutMs)) return 0;
  return process.dwProcessId;
}

bool StopAgent(DWORD timeoutMs) {
  const DWORD pid = RunningAgentProcess();
  // A manager window of this process is a test's stand-in, not an agent.
  if (!pid || pid == GetCurrentProcessId()) return true;
  HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid);
  const std::string path = InstalledAgentPath();
  if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
    RunProgram("\"" + path + "\" -k", timeoutMs);
  } else if (HWND window = FindAgentWindow()) {
    PostMessageA(window, WM_QUIT, 0, 0);  // what "-k" does
  }
  bool ended = process && WaitForSingleObject(process, timeoutMs) == WAIT_OBJECT_0;
  if (process && !ended) {
    TerminateProcess(process, 1);
    ended = WaitForSingleObject(process, timeoutMs) == WAIT_OBJECT_0;
  }
  if (process) CloseHandle(process);
  return WaitForWindow(false, ended ? 1000 : timeoutMs);
}
