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
// Held by the session's agent from its start to its exit.
constexpr char kInstanceMutex[] = "Local\\KestrinElfInstance";
constexpr DWORD kInstallBufferBytes = 260;
// Room for the tail and its terminator behind the variable's value.
constexpr DWORD kProgramFilesChars = kInstallBufferBytes - sizeof kInstallTail;

const ManagerOperations kOperations = {
    OnServiceNotify, ApplyLogFactors, ApplyFlags, SendAutoZero, GetDeviceForClient,
    FindUnassignedDevice,
};

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
  // manager window) both look before either has made its window: the
  // session's mutex lets the first one go on. The handle is kept until the
  // process ends. Without the mutex the window alone decides, as before.
  HANDLE instance_mutex = CreateMutexA(nullptr, FALSE, kInstanceMutex);
  if (instance_mutex && GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(instance_mutex);
    return 1;  // another agent is starting in this session
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
  ClosePipeAndEvents();
  return 0;
}
