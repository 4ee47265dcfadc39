// What the device part calls in the service's other parts, recorded for the
// device tests: device-state publications with the state and headers at the
// time of the call, events, wait-list entries, registry and rest-zone calls,
// and a section of records the test sizes (or leaves unmapped).
#pragma once
#include <windows.h>
#include <stdint.h>

#include <functional>
#include <vector>

#include "device_slot.h"
#include "motion_section.h"
#include "wait_loop.h"

struct PublishedState {
  int16_t m_Slot;         // CurrentSlot at the call
  uint16_t m_State;       // its m_State, 0 when not in use
  uint32_t m_Buttons;
  uint16_t m_BallHeader;  // its record's headers at the call
  uint16_t m_ScrollHeader;
};

struct WaitItem {
  HANDLE m_Handle;
  WaitCallback m_Callback;
  uint16_t m_Argument;
};

constexpr int kStubRecords = 10;

struct DeviceStubs {
  std::vector<PublishedState> m_Published;
  std::vector<uint32_t> m_Events;
  std::vector<WaitItem> m_WaitItems;
  std::vector<uint16_t> m_MapEntries;    // slot index of each WriteDeviceMapEntry
  std::vector<uint16_t> m_MapDeletes;
  std::vector<uint16_t> m_RestZoneReads;
  std::vector<uint16_t> m_RestZoneChecks;
  int m_SectionRecords = kStubRecords;   // 0: no section
  uint16_t m_WaitEntriesFree = 64;       // what the wait list says it has room for
  DeviceMotionRecord m_Records[kStubRecords];
  // Runs inside OpenDevice, after the interfaces opened and before the
  // first reads (from the device-map call).
  std::function<void()> m_OnIdentified;
};

extern DeviceStubs Stubs;
void ResetDeviceStubs();
