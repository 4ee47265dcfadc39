#include "report_motion.h"

#include <gtest/gtest.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include "ball_solver.h"
#include "motion_stages.h"
#include "report_bytes.h"

namespace {

const int16_t kDefaultGains[4] = {256, 256, 256, 204};
const int16_t kUnityGains[4] = {128, 128, 128, 128};

// Ball report bytes for contact points moved by translation d and turned by
// the rotation vector w (small), from the geometry's own frame (y up).
std::array<uint8_t, 8> MovedBall(const float d[3], const float w[3]) {
  int fields[6];
  for (int k = 0; k < 3; ++k) {
    const float* a = SensorGeometry + 9 * k;
    const float* c = a + 3;
    const float* b = a + 6;
    float m[3];
    CrossProduct(m, w, c);
    for (int i = 0; i < 3; ++i) m[i] = m[i] + d[i];
    const float ra = a[0] * m[0] + a[1] * m[1] + a[2] * m[2];
    const float rb = b[0] * m[0] + b[1] * m[1] + b[2] * m[2];
    fields[2 * k] = static_cast<int>(lrintf(ra * 512.0f));
    fields[2 * k + 1] = static_cast<int>(lrintf(rb * 512.0f));
  }
  return BallBytes(fields);
}

TEST(ProcessBallReport, AxisConventionPicksWhereTheVerticalAxisGoes) {
  struct Case {
    const char* what;
    float d[3], w[3];
    uint16_t convention;
    int axis;  // the one output expected, positive: tx ty tz rx ry rz
  } cases[] = {
      {"push up", {0, 0.3f, 0}, {0, 0, 0}, 0, 1},
      {"push up", {0, 0.3f, 0}, {0, 0, 0}, 1, 2},
      {"push along x", {0.3f, 0, 0}, {0, 0, 0}, 0, 0},
      {"push along x", {0.3f, 0, 0}, {0, 0, 0}, 1, 0},
      {"push along z", {0, 0, 0.3f}, {0, 0, 0}, 0, 2},
      {"push along -z", {0, 0, -0.3f}, {0, 0, 0}, 1, 1},
      {"twist about y", {0, 0, 0}, {0, 0.3f, 0}, 0, 4},
      {"twist about y", {0, 0, 0}, {0, 0.3f, 0}, 1, 5},
      {"tilt about x", {0, 0, 0}, {0.3f, 0, 0}, 0, 3},
      {"tilt about x", {0, 0, 0}, {0.3f, 0, 0}, 1, 3},
      {"tilt about z", {0, 0, 0}, {0, 0, 0.3f}, 0, 5},
      {"tilt about -z", {0, 0, 0}, {0, 0, -0.3f}, 1, 4},
  };
  for (const Case& c : cases) {
    int16_t out[6];
    float state[3] = {0, 0, 0};
    EXPECT_EQ(ProcessBallReport(out, MovedBall(c.d, c.w).data(), state, 75, kUnityGains,
                                c.convention),
              1);
    EXPECT_GT(out[c.axis], 200) << c.what << " convention " << c.convention;
    for (int i = 0; i < 6; ++i) {
      if (i == c.axis) continue;
      EXPECT_LE(abs(out[i]), out[c.axis] / 20)
          << c.what << " convention " << c.convention << " output " << i;
    }
  }
}

TEST(ProcessBallReport, EachGainScalesItsOwnGroupAfterTheConvention) {
  const float d[3] = {0.2f, 0.25f, -0.15f}, w[3] = {0.15f, -0.2f, 0.25f};
  const auto report = MovedBall(d, w);
  for (uint16_t convention : {0, 1}) {
    int16_t unity[6];
    float state[3] = {0, 0, 0};
    ProcessBallReport(unity, report.data(), state, 0, kUnityGains, convention);
    for (int i = 0; i < 6; ++i) ASSERT_NE(unity[i], 0) << "output " << i;
    struct Case {
      int16_t gains[4];
      bool zeroed[6];  // tx ty tz rx ry rz
    } cases[] = {
        {{0, 128, 128, 128}, {true, true, false, false, false, false}},
        {{128, 0, 128, 128}, {false, false, true, false, false, false}},
        {{128, 128, 0, 128}, {false, false, false, true, true, true}},
        {{128, 128, 128, 0}, {false, false, false, false, false, false}},
    };
    for (const Case& c : cases) {
      int16_t out[6];
      float fresh[3] = {0, 0, 0};
      ProcessBallReport(out, report.data(), fresh, 0, c.gains, convention);
      for (int i = 0; i < 6; ++i)
        EXPECT_EQ(out[i], c.zeroed[i] ? 0 : unity[i]) << "convention " << convention << " output " << i;
    }
    // Doubling pan doubles tx and ty (far from the limit).
    const int16_t doubledPan[4] = {256, 128, 128, 128};
    int16_t out[6];
    float fresh[3] = {0, 0, 0};
    ProcessBallReport(out, report.data(), fresh, 0, doubledPan, convention);
    EXPECT_EQ(out[0], 2 * unity[0]);
    EXPECT_EQ(out[1], 2 * unity[1]);
    EXPECT_EQ(out[2], unity[2]);
  }
}

TEST(ProcessBallReport, ZeroDataGivesNoMotionAndKeepsTheState) {
  const uint8_t zero[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  const uint8_t unusedBitsOnly[8] = {0, 0, 0, 0, 0, 0, 0, 0xF0};
  for (const uint8_t* data : {zero, unusedBitsOnly}) {
    int16_t out[6];
    memset(out, 0x55, sizeof out);
    float state[3] = {0.01f, -0.02f, 0.03f};
    EXPECT_EQ(ProcessBallReport(out, data, state, 0, kDefaultGains, 0), 0);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(out[i], 0);
    EXPECT_TRUE(state[0] == 0.01f && state[1] == -0.02f && state[2] == 0.03f);
  }
}

TEST(ProcessScrollReport, NegatesYAndAppliesTheScrollHatGain) {
  struct Case {
    int x, y;
    int16_t gain;
    int16_t out[2];
    int moving;
  } cases[] = {
      {-512, -512, 204, {0, 32767}, 1},  // -32768 negated saturates; gain limited to 128
      {511, 511, 204, {0, -32576}, 1},
      {100, 50, 204, {60, -182}, 1},
      {100, 50, 128, {38, -114}, 1},
      {100, 50, 0, {0, 0}, 0},
      {1, 0, 204, {0, 0}, 0},
      {0, 0, 204, {0, 0}, 0},
  };
  for (const Case& c : cases) {
    const int16_t gains[4] = {999, 999, 999, c.gain};  // only the scroll-hat gain counts
    int16_t out[2];
    EXPECT_EQ(ProcessScrollReport(out, ScrollBytes(c.x, c.y).data(), 75, gains), c.moving)
        << c.x << "," << c.y;
    EXPECT_EQ(out[0], c.out[0]) << c.x << "," << c.y << " gain " << c.gain;
    EXPECT_EQ(out[1], c.out[1]) << c.x << "," << c.y << " gain " << c.gain;
  }
}

// Runs one report through the chain, checks what every report must give and
// adds outputs and state to the checksum. Returns false after a failure.
bool SweepOne(Checksum& sum, const std::array<uint8_t, 8>& data, float state[3], uint8_t restZone,
              uint16_t convention) {
  int16_t out[6];
  ProcessBallReport(out, data.data(), state, restZone, kDefaultGains, convention);
  sum.Int16s(out, 6);
  sum.Floats(state, 3);
  for (int i = 0; i < 6; ++i) {
    if (out[i] < -32767) {
      ADD_FAILURE() << "output " << i << " is " << out[i];
      return false;
    }
  }
  for (int i = 0; i < 3; ++i) {
    if (!isfinite(state[i])) {
      ADD_FAILURE() << "state " << i << " is " << state[i];
      return false;
    }
  }
  return true;
}

// The same inputs must give the same outputs, bit for bit, in the native and
// the Win32 build: the checksum is one constant for both.
TEST(BallReportSweep, RandomAndExtremeReportsAgreeInBothBuilds) {
  Checksum sum;
  TestRandom random(0x4B657374);
  float carried[3] = {0, 0, 0};
  for (int i = 0; i < 1000000; ++i) {
    const uint64_t bits = random.Next();
    std::array<uint8_t, 8> data;
    for (int b = 0; b < 8; ++b) data[b] = static_cast<uint8_t>(bits >> (8 * b));
    const uint8_t restZone = static_cast<uint8_t>(bits >> 56);
    const uint16_t convention = static_cast<uint16_t>(i & 1);
    float fresh[3] = {0, 0, 0};
    float* state = (i & 2) ? carried : fresh;
    if (!SweepOne(sum, data, state, restZone, convention)) return;
  }
  // Every field at one of its extremes or next to zero, fresh and carried.
  const int levels[5] = {-512, -1, 0, 1, 511};
  float extremeCarried[3] = {0, 0, 0};
  for (int combo = 0; combo < 15625; ++combo) {
    int fields[6];
    for (int j = 0, c = combo; j < 6; ++j, c /= 5) fields[j] = levels[c % 5];
    const auto data = BallBytes(fields, 0xF);
    float fresh[3] = {0, 0, 0};
    if (!SweepOne(sum, data, fresh, 0, 0)) return;
    if (!SweepOne(sum, data, extremeCarried, 0, 1)) return;
  }
  EXPECT_EQ(sum.value, 0xF9D91A0D3B4573ADull) << std::hex << sum.value;
}

}  // namespace
