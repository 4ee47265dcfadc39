// The simulated device firmware's side of the 9-byte feature reports on the
// ball interface. Pure: the device simulator feeds it the reports of
// HidD_SetFeature and asks it for the reports of HidD_GetFeature.
//
// Requests (byte 0 report id 0, byte 1 0xFF, byte 2 command):
//   0x70 query rest zone          00 FF 70 00 00 00 00 00 00
//   0x43 set rest zone to v       00 FF 43 4A 53 v  00 00 00  ("CJS")
//   0x5A auto-zero                00 FF 5A 00 00 00 00 00 00
// Reply to the last command that was taken:
//   byte 0 report id 0
//   byte 1 0x00 done; 0xFF not done (auto-zero: zeroing has only started,
//          so the service forces that exchange; a set with a wrong
//          signature: refused)
//   byte 2 the command echoed
//   byte 4 the rest zone (query and set)
//   byte 8 check byte: 7 x (high nibble + low nibble) of reply byte 2
// Before any command the reply is 00 FF 00 ... with its check byte.
//
// Firmware versions: 0x201 and later know all three commands; older firmware
// (0x200) knows only auto-zero and fails the set-feature call of the rest-zone
// commands, as a device stalls a request it does not know.
#pragma once
#include <stdint.h>

constexpr uint32_t kSimFeatureBytes = 9;
constexpr uint32_t kSimFeatureCheckedByte = 2;
constexpr uint32_t kSimAlways = 0xFFFFFFFF;  // a fault switch that never runs out
constexpr uint32_t kSimCommandLog = 64;

struct SimFirmware {
  uint16_t m_Version;       // HID VersionNumber: 0x200, 0x201, ...
  uint8_t m_RestZone;       // the device's own rest zone
  uint8_t m_Reply[kSimFeatureBytes];  // answer to the last command taken
  uint32_t m_AutoZeroCount;

  // Traffic, counted whatever the outcome.
  uint32_t m_SetCalls;
  uint32_t m_GetCalls;
  // Commands taken by set-feature calls that succeeded, in order (the first
  // kSimCommandLog of them; m_CommandCount counts on past that).
  uint8_t m_Commands[kSimCommandLog];
  uint32_t m_CommandCount;

  // Fault switches: each is the number of coming calls it spoils, counted
  // down per call it applies to; kSimAlways never runs out.
  uint32_t m_RefuseSets;       // set-feature calls fail
  uint32_t m_RefuseGets;       // get-feature calls fail
  uint32_t m_WrongCheckBytes;  // replies carry a check byte one off
  uint32_t m_BusyReplies;      // replies carry 0xFF in byte 1
};

// A device with that firmware and rest zone, no faults, no traffic yet.
void SimFirmwareInit(SimFirmware* firmware, uint16_t version, uint8_t restZone);
// HidD_SetFeature: 1 when the request was taken, 0 when the call fails.
int SimFirmwareSetFeature(SimFirmware* firmware, const uint8_t* report, uint32_t bytes);
// HidD_GetFeature: 1 with the reply in report, 0 when the call fails
// (report untouched).
int SimFirmwareGetFeature(SimFirmware* firmware, uint8_t* report, uint32_t bytes);
// The check byte the firmware puts into byte 8 of a reply.
uint8_t SimFirmwareCheckByte(const uint8_t* reply);
