// The service shell: the service entry that the dispatcher calls, start-up
// and shutdown of the other parts in their order, the control handler and the
// broadcast that the service runs. Everything but the control handler runs on the
// service thread.
#include <windows.h>
#include <dbt.h>
// MinGW's hidsdi.h declares the HID calls without C linkage.
extern "C" {
#include <hidsdi.h>
}

#include "pipe_protocol.h"
#include "reporting.h"
#include "resource.h"
#include "service_private.h"
#include "wait_loop.h"

const char kServiceName[] = "Kestrin";

HANDLE WakeEvent;  // null is the one "absent" value
volatile uint32_t StopFlag;
SERVICE_STATUS_HANDLE StatusHandle;
char* ModulePath;
char* DisplayName;
uint32_t VerboseFlag;
SERVICE_STATUS ServiceStatus;
HDEVNOTIFY DeviceNotification;

namespace {

constexpr DWORD kModulePathChars = 1024;

void ReportStatus() {
  // A failure is reported by the wrapper; there is nothing else to do about it.
  SetServiceStatusChecked(StatusHandle, &ServiceStatus);
}

void RegisterForHidArrivals() {
  DEV_BROADCAST_DEVICEINTERFACE_A filter = {};
  filter.dbcc_size = sizeof filter;  // 32 bytes, the name left empty
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  HidD_GetHidGuid(&filter.dbcc_classguid);
  DeviceNotification = RegisterDeviceNotificationA(StatusHandle, &filter,
                                                   DEVICE_NOTIFY_SERVICE_HANDLE);
  // Without it the service never hears of arrivals, but runs on.
  if (!DeviceNotification) ReportCallFailure(CallRegisterDeviceNotification, GetLastError());
}

}  // namespace

int StoreModulePath() {
  char path[kModulePathChars];
  DWORD length = GetModuleFileNameA(nullptr, path, kModulePathChars);
  if (length == 0) {
    ReportCallFailure(CallGetModuleFileName, GetLastError());
    path[0] = '\0';
  } else if (length >= kModulePathChars) {
    // A truncated path would install a service that names a program which is
    // not there; store nothing instead so that the install fails clearly.
    ReportCallFailure(CallGetModuleFileName, ERROR_INSUFFICIENT_BUFFER);
    length = 0;
    path[0] = '\0';
  }
  char* copy = static_cast<char*>(MallocChecked(length + 1));
  if (!copy) return 0;
  memcpy(copy, path, length + 1);
  ModulePath = copy;
  return length ? 1 : 0;
}

void InitService() {
  RegisterForHidArrivals();

  ServiceStatus.dwServiceType = SERVICE_WIN32;
  ServiceStatus.dwCurrentState = SERVICE_START_PENDING;  // not reported
  ServiceStatus.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PARAMCHANGE;
  ServiceStatus.dwWin32ExitCode = 0;
  ServiceStatus.dwServiceSpecificExitCode = 0;
  ServiceStatus.dwCheckPoint = 0;
  ServiceStatus.dwWaitHint = 0;

  WakeEvent = CreateEventChecked(nullptr,  // no security
                                 TRUE,     // manual reset
                                 TRUE,     // signalled: the first pass builds the list
                                 nullptr);
  RegisterEventLogSource();
  BuildSharedMemorySecurity();
}

void ReleaseServiceResources() {
  if (WakeEvent) {
    CloseHandleChecked(WakeEvent);
    WakeEvent = nullptr;
  }
  if (DeviceNotification) {
    // Nothing to do about a failure at shutdown.
    UnregisterDeviceNotification(DeviceNotification);
    DeviceNotification = nullptr;
  }
  FreeAndClear(&DisplayName);
  FreeSystemMessageBuffer();
  FreeWaitList();
}

void ShutdownService() {
  CloseAllDevices();
  ClosePipeServer();
  UnmapSharedMemory();
  ReleaseServiceResources();
}

void BroadcastServiceStarted(WPARAM wParam, LPARAM lParam) {
  // The pipe server registers the message; should that have failed, try once
  // more here rather than broadcast message 0.
  if (!SvcElfMessage) SvcElfMessage = RegisterWindowMessageChecked(kServiceMessageName);
  if (!SvcElfMessage) return;
  DWORD recipients = BSM_ALLDESKTOPS | BSM_APPLICATIONS;
  BroadcastMessageChecked(BSF_IGNORECURRENTTASK | BSF_POSTMESSAGE, &recipients, SvcElfMessage,
                          wParam, lParam);
}

void WINAPI ServiceMain(DWORD, LPSTR*) {
  StatusHandle = RegisterServiceCtrlHandlerExA(kServiceName, ServiceControlHandler, nullptr);
  if (!StatusHandle) {
    ReportCallFailure(CallRegisterServiceCtrlHandler, GetLastError());
    return;
  }
  InitService();
  // Each of these reports its own failures; the service runs on without the
  // section, the pipe or the devices that failed.
  InitSharedMemory();
  InitPipeServer();
  InitDevices();
  EnumerateDevices();

  if (!WakeEvent) {
    ServiceStatus.dwWin32ExitCode = 1;
    ServiceStatus.dwServiceSpecificExitCode = 1;
  } else {
    ServiceStatus.dwCurrentState = SERVICE_RUNNING;
    ReportStatus();
    BroadcastServiceStarted(1, 0);
    RunServiceLoop();
  }
  ShutdownService();
  ServiceStatus.dwCurrentState = SERVICE_STOPPED;
  ReportStatus();
}

DWORD WINAPI ServiceControlHandler(DWORD control, DWORD eventType, void* eventData, void*) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
      // STOP_PENDING goes out before the loop is released: once the flag and
      // the event are set the service thread may report SERVICE_STOPPED at any
      // moment, and a later STOP_PENDING would overwrite it.
      ServiceStatus.dwWin32ExitCode = 0;
      ServiceStatus.dwCurrentState = SERVICE_STOP_PENDING;
      ReportStatus();
      StopFlag = 1;
      SetEvent(WakeEvent);  // a missing event fails harmlessly: the loop is not running
      break;
    case SERVICE_CONTROL_CONTINUE:
      ServiceStatus.dwCurrentState = SERVICE_RUNNING;
      ReportStatus();
      break;
    case SERVICE_CONTROL_INTERROGATE:
      ReportStatus();
      break;
    case SERVICE_CONTROL_DEVICEEVENT:
      OnDeviceArrival(eventType, eventData);
      ReportStatus();
      break;
    default:
      DebugPrintMessage(IDS_UNRECOGNIZED_OPCODE, control);
      ReportStatus();
      break;
  }
  return NO_ERROR;
}
