// Device discovery, pairing, opening and removal, and the report readers:
// the functions of the device part that the service's other parts and the
// tests call beyond the prototypes in service_private.h.
#pragma once
#include <windows.h>
#include <setupapi.h>
#include <stddef.h>
#include <stdint.h>

#include "device_slot.h"

// "\\?\HID#Vid_15de&Pid_6000&MI_0": character 30 after it names the interface.
constexpr size_t kInterfacePrefixLength = 30;
// The detail record's cbSize: the size of the record's fixed part, which
// SetupDiGetDeviceInterfaceDetailA checks (5 on x86, 8 on x64: padding).
constexpr uint32_t kInterfaceBlockSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
static_assert(offsetof(InterfacePathBlock, m_Path) ==
                  offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath),
              "an interface path block is a detail record");
// Records of the device table, made at start; the table never grows.
constexpr uint16_t kDeviceSlotRecords = 32;

extern GUID HidInterfaceGuid;
extern InterfacePathBlock* PendingBallInterface;

// 1 when the first 30 bytes of path equal the prefix, ignoring letter case.
int IsKestrinInterface(const char* path);
// A fresh block holding path (malloc, call id 24), or null.
InterfacePathBlock* NewInterfacePathBlock(const char* path);

// Takes ownership of the blocks it uses: a block that is kept or freed is
// cleared in the caller's pointer.
DeviceSlot* PairInterfaces(int hotPlugged, InterfacePathBlock** path,
                           InterfacePathBlock** pending);
DeviceSlot* AllocDeviceSlot(InterfacePathBlock* ball, InterfacePathBlock* scroll);
int OpenDevice(DeviceSlot* slot);
int OpenInterface(InterfaceChannel* channel);
void CloseInterface(InterfaceChannel* channel);
int ReadDeviceIdentity(DeviceSlot* slot);
// serial: a 20-character field; a longer serial is cut to 19 characters.
int ReadInterfaceSerial(const char* path, wchar_t serial[20]);
void RemoveDevice(DeviceSlot* slot);

DeviceSlot* SlotAt(uint16_t index);
// 1 when the device table's record index is in use.
int SlotInUse(uint16_t index);

// ---- report reading and publishing ----
// 1: report bytes in the buffer; 0: nothing there (pending, or closed);
// -1: the device is gone.
int ReadInterface(InterfaceChannel* channel);
void OnBallReportsRead(uint16_t slotIndex);
void OnScrollReportsRead(uint16_t slotIndex);
// destination[i] = source[i] + values[i], wrapping in 32 bits; the two sum
// arrays may be the same.
void AccumulateAxes(int32_t* destination, const int32_t* source, const int16_t* values,
                    unsigned n);
