// The monitor's shaping, averaging and ball copy, without windows.h.
#include "motion_shaping.h"

#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include <vector>

namespace monitor {
namespace {

struct ShapeCase {
  const char* name;
  int16_t in[3];
  int16_t out[3];
};

TEST(MonitorShapeTriple, DeadZoneThenCubeRoot) {
  const ShapeCase cases[] = {
      {"length 9", {9, 0, 0}, {0, 0, 0}},
      {"length 9 on another axis", {0, -9, 0}, {0, 0, 0}},
      {"length 10 is all dead zone", {6, 8, 0}, {0, 0, 0}},
      {"length 10 negative", {0, 0, -10}, {0, 0, 0}},
      {"just past the dead zone", {11, 0, 0}, {107, 0, 0}},
      {"small values are raised", {100, 0, 0}, {2224, 0, 0}},
      {"negative single axis", {-4000, 0, 0}, {-8431, 0, 0}},
      {"large values are lowered", {32767, 0, 0}, {17034, 0, 0}},
      {"most negative value", {0, 0, -32768}, {0, 0, -17034}},
      {"two axes keep their direction", {300, 400, 0}, {2485, 3313, 0}},
      {"longest vector still fits", {-32768, -32768, -32768}, {-11812, -11812, -11812}},
  };
  for (const ShapeCase& c : cases) {
    int16_t out[3] = {1, 1, 1};
    ShapeTriple(c.in, out);
    EXPECT_EQ(out[0], c.out[0]) << c.name;
    EXPECT_EQ(out[1], c.out[1]) << c.name;
    EXPECT_EQ(out[2], c.out[2]) << c.name;
  }
}

// A single axis v (the other two 0) becomes trunc((v - 10) * 0.25 * (98304 / v)^(2/3)).
TEST(MonitorShapeTriple, SingleAxisFollowsTheCurve) {
  for (int v : {20, 500, 12288, 20000, 32767}) {
    int16_t in[3] = {0, static_cast<int16_t>(v), 0};
    int16_t out[3];
    ShapeTriple(in, out);
    double expected = (v - 10) * 0.25 * pow(98304.0 / v, 2.0 / 3.0);
    EXPECT_NEAR(out[1], trunc(expected), 1.0) << v;
    EXPECT_EQ(out[0], 0) << v;
    EXPECT_EQ(out[2], 0) << v;
    if (v < 12288) {
      EXPECT_GT(out[1], v) << v;
    }
    if (v > 12288) {
      EXPECT_LT(out[1], v) << v;
    }
  }
}

MotionDisplayRecord Sample(int16_t tx, int16_t rz) {
  MotionDisplayRecord r = {};
  r.m_Values[AxisTx] = tx;
  r.m_Values[AxisRz] = rz;
  return r;
}

TEST(MonitorResponseRing, MeanOfUpToTheLastFourSamples) {
  ResponseRing ring;
  ring.Reset();
  MotionDisplayRecord mean;
  // Each push: the sample's tx, the mean expected after it.
  const struct { int16_t tx; int16_t mean; } steps[] = {
      {100, 100},                 // one sample
      {200, 150},                 // two
      {300, 200},                 // three
      {400, 250},                 // four
      {1000, 475},                // the first one drops out: 200 300 400 1000
      {-1000, 175},               // 300 400 1000 -1000
      {-1000, -150},              // 400 1000 -1000 -1000
      {-1001, -500},              // 1000 -1000 -1000 -1001: -500.25 truncates toward 0
  };
  for (size_t i = 0; i < sizeof steps / sizeof steps[0]; ++i) {
    MotionDisplayRecord s = Sample(steps[i].tx, static_cast<int16_t>(-steps[i].tx));
    ring.Push(s.m_Values, &mean);
    int16_t want = steps[i].mean;
    EXPECT_EQ(mean.m_Values[AxisTx], want) << "push " << i;
    EXPECT_EQ(mean.m_Values[AxisRz], -want) << "push " << i;
    EXPECT_EQ(mean.m_Values[AxisTy], 0) << "push " << i;
    EXPECT_LT(ring.m_Write, 4);
    EXPECT_LT(ring.m_Oldest, 4);
  }
}

TEST(MonitorResponseRing, ResetStartsAgainFromOneSample) {
  ResponseRing ring;
  ring.Reset();
  MotionDisplayRecord mean;
  for (int16_t tx : {400, 400, 400, 400, 400}) ring.Push(Sample(tx, 0).m_Values, &mean);
  ring.Reset();
  EXPECT_EQ(ring.m_Write, 0);
  EXPECT_EQ(ring.m_Oldest, 0);
  ring.Push(Sample(-7, 0).m_Values, &mean);
  EXPECT_EQ(mean.m_Values[AxisTx], -7);
  ring.Push(Sample(0, 0).m_Values, &mean);
  EXPECT_EQ(mean.m_Values[AxisTx], -3);  // -3.5 truncates toward zero
}

// The timer over a run of reads: (valid, tx read) -> result, tx displayed.
TEST(MonitorTick, RunsStopAndStartAnew) {
  MonitorDisplay display = {};
  display.m_Ring.Reset();
  const struct {
    const char* name;
    int valid;
    int16_t tx;
    ETickResult result;
    int16_t shown;
  } ticks[] = {
      {"at rest before any motion", 0, 0, TickIgnored, 0},
      {"still at rest", 0, 0, TickIgnored, 0},
      {"first tick: the curve alone", 1, 100, TickRedraw, 2224},
      {"second tick: the mean of two", 1, 11, TickRedraw, (2224 + 107) / 2},
      {"motion ends: zeros once, timer stops", 0, 0, TickRedrawAndStop, 0},
      {"no motion again: nothing", 0, 0, TickIgnored, 0},
      {"moving again: one sample", 1, 11, TickRedraw, 107},
  };
  for (const auto& t : ticks) {
    display.m_Record = Sample(t.tx, 0);
    display.m_Record.m_Values[AxisRx] = 9;  // the rotation triple is in its dead zone
    EXPECT_EQ(MotionTick(&display, t.valid), t.result) << t.name;
    EXPECT_EQ(display.m_Record.m_Values[AxisTx], t.shown) << t.name;
    if (t.valid) {
      EXPECT_EQ(display.m_Record.m_Values[AxisRx], 0) << t.name;
    }
    EXPECT_EQ(display.m_LastValid, t.valid) << t.name;
  }
}

// A section record whose header is scripted per read; Copy hands out a
// buffer whose values tell which copy it was.
struct ScriptedRecord {
  std::vector<uint16_t> headers;  // one per Header() call; the last repeats
  mutable size_t reads = 0;
  mutable int copies = 0;

  uint16_t Header() const {
    size_t i = reads < headers.size() ? reads : headers.size() - 1;
    ++reads;
    return headers[i];
  }
  void Copy(int index, BallBuffer* out) const {
    ++copies;
    memset(out, 0, sizeof *out);
    for (int i = 0; i < kMotionAxes; ++i)
      out->m_Values[i] = static_cast<int16_t>(copies * 100 + index * 10 + i);
  }
};

BallValues FreshBall() {
  BallValues ball = {};
  ball.m_MotionValid = 1;
  ball.m_ReportCount = 77;
  for (int i = 0; i < kMotionAxes; ++i) ball.m_Values[i] = 5;
  return ball;
}

TEST(MonitorBallCopy, MovingRestingAndTorn) {
  const uint16_t moving = kHeaderBufferBit | kHeaderMovingBit | 12;
  const uint16_t resting = 13;
  struct Case {
    const char* name;
    int validBefore;
    std::vector<uint16_t> headers;
    int valid;
    uint16_t count;
    int moving;
    int16_t tx;  // values are copy * 100 + buffer * 10 + axis
  } cases[] = {
      {"moving: buffer B kept", 1, {moving}, 1, 12, 1, 110},
      {"moving while not valid: values kept, still not valid", 0, {moving}, 0, 12, 1, 110},
      {"at rest: zeros, motion no longer valid", 1, {resting}, 0, 13, 0, 0},
      {"torn once, then the new buffer", 1, {resting, moving, moving}, 1, 12, 1, 210},
      {"header changes on 9 copies, the 10th holds", 1,
       {1, 2, 3, 4, 5, 6, 7, 8, 9, moving, moving}, 1, 12, 1, 1010},
      {"header changes on every one of 10 copies", 1,
       {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, moving, moving}, 0, 77, 0, 0},
  };
  for (const Case& c : cases) {
    ScriptedRecord record;
    record.headers = c.headers;
    BallValues ball = FreshBall();
    ball.m_MotionValid = c.validBefore;
    ReadBallValuesFrom(record, &ball);
    EXPECT_EQ(ball.m_MotionValid, c.valid) << c.name;
    EXPECT_EQ(ball.m_ReportCount, c.count) << c.name;
    EXPECT_EQ(ball.m_Moving, c.moving) << c.name;
    EXPECT_EQ(ball.m_Values[AxisTx], c.tx) << c.name;
    EXPECT_EQ(ball.m_Values[AxisRz], c.tx ? c.tx + 5 : 0) << c.name;
    EXPECT_LE(record.copies, kMaxMotionCopies) << c.name;
  }
}

TEST(MonitorBallCopy, GivesValuesOnlyWhileMotionIsValid) {
  alignas(8) DeviceMotionRecord record = {};
  record.m_BallHeader = kHeaderMovingBit | 3;  // buffer A current, moving
  for (int i = 0; i < kMotionAxes; ++i) record.m_Ball[0].m_Values[i] = static_cast<int16_t>(i + 1);
  record.m_Ball[1].m_Values[0] = 999;  // the back buffer is never read

  BallValues ball = FreshBall();
  MotionDisplayRecord out = {};
  EXPECT_EQ(ReadDeviceMotion(&record, &ball, &out), 1);
  EXPECT_EQ(out.m_Values[AxisTx], 1);
  EXPECT_EQ(out.m_Values[AxisRz], 6);

  record.m_BallHeader = 4;  // at rest: motion stops being valid
  EXPECT_EQ(ReadDeviceMotion(&record, &ball, &out), 0);
  EXPECT_EQ(out.m_Values[AxisTx], 0);

  record.m_BallHeader = kHeaderMovingBit | 5;  // moving again, but not valid yet
  EXPECT_EQ(ReadDeviceMotion(&record, &ball, &out), 0);
  EXPECT_EQ(ball.m_Moving, 1);
  EXPECT_EQ(ball.m_ReportCount, 5);
  for (int i = 0; i < kMotionAxes; ++i) EXPECT_EQ(out.m_Values[i], 0) << i;

  ball = FreshBall();  // no section at all
  EXPECT_EQ(ReadDeviceMotion(nullptr, &ball, &out), 0);
  EXPECT_EQ(ball.m_MotionValid, 0);
  for (int i = 0; i < kMotionAxes; ++i) EXPECT_EQ(out.m_Values[i], 0) << i;
}

// A 3-3-2 palette device (red in bits 0-2, green 3-5, blue 6-7), and a
// format that gives a channel no bits at all.
TEST(MonitorPalette, ComponentsSpreadOverTheFullRange) {
  const struct {
    int index, shift, bits;
    uint8_t expected;
  } cases[] = {
      {0x00, 0, 3, 0},   {0x07, 0, 3, 255}, {0x03, 0, 3, 109},  // red 3 of 7
      {0x38, 3, 3, 255}, {0x10, 3, 3, 72},                     // green 2 of 7
      {0xC0, 6, 2, 255}, {0x40, 6, 2, 85},                     // blue 1 of 3
      {0xFF, 0, 0, 0},                                         // no bits: 0, no division
      {0x01, 0, 1, 255},
  };
  for (const auto& c : cases)
    EXPECT_EQ(PaletteComponent(c.index, c.shift, c.bits), c.expected)
        << c.index << " " << c.shift << " " << c.bits;
}

}  // namespace
}  // namespace monitor
