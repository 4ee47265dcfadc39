// Parts of the service that are still being written: each is removed from
// here when its own file lands. Until then the service runs without them.
#include "service_private.h"

UINT SvcElfMessage;
void BuildSharedMemorySecurity() {}
void* InitSharedMemory() { return nullptr; }
void UnmapSharedMemory() {}
DeviceMotionRecord* MotionRecordForSlot(uint16_t) { return nullptr; }
void InitPipeServer() {}
void ClosePipeServer() {}
void AddPipeWaitItems() {}
void PublishDeviceState() {}
void InitDevices() {}
void EnumerateDevices() {}
void OnDeviceArrival(DWORD, void*) {}
void ProcessArrivalQueue() {}
void CloseAllDevices() {}
void AddDeviceWaitItems() {}
void RegisterEventLogSource() {}
void ReportEventLog(uint16_t, uint32_t, const char**) {}
