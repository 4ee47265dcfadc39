// Device-state notices and motion reads on one CKestrin's state.
#include "connection_state.h"

#include <string.h>

#include "pipe_protocol.h"

namespace Kestrin1 {

namespace {

uint16_t LoadWord(const uint16_t* word) { return __atomic_load_n(word, __ATOMIC_ACQUIRE); }
void SetBits(uint16_t* word, uint16_t bits) { __atomic_fetch_or(word, bits, __ATOMIC_ACQ_REL); }
void ClearBits(uint16_t* word, uint16_t bits) {
  __atomic_fetch_and(word, static_cast<uint16_t>(~bits), __ATOMIC_ACQ_REL);
}

// One side of the record (ball or scroll hat) and of the object's state.
template <typename Buffer, int Axes>
struct Side {
  MotionDoubleBuffer<Buffer> m_Source;
  uint16_t* m_State;
  int32_t* m_Sums;
  uint16_t* m_LastTic;
  uint16_t* m_Period;
};

Side<BallBuffer, 6> BallSide(ConnectionState* state, const DeviceMotionRecord* record) {
  Side<BallBuffer, 6> side = {BallDoubleBuffer(record), &state->m_BallState, state->m_BallSums,
                              &state->m_BallLastTic, &state->m_BallPeriod};
  return side;
}

Side<ScrollBuffer, 2> ScrollSide(ConnectionState* state, const DeviceMotionRecord* record) {
  Side<ScrollBuffer, 2> side = {ScrollDoubleBuffer(record), &state->m_ScrollState,
                                state->m_ScrollSums, &state->m_ScrollLastTic,
                                &state->m_ScrollPeriod};
  return side;
}

// The sums and the counter of one side from one consistent copy; the state
// word keeps its moving bit (the window procedure's) and loses the period.
template <typename Buffer, int Axes>
void PrimeSide(const Side<Buffer, Axes>& side) {
  Buffer copy;
  uint16_t header;
  if (!ReadConsistentMotion(side.m_Source, &copy, &header)) return;
  memcpy(side.m_Sums, copy.m_Sums, sizeof copy.m_Sums);
  uint16_t word = LoadWord(side.m_State);
  for (;;) {
    const uint16_t next =
        static_cast<uint16_t>((word & kStateMovingBit) | MotionReportCount(header));
    if (__atomic_compare_exchange_n(side.m_State, &word, next, false, __ATOMIC_ACQ_REL,
                                    __ATOMIC_ACQUIRE))
      return;
  }
}

// The read of one side: 1 with *tics and axes[0..Axes) set, 0 with them
// zeroed. record null means no view.
template <typename Buffer, int Axes>
int ReadSide(ConnectionState* state, const DeviceMotionRecord* record,
             Side<Buffer, Axes> (*sideOf)(ConnectionState*, const DeviceMotionRecord*),
             uint16_t* stateWord, TicClock clock, uint16_t* tics, int16_t* axes) {
  const bool enabled = (LoadWord(&state->m_Status) & StateDeviceEnabled) != 0;
  Buffer copy = {};
  uint16_t header = 0;
  if (!record || !enabled || !ReadConsistentMotion(sideOf(state, record).m_Source, &copy, &header)) {
    // No data: the run ends (the counter keeps what it was).
    ClearBits(stateWord, kStateMovingBit | kStatePeriodValid);
    *tics = 0;
    for (int i = 0; i < Axes; ++i) axes[i] = 0;
    return 0;
  }
  Side<Buffer, Axes> side = sideOf(state, record);
  const uint16_t counter = MotionReportCount(header);
  const bool headerMoving = (header & kHeaderMovingBit) != 0;

  // Decide on the state word as it stands and commit the new word only when
  // nobody changed it meanwhile; the window procedure may clear bit 15 or
  // move bit 14 between the load and the swap.
  uint16_t word = LoadWord(side.m_State);
  uint16_t reports;
  bool fresh;
  for (;;) {
    reports = ReportsSince(static_cast<uint16_t>(word & kStateCounterMask), header);
    fresh = reports >= 2 || (reports == 1 && headerMoving) ||
            (reports == 0 && (word & kStateMovingBit));
    uint16_t next = fresh ? static_cast<uint16_t>(counter | (header & kHeaderMovingBit) |
                                                  kStatePeriodValid)
                          : counter;
    if (__atomic_compare_exchange_n(side.m_State, &word, next, false, __ATOMIC_ACQ_REL,
                                    __ATOMIC_ACQUIRE))
      break;
  }
  if (!fresh) {
    *tics = 0;
    for (int i = 0; i < Axes; ++i) axes[i] = 0;
    return 0;
  }

  const bool wasMoving = (word & kStateMovingBit) != 0;
  const bool periodValid = (word & kStatePeriodValid) != 0;
  const uint16_t now = clock();
  const uint16_t elapsed = static_cast<uint16_t>(now - *side.m_LastTic);
  *side.m_LastTic = now;
  uint16_t covered;
  if (wasMoving && headerMoving && periodValid) {
    covered = elapsed;
    int difference = static_cast<int>(elapsed) - static_cast<int>(*side.m_Period);
    *side.m_Period = static_cast<uint16_t>(*side.m_Period + (difference >> 3));
  } else {
    covered = *side.m_Period;
  }
  *tics = covered ? covered : 1;

  if (reports >= 2) {
    int32_t mean[Axes];
    MeanMotion(copy.m_Sums, side.m_Sums, reports, Axes, mean);
    for (int i = 0; i < Axes; ++i) axes[i] = static_cast<int16_t>(mean[i]);
  } else {
    for (int i = 0; i < Axes; ++i) axes[i] = copy.m_Values[i];
  }
  memcpy(side.m_Sums, copy.m_Sums, sizeof copy.m_Sums);
  return 1;
}

}  // namespace

void ResetConnectionState(ConnectionState* state) {
  memset(state, 0, sizeof *state);
  state->m_BallPeriod = kInitialPeriodTics;
  state->m_ScrollPeriod = kInitialPeriodTics;
}

void PrimeReadState(ConnectionState* state, const DeviceMotionRecord* record) {
  if (!record) return;
  PrimeSide(BallSide(state, record));
  PrimeSide(ScrollSide(state, record));
}

int ReadBallSide(ConnectionState* state, const DeviceMotionRecord* record, TicClock clock,
                 ABallMotion* out) {
  int16_t axes[6];
  int result = ReadSide(state, record, BallSide, &state->m_BallState, clock, &out->tics, axes);
  out->tx = axes[0];
  out->ty = axes[1];
  out->tz = axes[2];
  out->rx = axes[3];
  out->ry = axes[4];
  out->rz = axes[5];
  return result;
}

int ReadScrollSide(ConnectionState* state, const DeviceMotionRecord* record, TicClock clock,
                   AScrollMotion* out) {
  int16_t axes[2];
  int result = ReadSide(state, record, ScrollSide, &state->m_ScrollState, clock, &out->tics, axes);
  out->x = axes[0];
  out->y = axes[1];
  return result;
}

int ReadMergedMotion(ConnectionState* state, const DeviceMotionRecord* record, TicClock clock,
                     ABallMotion* motion, AScrollMotion* scroll) {
  if (ReadBallSide(state, record, clock, motion)) {
    if (ReadScrollSide(state, record, clock, scroll)) {
      motion->tx = static_cast<int16_t>(static_cast<uint16_t>(motion->tx) +
                                        static_cast<uint16_t>(scroll->x));
      motion->ty = static_cast<int16_t>(static_cast<uint16_t>(motion->ty) +
                                        static_cast<uint16_t>(scroll->y));
    }
    return 1;
  }
  motion->tz = motion->rx = motion->ry = motion->rz = 0;
  AScrollMotion alone;
  int result = ReadScrollSide(state, record, clock, &alone);
  motion->tics = alone.tics;
  motion->tx = alone.x;
  motion->ty = alone.y;
  return result;
}

void ApplyDeviceStateNotice(ConnectionState* state, uint16_t w, uint32_t buttons,
                            EventSink emit) {
  const uint16_t changed = static_cast<uint16_t>(LoadWord(&state->m_Status) ^ w);
  if (changed) {
    if (changed & StateDeviceAttached &&
        !emit(state, (w & StateDeviceAttached) ? EventDeviceAttached : EventDeviceDetached, 0))
      return;
    if (changed & StateDeviceEnabled) {
      if (!emit(state, (w & StateDeviceEnabled) ? EventDeviceEnabled : EventDeviceDisabled, 0))
        return;
      if (w & StateDeviceEnabled) {
        ClearBits(&state->m_BallState, kStatePeriodValid);
        ClearBits(&state->m_ScrollState, kStatePeriodValid);
      }
    }
    if (changed & StateBallActive) {
      if (!emit(state, (w & StateBallActive) ? EventBallActive : EventBallReleased, 0)) return;
      if (w & StateBallActive)
        SetBits(&state->m_BallState, kStateMovingBit);
      else
        ClearBits(&state->m_BallState, kStateMovingBit);
    }
    if (changed & StateBallChanged) ClearBits(&state->m_BallState, kStatePeriodValid);
    if (changed & StateScrollActive) {
      if (!emit(state, (w & StateScrollActive) ? EventScrollActive : EventScrollReleased, 0))
        return;
      if (w & StateScrollActive)
        SetBits(&state->m_ScrollState, kStateMovingBit);
      else
        ClearBits(&state->m_ScrollState, kStateMovingBit);
    }
    if (changed & StateScrollChanged) ClearBits(&state->m_ScrollState, kStatePeriodValid);
    __atomic_store_n(&state->m_Status,
                     static_cast<uint16_t>(w & ~(StateBallChanged | StateScrollChanged)),
                     __ATOMIC_RELEASE);
  }
  if (buttons != state->m_StatusValue) {
    state->m_StatusValue = buttons;
    emit(state, EventButtonsChanged, static_cast<long>(buttons));
  }
}

}  // namespace Kestrin1
