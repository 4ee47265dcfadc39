// The navigation step of the motion views: the scroll hat added to the ball's
// push, the wraps of position and zoom, and steps that must end whatever the
// numbers.
#include "motion_step.h"

#include <gtest/gtest.h>
#include <float.h>
#include <math.h>

#include <chrono>
#include <future>
#include <memory>
#include <thread>

namespace views {
namespace {

using Kestrin1::CSpatialMath;

// The 3D view as the dialog lays it out under Wine here (143 x 108 dialog
// units of an 8-point font).
constexpr int kWidth = 215;
constexpr int kHeight = 176;

// Runs work on a copy of state, on a thread of its own, and waits up to 10 s
// for it: a step that never ends fails its test instead of holding the whole
// run (the thread is left to spin on its own copy until the program ends).
// True, with state as the work left it, when it ended. The thread is joined,
// never detached: under load the MinGW runtime's detach, made right after the
// thread was created, can leave that thread never running at all.
template <typename State>
bool EndsInTime(State& state, void (*work)(State&)) {
  auto copy = std::make_shared<State>(state);
  auto ended = std::make_shared<std::promise<void>>();
  std::future<void> done = ended->get_future();
  std::thread worker([copy, ended, work] {
    work(*copy);
    ended->set_value();
  });
  if (done.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    new std::thread(std::move(worker));  // kept, unjoined, until the program ends
    return false;
  }
  worker.join();
  state = *copy;
  return true;
}

AViewVolume StartView() {
  AViewVolume view = {};
  view.m_Perspective = 0;
  view.m_ViewPlaneZ = -20.0f;
  view.m_Height = kStartHeight;
  view.m_NearZ = -15.0f;
  view.m_FarZ = -25.0f;
  return view;
}

TEST(AddScrollHatTest, AddsToThePushAndLimitsTheSum) {
  struct Case {
    short ball[2], scroll[2], expected[2];
  } cases[] = {
      {{100, 200}, {5, -7}, {105, 193}},
      {{0, 0}, {300, -300}, {300, -300}},            // the scroll hat alone moves like a push
      {{32000, -32000}, {1000, -1000}, {32767, -32767}},
      {{32767, -32767}, {32767, -32767}, {32767, -32767}},
      {{-32767, 32767}, {32767, -32767}, {0, 0}},
  };
  for (const Case& c : cases) {
    short ball[6] = {c.ball[0], c.ball[1], 11, 12, 13, 14};
    AddScrollHat(ball, c.scroll);
    EXPECT_EQ(ball[0], c.expected[0]) << c.ball[0] << " + " << c.scroll[0];
    EXPECT_EQ(ball[1], c.expected[1]) << c.ball[1] << " + " << c.scroll[1];
    EXPECT_EQ(ball[2], 11);  // the other four axes stay as read
    EXPECT_EQ(ball[5], 14);
  }
}

// The right edge of the wrap for the start view: half the view's width plus
// the object's reach.
float RightLimit(const AViewVolume& view) {
  return kWrapRadius + kWidth * view.m_Height * 0.5f / kHeight;
}

TEST(StepObjectTest, ScrollHatMovesTheObjectLikeThePush) {
  CAgility agility;
  const short noScroll[2] = {0, 0};
  const short scroll[2] = {400, -250};
  AXformf byBall = CSpatialMath::Identity, byScroll = CSpatialMath::Identity;
  AViewVolume view1 = StartView(), view2 = StartView();
  short push[6] = {400, -250, 0, 0, 0, 0};
  short still[6] = {0, 0, 0, 0, 0, 0};
  StepObject(agility, 0.02f, push, noScroll, byBall, view1, kWidth, kHeight);
  StepObject(agility, 0.02f, still, scroll, byScroll, view2, kWidth, kHeight);
  EXPECT_GT(byBall.m_Matrix.m_Translation.x, 0.0f);
  EXPECT_LT(byBall.m_Matrix.m_Translation.y, 0.0f);
  EXPECT_FLOAT_EQ(byScroll.m_Matrix.m_Translation.x, byBall.m_Matrix.m_Translation.x);
  EXPECT_FLOAT_EQ(byScroll.m_Matrix.m_Translation.y, byBall.m_Matrix.m_Translation.y);
}

TEST(StepObjectTest, PastTheRightEdgeComesBackAtTheLeft) {
  CAgility agility;
  AViewVolume view = StartView();
  const float limit = RightLimit(view);
  AXformf object = CSpatialMath::Identity;
  object.m_Matrix.m_Translation.x = limit - 0.01f;
  short push[6] = {1000, 0, 0, 0, 0, 0};
  const short noScroll[2] = {0, 0};
  StepObject(agility, 0.05f, push, noScroll, object, view, kWidth, kHeight);
  const float x = object.m_Matrix.m_Translation.x;
  EXPECT_LT(x, -limit + 0.3f) << "reappears at the left edge";
  EXPECT_GE(x, -limit);

  // And the other way round: past the left edge, back at the right.
  object.m_Matrix.m_Translation.x = -limit + 0.01f;
  push[0] = -1000;
  StepObject(agility, 0.05f, push, noScroll, object, view, kWidth, kHeight);
  EXPECT_GT(object.m_Matrix.m_Translation.x, limit - 0.3f);
  EXPECT_LE(object.m_Matrix.m_Translation.x, limit);
}

TEST(WrapObjectTest, PositionsWrapIntoTheWidenedView) {
  const AViewVolume start = StartView();
  const float lx = RightLimit(start);
  const float ly = kWrapRadius + start.m_Height * 0.5f;
  struct Case {
    float x, y, expectedX, expectedY;
  } cases[] = {
      {0.5f, -0.5f, 0.5f, -0.5f},                    // inside: untouched
      {lx, -ly, lx, -ly},                            // on the edges: untouched
      {lx + 0.25f, 0, -lx + 0.25f, 0},
      {-lx - 0.25f, ly + 0.5f, lx - 0.25f, -ly + 0.5f},
      {lx + 4 * lx + 0.25f, 0, -lx + 0.25f, 0},     // several widths at once
  };
  for (const Case& c : cases) {
    AViewVolume view = start;
    AXformf object = CSpatialMath::Identity;
    object.m_Matrix.m_Translation = {c.x, c.y, -20.0f};
    WrapObject(object, view, kWidth, kHeight);
    EXPECT_NEAR(object.m_Matrix.m_Translation.x, c.expectedX, 1e-4f) << c.x;
    EXPECT_NEAR(object.m_Matrix.m_Translation.y, c.expectedY, 1e-4f) << c.y;
    EXPECT_EQ(object.m_Matrix.m_Translation.z, -20.0f);
    EXPECT_EQ(view.m_Height, start.m_Height);
  }
}

TEST(WrapObjectTest, ATallViewWrapsByItsHeight) {
  AViewVolume view = StartView();
  AXformf object = CSpatialMath::Identity;
  // 100 x 200 pixels: hx = 1, hy = 2.
  object.m_Matrix.m_Translation = {kWrapRadius + 1.0f + 0.1f, kWrapRadius + 2.0f + 0.1f, 0};
  WrapObject(object, view, 100, 200);
  EXPECT_NEAR(object.m_Matrix.m_Translation.x, -kWrapRadius - 1.0f + 0.1f, 1e-4f);
  EXPECT_NEAR(object.m_Matrix.m_Translation.y, -kWrapRadius - 2.0f + 0.1f, 1e-4f);
}

TEST(WrapObjectTest, ZoomPastEitherEndContinuesFromTheOther) {
  const float largest = 2.0f * powf(8.0f, kZoomWrapLimit);
  const float smallest = 2.0f * powf(8.0f, -kZoomWrapLimit);
  struct Case {
    float height, expected;
  } cases[] = {
      {2.0f, 2.0f},
      {largest * 0.999f, largest * 0.999f},
      {largest * 8.0f, smallest * 8.0f},    // one octave past the largest
      {smallest / 8.0f, largest / 8.0f},    // one octave below the smallest
  };
  for (const Case& c : cases) {
    AViewVolume view = StartView();
    view.m_Height = c.height;
    AXformf object = CSpatialMath::Identity;
    WrapObject(object, view, kWidth, kHeight);
    EXPECT_NEAR(view.m_Height / c.expected, 1.0f, 1e-3f) << c.height;
  }
}

TEST(StepObjectTest, ZoomingPastTheLargestHeightContinuesFromTheSmallest) {
  CAgility agility;
  AViewVolume view = StartView();
  const float largest = 2.0f * powf(8.0f, kZoomWrapLimit);
  view.m_Height = largest * 0.99f;
  AXformf object = CSpatialMath::Identity;
  // A pull (negative tz) makes the view higher: the object looks smaller.
  short pull[6] = {0, 0, -8000, 0, 0, 0};
  const short noScroll[2] = {0, 0};
  StepObject(agility, 0.05f, pull, noScroll, object, view, kWidth, kHeight);
  EXPECT_LT(view.m_Height, 2.0f * powf(8.0f, -kZoomWrapLimit) * 2.0f)
      << "continues near the smallest height";
}

// Values the navigation can produce after a long stall or from bad data: the
// wraps end at once and leave finite numbers (a loop of single periods would
// never end on them).
TEST(WrapObjectTest, FarOffAndNonFiniteValuesEndFinite) {
  const float cases[] = {1e30f, -1e30f, INFINITY, -INFINITY, NAN, 0.0f, 1e-45f};
  for (float value : cases) {
    AViewVolume view = StartView();
    view.m_Height = value;
    AXformf object = CSpatialMath::Identity;
    object.m_Matrix.m_Translation = {value, -value, 0};
    WrapObject(object, view, kWidth, kHeight);
    EXPECT_TRUE(isfinite(object.m_Matrix.m_Translation.x)) << value;
    EXPECT_TRUE(isfinite(object.m_Matrix.m_Translation.y)) << value;
    ASSERT_TRUE(isfinite(view.m_Height)) << value;
    EXPECT_GT(view.m_Height, 0.0f) << value;
    EXPECT_LE(view.m_Height, 2.0f * powf(8.0f, kZoomWrapLimit) * 1.001f) << value;
  }
}

struct WrapRun {
  AXformf object;
  AViewVolume view;
};
void Wrap(WrapRun& run) { WrapObject(run.object, run.view, kWidth, kHeight); }

// Far-off positions, most of which no float period divides exactly: each
// ends inside the widened view, on the side the loop of periods would have
// left it (above the range in (-L, L], below it in [-L, L)).
TEST(WrapObjectTest, FarOffPositionsEndInsideTheView) {
  const AViewVolume start = StartView();
  const float lx = RightLimit(start);
  const float ly = kWrapRadius + start.m_Height * 0.5f;
  const float cases[] = {1e17f, -1e17f, 3.4e38f, -3.4e38f, FLT_MAX, -FLT_MAX, 1e30f, -1e30f,
                         123456789.0f, -98765.4321f};
  for (float value : cases) {
    SCOPED_TRACE(value);
    WrapRun run = {CSpatialMath::Identity, start};
    run.object.m_Matrix.m_Translation = {value, -value, -20.0f};
    ASSERT_TRUE(EndsInTime(run, &Wrap)) << "the wrap never ended";
    const float x = run.object.m_Matrix.m_Translation.x;
    const float y = run.object.m_Matrix.m_Translation.y;
    if (value > 0) {
      EXPECT_TRUE(x > -lx && x <= lx) << x;
      EXPECT_TRUE(y >= -ly && y < ly) << y;
    } else {
      EXPECT_TRUE(x >= -lx && x < lx) << x;
      EXPECT_TRUE(y > -ly && y <= ly) << y;
    }
    EXPECT_EQ(run.object.m_Matrix.m_Translation.z, -20.0f);
    EXPECT_EQ(run.view.m_Height, start.m_Height);
  }
}

// The wrap takes whole periods exactly: a position a known number of periods
// away from a place in the view comes back to that place (to the float
// precision of the far value itself).
TEST(WrapObjectTest, WholePeriodsAreTakenExactly) {
  const AViewVolume start = StartView();
  const double period = 2.0 * RightLimit(start);
  for (double periods : {1.0, 3.0, 1000.0, 65536.0 * 3}) {
    for (double place : {0.25, -0.8}) {
      WrapRun run = {CSpatialMath::Identity, start};
      const float value = static_cast<float>(place + periods * period);
      run.object.m_Matrix.m_Translation.x = value;
      ASSERT_TRUE(EndsInTime(run, &Wrap));
      // What the float value holds, wrapped in double.
      const double expected = static_cast<double>(value) - periods * period;
      EXPECT_NEAR(run.object.m_Matrix.m_Translation.x, expected, 1e-6 * fabs(expected) + 1e-6)
          << periods << " periods from " << place;
    }
  }
}

struct StepRun {
  CAgility agility;
  AXformf object;
  AViewVolume view;
  float seconds;
  short motion[6];
};
void Step(StepRun& run) {
  const short noScroll[2] = {0, 0};
  StepObject(run.agility, run.seconds, run.motion, noScroll, run.object, run.view, kWidth,
             kHeight);
}

// A stall of 1.6 to 2.1 s (a menu open, the window dragged) read as one step
// of a full pull with the object off the centre: the view grows by 2^80 to
// 2^105 and the object, zoomed about the centre, lands as far off; the zoom
// wraps back at once, and the next small push must wrap the object into the
// view again instead of spinning the dialog's only thread.
TEST(StepObjectTest, ALongStallThenASmallPushEnds) {
  for (float stall : {1.6f, 1.8f, 2.1f}) {
    SCOPED_TRACE(stall);
    StepRun run = {CAgility(), CSpatialMath::Identity, StartView(), stall, {0, 0, -32767, 0, 0, 0}};
    run.object.m_Matrix.m_Translation = {0.5f, -0.3f, -20.0f};
    ASSERT_TRUE(EndsInTime(run, &Step)) << "the stalled step never ended";
    EXPECT_GT(fabsf(run.object.m_Matrix.m_Translation.x), 1e17f) << "the object went far off";

    run.seconds = 0.02f;
    const short push[6] = {200, 0, 0, 0, 0, 0};
    for (int i = 0; i < 6; ++i) run.motion[i] = push[i];
    ASSERT_TRUE(EndsInTime(run, &Step)) << "the small push after the stall never ended";
    const float c = run.view.m_Height * 0.5f;
    const float lx = kWrapRadius + kWidth * c / kHeight, ly = kWrapRadius + c;
    EXPECT_LE(fabsf(run.object.m_Matrix.m_Translation.x), lx);
    EXPECT_LE(fabsf(run.object.m_Matrix.m_Translation.y), ly);
    EXPECT_LE(run.view.m_Height, 2.0f * powf(8.0f, kZoomWrapLimit) * 1.001f);
    EXPECT_GE(run.view.m_Height, 2.0f * powf(8.0f, -kZoomWrapLimit) * 0.999f);
  }
}

TEST(StepObjectTest, AFullPullOverTheLongestReadEnds) {
  CAgility agility;
  const short noScroll[2] = {0, 0};
  for (short tz : {short(32767), short(-32767)}) {
    AViewVolume view = StartView();
    AXformf object = CSpatialMath::Identity;
    short motion[6] = {32767, -32767, tz, 32767, 32767, 32767};
    StepObject(agility, 65535 * 2.048e-4f, motion, noScroll, object, view, kWidth, kHeight);
    EXPECT_TRUE(isfinite(view.m_Height) && view.m_Height > 0.0f) << tz;
    EXPECT_TRUE(isfinite(object.m_Matrix.m_Translation.x)) << tz;
  }
}

}  // namespace
}  // namespace views
