// The tic clock of KestrinZel2: the system file time divided by 2048, one
// tic 204.8 us. GetTicCount gives 21 bits (the low 32 bits of the file time
// shifted right by 11), wrapping every 429.4967296 s; the timer works on the
// low 16 bits. No windows.h: the caller reads the file time.
#pragma once
#include <stdint.h>

constexpr unsigned kTicShift = 11;
constexpr uint32_t kTicCountMask = (1u << 21) - 1;

constexpr uint32_t TicCountFromFileTimeLow(uint32_t fileTimeLow) {
  return fileTimeLow >> kTicShift;
}

// Tics from one count to a later one, across the 21-bit wrap.
constexpr uint32_t TicsBetween(uint32_t earlier, uint32_t later) {
  return (later - earlier) & kTicCountMask;
}

// The current tic count (GetSystemTimeAsFileTime).
uint32_t ReadTicCount();
