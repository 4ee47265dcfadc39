// A stand-in for the configuration program Kestrin.exe: installed where the
// applet starts it, it records how it was started and exits. Each start
// appends one line to "started.txt" beside the program:
//   args=<arguments after the program> show=<wShowWindow, or -1 when the
//   starter gave none> cwd=<current folder> cmdline=<command line>
#include <windows.h>
#include <shellapi.h>

#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv) LocalFree(argv);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  GetStartupInfoA(&startup);
  const int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : -1;
  char cwd[MAX_PATH] = {};
  GetCurrentDirectoryA(sizeof cwd, cwd);

  std::string line = "args=" + std::to_string(argc - 1) + " show=" + std::to_string(show) +
                     " cwd=" + cwd + " cmdline=" + GetCommandLineA() + "\r\n";

  char log[MAX_PATH] = {};
  DWORD length = GetModuleFileNameA(nullptr, log, sizeof log);
  if (!length || length >= sizeof log) return 2;
  std::string path(log, length);
  path = path.substr(0, path.rfind('\\') + 1) + "started.txt";
  // One write in append mode: lines of starts that overlap never interleave.
  HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 3;
  DWORD written = 0;
  const BOOL ok = WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == line.size() ? 0 : 4;
}
