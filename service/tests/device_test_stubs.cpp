#include "device_test_stubs.h"

#include <string.h>

#include "devices.h"
#include "service_private.h"

DeviceStubs Stubs;

HANDLE WakeEvent;
WaitList ServiceWaitList;
uint32_t PublishPending;

void ResetDeviceStubs() {
  DeviceMotionRecord* records = Stubs.m_Records;
  Stubs.~DeviceStubs();
  new (&Stubs) DeviceStubs();
  memset(records, 0, sizeof Stubs.m_Records);
  PublishPending = 0;
}

DeviceMotionRecord* MotionRecordForSlot(uint16_t slotIndex) {
  if (slotIndex + 1 >= Stubs.m_SectionRecords) return nullptr;
  return &Stubs.m_Records[slotIndex + 1];
}

void PublishDeviceState() {
  PublishedState p = {};
  p.m_Slot = CurrentSlot;
  if (CurrentSlot >= 0 && SlotInUse(static_cast<uint16_t>(CurrentSlot))) {
    DeviceSlot* slot = SlotAt(static_cast<uint16_t>(CurrentSlot));
    p.m_State = slot->m_State;
    p.m_Buttons = slot->m_Buttons;
    if (DeviceMotionRecord* r = MotionRecordForSlot(static_cast<uint16_t>(CurrentSlot))) {
      p.m_BallHeader = r->m_BallHeader;
      p.m_ScrollHeader = r->m_ScrollHeader;
    }
  }
  Stubs.m_Published.push_back(p);
}

void ReportEventLog(uint16_t, uint32_t eventId, const char**) {
  Stubs.m_Events.push_back(eventId);
}

void AddWaitItem(HANDLE handle, WaitCallback callback, uint16_t argument) {
  Stubs.m_WaitItems.push_back({handle, callback, argument});
}

uint16_t WaitEntriesFree() { return Stubs.m_WaitEntriesFree; }

void WriteDeviceMapEntry(DeviceSlot* slot) {
  Stubs.m_MapEntries.push_back(PoolIndexOf(&DeviceTable, slot));
  if (Stubs.m_OnIdentified) Stubs.m_OnIdentified();
}
void SetDeviceFriendlyNames(DeviceSlot*) {}
void DeleteDeviceMapEntry(DeviceSlot* slot) {
  Stubs.m_MapDeletes.push_back(PoolIndexOf(&DeviceTable, slot));
}
void ReadRestZoneSetting(DeviceSlot* slot) {
  Stubs.m_RestZoneReads.push_back(PoolIndexOf(&DeviceTable, slot));
}
void CheckDeviceRestZone(DeviceSlot* slot) {
  Stubs.m_RestZoneChecks.push_back(PoolIndexOf(&DeviceTable, slot));
}
