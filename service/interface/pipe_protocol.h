// The service's named pipe: its name, its one 12-byte message (little-endian,
// one pipe message each, in both directions), the device-state bits that
// message carries, and the name of the window message the service broadcasts
// once it runs. No windows.h: the service, its clients and the test tools
// share this header.
#pragma once
#include <stddef.h>
#include <stdint.h>

// The pipe, in message mode; the service is its only server.
constexpr char kPipeName[] = "\\\\.\\pipe\\KestrinPipe";

// Registered window message posted system-wide (wParam 1) when the service
// runs: a client whose pipe closed connects again.
constexpr char kServiceMessageName[] = "KestrinSvcElf";

enum EPipeOpcode : uint16_t {
  PipeDeviceState = 3,          // service to clients: a device's state
  PipeSetLogFactors = 0x4001,   // to the service: the four speed settings
  PipeSetFlags = 0x4002,        // to the service: bit 0, vertical-axis convention
  PipeTestAutoZero = 0x4003,    // to the service: auto-zero the current device
};

// Device state flags, as sent in PipeDeviceState.
enum EDeviceState : uint16_t {
  StateDeviceAttached = 0x100,
  StateDeviceEnabled = 0x200,
  StateBallActive = 0x400,
  StateBallChanged = 0x800,
  StateScrollActive = 0x1000,
  StateScrollChanged = 0x2000,
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
