// KestrinSpyInject.exe WINDOW-TITLE DLL: waits up to 20 s for a top-level
// window with that title, then has the program that owns it load the DLL on
// the window's own thread, inside its message loop (testing/injection.h), and
// waits up to 10 s for the DLL to report its set-up done.
// Exit code 0 when it loaded, 1 when not, 2 on a bad command line.
// A test tool: the demo and the tests load KestrinSwapSpy.dll with it.
#include <windows.h>
#include <stdio.h>

#include <string>

#include "injection.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: KestrinSpyInject WINDOW-TITLE DLL\n");
    return 2;
  }
  HWND window = nullptr;
  for (int waited = 0; !window && waited < 20000; waited += 100) {
    window = FindWindowW(nullptr, argv[1]);
    if (!window) Sleep(100);
  }
  if (!window) {
    fprintf(stderr, "no window titled %ls\n", argv[1]);
    return 1;
  }
  wchar_t dll[MAX_PATH];
  if (!GetFullPathNameW(argv[2], MAX_PATH, dll, nullptr)) return 2;
  std::string error;
  if (!InjectIntoWindowThread(window, dll, 10000, &error)) {
    fprintf(stderr, "%ls was not loaded: %s\n", dll, error.c_str());
    return 1;
  }
  return 0;
}
