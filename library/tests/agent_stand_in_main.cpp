// Stands in for the installed session agent in the connection tests: each
// start appends its command line, in brackets, as one line of starts.log
// beside the program, then exits.
#include <windows.h>

#include <stdio.h>
#include <string.h>

int main() {
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
  return 0;
}
