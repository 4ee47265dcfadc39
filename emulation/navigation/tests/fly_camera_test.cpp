// The camera fly step.
#include <cmath>
#include <limits>

#include "nav_constants.h"
#include "nav_test_util.h"
#include "navigation.h"

namespace {

using namespace navtest;
using KestrinNav::FlyCamera;
using KestrinNav::kFarLimit;
using KestrinNav::kFieldOfViewReference;
using KestrinNav::kNearMargin;

NavVec3 EyeOf(const NavMat43& camera, double eye) {
  return Mul(V(0, 0, eye), camera.rotation) + camera.translation;
}

// Steps a camera turned 0.4 about (1, 1, 0) at (1, 2, 3) by a delta with the
// given zoom factor and expects the step to leave the settings, the camera
// and the delta exactly as they were.
void ExpectAStepThatChangesNothing(const NavVolume& volume, NavSettings settings, double zoom) {
  NavMat43 camera = Frame(Rotation(0.4, V(1, 1, 0)), V(1, 2, 3));
  NavDelta delta = Delta(0.1, 0.2, zoom, 0.1, 0.2, 0.3);
  const NavSettings settingsBefore = settings;
  const NavMat43 cameraBefore = camera;
  const NavDelta deltaBefore = delta;
  FlyCamera(&volume, &settings, &camera, &delta);
  EXPECT_TRUE(SameBytes(camera, cameraBefore));
  EXPECT_TRUE(SameBytes(settings, settingsBefore));
  EXPECT_TRUE(SameBytes(delta, deltaBefore));
}

TEST(NavFlyCamera, OrthographicViewIsLeftAlone) {
  for (double perspective : {0.0, 9.9e-10, -0.5}) {
    const NavVolume volume = Volume(1, 1, perspective, 0.2, 0.1);
    NavSettings settings = Plain(2, -3.0, V(1, 2, 3));
    settings.zoomAlongRay = settings.twistAboutRay = settings.upright = 1;
    SCOPED_TRACE(testing::Message() << "perspective " << perspective);
    ExpectAStepThatChangesNothing(volume, settings, 1.5);
  }
}

TEST(NavFlyCamera, ZeroStepOnlyPutsThePivotOnTheViewAxis) {
  const NavVolume volume = Volume(1.5, 1, 0.5, 0.2, -0.1);
  NavSettings settings = Plain(2, -3.0, V(1, 2, 3));
  settings.zoomAlongRay = settings.twistAboutRay = 1;
  NavMat43 camera = Frame(Rotation(0.4, V(1, 1, 0)), V(1, -2, 3));
  NavDelta delta = Delta(0, 0, 1);
  const NavMat43 cameraBefore = camera;
  const NavDelta deltaBefore = delta;
  FlyCamera(&volume, &settings, &camera, &delta);
  EXPECT_TRUE(SameBytes(camera, cameraBefore));
  EXPECT_TRUE(SameBytes(delta, deltaBefore));
  EXPECT_TRUE(SameBytes(settings.pivot, V(0, 0, 3)));
  EXPECT_EQ(settings.pivotDepth, -3.0);
}

// A pure turn keeps the eye where it is, and turns the camera by the angle
// of the (scaled) rotation written back into the delta.
TEST(NavFlyCamera, PureRotationKeepsTheEyeFixed) {
  Random r(0x5eed0101);
  for (int n = 0; n < 4000; ++n) {
    const NavVolume volume = Volume(r.Uniform(0.2, 2), r.Uniform(0.2, 2), r.Uniform(0.05, 2),
                                    r.Uniform(-0.3, 0.3), r.Uniform(-0.3, 0.3));
    NavSettings settings = Plain(2, r.Uniform(-50, 50), r.Vector(5));
    settings.zoomAlongRay = r.Int(0, 1);
    settings.twistAboutRay = r.Int(0, 1);
    settings.upright = r.Int(0, 3) == 0;
    settings.upAxis = r.Int(-4, 4);
    NavMat43 camera = Frame(r.RotationMatrix(), r.Vector(100));
    const NavVec3 a = r.Uniform(0, 1) * r.Direction();
    NavDelta delta = Delta(0, 0, 1, a.x, a.y, a.z);
    const NavMat43 before = camera;
    const double eye = 1.0 / volume.perspective;
    FlyCamera(&volume, &settings, &camera, &delta);

    SCOPED_TRACE(n);
    ASSERT_TRUE(Near(EyeOf(camera, eye), EyeOf(before, eye), 1e-10));
    ASSERT_LT(OrthonormalError(camera.rotation), 1e-12);
    ASSERT_NEAR(Determinant(camera.rotation), 1.0, 1e-12);
    if (settings.upright) continue;
    const NavMat33 turn = Mul(camera.rotation, Transposed(before.rotation));
    const double theta = Length(V(delta.ax, delta.ay, delta.az));
    ASSERT_NEAR(turn.m[0][0] + turn.m[1][1] + turn.m[2][2], 1.0 + 2.0 * std::cos(theta), 1e-12);
  }
}

// The pivot distance sets the speed; it is kept between the near margin and
// the far limit, and the clamped pivot is written back.
TEST(NavFlyCamera, PivotDistanceIsClampedAndSetsTheSpeed) {
  const double P = 0.5, E = 2.0;
  struct Case {
    double pivotDepth;
    double expectedPivotZ;  // 123: left as it was
    double distance;
  } cases[] = {
      {E, E - kNearMargin, kNearMargin},  // the pivot at the eye: nearly stops
      {E + 1.0, E - kNearMargin, kNearMargin},
      {E - 2e6, E - kFarLimit, kFarLimit},
      {E - 5.0, 123, 5.0},
  };
  for (const Case& c : cases) {
    const NavVolume volume = Volume(1, 0.5, P);
    NavSettings settings = Plain(2, c.pivotDepth, V(7, 8, 123));
    NavMat43 camera = Frame(Ident(), V(0, 0, 0));
    NavDelta delta = Delta(0.5, 0, 1);
    FlyCamera(&volume, &settings, &camera, &delta);
    EXPECT_TRUE(SameBytes(settings.pivot, V(0, 0, c.expectedPivotZ))) << c.pivotDepth;
    EXPECT_EQ(settings.pivotDepth, c.pivotDepth);
    // The camera moves against the pan, along its own x axis.
    EXPECT_NEAR(camera.translation.x, -0.5 * 2.0 * (c.distance * P), 1e-12 * c.distance);
    EXPECT_EQ(camera.translation.y, 0.0);
    EXPECT_EQ(camera.translation.z, 0.0);
  }
}

// Translation runs along the camera's own axes: a zoom above 1 moves it into
// the view (-z); along the ray through the window centre it also shifts.
TEST(NavFlyCamera, ZoomMovesTheCameraIntoTheView) {
  const NavMat33 turned = Rotation(0.9, V(0.2, 1, -0.4));
  struct Case {
    uint32_t zoomAlongRay;
    NavVec3 move;  // in camera axes, for zoom 1.5 and pivot distance 4
  } cases[] = {
      {0, V(0, 0, 2.0)},
      {1, V(-2.0 * 0.25, -2.0 * -0.125, 2.0)},
  };
  for (const Case& c : cases) {
    const NavVolume volume = Volume(1, 1, 0.5, 0.25, -0.125);
    NavSettings settings = Plain(2, -2.0);
    settings.zoomAlongRay = c.zoomAlongRay;
    NavMat43 camera = Frame(turned, V(1, 2, 3));
    NavDelta delta = Delta(0, 0, 1.5);
    FlyCamera(&volume, &settings, &camera, &delta);
    EXPECT_TRUE(Near(camera.translation, V(1, 2, 3) - Mul(c.move, turned), 1e-12));
    EXPECT_TRUE(SameBytes(camera.rotation, turned));
  }
}

// The rotation written back: twisted about the ray through the window centre
// when asked, x and y scaled by the field of view, z never scaled.
TEST(NavFlyCamera, RotationIsScaledByTheFieldOfView) {
  const double P = 0.5;
  const double tan35 = std::tan(kFieldOfViewReference), tan17_5 = std::tan(kFieldOfViewReference / 2);
  struct Case {
    const char* name;
    double larger;  // the larger half extent
    uint32_t twistAboutRay;
    double f;
  } cases[] = {
      {"35 degrees, no twist rule", tan35 / P, 0, 1.0},
      {"35 degrees, twist about the ray", tan35 / P, 1, 1.0},
      {"17.5 degrees", tan17_5 / P, 0, 0.5},
      {"17.5 degrees, twist about the ray", tan17_5 / P, 1, 0.5},
  };
  const double sx = 0.2, sy = -0.1, ax = 0.03, ay = -0.02, az = 0.05;
  for (const Case& c : cases) {
    const NavVolume volume = Volume(c.larger * 0.5, c.larger, P, sx, sy);
    NavSettings settings = Plain(2, -2.0);
    settings.twistAboutRay = c.twistAboutRay;
    settings.zoomAlongRay = 1;
    NavMat43 camera = Frame(Ident(), V(0, 0, 0));
    NavDelta delta = Delta(0, 0, 1, ax, ay, az);
    FlyCamera(&volume, &settings, &camera, &delta);
    const double ex = c.twistAboutRay ? ax - az * sx : ax, ey = c.twistAboutRay ? ay - az * sy : ay;
    EXPECT_NEAR(delta.ax, ex * c.f, 1e-15) << c.name;
    EXPECT_NEAR(delta.ay, ey * c.f, 1e-15) << c.name;
    EXPECT_EQ(delta.az, az) << c.name;
    EXPECT_EQ(delta.dx, 0.0) << c.name;
    EXPECT_EQ(delta.zoom, 1.0) << c.name;
  }
}

// Upright keeps the camera's x axis perpendicular to the world up axis, the
// up axis taken modulo 3 (negative values too).
TEST(NavFlyCamera, UprightLevelsTheCameraAgainstTheUpAxis) {
  struct Case {
    int32_t upAxis, same;
  } cases[] = {{0, 0}, {1, 1}, {2, 2}, {-1, 2}, {-2, 1}, {-3, 0}, {7, 1}};
  auto run = [](int32_t upAxis) {
    const NavVolume volume = Volume(1, 1, 0.5);
    NavSettings settings = Plain(2, -2.0);
    settings.upright = 1;
    settings.upAxis = upAxis;
    NavMat43 camera = Frame(Rotation(0.5, V(1, 2, 3)), V(1, 2, 3));
    NavDelta delta = Delta(0.1, 0.05, 1.2, 0.3, -0.2, 0.4);
    FlyCamera(&volume, &settings, &camera, &delta);
    return camera;
  };
  for (const Case& c : cases) {
    const NavMat43 camera = run(c.upAxis);
    EXPECT_TRUE(SameBytes(camera, run(c.same))) << c.upAxis;
    EXPECT_NEAR(camera.rotation.m[0][c.same], 0.0, 1e-15) << c.upAxis;
    EXPECT_LT(OrthonormalError(camera.rotation), 1e-12) << c.upAxis;
  }
}

// A zoom factor that is not finite would carry the camera to infinity: such a
// step changes nothing.
TEST(NavFlyCamera, NonFiniteZoomChangesNothing) {
  const double inf = std::numeric_limits<double>::infinity();
  for (double zoom : {inf, -inf, static_cast<double>(NAN)}) {
    const NavVolume volume = Volume(1, 1, 0.5, 0.1, 0.1);
    NavSettings settings = Plain(2, -3.0, V(1, 2, 3));
    settings.zoomAlongRay = settings.twistAboutRay = 1;
    SCOPED_TRACE(testing::Message() << "zoom " << zoom);
    ExpectAStepThatChangesNothing(volume, settings, zoom);
  }
}

// The turn is about the camera's own axes and in the sense of the rotation
// vector: the camera's new rotation is the turn by the (scaled) vector, taken
// in camera coordinates, followed by the old rotation. Here the field of view
// is 35 degrees, so the vector is not scaled.
TEST(NavFlyCamera, TurnIsAboutTheCamerasOwnAxes) {
  const double P = 0.5, half = std::tan(kFieldOfViewReference) / P;
  struct Case {
    const char* name;
    NavVec3 a;
    NavMat33 start;
    NavVec3 row0, row1;  // of the new rotation; NaN: from the rule below
  } cases[] = {
      {"about z", V(0, 0, 0.3), Ident(), V(std::cos(0.3), -std::sin(0.3), 0), V(NAN, 0, 0)},
      {"about x", V(0.3, 0, 0), Ident(), V(1, 0, 0), V(0, std::cos(0.3), -std::sin(0.3))},
      {"about y", V(0, -0.3, 0), Ident(), V(std::cos(0.3), 0, std::sin(-0.3)), V(0, 1, 0)},
      {"turned camera, about z", V(0, 0, 0.3), Rotation(0.8, V(1, 0, 0)), V(NAN, 0, 0), V(NAN, 0, 0)},
      {"turned camera, any axis", V(0.2, -0.1, 0.25), Rotation(1.1, V(1, 2, -1)), V(NAN, 0, 0),
       V(NAN, 0, 0)},
  };
  for (const Case& c : cases) {
    const NavVolume volume = Volume(half, half * 0.5, P);
    NavSettings settings = Plain(2, -2.0);
    NavMat43 camera = Frame(c.start, V(1, 2, 3));
    NavDelta delta = Delta(0, 0, 1, c.a.x, c.a.y, c.a.z);
    FlyCamera(&volume, &settings, &camera, &delta);
    ASSERT_NEAR(delta.ax, c.a.x, 1e-15) << c.name;
    // The turn as the test's own rotation: a positive angle about a turns
    // the camera's rows clockwise about a.
    const NavMat33 expected = Mul(Rotation(-Length(c.a), c.a), c.start);
    EXPECT_TRUE(Near(camera.rotation, expected, 1e-12)) << c.name;
    if (!std::isnan(c.row0.x)) {
      EXPECT_TRUE(Near(RowOf(camera.rotation, 0), c.row0, 1e-12)) << c.name;
    }
    if (!std::isnan(c.row1.x)) {
      EXPECT_TRUE(Near(RowOf(camera.rotation, 1), c.row1, 1e-12)) << c.name;
    }
    // The camera's own axis a, in world terms, is the same before and after.
    EXPECT_TRUE(Near(Mul(c.a, camera.rotation), Mul(c.a, c.start), 1e-12)) << c.name;
  }
}

// Upright turns a camera that is nearly level the least way: a camera
// rolled a little comes back close to where it was, row 0 level.
TEST(NavFlyCamera, UprightTakesTheNearestLevelCamera) {
  struct Case {
    const char* name;
    NavMat33 start;
  } cases[] = {
      {"rolled a little", Rotation(0.05, V(0, 0, 1))},
      {"upside down, rolled a little", Mul(Rotation(0.05, V(0, 0, 1)), Rotation(3.14159, V(0, 0, 1)))},
      {"looking down, rolled a little", Mul(Rotation(0.05, V(0, 1, 0)), Rotation(-1.5, V(1, 0, 0)))},
      {"looking up, rolled a little", Mul(Rotation(0.05, V(0, 1, 0)), Rotation(1.5, V(1, 0, 0)))},
  };
  for (const Case& c : cases) {
    const NavVolume volume = Volume(1, 1, 0.5);
    NavSettings settings = Plain(2, -2.0);
    settings.upright = 1;
    settings.upAxis = 1;
    NavMat43 camera = Frame(c.start, V(0, 0, 0));
    NavDelta delta = Delta(0, 0, 1);
    FlyCamera(&volume, &settings, &camera, &delta);
    EXPECT_NEAR(camera.rotation.m[0][1], 0.0, 1e-15) << c.name;
    EXPECT_TRUE(Near(camera.rotation, c.start, 0.06)) << c.name;
    EXPECT_NEAR(Determinant(camera.rotation), 1.0, 1e-12) << c.name;
  }
}

// Every record the step writes stays finite for every zoom factor a reading
// can give (2^(tz*dt), |tz*dt| up to about 1342) and for a host's own from
// the smallest to the largest doubles, at any pivot distance: a step that
// would overflow changes nothing.
TEST(NavFlyCamera, EveryRecordStaysFiniteForEveryZoom) {
  const double P = 0.5, E = 2.0;
  const double zooms[] = {0.0,   1e-305, std::exp2(-1023.5), 1e-20, 1e20, 1e300,
                          1e305, std::exp2(1013), std::exp2(1023.5), 1e308, 1.7e308};
  const double depths[] = {E - 1e6, -3.0, E - 1.0, E};
  for (double zoom : zooms)
    for (double depth : depths)
      for (int rules = 0; rules < 4; ++rules) {
        const NavVolume volume = Volume(1e4, 0.5, P, 0.1, -0.1);
        NavSettings settings = Plain(2, depth, V(1, 2, 3));
        settings.zoomAlongRay = rules & 1;
        settings.twistAboutRay = settings.upright = (rules >> 1) & 1;
        NavMat43 camera = Frame(Rotation(0.4, V(1, 1, 0)), V(1, 2, 3));
        NavDelta delta = Delta(0.1, 0.2, zoom, 0.1, 0.2, 0.3);
        FlyCamera(&volume, &settings, &camera, &delta);
        SCOPED_TRACE(testing::Message() << "zoom " << zoom << ", depth " << depth << ", rules "
                                        << rules);
        ASSERT_TRUE(Finite(camera.rotation) && Finite(camera.translation));
        ASSERT_TRUE(Finite(settings.pivot));
        ASSERT_TRUE(std::isfinite(delta.ax) && std::isfinite(delta.ay) && std::isfinite(delta.az));
      }
  // The reported case: a zoom of 1e308 leaves everything as it was.
  ExpectAStepThatChangesNothing(Volume(1, 1, P), Plain(2, -3.0, V(1, 2, 3)), 1e308);
}

}  // namespace
