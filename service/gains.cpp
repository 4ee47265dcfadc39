// The setters through which the user's speed settings and vertical-axis
// convention reach a device slot and its record of the shared section. All
// run on the service thread, between reports, so no report sees half a change.
#include <string.h>

#include "device_slot.h"
#include "motion_section.h"
#include "motion_stages.h"
#include "service_private.h"

namespace {

// The first slot's settings as last set, kept while no device holds the
// slot. The pipe sets them (the agent sends the user's settings when it
// connects, which may be long before a device is plugged in, and not again
// while its pipe stays open): a device that comes into the first slot later
// (plugged in again, plugged in after logon, found again at resume) takes
// them, or it would run on the defaults.
uint16_t FirstSlotLogFactors[4] = {0x8000, 0x8000, 0x8000, 0x8000};
uint16_t FirstSlotFlags;

}  // namespace

// The slot of a device number (1-based, 0 taken as 1), or null when no device
// holds it: at start-up the first slot does not exist yet, and a number may
// name a slot that was released.
static DeviceSlot* SlotForDevice(uint16_t deviceNumber, uint16_t* slotIndex) {
  const uint16_t index = deviceNumber == 0 ? 0 : static_cast<uint16_t>(deviceNumber - 1);
  *slotIndex = index;
  if (!DeviceTable.links || index >= DeviceTable.count) return nullptr;
  if (!(DeviceTable.links[index] & kPoolUsedMark)) return nullptr;
  return static_cast<DeviceSlot*>(PoolRecord(&DeviceTable, index));
}

void SetGains(uint16_t deviceNumber, const uint16_t settings[4]) {
  uint16_t index;
  DeviceSlot* slot = SlotForDevice(deviceNumber, &index);
  if (index == 0) memmove(FirstSlotLogFactors, settings, sizeof FirstSlotLogFactors);
  if (slot) GainsFromSettings(slot->m_Gains, settings);
  // The record shows the settings as last applied, also while no device holds
  // the slot; readers take the plain stores as they find them.
  DeviceMotionRecord* record = MotionRecordForSlot(index);
  if (record) memcpy(record->m_LogFactors, settings, sizeof record->m_LogFactors);
}

void SetAxisConvention(uint16_t deviceNumber, uint16_t flag) {
  uint16_t index;
  DeviceSlot* slot = SlotForDevice(deviceNumber, &index);
  if (index == 0) FirstSlotFlags = flag;
  if (slot) slot->m_AxisConvention = flag;
  DeviceMotionRecord* record = MotionRecordForSlot(index);
  if (record) record->m_Flags = flag;
}

void StartSlotSettings(uint16_t slotIndex) {
  const uint16_t device = static_cast<uint16_t>(slotIndex + 1);
  if (slotIndex == 0) {
    SetGains(device, FirstSlotLogFactors);
    SetAxisConvention(device, FirstSlotFlags);
    return;
  }
  // The pipe's settings address the first slot only.
  SetGains(device, kDefaultSpeedSettings);
  SetAxisConvention(device, 0);
}
