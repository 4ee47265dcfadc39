// The service's side of the named pipe (pipe_protocol.h): one listening
// instance at a time, one instance per connected client, all I/O overlapped
// and driven by the service's wait list. Service thread only.
#pragma once
#include <windows.h>
#include <stdint.h>

#include "pipe_protocol.h"
#include "slot_pool.h"

constexpr uint16_t kNoListener = 0xFFFF;

// State messages a client missed while its previous write was outstanding:
// the latest one per device number, sent once the write completes.
constexpr uint16_t kMissedStates = 8;

// One pipe instance (a record of the client pool; the record's index names
// the client in the wait list and in its event texts).
struct PipeClient {
  HANDLE m_Handle;  // server end; INVALID_HANDLE_VALUE when it has none
  uint32_t m_Connected;
  OVERLAPPED m_ReadOverlapped;  // manual-reset read event
  PipeMessage m_InMessage;
  uint32_t m_BytesRead;
  uint32_t m_ReadPending;
  OVERLAPPED m_WriteOverlapped;  // manual-reset write event; carries the connect too
  PipeMessage m_OutMessage;      // buffer of the outstanding write
  uint32_t m_BytesWritten;
  uint32_t m_WritePending;
  PipeMessage m_Missed[kMissedStates];
  uint16_t m_MissedCount;
  uint32_t m_ConnectedAtOnce;  // connected before the connect was issued
};

extern SlotPool PipeClients;
extern uint16_t ListeningIndex;  // instance whose connect is pending; kNoListener when none
extern SECURITY_ATTRIBUTES PipeSecurity;

// Wait-list entries the pipe server may hold at most: the list's 64 handles
// less the wake event, two per open device and room for one more device to
// arrive. No further instance listens while the connected clients fill it.
uint16_t PipeEntryBudget();

void InitPipeServer();
void ClosePipeServer();
void CreatePipeInstance();
void OnPipeConnected(uint16_t index);
void OnPipeReadEvent(uint16_t index);
void OnPipeWriteEvent(uint16_t index);
void ReadPipeMessages(uint16_t index);
void DispatchPipeMessage(uint16_t index);
void WritePipeMessage(uint16_t index, const PipeMessage* message);
void ClosePipeClient(uint16_t index);
void BroadcastPipeMessage(const PipeMessage* message);
void LogPipeEvent(uint16_t index, uint32_t eventId);
// The decimal text of value in a LocalAlloc block, or null.
char* FormatIndex(int value);

inline PipeClient* PipeClientAt(uint16_t index) {
  return static_cast<PipeClient*>(PoolRecord(&PipeClients, index));
}
inline bool PipeClientInUse(uint16_t index) {
  return index < PipeClients.count && (PipeClients.links[index] & kPoolUsedMark);
}
