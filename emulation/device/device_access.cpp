#include "device_access.h"

#include <windows.h>

#include <new>

#include "module_lifetime.h"

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
  DeviceAccess* device = handle->device;
  if (!device) {
    delete handle;
    return;
  }
  // Any destruction ends events for every handle until the next Create. An
  // event being applied to this device goes on to its end and frees it and
  // the handle; it is not waited for: its call of the host may be waiting
  // for this thread. The connection is not used by the events.
  CKestrin* connection = device->connection;
  bool elsewhere = false;
  const bool now = RetireDevice(device, &elsewhere);
  if (elsewhere) KeepThisModuleLoaded();  // that call returns into this module
  if (connection) {
    CKestrin::UnRegister(GetCurrentProcessId());
    delete connection;
  }
  if (now) {
    delete device;
    delete handle;
  }
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
