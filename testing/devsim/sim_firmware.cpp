#include "sim_firmware.h"

#include <string.h>

namespace {

enum : uint8_t {
  kQueryRestZone = 0x70,
  kSetRestZone = 0x43,
  kAutoZero = 0x5A,
};

// Takes one call from a fault switch: 1 when this call is spoiled.
int TakeFault(uint32_t* remaining) {
  if (!*remaining) return 0;
  if (*remaining != kSimAlways) --*remaining;
  return 1;
}

void SetReply(SimFirmware* firmware, uint8_t done, uint8_t command, uint8_t data4) {
  uint8_t* reply = firmware->m_Reply;
  memset(reply, 0, kSimFeatureBytes);
  reply[1] = done ? 0x00 : 0xFF;
  reply[2] = command;
  reply[4] = data4;
  reply[8] = SimFirmwareCheckByte(reply);
}

void LogCommand(SimFirmware* firmware, uint8_t command) {
  if (firmware->m_CommandCount < kSimCommandLog)
    firmware->m_Commands[firmware->m_CommandCount] = command;
  ++firmware->m_CommandCount;
}

}  // namespace

uint8_t SimFirmwareCheckByte(const uint8_t* reply) {
  uint8_t b = reply[kSimFeatureCheckedByte];
  return static_cast<uint8_t>(7 * ((b >> 4) + (b & 15)));
}

void SimFirmwareInit(SimFirmware* firmware, uint16_t version, uint8_t restZone) {
  memset(firmware, 0, sizeof *firmware);
  firmware->m_Version = version;
  firmware->m_RestZone = restZone;
  SetReply(firmware, 0, 0, 0);
}

int SimFirmwareSetFeature(SimFirmware* firmware, const uint8_t* report, uint32_t bytes) {
  ++firmware->m_SetCalls;
  if (!report || bytes != kSimFeatureBytes || report[0] != 0) return 0;
  if (TakeFault(&firmware->m_RefuseSets)) return 0;
  uint8_t command = report[2];
  int knowsRestZone = firmware->m_Version >= 0x201;
  switch (command) {
    case kQueryRestZone:
      if (!knowsRestZone) return 0;
      SetReply(firmware, 1, command, firmware->m_RestZone);
      break;
    case kSetRestZone:
      if (!knowsRestZone) return 0;
      if (report[3] == 'J' && report[4] == 'S') {
        firmware->m_RestZone = report[5];
        SetReply(firmware, 1, command, firmware->m_RestZone);
      } else {
        SetReply(firmware, 0, command, firmware->m_RestZone);
      }
      break;
    case kAutoZero:
      ++firmware->m_AutoZeroCount;
      SetReply(firmware, 0, command, 0);
      break;
    default:
      return 0;
  }
  LogCommand(firmware, command);
  return 1;
}

int SimFirmwareGetFeature(SimFirmware* firmware, uint8_t* report, uint32_t bytes) {
  ++firmware->m_GetCalls;
  if (!report || bytes != kSimFeatureBytes || report[0] != 0) return 0;
  if (TakeFault(&firmware->m_RefuseGets)) return 0;
  memcpy(report, firmware->m_Reply, kSimFeatureBytes);
  if (TakeFault(&firmware->m_BusyReplies)) report[1] = 0xFF;
  if (TakeFault(&firmware->m_WrongCheckBytes)) report[8] = static_cast<uint8_t>(report[8] + 1);
  return 1;
}
