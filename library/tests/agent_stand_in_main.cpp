// Stands in for the installed session agent in the connection tests: each
// start appends its command line, in brackets, as one line of starts.log
// beside the program, then exits. KESTRIN_STAND_IN_TIMES="BEFORE AFTER" in
// its environment makes it sleep BEFORE ms before it writes and AFTER ms after
// (a stand-in that outlives the test, or starts its work after the test ended).
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main() {
  char times[32];
  unsigned long before = 0, after = 0;
  const DWORD n = GetEnvironmentVariableA("KESTRIN_STAND_IN_TIMES", times, sizeof times);
  if (n > 0 && n < sizeof times) {
    char* end = nullptr;
    before = strtoul(times, &end, 10);
    after = strtoul(end, nullptr, 10);
  }
  Sleep(before);
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  if (!length || length >= sizeof path) return 2;
  char* slash = strrchr(path, '\\');
  if (!slash) return 2;
  strcpy(slash + 1, "starts.log");
  FILE* log = fopen(path, "ab");
  if (!log) return 3;
  fprintf(log, "[%s]\n", GetCommandLineA());
  fclose(log);
  Sleep(after);
  return 0;
}
