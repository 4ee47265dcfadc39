// The reader's side of the shared motion section, for every reader in the
// system (the interface library, the monitor, the tests). Header-only and
// without windows.h.
//
// A reader copies the buffer its header selects and reads the header again;
// equal headers mean the copy is one published batch. The writer only ever
// fills the other buffer, so a copy can only be overwritten when the writer
// published twice meanwhile, and then the header differs. After
// kMaxMotionCopies copies without two equal headers the read fails.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "motion_record.h"

constexpr int kMaxMotionCopies = 10;

inline uint16_t LoadMotionHeader(const uint16_t* header) {
  return __atomic_load_n(header, __ATOMIC_ACQUIRE);
}

// Copies a buffer 32 bits at a time; the writer's stores may land under it,
// which the header check afterwards finds. Both buffer types are whole 32-bit
// words at 4-byte offsets of the record.
template <typename Buffer>
inline void CopyMotionBuffer(const Buffer* from, Buffer* to) {
  static_assert(sizeof(Buffer) % 4 == 0, "buffers are whole 32-bit words");
  const uint32_t* source = reinterpret_cast<const uint32_t*>(from);
  uint32_t* target = reinterpret_cast<uint32_t*>(to);
  for (size_t i = 0; i < sizeof(Buffer) / 4; ++i)
    target[i] = __atomic_load_n(source + i, __ATOMIC_RELAXED);
}

// One double buffer of a record: its header and its two buffers.
template <typename Buffer>
struct MotionDoubleBuffer {
  const uint16_t* m_Header;
  const Buffer* m_Buffers;  // [0] = A, [1] = B

  uint16_t Header() const { return LoadMotionHeader(m_Header); }
  void Copy(int index, Buffer* out) const { CopyMotionBuffer(m_Buffers + index, out); }
};

// The copy loop over any source with Header() and Copy(index, out): 1 with
// the consistent copy in *out and its header in *header, 0 after
// kMaxMotionCopies copies that each saw the header change (*out then holds
// the last copy, which is not to be used).
template <typename Source, typename Buffer>
inline int ReadConsistentMotion(const Source& source, Buffer* out, uint16_t* header) {
  uint16_t h1 = source.Header();
  for (int copy = 0; copy < kMaxMotionCopies; ++copy) {
    source.Copy((h1 & kHeaderBufferBit) ? 1 : 0, out);
    __atomic_thread_fence(__ATOMIC_ACQUIRE);
    uint16_t h2 = source.Header();
    if (h2 == h1) {
      *header = h2;
      return 1;
    }
    h1 = h2;
  }
  return 0;
}

inline MotionDoubleBuffer<BallBuffer> BallDoubleBuffer(const DeviceMotionRecord* record) {
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(record);
  MotionDoubleBuffer<BallBuffer> view = {
      reinterpret_cast<const uint16_t*>(bytes + offsetof(DeviceMotionRecord, m_BallHeader)),
      reinterpret_cast<const BallBuffer*>(bytes + offsetof(DeviceMotionRecord, m_Ball))};
  return view;
}

inline MotionDoubleBuffer<ScrollBuffer> ScrollDoubleBuffer(const DeviceMotionRecord* record) {
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(record);
  MotionDoubleBuffer<ScrollBuffer> view = {
      reinterpret_cast<const uint16_t*>(bytes + offsetof(DeviceMotionRecord, m_ScrollHeader)),
      reinterpret_cast<const ScrollBuffer*>(bytes + offsetof(DeviceMotionRecord, m_Scroll))};
  return view;
}

// The current ball (scroll-hat) buffer of a record in the section: 1 and a
// consistent copy with its header, or 0 when the writer kept changing it.
inline int ReadBallMotion(const DeviceMotionRecord* record, BallBuffer* out, uint16_t* header) {
  return ReadConsistentMotion(BallDoubleBuffer(record), out, header);
}
inline int ReadScrollMotion(const DeviceMotionRecord* record, ScrollBuffer* out,
                            uint16_t* header) {
  return ReadConsistentMotion(ScrollDoubleBuffer(record), out, header);
}

// Reports published between a previous read that saw count previousCount
// and a read whose header is header (the count wraps at 2^14).
inline uint16_t ReportsSince(uint16_t previousCount, uint16_t header) {
  return static_cast<uint16_t>((header - previousCount) & kHeaderCountMask);
}

// Mean motion per report of axes axes over d reports: the 32-bit differences
// of the wrapping sums divided by d. d of 0 gives zeros (nothing new).
inline void MeanMotion(const int32_t* newSums, const int32_t* previousSums, uint16_t d,
                       int axes, int32_t* mean) {
  for (int i = 0; i < axes; ++i) {
    int32_t difference = static_cast<int32_t>(static_cast<uint32_t>(newSums[i]) -
                                              static_cast<uint32_t>(previousSums[i]));
    mean[i] = d ? difference / d : 0;
  }
}
