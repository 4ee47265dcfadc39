#include "motion_shaping.h"

#include <math.h>

namespace monitor {

void ReadBallValues(const DeviceMotionRecord* record, BallValues* ball) {
  if (!record) {
    for (int i = 0; i < kMotionAxes; ++i) ball->m_Values[i] = 0;
    ball->m_MotionValid = 0;
    return;
  }
  ReadBallValuesFrom(BallDoubleBuffer(record), ball);
}

int ReadDeviceMotion(const DeviceMotionRecord* record, BallValues* ball,
                     MotionDisplayRecord* out) {
  ReadBallValues(record, ball);
  // A ball that moves while motion is not valid (it rested since the last
  // ball-active message) still has its values in the copy; the display
  // gets none of them.
  for (int i = 0; i < kMotionAxes; ++i)
    out->m_Values[i] = ball->m_MotionValid ? ball->m_Values[i] : 0;
  return ball->m_MotionValid;
}

void ShapeTriple(const int16_t in[3], int16_t out[3]) {
  double m = sqrt(static_cast<double>(in[0]) * in[0] + static_cast<double>(in[1]) * in[1] +
                  static_cast<double>(in[2]) * in[2]);
  if (m < 10.0) {
    out[0] = out[1] = out[2] = 0;
    return;
  }
  double w = m / 98304.0;
  double k = 0.25 * pow(w, 0.33333333333) / w;
  // The largest length (all three at -32768) shapes to about 20460: the
  // results always fit.
  for (int i = 0; i < 3; ++i)
    out[i] = static_cast<int16_t>(trunc((in[i] - 10.0 * in[i] / m) * k));
}

void ResponseRing::Push(const int16_t sample[kMotionAxes], MotionDisplayRecord* mean) {
  for (int i = 0; i < kMotionAxes; ++i) m_Entries[m_Write][i] = sample[i];
  m_Write = static_cast<uint16_t>((m_Write + 1) & 3);
  int count = ((m_Write - m_Oldest - 1) & 3) + 1;
  for (int axis = 0; axis < kMotionAxes; ++axis) {
    double sum = 0;
    for (int n = 0; n < count; ++n) sum += m_Entries[(m_Oldest + n) & 3][axis];
    mean->m_Values[axis] = static_cast<int16_t>(trunc(sum / count));
  }
  if (m_Write == m_Oldest) m_Oldest = static_cast<uint16_t>((m_Oldest + 1) & 3);
}

ETickResult MotionTick(MonitorDisplay* display, int valid) {
  if (!valid) {
    if (!display->m_LastValid) return TickIgnored;
    display->m_LastValid = 0;
    display->m_Ring.Reset();
    return TickRedrawAndStop;
  }
  display->m_LastValid = 1;
  int16_t shaped[kMotionAxes];
  ShapeTriple(display->m_Record.m_Values + AxisTx, shaped + AxisTx);
  ShapeTriple(display->m_Record.m_Values + AxisRx, shaped + AxisRx);
  display->m_Ring.Push(shaped, &display->m_Record);
  return TickRedraw;
}

float SpinnerAngle(int steps) {
  return static_cast<float>((steps % 8) * 3.1415927 * 0.25);
}

uint8_t PaletteComponent(int index, int shift, int bits) {
  int mask = (1 << bits) - 1;
  if (mask <= 0) return 0;  // no bits for this channel: nothing to divide by
  return static_cast<uint8_t>(((index >> shift) & mask) * 255 / mask);
}

}  // namespace monitor
