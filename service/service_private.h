// Entry points that the parts of the service call in one another. Prototypes
// only; each part's own types live in its header.
//
// Test seams, one rule: a test stands in for another part of the service by
// linking its own recorder of these entry points in place of that part's
// file; for the devices by linking the simulated HID access layer
// (hid_access.h); for a system call whose failures the system cannot be made
// to show by a function table (scm_calls.h). A stand-in records what it is
// asked and never repeats the part's own work: a test that needs that work
// links the part's real file.
#pragma once
#include <windows.h>
#include <stdint.h>

struct DeviceMotionRecord;

// ---- service program and control ----
extern HANDLE WakeEvent;          // manual reset, created signalled; null when absent
extern volatile uint32_t StopFlag;
extern SERVICE_STATUS_HANDLE StatusHandle;
extern char* ModulePath;          // full path of the running program; never freed
extern char* DisplayName;         // string 101; freed by ReleaseServiceResources or main
extern uint32_t VerboseFlag;      // "-v": InstallService prints its progress lines
extern SERVICE_STATUS ServiceStatus;  // shared by the service thread and the handler
extern HDEVNOTIFY DeviceNotification;  // HID interface arrivals; null when not registered
extern const char kServiceName[];  // "Kestrin"

int StoreModulePath();
int InstallService();
int UninstallService();
void WINAPI ServiceMain(DWORD argc, LPSTR* argv);
void InitService();
void ShutdownService();
void ReleaseServiceResources();
DWORD WINAPI ServiceControlHandler(DWORD control, DWORD eventType, void* eventData,
                                   void* context);
void BroadcastServiceStarted(WPARAM wParam, LPARAM lParam);

// ---- shared-memory section ----
void BuildSharedMemorySecurity();
void* InitSharedMemory();
void UnmapSharedMemory();
// Record k+1 for device slot k, or null when the section is not mapped or the
// slot lies beyond the records the section holds.
DeviceMotionRecord* MotionRecordForSlot(uint16_t slotIndex);

// ---- pipe server ----
extern UINT SvcElfMessage;  // registered kServiceMessageName
void InitPipeServer();
void ClosePipeServer();
void AddPipeWaitItems();    // the pipe instances' entries of the wait list
void PublishDeviceState();

// ---- devices ----
void InitDevices();
void EnumerateDevices();
void OnDeviceArrival(DWORD eventType, void* eventData);
void ProcessArrivalQueue();
void CloseAllDevices();
void AddDeviceWaitItems();  // both read events of every open device

// ---- event log ----
void RegisterEventLogSource();
void ReportEventLog(uint16_t type, uint32_t eventId, const char** strings);

// ---- gains and axis convention ----
// Both keep what they set for the first slot (device number 0 or 1), also
// while no device holds it, for the next device that comes into it.
void SetGains(uint16_t deviceNumber, const uint16_t settings[4]);
void SetAxisConvention(uint16_t deviceNumber, uint16_t flag);
// A newly allocated slot's gains and convention, in the slot and its record:
// the first slot's settings as last set for slot 0, the defaults for others.
void StartSlotSettings(uint16_t slotIndex);
