// The agent's side of the service's named pipe: one handle, at most one read
// and one write outstanding, both overlapped and completed through the two
// events the event loop waits on; the device table of the states the service
// reported; the speed settings and axis convention sent to the service.
// Main thread only.
#pragma once
#include <windows.h>
#include <stdint.h>

#include "outgoing_queue.h"
#include "pipe_protocol.h"
#include "slot_pool.h"

// One device number the service has reported (a record of the device table,
// created on the first message for its number and never removed).
struct AgentDeviceRecord {
  uint16_t m_Id;       // 1-based device number
  uint16_t m_State;    // EDeviceState as last received (its high byte counts)
  uint32_t m_Buttons;  // as last received
};

// ReadRecord's results.
enum ERecordResult {
  RecordCopied = 0,     // a message was copied out
  RecordPending = 1,    // a read is outstanding
  RecordPipeClosed = 2  // the pipe is closed, or was just closed
};

using ServiceRecordHandler = void (*)(const PipeMessage* message);

// While the pipe is closed the agent tries to open it again at this pace: a
// service in another session cannot reach the agent with its broadcast.
constexpr UINT kReopenIntervalMs = 3000;

extern SlotPool AgentDevices;   // AgentDeviceRecord
extern OutgoingQueue Outgoing;  // messages waiting for the outstanding write

// The events, the device table, and a first attempt to open the pipe.
void OpenServicePipe(ServiceRecordHandler handler);
// 1 when the pipe was opened; 0 leaves it closed (and the reopen timer set).
int OpenPipe();
void ClosePipe();
int PipeIsOpen();
int ReadRecord(PipeMessage* out);
void DrainPipe();
void WriteRecord(const PipeMessage* message);
// The event loop's handlers of the read event (0) and the write event (1).
void OnReadEvent();
void OnWriteEvent();
HANDLE PipeReadEvent();
HANDLE PipeWriteEvent();
// Cancels outstanding I/O and closes the pipe and both events.
void ClosePipeAndEvents();

void SendLogFactors(uint16_t device, const uint16_t factors[4]);
void SendFlags(uint16_t device, uint16_t flags);
void SendAutoZero(uint16_t device);
// Opens a closed pipe, sends the stored settings first, then takes what the
// service sent on connect; nothing when the pipe is open.
void ReconnectPipe();

void OnServiceRecord(const PipeMessage* message);
void OnServiceNotify(WPARAM wParam, LPARAM lParam);

// The first device record with that number, or null.
AgentDeviceRecord* FindDeviceRecord(uint16_t id);
