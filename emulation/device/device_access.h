// Device handles of IKestrinPrivate: each owns a device object with its own
// connection of Kestrin1 (a CKestrin with id 0 and access mode 0). Every
// device object registers DeviceCallback, and the newest one receives the
// events. A handle whose device object (or connection) could not be made
// answers every operation with 0 and delivers no motion.
#pragma once

#include "device_events.h"

DeviceHandle* CreateDeviceHandle(IDeviceHost* host);
void DestroyDeviceHandle(DeviceHandle* handle);
int IsDeviceOpen(const DeviceHandle* handle);
int IsDeviceReady(const DeviceHandle* handle);
int IsDeviceActive(const DeviceHandle* handle);
unsigned int GetDeviceButtons(const DeviceHandle* handle);
// 1 with new motion in *motion and its seconds in *seconds; 0 with both
// untouched.
int GetDeviceMotion(DeviceHandle* handle, double* seconds, NavMotion* motion);
