#include "ball_solver.h"

#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include <limits>

#include "report_bytes.h"

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

const float* A(int k) { return SensorGeometry + 9 * k; }
const float* C(int k) { return SensorGeometry + 9 * k + 3; }
const float* B(int k) { return SensorGeometry + 9 * k + 6; }

TEST(SensorGeometry, IsTheTurnedTetrahedronInNearestFloats) {
  const double r2 = sqrt(2.0);
  const double sensor0[3][3] = {
      {-1 / r2, -2.0 / 3, r2 / 6}, {0, -1.0 / 3, -2 * r2 / 3}, {1 / r2, -2.0 / 3, r2 / 6}};
  const double pi = acos(-1.0);
  const double angles[3] = {0, -2 * pi / 3, 2 * pi / 3};
  for (int k = 0; k < 3; ++k) {
    for (int v = 0; v < 3; ++v) {
      const double* e = sensor0[v];
      const double x = e[0] * cos(angles[k]) + e[2] * sin(angles[k]);
      const double z = -e[0] * sin(angles[k]) + e[2] * cos(angles[k]);
      const float* stored = SensorGeometry + 9 * k + 3 * v;
      EXPECT_EQ(stored[0], static_cast<float>(x)) << "sensor " << k << " vector " << v;
      EXPECT_EQ(stored[1], static_cast<float>(e[1])) << "sensor " << k << " vector " << v;
      EXPECT_EQ(stored[2], static_cast<float>(z)) << "sensor " << k << " vector " << v;
    }
  }
  EXPECT_EQ(SensorGeometry[27], 0.0f);
  EXPECT_EQ(SensorGeometry[28], 1.0f);
  EXPECT_EQ(SensorGeometry[29], 0.0f);
}

TEST(FloatToInt16, RoundsTiesToEvenAndSaturatesBothEnds) {
  struct Case {
    float scaled;  // the value times 32768
    int16_t expected;
  } cases[] = {
      {0.0f, 0},          {0.5f, 0},           {1.5f, 2},          {2.5f, 2},
      {-0.5f, 0},         {-1.5f, -2},         {-2.5f, -2},        {0.49999997f, 0},
      {1000.25f, 1000},   {-1000.75f, -1001},  {32766.5f, 32766},  {32767.0f, 32767},
      {32767.498f, 32767}, {32767.5f, 32767},  {32768.0f, 32767},  {1e30f, 32767},
      {-32766.5f, -32766}, {-32767.5f, -32767}, {-32768.0f, -32767}, {-1e30f, -32767},
  };
  for (const Case& c : cases)
    EXPECT_EQ(FloatToInt16(c.scaled / 32768.0f), c.expected) << c.scaled;
  // Beyond the float range and NaN: still a defined, bounded result.
  EXPECT_EQ(FloatToInt16(kInf), 32767);
  EXPECT_EQ(FloatToInt16(-kInf), -32767);
  EXPECT_EQ(FloatToInt16(3e38f), 32767);  // times 32768 overflows to infinity
  EXPECT_EQ(FloatToInt16(kNaN), 0);
}

TEST(NormaliseVector, GivesUnitLengthOrZerosAnUnusableVector) {
  float v[3] = {3.0f, 0.0f, -4.0f};
  EXPECT_EQ(NormaliseVector(v), 1);
  EXPECT_FLOAT_EQ(v[0], 0.6f);
  EXPECT_EQ(v[1], 0.0f);
  EXPECT_FLOAT_EQ(v[2], -0.8f);

  struct Case {
    const char* what;
    float v[3];
  } unusable[] = {
      {"zero", {0.0f, 0.0f, 0.0f}},
      {"square underflows", {1e-30f, -1e-30f, 0.0f}},
      {"square overflows", {1e20f, 0.0f, 1e20f}},
      {"infinite", {kInf, 0.0f, 0.0f}},
      {"NaN", {0.0f, kNaN, 0.0f}},
  };
  for (Case& c : unusable) {
    EXPECT_EQ(NormaliseVector(c.v), 0) << c.what;
    EXPECT_TRUE(c.v[0] == 0.0f && c.v[1] == 0.0f && c.v[2] == 0.0f) << c.what;
  }

  float out[3];
  const float p[3] = {0.25f, -0.5f, 1.0f};
  EXPECT_EQ(SubtractNormalise(out, p, p), 0);
  EXPECT_TRUE(out[0] == 0.0f && out[1] == 0.0f && out[2] == 0.0f);
}

TEST(UnpackBallFields, PlacesEachTenBitFieldInTheTopOfAWord) {
  const int raws[] = {1, -1, 511, -512, 0x155, -0x156};
  for (int j = 0; j < 6; ++j) {
    for (int raw : raws) {
      int fields[6] = {0, 0, 0, 0, 0, 0};
      fields[j] = raw;
      int16_t v[6];
      UnpackBallFields(v, BallBytes(fields, 0xF).data());  // bits 60-63 set: ignored
      for (int i = 0; i < 6; ++i)
        EXPECT_EQ(v[i], i == j ? 64 * raw : 0) << "field " << j << " raw " << raw;
    }
  }
}

// A state the solver always moves: whether it changed tells whether the
// report got past the rest zone.
bool SolverRan(const int (&fields)[6], uint8_t restZone) {
  float state[3] = {0.0f, 0.5f, 0.0f};
  int16_t out[6];
  memset(out, 0x55, sizeof out);
  SolveBallMotion(out, BallBytes(fields).data(), state, restZone);
  const bool ran = state[0] != 0.0f || state[1] != 0.5f || state[2] != 0.0f;
  if (!ran) {
    for (int i = 0; i < 6; ++i) EXPECT_EQ(out[i], 0) << "output " << i;
  }
  return ran;
}

TEST(BallRestZone, ZeroFieldsStopForEveryRestZoneAndAnyFieldPasses) {
  const int zero[6] = {0, 0, 0, 0, 0, 0};
  for (int restZone = 0; restZone <= 255; ++restZone)
    EXPECT_FALSE(SolverRan(zero, static_cast<uint8_t>(restZone))) << restZone;
  // Every non-zero field adds at least 512 > 255.
  for (int j = 0; j < 6; ++j) {
    for (int raw : {1, -1, 511, -512}) {
      int fields[6] = {0, 0, 0, 0, 0, 0};
      fields[j] = raw;
      for (int restZone : {0, 75, 255})
        EXPECT_TRUE(SolverRan(fields, static_cast<uint8_t>(restZone)))
            << "field " << j << " raw " << raw << " rest zone " << restZone;
    }
  }
}

// Fields (A_k.m_k, B_k.m_k) * 32768 of sensor k for contact-point motions m_k,
// quantised to the ten-bit fields as the device reports them.
void FieldsForMotion(int16_t values[6], const float motion[3][3]) {
  for (int k = 0; k < 3; ++k) {
    const float* m = motion[k];
    const float a = A(k)[0] * m[0] + A(k)[1] * m[1] + A(k)[2] * m[2];
    const float b = B(k)[0] * m[0] + B(k)[1] * m[1] + B(k)[2] * m[2];
    values[2 * k] = static_cast<int16_t>(64 * lrintf(a * 32768.0f / 64.0f));
    values[2 * k + 1] = static_cast<int16_t>(64 * lrintf(b * 32768.0f / 64.0f));
  }
}

struct Vec3 {
  float x, y, z;
};

TEST(BallSolver, CommonDisplacementConvergesToATranslation) {
  const Vec3 displacements[] = {{0.05f, 0, 0}, {-0.05f, 0, 0}, {0, 0.05f, 0}, {0, -0.05f, 0},
                                {0, 0, 0.05f}, {0, 0, -0.05f}, {0.02f, -0.03f, 0.04f}};
  for (const Vec3& d : displacements) {
    const float dv[3] = {d.x, d.y, d.z};
    const float motion[3][3] = {{d.x, d.y, d.z}, {d.x, d.y, d.z}, {d.x, d.y, d.z}};
    int16_t values[6];
    FieldsForMotion(values, motion);
    float state[3] = {0, 0, 0}, t[3], r[3];
    const int updates = SolveBallVectors(t, r, values, state);
    EXPECT_GE(updates, 1) << d.x << " " << d.y << " " << d.z;
    EXPECT_LE(updates, 4) << d.x << " " << d.y << " " << d.z;
    for (int i = 0; i < 3; ++i) {
      EXPECT_NEAR(state[i], 0.1084f * dv[i], 3e-4f) << "axis " << i;
      EXPECT_NEAR(t[i], 0.83f * dv[i], 2.5e-3f) << "axis " << i;
      EXPECT_NEAR(r[i], 0.0f, 1e-3f) << "axis " << i;
    }
    // The converged centre carries into the next report: the same reading
    // passes the first test and leaves the state exactly as it was.
    const float kept[3] = {state[0], state[1], state[2]};
    float t2[3], r2[3];
    EXPECT_EQ(SolveBallVectors(t2, r2, values, state), 0);
    EXPECT_EQ(memcmp(kept, state, sizeof kept), 0);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(t2[i], t[i]);
  }
}

TEST(BallSolver, SmallTurnGivesANegatedRotation) {
  const Vec3 turns[] = {{0.05f, 0, 0}, {0, 0.05f, 0}, {0, 0, 0.05f}, {0, -0.04f, 0},
                        {-0.03f, 0.02f, 0.01f}};
  for (const Vec3& w : turns) {
    const float wv[3] = {w.x, w.y, w.z};
    float motion[3][3];
    for (int k = 0; k < 3; ++k) CrossProduct(motion[k], wv, C(k));  // W x C_k
    int16_t values[6];
    FieldsForMotion(values, motion);
    float state[3] = {0, 0, 0}, t[3], r[3];
    EXPECT_GE(SolveBallVectors(t, r, values, state), 0);
    for (int i = 0; i < 3; ++i) {
      EXPECT_NEAR(r[i], -0.83f * wv[i], 2.5e-3f) << "axis " << i;
      EXPECT_NEAR(t[i], 0.0f, 1e-3f) << "axis " << i;
    }
  }
}

TEST(BallSolver, ReadingsPassingTheFirstTestLeaveTheStateAlone) {
  // (A converged centre meeting its own reading again is covered above.)
  const int16_t tiny[][6] = {
      {64, 0, 0, 0, 0, 0}, {0, 64, 0, 0, 0, 0}, {64, -64, 64, -64, 64, -64}};
  for (const auto& values : tiny) {
    float state[3] = {0, 0, 0}, t[3], r[3];
    EXPECT_EQ(SolveBallVectors(t, r, values, state), 0);
    EXPECT_TRUE(state[0] == 0.0f && state[1] == 0.0f && state[2] == 0.0f);
    // Nothing moved the centre, and the motion is still measured.
    EXPECT_TRUE(t[0] != 0.0f || t[1] != 0.0f || t[2] != 0.0f);
  }
}

TEST(BallSolver, StopsAfterFifteenUpdatesAndCarriesOn) {
  // From far below the contact points the centre needs many passes.
  const int16_t values[6] = {64, 0, 0, 0, 0, 0};
  float state[3] = {0.0f, -0.9f, 0.0f}, t[3], r[3];
  EXPECT_EQ(SolveBallVectors(t, r, values, state), kMaxSolverPasses);
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(isfinite(state[i]) && isfinite(t[i]) && isfinite(r[i])) << i;
  }
  const float afterFirst[3] = {state[0], state[1], state[2]};
  EXPECT_GT(SolveBallVectors(t, r, values, state), 0);
  EXPECT_NE(memcmp(afterFirst, state, sizeof state), 0);

  int16_t out[6];
  float motionState[3] = {0.0f, -0.9f, 0.0f};
  SolveBallMotion(out, BallBytes({1, 0, 0, 0, 0, 0}).data(), motionState, 0);
  EXPECT_EQ(memcmp(afterFirst, motionState, sizeof motionState), 0);
}

TEST(BallSolver, DegenerateStatesGiveNoMotionAndRecoverAtOnce) {
  const int fields[6] = {0, 0, 40, -25, 7, 90};  // sensor 0 idle: P_0 = C_0 exactly
  struct Case {
    const char* what;
    float state[3];
  } cases[] = {
      {"centre on a contact point", {C(0)[0], C(0)[1], C(0)[2]}},
      {"NaN centre", {kNaN, 0, 0}},
      {"infinite centre", {0, -kInf, 0}},
      {"centre too far to measure", {1e20f, 1e20f, -1e20f}},
  };
  int16_t fresh[6];
  float freshState[3] = {0, 0, 0};
  SolveBallMotion(fresh, BallBytes(fields).data(), freshState, 0);
  for (Case& c : cases) {
    int16_t out[6];
    memset(out, 0x55, sizeof out);
    SolveBallMotion(out, BallBytes(fields).data(), c.state, 0);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(out[i], 0) << c.what << " output " << i;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(c.state[i], 0.0f) << c.what;
    // The next report solves as from a fresh slot.
    SolveBallMotion(out, BallBytes(fields).data(), c.state, 0);
    EXPECT_EQ(memcmp(out, fresh, sizeof out), 0) << c.what;
    EXPECT_EQ(memcmp(c.state, freshState, sizeof freshState), 0) << c.what;
  }
}

}  // namespace
