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

TEST(NavFlyCamera, OrthographicViewIsLeftAlone) {
  for (double perspective : {0.0, 9.9e-10, -0.5}) {
    const NavVolume volume = Volume(1, 1, perspective, 0.2, 0.1);
    NavSettings settings = Plain(2, -3.0, V(1, 2, 3));
    settings.zoomAlongRay = settings.twistAboutRay = settings.upright = 1;
    NavMat43 camera = Frame(Rotation(0.4, V(1, 1, 0)), V(1, 2, 3));
    NavDelta delta = Delta(0.1, 0.2, 1.5, 0.1, 0.2, 0.3);
    const NavSettings settingsBefore = settings;
    const NavMat43 cameraBefore = camera;
    const NavDelta deltaBefore = delta;
    FlyCamera(&volume, &settings, &camera, &delta);
    EXPECT_TRUE(SameBytes(camera, cameraBefore)) << perspective;
    EXPECT_TRUE(SameBytes(settings, settingsBefore)) << perspective;
    EXPECT_TRUE(SameBytes(delta, deltaBefore)) << perspective;
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
    NavMat43 camera = Frame(Rotation(0.4, V(1, 1, 0)), V(1, 2, 3));
    NavDelta delta = Delta(0.1, 0.2, zoom, 0.1, 0.2, 0.3);
    const NavSettings settingsBefore = settings;
    const NavMat43 cameraBefore = camera;
    const NavDelta deltaBefore = delta;
    FlyCamera(&volume, &settings, &camera, &delta);
    EXPECT_TRUE(SameBytes(camera, cameraBefore)) << zoom;
    EXPECT_TRUE(SameBytes(settings, settingsBefore)) << zoom;
    EXPECT_TRUE(SameBytes(delta, deltaBefore)) << zoom;
  }
}

}  // namespace
