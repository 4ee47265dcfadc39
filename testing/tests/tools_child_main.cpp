// A child program for the tools' tests, driven by its arguments, in order:
//   out TEXT    writes TEXT and a line break to stdout
//   err TEXT    writes TEXT and a line break to stderr
//   debug TEXT  OutputDebugStringA(TEXT) exactly
//   bulk N      writes N bytes of 'x' to stdout (more than a pipe holds)
//   sleep MS    sleeps
//   exit CODE   ends with that exit code
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

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
    } else if (!strcmp(verb, "exit")) {
      return atoi(arg);
    } else {
      fprintf(stderr, "unknown verb %s\n", verb);
      return 99;
    }
  }
  return 0;
}
