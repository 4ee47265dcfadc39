#include "injection.h"

#include <stdio.h>

namespace {

enum Outcome { kLoaded, kFailed };

std::wstring EventName(DWORD processId, Outcome outcome) {
  wchar_t name[64];
  swprintf(name, sizeof name / sizeof name[0], L"KestrinInjection%ls-%lu",
           outcome == kLoaded ? L"Loaded" : L"Failed", static_cast<unsigned long>(processId));
  return name;
}

std::string Describe(const char* what, DWORD code) {
  char text[160];
  snprintf(text, sizeof text, "%s (error %lu)", what, static_cast<unsigned long>(code));
  return text;
}

void SetOutcome(Outcome outcome) {
  HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE,
                            EventName(GetCurrentProcessId(), outcome).c_str());
  if (!event) return;  // loaded by something other than the injector: nobody waits
  SetEvent(event);
  CloseHandle(event);
}

}  // namespace

std::wstring InjectionLoadedEventName(DWORD processId) { return EventName(processId, kLoaded); }

LRESULT RunInjectedSetUp(int code, WPARAM wParam, LPARAM lParam, bool (*setUp)()) {
  static LONG started = 0;
  if (InterlockedExchange(&started, 1) == 0) {
    // The system loaded this DLL for the hook and may unload it when the hook
    // goes; what the set-up installs must stay.
    HMODULE self = nullptr;
    const bool pinned =
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                           reinterpret_cast<LPCWSTR>(setUp), &self) != FALSE;
    SetOutcome(pinned && setUp() ? kLoaded : kFailed);
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

bool InjectIntoWindowThread(HWND window, const std::wstring& dll, DWORD timeoutMs,
                            std::string* error) {
  DWORD processId = 0;
  const DWORD threadId = GetWindowThreadProcessId(window, &processId);
  if (!threadId) {
    *error = Describe("the window is gone", GetLastError());
    return false;
  }
  HANDLE events[2] = {CreateEventW(nullptr, TRUE, FALSE, EventName(processId, kLoaded).c_str()),
                      CreateEventW(nullptr, TRUE, FALSE, EventName(processId, kFailed).c_str())};
  bool loaded = false;
  // Cleared before the hook goes in (events another injector left set), never
  // after: a thread that takes a message at once sets up and reports while
  // SetWindowsHookExW returns, and only once.
  for (HANDLE event : events)
    if (event) ResetEvent(event);
  // Loaded here only for the hook's address: nothing of it runs in this process.
  HMODULE module = LoadLibraryExW(dll.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
  auto hookProc = module ? reinterpret_cast<HOOKPROC>(GetProcAddress(module, kInjectedHookName))
                         : nullptr;
  HHOOK hook = hookProc && events[0] && events[1]
                   ? SetWindowsHookExW(WH_GETMESSAGE, hookProc, module, threadId)
                   : nullptr;
  if (!events[0] || !events[1]) {
    *error = Describe("cannot create the injection's events", GetLastError());
  } else if (!module) {
    *error = Describe("cannot load the DLL", GetLastError());
  } else if (!hookProc) {
    *error = std::string("the DLL exports no ") + kInjectedHookName;
  } else if (!hook) {
    *error = Describe("SetWindowsHookExW failed", GetLastError());
  } else {
    // The hook runs when the thread takes a message from its queue; a thread
    // busy elsewhere takes this one when it comes back, and a lost post is
    // made again.
    DWORD result = WAIT_TIMEOUT;
    for (DWORD waited = 0; result == WAIT_TIMEOUT && waited < timeoutMs; waited += 250) {
      PostMessageW(window, WM_NULL, 0, 0);
      const DWORD step = timeoutMs - waited < 250 ? timeoutMs - waited : 250;
      result = WaitForMultipleObjects(2, events, FALSE, step);
    }
    if (result == WAIT_OBJECT_0) {
      loaded = true;
    } else if (result == WAIT_OBJECT_0 + 1) {
      *error = "the DLL loaded but its set-up failed";
    } else {
      char text[96];
      snprintf(text, sizeof text, "the DLL did not report its set-up within %lu ms",
               static_cast<unsigned long>(timeoutMs));
      *error = text;
    }
  }
  if (hook) UnhookWindowsHookEx(hook);
  if (module) FreeLibrary(module);
  for (HANDLE event : events)
    if (event) CloseHandle(event);
  return loaded;
}

bool InjectWithRemoteThread(DWORD processId, const std::wstring& dll, DWORD timeoutMs,
                            std::string* error) {
  HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, processId);
  if (!process) {
    *error = Describe("cannot open the process", GetLastError());
    return false;
  }
  bool loaded = false;
  const SIZE_T bytes = (dll.size() + 1) * sizeof(wchar_t);
  void* remote = VirtualAllocEx(process, nullptr, bytes, MEM_COMMIT, PAGE_READWRITE);
  if (!remote || !WriteProcessMemory(process, remote, dll.c_str(), bytes, nullptr)) {
    *error = Describe("cannot write the DLL's path into the process", GetLastError());
  } else {
    auto load = reinterpret_cast<LPTHREAD_START_ROUTINE>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "LoadLibraryW"));
    HANDLE thread = CreateRemoteThread(process, nullptr, 0, load, remote, 0, nullptr);
    if (!thread) {
      *error = Describe("CreateRemoteThread failed", GetLastError());
    } else {
      DWORD module = 0;
      if (WaitForSingleObject(thread, timeoutMs) != WAIT_OBJECT_0) {
        *error = "LoadLibraryW did not return in time";
        remote = nullptr;  // the thread may still read the path: left to the process
      } else if (!GetExitCodeThread(thread, &module) || module == 0) {
        *error = "LoadLibraryW failed in the process";
      } else {
        loaded = true;
      }
      CloseHandle(thread);
    }
  }
  if (remote) VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  CloseHandle(process);
  return loaded;
}
