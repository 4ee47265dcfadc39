#include "ball_solver.h"

#include <cfloat>
#include <cmath>

#include "motion_stages.h"

// Every float operation must round to single precision as it goes (SSE, not
// the x87 unit): results must not depend on the build, and FloatToInt16
// rounds by adding and taking away 1.5 * 2^23.
static_assert(FLT_EVAL_METHOD == 0, "float expressions must be evaluated in float");

const float SensorGeometry[30] = {
    // sensor 0: A, C, B
    -0.70710677f, -0.6666667f, 0.23570226f,
    0.0f, -0.33333334f, -0.94280905f,
    0.70710677f, -0.6666667f, 0.23570226f,
    // sensor 1
    0.14942925f, -0.6666667f, -0.73022354f,
    0.8164966f, -0.33333334f, 0.47140452f,
    -0.5576775f, -0.6666667f, 0.49452132f,
    // sensor 2
    0.5576775f, -0.6666667f, 0.49452132f,
    -0.8164966f, -0.33333334f, 0.47140452f,
    -0.14942925f, -0.6666667f, -0.73022354f,
    // apex
    0.0f, 1.0f, 0.0f,
};

void SensorToVector(float out[3], int16_t r0, int16_t r1, const float frame[9]) {
  const float a = static_cast<float>(r0) * kInt16ToFloat;
  const float b = static_cast<float>(r1) * kInt16ToFloat;
  for (int i = 0; i < 3; ++i) out[i] = frame[i] * a + frame[6 + i] * b;
}

void ScaleAddVector(float out[3], const float v[3], const float base[3]) {
  for (int i = 0; i < 3; ++i) out[i] = v[i] * kContactPerReading + base[i];
}

int NormaliseVector(float v[3]) {
  const float square = v[0] * v[0] + v[1] * v[1] + v[2] * v[2];
  // A zero square (also from components too small to square) would give an
  // infinite factor; an infinite one a zero factor and a meaningless direction.
  if (!(square > 0.0f) || !std::isfinite(square)) {
    v[0] = v[1] = v[2] = 0.0f;
    return 0;
  }
  const float factor = 1.0f / std::sqrt(square);
  for (int i = 0; i < 3; ++i) v[i] = v[i] * factor;
  return 1;
}

int SubtractNormalise(float out[3], const float a[3], const float b[3]) {
  for (int i = 0; i < 3; ++i) out[i] = a[i] - b[i];
  return NormaliseVector(out);
}

float DotPlusThird(const float a[3], const float b[3]) {
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + kTetrahedralThird;
}

void CrossProduct(float out[3], const float a[3], const float b[3]) {
  const float x = a[1] * b[2] - a[2] * b[1];
  const float y = a[2] * b[0] - a[0] * b[2];
  const float z = a[0] * b[1] - a[1] * b[0];
  out[0] = x;
  out[1] = y;
  out[2] = z;
}

int16_t FloatToInt16(float f) {
  const float x = f * kFloatToInt16;
  if (x != x) return 0;
  if (x >= 32767.0f) return 32767;
  if (x <= -32767.0f) return -32767;
  // |x| < 2^23: adding and taking away 1.5 * 2^23 leaves x rounded to an
  // integer in the current (nearest, ties to even) mode, with no library call.
  const float magic = 12582912.0f;
  const float rounded = (x + magic) - magic;
  return static_cast<int16_t>(rounded);
}

void UnpackBallFields(int16_t v[6], const uint8_t data[8]) {
  uint64_t bits = 0;
  for (int i = 7; i >= 0; --i) bits = (bits << 8) | data[i];
  for (int j = 0; j < 6; ++j) {
    const int field = static_cast<int>((bits >> (10 * j)) & 0x3FF);
    const int n = field >= 512 ? field - 1024 : field;
    v[j] = static_cast<int16_t>(64 * n);
  }
}

static bool OutsideRestZone(const int16_t v[6], uint8_t restZone) {
  int32_t sum = 0;  // at most 6 * 2^27: no overflow
  for (int j = 0; j < 6; ++j) {
    sum += (v[j] / 4) * (v[j] / 2);
    if (sum > static_cast<int32_t>(restZone)) return true;
  }
  return false;
}

static int Directions(float u[3][3], const float p[3][3], const float s[3]) {
  int ok = 1;
  for (int k = 0; k < 3; ++k) ok &= SubtractNormalise(u[k], p[k], s);
  return ok;
}

int SolveBallVectors(float translation[3], float rotation[3], const int16_t values[6],
                     float state[3]) {
  float d[3][3], p[3][3], u[3][3];
  for (int k = 0; k < 3; ++k) {
    const float* frame = SensorGeometry + 9 * k;
    SensorToVector(d[k], values[2 * k], values[2 * k + 1], frame);
    ScaleAddVector(p[k], d[k], frame + 3);
  }

  float s[3] = {state[0], state[1], state[2]};
  int ok = Directions(u, p, s);
  int updates = 0;
  // The test comes before each update: after the last update there is none.
  for (; ok && updates < kMaxSolverPasses; ++updates) {
    const float e01 = DotPlusThird(u[0], u[1]);
    const float e12 = DotPlusThird(u[1], u[2]);
    const float e20 = DotPlusThird(u[2], u[0]);
    if (std::fabs(e01) + std::fabs(e12) + std::fabs(e20) < kStopTolerance) break;
    const float c0 = kRelaxation * (e20 + e01);
    const float c1 = kRelaxation * (e01 + e12);
    const float c2 = kRelaxation * (e20 + e12);
    for (int i = 0; i < 3; ++i) s[i] = s[i] + c0 * p[0][i] + c1 * p[1][i] + c2 * p[2][i];
    ok = Directions(u, p, s);
  }

  float apex[3] = {0.0f, 0.0f, 0.0f};
  float sum[3];
  for (int i = 0; i < 3; ++i) sum[i] = u[0][i] + u[1][i] + u[2][i];
  if (ok && sum[1] != 0.0f) {
    // The ray from s along -U meets the apex plane y = 1 at s - t U.
    const float t = (1.0f - s[1]) / -sum[1];
    apex[0] = kApexToReading * (s[0] - t * sum[0]);
    apex[2] = kApexToReading * (s[2] - t * sum[2]);
    ok = std::isfinite(t) && std::isfinite(apex[0]) && std::isfinite(apex[2]);
  } else {
    ok = 0;
  }
  if (!ok) {
    // A centre on a contact point, an apex ray parallel to the apex plane or a
    // centre gone to infinity: no motion from this report, and the next one
    // starts from the origin, where every direction is defined again.
    for (int i = 0; i < 3; ++i) translation[i] = rotation[i] = state[i] = 0.0f;
    return -1;
  }
  state[0] = s[0];
  state[1] = s[1];
  state[2] = s[2];

  float turn[3][3];
  for (int k = 0; k < 3; ++k) CrossProduct(turn[k], d[k], SensorGeometry + 9 * k + 3);
  const float apexTurn[3] = {-apex[2], 0.0f, apex[0]};  // apex x (0, 1, 0)
  for (int i = 0; i < 3; ++i) {
    translation[i] = kOutputScale * (d[0][i] + d[1][i] + d[2][i] + apex[i]);
    rotation[i] = kOutputScale * (turn[0][i] + turn[1][i] + turn[2][i] + apexTurn[i]);
  }
  return updates;
}

void SolveBallMotion(int16_t outputs[6], const uint8_t data[8], float state[3],
                     uint8_t restZone) {
  int16_t v[6];
  UnpackBallFields(v, data);
  float t[3], r[3];
  if (!OutsideRestZone(v, restZone) || SolveBallVectors(t, r, v, state) < 0) {
    for (int i = 0; i < 6; ++i) outputs[i] = 0;
    return;
  }
  outputs[0] = FloatToInt16(t[0]);
  outputs[1] = FloatToInt16(t[2]);
  outputs[2] = FloatToInt16(-t[1]);
  outputs[3] = FloatToInt16(r[0]);
  outputs[4] = FloatToInt16(r[2]);
  outputs[5] = FloatToInt16(-r[1]);
  CubicResponseTriplet(outputs);
  CubicResponseTriplet(outputs + 3);
}
