// The pipe server: the service's named pipe in message mode. Exactly one
// instance listens for the next client; every connection keeps its own
// instance with one overlapped read and at most one overlapped write, whose
// events sit in the service's wait list. Everything runs on the service thread.
#include "pipe_server.h"

#include <string.h>

#include "device_slot.h"
#include "feature_reports.h"
#include "messages.h"
#include "reporting.h"
#include "resource.h"
#include "service_private.h"
#include "wait_loop.h"

SlotPool PipeClients;
uint16_t ListeningIndex = kNoListener;
SECURITY_ATTRIBUTES PipeSecurity;
UINT SvcElfMessage;

namespace {

// Everyone, authenticated users, anonymous logons and built-in guests may
// read, write and execute; the creator-owner has all access. Without the
// anonymous entry when the system does not know it.
const char kPipeSddl[] =
    "D:(A;;GRGWGX;;;WD)(A;;GRGWGX;;;AU)(A;;GRGWGX;;;AN)(A;;GRGWGX;;;BG)(A;;GA;;;CO)";
const char kPipeSddlFallback[] = "D:(A;;GRGWGX;;;WD)(A;;GRGWGX;;;AU)(A;;GRGWGX;;;BG)(A;;GA;;;CO)";

constexpr DWORD kPipeBufferBytes = 120;
constexpr uint16_t kWaitHandleLimit = MAXIMUM_WAIT_OBJECTS;  // 64
// Records of the client pool, allocated once. A record holds the OVERLAPPED
// blocks and buffers of its pending reads and writes, which the system fills
// in where they were when the I/O started: the pool must never move them, so
// it never grows. The wait list has room for fewer instances than this anyway
// (its 64 handles less the wake event and room for a device: 30 instances).
constexpr uint16_t kPipeClientRecords = 32;

// Set while no instance listens because the wait list had no room for one
// more client; the end of the callback that closes a client makes one again.
bool ListenerDeferred;
// Depth of walks over the client pool: no record may be taken during one, so
// a listener wanted then is made once the walk is over.
int ClientWalks;
// Set by ClosePipeServer: nothing is recreated while the server goes down.
bool ServerClosing;

uint16_t OpenDeviceCount() {
  // Counted from the used marks, not by a walk: this runs inside walks of the
  // device table too.
  uint16_t devices = 0;
  for (uint16_t i = 0; i < DeviceTable.count; ++i)
    if (DeviceTable.links[i] & kPoolUsedMark) ++devices;
  return devices;
}

uint16_t ConnectedClientCount() {
  uint16_t clients = 0;
  for (uint16_t i = 0; i < PipeClients.count; ++i)
    if (PipeClientInUse(i) && i != ListeningIndex) ++clients;
  return clients;
}

void BuildPipeSecurity() {
  PipeSecurity.nLength = sizeof PipeSecurity;  // 12
  PipeSecurity.bInheritHandle = FALSE;
  PipeSecurity.lpSecurityDescriptor = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  // Neither text converting leaves default security (already reported).
  if (SddlToSecurityDescriptor(kPipeSddl, kPipeSddlFallback, &descriptor))
    PipeSecurity.lpSecurityDescriptor = descriptor;
}

void ResumeListening() {
  if (!ListenerDeferred || ServerClosing || ClientWalks > 0) return;
  if (ListeningIndex != kNoListener) {
    ListenerDeferred = false;
    return;
  }
  CreatePipeInstance();
}

// Keeps the latest state message per device number for a client whose write
// is outstanding; it goes out when that write completes.
void RememberMissedState(PipeClient* client, const PipeMessage* message) {
  for (uint16_t i = 0; i < client->m_MissedCount; ++i) {
    if (client->m_Missed[i].m_Device == message->m_Device) {
      client->m_Missed[i] = *message;
      return;
    }
  }
  if (client->m_MissedCount < kMissedStates) client->m_Missed[client->m_MissedCount++] = *message;
}

// A write is never issued while the client's previous one is outstanding.
void WriteOrSkip(uint16_t index, const PipeMessage* message) {
  PipeClient* client = PipeClientAt(index);
  if (client->m_WritePending) {
    DebugPrintMessage(IDS_PIPE_WRITE_SKIPPED);
    if (message->m_Opcode == PipeDeviceState) RememberMissedState(client, message);
    return;
  }
  WritePipeMessage(index, message);
}

void SendMissedState(uint16_t index) {
  PipeClient* client = PipeClientAt(index);
  if (client->m_WritePending || client->m_MissedCount == 0) return;
  PipeMessage message = client->m_Missed[0];
  --client->m_MissedCount;
  memmove(&client->m_Missed[0], &client->m_Missed[1],
          client->m_MissedCount * sizeof client->m_Missed[0]);
  WritePipeMessage(index, &message);
}

}  // namespace

uint16_t PipeEntryBudget() {
  int budget = kWaitHandleLimit - 1 - 2 * (OpenDeviceCount() + 1);
  return budget > 0 ? static_cast<uint16_t>(budget) : 0;
}

void InitPipeServer() {
  SvcElfMessage = RegisterWindowMessageChecked(kServiceMessageName);
  PoolInit(&PipeClients, sizeof(PipeClient));
  if (PipeClients.capacity < kPipeClientRecords)
    PoolGrow(&PipeClients, static_cast<uint16_t>(kPipeClientRecords - PipeClients.capacity));
  BuildPipeSecurity();
  ServerClosing = false;
  ListenerDeferred = false;
  ClientWalks = 0;
  CreatePipeInstance();
}

void ClosePipeServer() {
  ServerClosing = true;
  ++ClientWalks;
  for (void* record = PoolFirst(&PipeClients); record; record = PoolNext(&PipeClients))
    ClosePipeClient(PoolIndexOf(&PipeClients, record));
  --ClientWalks;
  PoolFree(&PipeClients);
  ListeningIndex = kNoListener;
  ListenerDeferred = false;
  if (PipeSecurity.lpSecurityDescriptor) {
    LocalFree(PipeSecurity.lpSecurityDescriptor);
    PipeSecurity.lpSecurityDescriptor = nullptr;
  }
}

namespace {

enum class Listen { Done, Again };

Listen MakeListener() {
  // Room for this instance once it is a connected client (a read and a write
  // entry); until a client leaves, further clients wait for a free instance.
  if (2 * (ConnectedClientCount() + 1) > PipeEntryBudget()) {
    ListenerDeferred = true;
    return Listen::Done;
  }
  if (PipeClients.freeHead < 0 && PipeClients.count >= PipeClients.capacity) {
    // Taking one more record would grow the pool and move the records whose
    // I/O is pending.
    ListenerDeferred = true;
    return Listen::Done;
  }
  ListenerDeferred = false;
  void* record = PoolAlloc(&PipeClients);
  if (!record) return Listen::Done;  // no instance listens
  PipeClient* client = static_cast<PipeClient*>(record);
  memset(client, 0, sizeof *client);
  uint16_t index = PoolIndexOf(&PipeClients, client);

  client->m_Handle = CreateNamedPipeA(
      kPipeName, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
      PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES,
      kPipeBufferBytes, kPipeBufferBytes, 0,  // default time-out
      PipeSecurity.lpSecurityDescriptor ? &PipeSecurity : nullptr);
  if (client->m_Handle == INVALID_HANDLE_VALUE) {
    ReportCallFailure(CallCreateNamedPipe, GetLastError());
    PoolRelease(&PipeClients, index);
    return Listen::Done;
  }
  client->m_ReadOverlapped.hEvent = CreateEventChecked(nullptr, TRUE, FALSE, nullptr);
  if (client->m_ReadOverlapped.hEvent)
    client->m_WriteOverlapped.hEvent = CreateEventChecked(nullptr, TRUE, FALSE, nullptr);
  if (!client->m_WriteOverlapped.hEvent) {
    ClosePipeClient(index);
    return Listen::Done;
  }

  if (ConnectNamedPipe(client->m_Handle, &client->m_WriteOverlapped)) {
    // An overlapped connect never completes that way.
    DebugPrintMessage(IDS_CONNECT_PIPE_ERROR);
    ClosePipeClient(index);
    return Listen::Done;
  }
  DWORD error = GetLastError();
  if (error == ERROR_IO_PENDING) {
    ListeningIndex = index;
  } else if (error == ERROR_PIPE_CONNECTED) {
    // A client came between create and connect. It is served from the wait
    // list like any other connect (its signalled write event), so that making
    // a listener never serves a client inside another part's walk of the
    // device table. SetEvent on our own event has nothing to fail on.
    client->m_ConnectedAtOnce = 1;
    ListeningIndex = index;
    SetEvent(client->m_WriteOverlapped.hEvent);
  } else if (error == ERROR_NO_DATA) {
    // A client opened this instance and closed it again before the connect:
    // the normal end of a connection, not a failure of the server. Left at
    // that, no instance would listen until the service restarts.
    ClosePipeClient(index);
    return Listen::Again;
  } else {
    ReportCallFailure(CallConnectNamedPipe, error);
    ClosePipeClient(index);
  }
  return Listen::Done;
}

// Clients that keep coming and going faster than this leave the pipe
// without a listener until the next connected client leaves.
constexpr int kListenAttempts = 16;

}  // namespace

void CreatePipeInstance() {
  for (int attempt = 0; attempt < kListenAttempts; ++attempt) {
    ListeningIndex = kNoListener;
    MarkWaitListForRebuild();
    if (MakeListener() == Listen::Done) return;
  }
  ListenerDeferred = true;
}


void OnPipeConnected(uint16_t index) {
  PipeClient* client = PipeClientAt(index);
  if (!client->m_ConnectedAtOnce) {
    DWORD transferred = 0;
    if (!GetOverlappedResult(client->m_Handle, &client->m_WriteOverlapped, &transferred,
                             FALSE)) {
      ReportCallFailure(CallGetOverlappedResult, GetLastError());
      ClosePipeClient(index);
      CreatePipeInstance();
      return;
    }
  }
  CreatePipeInstance();  // the next listener exists before this client is served
  client = PipeClientAt(index);  // the pool may have moved
  client->m_Connected = 1;

  for (void* record = PoolFirst(&DeviceTable); record; record = PoolNext(&DeviceTable)) {
    const DeviceSlot* slot = static_cast<const DeviceSlot*>(record);
    uint16_t slotIndex = PoolIndexOf(&DeviceTable, slot);
    PipeMessage message = MakeDeviceStateMessage(static_cast<uint16_t>(slotIndex + 1),
                                                 slot->m_PublishedState,
                                                 slot->m_PublishedButtons);
    WriteOrSkip(index, &message);
    if (!PipeClientInUse(index)) {  // that write closed the client
      ResumeListening();
      return;
    }
  }
  ReadPipeMessages(index);
  ResumeListening();
}

void OnPipeReadEvent(uint16_t index) {
  ReadPipeMessages(index);
  ResumeListening();
}

void ReadPipeMessages(uint16_t index) {
  PipeClient* client = PipeClientAt(index);
  DWORD error = ERROR_SUCCESS;
  if (client->m_ReadPending) {
    DWORD bytes = 0;
    if (!GetOverlappedResult(client->m_Handle, &client->m_ReadOverlapped, &bytes, FALSE)) {
      error = GetLastError();
    } else {
      client->m_ReadPending = 0;
      client->m_BytesRead = bytes;
      DispatchPipeMessage(index);
    }
  }
  while (error == ERROR_SUCCESS) {
    client = PipeClientAt(index);
    if (!ReadFile(client->m_Handle, &client->m_InMessage, kPipeMessageBytes,
                  reinterpret_cast<LPDWORD>(&client->m_BytesRead), &client->m_ReadOverlapped)) {
      error = GetLastError();
      break;
    }
    DispatchPipeMessage(index);
  }

  client = PipeClientAt(index);
  switch (error) {
    case ERROR_BROKEN_PIPE:
      LogPipeEvent(index, MSG_PIPE_CLOSED);
      ClosePipeClient(index);
      break;
    case ERROR_IO_PENDING:
      client->m_ReadPending = 1;
      break;
    default:
      // A message longer than 12 bytes ends here with ERROR_MORE_DATA.
      ReportCallFailure(client->m_ReadPending ? CallGetOverlappedResult : CallReadFile, error);
      ClosePipeClient(index);
      break;
  }
}

void DispatchPipeMessage(uint16_t index) {
  const PipeClient* client = PipeClientAt(index);
  // A short message leaves the rest of the buffer as the previous message
  // left it: acting on it would apply stale settings. It is dropped.
  if (client->m_BytesRead != kPipeMessageBytes) return;
  PipeMessage message = client->m_InMessage;
  switch (message.m_Opcode) {
    case PipeSetLogFactors: {
      uint16_t settings[4];
      memcpy(settings, message.m_Payload.m_LogFactors, sizeof settings);
      SetGains(0, settings);  // device 0: the first device slot
      break;
    }
    case PipeSetFlags:
      SetAxisConvention(0, message.m_Payload.m_Flags != 0 ? 1 : 0);
      break;
    case PipeTestAutoZero:
      if (CurrentSlot >= 0)
        QueryDeviceFeature5A(static_cast<DeviceSlot*>(PoolRecord(&DeviceTable, CurrentSlot)));
      break;
    default:
      break;  // any other opcode is ignored without a word
  }
}

void WritePipeMessage(uint16_t index, const PipeMessage* message) {
  PipeClient* client = PipeClientAt(index);
  client->m_OutMessage = *message;
  if (WriteFile(client->m_Handle, &client->m_OutMessage, kPipeMessageBytes,
                reinterpret_cast<LPDWORD>(&client->m_BytesWritten),
                &client->m_WriteOverlapped)) {
    client->m_WritePending = 0;
    return;
  }
  DWORD error = GetLastError();
  if (error == ERROR_IO_PENDING) {
    client->m_WritePending = 1;
  } else if (error == ERROR_NO_DATA) {  // the client has closed its end
    LogPipeEvent(index, MSG_PIPE_CLOSED);
    ClosePipeClient(index);
  } else {
    ReportCallFailure(CallWriteFile, error);
    ClosePipeClient(index);
  }
}

void OnPipeWriteEvent(uint16_t index) {
  PipeClient* client = PipeClientAt(index);
  client->m_WritePending = 0;
  DWORD bytes = 0;
  if (GetOverlappedResult(client->m_Handle, &client->m_WriteOverlapped, &bytes, FALSE)) {
    client->m_BytesWritten = bytes;
    SendMissedState(index);
  } else {
    DWORD error = GetLastError();
    if (error == ERROR_BROKEN_PIPE) {
      LogPipeEvent(index, MSG_PIPE_CLOSED);
    } else {
      ReportCallFailure(CallGetOverlappedResult, error);
    }
    ClosePipeClient(index);
  }
  ResumeListening();
}

void BroadcastPipeMessage(const PipeMessage* message) {
  ++ClientWalks;
  for (void* record = PoolFirst(&PipeClients); record; record = PoolNext(&PipeClients)) {
    const PipeClient* client = static_cast<const PipeClient*>(record);
    if (client->m_Connected) WriteOrSkip(PoolIndexOf(&PipeClients, client), message);
  }
  --ClientWalks;
  ResumeListening();
}

void PublishDeviceState() {
  if (CurrentSlot < 0) return;
  DeviceSlot* slot = static_cast<DeviceSlot*>(PoolRecord(&DeviceTable, CurrentSlot));
  if ((slot->m_State >> 8) == (slot->m_PublishedState >> 8) &&
      slot->m_Buttons == slot->m_PublishedButtons)
    return;
  slot->m_PublishedState =
      static_cast<uint16_t>(slot->m_State & ~(StateBallChanged | StateScrollChanged));
  slot->m_PublishedButtons = slot->m_Buttons;
  // The live state, change bits included.
  PipeMessage message = MakeDeviceStateMessage(1, slot->m_State, slot->m_Buttons);
  BroadcastPipeMessage(&message);
}

void ClosePipeClient(uint16_t index) {
  MarkWaitListForRebuild();
  PipeClient* client = PipeClientAt(index);
  if (index == ListeningIndex) ListeningIndex = kNoListener;
  if (client->m_Handle != INVALID_HANDLE_VALUE) {
    CancelIoChecked(client->m_Handle);
    if (client->m_WriteOverlapped.hEvent) CloseHandleChecked(client->m_WriteOverlapped.hEvent);
    if (client->m_ReadOverlapped.hEvent) CloseHandleChecked(client->m_ReadOverlapped.hEvent);
    // No DisconnectNamedPipe: closing the server end is what the client sees
    // as a broken pipe.
    CloseHandleChecked(client->m_Handle);
  }
  PoolRelease(&PipeClients, index);
  // A listener deferred for want of room is made once the caller is done
  // with this index (ResumeListening at the end of each wait callback and
  // broadcast): made here, it could take this very record while the caller
  // still takes the index for the client just closed.
}

char* FormatIndex(int value) {
  LPSTR text = nullptr;
  if (!FormatString(&text, "%1!d!%0", value)) return nullptr;
  return text;
}

void LogPipeEvent(uint16_t index, uint32_t eventId) {
  char* text = FormatIndex(static_cast<int16_t>(index));
  if (!text) return;
  const char* strings[1] = {text};
  ReportEventLog(EVENTLOG_INFORMATION_TYPE, eventId, strings);
  LocalFree(text);
}

void AddPipeWaitItems() {
  for (void* record = PoolFirst(&PipeClients); record; record = PoolNext(&PipeClients)) {
    const PipeClient* client = static_cast<const PipeClient*>(record);
    uint16_t index = PoolIndexOf(&PipeClients, client);
    if (index == ListeningIndex) {
      AddWaitItem(client->m_WriteOverlapped.hEvent, OnPipeConnected, index);
    } else {
      AddWaitItem(client->m_ReadOverlapped.hEvent, OnPipeReadEvent, index);
      AddWaitItem(client->m_WriteOverlapped.hEvent, OnPipeWriteEvent, index);
    }
  }
}
