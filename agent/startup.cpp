#include "startup.h"

#include <mbstring.h>
#include <string.h>

#include "agent_resource.h"
#include "manager.h"
#include "manager_messages.h"
#include "pipe_protocol.h"
#include "reporting.h"
#include "service_pipe.h"
#include "settings.h"

int QuitFlag;

namespace {

constexpr char kInstallTail[] = "\\Pellmor Vastine\\Kestrin";
// Owned by the session's agent from its start until it has shut down.
constexpr char kInstanceMutex[] = "Local\\KestrinElfInstance";
// How often a start that finds the mutex owned looks for the owner's window,
// and how long it waits for the owner to make one or to end.
constexpr DWORD kInstancePollMs = 20;
constexpr DWORD kInstanceWaitMs = 60000;
constexpr DWORD kInstallBufferBytes = 260;
// Room for the tail and its terminator behind the variable's value.
constexpr DWORD kProgramFilesChars = kInstallBufferBytes - sizeof kInstallTail;

const ManagerOperations kOperations = {
    OnServiceNotify, ApplyLogFactors, ApplyFlags, SendAutoZero, GetDeviceForClient,
    FindUnassignedDevice,
};

// The session's agent owns the mutex from its start until it has shut down,
// and has its manager window only in between: an owner without a window is
// either still starting (its window comes in a moment, and this start is not
// needed) or on its way out (its window is gone for good, and this start
// serves once it has ended). So a start that finds the mutex owned waits for
// whichever comes first. True when this process owns the mutex now; false
// when another agent serves, when the owner did neither within
// kInstanceWaitMs, or when the mutex cannot be waited on.
bool TakeSessionInstance(HANDLE mutex) {
  const DWORD start = GetTickCount();
  for (DWORD wait = 0;; wait = kInstancePollMs) {
    const DWORD result = WaitForSingleObject(mutex, wait);
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) return true;
    if (result != WAIT_TIMEOUT) return false;
    if (FindManagerWindow()) return false;
    if (GetTickCount() - start >= kInstanceWaitMs) return false;
  }
}

}  // namespace

static_assert(kProgramFilesChars == 235, "the variable gets 235 characters");

DWORD GetEnvironmentVariableChecked(LPCSTR name, LPSTR buffer, DWORD size) {
  DWORD length = GetEnvironmentVariableA(name, buffer, size);
  if (!length) ReportCallFailure(CallGetEnvironmentVariable, GetLastError());
  return length;
}

int SetCurrentDirectoryChecked(LPCSTR path) {
  if (SetCurrentDirectoryA(path)) return 1;
  ReportCallFailure(CallSetCurrentDirectory, GetLastError());
  return 0;
}

HWND FindManagerWindow() {
  return FindWindowExA(HWND_MESSAGE, nullptr, kestrin::manager::kManagerClass,
                       kestrin::manager::kManagerTitle);
}

int CommandLineHasKill(const char* commandLine) {
  if (!commandLine) return 0;
  return _mbsstr(reinterpret_cast<const unsigned char*>(commandLine),
                 reinterpret_cast<const unsigned char*>("-k")) != nullptr;
}

void SetInstallDirectory() {
  char path[kInstallBufferBytes] = {};
  // A value longer than the buffer leaves it empty (the call reports the size
  // it needs); the tail alone is the path then, as when the variable is missing.
  if (GetEnvironmentVariableChecked("ProgramFiles", path, kProgramFilesChars) >= kProgramFilesChars)
    path[0] = '\0';
  const size_t used = strlen(path);
  strncat(path, kInstallTail, sizeof path - used - 1);
  SetCurrentDirectoryChecked(path);  // the agent runs wherever it is
}

void PumpMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      QuitFlag = 1;
      return;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

void RunEventLoop() {
  HANDLE events[2] = {PipeReadEvent(), PipeWriteEvent()};
  while (!QuitFlag) {
    DWORD result =
        MsgWaitForMultipleObjectsEx(2, events, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (result == WAIT_FAILED) {
      ReportCallFailure(CallMsgWaitForMultipleObjects, GetLastError());
      // Without its events (they could not be made) the loop still serves
      // the window, waiting on the queue alone rather than spinning.
      MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
      PumpMessages();
    } else if (result == WAIT_OBJECT_0 || result == WAIT_OBJECT_0 + 1) {
      ResetEventChecked(events[result - WAIT_OBJECT_0]);
      if (result == WAIT_OBJECT_0)
        OnReadEvent();
      else
        OnWriteEvent();
    } else if (result == WAIT_OBJECT_0 + 2) {
      PumpMessages();
    }
  }
}

int AgentMain(HINSTANCE instance, const char* commandLine) {
  SetProgramName("KestrinElf");
  SetCallFailureMessageId(IDS_CALL_FAILED);

  HWND running = FindManagerWindow();
  if (CommandLineHasKill(commandLine)) {
    // Does not wait for the other agent to go.
    if (running) PostMessageA(running, WM_QUIT, 0, 0);
    return 0;
  }
  if (running) return 1;  // another agent serves this session
  // Two agents started at the same moment (two clients each finding no
  // manager window) both look before either has made its window, and a
  // client that looks while the agent shuts down finds none either: the
  // session's mutex lets one agent serve at a time. Without the mutex the
  // window alone decides, as before.
  HANDLE instance_mutex = CreateMutexA(nullptr, FALSE, kInstanceMutex);
  if (instance_mutex && !TakeSessionInstance(instance_mutex)) {
    CloseHandle(instance_mutex);
    return 1;
  }

  SetInstallDirectory();
  OpenServicePipe(OnServiceRecord);
  InitManager(instance, kServiceMessageName, &kOperations);

  uint16_t factors[4];
  LoadLogFactorsOrDefault(factors);
  SendLogFactors(1, factors);
  SendFlags(1, LoadFlagsOrDefault());

  BroadcastToClients(kestrin::manager::ManagerStarted, 0);
  if (PipeIsOpen()) DrainPipe();

  RunEventLoop();
  // The window goes first: from now on a client finds no agent and starts
  // one, which serves once this one has let the mutex go.
  DestroyWindow(ManagerWindow);
  ManagerWindow = nullptr;
  ClosePipeAndEvents();
  if (instance_mutex) ReleaseMutex(instance_mutex);
  return 0;
}
