// TEMPORARY until the service interface folder lands.
#pragma once
#include "motion_record.h"
#include "section_reader.h"
#include "section.h"
enum EDeviceState : uint16_t {
  StateDeviceAttached = 0x100,
  StateDeviceEnabled = 0x200,
  StateBallActive = 0x400,
  StateBallChanged = 0x800,
  StateScrollActive = 0x1000,
  StateScrollChanged = 0x2000,
};
inline constexpr char kSectionName[] = "Global\\KestrinMemory";
