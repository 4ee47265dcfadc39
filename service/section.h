// The writer's side of the shared motion section: the publishing protocol of
// one double buffer under one MotionHeader. No windows.h: the report path and
// the native tests share these helpers. The section itself (create, map,
// unmap, record of a slot) is in section.cpp, its prototypes in
// service_private.h.
//
// Publishing one batch of reports into a double buffer:
//   uint16_t h = BeginMotionBatch(HeaderOf...(record));
//   target = the buffer MotionBackBuffer(h) names; source = the current one;
//   for every accumulated report: target sums = source sums + values, then
//     source = target's own sums; target values = the report's outputs;
//     h = WithMovingBit(h, that report moved);
//   PublishMotionBatch(HeaderOf...(record), h, n);   // nothing when n is 0
// Only the back buffer is ever written, and the one header store comes after
// every buffer store, so a reader either sees the old batch or the new one.
#pragma once
#include <stdint.h>

#include "motion_section.h"

inline int MotionBackBuffer(uint16_t header) { return (header & kHeaderBufferBit) ? 0 : 1; }

inline uint16_t WithMovingBit(uint16_t header, int moving) {
  return moving ? static_cast<uint16_t>(header | kHeaderMovingBit)
                : static_cast<uint16_t>(header & ~kHeaderMovingBit);
}

// The header after a batch of n reports whose moving state is already in bit
// 14 of h: the count advances modulo 2^14 and the current buffer flips.
inline uint16_t NextMotionHeader(uint16_t h, uint32_t n) {
  uint32_t count = (static_cast<uint32_t>(h) + n) & kHeaderCountMask;
  return static_cast<uint16_t>(((h & (kHeaderMovingBit | kHeaderBufferBit)) | count) ^
                               kHeaderBufferBit);
}

// The header as the writer starts a batch. The release fence keeps the
// previous batch's header store ahead of this batch's buffer stores, so a
// reader that sees any of them also sees the header change.
inline uint16_t BeginMotionBatch(const uint16_t* header) {
  uint16_t h = __atomic_load_n(header, __ATOMIC_RELAXED);
  __atomic_thread_fence(__ATOMIC_RELEASE);
  return h;
}

// Publishes a batch of n accumulated reports with one 16-bit store, ordered
// after every buffer store of the batch. n of 0 stores nothing.
inline void PublishMotionBatch(uint16_t* header, uint16_t h, uint32_t n) {
  if (!n) return;
  __atomic_store_n(header, NextMotionHeader(h, n), __ATOMIC_RELEASE);
}

// ---- the section of this service run (section.cpp, Win32) ----
// Creates and maps the section; the view or null. InitSharedMemory calls it.
void* MapSharedMemory();
// Bytes of the mapped view; 0 when the section is not mapped.
uint32_t SharedSectionBytes();
