// KestrinSvc's command line: no argument runs the service under the service
// control manager, "-i" installs and starts it, "-u" removes it; "-v" as the
// second switch makes the install print its progress.
#include <mbstring.h>
#include <windows.h>

#include "reporting.h"
#include "resource.h"
#include "service_private.h"

namespace {

// Whole-word, case-insensitive, multibyte-aware: "-I" is "-i", "-inst" is not.
bool IsSwitch(const char* argument, const char* name) {
  return _mbsicmp(reinterpret_cast<const unsigned char*>(argument),
                  reinterpret_cast<const unsigned char*>(name)) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  SetProgramName("KestrinSvc");
  StoreModulePath();
  if (!LoadStringAlloc(IDS_DISPLAY_NAME, &DisplayName, 0)) return -1;

  if (argc <= 1) {
    SERVICE_TABLE_ENTRYA table[] = {{const_cast<char*>(kServiceName), ServiceMain},
                                    {nullptr, nullptr}};
    // Returns once the service has stopped; started from a console it fails
    // at once (ERROR_FAILED_SERVICE_CONTROLLER_CONNECT).
    if (!StartServiceCtrlDispatcherA(table))
      ReportCallFailure(CallStartServiceCtrlDispatcher, GetLastError());
    FreeAndClear(&DisplayName);
    return 0;
  }

  if (argc > 2 && IsSwitch(argv[2], "-v")) VerboseFlag = 1;
  int result = -1;
  if (IsSwitch(argv[1], "-i")) {
    UninstallService();  // whatever was installed before goes first
    result = InstallService() ? 0 : -1;
  } else if (IsSwitch(argv[1], "-u")) {
    result = UninstallService() ? 0 : -1;
  }
  FreeAndClear(&DisplayName);
  return result;
}
