#include "sim_core.h"

#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include "sim_protocol.h"

namespace {

constexpr DWORD kPipeBufferBytes = 64 * 1024;
constexpr uint32_t kMaxSerialChars = 63;
// How long a close waits for the end's outstanding connect or read to report
// that it ended (at once, normally; an operation of a worker that has ended
// may never report).
constexpr DWORD kCloseWaitMs = 5000;
constexpr ULONG_PTR kStatusPending = 0x103;  // STATUS_PENDING in OVERLAPPED::Internal

struct PipeEnd {
  HANDLE m_Pipe = INVALID_HANDLE_VALUE;
  OVERLAPPED m_Overlapped = {};  // the pending connect or read
  int m_Connected = 0;
  int m_Pending = 0;
  uint8_t m_Buffer[sizeof(SimRequest)];
};

struct Interface {
  int m_Used;
  char m_Path[kSimMaxPath];
  wchar_t m_Serial[kMaxSerialChars + 1];
  uint16_t m_Version;
  int m_FirmwareOf;  // index whose firmware answers feature reports
  int m_Plugged;
  PipeEnd m_Data;
  uint32_t m_AttributeFailures;
  uint32_t m_SerialFailures;
  SimFirmware m_Firmware;
};

Interface Interfaces[kSimMaxInterfaces];
PipeEnd Control;
PipeEnd Notices;
HANDLE Worker;
HANDLE WorkerWake;  // auto reset: the set of pipes changed, or stop
volatile LONG WorkerStop;
CRITICAL_SECTION Lock;  // the interface table and the pipe handles
int LockReady;

HANDLE NewServerPipe(const char* name, DWORD openMode) {
  return CreateNamedPipeA(name, openMode | FILE_FLAG_OVERLAPPED,
                          PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                          // One instance is ever created per name, so one client at a
                          // time, like a device; but the limit stays open, so that an
                          // instance a client still holds after the simulator closed
                          // its end (a device just unplugged, a simulator that ended)
                          // does not keep the name busy.
                          PIPE_UNLIMITED_INSTANCES,
                          kPipeBufferBytes, kPipeBufferBytes, 0, nullptr);
}

// The worker's connect or read on an end writes its result into the end's
// OVERLAPPED when it ends, however late, and the record serves the next pipe
// of its interface (unplugged, then plugged again): a result of the old pipe
// landing there would pass for the new pipe's connect, and the worker would
// disconnect the client that has just opened it. So the operation is over
// before the record is cleared. Called without Lock, once the worker leaves
// the end alone (its interface unplugged, or the worker stopped): the worker
// may have to run for its operation to end, and it takes Lock.
void ClosePipeEnd(PipeEnd* end) {
  if (end->m_Pipe != INVALID_HANDLE_VALUE) {
    if (end->m_Pending) {
      // CancelIo would cancel only this thread's own operations.
      CancelIoEx(end->m_Pipe, &end->m_Overlapped);  // fails when it has ended already
      if (end->m_Overlapped.Internal == kStatusPending)
        WaitForSingleObject(end->m_Overlapped.hEvent, kCloseWaitMs);
    }
    CloseHandle(end->m_Pipe);
  }
  if (end->m_Overlapped.hEvent) CloseHandle(end->m_Overlapped.hEvent);
  end->m_Pipe = INVALID_HANDLE_VALUE;
  end->m_Overlapped = OVERLAPPED();
  end->m_Connected = 0;
  end->m_Pending = 0;
}

int OpenPipeEnd(PipeEnd* end, const char* name, DWORD openMode) {
  end->m_Pipe = NewServerPipe(name, openMode);
  if (end->m_Pipe == INVALID_HANDLE_VALUE) return 0;
  end->m_Overlapped = OVERLAPPED();
  end->m_Overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  end->m_Connected = 0;
  end->m_Pending = 0;
  return end->m_Overlapped.hEvent != nullptr;
}

void Listen(PipeEnd* end) {
  end->m_Connected = 0;
  ResetEvent(end->m_Overlapped.hEvent);
  if (ConnectNamedPipe(end->m_Pipe, &end->m_Overlapped)) {
    end->m_Connected = 1;
    return;
  }
  DWORD error = GetLastError();
  if (error == ERROR_PIPE_CONNECTED) {
    end->m_Connected = 1;
    SetEvent(end->m_Overlapped.hEvent);
  } else if (error == ERROR_IO_PENDING) {
    end->m_Pending = 1;
  }
}

Interface* FindInterface(const char* path) {
  for (Interface& i : Interfaces)
    if (i.m_Used && _stricmp(i.m_Path, path) == 0) return &i;
  return nullptr;
}

void Answer(const SimRequest& request, SimReply* reply) {
  memset(reply, 0, offsetof(SimReply, m_Data));
  if (request.m_Op == SimListInterfaces) {
    uint32_t at = 0;
    for (Interface& i : Interfaces) {
      if (!i.m_Used || !i.m_Plugged) continue;
      size_t length = strlen(i.m_Path) + 1;
      if (at + length + 1 > kSimMaxReply) break;
      memcpy(reply->m_Data + at, i.m_Path, length);
      at += static_cast<uint32_t>(length);
    }
    reply->m_Data[at++] = 0;
    reply->m_Bytes = at;
    reply->m_Ok = 1;
    return;
  }
  char path[kSimMaxPath];
  memcpy(path, request.m_Path, sizeof path);
  path[sizeof path - 1] = 0;
  Interface* i = FindInterface(path);
  if (!i || !i->m_Plugged) {
    reply->m_Error = ERROR_DEVICE_NOT_CONNECTED;
    return;
  }
  SimFirmware* firmware = &Interfaces[i->m_FirmwareOf].m_Firmware;
  switch (request.m_Op) {
    case SimGetAttributes: {
      if (i->m_AttributeFailures) {
        --i->m_AttributeFailures;
        reply->m_Error = ERROR_GEN_FAILURE;
        return;
      }
      uint16_t words[3] = {0x15de, 0x6000, i->m_Version};
      unsigned vendor = 0, product = 0;
      const char* v = strstr(path, "vid_");
      const char* p = strstr(path, "pid_");
      if (v && sscanf(v + 4, "%4x", &vendor) == 1) words[0] = static_cast<uint16_t>(vendor);
      if (p && sscanf(p + 4, "%4x", &product) == 1) words[1] = static_cast<uint16_t>(product);
      memcpy(reply->m_Data, words, sizeof words);
      reply->m_Bytes = sizeof words;
      reply->m_Ok = 1;
      return;
    }
    case SimGetSerial: {
      if (i->m_SerialFailures) {
        --i->m_SerialFailures;
        reply->m_Error = ERROR_GEN_FAILURE;
        return;
      }
      uint32_t bytes = static_cast<uint32_t>((wcslen(i->m_Serial) + 1) * sizeof(wchar_t));
      memcpy(reply->m_Data, i->m_Serial, bytes);
      reply->m_Bytes = bytes;
      reply->m_Ok = 1;
      return;
    }
    case SimSetFeature:
      reply->m_Ok = static_cast<uint32_t>(
          SimFirmwareSetFeature(firmware, request.m_Data, request.m_Bytes));
      if (!reply->m_Ok) reply->m_Error = ERROR_GEN_FAILURE;
      return;
    case SimGetFeature: {
      uint32_t bytes = request.m_Bytes < sizeof request.m_Data ? request.m_Bytes : 0;
      memcpy(reply->m_Data, request.m_Data, bytes);
      reply->m_Ok = static_cast<uint32_t>(SimFirmwareGetFeature(firmware, reply->m_Data, bytes));
      if (reply->m_Ok)
        reply->m_Bytes = bytes;
      else
        reply->m_Error = ERROR_GEN_FAILURE;
      return;
    }
    default:
      reply->m_Error = ERROR_INVALID_FUNCTION;
  }
}

// A write that completes before it returns (the pipe buffer has room for
// everything a test or a script sends between two reads).
int WriteWhole(HANDLE pipe, const void* bytes, DWORD count) {
  OVERLAPPED overlapped = {};
  overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!overlapped.hEvent) return 0;
  DWORD written = 0;
  BOOL ok = WriteFile(pipe, bytes, count, &written, &overlapped);
  if (!ok && GetLastError() == ERROR_IO_PENDING)
    ok = GetOverlappedResult(pipe, &overlapped, &written, TRUE);
  CloseHandle(overlapped.hEvent);
  return ok && written == count;
}

void ServeControl() {
  for (;;) {
    DWORD bytes = 0;
    if (Control.m_Pending) {
      if (!GetOverlappedResult(Control.m_Pipe, &Control.m_Overlapped, &bytes, FALSE)) {
        if (GetLastError() == ERROR_IO_INCOMPLETE) return;
        DisconnectNamedPipe(Control.m_Pipe);
        Control.m_Pending = 0;
        Listen(&Control);
        if (!Control.m_Connected) return;
        continue;
      }
      Control.m_Pending = 0;
      if (!Control.m_Connected) {
        Control.m_Connected = 1;  // a connect completed: read the first request
      } else if (bytes == sizeof(SimRequest)) {
        SimRequest request;
        memcpy(&request, Control.m_Buffer, sizeof request);
        static SimReply reply;
        EnterCriticalSection(&Lock);
        Answer(request, &reply);
        LeaveCriticalSection(&Lock);
        WriteWhole(Control.m_Pipe, &reply, offsetof(SimReply, m_Data) + reply.m_Bytes);
      }
    }
    ResetEvent(Control.m_Overlapped.hEvent);
    if (ReadFile(Control.m_Pipe, Control.m_Buffer, sizeof Control.m_Buffer, &bytes,
                 &Control.m_Overlapped) ||
        GetLastError() == ERROR_IO_PENDING || GetLastError() == ERROR_MORE_DATA) {
      Control.m_Pending = 1;  // completed or not, the result is taken above
      continue;
    }
    DisconnectNamedPipe(Control.m_Pipe);
    Listen(&Control);
    if (!Control.m_Connected) return;
  }
}

// A data or notice pipe: a connect completed, or the read that waits for the
// client to close ended.
void FollowConnection(PipeEnd* end) {
  DWORD bytes = 0;
  if (end->m_Pending) {
    BOOL ok = GetOverlappedResult(end->m_Pipe, &end->m_Overlapped, &bytes, FALSE);
    if (!ok && GetLastError() == ERROR_IO_INCOMPLETE) return;
    end->m_Pending = 0;
    if (ok && !end->m_Connected) {
      end->m_Connected = 1;
    } else if (!ok) {
      DisconnectNamedPipe(end->m_Pipe);
      Listen(end);
      if (!end->m_Connected) return;
    }
    // ok while connected: the client wrote something; it is not looked at.
  } else if (!end->m_Connected) {
    ResetEvent(end->m_Overlapped.hEvent);
    return;
  }
  // Connected: a read that only ends when the client goes away (the access
  // layer never writes here).
  ResetEvent(end->m_Overlapped.hEvent);
  if (!ReadFile(end->m_Pipe, end->m_Buffer, sizeof end->m_Buffer, &bytes, &end->m_Overlapped) &&
      GetLastError() != ERROR_IO_PENDING && GetLastError() != ERROR_MORE_DATA) {
    DisconnectNamedPipe(end->m_Pipe);
    Listen(end);
    return;
  }
  end->m_Pending = 1;
}

DWORD WINAPI WorkerMain(void*) {
  while (!WorkerStop) {
    HANDLE handles[kSimMaxInterfaces + 3];
    PipeEnd* ends[kSimMaxInterfaces + 3];
    const Interface* owners[kSimMaxInterfaces + 3] = {};  // null: not an interface's
    DWORD count = 0;
    handles[count] = WorkerWake;
    ends[count++] = nullptr;
    EnterCriticalSection(&Lock);
    if (Control.m_Overlapped.hEvent) {
      handles[count] = Control.m_Overlapped.hEvent;
      ends[count++] = &Control;
    }
    if (Notices.m_Overlapped.hEvent) {
      handles[count] = Notices.m_Overlapped.hEvent;
      ends[count++] = &Notices;
    }
    for (Interface& i : Interfaces) {
      if (i.m_Used && i.m_Plugged && i.m_Data.m_Overlapped.hEvent) {
        handles[count] = i.m_Data.m_Overlapped.hEvent;
        owners[count] = &i;
        ends[count++] = &i.m_Data;
      }
    }
    LeaveCriticalSection(&Lock);
    DWORD result = WaitForMultipleObjects(count, handles, FALSE, INFINITE);
    if (result == WAIT_OBJECT_0 || result >= WAIT_OBJECT_0 + count) continue;
    PipeEnd* end = ends[result - WAIT_OBJECT_0];
    const Interface* owner = owners[result - WAIT_OBJECT_0];
    if (end == &Control) {
      ServeControl();
    } else {
      EnterCriticalSection(&Lock);
      // An unplugged interface's pipe is being closed by SimUnplug.
      if (!owner || owner->m_Plugged) FollowConnection(end);
      LeaveCriticalSection(&Lock);
    }
  }
  return 0;
}

void WakeWorker() {
  if (WorkerWake) SetEvent(WorkerWake);
}

}  // namespace

int SimStart() {
  if (!LockReady) {
    InitializeCriticalSection(&Lock);
    LockReady = 1;
  }
  WorkerStop = 0;
  WorkerWake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (!WorkerWake) return 0;
  if (!OpenPipeEnd(&Control, KESTRIN_SIM_CONTROL_PIPE, PIPE_ACCESS_DUPLEX) ||
      !OpenPipeEnd(&Notices, KESTRIN_SIM_NOTICE_PIPE, PIPE_ACCESS_DUPLEX)) {
    SimStop();
    return 0;
  }
  Listen(&Control);
  if (Control.m_Connected) SetEvent(Control.m_Overlapped.hEvent);
  Listen(&Notices);
  Worker = CreateThread(nullptr, 0, WorkerMain, nullptr, 0, nullptr);
  if (!Worker) {
    SimStop();
    return 0;
  }
  return 1;
}

void SimStop() {
  if (Worker) {
    InterlockedExchange(&WorkerStop, 1);
    WakeWorker();
    WaitForSingleObject(Worker, INFINITE);
    CloseHandle(Worker);
    Worker = nullptr;
  }
  SimReset();
  ClosePipeEnd(&Control);
  ClosePipeEnd(&Notices);
  if (WorkerWake) CloseHandle(WorkerWake);
  WorkerWake = nullptr;
}

void SimReset() {
  for (int i = 0; i < kSimMaxInterfaces; ++i) {
    if (Interfaces[i].m_Used) SimUnplug(i);
  }
  EnterCriticalSection(&Lock);
  for (Interface& i : Interfaces) {
    i.m_Used = 0;
    i.m_Data = PipeEnd();
  }
  LeaveCriticalSection(&Lock);
}

void SimInterfacePath(char* out, size_t size, int mi, uint32_t instance) {
  snprintf(out, size,
           "\\\\?\\hid#vid_15de&pid_6000&mi_%02d#7&%08x&0&0000#"
           "{4d1e55b2-f16f-11cf-88cb-001111000030}",
           mi, instance);
}

int SimAddInterface(const char* path, const wchar_t* serial, uint16_t version) {
  EnterCriticalSection(&Lock);
  int found = -1;
  for (int i = 0; i < kSimMaxInterfaces; ++i) {
    if (Interfaces[i].m_Used) continue;
    Interface& slot = Interfaces[i];
    slot = Interface();
    slot.m_Data = PipeEnd();
    slot.m_Used = 1;
    snprintf(slot.m_Path, sizeof slot.m_Path, "%s", path);
    wcsncpy(slot.m_Serial, serial, kMaxSerialChars);
    slot.m_Serial[kMaxSerialChars] = 0;
    slot.m_Version = version;
    slot.m_FirmwareOf = i;
    SimFirmwareInit(&slot.m_Firmware, version, 75);
    found = i;
    break;
  }
  LeaveCriticalSection(&Lock);
  return found;
}

int SimAddDevice(const wchar_t* serial, uint16_t version, uint32_t instance) {
  char path[kSimMaxPath];
  SimInterfacePath(path, sizeof path, 0, instance);
  int ball = SimAddInterface(path, serial, version);
  SimInterfacePath(path, sizeof path, 1, instance);
  int scroll = ball < 0 ? -1 : SimAddInterface(path, serial, version);
  if (scroll < 0) return -1;
  Interfaces[scroll].m_FirmwareOf = ball;
  return ball;
}

int SimPlug(int index, int notify) {
  if (index < 0 || index >= kSimMaxInterfaces || !Interfaces[index].m_Used) return 0;
  Interface& i = Interfaces[index];
  char name[sizeof KESTRIN_SIM_DATA_PIPE_PREFIX + kSimMaxPath];
  snprintf(name, sizeof name, "%s%s", KESTRIN_SIM_DATA_PIPE_PREFIX, i.m_Path + 4);
  EnterCriticalSection(&Lock);
  int ok = i.m_Plugged || OpenPipeEnd(&i.m_Data, name, PIPE_ACCESS_DUPLEX);
  if (ok && !i.m_Plugged) {
    i.m_Plugged = 1;
    Listen(&i.m_Data);
    if (i.m_Data.m_Connected) SetEvent(i.m_Data.m_Overlapped.hEvent);
  }
  LeaveCriticalSection(&Lock);
  WakeWorker();
  if (ok && notify && Notices.m_Connected)
    WriteWhole(Notices.m_Pipe, i.m_Path, static_cast<DWORD>(strlen(i.m_Path) + 1));
  return ok;
}

void SimUnplug(int index) {
  if (index < 0 || index >= kSimMaxInterfaces) return;
  Interface& i = Interfaces[index];
  EnterCriticalSection(&Lock);
  const int plugged = i.m_Plugged;
  i.m_Plugged = 0;  // from here on the worker leaves the pipe alone
  LeaveCriticalSection(&Lock);
  if (plugged) ClosePipeEnd(&i.m_Data);
  WakeWorker();
}

int SimIsOpen(int index) {
  if (index < 0 || index >= kSimMaxInterfaces) return 0;
  EnterCriticalSection(&Lock);
  int open = Interfaces[index].m_Plugged && Interfaces[index].m_Data.m_Connected;
  LeaveCriticalSection(&Lock);
  return open;
}

int SimWaitNoticeListener(DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    EnterCriticalSection(&Lock);
    int connected = Notices.m_Connected;
    LeaveCriticalSection(&Lock);
    if (connected) return 1;
    if (GetTickCount() - start > timeoutMs) return 0;
    Sleep(1);
  }
}

int SimWaitOpen(int index, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  while (!SimIsOpen(index)) {
    if (GetTickCount() - start > timeoutMs) return 0;
    Sleep(1);
  }
  return 1;
}

int SimSend(int index, const void* bytes, uint32_t count) {
  // A client that has just opened the interface may not be seen by the
  // worker yet.
  if (!SimWaitOpen(index, 1000)) return 0;
  return WriteWhole(Interfaces[index].m_Data.m_Pipe, bytes, count);
}

int SimSendError(int index, uint32_t error, const void* bytes, uint32_t count) {
  uint8_t message[sizeof(SimErrorFrame) + 64];
  if (count > 64) return 0;
  SimErrorFrame frame = {kSimErrorMark, 'E', error};
  memcpy(message, &frame, sizeof frame);
  if (count) memcpy(message + sizeof frame, bytes, count);
  return SimSend(index, message, static_cast<uint32_t>(sizeof frame + count));
}

SimFirmware* SimFirmwareOf(int index) {
  return &Interfaces[Interfaces[index].m_FirmwareOf].m_Firmware;
}

void SimFailIdentity(int index, uint32_t attributeFailures, uint32_t serialFailures) {
  EnterCriticalSection(&Lock);
  Interfaces[index].m_AttributeFailures = attributeFailures;
  Interfaces[index].m_SerialFailures = serialFailures;
  LeaveCriticalSection(&Lock);
}

const char* SimPathOf(int index) { return Interfaces[index].m_Path; }
