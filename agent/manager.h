// The manager window "KestrinManager": the message-only window through which
// client programs register and the properties program sends its settings;
// the table of client windows; the routing of device state to the client
// whose process owns the foreground. Main thread only: the procedures run
// inside the agent's message pump, and every notice is posted.
#pragma once
#include <windows.h>
#include <stdint.h>

#include "service_pipe.h"
#include "slot_pool.h"

// One client window (a record of the client table).
struct AgentClientRecord {
  HWND m_Window;                   // the client's message-only window
  uint32_t m_ProcessId;            // process that owns m_Window
  uint32_t m_AssociatedProcessId;  // a process the client works for; 0 when none
  uint16_t m_LastState;    // state high byte last posted (no change bits); low byte 6
  uint32_t m_LastButtons;  // lParam of the last DeviceStateNotice
  uint16_t m_DeviceId;     // device number the client is bound to, 1 or more
  uint16_t m_ClientFlags;  // kClientAwaitingLowHalf
};

// m_ClientFlags: the high half of m_AssociatedProcessId arrived, the low
// half is awaited.
constexpr uint16_t kClientAwaitingLowHalf = 0x2;

// The operations the start-up hands the manager; it never bypasses them.
struct ManagerOperations {
  void (*m_ServiceNotify)(WPARAM wParam, LPARAM lParam);
  void (*m_ApplyLogFactors)(uint16_t device, const uint16_t factors[4]);
  void (*m_ApplyFlags)(uint16_t device, uint16_t flags);
  void (*m_SendAutoZero)(uint16_t device);
  AgentDeviceRecord* (*m_GetDeviceForClient)(AgentClientRecord* client);
  uint16_t (*m_FindUnassignedDevice)();
};

constexpr int kNoClient = -1;

// The class of the hidden top-level window that hears the service's
// broadcast for the manager: broadcasts reach top-level windows only.
constexpr char kServiceListenerClass[] = "KestrinManagerListener";

extern HWND ManagerWindow;
extern HWND ServiceListenerWindow;
extern UINT KestrinMessageId;
extern UINT ServiceMessageId;
extern SlotPool AgentClients;  // AgentClientRecord
extern int FocusedClient;      // table index, kNoClient for none
extern HWND LastForegroundWindow;
extern DWORD LastForegroundProcess;
extern uint16_t PendingLogFactors[4];

void InitManager(HINSTANCE instance, const char* serviceMessageName,
                 const ManagerOperations* operations);
LRESULT CALLBACK ManagerWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void OnManagerMessage(WPARAM wParam, LPARAM lParam);
// Posts "KestrinMessage" to every client window found by class and title.
void BroadcastToClients(WPARAM wParam, LPARAM lParam);
void NotifyDeviceState(AgentDeviceRecord* device);
void PostToClient(AgentClientRecord* client, uint16_t lowWord, uint32_t lParam);

AgentClientRecord* AddClient(HWND window);
void RemoveClient(AgentClientRecord* client);
AgentClientRecord* FindClientByWindow(HWND window);
AgentClientRecord* FindClientByProcess(DWORD processId);
AgentClientRecord* FindClientByDevice(uint16_t deviceId);
int ClientIsRegistered(const AgentClientRecord* client);

void TrackForeground();
void UpdateFocusedClient();
void SendStateToClient(AgentClientRecord* client);
AgentClientRecord* FindClientForDevice(AgentDeviceRecord* device);

// The device-table queries the start-up hands in.
AgentDeviceRecord* GetDeviceForClient(AgentClientRecord* client);
uint16_t FindUnassignedDevice();
