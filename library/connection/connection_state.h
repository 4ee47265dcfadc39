// The per-object read and status state of CKestrin, and the two kinds of
// work done on it: turning a DeviceStateNotice into callback events, and the
// motion reads from record 1 of the shared section. No windows.h: the reads
// also build natively and run under the sanitizers.
//
// The state words are shared by two threads when a client reads on another
// thread than the one that owns the client window: the window procedure
// changes bits 14 and 15 with atomic read-modify-writes, and a read commits
// its new word with a compare-and-swap against the word it decided on, so
// neither update can overwrite the other (a read that loses the race decides
// again on the new word).
#pragma once
#include <stdint.h>

#include "kestrin_connection.h"
#include "motion_section.h"

namespace Kestrin1 {

enum : uint16_t {
  kStateCounterMask = 0x3FFF,  // report counter seen at the last read
  kStateMovingBit = 0x4000,    // moving at the last read (or by the last notice)
  kStatePeriodValid = 0x8000,  // the smoothed period belongs to the current run
};

constexpr uint16_t kInitialPeriodTics = 122;  // about 25 ms

struct ConnectionState {
  uint16_t m_BallState;
  int32_t m_BallSums[6];
  uint16_t m_BallLastTic;
  uint16_t m_BallPeriod;
  uint16_t m_ScrollState;
  int32_t m_ScrollSums[2];
  uint16_t m_ScrollLastTic;
  uint16_t m_ScrollPeriod;
  uint16_t m_Status;       // low word of the last DeviceStateNotice, less 0x800 and 0x2000
  uint32_t m_StatusValue;  // lParam of the last DeviceStateNotice (buttons)
};

// A fresh state: everything 0, both periods kInitialPeriodTics.
void ResetConnectionState(ConnectionState* state);

// Primes the read state of both sides from one consistent copy each: the
// stored sums and the report counter, so that the next read covers only the
// reports published after this moment. The moving bit stays as the notices
// left it; the period no longer belongs to the run. A side whose copy fails
// (or a null record) is left as it was. The connection primes every live
// state when it maps the view, and a new state when a view is already there.
void PrimeReadState(ConnectionState* state, const DeviceMotionRecord* record);

// The current tic: 204.8 us, wrapping at 2^16.
typedef uint16_t (*TicClock)();

// The ball and scroll-hat reads of record (null when no view is mapped): 1
// with new motion in *out, 0 with *out zeroed.
int ReadBallSide(ConnectionState* state, const DeviceMotionRecord* record, TicClock clock,
                 ABallMotion* out);
int ReadScrollSide(ConnectionState* state, const DeviceMotionRecord* record, TicClock clock,
                   AScrollMotion* out);
// The ball read with the scroll hat merged into tx and ty; the scroll read
// alone into the first fields of *motion when the ball has nothing.
int ReadMergedMotion(ConnectionState* state, const DeviceMotionRecord* record, TicClock clock,
                     ABallMotion* motion, AScrollMotion* scroll);

// The events of one DeviceStateNotice (low word w of wParam, buttons word),
// in the order clients rely on: attached, enabled, ball, scroll hat, then
// buttons. emit is called once per event and returns whether state is still
// to be worked on: a callback may destroy the object whose state this is,
// and then nothing of the notice is applied any more.
typedef bool (*EventSink)(const ConnectionState* state, unsigned int event, long param);
void ApplyDeviceStateNotice(ConnectionState* state, uint16_t w, uint32_t buttons,
                            EventSink emit);

}  // namespace Kestrin1
