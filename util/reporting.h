// Reporting: one debug line per event on the debugger output, "[name] text\n".
// Texts come from the program's own string table, formatted by FormatMessageA
// with 32-bit inserts ("%1" a string, "%1!ld!" a signed long, ...). A failed
// Win32 call is reported by its numeric call id and the system's error text;
// each wrapper returns the wrapped call's own result unchanged and leaves the
// thread's last error as the call set it (reporting never changes it).
#pragma once
#include <windows.h>
#include <stdint.h>
#include <stdlib.h>
#include <type_traits>

#include "checked_alloc.h"

// Call ids: the number that names a failed call in "%1() failed - %2".
enum ECallId : uint16_t {
  CallBroadcastSystemMessage = 0,
  CallCalloc = 1,
  CallCancelIo = 2,
  CallChangeServiceConfig2 = 3,
  CallCloseHandle = 4,
  CallConvertSddl = 5,
  CallConnectNamedPipe = 6,
  CallCreateEvent = 7,
  CallCreateFile = 8,
  CallCreateFileMapping = 9,
  CallCreateNamedPipe = 10,
  CallCreateService = 11,
  CallDeleteService = 12,
  CallFormatMessage = 14,
  CallGetEnvironmentVariable = 15,
  CallGetOverlappedResult = 16,
  CallGetModuleFileName = 17,
  CallHidGetAttributes = 18,
  CallHidGetSerialNumberString = 19,
  CallLoadString = 21,
  CallLockServiceDatabase = 23,
  CallMalloc = 24,
  CallMsgWaitForMultipleObjects = 25,
  CallOpenSCManager = 26,
  CallOpenService = 27,
  CallReadFile = 29,
  CallRealloc = 30,
  CallRegCreateKey = 31,
  CallRegisterDeviceNotification = 32,
  CallRegisterEventSource = 33,
  CallRegisterServiceCtrlHandler = 34,
  CallRegisterWindowMessage = 35,
  CallRegCloseKey = 36,
  CallRegOpenKey = 37,
  CallRegQueryValue = 38,
  CallRegSetValue = 39,
  CallReportEvent = 40,
  CallResetEvent = 41,
  CallSetCurrentDirectory = 42,
  CallSetServiceStatus = 43,
  CallStartService = 45,
  CallStartServiceCtrlDispatcher = 46,
  CallUnmapViewOfFile = 47,
  CallWaitForMultipleObjects = 48,
  CallWriteFile = 49,
  CallRegDeleteKey = 52,
};

// String ids of the texts the utility module itself formats.
enum : UINT {
  kMsgCallFailedService = 113,  // "%1() failed - %2" in the service's table
  kMsgCallFailedAgent = 136,    // the same text in the agent's table
};

// Program name of the debug lines; "KestrinUtl" until the program sets its own.
void SetProgramName(const char* name);
const char* GetProgramName();
// String id of "%1() failed - %2" in this program's table (default 113).
void SetCallFailureMessageId(UINT id);

// ---- wrappers: the call's own result; a failure is reported once ----
LRESULT BroadcastMessageChecked(DWORD flags, LPDWORD recipients, UINT msg, WPARAM wParam,
                                LPARAM lParam);
int CancelIoChecked(HANDLE file);
int CloseHandleChecked(HANDLE handle);
int ConvertSddlChecked(LPCSTR sddl, DWORD revision, PSECURITY_DESCRIPTOR* descriptor,
                       PULONG size);
HANDLE CreateEventChecked(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState,
                          LPCSTR name);
HANDLE CreateFileMappingChecked(HANDLE file, LPSECURITY_ATTRIBUTES security, DWORD protect,
                                DWORD sizeHigh, DWORD sizeLow, LPCSTR name);
DWORD FormatMessageChecked(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId,
                           LPSTR buffer, DWORD size, va_list* arguments);
int LoadStringChecked(HINSTANCE instance, UINT id, LPSTR buffer, int bufferMax);
LSTATUS RegCloseKeyChecked(HKEY key);
LSTATUS RegCreateKeyChecked(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR className,
                            DWORD options, REGSAM access, LPSECURITY_ATTRIBUTES security,
                            PHKEY result, LPDWORD disposition);
LSTATUS RegDeleteKeyChecked(HKEY key, LPCSTR subKey);
LSTATUS RegOpenKeyChecked(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result);
LSTATUS RegQueryValueChecked(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                             LPDWORD size);
LSTATUS RegSetValueChecked(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                           DWORD size);
UINT RegisterWindowMessageChecked(LPCSTR name);
int ResetEventChecked(HANDLE event);
int SetServiceStatusChecked(SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS status);

// ---- message routines ----
// One line "%1() failed - %2" with the call id and the system text for error.
void ReportCallFailure(uint16_t callId, uint32_t error);
// The same line naming a call that has no id in the table ("MapViewOfFile").
void ReportNamedCallFailure(const char* call, uint32_t error);
// The finished line "[name] text\n" of string id with its inserts; LocalFree it.
LPSTR FormatDebugLine(UINT id, const DWORD_PTR* inserts);
void DebugPrintMessageArray(UINT id, const DWORD_PTR* inserts);
// Character count of the formatted text (a LocalAlloc block in *out), 0 on failure.
DWORD FormatStringChecked(LPSTR* out, LPCSTR format, const DWORD_PTR* inserts);
// The system text for error, without a trailing "\r\n" and with any "%1" of
// its own left as it stands, in this thread's system-message buffer (freed by
// the next line formatted on this thread); "FormatMessage() failed!" when the
// system has no text.
LPSTR FormatSystemError(uint32_t error);
// Frees this thread's system-message buffer.
void FreeSystemMessageBuffer();
// Loads string id into a fresh heap block (*text freed first) with extra zero
// characters behind it; returns the length, 0 on failure.
int LoadStringAlloc(UINT id, LPSTR* text, int extra);
// Converts the first SDDL text, else the second; non-zero when either converted.
int SddlToSecurityDescriptor(LPCSTR first, LPCSTR second, PSECURITY_DESCRIPTOR* descriptor);
// Frees *block (a malloc-family block) when not null and clears it.
template <typename T>
inline void FreeAndClear(T** block) {
  if (*block) {
    free(*block);
    *block = nullptr;
  }
}

// Inserts are pointer-sized (DWORD_PTR), as FormatMessageA reads an argument
// array in both builds: integers widened, pointers as addresses.
template <typename T>
inline DWORD_PTR InsertValue(T value) {
  if constexpr (std::is_pointer_v<T>)
    return reinterpret_cast<DWORD_PTR>(value);
  else
    return static_cast<DWORD_PTR>(value);
}

template <typename... A>
inline DWORD FormatString(LPSTR* out, LPCSTR format, A... inserts) {
  const DWORD_PTR array[] = {InsertValue(inserts)..., 0};
  return FormatStringChecked(out, format, array);
}

template <typename... A>
inline void DebugPrintMessage(UINT id, A... inserts) {
  const DWORD_PTR array[] = {InsertValue(inserts)..., 0};
  DebugPrintMessageArray(id, array);
}
