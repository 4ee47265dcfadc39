// Runs a Windows program for a test: its stdout and stderr go into one pipe
// that is read while the program runs (a full pipe never blocks it), and a
// program still running at the timeout is terminated.
#pragma once
#include <windows.h>

#include <string>

struct RunResult {
  bool started;      // CreateProcessA succeeded
  DWORD exitCode;    // the program's exit code (1 after a timeout's termination)
  std::string output;  // stdout and stderr bytes, interleaved as written (a C
                       // runtime in text mode writes "\r\n")
  bool timedOut;     // still running at the timeout, terminated
  DWORD pid;         // process id, for DebugMonitor::TextsFrom
};

// commandLine: program path (quoted when it holds blanks) and arguments.
// workingDir: a Windows path or a Unix path (converted with WinePath); null
// keeps the caller's directory. Standard input is the NUL device.
RunResult RunProgram(const std::string& commandLine, DWORD timeoutMs,
                     const char* workingDir = nullptr);

// Starts a program (commandLine as for RunProgram) and returns at once: its
// process handle for the caller to wait on and close, or null when
// CreateProcessA failed. pid, when given, gets its process id. It inherits no
// handles; its output goes wherever this program's goes.
HANDLE StartProgram(const std::string& commandLine, DWORD* pid = nullptr);

// "/work/x/y.exe" -> "Z:\\work\\x\\y.exe" (Wine maps the Unix root to drive Z:).
// A path that is already a Windows path (a drive letter or a leading
// backslash) is returned unchanged.
std::string WinePath(const std::string& unixPath);
