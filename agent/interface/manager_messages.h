// The window-message protocol between the session agent's manager window and
// the client windows of the interface library (and of the properties
// program, which posts its settings requests through the same message).
//
// Both sides of every message use the values below; nothing here needs
// windows.h, so pure code and both Windows builds share it. Every value that
// travels in a WPARAM or LPARAM is a 32-bit quantity: a 32-bit and a 64-bit
// process read each other's messages alike.
#pragma once

#include <cstdint>

namespace kestrin::manager {

// Registered message posted both ways.
inline constexpr char kMessageName[] = "KestrinMessage";

// The agent's message-only manager window: class and title.
inline constexpr char kManagerClass[] = "KestrinManager";
inline constexpr char kManagerTitle[] = "KestrinManager";

// The message-only client window of each client process: class and title.
inline constexpr char kClientClass[] = "KestrinClientClass1";
inline constexpr char kClientTitle[] = "KestrinClient1";

// Requests posted to the manager window: the code is the low 16 bits of
// wParam (compared as unsigned 16-bit), lParam is the client window (codes
// 1-6) or the settings payload (0xFFFC-0xFFFF).
enum EManagerRequest : uint16_t {
  ClientHello = 1,
  ClientGoodbye = 2,
  ClientFocusLost = 3,
  ClientFocusGained = 4,
  ClientProcessHigh = 5,  // wParam high 16 bits: high half of the process id
  ClientProcessLow = 6,   // wParam high 16 bits: low half of the process id
  TestAutoZero = 0xFFFC,
  SetFlags = 0xFFFD,           // lParam bit 0: the vertical-axis convention
  SetLogFactorsHigh = 0xFFFE,  // lParam: (scroll hat << 16) | spin
  SetLogFactorsLow = 0xFFFF,   // lParam: (zoom << 16) | pan
};

// Notices posted to client windows: the code is the low byte of wParam; the
// rest of the low word is the device-state high byte, the high word is the
// client's device id.
enum EClientNotice : uint8_t {
  ManagerStarted = 1,     // wParam exactly 1, lParam 0
  ClientRegistered = 3,   // high word and lParam: the client's device id
  ClientNotice4 = 4,      // defined, never posted
  DeviceStateNotice = 6,  // lParam: the device's buttons word
};

// wParam of a request: code in the low word, argument in the high word.
constexpr uint32_t RequestWParam(uint16_t code, uint16_t high = 0) {
  return (static_cast<uint32_t>(high) << 16) | code;
}
constexpr uint16_t RequestCode(uint32_t wparam) { return static_cast<uint16_t>(wparam); }
constexpr uint16_t RequestHigh(uint32_t wparam) { return static_cast<uint16_t>(wparam >> 16); }

// wParam of a notice: device id in the high word, low word as posted.
constexpr uint32_t NoticeWParam(uint16_t device_id, uint16_t low_word) {
  return (static_cast<uint32_t>(device_id) << 16) | low_word;
}
constexpr uint8_t NoticeCode(uint32_t wparam) { return static_cast<uint8_t>(wparam); }
constexpr uint16_t NoticeLowWord(uint32_t wparam) { return static_cast<uint16_t>(wparam); }
constexpr uint16_t NoticeDeviceId(uint32_t wparam) { return static_cast<uint16_t>(wparam >> 16); }

// The message number is compared on its low 16 bits by both sides.
constexpr bool IsMessage(unsigned message, unsigned registered_id) {
  return (message & 0xFFFFu) == (registered_id & 0xFFFFu);
}

}  // namespace kestrin::manager
