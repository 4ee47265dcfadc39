// The service's record of one paired device (a record of the device table, a
// slot pool) and the module state around it. Slot k publishes to section
// record k+1.
#pragma once
#include <windows.h>
#include <stdint.h>

#include "pipe_protocol.h"  // EDeviceState
#include "slot_pool.h"

// A u32 that is always 5, then the interface path: the shape of the system's
// interface detail record, so one pointer type holds paths from enumeration
// and from arrival notices.
struct InterfacePathBlock {
  uint32_t m_Size;
  char m_Path[1];
};

constexpr uint32_t kReportBufferBytes = 35;

struct InterfaceChannel {
  InterfacePathBlock* m_Path;  // owned; freed on close
  HANDLE m_Handle;             // INVALID_HANDLE_VALUE when closed
  OVERLAPPED m_Overlapped;     // manual-reset event, kept while open
  uint8_t m_Report[kReportBufferBytes];
  uint32_t m_BytesRead;
  uint32_t m_ReadPending;
};

struct DeviceSlot {
  InterfaceChannel m_Ball;    // MI_00
  InterfaceChannel m_Scroll;  // MI_01
  uint32_t m_AxesBaselineDone;
  uint32_t m_ButtonsBaselineDone;
  uint32_t m_BaselineCaptured;
  uint8_t m_Baseline[4];      // bytes 1 to 4 of the first scroll-hat report
  float m_SolverState[3];
  uint16_t m_State;           // EDeviceState
  uint16_t m_PublishedState;  // as last sent on the pipe
  uint32_t m_Buttons;
  uint32_t m_PublishedButtons;
  char m_Serial[17];
  uint16_t m_Firmware;        // HID VersionNumber; 0x201 is version 2.01
  int16_t m_Gains[4];         // pan, zoom, spin, scroll hat; 128 = unity
  uint16_t m_AxisConvention;  // bit 0: vertical-axis convention
  uint8_t m_RestZone;         // dead-zone threshold of solver and scroll decoder
};

extern SlotPool DeviceTable;
extern int16_t CurrentSlot;  // -1 when no device is open
