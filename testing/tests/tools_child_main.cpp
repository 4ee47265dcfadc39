// A child program for the tools' tests, driven by its arguments, in order:
//   out TEXT    writes TEXT and a line break to stdout
//   err TEXT    writes TEXT and a line break to stderr
//   debug TEXT  OutputDebugStringA(TEXT) exactly
//   bulk N      writes N bytes of 'x' to stdout (more than a pipe holds)
//   sleep MS    sleeps
//   window MS   makes a message-only window titled "KestrinToolsChild <pid>"
//               and for MS ms takes its thread's messages, allocating and
//               freeing memory without a break between them (a thread busy
//               in the allocator, as a program painting its first frames)
//   deaf MS     makes that window, then sleeps MS ms without taking a message
//   exit CODE   ends with that exit code
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

namespace {

HWND MakeWindow() {
  char title[64];
  snprintf(title, sizeof title, "KestrinToolsChild %lu", GetCurrentProcessId());
  return CreateWindowExA(0, "STATIC", title, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                         nullptr);
}

void TakeMessagesWhileAllocating(DWORD ms) {
  const DWORD start = GetTickCount();
  unsigned size = 1;
  while (GetTickCount() - start < ms) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    for (int i = 0; i < 200; ++i) {
      size = size * 1103515245u + 12345u;
      free(malloc(16 + (size >> 16) % 8192));
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const char* verb = argv[i];
    const char* arg = argv[i + 1];
    if (!strcmp(verb, "out")) {
      printf("%s\n", arg);
      fflush(stdout);
    } else if (!strcmp(verb, "err")) {
      fprintf(stderr, "%s\n", arg);
      fflush(stderr);
    } else if (!strcmp(verb, "debug")) {
      OutputDebugStringA(arg);
    } else if (!strcmp(verb, "bulk")) {
      for (long n = strtol(arg, nullptr, 10); n > 0; --n) putchar('x');
      fflush(stdout);
    } else if (!strcmp(verb, "sleep")) {
      Sleep(strtoul(arg, nullptr, 10));
    } else if (!strcmp(verb, "window")) {
      HWND window = MakeWindow();
      if (!window) return 98;
      TakeMessagesWhileAllocating(strtoul(arg, nullptr, 10));
      DestroyWindow(window);
    } else if (!strcmp(verb, "deaf")) {
      HWND window = MakeWindow();
      if (!window) return 98;
      Sleep(strtoul(arg, nullptr, 10));
      DestroyWindow(window);
    } else if (!strcmp(verb, "exit")) {
      return atoi(arg);
    } else {
      fprintf(stderr, "unknown verb %s\n", verb);
      return 99;
    }
  }
  return 0;
}
