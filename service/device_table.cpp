#include "device_slot.h"

SlotPool DeviceTable;
int16_t CurrentSlot = -1;
