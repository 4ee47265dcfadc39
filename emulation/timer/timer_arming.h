// The one-shot timer's shared words and the worker's decision, without the
// system: the worker thread and the host's thread share them without a lock.
//
// The arming is one 32-bit word, start tic in the high half and duration in
// the low half, always written whole: the worker never sees the start of one
// arming with the duration of another, nor a disarmed timer between the two
// halves of a re-arming. An armed duration is odd (bit 0 is the armed mark);
// 0 is disarmed. The worker disarms an expired timer with a compare-and-swap
// against the word it measured, so an arming made meanwhile is never lost.
// No windows.h.
#pragma once
#include <stdint.h>

#include <atomic>

constexpr uint16_t kTimerIdleWaitTics = 65535;  // the wait while disarmed

// The armed word for a start tic and a duration; an even duration gains one
// tic, 0 becomes 1.
constexpr uint32_t ArmedWord(uint16_t start, uint16_t duration) {
  return (static_cast<uint32_t>(start) << 16) | static_cast<uint16_t>(duration | 1u);
}

constexpr uint16_t StartOf(uint32_t arming) { return static_cast<uint16_t>(arming >> 16); }
constexpr uint16_t DurationOf(uint32_t arming) { return static_cast<uint16_t>(arming); }

// Milliseconds of the worker's wait for a number of tics: integer division,
// at least 2 (65535 tics give 13421 ms).
constexpr uint32_t WaitMilliseconds(uint32_t tics) {
  const uint32_t ms = tics * 2048u / 10000u;
  return ms < 2 ? 2 : ms;
}

struct TimerWords {
  std::atomic<uint32_t> arming{0};
  std::atomic<uint16_t> expiryCount{0};
};

// One pass of the worker at tic now (low 16 bits). While armed and not yet
// due: *waitTics = the tics left, result 0. When due: the timer is disarmed,
// the expiry count advances (wrapping at 2^16), result 1 with *count the new
// count for the post, *waitTics the idle wait. Disarmed: idle wait, result 0.
int TimerPass(TimerWords* words, uint16_t now, uint16_t* waitTics, uint16_t* count);
