#include "reporting.h"

#include <sddl.h>
#include <string.h>

namespace {

const char* g_ProgramName = "KestrinUtl";
UINT g_CallFailureMessageId = kMsgCallFailedService;

// The system-message buffer is per thread: the service's control handler may
// report on the dispatcher thread while the service thread reports, and each
// report frees the buffer it used.
thread_local LPSTR t_SystemMessage;
thread_local DWORD t_SystemMessageLength;

// A failing FormatMessageA inside a report is itself reported, which formats
// again. One nested report per thread is allowed, deeper ones are dropped, so a
// persistent failure cannot recurse without end.
thread_local int t_ReportDepth;
constexpr int kMaxReportDepth = 2;

const char kFormatFallback[] = "FormatMessage() failed!";

// System texts are looked up without inserts: some hold "%1" (error 193 and
// others), and FormatMessageA would read their values from the null argument
// list. Such a text is used as it stands, "%1" included.
constexpr DWORD kSystemTextFlags =
    FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;

}  // namespace

void SetProgramName(const char* name) { g_ProgramName = name; }
const char* GetProgramName() { return g_ProgramName; }
void SetCallFailureMessageId(UINT id) { g_CallFailureMessageId = id; }

// ---- wrappers ----

LRESULT BroadcastMessageChecked(DWORD flags, LPDWORD recipients, UINT msg, WPARAM wParam,
                                LPARAM lParam) {
  long result = BroadcastSystemMessageA(flags, recipients, msg, wParam, lParam);
  if (result < 0) ReportCallFailure(CallBroadcastSystemMessage, GetLastError());
  return result;
}

int CancelIoChecked(HANDLE file) {
  if (CancelIo(file)) return 1;
  ReportCallFailure(CallCancelIo, GetLastError());
  return 0;
}

int CloseHandleChecked(HANDLE handle) {
  if (CloseHandle(handle)) return 1;
  ReportCallFailure(CallCloseHandle, GetLastError());
  return 0;
}

int ConvertSddlChecked(LPCSTR sddl, DWORD revision, PSECURITY_DESCRIPTOR* descriptor,
                       PULONG size) {
  if (ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, revision, descriptor, size))
    return 1;
  ReportCallFailure(CallConvertSddl, GetLastError());
  return 0;
}

HANDLE CreateEventChecked(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState,
                          LPCSTR name) {
  HANDLE event = CreateEventA(security, manualReset, initialState, name);
  if (!event) ReportCallFailure(CallCreateEvent, GetLastError());
  return event;
}

HANDLE CreateFileMappingChecked(HANDLE file, LPSECURITY_ATTRIBUTES security, DWORD protect,
                                DWORD sizeHigh, DWORD sizeLow, LPCSTR name) {
  HANDLE mapping = CreateFileMappingA(file, security, protect, sizeHigh, sizeLow, name);
  if (!mapping) ReportCallFailure(CallCreateFileMapping, GetLastError());
  return mapping;
}

DWORD FormatMessageChecked(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId,
                           LPSTR buffer, DWORD size, va_list* arguments) {
  DWORD length = FormatMessageA(flags, source, messageId, languageId, buffer, size, arguments);
  if (!length) ReportCallFailure(CallFormatMessage, GetLastError());
  return length;
}

int LoadStringChecked(HINSTANCE instance, UINT id, LPSTR buffer, int bufferMax) {
  int length = LoadStringA(instance, id, buffer, bufferMax);
  if (!length) ReportCallFailure(CallLoadString, GetLastError());
  return length;
}

#define KESTRIN_REG_CHECKED(callId, expr)                         \
  LSTATUS status = (expr);                                        \
  if (status != ERROR_SUCCESS) ReportCallFailure(callId, static_cast<uint32_t>(status)); \
  return status

LSTATUS RegCloseKeyChecked(HKEY key) {
  KESTRIN_REG_CHECKED(CallRegCloseKey, RegCloseKey(key));
}

LSTATUS RegCreateKeyChecked(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR className,
                            DWORD options, REGSAM access, LPSECURITY_ATTRIBUTES security,
                            PHKEY result, LPDWORD disposition) {
  KESTRIN_REG_CHECKED(CallRegCreateKey, RegCreateKeyExA(key, subKey, reserved, className, options,
                                                        access, security, result, disposition));
}

LSTATUS RegDeleteKeyChecked(HKEY key, LPCSTR subKey) {
  KESTRIN_REG_CHECKED(CallRegDeleteKey, RegDeleteKeyA(key, subKey));
}

LSTATUS RegOpenKeyChecked(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result) {
  KESTRIN_REG_CHECKED(CallRegOpenKey, RegOpenKeyExA(key, subKey, options, access, result));
}

LSTATUS RegQueryValueChecked(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                             LPDWORD size) {
  KESTRIN_REG_CHECKED(CallRegQueryValue, RegQueryValueExA(key, name, reserved, type, data, size));
}

LSTATUS RegSetValueChecked(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                           DWORD size) {
  KESTRIN_REG_CHECKED(CallRegSetValue, RegSetValueExA(key, name, reserved, type, data, size));
}

#undef KESTRIN_REG_CHECKED

UINT RegisterWindowMessageChecked(LPCSTR name) {
  UINT id = RegisterWindowMessageA(name);
  if (!id) ReportCallFailure(CallRegisterWindowMessage, GetLastError());
  return id;
}

int ResetEventChecked(HANDLE event) {
  if (ResetEvent(event)) return 1;
  ReportCallFailure(CallResetEvent, GetLastError());
  return 0;
}

int SetServiceStatusChecked(SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS status) {
  if (SetServiceStatus(handle, status)) return 1;
  ReportCallFailure(CallSetServiceStatus, GetLastError());
  return 0;
}

void* CallocChecked(size_t count, size_t size) {
  void* block = calloc(count, size);
  if (!block) ReportCallFailure(CallCalloc, GetLastError());
  return block;
}

void* MallocChecked(size_t size) {
  void* block = malloc(size);
  if (!block) ReportCallFailure(CallMalloc, GetLastError());
  return block;
}

void* ReallocChecked(void* block, size_t size) {
  void* grown = realloc(block, size);
  if (!grown) ReportCallFailure(CallRealloc, GetLastError());
  return grown;
}

// ---- message routines ----

void FreeSystemMessageBuffer() {
  if (t_SystemMessage) {
    LocalFree(t_SystemMessage);
    t_SystemMessage = nullptr;
    t_SystemMessageLength = 0;
  }
}

LPSTR FormatSystemError(uint32_t error) {
  FreeSystemMessageBuffer();
  // Formatted into a local first: a nested report of a failure here uses (and
  // frees) this thread's buffer on its own.
  LPSTR text = nullptr;
  DWORD length = FormatMessageChecked(kSystemTextFlags, nullptr, error, 0x400,
                                      reinterpret_cast<LPSTR>(&text), 0, nullptr);
  if (!length) {
    if (text) LocalFree(text);
    text = static_cast<LPSTR>(LocalAlloc(LMEM_FIXED, sizeof kFormatFallback));
    if (!text) return nullptr;
    memcpy(text, kFormatFallback, sizeof kFormatFallback);
    length = sizeof kFormatFallback;
  }
  FreeSystemMessageBuffer();
  if (length >= 2 && text[length - 2] == '\r' && text[length - 1] == '\n') {
    length -= 2;
    text[length] = '\0';
  }
  t_SystemMessage = text;
  t_SystemMessageLength = length;
  return text;
}

DWORD FormatStringChecked(LPSTR* out, LPCSTR format, const DWORD_PTR* inserts) {
  *out = nullptr;
  DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ARGUMENT_ARRAY,
      format, 0, 0x400, reinterpret_cast<LPSTR>(out), 1,
      reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(inserts)));
  if (length) return length;
  DWORD error = GetLastError();
  *out = nullptr;
  LPSTR text = nullptr;
  if (FormatMessageChecked(kSystemTextFlags, nullptr, error, 0x400, reinterpret_cast<LPSTR>(&text),
                           0, nullptr)) {
    OutputDebugStringA(text);
  }
  if (text) LocalFree(text);
  return 0;
}

int LoadStringAlloc(UINT id, LPSTR* text, int extra) {
  FreeAndClear(text);
  char buffer[1024];
  int length = LoadStringChecked(nullptr, id, buffer, sizeof buffer);
  if (!length) return 0;
  LPSTR copy = static_cast<LPSTR>(CallocChecked(static_cast<size_t>(extra) + length + 1, 1));
  if (!copy) return 0;
  memcpy(copy, buffer, static_cast<size_t>(length) + 1);
  *text = copy;
  return length;
}

LPSTR FormatDebugLine(UINT id, const DWORD_PTR* inserts) {
  LPSTR text = nullptr;
  int length = LoadStringAlloc(id, &text, 2);
  if (!length) return nullptr;
  // "%0" ends the message exactly where the text ends (no line break added).
  text[length] = '%';
  text[length + 1] = '0';
  LPSTR message = nullptr;
  DWORD ok = FormatStringChecked(&message, text, inserts);
  free(text);
  if (!ok) return nullptr;
  LPSTR line = nullptr;
  const DWORD_PTR lineInserts[] = {reinterpret_cast<DWORD_PTR>(g_ProgramName),
                                   reinterpret_cast<DWORD_PTR>(message)};
  DWORD lineLength = FormatStringChecked(&line, "[%1] %2\n", lineInserts);
  // FormatMessageA stores the line break as "\r\n"; a debug line ends with "\n".
  if (lineLength >= 2 && line[lineLength - 2] == '\r' && line[lineLength - 1] == '\n') {
    line[lineLength - 2] = '\n';
    line[lineLength - 1] = '\0';
  }
  LocalFree(message);
  // A system text given as an insert is used up with the line.
  FreeSystemMessageBuffer();
  return line;
}

void DebugPrintMessageArray(UINT id, const DWORD_PTR* inserts) {
  // Reporting leaves the thread's last error as the caller had it.
  DWORD lastError = GetLastError();
  LPSTR line = FormatDebugLine(id, inserts);
  if (line) {
    OutputDebugStringA(line);
    LocalFree(line);
  }
  SetLastError(lastError);
}

namespace {

// The line "%1() failed - %2" with the call's name, or with its id when name
// is null.
void ReportFailure(uint16_t callId, const char* name, uint32_t error) {
  // A wrapper's caller reads the failed call's error after the report. Read
  // it before the first use of a thread-local: that may allocate the thread's
  // block and reset the last error.
  DWORD lastError = GetLastError();
  if (t_ReportDepth >= kMaxReportDepth) {
    SetLastError(lastError);
    return;
  }
  ++t_ReportDepth;
  LPSTR idText = nullptr;
  if (!name) FormatString(&idText, "%1!ld!", static_cast<unsigned long>(callId));
  // The system text is taken out of the thread's buffer: a nested report while
  // the line is formatted would otherwise free it under us.
  LPSTR systemText = FormatSystemError(error);
  t_SystemMessage = nullptr;
  t_SystemMessageLength = 0;
  if (name || idText)
    DebugPrintMessage(g_CallFailureMessageId, name ? name : static_cast<const char*>(idText),
                      systemText ? static_cast<const char*>(systemText) : kFormatFallback);
  if (idText) LocalFree(idText);
  if (systemText) LocalFree(systemText);
  --t_ReportDepth;
  SetLastError(lastError);
}

}  // namespace

void ReportCallFailure(uint16_t callId, uint32_t error) { ReportFailure(callId, nullptr, error); }

void ReportNamedCallFailure(const char* call, uint32_t error) { ReportFailure(0, call, error); }

int SddlToSecurityDescriptor(LPCSTR first, LPCSTR second, PSECURITY_DESCRIPTOR* descriptor) {
  if (ConvertStringSecurityDescriptorToSecurityDescriptorA(first, SDDL_REVISION_1, descriptor,
                                                           nullptr))
    return 1;
  return ConvertSddlChecked(second, SDDL_REVISION_1, descriptor, nullptr);
}
