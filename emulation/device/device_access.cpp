#include "device_access.h"

#include <windows.h>

#include <new>

using Kestrin1::CKestrin;

namespace {
const DeviceAccess* DeviceOf(const DeviceHandle* handle) {
  return handle ? handle->device : nullptr;
}
}  // namespace

DeviceHandle* CreateDeviceHandle(IDeviceHost* host) {
  DeviceHandle* handle = new (std::nothrow) DeviceHandle;
  if (!handle) return nullptr;
  handle->host = host;
  DeviceAccess* device = new (std::nothrow) DeviceAccess();
  handle->device = device;
  if (!device) return handle;  // nothing registered
  device->owner = handle;
  // Current before the connection exists: the connection's first notices
  // are for this object.
  SetCurrentDevice(device);
  device->connection = new (std::nothrow) CKestrin(0, CKestrin::AccessModeDefault);
  CKestrin::Register(DeviceCallback, GetCurrentProcessId());
  return handle;
}

void DestroyDeviceHandle(DeviceHandle* handle) {
  if (!handle) return;
  if (DeviceAccess* device = handle->device) {
    // Any destruction ends events for every handle until the next Create; a
    // callback under way on another thread ends before the object goes.
    ClearCurrentDevice();
    if (device->connection) {
      CKestrin::UnRegister(GetCurrentProcessId());
      delete device->connection;
    }
    delete device;
  }
  delete handle;
}

int IsDeviceOpen(const DeviceHandle* handle) {
  const DeviceAccess* device = DeviceOf(handle);
  return device ? device->open : 0;
}

int IsDeviceReady(const DeviceHandle* handle) {
  const DeviceAccess* device = DeviceOf(handle);
  return device ? device->ready : 0;
}

int IsDeviceActive(const DeviceHandle* handle) {
  const DeviceAccess* device = DeviceOf(handle);
  return device && (device->ballActive || device->scrollActive) ? 1 : 0;
}

unsigned int GetDeviceButtons(const DeviceHandle* handle) {
  const DeviceAccess* device = DeviceOf(handle);
  return device ? device->buttons : 0;
}

int GetDeviceMotion(DeviceHandle* handle, double* seconds, NavMotion* motion) {
  const DeviceAccess* device = DeviceOf(handle);
  CKestrin* connection = device ? device->connection : nullptr;
  if (!connection) return 0;
  // Both sides are read every time: each read moves that side's state on.
  const int ballNew = connection->GetBallMotion();
  const int scrollNew = connection->GetScrollMotion();
  return MotionToDoubles(ballNew, connection->m_Motion, scrollNew, connection->m_Scroll, seconds,
                         motion);
}
