// The service's entries in the Application event log: the source "Kestrin",
// whose message file is the service program itself (its message table holds
// the event texts).
#include <windows.h>
#include <string.h>

#include "reporting.h"
#include "service_private.h"

namespace {

const char kEventSource[] = "Kestrin";
const char kApplicationLogKey[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application";
constexpr DWORD kTypesSupported =
    EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;  // 7

}  // namespace

void RegisterEventLogSource() {
  HKEY application = nullptr;
  if (RegOpenKeyChecked(HKEY_LOCAL_MACHINE, kApplicationLogKey, 0, KEY_ALL_ACCESS,
                        &application) != ERROR_SUCCESS)
    return;
  HKEY source = nullptr;
  char noClass[] = "";
  LSTATUS created = RegCreateKeyChecked(application, kEventSource, 0, noClass,
                                        REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                        nullptr,   // default security
                                        &source,
                                        nullptr);  // created or opened: written either way
  RegCloseKeyChecked(application);
  if (created != ERROR_SUCCESS) return;

  // Written at every start, so a moved program stays its own message file.
  // Without a known path of our own there is nothing true to write.
  if (ModulePath && ModulePath[0])
    RegSetValueChecked(source, "EventMessageFile", 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(ModulePath),
                       static_cast<DWORD>(strlen(ModulePath) + 1));  // with the terminator
  DWORD types = kTypesSupported;
  RegSetValueChecked(source, "TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types),
                     sizeof types);
  RegCloseKeyChecked(source);
}

void ReportEventLog(uint16_t type, uint32_t eventId, const char** strings) {
  // The source is opened and closed around each event: no handle stays open
  // between events.
  HANDLE source = RegisterEventSourceA(nullptr, kEventSource);
  if (!source) {
    ReportCallFailure(CallRegisterEventSource, GetLastError());
    return;
  }
  if (!ReportEventA(source, type, 0,  // no category
                    eventId, nullptr,  // no user SID
                    static_cast<WORD>(strings ? 1 : 0), 0, strings, nullptr))
    ReportCallFailure(CallReportEvent, GetLastError());
  // Nothing is left to do when the close fails: the event is written.
  DeregisterEventSource(source);
}
