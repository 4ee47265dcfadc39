// The wire between the device simulator and the simulated HID access layer
// of KestrinSvcSim.exe (and of the device tests). Three kinds of named pipe,
// all message mode:
//
//  - "\\.\pipe\KestrinDeviceSim": requests of the access layer (interface
//    list, attributes, serial number, feature reports), one SimRequest
//    message answered by one SimReply message.
//  - one data pipe per plugged interface, named kSimDataPipePrefix followed
//    by the interface path without its leading "\\?\": each message the
//    simulator writes is what one ReadFile of the device returns (whole
//    reports, several reports, a trailing part of one). A message that
//    begins with kSimErrorMark ends the read with an error instead (see
//    SimErrorFrame); an unplugged interface's pipe is closed.
//  - "\\.\pipe\KestrinDeviceSimNotices": each message is the path of an
//    interface that was just plugged in, for the access layer's arrival thread.
#pragma once
#include <stdint.h>

#define KESTRIN_SIM_CONTROL_PIPE "\\\\.\\pipe\\KestrinDeviceSim"
#define KESTRIN_SIM_NOTICE_PIPE "\\\\.\\pipe\\KestrinDeviceSimNotices"
#define KESTRIN_SIM_DATA_PIPE_PREFIX "\\\\.\\pipe\\KestrinDeviceSim-"

constexpr uint32_t kSimMaxPath = 240;
constexpr uint32_t kSimMaxReply = 4096;

enum ESimRequest : uint32_t {
  SimListInterfaces = 1,  // reply: the paths, each NUL-terminated, then one more NUL
  SimGetAttributes = 2,   // reply: u16 vendor, u16 product, u16 version
  SimGetSerial = 3,       // reply: the serial number as UTF-16 with its terminator
  SimSetFeature = 4,      // m_Data: the report
  SimGetFeature = 5,      // reply: the report
};

#pragma pack(push, 1)
struct SimRequest {
  uint32_t m_Op;              // ESimRequest
  char m_Path[kSimMaxPath];   // interface path, NUL-terminated
  uint32_t m_Bytes;           // bytes of m_Data used
  uint8_t m_Data[64];
};

struct SimReply {
  uint32_t m_Ok;     // 1: the call succeeds; 0: it fails with m_Error
  uint32_t m_Error;  // the last error of a failed call
  uint32_t m_Bytes;  // bytes of m_Data used
  uint8_t m_Data[kSimMaxReply];
};

// A read that ends with an error: kSimErrorMark, 'E', then the u32 error
// code; report bytes after it are what the failed read still delivered.
struct SimErrorFrame {
  uint8_t m_Mark;  // kSimErrorMark
  uint8_t m_E;     // 'E'
  uint32_t m_Error;
};
#pragma pack(pop)

// Report id bytes are 0 in every report of this device, so no report begins so.
constexpr uint8_t kSimErrorMark = 0xFF;
