// The one message of the named pipe "\\.\pipe\KestrinPipe": 12 bytes,
// little-endian, one pipe message each, in both directions. No windows.h:
// the service, its test clients and the session programs share this header.
#pragma once
#include <stddef.h>
#include <stdint.h>

enum EPipeOpcode : uint16_t {
  PipeDeviceState = 3,          // service to clients: a device's state
  PipeSetLogFactors = 0x4001,   // to the service: the four speed settings
  PipeSetFlags = 0x4002,        // to the service: bit 0, vertical-axis convention
  PipeTestAutoZero = 0x4003,    // to the service: auto-zero the current device
};

constexpr uint32_t kPipeMessageBytes = 12;

struct PipeMessage {
  uint16_t m_Opcode;  // EPipeOpcode
  uint16_t m_Device;  // 1-based device number; the service ignores it on receipt
  // Bytes an opcode does not define are not set by the sender and are ignored
  // by the receiver.
  union {
    struct {
      uint16_t m_State;    // EDeviceState
      uint16_t m_Unset;
      uint32_t m_Buttons;  // the scroll hat's button byte in the low byte
    } m_DeviceState;
    uint16_t m_LogFactors[4];  // pan, zoom, spin, scroll hat
    uint16_t m_Flags;
    uint8_t m_Bytes[8];
  } m_Payload;
};

static_assert(sizeof(PipeMessage) == kPipeMessageBytes, "PipeMessage is 12 bytes");
static_assert(offsetof(PipeMessage, m_Payload) == 4, "payload at offset 4");

inline PipeMessage MakeDeviceStateMessage(uint16_t device, uint16_t state, uint32_t buttons) {
  PipeMessage message = {};
  message.m_Opcode = PipeDeviceState;
  message.m_Device = device;
  message.m_Payload.m_DeviceState.m_State = state;
  message.m_Payload.m_DeviceState.m_Buttons = buttons;
  return message;
}
