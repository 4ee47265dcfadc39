// Feature reports to a device's firmware on its ball interface (MI_00), and
// the service's own dead zone per device. Everything here runs on the service
// thread and blocks it while a report is exchanged (up to about 0.6 s when
// the device never answers).
#pragma once
#include <windows.h>
#include <stdint.h>

struct DeviceSlot;

constexpr uint32_t kFeatureReportBytes = 9;
// Reply byte 8 checks reply byte 2 (the device echoes the command there):
// 7 x (high nibble + low nibble).
constexpr uint32_t kFeatureCheckedByte = 2;
constexpr uint8_t kDefaultRestZone = 75;
constexpr uint32_t kMinRestZoneSetting = 35;  // registry values below it are replaced

inline uint8_t FeatureCheckValue(const uint8_t* reply) {
  uint8_t b = reply[kFeatureCheckedByte];
  return static_cast<uint8_t>(7 * ((b >> 4) + (b & 15)));
}

// Sends the 9-byte request and waits for an acceptable reply, in up to ten
// passes. A reply is accepted when its check byte matches and byte 1 is not
// 0xFF (or force is set), and only when both the request and the reply calls
// of that pass succeeded. Accepted: the 9 reply bytes go to reply, result 1.
// Otherwise reply is left as it was (callers pass the request buffer as the
// reply buffer, which then keeps the request), result 0.
int ExchangeFeatureReport(HANDLE device, const uint8_t* request, uint8_t* reply, int force);

// The device's own rest zone (reply byte 4), or 0 when no reply was accepted.
void QueryRestZoneFeature(DeviceSlot* slot, uint8_t* restZone);
// Sets the device's own rest zone; the outcome is not looked at.
void SetRestZoneFeature(DeviceSlot* slot, uint8_t value);
// The auto-zero command (a forced exchange): the pipe's PipeTestAutoZero for
// the current device.
void QueryDeviceFeature5A(DeviceSlot* slot);

// m_RestZone of a device whose identity was read: 75, or with a serial of
// exactly 16 characters the low byte of its "RestZone" value under
// HKLM "SOFTWARE\Pellmor Vastine\Kestrin\<serial>" (created with 75 when
// missing; a value below 35 is rewritten as 75).
void ReadRestZoneSetting(DeviceSlot* slot);
// Firmware 0x201 and later: brings the device's own rest zone to 75, writing
// the event "Kestrin RestZone updated." when it differed. Older firmware gets
// no feature report.
void CheckDeviceRestZone(DeviceSlot* slot);

// The pause between a request and its reply of pass r (15 + 10r ms). Tests
// put a recorder here; the service sleeps.
extern void (*FeaturePause)(DWORD milliseconds);
