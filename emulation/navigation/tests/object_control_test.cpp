// Object control: moving and turning an object about its pivot.
#include <climits>
#include <cmath>
#include <limits>

#include "nav_constants.h"
#include "nav_math.h"
#include "nav_test_util.h"
#include "navigation.h"

namespace {

using namespace navtest;
using KestrinNav::kFarLimit;
using KestrinNav::kNearMargin;
using KestrinNav::ObjectControl;

// One random scene: a volume, a camera and a parent (each possibly absent),
// an object and settings with every rule off.
struct Scene {
  NavVolume volume;
  NavMat43 cameraStore;
  NavXform parentStore;
  const NavMat43* camera = nullptr;
  const NavXform* parent = nullptr;
  NavXform object;
  NavSettings settings;

  NavVec3 ParentToWorld(const NavVec3& q) const { return parent ? ToOuter(*parent, q) : q; }
  NavVec3 ObjectToWorld(const NavVec3& p) const { return ParentToWorld(ToOuter(object, p)); }
  NavVec3 ObjectToView(const NavVec3& p) const { return WorldToView(camera, ObjectToWorld(p)); }
  NavVec3 ViewToWorld(const NavVec3& v) const {
    return camera ? Mul(v, camera->rotation) + camera->translation : v;
  }
  double Eye() const { return 1.0 / volume.perspective; }
};

Scene RandomScene(Random& r, bool perspective) {
  Scene s;
  s.volume = Volume(r.Uniform(0.2, 2.0), r.Uniform(0.2, 2.0),
                    perspective ? r.Uniform(0.05, 1.0) : 0.0, r.Uniform(-0.3, 0.3),
                    r.Uniform(-0.3, 0.3));
  if (r.Int(0, 3) != 0) {
    s.cameraStore = Frame(r.RotationMatrix(), r.Vector(10));
    s.camera = &s.cameraStore;
  }
  if (r.Int(0, 3) != 0) {
    s.parentStore = Xform(r.Uniform(0.5, 2.0), r.RotationMatrix(), r.Vector(10));
    s.parent = &s.parentStore;
  }
  s.object = Xform(r.Uniform(0.5, 2.0), r.RotationMatrix(), r.Vector(10));
  s.settings = Plain(r.Int(0, 1));
  s.settings.pivot = r.Vector(2);
  // In front of the eye when perspective.
  s.settings.pivotDepth = perspective ? s.Eye() - r.Uniform(0.5, 20.0) : r.Uniform(-20, 5);
  return s;
}

// With the fence and the upright rule off, a zero step leaves the object where
// it is; with a view-axis pivot it writes that pivot in object coordinates.
TEST(NavObjectControl, ZeroStepLeavesTheObjectAndFindsTheViewAxisPivot) {
  Random r(0x5eed0001);
  for (int n = 0; n < 4000; ++n) {
    Scene s = RandomScene(r, n % 2 == 0);
    s.settings.zoomAlongRay = r.Int(0, 1);
    s.settings.twistAboutRay = r.Int(0, 1);
    s.settings.noZoom = r.Int(0, 1);
    s.settings.fixedPivotDepth = r.Int(0, 1);
    if (s.settings.kind == 0) s.settings.noZoom = 0;  // that is the pivot drag
    const Scene before = s;
    const NavDelta zero = Delta(0, 0, 1);
    ObjectControl(&s.volume, &s.settings, &s.object, s.parent, s.camera, &zero);

    SCOPED_TRACE(n);
    ASSERT_TRUE(Near(s.object.rotation, before.object.rotation, 1e-12));
    ASSERT_TRUE(Near(s.object.translation, before.object.translation, 1e-9));
    ASSERT_EQ(s.object.scale, before.object.scale);
    ASSERT_TRUE(SameBytes(s.volume, before.volume));
    if (s.settings.kind == 1) {
      const NavVec3 onAxis = s.ViewToWorld(V(0, 0, before.settings.pivotDepth));
      ASSERT_TRUE(Near(s.ObjectToWorld(s.settings.pivot), onAxis, 1e-9));
      ASSERT_NEAR(s.settings.pivotDepth, before.settings.pivotDepth, 1e-9);
    } else {
      ASSERT_TRUE(SameBytes(s.settings.pivot, before.settings.pivot));
    }
  }
}

// A rotation turns the object about the pivot: the pivot keeps its world
// position, the object turns by the length of the rotation vector, and the
// axis is the rotation vector carried from view space into the object's.
TEST(NavObjectControl, RotationKeepsThePivotInPlace) {
  Random r(0x5eed0002);
  for (int n = 0; n < 4000; ++n) {
    Scene s = RandomScene(r, n % 2 == 0);
    s.settings.twistAboutRay = 0;
    s.settings.upright = r.Int(0, 3) == 0;
    s.settings.upAxis = r.Int(0, 2);
    const NavVec3 a = r.Uniform(0.001, 1.5) * r.Direction();
    const NavDelta delta = Delta(0, 0, 1, a.x, a.y, a.z);
    const Scene before = s;
    const NavVec3 pivotWorld = s.settings.kind == 1
                                   ? s.ViewToWorld(V(0, 0, s.settings.pivotDepth))
                                   : before.ObjectToWorld(s.settings.pivot);
    ObjectControl(&s.volume, &s.settings, &s.object, s.parent, s.camera, &delta);

    SCOPED_TRACE(n);
    // After the step the pivot (for kind 1 the one written back) sits where it was.
    ASSERT_TRUE(Near(s.ObjectToWorld(s.settings.pivot), pivotWorld, 1e-9));
    ASSERT_LT(OrthonormalError(s.object.rotation), 1e-12);
    ASSERT_NEAR(Determinant(s.object.rotation), 1.0, 1e-12);
    if (s.settings.upright) {
      NavVec3 up = V(s.settings.upAxis == 0, s.settings.upAxis == 1, s.settings.upAxis == 2);
      if (s.camera) up = Mul(up, s.camera->rotation);
      if (s.parent) up = Mul(s.parent->rotation, up);
      ASSERT_NEAR(Dot(RowOf(s.object.rotation, 0), up), 0.0, 1e-12);
      continue;
    }
    // The turn in the parent's space: its angle and its axis.
    NavVec3 axis = s.camera ? Mul(a, s.camera->rotation) : a;
    if (s.parent) axis = Mul(s.parent->rotation, axis);
    const NavMat33 turn = Mul(Transposed(before.object.rotation), s.object.rotation);
    const double trace = turn.m[0][0] + turn.m[1][1] + turn.m[2][2];
    ASSERT_NEAR(trace, 1.0 + 2.0 * std::cos(Length(a)), 1e-12);
    ASSERT_TRUE(Near(Mul(axis, turn), axis, 1e-12));
  }
}

// The translation: the pivot moves in view space by the pan, measured at the
// pivot's distance, and by the zoom, which brings it to 1/zoom of its
// distance from the eye (the parent's scale multiplies the movement).
TEST(NavObjectControl, TranslationMovesThePivotByThePanAndTheZoom) {
  Random r(0x5eed0003);
  for (int n = 0; n < 4000; ++n) {
    Scene s = RandomScene(r, true);
    s.settings.kind = 0;
    s.settings.fixedPivotDepth = r.Int(0, 1);
    const double dx = r.Uniform(-0.2, 0.2), dy = r.Uniform(-0.2, 0.2), zoom = r.Uniform(0.5, 2);
    const NavDelta delta = Delta(dx, dy, zoom);
    const NavVec3 pivotView = s.ObjectToView(s.settings.pivot);
    const double d = s.Eye() - pivotView.z;
    if (d < 0.1) continue;  // the clamp at the eye is a case of its own
    const Scene before = s;
    ObjectControl(&s.volume, &s.settings, &s.object, s.parent, s.camera, &delta);

    SCOPED_TRACE(n);
    const double size = 2.0 * std::fmax(before.volume.halfWidth, before.volume.halfHeight);
    const double k = d * before.volume.perspective * size;
    const NavVec3 T = V(dx * k, dy * k, (1.0 - 1.0 / zoom) * d);
    const double parentScale = s.parent ? s.parent->scale : 1.0;
    ASSERT_TRUE(Near(s.ObjectToView(s.settings.pivot), pivotView + parentScale * T, 1e-9));
    ASSERT_TRUE(Near(s.object.rotation, before.object.rotation, 0.0));
    ASSERT_NEAR(s.settings.pivotDepth, s.settings.fixedPivotDepth ? pivotView.z : pivotView.z + T.z,
                1e-9);
  }
}

// The projection of a view-space point onto the window plane, in units of
// the half extents (slopes zero).
NavVec3 OnWindow(const NavVolume& v, const NavVec3& p) {
  const double m = 1.0 - p.z * v.perspective;
  return V(p.x / m / v.halfWidth, p.y / m / v.halfHeight, 0);
}

TEST(NavObjectControl, PanMovesThePivotAcrossTheWindowByTheLargerExtent) {
  struct Case {
    double w, h, perspective, pivotZ, dx, dy;
  } cases[] = {
      {1.0, 0.5, 0.5, -2.0, 0.25, 0.0},   // wider than high, perspective
      {0.5, 1.0, 0.25, -6.0, 0.0, -0.125},  // higher than wide
      {1.0, 0.5, 0.0, -3.0, 0.25, 0.125},   // orthographic
  };
  for (const Case& c : cases) {
    NavVolume volume = Volume(c.w, c.h, c.perspective);
    NavSettings settings = Plain(0, 0, V(0, 0, c.pivotZ));
    NavXform object = Xform(1, Ident(), V(0, 0, 0));
    const NavDelta delta = Delta(c.dx, c.dy, 1);
    ObjectControl(&volume, &settings, &object, nullptr, nullptr, &delta);
    const double size = 2.0 * std::fmax(c.w, c.h);
    const NavVec3 moved = OnWindow(volume, ToOuter(object, settings.pivot));
    EXPECT_NEAR(moved.x * c.w, c.dx * size, 1e-12);
    EXPECT_NEAR(moved.y * c.h, c.dy * size, 1e-12);
  }
}

TEST(NavObjectControl, ViewAxisPivotIsKeptBetweenTheNearMarginAndTheFarLimit) {
  const double P = 0.5, E = 2.0;
  struct Case {
    double pivotDepth, expected;
  } cases[] = {
      {E, E - kNearMargin},             // at the eye
      {E + 3.0, E - kNearMargin},       // behind it
      {1e12, E - kNearMargin},          // far behind it
      {E - kNearMargin / 2, E - kNearMargin},
      {E - 2e6, E - kFarLimit},         // beyond the far limit
      {-5.0, -5.0},                     // in range: kept
  };
  for (const Case& c : cases) {
    NavVolume volume = Volume(1, 1, P);
    NavSettings settings = Plain(1, c.pivotDepth);
    NavXform object = Xform(1, Ident(), V(0, 0, 0));
    const NavDelta delta = Delta(0, 0, 1);
    ObjectControl(&volume, &settings, &object, nullptr, nullptr, &delta);
    EXPECT_EQ(settings.pivotDepth, c.expected) << c.pivotDepth;
    EXPECT_TRUE(SameBytes(settings.pivot, V(0, 0, c.expected))) << c.pivotDepth;
  }
}

TEST(NavObjectControl, OrthographicZoomScalesTheWindow) {
  struct Case {
    double perspective, zoom;
    uint32_t noZoom;
    double expectedW, expectedH;
  } cases[] = {
      {0.0, 2.0, 0, 1.5, 0.5},   // halved
      {0.0, 0.5, 0, 6.0, 2.0},   // doubled
      {0.0, 2.0, 1, 3.0, 1.0},   // noZoom: untouched
      {0.5, 2.0, 0, 3.0, 1.0},   // perspective zooms by moving, not by the window
  };
  for (const Case& c : cases) {
    NavVolume volume = Volume(3.0, 1.0, c.perspective, 0.1, -0.2);
    NavSettings settings = Plain(1, -1.0);
    settings.noZoom = c.noZoom;
    NavXform object = Xform(1, Ident(), V(0, 0, 0));
    const NavDelta delta = Delta(0, 0, c.zoom);
    ObjectControl(&volume, &settings, &object, nullptr, nullptr, &delta);
    EXPECT_EQ(volume.halfWidth, c.expectedW);
    EXPECT_EQ(volume.halfHeight, c.expectedH);
  }
}

// The orthographic zoom shifts the object so that the pivot keeps its place
// in the window, to first order in the step (a per-frame zoom is close to 1).
TEST(NavObjectControl, OrthographicZoomKeepsThePivotInTheWindow) {
  for (double zoom : {1.001, 0.999}) {
    NavVolume volume = Volume(2.0, 1.0, 0.0);
    NavSettings settings = Plain(0, 0, V(0.6, -0.3, -4.0));
    NavXform object = Xform(1, Ident(), V(0, 0, 0));
    const NavVec3 before = V(0.6 / 2.0, -0.3 / 1.0, 0);
    const NavDelta delta = Delta(0, 0, zoom);
    ObjectControl(&volume, &settings, &object, nullptr, nullptr, &delta);
    const NavVec3 p = ToOuter(object, settings.pivot);
    EXPECT_TRUE(Near(V(p.x / volume.halfWidth, p.y / volume.halfHeight, 0), before, 1e-5));
  }
}

// With the fence on, a zero step brings a pivot outside the window to its
// edge; inside, or in a degenerate window, nothing moves.
TEST(NavObjectControl, FenceBringsThePivotToTheWindowEdge) {
  struct Case {
    const char* name;
    double w, perspective;
    NavVec3 pivot;
    NavVec3 expectedOnWindow;  // in units of the half extents; NaN: not moved
  } cases[] = {
      {"right", 1.0, 0.5, V(5, 0, -2), V(1, 0, 0)},
      {"left", 1.0, 0.5, V(-5, 0.1, -2), V(-1, 0.1 / 2 / 0.5, 0)},
      {"top", 1.0, 0.5, V(0, 5, -2), V(0, 1, 0)},
      {"bottom, orthographic", 1.0, 0.0, V(0.2, -5, -2), V(0.2, -1, 0)},
      {"inside", 1.0, 0.5, V(0.3, -0.2, -2), V(0.3 / 2, -0.2 / 2 / 0.5, 0)},
      {"degenerate window", 0.0, 0.5, V(5, 0, -2), V(NAN, 0, 0)},
  };
  for (const Case& c : cases) {
    NavVolume volume = Volume(c.w, 0.5, c.perspective);
    NavSettings settings = Plain(0, 0, c.pivot);
    settings.fence = 1;
    NavXform object = Xform(1, Ident(), V(0, 0, 0));
    const NavDelta delta = Delta(0, 0, 1);
    ObjectControl(&volume, &settings, &object, nullptr, nullptr, &delta);
    if (std::isnan(c.expectedOnWindow.x)) {
      EXPECT_TRUE(SameBytes(object.translation, V(0, 0, 0))) << c.name;
      continue;
    }
    const NavVec3 p = ToOuter(object, settings.pivot);
    const double m = 1.0 - p.z * c.perspective;
    EXPECT_NEAR(p.x / m / c.w, c.expectedOnWindow.x, 1e-12) << c.name;
    EXPECT_NEAR(p.y / m / 0.5, c.expectedOnWindow.y, 1e-12) << c.name;
    EXPECT_NEAR(p.z, c.pivot.z, 1e-12) << c.name;
  }
}

TEST(NavObjectControl, RotationBelowTheNearMarginTurnsNothingButTranslationApplies) {
  NavVolume volume = Volume(1, 1, 0.5);
  NavSettings settings = Plain(0, 0, V(0, 0, 0));  // the pivot at the object's origin
  const NavMat33 turned = Rotation(0.7, V(1, 2, 3));
  NavXform object = Xform(1, turned, V(0, 0, -2));
  const NavDelta delta = Delta(0.1, 0, 1, kNearMargin * 0.6, 0, kNearMargin * 0.6);
  ObjectControl(&volume, &settings, &object, nullptr, nullptr, &delta);
  EXPECT_TRUE(SameBytes(object.rotation, turned));
  EXPECT_NEAR(object.translation.x, 0.1 * (4 * 0.5) * 2, 1e-12);
}

TEST(NavObjectControl, PositiveTwistTurnsCounterclockwiseAboutTheViewAxis) {
  NavVolume volume = Volume(1, 1, 0.5);
  NavSettings settings = Plain(0);
  NavXform object = Xform(1, Ident(), V(0, 0, 0));
  const NavDelta delta = Delta(0, 0, 1, 0, 0, 0.3);
  ObjectControl(&volume, &settings, &object, nullptr, nullptr, &delta);
  EXPECT_TRUE(Near(Mul(V(1, 0, 0), object.rotation), V(std::cos(0.3), std::sin(0.3), 0), 1e-15));
}

// noZoom with a pivot fixed in the object: the step drags the pivot (fenced
// into the window) and leaves the object alone.
TEST(NavObjectControl, NoZoomWithObjectPivotDragsThePivot) {
  struct Case {
    double dx, dy;
    NavVec3 expectedPivotView;
  } cases[] = {
      {0.1, -0.05, V(0.1 * 4 * 0.5 * 2, -0.05 * 4 * 0.5 * 2, -2)},  // within the window
      {3.0, 0.0, V(1.0 * 2, 0, -2)},                                 // fenced to the right edge
  };
  for (const Case& c : cases) {
    NavVolume volume = Volume(1, 1, 0.5);
    NavSettings settings = Plain(0, 0, V(0, 0, 0));
    settings.noZoom = 1;
    const NavXform start = Xform(1, Rotation(1.1, V(0.3, -1, 0.2)), V(0, 0, -2));
    NavXform object = start;
    const NavDelta delta = Delta(c.dx, c.dy, 3.0, 0.4, 0.2, 0.1);
    ObjectControl(&volume, &settings, &object, nullptr, nullptr, &delta);
    EXPECT_TRUE(SameBytes(object, start));
    EXPECT_TRUE(Near(ToOuter(object, settings.pivot), c.expectedPivotView, 1e-12));
  }
}

TEST(NavObjectControl, UprightObjectOfAnyScaleStaysWhereItIs) {
  for (double scale : {1.0, 3.0, 0.25}) {
    NavVolume volume = Volume(1, 1, 0.5);
    NavSettings settings = Plain(0, 0, V(0.4, 0.2, -0.3));
    settings.upright = 1;
    settings.upAxis = 1;
    // Turned about y only: its x axis is level.
    const NavXform start = Xform(scale, Rotation(0.8, V(0, 1, 0)), V(1, -2, -5));
    NavXform object = start;
    const NavDelta delta = Delta(0, 0, 1);
    ObjectControl(&volume, &settings, &object, nullptr, nullptr, &delta);
    EXPECT_TRUE(Near(object.rotation, start.rotation, 1e-15)) << scale;
    EXPECT_TRUE(Near(object.translation, start.translation, 1e-13)) << scale;
  }
}

// The up axis is taken modulo 3 into 0..2, negative values included: a
// negative value names an axis instead of reading before the axes.
TEST(NavObjectControl, UpAxisIsTakenModuloThree) {
  struct Case {
    int32_t upAxis, same;
  } cases[] = {{3, 0}, {4, 1}, {5, 2}, {-1, 2}, {-2, 1}, {-3, 0}, {INT_MIN, 1}, {INT_MAX, 1}};
  const NavDelta delta = Delta(0.05, 0, 1, 0.3, -0.2, 0.5);
  auto run = [&](int32_t upAxis) {
    NavVolume volume = Volume(1, 1, 0.5);
    NavSettings settings = Plain(0, 0, V(0.1, 0.2, 0.3));
    settings.upright = 1;
    settings.upAxis = upAxis;
    NavXform object = Xform(2, Rotation(0.4, V(1, 1, 0)), V(0, 0, -3));
    ObjectControl(&volume, &settings, &object, nullptr, nullptr, &delta);
    return object;
  };
  for (const Case& c : cases) {
    const NavXform got = run(c.upAxis);
    EXPECT_TRUE(SameBytes(got, run(c.same))) << c.upAxis;
    EXPECT_NEAR(got.rotation.m[0][c.same], 0.0, 1e-15) << c.upAxis;
  }
}

// Zoom along the ray keeps an off-axis pivot at its place in the window while
// it comes closer; twisting about the ray keeps every point of the ray.
TEST(NavObjectControl, ZoomAndTwistFollowTheRayThroughThePivot) {
  const NavVec3 pivot = V(0.3, -0.2, -1.0);
  const double P = 0.5, E = 2.0;
  auto run = [&](uint32_t zoomAlongRay, uint32_t twistAboutRay, const NavDelta& delta,
                 NavVec3 probe) {
    NavVolume volume = Volume(1, 1, P);
    NavSettings settings = Plain(0, 0, pivot);
    settings.zoomAlongRay = zoomAlongRay;
    settings.twistAboutRay = twistAboutRay;
    NavXform object = Xform(1, Ident(), V(0, 0, 0));
    ObjectControl(&volume, &settings, &object, nullptr, nullptr, &delta);
    return ToOuter(object, probe);
  };
  const NavDelta zoom = Delta(0, 0, 2.0);
  const NavVec3 moved = run(1, 0, zoom, pivot);
  const double m0 = 1 - pivot.z * P, m1 = 1 - moved.z * P;
  EXPECT_NEAR(moved.x / m1, pivot.x / m0, 1e-12);
  EXPECT_NEAR(moved.y / m1, pivot.y / m0, 1e-12);
  EXPECT_NEAR(E - moved.z, (E - pivot.z) / 2, 1e-12);
  const NavVec3 straight = run(0, 0, zoom, pivot);
  EXPECT_TRUE(Near(V(straight.x, straight.y, 0), V(pivot.x, pivot.y, 0), 1e-15));

  // A point halfway between the pivot and the eye lies on the ray.
  const NavVec3 onRay = 0.5 * (pivot + V(0, 0, E));
  const NavDelta twist = Delta(0, 0, 1, 0, 0, 0.4);
  EXPECT_TRUE(Near(run(0, 1, twist, onRay), onRay, 1e-12));
  EXPECT_FALSE(Near(run(0, 0, twist, onRay), onRay, 1e-3));
  // Tilted onto the ray, the twist keeps its angle: the object turns by 0.4
  // either way (its rotation's rows from the images of the unit points).
  const NavVec3 origin = run(0, 1, twist, V(0, 0, 0));
  double trace = 0;
  for (int i = 0; i < 3; ++i) {
    const NavVec3 unit = V(i == 0, i == 1, i == 2);
    trace += Dot(run(0, 1, twist, unit) - origin, unit);
  }
  EXPECT_NEAR(trace, 1.0 + 2.0 * std::cos(0.4), 1e-12);
}

TEST(NavObjectControl, RayRulesHoldOnlyWhileThePivotIsInsideTheWindow) {
  const NavDelta delta = Delta(0, 0, 1.5, 0.1, 0.2, 0.4);
  auto run = [&](uint32_t rayRules) {
    NavVolume volume = Volume(1, 1, 0.5);
    NavSettings settings = Plain(0, 0, V(3.0, 0.2, -1.0));  // right of the window
    settings.zoomAlongRay = settings.twistAboutRay = rayRules;
    NavXform object = Xform(1, Ident(), V(0, 0, 0));
    ObjectControl(&volume, &settings, &object, nullptr, nullptr, &delta);
    return object;
  };
  EXPECT_TRUE(SameBytes(run(1), run(0)));
}

// A zero or denormal scale, or a zoom factor that is not a positive finite
// number with a finite reciprocal, would divide by zero (or overflow) and
// leave infinities or NaNs in the host's records: such a step changes nothing.
TEST(NavObjectControl, StepThatWouldDivideByZeroChangesNothing) {
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    const char* name;
    double scale, parentScale, zoom, perspective;
  } cases[] = {
      {"zero scale", 0.0, 1.0, 1.5, 0.5},
      {"negative zero scale", -0.0, 1.0, 1.5, 0.0},
      {"denormal scale", 1e-310, 1.0, 1.5, 0.5},
      {"zero parent scale", 1.0, 0.0, 1.5, 0.5},
      {"zero zoom, perspective", 1.0, 1.0, 0.0, 0.5},
      {"zero zoom, orthographic", 1.0, 1.0, 0.0, 0.0},
      {"negative zero zoom", 1.0, 1.0, -0.0, 0.0},
      {"negative zoom", 1.0, 1.0, -2.0, 0.0},
      {"denormal zoom", 1.0, 1.0, 1e-310, 0.5},
      {"infinite zoom", 1.0, 1.0, inf, 0.0},
      {"NaN zoom", 1.0, 1.0, NAN, 0.5},
  };
  for (const Case& c : cases) {
    for (uint32_t kind : {0u, 1u}) {
      NavVolume volume = Volume(1, 1, c.perspective);
      NavSettings settings = Plain(kind, -2.0, V(0.1, 0.2, 0.3));
      settings.upright = 1;
      settings.fence = 1;
      NavXform object = Xform(c.scale, Rotation(0.3, V(1, 0, 0)), V(1, 2, -3));
      const NavXform parent = Xform(c.parentScale, Ident(), V(0, 0, 0));
      const NavVolume volumeBefore = volume;
      const NavSettings settingsBefore = settings;
      const NavXform objectBefore = object;
      const NavDelta delta = Delta(0.1, 0.1, c.zoom, 0.2, 0.1, 0.3);
      ObjectControl(&volume, &settings, &object, &parent, nullptr, &delta);
      EXPECT_TRUE(SameBytes(volume, volumeBefore)) << c.name << ", kind " << kind;
      EXPECT_TRUE(SameBytes(settings, settingsBefore)) << c.name << ", kind " << kind;
      EXPECT_TRUE(SameBytes(object, objectBefore)) << c.name << ", kind " << kind;
    }
  }
}

// Make upright turns a frame that is nearly upright the least way: row 0
// comes perpendicular to up, one row is kept (row 1 when row 2 is the one
// most aligned with up, else row 2), and the frame stays close to where it
// was, whichever row is the aligned one and whichever way it points.
TEST(NavMakeUpright, NearlyUprightFrameTurnsTheLeastWay) {
  const NavVec3 up = V(0, 1, 0);
  struct Case {
    const char* name;
    NavMat33 upright;  // an upright frame
    NavVec3 tiltAxis;  // tilted by 0.05 about this
  } cases[] = {
      {"row 1 up, tilted about x", Ident(), V(1, 0, 0)},
      {"row 1 up, tilted about z", Ident(), V(0, 0, 1)},
      {"row 1 down, tilted about x", Mat(V(1, 0, 0), V(0, -1, 0), V(0, 0, -1)), V(1, 0, 0)},
      {"row 1 down, tilted about z", Mat(V(1, 0, 0), V(0, -1, 0), V(0, 0, -1)), V(0, 0, 1)},
      // Row 2 is then more aligned with up than row 0, but row 1 most.
      {"row 1 up, tilted about x and z", Ident(), V(1, 0, 0.5)},
      {"row 1 down, tilted about x and z", Mat(V(1, 0, 0), V(0, -1, 0), V(0, 0, -1)), V(1, 0, 0.5)},
      {"row 2 up, tilted about x", Mat(V(1, 0, 0), V(0, 0, -1), V(0, 1, 0)), V(1, 0, 0)},
      {"row 2 up, tilted about y", Mat(V(1, 0, 0), V(0, 0, -1), V(0, 1, 0)), V(0, 1, 0)},
      {"row 2 down, tilted about x", Mat(V(1, 0, 0), V(0, 0, 1), V(0, -1, 0)), V(1, 0, 0)},
      {"row 2 down, tilted about y", Mat(V(1, 0, 0), V(0, 0, 1), V(0, -1, 0)), V(0, 1, 0)},
  };
  for (const Case& c : cases) {
    const NavMat33 tilted = Mul(Rotation(0.05, c.tiltAxis), c.upright);
    const int kept = std::fabs(Dot(RowOf(tilted, 2), up)) > std::fabs(Dot(RowOf(tilted, 1), up)) ? 1 : 2;
    NavMat33 m = tilted;
    KestrinNav::MakeUpright(m, up);
    EXPECT_NEAR(Dot(RowOf(m, 0), up), 0.0, 1e-15) << c.name;
    EXPECT_LT(OrthonormalError(m), 1e-12) << c.name;
    EXPECT_NEAR(Determinant(m), 1.0, 1e-12) << c.name;
    EXPECT_TRUE(SameBytes(RowOf(m, kept), RowOf(tilted, kept))) << c.name;
    EXPECT_TRUE(Near(m, tilted, 0.06)) << c.name;
  }
}

// noRotation turns the upright rule off: a tilted object stays tilted.
TEST(NavObjectControl, NoRotationLeavesATiltedObjectAsItIs) {
  struct Case {
    uint32_t noRotation;
    bool levelled;
  } cases[] = {{0, true}, {1, false}};
  const NavMat33 tilted = Rotation(0.3, V(0, 0, 1));
  for (const Case& c : cases) {
    NavVolume volume = Volume(1, 1, 0.5);
    NavSettings settings = Plain(0, 0, V(0, 0, 0));
    settings.upright = 1;
    settings.upAxis = 1;
    settings.noRotation = c.noRotation;
    NavXform object = Xform(1, tilted, V(0, 0, -2));
    const NavDelta zero = Delta(0, 0, 1);
    ObjectControl(&volume, &settings, &object, nullptr, nullptr, &zero);
    EXPECT_EQ(std::fabs(object.rotation.m[0][1]) < 1e-15, c.levelled) << c.noRotation;
    if (!c.levelled) {
      EXPECT_TRUE(SameBytes(object.rotation, tilted));
    }
  }
}

// The fence holds the pivot at its new depth: after a zoom (which moves it
// along the view axis) and with slanted windows; a window without height
// still pulls the pivot to its middle in y (there is no order test for y).
TEST(NavObjectControl, FenceHoldsThePivotAtItsNewDepth) {
  struct Case {
    const char* name;
    double w, h, perspective, slopeX, slopeY, zoom;
    NavVec3 pivot;
    double windowX, windowY;  // where it ends, in window coordinates; NaN: as it was
  } cases[] = {
      {"right, zoom in", 1.0, 0.5, 0.5, 0.0, 0.0, 2.0, V(5, 0, -2), 1.0, 0.0},
      {"left, zoom out", 1.0, 0.5, 0.5, 0.0, 0.0, 0.5, V(-5, 0, -2), -1.0, 0.0},
      {"top, zoom in", 1.0, 0.5, 0.5, 0.0, 0.0, 1.5, V(0, 5, -2), 0.0, 0.5},
      {"bottom, slanted", 1.0, 0.5, 0.5, 0.2, -0.1, 1.25, V(0, -5, -2), NAN, -0.5},
      {"right, slanted", 1.0, 0.5, 0.5, 0.2, -0.1, 0.8, V(5, 0, -2), 1.0, NAN},
      {"top, slanted, orthographic", 1.0, 0.5, 0.0, 0.3, -0.2, 1.0, V(0, 5, -2), NAN, 0.5},
      {"no height", 1.0, 0.0, 0.5, 0.0, 0.1, 1.0, V(0.2, 5, -2), NAN, 0.0},
  };
  for (const Case& c : cases) {
    NavVolume volume = Volume(c.w, c.h, c.perspective, c.slopeX, c.slopeY);
    NavSettings settings = Plain(0, 0, c.pivot);
    settings.fence = 1;
    NavXform object = Xform(1, Ident(), V(0, 0, 0));
    const NavDelta delta = Delta(0, 0, c.zoom);
    ObjectControl(&volume, &settings, &object, nullptr, nullptr, &delta);
    const NavVec3 n = ToOuter(object, settings.pivot);
    const double E = c.perspective > 0 ? 1.0 / c.perspective : 0.0;
    const double depth = c.perspective > 0 ? c.pivot.z + (1.0 - 1.0 / c.zoom) * (E - c.pivot.z)
                                           : c.pivot.z;
    EXPECT_NEAR(n.z, depth, 1e-12) << c.name;
    const double m = 1.0 - c.perspective * n.z;
    const double wx = (n.x - c.slopeX * n.z) / m, wy = (n.y - c.slopeY * n.z) / m;
    // Where the case names no window coordinate, that coordinate is kept.
    EXPECT_NEAR(std::isnan(c.windowX) ? n.x : wx, std::isnan(c.windowX) ? c.pivot.x : c.windowX,
                1e-12)
        << c.name;
    EXPECT_NEAR(std::isnan(c.windowY) ? n.y : wy, std::isnan(c.windowY) ? c.pivot.y : c.windowY,
                1e-12)
        << c.name;
  }
}

// The dragged pivot follows the pan on the screen whatever the camera and
// the parent are: it moves in view space by the step's translation (here
// frames turned about the view axis, so the drag stays in the object's x-y
// plane).
TEST(NavObjectControl, PivotDragFollowsThePanThroughCameraAndParent) {
  struct Case {
    const char* name;
    bool camera, parent;
    double objectTurn;
  } cases[] = {
      {"neither", false, false, 0.0},
      {"a turned object", false, false, 0.9},
      {"a camera", true, false, 0.0},
      {"a parent", false, true, 0.0},
      {"camera, parent and a turned object", true, true, -0.4},
  };
  const double P = 0.5, dx = 0.1, dy = -0.05;
  const NavVec3 pivotView = V(0, 0, -2);
  for (const Case& c : cases) {
    const NavMat43 camera = Frame(Rotation(0.7, V(0, 0, 1)), V(1, -2, 3));
    const NavXform parent = Xform(1, Rotation(-1.2, V(0, 0, 1)), V(-3, 1, 2));
    const NavMat43* cam = c.camera ? &camera : nullptr;
    const NavXform* par = c.parent ? &parent : nullptr;
    // The object's origin, the pivot, at pivotView.
    const NavVec3 world = cam ? Mul(pivotView, cam->rotation) + cam->translation : pivotView;
    const NavVec3 inParent = par ? Mul(par->rotation, world - par->translation) : world;
    NavXform object = Xform(1, Rotation(c.objectTurn, V(0, 0, 1)), inParent);
    NavVolume volume = Volume(1, 1, P);
    NavSettings settings = Plain(0, 0, V(0, 0, 0));
    settings.noZoom = 1;
    const NavDelta delta = Delta(dx, dy, 1);
    ObjectControl(&volume, &settings, &object, par, cam, &delta);
    NavVec3 moved = ToOuter(object, settings.pivot);
    if (par) moved = ToOuter(*par, moved);
    moved = WorldToView(cam, moved);
    const double k = (1.0 / P - pivotView.z) * P * 2.0;
    EXPECT_TRUE(Near(moved, pivotView + V(dx * k, dy * k, 0), 1e-12)) << c.name;
  }
}

// Every record the step writes stays finite for every reading the device can
// give (a zoom factor 2^(tz*dt) with |tz*dt| up to about 1342) and for a
// host's own zoom factors from the smallest to the largest doubles, at any
// pivot distance: a step that would overflow changes nothing.
TEST(NavObjectControl, EveryRecordStaysFiniteForEveryZoom) {
  const double P = 0.5, E = 2.0;
  const double zooms[] = {1e-305, std::exp2(-1023.5), std::exp2(-1013), 1e-300, 1e-20,
                          1e20,   1e300, std::exp2(1013), std::exp2(1023.5), 1e305, 1.7e308};
  const double depths[] = {E - 1e6, E - 2e6, -3.0, E - 1.0, E - 1e-7};
  for (double zoom : zooms)
    for (double depth : depths)
      for (uint32_t kind : {0u, 1u})
        for (double perspective : {P, 0.0})
          for (int rules = 0; rules < 8; ++rules) {
            NavVolume volume = Volume(1e4, 0.5, perspective, 0.1, -0.1);
            NavSettings settings = Plain(kind, depth, V(0.1, 0.2, depth));
            settings.fence = rules & 1;
            settings.upright = (rules >> 1) & 1;
            settings.zoomAlongRay = settings.twistAboutRay = (rules >> 2) & 1;
            NavXform object = Xform(1, Rotation(0.3, V(1, 0, 0)), V(1, 2, -3));
            const NavDelta delta = Delta(0.1, 0.1, zoom, 0.2, 0.1, 0.3);
            ObjectControl(&volume, &settings, &object, nullptr, nullptr, &delta);
            SCOPED_TRACE(testing::Message() << "zoom " << zoom << ", depth " << depth << ", kind "
                                            << kind << ", perspective " << perspective
                                            << ", rules " << rules);
            ASSERT_TRUE(std::isfinite(volume.halfWidth) && std::isfinite(volume.halfHeight));
            ASSERT_TRUE(Finite(settings.pivot) && std::isfinite(settings.pivotDepth));
            ASSERT_TRUE(Finite(object.rotation) && Finite(object.translation));
          }
  // The reported case: the far limit and the smallest zoom leave everything
  // as it was.
  NavVolume volume = Volume(1, 1, P);
  NavSettings settings = Plain(1, E - 1e6);
  NavXform object = Xform(1, Ident(), V(0, 0, 0));
  const NavVolume volumeBefore = volume;
  const NavSettings settingsBefore = settings;
  const NavXform objectBefore = object;
  const NavDelta delta = Delta(0, 0, 1e-305);
  ObjectControl(&volume, &settings, &object, nullptr, nullptr, &delta);
  EXPECT_TRUE(SameBytes(volume, volumeBefore));
  EXPECT_TRUE(SameBytes(settings, settingsBefore));
  EXPECT_TRUE(SameBytes(object, objectBefore));
}

}  // namespace
