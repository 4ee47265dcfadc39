// KestrinTopWindow: waits for a top-level window by its title, or closes it as
// its close box would (WM_CLOSE) and waits for its program to end. For the
// demo, which shows windows of programs that the Control Panel started.
//   KestrinTopWindow wait TITLE [ms]    0 once the window exists, 1 at timeout
//   KestrinTopWindow close TITLE [ms]   0 once its program has ended, 1 when
//                                       no such window, 2 when it ran on
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

static HWND WaitForWindow(const char* title, DWORD timeoutMs) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  for (;;) {
    if (HWND window = FindWindowA(nullptr, title)) return window;
    if (GetTickCount64() >= end) return nullptr;
    Sleep(50);
  }
}

int main(int argc, char** argv) {
  if (argc < 3 || (std::strcmp(argv[1], "wait") != 0 && std::strcmp(argv[1], "close") != 0)) {
    std::fprintf(stderr, "usage: KestrinTopWindow wait|close TITLE [ms]\n");
    return 3;
  }
  const DWORD timeoutMs = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 10000;
  const bool close = std::strcmp(argv[1], "close") == 0;
  HWND window = WaitForWindow(argv[2], close ? 0 : timeoutMs);
  if (!window) {
    std::printf("no window \"%s\"\n", argv[2]);
    return 1;
  }
  if (!close) return 0;
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
  PostMessageA(window, WM_CLOSE, 0, 0);
  const bool ended = process && WaitForSingleObject(process, timeoutMs) == WAIT_OBJECT_0;
  if (process) CloseHandle(process);
  std::printf("closed \"%s\"; its program %s\n", argv[2], ended ? "ended" : "runs on");
  return ended ? 0 : 2;
}
