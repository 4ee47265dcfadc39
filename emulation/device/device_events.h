// The device side of KestrinZel2 that needs no system: the handle and device
// records, the event table that keeps a device's flags and tells the host
// what changed, and the turning of the library's integer motion into doubles
// in physical units. No windows.h: it also builds natively.
//
// Device events reach only the current device object, the newest one made;
// any destruction clears it, so no handle hears events again until the next
// Create. Events come on the thread that made the process's first
// connection, while a host may destroy a handle on any of its threads, also
// from within one of its calls: a destroy never waits for a call of the host
// (which may be waiting for the destroying thread), and a device object that
// an event is being applied to is freed by that event's end instead.
#pragma once
#include <stdint.h>

#include "kestrin_connection.h"
#include "kestrin_zel2_host.h"
#include "kestrin_zel2_nav.h"

struct DeviceAccess;

// What IKestrinPrivate::Create hands out. device is null when it could not be
// allocated; host is the host's, not owned.
struct DeviceHandle {
  DeviceAccess* device;
  IDeviceHost* host;
};

static_assert(sizeof(DeviceHandle) == 2 * sizeof(void*), "a device handle is two words");

// One device connection and the state its events report; all zero when made.
struct DeviceAccess {
  DeviceHandle* owner;               // its host is reached through it
  Kestrin1::CKestrin* connection;    // null when it could not be allocated
  int open;                          // attached
  int ready;                         // enabled
  uint32_t buttons;                  // the word of the last buttons event
  int ballActive;
  int scrollActive;
  // Under the events' lock: DeviceCallback calls applying an event to it,
  // and whether its handle was destroyed (the last of those calls frees it).
  int calls;
  int retired;
};

// The device object that receives events, null when none.
DeviceAccess* CurrentDevice();
void SetCurrentDevice(DeviceAccess* device);
// Clears the current device object: no event reaches any device object
// until the next SetCurrentDevice.
void ClearCurrentDevice();

// What a handle's destroy does first, on any thread: clears the current
// device object and retires device, whose host hears nothing more. True when
// the caller frees device (and its owner handle) now; false when a
// DeviceCallback still applies an event to it, whose end frees both.
// *elsewhere tells whether such a call runs on another thread than the
// caller's: it then finishes after the destroy has returned.
bool RetireDevice(DeviceAccess* device, bool* elsewhere);

// The callback every device object registers with the library: dispatches
// the event to the current device object. Always 0.
long KESTRIN1_CALLBACK DeviceCallback(unsigned int event, long param);

// One event for device: its flags change and its host hears the change.
void ApplyDeviceEvent(DeviceAccess* device, unsigned int event, long param);

// Counts to physical units: translation and scroll 25/8192 per count,
// rotation pi times that.
constexpr double kCountsToUnits = 25.0 / 8192.0;
constexpr double kPi = 3.14159265358979323846;
constexpr float kSecondsPerTic = 0.0002048f;

// The motion read of GetMotion from the connection's two records and whether
// each had new data: 0 with seconds and motion untouched when neither had; 1
// with all eight values (0 for a side without data) and the seconds of the
// ball's tics, or of the scroll hat's when the ball had nothing.
int MotionToDoubles(int ballNew, const Kestrin1::ABallMotion& ball, int scrollNew,
                    const Kestrin1::AScrollMotion& scroll, double* seconds, NavMotion* motion);
