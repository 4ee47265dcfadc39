// KestrinEventSpy.dll: loaded into a running service by a test, it makes the
// service's events visible where Wine's event log keeps nothing. It hooks
// ReportEventA in the program's import table and appends one line per event
// to "<this DLL's path>.<process id>.log": the event id in hex, the string
// count, then each string after a '|'. The event still goes to the system.
#include <windows.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "import_hook.h"

namespace {

char g_LogPath[MAX_PATH + 32];
ImportHook* g_Hook;  // kept for the life of the process: the DLL is never unloaded
// The ReportEventA the table named, stored before the table is switched: the
// service may report an event on its own thread while the hook goes in.
BOOL(WINAPI* g_RealReportEvent)(HANDLE, WORD, WORD, DWORD, PSID, WORD, DWORD, LPCSTR*, LPVOID);

void Append(const std::string& line) {
  HANDLE log = CreateFileA(g_LogPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_ALWAYS, 0, nullptr);
  if (log == INVALID_HANDLE_VALUE) return;  // the event is not seen; nothing else to do
  DWORD written = 0;
  WriteFile(log, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(log);
}

BOOL WINAPI SpyReportEvent(HANDLE source, WORD type, WORD category, DWORD id, PSID sid,
                           WORD count, DWORD dataSize, LPCSTR* strings, LPVOID data) {
  char head[64];
  snprintf(head, sizeof head, "%08lx %u", static_cast<unsigned long>(id), count);
  std::string line = head;
  for (WORD i = 0; i < count && strings; ++i) line += std::string("|") + strings[i];
  Append(line + "\n");
  return g_RealReportEvent(source, type, category, id, sid, count, dataSize, strings, data);
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  char path[MAX_PATH];
  if (!GetModuleFileNameA(instance, path, sizeof path)) return FALSE;
  snprintf(g_LogPath, sizeof g_LogPath, "%s.%lu.log", path, GetCurrentProcessId());
  g_Hook = new ImportHook(GetModuleHandleA(nullptr), "advapi32.dll", "ReportEventA",
                          reinterpret_cast<void*>(&SpyReportEvent),
                          reinterpret_cast<void**>(&g_RealReportEvent));
  return g_Hook->installed();
}
