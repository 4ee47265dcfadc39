// Starting the session agent when no manager window answers: the installed
// program under the program-files folder, with an empty command line.
#include "connection_private.h"

#include <string.h>

namespace Kestrin1 {

namespace {
constexpr char kFolderVariable[] = "ProgramFiles";
constexpr char kDefaultFolder[] = "C:\\Program Files";
constexpr char kAgentTail[] = "\\Pellmor Vastine\\Kestrin\\KestrinElf.exe";  // 39 characters
static_assert(sizeof kAgentTail == 40, "the agent's path below the folder");
}  // namespace

char* AgentProgramPath() {
  // The environment value, copied; the default folder when it cannot be read.
  char* folder = nullptr;
  DWORD length = GetEnvironmentVariableA(kFolderVariable, nullptr, 0);
  if (length) {
    folder = static_cast<char*>(LocalAlloc(LMEM_FIXED, length));
    if (folder && GetEnvironmentVariableA(kFolderVariable, folder, length) + 1 != length) {
      LocalFree(folder);
      folder = nullptr;
    }
  }
  const char* base = folder ? folder : kDefaultFolder;
  size_t baseLength = strlen(base);
  char* path = static_cast<char*>(LocalAlloc(LMEM_FIXED, baseLength + sizeof kAgentTail));
  if (!path) {
    ReportError("LocalAlloc() failed: <%ld> %s\n", GetLastError());
  } else {
    memcpy(path, base, baseLength);
    memcpy(path + baseLength, kAgentTail, sizeof kAgentTail);
  }
  if (folder) LocalFree(folder);
  return path;
}

void StartAgent() {
  char* path = AgentProgramPath();
  if (!path) return;
  char commandLine[1] = {0};
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (CreateProcessA(path, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                     &process)) {
    // Not waited for: its ManagerStarted tells when it is there.
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  } else {
    ReportError("CreateProcess() failed: <%ld> %s\n", GetLastError());
  }
  LocalFree(path);
}

}  // namespace Kestrin1
