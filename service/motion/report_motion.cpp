#include "report_motion.h"

#include "ball_solver.h"
#include "motion_stages.h"

int ProcessBallReport(int16_t out[6], const uint8_t data[8], float solverState[3],
                      uint8_t restZone, const int16_t gains[4], uint16_t axisConvention) {
  SolveBallMotion(out, data, solverState, restZone);
  ApplyAxisConvention(out, axisConvention);
  ApplyGain2(out, static_cast<uint16_t>(gains[0]));      // tx, ty
  ApplyGain1(out + 2, static_cast<uint16_t>(gains[1]));  // tz
  ApplyGain3(out + 3, static_cast<uint16_t>(gains[2]));  // rx, ry, rz
  return (out[0] | out[1] | out[2] | out[3] | out[4] | out[5]) != 0;
}

int ProcessScrollReport(int16_t out[2], const uint8_t data[3], uint8_t restZone,
                        const int16_t gains[4]) {
  DecodeScrollReport(out, data, restZone);
  out[1] = out[1] == -32768 ? int16_t{32767} : static_cast<int16_t>(-out[1]);
  ApplyGain2(out, static_cast<uint16_t>(gains[3]));
  return (out[0] | out[1]) != 0;
}
