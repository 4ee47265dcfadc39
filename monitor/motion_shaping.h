// What the monitor does with the ball values between the section and the
// screen, without windows.h (both trees build and test it): its own
// consistent copy of the ball buffer, the cube-root response with its dead
// zone, the four-tick average and the timer's decision what to redraw; also
// the spinner's angle and the palette's colours.
#pragma once
#include <stdint.h>

#include "motion_section.h"

namespace monitor {

enum EMotionAxis { AxisTx, AxisTy, AxisTz, AxisRx, AxisRy, AxisRz, kMotionAxes };

// Six values in the section's order (tx, ty, tz, rx, ry, rz).
struct MotionDisplayRecord {
  int16_t m_Values[kMotionAxes];
};

// What the monitor keeps of its last copy of record 1's ball buffer.
struct BallValues {
  int m_MotionValid;        // 1 at start; 0 from the first read at rest
  uint16_t m_ReportCount;   // of the last accepted header
  int m_Moving;             // its moving bit (0 or 1)
  int16_t m_Values[kMotionAxes];
};

// Copies the current ball values from any source with Header() and
// Copy(index, BallBuffer*) (see motion_section.h). Accepted: the count and
// moving bit are kept; at rest the values are 0 and motion stops being valid.
// Not accepted after the copy limit: values 0, motion not valid.
template <typename Source>
void ReadBallValuesFrom(const Source& source, BallValues* ball) {
  BallBuffer copy;
  uint16_t header = 0;
  if (ReadConsistentMotion(source, &copy, &header)) {
    ball->m_ReportCount = static_cast<uint16_t>(header & kHeaderCountMask);
    ball->m_Moving = (header & kHeaderMovingBit) ? 1 : 0;
    if (ball->m_Moving) {
      for (int i = 0; i < kMotionAxes; ++i) ball->m_Values[i] = copy.m_Values[i];
      return;
    }
  }
  for (int i = 0; i < kMotionAxes; ++i) ball->m_Values[i] = 0;
  ball->m_MotionValid = 0;
}

// The same over a mapped record; a null record (no section) gives values 0
// and no valid motion.
void ReadBallValues(const DeviceMotionRecord* record, BallValues* ball);

// The display values of a read: the ball values while motion is valid, else
// zeros (a read that gives no motion never hands raw values on).
int ReadDeviceMotion(const DeviceMotionRecord* record, BallValues* ball,
                     MotionDisplayRecord* out);

// One triple (tx, ty, tz or rx, ry, rz) through the response: a length below
// 10 gives zeros; else each value v becomes trunc((v - 10 v / m) * k) with
// w = m / 98304 and k = 0.25 * w^(1/3) / w, so the length becomes
// 0.25 * (m - 10) * (98304 / m)^(2/3).
void ShapeTriple(const int16_t in[3], int16_t out[3]);

// The last four shaped samples; both indexes 0 to 3, 0 when reset.
struct ResponseRing {
  int16_t m_Entries[4][kMotionAxes];
  uint16_t m_Write;
  uint16_t m_Oldest;

  void Reset() { m_Write = m_Oldest = 0; }
  // Stores a sample at the write index and gives the truncated mean of the
  // samples from the oldest one up to it (one to four of them).
  void Push(const int16_t sample[kMotionAxes], MotionDisplayRecord* mean);
};

// The display state the 50 ms timer works on.
struct MonitorDisplay {
  MotionDisplayRecord m_Record;
  ResponseRing m_Ring;
  int m_LastValid;
};

enum ETickResult {
  TickIgnored,          // no motion, and none at the tick before: nothing to do
  TickRedraw,           // new shaped values in m_Record
  TickRedrawAndStop,    // motion ended: the ring is reset, draw the zeros once and stop the timer
};

// One timer tick: valid is the result of the read that filled m_Record.
ETickResult MotionTick(MonitorDisplay* display, int valid);

// The activity spinner's angle in radians for a step count: eight positions.
float SpinnerAngle(int steps);

// One colour component of entry index of the palette a palette device gets:
// the channel's bits of the index (bits wide, at shift) spread over 0-255.
// A channel without bits gives 0.
uint8_t PaletteComponent(int index, int shift, int bits);

}  // namespace monitor
