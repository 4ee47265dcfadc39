// The ball solver: turns the six 10-bit sensor fields of one ball report into
// three translations and three rotations (int16, full scale 32767).
//
// Three sensors each measure a displacement in the tangent plane at one of
// three contact points; a short fixed-point iteration, started from the
// previous report's result, finds the centre from which the displaced contact
// points are seen at the tetrahedral angle, and from it the motion of a
// fourth, unmeasured apex point. Single precision throughout, every operation
// in the order written here (the builds use SSE and forbid contraction).
// No windows.h: built in the service and in the native tests.
#pragma once
#include <stdint.h>

// Per sensor k: the unit vectors A_k, C_k, B_k (nine floats each; C_k the
// contact point, A_k and B_k the two sensing directions), then the apex
// (0, 1, 0). Sensor 1 is sensor 0 turned by -120 degrees about y, sensor 2 by
// +120 degrees.
extern const float SensorGeometry[30];

constexpr float kContactPerReading = 0.10843374f;  // 9/83
constexpr float kApexToReading = 9.222222f;        // 83/9
constexpr float kTetrahedralThird = 0.33333334f;   // -cos of the tetrahedral angle
constexpr float kStopTolerance = 0.0003f;
constexpr float kRelaxation = 0.59375f;            // 19/32
constexpr float kOutputScale = 0.3125f;            // 5/16
constexpr float kInt16ToFloat = 1.0f / 32768.0f;   // 2^-15
constexpr float kFloatToInt16 = 32768.0f;
constexpr int kMaxSolverPasses = 15;

// out = A * (r0 * 2^-15) + B * (r1 * 2^-15), A = frame[0..2], B = frame[6..8].
void SensorToVector(float out[3], int16_t r0, int16_t r1, const float frame[9]);
// out = v * kContactPerReading + base.
void ScaleAddVector(float out[3], const float v[3], const float base[3]);
// out = a - b, normalised. Returns 0 (out zeroed) when a - b has no usable
// length, 1 otherwise.
int SubtractNormalise(float out[3], const float a[3], const float b[3]);
// v = v * (1 / sqrt(x^2 + y^2 + z^2)). Returns 0 and zeroes v when the length
// is zero or not finite (no NaN or infinity leaves here), 1 otherwise.
int NormaliseVector(float v[3]);
// a . b + kTetrahedralThird.
float DotPlusThird(const float a[3], const float b[3]);
// out = a x b.
void CrossProduct(float out[3], const float a[3], const float b[3]);
// f * 32768 rounded to the nearest integer (ties to even), clamped to
// [-32767, 32767]; NaN gives 0.
int16_t FloatToInt16(float f);

// Report bytes 1-8 as one little-endian 64-bit value: field j is bits 10j to
// 10j+9, two's complement; v_j = 64 * field (bits 60-63 are not used).
void UnpackBallFields(int16_t values[6], const uint8_t data[8]);

// The solve proper on the six working values (fields placed in the top ten
// bits of 16-bit words): translation T and rotation R of the apex frame, in
// floats before output scaling to int16, with the state carried in place.
// Returns the number of centre updates made (0 to kMaxSolverPasses), or -1
// for a degenerate geometry: T and R are zero and the state is reset to the
// origin.
int SolveBallVectors(float translation[3], float rotation[3], const int16_t values[6],
                     float state[3]);

// outputs: tx, tz, -ty, rx, rz, -ry in the geometry's frame (y towards the
// apex), after the cubic response curve on each triplet. data: report bytes
// 1-8. state: the centre estimate, carried from report to report; untouched
// when the report stays inside the rest zone (all-zero data always does).
// A degenerate geometry (a direction of zero length, an apex ray parallel to
// the apex plane, a non-finite centre) gives zero outputs and resets the state
// to the origin, from which the next report solves normally.
void SolveBallMotion(int16_t outputs[6], const uint8_t data[8], float state[3],
                     uint8_t restZone);
