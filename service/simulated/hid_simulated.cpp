// The HID access layer of KestrinSvcSim.exe: the device simulator stands in
// for the HID class driver. Enumeration, identity and feature reports are
// requests on the simulator's control pipe; an interface opens as the
// client end of its own overlapped message pipe, so report reads are real
// overlapped ReadFile calls, pending, completing, several reports at a time.
// Read errors arrive as error frames (sim_protocol.h) and a closed pipe is an
// unplugged device (ERROR_DEVICE_NOT_CONNECTED).
#include <stddef.h>
#include <stdlib.h>
#include <string.h>

#include "hid_access.h"

#include <dbt.h>
#include "service_private.h"
#include "sim_protocol.h"

namespace {

constexpr int kMaxOpenInterfaces = 64;
constexpr DWORD kPipeWaitMs = 2000;

// An interface list of HidGetClassDevs: the paths one after another.
struct InterfaceList {
  uint32_t m_Count;
  uint32_t m_Bytes;
  char m_Paths[1];
};

struct OpenInterface {
  HANDLE m_Handle;
  void* m_ReadBuffer;  // of the read in flight, for its error frame
  char m_Path[kSimMaxPath];
};

OpenInterface OpenInterfaces[kMaxOpenInterfaces];
CRITICAL_SECTION TableLock;
INIT_ONCE TableOnce = INIT_ONCE_STATIC_INIT;
HANDLE ControlPipe = INVALID_HANDLE_VALUE;  // service thread only

BOOL CALLBACK InitTable(INIT_ONCE*, void*, void**) {
  InitializeCriticalSection(&TableLock);
  return TRUE;
}

OpenInterface* FindOpen(HANDLE handle) {
  InitOnceExecuteOnce(&TableOnce, InitTable, nullptr, nullptr);
  OpenInterface* found = nullptr;
  EnterCriticalSection(&TableLock);
  for (OpenInterface& i : OpenInterfaces)
    if (i.m_Handle == handle && handle) found = &i;
  LeaveCriticalSection(&TableLock);
  return found;
}

HANDLE OpenClientPipe(const char* name, DWORD flags) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    HANDLE pipe = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              flags, nullptr);
    if (pipe != INVALID_HANDLE_VALUE) {
      DWORD mode = PIPE_READMODE_MESSAGE;
      SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr);
      return pipe;
    }
    // The one instance may still be taken by a client that has just closed
    // it: the simulator listens again a moment later.
    if (GetLastError() != ERROR_PIPE_BUSY || !WaitNamedPipeA(name, kPipeWaitMs)) break;
  }
  return INVALID_HANDLE_VALUE;
}

// One request to the simulator; the reply's verdict becomes the result and
// the last error of the call it stands for.
BOOL Transact(uint32_t op, const char* path, const void* data, uint32_t bytes, SimReply* reply) {
  SimRequest request = {};
  request.m_Op = op;
  if (path) strncpy(request.m_Path, path, sizeof request.m_Path - 1);
  if (bytes > sizeof request.m_Data) bytes = sizeof request.m_Data;
  if (data) memcpy(request.m_Data, data, bytes);
  request.m_Bytes = bytes;
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (ControlPipe == INVALID_HANDLE_VALUE) {
      ControlPipe = OpenClientPipe(KESTRIN_SIM_CONTROL_PIPE, 0);
      if (ControlPipe == INVALID_HANDLE_VALUE) break;
    }
    DWORD got = 0;
    if (TransactNamedPipe(ControlPipe, &request, sizeof request, reply, sizeof *reply, &got,
                          nullptr) &&
        got >= offsetof(SimReply, m_Data)) {
      SetLastError(reply->m_Ok ? ERROR_SUCCESS : reply->m_Error);
      return reply->m_Ok != 0;
    }
    // A simulator that went away (or came back): reconnect once.
    CloseHandle(ControlPipe);
    ControlPipe = INVALID_HANDLE_VALUE;
  }
  SetLastError(ERROR_DEVICE_NOT_CONNECTED);
  return FALSE;
}

// A completed read that holds an error frame fails with the frame's error,
// delivering the bytes behind the frame.
BOOL TranslateRead(BOOL ok, void* buffer, DWORD* bytes) {
  if (!ok) {
    DWORD error = GetLastError();
    if (error == ERROR_MORE_DATA) return TRUE;  // the rest comes with the next read
    if (error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED ||
        error == ERROR_NO_DATA)
      SetLastError(ERROR_DEVICE_NOT_CONNECTED);
    return FALSE;
  }
  auto* data = static_cast<uint8_t*>(buffer);
  if (!buffer || *bytes < sizeof(SimErrorFrame) || data[0] != kSimErrorMark || data[1] != 'E')
    return TRUE;
  SimErrorFrame frame;
  memcpy(&frame, data, sizeof frame);
  *bytes -= sizeof frame;
  memmove(data, data + sizeof frame, *bytes);
  SetLastError(frame.m_Error);
  return FALSE;
}

// ---- arrival notices ----
HANDLE NoticeThread;
HANDLE NoticeStop;

DWORD WINAPI NoticeMain(void*) {
  OVERLAPPED overlapped = {};
  overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!overlapped.hEvent) return 1;
  HANDLE pipe = INVALID_HANDLE_VALUE;
  char path[kSimMaxPath];
  while (WaitForSingleObject(NoticeStop, 0) == WAIT_TIMEOUT) {
    if (pipe == INVALID_HANDLE_VALUE) {
      pipe = OpenClientPipe(KESTRIN_SIM_NOTICE_PIPE, FILE_FLAG_OVERLAPPED);
      if (pipe == INVALID_HANDLE_VALUE) {
        WaitForSingleObject(NoticeStop, 100);
        continue;
      }
    }
    DWORD bytes = 0;
    ResetEvent(overlapped.hEvent);
    BOOL ok = ReadFile(pipe, path, sizeof path - 1, &bytes, &overlapped);
    if (!ok && GetLastError() == ERROR_IO_PENDING) {
      HANDLE handles[2] = {NoticeStop, overlapped.hEvent};
      if (WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0) {
        CancelIo(pipe);
        GetOverlappedResult(pipe, &overlapped, &bytes, TRUE);
        break;
      }
      ok = GetOverlappedResult(pipe, &overlapped, &bytes, FALSE);
    }
    if (!ok) {
      CloseHandle(pipe);
      pipe = INVALID_HANDLE_VALUE;
      continue;
    }
    path[bytes < sizeof path ? bytes : sizeof path - 1] = 0;
    // The record the control handler receives: a device-interface broadcast
    // with a UTF-16 name, as the system sends it to services.
    struct {
      DEV_BROADCAST_DEVICEINTERFACE_W header;
      wchar_t rest[kSimMaxPath];
    } record = {};
    record.header.dbcc_size = sizeof record;
    record.header.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    wchar_t* name = record.header.dbcc_name;
    for (size_t i = 0; i <= strlen(path); ++i) name[i] = static_cast<unsigned char>(path[i]);
    OnDeviceArrival(DBT_DEVICEARRIVAL, &record);
  }
  if (pipe != INVALID_HANDLE_VALUE) CloseHandle(pipe);
  CloseHandle(overlapped.hEvent);
  return 0;
}

}  // namespace

void HidGetHidGuid(GUID* guid) { HidD_GetHidGuid(guid); }

HDEVINFO HidGetClassDevs(const GUID*, DWORD) {
  static SimReply reply;
  if (!Transact(SimListInterfaces, nullptr, nullptr, 0, &reply)) return INVALID_HANDLE_VALUE;
  auto* list = static_cast<InterfaceList*>(calloc(1, sizeof(InterfaceList) + reply.m_Bytes));
  if (!list) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  memcpy(list->m_Paths, reply.m_Data, reply.m_Bytes);
  list->m_Bytes = reply.m_Bytes;
  for (const char* p = list->m_Paths; *p; p += strlen(p) + 1) ++list->m_Count;
  return list;
}

static const char* PathAt(HDEVINFO set, DWORD index) {
  auto* list = static_cast<InterfaceList*>(set);
  const char* p = list->m_Paths;
  for (DWORD i = 0; *p; p += strlen(p) + 1, ++i)
    if (i == index) return p;
  return nullptr;
}

BOOL HidEnumDeviceInterfaces(HDEVINFO set, const GUID* guid, DWORD index,
                             SP_DEVICE_INTERFACE_DATA* data) {
  if (!set || set == INVALID_HANDLE_VALUE || !data || data->cbSize != sizeof *data) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!PathAt(set, index)) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
  }
  data->InterfaceClassGuid = *guid;
  data->Flags = SPINT_ACTIVE;
  data->Reserved = index;
  return TRUE;
}

BOOL HidGetDeviceInterfaceDetail(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data,
                                 SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail, DWORD size,
                                 DWORD* required) {
  const char* path = data ? PathAt(set, static_cast<DWORD>(data->Reserved)) : nullptr;
  if (!path) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DWORD needed = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) +
                                    strlen(path) + 1);
  if (required) *required = needed;
  if (!detail || size < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  memcpy(detail->DevicePath, path, strlen(path) + 1);
  return TRUE;
}

BOOL HidDestroyDeviceInfoList(HDEVINFO set) {
  free(set);
  return TRUE;
}

HANDLE HidCreateFile(LPCSTR path, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                     DWORD creation, DWORD flags) {
  (void)shareMode;  // a pipe of one instance is exclusive already, as the device is
  (void)access;
  (void)security;
  (void)creation;
  if (strncmp(path, "\\\\?\\", 4) != 0 || strlen(path) >= kSimMaxPath) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  char name[sizeof KESTRIN_SIM_DATA_PIPE_PREFIX + kSimMaxPath];
  strcpy(name, KESTRIN_SIM_DATA_PIPE_PREFIX);
  strcat(name, path + 4);
  HANDLE handle = OpenClientPipe(name, flags);
  if (handle == INVALID_HANDLE_VALUE) {
    if (GetLastError() == ERROR_PIPE_BUSY || GetLastError() == ERROR_SEM_TIMEOUT)
      SetLastError(ERROR_SHARING_VIOLATION);
    return INVALID_HANDLE_VALUE;
  }
  InitOnceExecuteOnce(&TableOnce, InitTable, nullptr, nullptr);
  EnterCriticalSection(&TableLock);
  OpenInterface* slot = nullptr;
  for (OpenInterface& i : OpenInterfaces)
    if (!i.m_Handle && !slot) slot = &i;
  if (slot) {
    slot->m_Handle = handle;
    slot->m_ReadBuffer = nullptr;
    strcpy(slot->m_Path, path);
  }
  LeaveCriticalSection(&TableLock);
  if (!slot) {
    CloseHandle(handle);
    SetLastError(ERROR_TOO_MANY_OPEN_FILES);
    return INVALID_HANDLE_VALUE;
  }
  SetLastError(ERROR_SUCCESS);
  return handle;
}

BOOL HidCloseFile(HANDLE handle) {
  if (OpenInterface* open = FindOpen(handle)) {
    EnterCriticalSection(&TableLock);
    open->m_Handle = nullptr;
    LeaveCriticalSection(&TableLock);
  }
  return CloseHandle(handle);
}

static BOOLEAN Ask(HANDLE handle, uint32_t op, const void* data, uint32_t bytes,
                   SimReply* reply) {
  OpenInterface* open = FindOpen(handle);
  if (!open) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return Transact(op, open->m_Path, data, bytes, reply) ? TRUE : FALSE;
}

BOOLEAN HidGetAttributes(HANDLE handle, HIDD_ATTRIBUTES* attributes) {
  static SimReply reply;
  if (!Ask(handle, SimGetAttributes, nullptr, 0, &reply)) return FALSE;
  uint16_t words[3] = {};
  memcpy(words, reply.m_Data, sizeof words);
  attributes->VendorID = words[0];
  attributes->ProductID = words[1];
  attributes->VersionNumber = words[2];
  return TRUE;
}

BOOLEAN HidGetSerialNumberString(HANDLE handle, void* buffer, ULONG bufferBytes) {
  static SimReply reply;
  if (!Ask(handle, SimGetSerial, nullptr, 0, &reply)) return FALSE;
  // As the class driver does: what fits, without a terminator when it does not.
  memcpy(buffer, reply.m_Data, reply.m_Bytes < bufferBytes ? reply.m_Bytes : bufferBytes);
  return TRUE;
}

BOOLEAN HidSetFeature(HANDLE handle, void* report, ULONG reportBytes) {
  static SimReply reply;
  return Ask(handle, SimSetFeature, report, reportBytes, &reply);
}

BOOLEAN HidGetFeature(HANDLE handle, void* report, ULONG reportBytes) {
  static SimReply reply;
  if (!Ask(handle, SimGetFeature, report, reportBytes, &reply)) return FALSE;
  memcpy(report, reply.m_Data, reply.m_Bytes < reportBytes ? reply.m_Bytes : reportBytes);
  return TRUE;
}

BOOL HidReadFile(HANDLE handle, void* buffer, DWORD bytes, DWORD* bytesRead,
                 OVERLAPPED* overlapped) {
  if (OpenInterface* open = FindOpen(handle)) open->m_ReadBuffer = buffer;
  BOOL ok = ReadFile(handle, buffer, bytes, bytesRead, overlapped);
  if (!ok && GetLastError() == ERROR_IO_PENDING) return FALSE;
  return TranslateRead(ok, buffer, bytesRead);
}

BOOL HidGetOverlappedResult(HANDLE handle, OVERLAPPED* overlapped, DWORD* bytes, BOOL wait) {
  BOOL ok = GetOverlappedResult(handle, overlapped, bytes, wait);
  if (!ok && GetLastError() == ERROR_IO_INCOMPLETE) return FALSE;
  OpenInterface* open = FindOpen(handle);
  return TranslateRead(ok, open ? open->m_ReadBuffer : nullptr, bytes);
}

void HidStartArrivalNotices() {
  if (NoticeThread) return;
  NoticeStop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!NoticeStop) return;  // no hot plug in this run; devices present at start still open
  NoticeThread = CreateThread(nullptr, 0, NoticeMain, nullptr, 0, nullptr);
}

void HidStopArrivalNotices() {
  if (NoticeThread) {
    SetEvent(NoticeStop);
    WaitForSingleObject(NoticeThread, INFINITE);
    CloseHandle(NoticeThread);
    NoticeThread = nullptr;
  }
  if (NoticeStop) CloseHandle(NoticeStop);
  NoticeStop = nullptr;
  if (ControlPipe != INVALID_HANDLE_VALUE) CloseHandle(ControlPipe);
  ControlPipe = INVALID_HANDLE_VALUE;
}
