// KestrinSpyInject.exe WINDOW-TITLE DLL: waits up to 20 s for a top-level
// window with that title, then loads the DLL into the process that owns it
// (a thread of the process calls LoadLibraryW on it) and waits for the load.
// Exit code 0 when it loaded, 1 when not, 2 on a bad command line.
// A test tool: the demo and the tests load KestrinSwapSpy.dll with it.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

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
  DWORD pid = 0;
  if (window) GetWindowThreadProcessId(window, &pid);
  if (!pid) {
    fprintf(stderr, "no window titled %ls\n", argv[1]);
    return 1;
  }
  wchar_t dll[MAX_PATH];
  if (!GetFullPathNameW(argv[2], MAX_PATH, dll, nullptr)) return 2;
  HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, pid);
  if (!process) {
    fprintf(stderr, "no process %lu (%lu)\n", pid, GetLastError());
    return 1;
  }
  const SIZE_T bytes = (wcslen(dll) + 1) * sizeof(wchar_t);
  bool loaded = false;
  void* remote = VirtualAllocEx(process, nullptr, bytes, MEM_COMMIT, PAGE_READWRITE);
  if (remote && WriteProcessMemory(process, remote, dll, bytes, nullptr)) {
    auto load = reinterpret_cast<LPTHREAD_START_ROUTINE>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "LoadLibraryW"));
    HANDLE thread = CreateRemoteThread(process, nullptr, 0, load, remote, 0, nullptr);
    if (thread) {
      DWORD module = 0;
      loaded = WaitForSingleObject(thread, 10000) == WAIT_OBJECT_0 &&
               GetExitCodeThread(thread, &module) && module != 0;
      CloseHandle(thread);
    }
  }
  if (remote) VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  CloseHandle(process);
  if (!loaded) fprintf(stderr, "the DLL did not load into %lu\n", pid);
  return loaded ? 0 : 1;
}
