#include "manager.h"

#include "agent_resource.h"
#include "allow_message.h"
#include "manager_messages.h"
#include "message_windows.h"
#include "reporting.h"
#include "system_calls.h"

using namespace kestrin::manager;

HWND ManagerWindow;
HWND ServiceListenerWindow;
UINT KestrinMessageId;
UINT ServiceMessageId;
SlotPool AgentClients;
int FocusedClient = kNoClient;
HWND LastForegroundWindow;
DWORD LastForegroundProcess;
uint16_t PendingLogFactors[4];

namespace {

ManagerOperations Operations;

// Ends the focus-loss notice: device enabled, ball and scroll hat active cleared.
constexpr uint16_t kFocusLossMask = 0xE9FF;
// The stored copy of a state never holds the two change bits.
constexpr uint16_t kChangeBitsMask = 0xD7FF;
constexpr uint16_t kDeviceOpen = StateDeviceAttached | StateDeviceEnabled;
// WM_WTSSESSION_CHANGE: console connect (1) and disconnect (2).
constexpr UINT kSessionChange = 0x02B1;

// Window handles travel as 32-bit values: a 32-bit client's handle reaches a
// 64-bit agent zero-extended, and handles are sign-extended 32-bit values.
HWND WindowFromParam(LPARAM lParam) {
  return reinterpret_cast<HWND>(static_cast<LONG_PTR>(static_cast<int32_t>(lParam)));
}

bool IsRegistered(UINT message, UINT id) { return id != 0 && IsMessage(message, id); }

// A process is the client's when it is the client's own or the one it works
// for; process id 0 (none known) is nobody's.
bool ClientHasProcess(const AgentClientRecord* client, DWORD processId) {
  return processId != 0 &&
         (client->m_ProcessId == processId || client->m_AssociatedProcessId == processId);
}

AgentClientRecord* ClientAt(int index) {
  return static_cast<AgentClientRecord*>(PoolRecord(&AgentClients, static_cast<uint16_t>(index)));
}

int IndexOf(const AgentClientRecord* client) { return PoolIndexOf(&AgentClients, client); }

// A focused client whose window is gone (its thread or process ended without
// a goodbye, and no post has found it gone yet) leaves the table: it holds
// the focus for nobody.
void DropFocusedClientIfGone() {
  if (FocusedClient == kNoClient) return;
  AgentClientRecord* focused = ClientAt(FocusedClient);
  if (!IsWindow(focused->m_Window)) RemoveClient(focused);
}

// The foreground is forgotten and sampled again as it is now. Used when a
// client arrives for the foreground process (its first hello, or the
// completed id of the process it works for), so that it is weighed for the
// focus at once, and when the focused client has gone (its goodbye, or a post
// that found its window gone), so that the focus is handed to a client of the
// program in front, never to one of a program that has since gone to the
// background. A focused client of the process in front keeps the focus.
void RetrackForeground() {
  DropFocusedClientIfGone();
  LastForegroundWindow = reinterpret_cast<HWND>(-1);
  LastForegroundProcess = static_cast<DWORD>(-1);
  TrackForeground();
}

// The focused client loses the focus before it is told: a failed post then
// has no focus to hand on. A client bound to device 1 loses the device.
void TakeFocusFrom(AgentClientRecord* focused) {
  FocusedClient = kNoClient;
  if (focused->m_DeviceId != 1) return;
  focused->m_LastState =
      static_cast<uint16_t>((focused->m_LastState & kFocusLossMask & 0xFF00) | DeviceStateNotice);
  focused->m_LastButtons = 0;
  PostToClient(focused, focused->m_LastState, 0);
}

// Drops a client; when it held the focus, the focus is handed on.
void DropClient(AgentClientRecord* client) {
  const bool wasFocused = FocusedClient == IndexOf(client);
  RemoveClient(client);
  if (wasFocused) RetrackForeground();
}

LRESULT CALLBACK ServiceListenerWndProc(HWND window, UINT message, WPARAM wParam,
                                        LPARAM lParam) {
  if (IsRegistered(message, ServiceMessageId)) {
    if (Operations.m_ServiceNotify) Operations.m_ServiceNotify(wParam, lParam);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

void CreateManagerWindow(HINSTANCE instance) {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = ManagerWndProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kManagerClass;
  RegisterClassA(&windowClass);
  ManagerWindow = CreateWindowExA(0, kManagerClass, kManagerTitle, 0, 0, 0, 0, 0, HWND_MESSAGE,
                                  nullptr, instance, nullptr);
}

// Never shown: it exists only to be a top-level recipient of the broadcast.
void CreateServiceListenerWindow(HINSTANCE instance) {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = ServiceListenerWndProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kServiceListenerClass;
  RegisterClassA(&windowClass);
  ServiceListenerWindow = CreateWindowExA(0, kServiceListenerClass, "", WS_POPUP, 0, 0, 0, 0,
                                          nullptr, nullptr, instance, nullptr);
}

}  // namespace

void InitManager(HINSTANCE instance, const char* serviceMessageName,
                 const ManagerOperations* operations) {
  Operations = *operations;
  CreateManagerWindow(instance);
  KestrinMessageId = RegisterWindowMessageChecked(kMessageName);
  ServiceMessageId = RegisterWindowMessageChecked(serviceMessageName);
  AllowMessage(ManagerWindow, KestrinMessageId);
  CreateServiceListenerWindow(instance);
  PoolInit(&AgentClients, sizeof(AgentClientRecord));
  FocusedClient = kNoClient;
}

LRESULT CALLBACK ManagerWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (IsRegistered(message, KestrinMessageId)) {
    OnManagerMessage(wParam, lParam);
    return 0;
  }
  if (IsRegistered(message, ServiceMessageId)) {
    if (Operations.m_ServiceNotify) Operations.m_ServiceNotify(wParam, lParam);
    return 0;
  }
  switch (message) {
    case WM_CREATE:
    case WM_DESTROY:
      return 0;
    case kSessionChange:
      if (wParam == 1 || wParam == 2) {
        UpdateFocusedClient();
        return 0;
      }
      break;
    default:
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

void OnManagerMessage(WPARAM wParam, LPARAM lParam) {
  const uint32_t request = static_cast<uint32_t>(wParam);
  const uint32_t payload = static_cast<uint32_t>(lParam);
  const HWND window = WindowFromParam(lParam);
  switch (RequestCode(request)) {
    case ClientHello: {
      AgentClientRecord* client = FindClientByWindow(window);
      if (!client) client = AddClient(window);
      if (!client) return;
      PostToClient(client, ClientRegistered, client->m_DeviceId);
      if (!ClientIsRegistered(client)) return;  // its window is gone
      if (client->m_ProcessId == LastForegroundProcess) RetrackForeground();
      return;
    }
    case ClientGoodbye:
      if (AgentClientRecord* client = FindClientByWindow(window)) DropClient(client);
      return;
    case ClientFocusLost:
    case ClientFocusGained:
      TrackForeground();
      return;
    case ClientProcessHigh:
      if (AgentClientRecord* client = FindClientByWindow(window)) {
        client->m_AssociatedProcessId = request & 0xFFFF0000u;
        client->m_ClientFlags |= kClientAwaitingLowHalf;
      }
      return;
    case ClientProcessLow: {
      AgentClientRecord* client = FindClientByWindow(window);
      if (!client || !(client->m_ClientFlags & kClientAwaitingLowHalf)) return;
      client->m_AssociatedProcessId |= RequestHigh(request);
      client->m_ClientFlags &= static_cast<uint16_t>(~kClientAwaitingLowHalf);
      if (client->m_AssociatedProcessId == LastForegroundProcess) RetrackForeground();
      return;
    }
    case SetLogFactorsLow:
      PendingLogFactors[0] = static_cast<uint16_t>(payload);
      PendingLogFactors[1] = static_cast<uint16_t>(payload >> 16);
      return;
    case SetLogFactorsHigh:
      PendingLogFactors[2] = static_cast<uint16_t>(payload);
      PendingLogFactors[3] = static_cast<uint16_t>(payload >> 16);
      if (Operations.m_ApplyLogFactors) Operations.m_ApplyLogFactors(1, PendingLogFactors);
      return;
    case SetFlags:
      if (Operations.m_ApplyFlags) Operations.m_ApplyFlags(1, static_cast<uint16_t>(payload & 1));
      return;
    case TestAutoZero:
      if (Operations.m_SendAutoZero) Operations.m_SendAutoZero(1);
      return;
    default:
      DebugPrintMessage(IDS_UNKNOWN_MESSAGE, request, payload);
      return;
  }
}

void BroadcastToClients(WPARAM wParam, LPARAM lParam) {
  ForEachMessageWindow(kClientClass, kClientTitle, [&](HWND window) {
    PostMessageA(window, KestrinMessageId, wParam, lParam);  // a vanished window: nothing to do
    return true;
  });
}

void PostToClient(AgentClientRecord* client, uint16_t lowWord, uint32_t lParam) {
  const WPARAM wParam = NoticeWParam(client->m_DeviceId, lowWord);
  if (PostMessageA(client->m_Window, KestrinMessageId, wParam, static_cast<LPARAM>(lParam)))
    return;
  if (GetLastError() != ERROR_INVALID_WINDOW_HANDLE) return;  // other failures are ignored
  DropClient(client);
}

AgentClientRecord* AddClient(HWND window) {
  DWORD processId = 0;
  if (!AgentSystem.GetWindowThreadProcessId(window, &processId)) {
    const DWORD error = GetLastError();
    DebugPrintMessage(IDS_WINDOW_PROCESS_NOT_FOUND,
                      static_cast<long>(reinterpret_cast<LONG_PTR>(window)),
                      static_cast<const char*>(FormatSystemError(error)));
    return nullptr;
  }
  auto* client = static_cast<AgentClientRecord*>(PoolAlloc(&AgentClients));
  if (!client) return nullptr;
  client->m_Window = window;
  client->m_ProcessId = processId;
  client->m_AssociatedProcessId = 0;
  client->m_ClientFlags &= static_cast<uint16_t>(~kClientAwaitingLowHalf);
  const uint16_t device = Operations.m_FindUnassignedDevice ? Operations.m_FindUnassignedDevice() : 0;
  client->m_DeviceId = device ? device : 1;
  return client;
}

void RemoveClient(AgentClientRecord* client) {
  const int index = IndexOf(client);
  PoolRelease(&AgentClients, static_cast<uint16_t>(index));
  if (FocusedClient == index) FocusedClient = kNoClient;
}

AgentClientRecord* FindClientByWindow(HWND window) {
  for (auto* c = static_cast<AgentClientRecord*>(PoolFirst(&AgentClients)); c;
       c = static_cast<AgentClientRecord*>(PoolNext(&AgentClients))) {
    if (c->m_Window == window) return c;
  }
  return nullptr;
}

AgentClientRecord* FindClientByProcess(DWORD processId) {
  for (auto* c = static_cast<AgentClientRecord*>(PoolFirst(&AgentClients)); c;
       c = static_cast<AgentClientRecord*>(PoolNext(&AgentClients))) {
    if (ClientHasProcess(c, processId)) return c;
  }
  return nullptr;
}

AgentClientRecord* FindClientByDevice(uint16_t deviceId) {
  for (auto* c = static_cast<AgentClientRecord*>(PoolFirst(&AgentClients)); c;
       c = static_cast<AgentClientRecord*>(PoolNext(&AgentClients))) {
    if (c->m_DeviceId == deviceId) return c;
  }
  return nullptr;
}

int ClientIsRegistered(const AgentClientRecord* client) {
  const uint16_t index = static_cast<uint16_t>(IndexOf(client));
  return index < AgentClients.count && (AgentClients.links[index] & kPoolUsedMark) != 0;
}

void TrackForeground() {
  HWND window = AgentSystem.GetForegroundWindow();
  if (window == LastForegroundWindow) return;
  LastForegroundWindow = window;
  if (!window) return;  // during a switch: the focus stays where it was
  // A window destroyed since GetForegroundWindow has no process: the focus
  // stays where it was, as for a null window.
  DWORD processId = 0;
  if (!AgentSystem.GetWindowThreadProcessId(window, &processId) || processId == 0) return;
  if (processId == LastForegroundProcess) return;
  LastForegroundProcess = processId;
  UpdateFocusedClient();
}

void UpdateFocusedClient() {
  const DWORD processId = LastForegroundProcess;
  if (FocusedClient != kNoClient) {
    AgentClientRecord* focused = ClientAt(FocusedClient);
    if (ClientHasProcess(focused, processId)) return;
    TakeFocusFrom(focused);  // the lookup below hands the focus on
  }
  AgentClientRecord* client = FindClientByProcess(processId);
  if (!client) return;
  FocusedClient = IndexOf(client);
  SendStateToClient(client);
}

void SendStateToClient(AgentClientRecord* client) {
  AgentDeviceRecord* device =
      Operations.m_GetDeviceForClient ? Operations.m_GetDeviceForClient(client) : nullptr;
  if (!device) return;
  if ((device->m_State & kDeviceOpen) != kDeviceOpen) return;
  client->m_LastState =
      static_cast<uint16_t>((device->m_State & kChangeBitsMask & 0xFF00) | DeviceStateNotice);
  client->m_LastButtons = device->m_Buttons;
  PostToClient(client, client->m_LastState, client->m_LastButtons);
}

AgentClientRecord* FindClientForDevice(AgentDeviceRecord* device) {
  if (device->m_Id != 1) return FindClientByDevice(device->m_Id);
  TrackForeground();
  if (FocusedClient == kNoClient) return nullptr;
  AgentClientRecord* focused = ClientAt(FocusedClient);
  return focused->m_DeviceId == 1 ? focused : nullptr;
}

void NotifyDeviceState(AgentDeviceRecord* device) {
  AgentClientRecord* client = FindClientForDevice(device);
  if (!client) return;
  const uint16_t stateHigh = device->m_State & 0xFF00;
  if ((client->m_LastState & 0xFF00) == stateHigh && client->m_LastButtons == device->m_Buttons)
    return;
  PostToClient(client, static_cast<uint16_t>(stateHigh | DeviceStateNotice), device->m_Buttons);
  if (!ClientIsRegistered(client)) return;
  client->m_LastState =
      static_cast<uint16_t>(((client->m_LastState & 0x00FF) | stateHigh) & kChangeBitsMask);
  client->m_LastButtons = device->m_Buttons;
}

AgentDeviceRecord* GetDeviceForClient(AgentClientRecord* client) {
  if (AgentDeviceRecord* device = FindDeviceRecord(client->m_DeviceId)) return device;
  if (client->m_DeviceId == 1) return nullptr;
  client->m_DeviceId = 1;
  return FindDeviceRecord(1);
}

uint16_t FindUnassignedDevice() {
  for (auto* d = static_cast<AgentDeviceRecord*>(PoolFirst(&AgentDevices)); d;
       d = static_cast<AgentDeviceRecord*>(PoolNext(&AgentDevices))) {
    if (!FindClientByDevice(d->m_Id)) return d->m_Id;
  }
  return 0;
}
