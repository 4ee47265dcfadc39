#include "device_events.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {

DeviceAccess* g_CurrentDevice = nullptr;
// DeviceCallback calls under way, in the process and on this thread.
std::atomic<int> g_CallbacksInFlight{0};
thread_local int t_CallbacksHere = 0;

// The host of device, null when its handle has none.
IDeviceHost* HostOf(const DeviceAccess* device) {
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
  // gone and OnMotionStarted is not called for it.
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

// Sequentially consistent, with the count of callbacks under way: a callback
// either sees the cleared object or is counted before ClearCurrentDevice
// looks at the count.
DeviceAccess* CurrentDevice() { return __atomic_load_n(&g_CurrentDevice, __ATOMIC_SEQ_CST); }

void SetCurrentDevice(DeviceAccess* device) {
  __atomic_store_n(&g_CurrentDevice, device, __ATOMIC_SEQ_CST);
}

void ClearCurrentDevice() {
  SetCurrentDevice(nullptr);
  while (g_CallbacksInFlight.load(std::memory_order_seq_cst) > t_CallbacksHere)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

long KESTRIN1_CALLBACK DeviceCallback(unsigned int event, long param) {
  g_CallbacksInFlight.fetch_add(1, std::memory_order_seq_cst);
  ++t_CallbacksHere;
  if (DeviceAccess* device = CurrentDevice()) ApplyDeviceEvent(device, event, param);
  --t_CallbacksHere;
  g_CallbacksInFlight.fetch_sub(1, std::memory_order_seq_cst);
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
