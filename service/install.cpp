// "-i" and "-u": creating (or finding), describing and starting the service,
// and stopping and deleting it, through the service control manager.
#include <fcntl.h>
#include <io.h>
#include <string.h>
#include <windows.h>

#include "reporting.h"
#include "resource.h"
#include "scm_calls.h"
#include "service_private.h"

const ScmCallTable SystemScmCalls = {
    OpenSCManagerA,      OpenServiceA,      CreateServiceA,       LockServiceDatabase,
    UnlockServiceDatabase, ChangeServiceConfig2A, StartServiceA, ControlService,
    DeleteService,       CloseServiceHandle, MessageBoxA,
};
const ScmCallTable* ScmCalls = &SystemScmCalls;

namespace {

// Progress lines go straight to the standard output handle, unbuffered, so
// they appear in order with anything the system writes, and byte for byte:
// "\n" stays "\n".
void Progress(const char* line) {
  if (!VerboseFlag) return;
  static bool binary;
  if (!binary) {
    binary = true;
    (void)_setmode(1, _O_BINARY);  // without a standard output there is nothing to mode
  }
  // A console that cannot be written to loses the line; the install goes on.
  (void)_write(1, line, static_cast<unsigned>(strlen(line)));
}

// The description and its marked-for-deletion case, with the database locked.
// Returns 0 when the service is marked for deletion and must not be started.
int DescribeService(SC_HANDLE manager, SC_HANDLE service) {
  SC_LOCK lock = ScmCalls->lockDatabase(manager);
  if (!lock) {
    ReportCallFailure(CallLockServiceDatabase, GetLastError());
    return 1;
  }
  int startIt = 1;
  char* description = nullptr;
  if (LoadStringAlloc(IDS_DESCRIPTION, &description, 0)) {
    SERVICE_DESCRIPTIONA info = {};
    info.lpDescription = description;
    if (!ScmCalls->changeConfig2(service, SERVICE_CONFIG_DESCRIPTION, &info)) {
      DWORD error = GetLastError();
      if (error == ERROR_SERVICE_MARKED_FOR_DELETE) {
        char* text = nullptr;
        // Without its text the box still says which service it is about.
        LoadStringAlloc(IDS_MARKED_FOR_DELETE, &text, 0);
        ScmCalls->messageBox(nullptr, text ? text : "", kServiceName, MB_OK);
        FreeAndClear(&text);
        startIt = 0;
      } else {
        ReportCallFailure(CallChangeServiceConfig2, error);
      }
    }
  }
  FreeAndClear(&description);
  // The lock is ours; failing to give it back leaves nothing we could repair.
  ScmCalls->unlockDatabase(lock);
  return startIt;
}

}  // namespace

int InstallService() {
  Progress("Open SC Manager\n");
  SC_HANDLE manager = ScmCalls->openManager(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (!manager) {
    ReportCallFailure(CallOpenSCManager, GetLastError());
    return 0;
  }
  int started = 0;
  Progress("Get Handle\n");
  SC_HANDLE service = ScmCalls->openService(manager, kServiceName, SERVICE_ALL_ACCESS);
  if (!service) {
    DWORD error = GetLastError();
    if (error != ERROR_SERVICE_DOES_NOT_EXIST) {
      ReportCallFailure(CallOpenService, error);
      goto closeManager;
    }
    Progress("Creating Service\n");
    service = ScmCalls->createService(manager, kServiceName, DisplayName, SERVICE_ALL_ACCESS,
                                      SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                      SERVICE_ERROR_NORMAL, ModulePath,
                                      nullptr,   // no load-order group
                                      nullptr,   // no tag
                                      nullptr,   // no dependencies
                                      nullptr,   // LocalSystem
                                      nullptr);  // no password
    if (!service) {
      ReportCallFailure(CallCreateService, GetLastError());
      goto closeManager;
    }
  }
  Progress("Reconfiguring\n");
  if (DescribeService(manager, service)) {
    Progress("Starting\n");
    if (ScmCalls->startService(service, 0, nullptr))
      started = 1;
    else
      ReportCallFailure(CallStartService, GetLastError());
  }
  ScmCalls->closeHandle(service);
closeManager:
  ScmCalls->closeHandle(manager);
  return started;
}

int UninstallService() {
  SC_HANDLE manager = ScmCalls->openManager(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (!manager) {
    ReportCallFailure(CallOpenSCManager, GetLastError());
    return 0;
  }
  int deleted = 0;
  SC_HANDLE service = ScmCalls->openService(manager, kServiceName, DELETE | SERVICE_STOP);
  if (!service) {
    DWORD error = GetLastError();
    if (error != ERROR_SERVICE_DOES_NOT_EXIST) ReportCallFailure(CallOpenService, error);
  } else {
    SERVICE_STATUS status;
    // A stopped service refuses the stop; either way it is deleted now, and
    // the manager removes it once it has stopped. We do not wait for that.
    ScmCalls->controlService(service, SERVICE_CONTROL_STOP, &status);
    if (ScmCalls->deleteService(service))
      deleted = 1;
    else
      ReportCallFailure(CallDeleteService, GetLastError());
    // Closed on failure too: an open handle would keep a service marked for
    // deletion alive.
    ScmCalls->closeHandle(service);
  }
  ScmCalls->closeHandle(manager);
  return deleted;
}
