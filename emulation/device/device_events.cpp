#include "device_events.h"

#include <mutex>

namespace {

// Guards the current device object and each object's calls and retirement;
// never held across a call of the host.
std::mutex g_EventsLock;
DeviceAccess* g_CurrentDevice = nullptr;

// The DeviceCallback calls under way on this thread, innermost first.
struct CallHere {
  const DeviceAccess* device;
  const CallHere* outer;
};
thread_local const CallHere* t_Calls = nullptr;

int CallsHere(const DeviceAccess* device) {
  int count = 0;
  for (const CallHere* call = t_Calls; call; call = call->outer) count += call->device == device;
  return count;
}

// The host of device, null when its handle has none or was destroyed (a
// call already under way still finishes).
IDeviceHost* HostOf(const DeviceAccess* device) {
  if (__atomic_load_n(&device->retired, __ATOMIC_ACQUIRE)) return nullptr;
  return device->owner ? device->owner->host : nullptr;
}

void SetActivity(DeviceAccess* device, int ball, int scroll) {
  const int before = device->ballActive || device->scrollActive;
  device->ballActive = ball;
  device->scrollActive = scroll;
  const int after = device->ballActive || device->scrollActive;
  IDeviceHost* host = HostOf(device);
  if (before == after || !host) return;
  host->OnActive(after);
  // The host may have destroyed its handle in OnActive: the device is then
  // retired and OnMotionStarted is not called for it.
  if (!before && CurrentDevice() == device) host->OnMotionStarted();
}

// Stores value in *flag; the host hears it through notify when it changed.
template <typename Notify>
void SetFlag(DeviceAccess* device, int* flag, int value, Notify notify) {
  const int was = *flag;
  *flag = value;
  IDeviceHost* host = HostOf(device);
  if (was != value && host) notify(host, value);
}

}  // namespace

DeviceAccess* CurrentDevice() {
  std::lock_guard<std::mutex> hold(g_EventsLock);
  return g_CurrentDevice;
}

void SetCurrentDevice(DeviceAccess* device) {
  std::lock_guard<std::mutex> hold(g_EventsLock);
  g_CurrentDevice = device;
}

void ClearCurrentDevice() { SetCurrentDevice(nullptr); }

bool RetireDevice(DeviceAccess* device, bool* elsewhere) {
  int calls;
  {
    std::lock_guard<std::mutex> hold(g_EventsLock);
    g_CurrentDevice = nullptr;
    __atomic_store_n(&device->retired, 1, __ATOMIC_RELEASE);
    calls = device->calls;
  }
  // The calls on this thread are below the caller (a host call made from
  // them): they cannot run on while it does. The object is not touched after
  // the lock, since a call elsewhere may free it at any moment.
  *elsewhere = calls > CallsHere(device);
  return calls == 0;
}

long KESTRIN1_CALLBACK DeviceCallback(unsigned int event, long param) {
  DeviceAccess* device;
  {
    std::lock_guard<std::mutex> hold(g_EventsLock);
    device = g_CurrentDevice;
    if (!device) return 0;
    ++device->calls;
  }
  const CallHere call = {device, t_Calls};
  t_Calls = &call;
  ApplyDeviceEvent(device, event, param);
  t_Calls = call.outer;
  bool last;
  {
    std::lock_guard<std::mutex> hold(g_EventsLock);
    last = --device->calls == 0 && device->retired;
  }
  if (last) {
    // Its handle was destroyed during the call: the last call out frees both.
    DeviceHandle* handle = device->owner;
    delete device;
    delete handle;
  }
  return 0;
}

void ApplyDeviceEvent(DeviceAccess* device, unsigned int event, long param) {
  using namespace Kestrin1;
  switch (event & 0xFF) {
    case EventBallActive:
      SetActivity(device, 1, device->scrollActive);
      break;
    case EventBallReleased:
      SetActivity(device, 0, device->scrollActive);
      break;
    case EventScrollActive:
      SetActivity(device, device->ballActive, 1);
      break;
    case EventScrollReleased:
      SetActivity(device, device->ballActive, 0);
      break;
    case EventButtonsChanged: {
      const uint32_t buttons = static_cast<uint32_t>(param);
      const uint32_t changed = device->buttons ^ buttons;
      device->buttons = buttons;
      IDeviceHost* host = HostOf(device);
      if (changed && host) host->OnButtonsChanged(buttons, changed);
      break;
    }
    case EventDeviceEnabled:
    case EventDeviceDisabled:
      SetFlag(device, &device->ready, (event & 0xFF) == EventDeviceEnabled,
              [](IDeviceHost* host, int ready) { host->OnDeviceReady(ready); });
      break;
    case EventDeviceAttached:
    case EventDeviceDetached:
      SetFlag(device, &device->open, (event & 0xFF) == EventDeviceAttached,
              [](IDeviceHost* host, int open) { host->OnDeviceOpen(open); });
      break;
    default:  // EventWakeup and codes above 9: nothing
      break;
  }
}

int MotionToDoubles(int ballNew, const Kestrin1::ABallMotion& ball, int scrollNew,
                    const Kestrin1::AScrollMotion& scroll, double* seconds, NavMotion* motion) {
  if (!ballNew && !scrollNew) return 0;
  *motion = NavMotion();
  unsigned short tics = scroll.tics;
  if (ballNew) {
    motion->tx = ball.tx * kCountsToUnits;
    motion->ty = ball.ty * kCountsToUnits;
    motion->tz = ball.tz * kCountsToUnits;
    motion->rx = ball.rx * kPi * kCountsToUnits;
    motion->ry = ball.ry * kPi * kCountsToUnits;
    motion->rz = ball.rz * kPi * kCountsToUnits;
    tics = ball.tics;
  }
  // Single precision, as the host has always had it: 122 tics give
  // 0.024985600262880325.
  *seconds = static_cast<float>(tics) * kSecondsPerTic;
  if (scrollNew) {
    motion->scrollX = scroll.x * kCountsToUnits;
    motion->scrollY = scroll.y * kCountsToUnits;
  }
  return 1;
}
