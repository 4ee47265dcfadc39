// KestrinServiceStatus: what the service control manager knows of the service
// "Kestrin", for the demo and for looking by hand.
//   KestrinServiceStatus.exe             state, process, start type, program, description
//   KestrinServiceStatus.exe stop        asks it to stop and waits (10 s at most)
//   KestrinServiceStatus.exe control N   sends control code N (128-255 are user codes)
// Exit code 0; 1 when the service is not installed or a call failed; 2 on bad usage.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

namespace {

const char* StateName(DWORD state) {
  switch (state) {
    case SERVICE_STOPPED: return "STOPPED";
    case SERVICE_START_PENDING: return "START_PENDING";
    case SERVICE_STOP_PENDING: return "STOP_PENDING";
    case SERVICE_RUNNING: return "RUNNING";
    case SERVICE_CONTINUE_PENDING: return "CONTINUE_PENDING";
    case SERVICE_PAUSE_PENDING: return "PAUSE_PENDING";
    case SERVICE_PAUSED: return "PAUSED";
    default: return "?";
  }
}

const char* StartName(DWORD start) {
  switch (start) {
    case SERVICE_AUTO_START: return "automatic";
    case SERVICE_DEMAND_START: return "on demand";
    case SERVICE_DISABLED: return "disabled";
    default: return "?";
  }
}

bool QueryStatus(SC_HANDLE service, SERVICE_STATUS_PROCESS* status) {
  DWORD needed = 0;
  return QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(status),
                              sizeof *status, &needed) != 0;
}

int Show(SC_HANDLE service) {
  SERVICE_STATUS_PROCESS status = {};
  if (!QueryStatus(service, &status)) {
    printf("status: QueryServiceStatusEx failed, error %lu\n", GetLastError());
    return 1;
  }
  printf("state:       %s\n", StateName(status.dwCurrentState));
  printf("process id:  %lu\n", status.dwProcessId);
  printf("exit codes:  %lu, %lu\n", status.dwWin32ExitCode, status.dwServiceSpecificExitCode);
  printf("controls:    0x%lX\n", status.dwControlsAccepted);
  static union {
    QUERY_SERVICE_CONFIGA config;
    BYTE bytes[8192];
  } config;
  static union {
    SERVICE_DESCRIPTIONA description;
    BYTE bytes[4096];
  } description;
  DWORD needed = 0;
  if (QueryServiceConfigA(service, &config.config, sizeof config, &needed)) {
    printf("start:       %s\n", StartName(config.config.dwStartType));
    printf("own process: %s\n",
           config.config.dwServiceType & SERVICE_WIN32_OWN_PROCESS ? "yes" : "no");
    printf("program:     %s\n", config.config.lpBinaryPathName);
    printf("display:     %s\n", config.config.lpDisplayName);
  }
  if (QueryServiceConfig2A(service, SERVICE_CONFIG_DESCRIPTION, description.bytes,
                           sizeof description, &needed) &&
      description.description.lpDescription)
    printf("description: %s\n", description.description.lpDescription);
  return 0;
}

int Stop(SC_HANDLE service) {
  SERVICE_STATUS reported;
  if (!ControlService(service, SERVICE_CONTROL_STOP, &reported)) {
    printf("stop: refused, error %lu\n", GetLastError());
    return 1;
  }
  SERVICE_STATUS_PROCESS status = {};
  for (int i = 0; i < 500 && QueryStatus(service, &status); ++i) {
    if (status.dwCurrentState == SERVICE_STOPPED) {
      printf("stopped, exit code %lu\n", status.dwWin32ExitCode);
      return 0;
    }
    Sleep(20);
  }
  printf("stop: still %s\n", StateName(status.dwCurrentState));
  return 1;
}

int Control(SC_HANDLE service, DWORD code) {
  SERVICE_STATUS status;
  if (!ControlService(service, code, &status)) {
    printf("control %lu: refused, error %lu\n", code, GetLastError());
    return 1;
  }
  printf("control %lu: passed on, state %s\n", code, StateName(status.dwCurrentState));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool stop = argc == 2 && !strcmp(argv[1], "stop");
  bool control = argc == 3 && !strcmp(argv[1], "control");
  if (argc != 1 && !stop && !control) {
    fprintf(stderr, "usage: KestrinServiceStatus.exe [stop | control N]\n");
    return 2;
  }
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!manager) {
    printf("OpenSCManager failed, error %lu\n", GetLastError());
    return 1;
  }
  SC_HANDLE service = OpenServiceA(manager, "Kestrin",
                                   SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG | SERVICE_STOP |
                                       SERVICE_INTERROGATE | SERVICE_PAUSE_CONTINUE |
                                       SERVICE_USER_DEFINED_CONTROL);
  int result = 1;
  if (!service) {
    DWORD error = GetLastError();
    if (error == ERROR_SERVICE_DOES_NOT_EXIST)
      printf("service Kestrin: not installed\n");
    else
      printf("OpenService failed, error %lu\n", error);
  } else {
    result = stop      ? Stop(service)
             : control ? Control(service, strtoul(argv[2], nullptr, 10))
                       : Show(service);
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return result;
}
