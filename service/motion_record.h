// Byte layout of the shared motion section "Global\KestrinMemory": an array
// of 128-byte records; record 0 stays empty, device slot k writes record k+1,
// and every reader reads record 1. Little-endian, packed as the offsets below.
// No windows.h here: the library and the native tests share this header.
#pragma once
#include <stddef.h>
#include <stdint.h>

// MotionHeader: one u16, flipped with a single store per published batch.
enum : uint16_t {
  kHeaderCountMask = 0x3FFF,  // ReportCount, modulo 2^14
  kHeaderMovingBit = 0x4000,  // last report of the last batch was non-zero
  kHeaderBufferBit = 0x8000,  // current buffer: 0 = A, 1 = B
};

#pragma pack(push, 1)
struct BallBuffer {
  int32_t m_Sums[6];   // tx, ty, tz, rx, ry, rz; running, wrapping
  int16_t m_Values[6]; // last report of the last published batch
};

struct ScrollBuffer {
  int32_t m_Sums[2];   // x, y
  int16_t m_Values[2];
};

struct DeviceMotionRecord {
  uint16_t m_BallHeader;
  uint16_t m_Reserved0;
  BallBuffer m_Ball[2];
  uint16_t m_ScrollHeader;
  uint16_t m_Reserved1;
  ScrollBuffer m_Scroll[2];
  uint16_t m_LogFactors[4];  // pan, zoom, spin, scroll hat, as last applied
  uint16_t m_Flags;          // vertical-axis convention as last applied
  uint8_t m_Reserved2[14];
};
#pragma pack(pop)

static_assert(sizeof(BallBuffer) == 36, "BallBuffer layout");
static_assert(sizeof(ScrollBuffer) == 12, "ScrollBuffer layout");
static_assert(sizeof(DeviceMotionRecord) == 128, "DeviceMotionRecord layout");
static_assert(offsetof(DeviceMotionRecord, m_Ball) == 4, "ball buffer A");
static_assert(offsetof(DeviceMotionRecord, m_ScrollHeader) == 76, "scroll header");
static_assert(offsetof(DeviceMotionRecord, m_Scroll) == 80, "scroll buffer A");
static_assert(offsetof(DeviceMotionRecord, m_LogFactors) == 104, "LogFactors");
static_assert(offsetof(DeviceMotionRecord, m_Flags) == 112, "Flags");

constexpr uint32_t kMinSectionBytes = 1280;
