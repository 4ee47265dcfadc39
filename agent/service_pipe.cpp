#include "service_pipe.h"

#include <string.h>

#include "agent_resource.h"
#include "manager.h"
#include "reporting.h"
#include "settings.h"

SlotPool AgentDevices;
OutgoingQueue Outgoing;

namespace {

HANDLE Pipe = INVALID_HANDLE_VALUE;
ServiceRecordHandler RecordHandler;

OVERLAPPED ReadOverlapped;
PipeMessage ReceiveBuffer;
DWORD BytesRead;
int ReadPending;

OVERLAPPED WriteOverlapped;
// The buffer of the outstanding write: untouched until it completes.
PipeMessage OutgoingBuffer;
DWORD BytesWritten;
int WritePending;

// The thread timer that retries OpenPipe while the pipe is closed; 0 when
// none runs (always while the pipe is open).
UINT_PTR ReopenTimer;

// The timer's attempts are quiet: a service that is not running would
// otherwise put a line on the debugger output every few seconds.
int QuietOpen;

void CALLBACK OnReopenTimer(HWND, UINT, UINT_PTR, DWORD) {
  QuietOpen = 1;
  ReconnectPipe();
  QuietOpen = 0;
}

void StartReopenTimer() {
  if (ReopenTimer) return;
  ReopenTimer = SetTimer(nullptr, 0, kReopenIntervalMs, OnReopenTimer);
}

void StopReopenTimer() {
  if (!ReopenTimer) return;
  KillTimer(nullptr, ReopenTimer);  // fails only for a timer that is gone
  ReopenTimer = 0;
}

bool StillPending(const OVERLAPPED* overlapped) {
  return overlapped->Internal == STATUS_PENDING;
}

// Issues queued messages while no write is outstanding.
void SendQueued() {
  while (Pipe != INVALID_HANDLE_VALUE) {
    if (WritePending) {
      if (StillPending(&WriteOverlapped)) return;  // the queue waits for it
      WritePending = 0;
      if (!GetOverlappedResult(Pipe, &WriteOverlapped, &BytesWritten, FALSE)) {
        ClosePipe();
        return;
      }
    }
    if (!QueueTake(&Outgoing, &OutgoingBuffer)) return;
    if (WriteFile(Pipe, &OutgoingBuffer, kPipeMessageBytes, &BytesWritten, &WriteOverlapped))
      continue;
    if (GetLastError() == ERROR_IO_PENDING) {
      WritePending = 1;
      return;
    }
    ClosePipe();  // broken pipe or any other error: no line
    return;
  }
}

PipeMessage SettingsMessage(uint16_t opcode, uint16_t device) {
  PipeMessage message = {};
  message.m_Opcode = opcode;
  message.m_Device = device;
  return message;
}

}  // namespace

void OpenServicePipe(ServiceRecordHandler handler) {
  RecordHandler = handler;
  ReadOverlapped.hEvent = CreateEventChecked(nullptr, TRUE /* manual reset */, FALSE, nullptr);
  WriteOverlapped.hEvent = CreateEventChecked(nullptr, TRUE /* manual reset */, FALSE, nullptr);
  PoolInit(&AgentDevices, sizeof(AgentDeviceRecord));
  OpenPipe();
}

int OpenPipe() {
  HANDLE pipe = CreateFileA(kPipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION,
                            nullptr);
  if (pipe == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    if (error != ERROR_PIPE_BUSY && !QuietOpen) ReportCallFailure(CallCreateFile, error);
    StartReopenTimer();
    return 0;
  }
  // A client end opens in byte read mode, which would split a longer message
  // into 12-byte parts read as messages of their own. Read in message mode,
  // so that a longer message fails its read and closes the pipe instead.
  DWORD mode = PIPE_READMODE_MESSAGE;
  SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr);  // no call id: byte mode still reads
  Pipe = pipe;
  StopReopenTimer();
  return 1;
}

void ClosePipe() {
  if (Pipe == INVALID_HANDLE_VALUE) return;
  // The buffers and OVERLAPPEDs serve the next handle too: the I/O still
  // outstanding on this one must be over before they are used again.
  if ((ReadPending && StillPending(&ReadOverlapped)) ||
      (WritePending && StillPending(&WriteOverlapped))) {
    CancelIoChecked(Pipe);
    DWORD ignored = 0;
    if (ReadPending) GetOverlappedResult(Pipe, &ReadOverlapped, &ignored, TRUE);
    if (WritePending) GetOverlappedResult(Pipe, &WriteOverlapped, &ignored, TRUE);
  }
  ReadPending = 0;
  WritePending = 0;
  CloseHandleChecked(Pipe);
  Pipe = INVALID_HANDLE_VALUE;
  // What waited was meant for this connection; the settings go again from
  // the registry when the pipe opens.
  QueueClear(&Outgoing);
  StartReopenTimer();
}

int PipeIsOpen() { return Pipe != INVALID_HANDLE_VALUE; }

int ReadRecord(PipeMessage* out) {
  for (;;) {
    if (Pipe == INVALID_HANDLE_VALUE) return RecordPipeClosed;
    if (ReadPending) {
      if (StillPending(&ReadOverlapped)) return RecordPending;
      if (!GetOverlappedResult(Pipe, &ReadOverlapped, &BytesRead, FALSE)) {
        ReadPending = 0;
        ClosePipe();
        return RecordPipeClosed;
      }
      ReadPending = 0;
    } else if (!ReadFile(Pipe, &ReceiveBuffer, kPipeMessageBytes, &BytesRead, &ReadOverlapped)) {
      if (GetLastError() == ERROR_IO_PENDING) {
        ReadPending = 1;
        return RecordPending;
      }
      ClosePipe();  // broken pipe, a longer message, anything else: no line
      return RecordPipeClosed;
    }
    // A shorter message fills only the start of the buffer, whose rest still
    // holds the message before it: it is skipped, and the next one read.
    if (BytesRead == kPipeMessageBytes) {
      memcpy(out, &ReceiveBuffer, sizeof ReceiveBuffer);
      return RecordCopied;
    }
  }
}

void DrainPipe() {
  PipeMessage message;
  while (ReadRecord(&message) == RecordCopied) {
    if (RecordHandler) RecordHandler(&message);
  }
}

void WriteRecord(const PipeMessage* message) {
  if (Pipe == INVALID_HANDLE_VALUE) return;  // dropped; the registry keeps the settings
  QueuePut(&Outgoing, message);
  SendQueued();
}

void OnReadEvent() {
  if (ReadPending) DrainPipe();
}

void OnWriteEvent() {
  if (Pipe == INVALID_HANDLE_VALUE || !WritePending) return;
  SendQueued();  // collects the completed write, then sends what waits
}

HANDLE PipeReadEvent() { return ReadOverlapped.hEvent; }
HANDLE PipeWriteEvent() { return WriteOverlapped.hEvent; }

void ClosePipeAndEvents() {
  StopReopenTimer();
  if (Pipe != INVALID_HANDLE_VALUE && (ReadPending || WritePending)) {
    CancelIoChecked(Pipe);
    DWORD ignored = 0;
    if (ReadPending && !GetOverlappedResult(Pipe, &ReadOverlapped, &ignored, FALSE))
      ReportCallFailure(CallGetOverlappedResult, GetLastError());
    if (WritePending && !GetOverlappedResult(Pipe, &WriteOverlapped, &ignored, FALSE))
      ReportCallFailure(CallGetOverlappedResult, GetLastError());
  }
  ReadPending = 0;
  WritePending = 0;
  if (Pipe != INVALID_HANDLE_VALUE) CloseHandleChecked(Pipe);
  Pipe = INVALID_HANDLE_VALUE;
  QueueClear(&Outgoing);
  if (ReadOverlapped.hEvent) CloseHandleChecked(ReadOverlapped.hEvent);
  if (WriteOverlapped.hEvent) CloseHandleChecked(WriteOverlapped.hEvent);
  ReadOverlapped.hEvent = nullptr;
  WriteOverlapped.hEvent = nullptr;
}

void SendLogFactors(uint16_t device, const uint16_t factors[4]) {
  PipeMessage message = SettingsMessage(PipeSetLogFactors, device);
  memcpy(message.m_Payload.m_LogFactors, factors, sizeof message.m_Payload.m_LogFactors);
  WriteRecord(&message);
}

void SendFlags(uint16_t device, uint16_t flags) {
  PipeMessage message = SettingsMessage(PipeSetFlags, device);
  message.m_Payload.m_Flags = flags;
  WriteRecord(&message);
}

void SendAutoZero(uint16_t device) {
  PipeMessage message = SettingsMessage(PipeTestAutoZero, device);
  WriteRecord(&message);
}

void ReconnectPipe() {
  if (Pipe != INVALID_HANDLE_VALUE) return;
  ReadPending = 0;  // nothing is outstanding on a new handle
  WritePending = 0;
  if (!OpenPipe()) return;
  uint16_t factors[4];
  LoadLogFactorsOrDefault(factors);
  SendLogFactors(1, factors);
  SendFlags(1, LoadFlagsOrDefault());
  DrainPipe();
}

void OnServiceRecord(const PipeMessage* message) {
  if (message->m_Opcode != PipeDeviceState) return;
  AgentDeviceRecord* device = FindDeviceRecord(message->m_Device);
  if (!device) {
    device = static_cast<AgentDeviceRecord*>(PoolAlloc(&AgentDevices));
    // A table that cannot grow keeps the states it has; this one is not kept.
    if (!device) return;
    device->m_Id = message->m_Device;
  }
  device->m_Buttons = message->m_Payload.m_DeviceState.m_Buttons;
  device->m_State = message->m_Payload.m_DeviceState.m_State;
  NotifyDeviceState(device);
}

void OnServiceNotify(WPARAM wParam, LPARAM lParam) {
  const uint32_t code = static_cast<uint32_t>(wParam);
  if (code != 1 && code != 2) {
    DebugPrintMessage(IDS_UNKNOWN_MESSAGE, code, static_cast<uint32_t>(lParam));
    return;
  }
  ReconnectPipe();
}

AgentDeviceRecord* FindDeviceRecord(uint16_t id) {
  for (auto* d = static_cast<AgentDeviceRecord*>(PoolFirst(&AgentDevices)); d;
       d = static_cast<AgentDeviceRecord*>(PoolNext(&AgentDevices))) {
    if (d->m_Id == id) return d;
  }
  return nullptr;
}
