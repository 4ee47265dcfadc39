#include "process_runner.h"

#include <stdio.h>

#include <atomic>
#include <vector>

std::string WinePath(const std::string& unixPath) {
  bool windows = (unixPath.size() >= 2 && unixPath[1] == ':') ||
                 (!unixPath.empty() && unixPath[0] == '\\');
  if (windows || unixPath.empty() || unixPath[0] != '/') return unixPath;
  std::string path = "Z:" + unixPath;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

HANDLE StartProgram(const std::string& commandLine, DWORD* pid) {
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info))
    return nullptr;
  CloseHandle(info.hThread);
  if (pid) *pid = info.dwProcessId;
  return info.hProcess;
}

namespace {

// The read end is overlapped so one thread can wait on the output and the
// program together; anonymous pipes cannot be.
bool MakeOutputPipe(HANDLE* readEnd, HANDLE* writeEnd) {
  static std::atomic<unsigned> counter{0};
  char name[96];
  snprintf(name, sizeof name, "\\\\.\\pipe\\KestrinRunOutput-%lu-%u", GetCurrentProcessId(),
           counter.fetch_add(1));
  *readEnd = CreateNamedPipeA(name, PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED,
                              PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0,
                              nullptr);
  if (*readEnd == INVALID_HANDLE_VALUE) return false;
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  *writeEnd = CreateFileA(name, GENERIC_WRITE, 0, &inherit, OPEN_EXISTING, 0, nullptr);
  if (*writeEnd == INVALID_HANDLE_VALUE) {
    CloseHandle(*readEnd);  // nothing else to do with it
    return false;
  }
  return true;
}

}  // namespace

RunResult RunProgram(const std::string& commandLine, DWORD timeoutMs, const char* workingDir) {
  RunResult result = {false, 0, std::string(), false, 0};
  HANDLE readEnd, writeEnd;
  if (!MakeOutputPipe(&readEnd, &writeEnd)) {
    result.output = "RunProgram: cannot make the output pipe, error " +
                    std::to_string(GetLastError());
    return result;
  }
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE input = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             OPEN_EXISTING, 0, nullptr);

  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  PROCESS_INFORMATION process = {};
  std::vector<char> command(commandLine.begin(), commandLine.end());
  command.push_back('\0');
  std::string directory = workingDir ? WinePath(workingDir) : std::string();
  result.started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                  workingDir ? directory.c_str() : nullptr, &startup, &process);
  DWORD startError = GetLastError();
  // Only the child keeps the write end: end of file comes when it (and any
  // program it passed the handle on to) has closed it.
  CloseHandle(writeEnd);
  if (input != INVALID_HANDLE_VALUE) CloseHandle(input);
  if (!result.started) {
    result.output = "RunProgram: CreateProcessA failed, error " + std::to_string(startError);
    CloseHandle(readEnd);
    return result;
  }
  result.pid = process.dwProcessId;
  CloseHandle(process.hThread);  // never used

  OVERLAPPED overlapped = {};
  overlapped.hEvent = CreateEventA(nullptr, TRUE /* manual reset */, FALSE, nullptr);
  char chunk[4096];
  bool reading = false;
  bool ended = false;
  auto issueRead = [&] {
    ResetEvent(overlapped.hEvent);
    if (ReadFile(readEnd, chunk, sizeof chunk, nullptr, &overlapped) ||
        GetLastError() == ERROR_IO_PENDING)
      return true;
    return false;  // the pipe is broken: every writer has gone
  };
  reading = issueRead();

  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  ULONGLONG graceEnd = 0;  // after exit: time left for output still in flight
  while (reading) {
    ULONGLONG now = GetTickCount64();
    ULONGLONG until = ended ? graceEnd : deadline;
    DWORD wait = until > now ? static_cast<DWORD>(until - now) : 0;
    HANDLE handles[] = {overlapped.hEvent, process.hProcess};
    DWORD got = WaitForMultipleObjects(ended ? 1 : 2, handles, FALSE, wait);
    if (got == WAIT_OBJECT_0) {
      DWORD bytes = 0;
      if (!GetOverlappedResult(readEnd, &overlapped, &bytes, FALSE)) {
        reading = false;  // end of file (ERROR_BROKEN_PIPE) or a read error
        break;
      }
      result.output.append(chunk, bytes);
      reading = issueRead();
    } else if (got == WAIT_OBJECT_0 + 1) {
      ended = true;
      graceEnd = GetTickCount64() + 2000;  // a grandchild may still hold the pipe
    } else if (got == WAIT_TIMEOUT && !ended) {
      result.timedOut = true;
      TerminateProcess(process.hProcess, 1);  // failure: it ended by itself just now
      WaitForSingleObject(process.hProcess, INFINITE);
      ended = true;
      graceEnd = GetTickCount64() + 2000;
    } else {
      break;
    }
  }
  if (reading) {
    CancelIo(readEnd);  // the read must be over before chunk goes away
    DWORD bytes = 0;
    if (GetOverlappedResult(readEnd, &overlapped, &bytes, TRUE)) result.output.append(chunk, bytes);
  }
  if (!ended) {
    // The output closed before the program ended.
    ULONGLONG now = GetTickCount64();
    DWORD wait = deadline > now ? static_cast<DWORD>(deadline - now) : 0;
    if (WaitForSingleObject(process.hProcess, wait) != WAIT_OBJECT_0) {
      result.timedOut = true;
      TerminateProcess(process.hProcess, 1);  // failure: it ended by itself just now
      WaitForSingleObject(process.hProcess, INFINITE);
    }
  }
  GetExitCodeProcess(process.hProcess, &result.exitCode);
  CloseHandle(overlapped.hEvent);
  CloseHandle(readEnd);
  CloseHandle(process.hProcess);
  return result;
}
