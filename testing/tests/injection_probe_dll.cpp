// KestrinInjectionProbe.dll: what the injection tests load. It appends to
// "<this DLL's path>.<process id>.txt" the thread that loaded it
// ("loaded-on TID", from DllMain) and the thread its set-up ran on
// ("set-up-on TID"). With KESTRIN_PROBE_SET_UP=fail in the process's
// environment its set-up reports failure.
#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "injection.h"

namespace {

char g_Path[MAX_PATH + 32];

void Note(const char* what) {
  HANDLE file = CreateFileA(g_Path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  char line[64];
  const int n = snprintf(line, sizeof line, "%s %lu\n", what, GetCurrentThreadId());
  DWORD written = 0;
  WriteFile(file, line, static_cast<DWORD>(n), &written, nullptr);
  CloseHandle(file);
}

bool SetUp() {
  Note("set-up-on");
  char value[16];
  const DWORD n = GetEnvironmentVariableA("KESTRIN_PROBE_SET_UP", value, sizeof value);
  return !(n == 4 && strcmp(value, "fail") == 0);
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK KestrinInjectedHook(int code, WPARAM wParam,
                                                                      LPARAM lParam) {
  return RunInjectedSetUp(code, wParam, lParam, &SetUp);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  char path[MAX_PATH];
  if (!GetModuleFileNameA(instance, path, sizeof path)) return FALSE;
  snprintf(g_Path, sizeof g_Path, "%s.%lu.txt", path, GetCurrentProcessId());
  Note("loaded-on");
  return TRUE;
}
