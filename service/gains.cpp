// The setters through which the user's speed settings and vertical-axis
// convention reach a device slot and its record of the shared section. Both
// run on the service thread, between reports, so no report sees half a change.
#include <string.h>

#include "device_slot.h"
#include "motion_section.h"
#include "motion_stages.h"
#include "service_private.h"

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
  if (slot) GainsFromSettings(slot->m_Gains, settings);
  // The record shows the settings as last applied, also while no device holds
  // the slot; readers take the plain stores as they find them.
  DeviceMotionRecord* record = MotionRecordForSlot(index);
  if (record) memcpy(record->m_LogFactors, settings, sizeof record->m_LogFactors);
}

void SetAxisConvention(uint16_t deviceNumber, uint16_t flag) {
  uint16_t index;
  DeviceSlot* slot = SlotForDevice(deviceNumber, &index);
  if (slot) slot->m_AxisConvention = flag;
  DeviceMotionRecord* record = MotionRecordForSlot(index);
  if (record) record->m_Flags = flag;
}
