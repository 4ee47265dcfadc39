// Integer helpers of the motion stages with fully defined behaviour: an
// arithmetic right shift (rounding towards minus infinity) without shifting a
// negative value, and a 16-bit two's complement negation (-32768 stays -32768).
#pragma once
#include <stdint.h>

inline int32_t ShiftRightFloor(int32_t v, unsigned n) {
  // For v < 0, ~v = -v - 1 >= 0, and ~(~v >> n) = floor(v / 2^n).
  return v >= 0 ? (v >> n) : ~(~v >> n);
}

inline int16_t Negate16(int16_t v) {
  return v == INT16_MIN ? v : static_cast<int16_t>(-v);
}
