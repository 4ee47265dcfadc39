// The navigation step of a host view, against a recording host.
#include <cmath>
#include <cstring>
#include <thread>

#include "nav_test_util.h"
#include "navigation.h"
#include "recording_navigation_host.h"

namespace {

using namespace navtest;
using KestrinNav::Step;
using Host = RecordingNavigationHost;

// A view whose bytes that mean nothing to the library carry a pattern.
NavView View2D(double w, double h, double centreX, double centreY) {
  NavView v;
  std::memset(&v, 0x5A, sizeof v);
  v.kind = 1;
  v.volume = Volume(w, h, 0.25, 0.1, 0.2);
  v.centreX = centreX;
  v.centreY = centreY;
  return v;
}
NavView View3D(const NavVolume& volume, const NavMat43& camera) {
  NavView v;
  std::memset(&v, 0xA5, sizeof v);
  v.kind = 2;
  v.volume = volume;
  v.camera = camera;
  return v;
}

bool AllFinite(const NavView& v) {
  const double* d = &v.volume.halfWidth;
  for (int i = 0; i < 5; ++i)
    if (!std::isfinite(d[i])) return false;
  return std::isfinite(v.centreX) && Finite(v.camera.rotation) && Finite(v.camera.translation);
}

TEST(NavStep, PanZoomViewWithoutMotionComesBackAsItWas) {
  Host host(Plain(1));
  const NavView view = View2D(2, 1, 3, 4);
  NavMotion motion = Motion(0, 0, 0);
  Step(&host, 0.02, &motion, &view);
  ASSERT_EQ(host.calls, std::vector<Host::Call>{Host::kApplyView});
  EXPECT_TRUE(SameBytes(host.views[0], view));
}

// z = 2^-(tz*dt) scales both half extents; the pan (translation plus scroll)
// is measured in twice the larger of the new half extents.
TEST(NavStep, PanZoomViewZoomsAndPans) {
  struct Case {
    double w, h, dt;
    NavMotion motion;
    double expectedW, expectedH, expectedCX, expectedCY;
  } cases[] = {
      {2, 1, 0.5, Motion(0.1, 0, 2, 9, 9, 9, 0.1, -0.2), 1, 0.5, 3 - 0.1 * 2, 4 + 0.1 * 2},
      {1, 3, 1.0, Motion(0.5, 0.25, -1), 2, 6, 3 - 0.5 * 12, 4 - 0.25 * 12},
      {1, 1, 2.0, Motion(0, 0, 0, 0, 0, 0, 1, 0), 1, 1, 3 - 2 * 2, 4},
  };
  for (const Case& c : cases) {
    Host host(Plain(1));
    const NavView view = View2D(c.w, c.h, 3, 4);
    NavMotion motion = c.motion;
    Step(&host, c.dt, &motion, &view);
    ASSERT_EQ(host.calls, std::vector<Host::Call>{Host::kApplyView});
    NavView expected = view;
    expected.volume.halfWidth = c.expectedW;
    expected.volume.halfHeight = c.expectedH;
    expected.centreX = c.expectedCX;
    expected.centreY = c.expectedCY;
    EXPECT_TRUE(SameBytes(host.views[0], expected)) << c.w << " " << c.h;
    EXPECT_TRUE(SameBytes(motion, c.motion));
  }
}

TEST(NavStep, OtherViewKindsCallNothing) {
  for (uint32_t kind : {0u, 3u, 0xFFFFFFFFu}) {
    NavSettings settings = Plain(1);
    settings.noRotation = 1;
    Host host(settings);
    NavView view = View3D(Volume(1, 1, 0.5), Frame(Ident(), V(0, 0, 0)));
    view.kind = kind;
    const NavMotion before = Motion(1, 2, 3, 4, 5, 6, 7, 8);
    NavMotion motion = before;
    Step(&host, 0.1, &motion, &view);
    EXPECT_TRUE(host.calls.empty()) << kind;
    EXPECT_TRUE(SameBytes(motion, before)) << kind;
  }
}

// QuerySettings first, ApplyView, then PivotChanged, all on the calling
// thread; the host's view and its own settings record are never written, and
// the view's pass-through bytes reach ApplyView.
TEST(NavStep, ThreeDimensionalStepCallsTheHostInOrder) {
  for (Host::Answer answer : {Host::kOwnRecord, Host::kFillArea}) {
    NavSettings settings = Plain(1, -3.0, V(9, 9, 9));
    Host host(settings, answer);
    const NavView view = View3D(Volume(1, 0.75, 0.5, 0.1, 0), Frame(Rotation(0.3, V(1, 2, 3)), V(1, 2, 3)));
    const NavView viewBefore = view;
    NavMotion motion = Motion(0.1, 0.2, 0.3, 0.4, 0.5, 0.6);
    Step(&host, 0.05, &motion, &view);

    const std::vector<Host::Call> expected = {Host::kQuerySettings, Host::kApplyView,
                                              Host::kPivotChanged};
    ASSERT_EQ(host.calls, expected) << answer;
    for (const std::thread::id& t : host.threads) EXPECT_EQ(t, std::this_thread::get_id());
    EXPECT_TRUE(SameBytes(view, viewBefore));
    EXPECT_TRUE(SameBytes(host.settings, settings));
    EXPECT_NE(host.areas[0], static_cast<void*>(&host.settings));
    const NavView& applied = host.views[0];
    EXPECT_EQ(applied.kind, 2u);
    EXPECT_EQ(std::memcmp(applied.passed0, view.passed0, sizeof view.passed0), 0);
    EXPECT_EQ(std::memcmp(applied.passed1, view.passed1, sizeof view.passed1), 0);
    EXPECT_EQ(std::memcmp(&applied.centreX, &view.centreX, sizeof view.centreX), 0);
    EXPECT_EQ(std::memcmp(applied.passed2, view.passed2, sizeof view.passed2), 0);
    EXPECT_FALSE(SameBytes(applied.camera, view.camera));
  }
}

TEST(NavStep, HostWithoutSettingsEndsTheStep) {
  Host host(Plain(1), Host::kNull);
  const NavView view = View3D(Volume(1, 1, 0.5), Frame(Ident(), V(0, 0, 0)));
  const NavMotion before = Motion(1, 2, 3, 4, 5, 6);
  NavMotion motion = before;
  Step(&host, 0.1, &motion, &view);
  EXPECT_EQ(host.calls, std::vector<Host::Call>{Host::kQuerySettings});
  EXPECT_TRUE(SameBytes(motion, before));
}

// Runs one three-dimensional step and returns the view handed to the host.
NavView StepView(const NavSettings& settings, NavMotion motion, const NavView& view,
                 double dt = 0.1, Host* record = nullptr) {
  Host host(settings);
  Step(&host, dt, &motion, &view);
  EXPECT_FALSE(host.views.empty());
  if (record) *record = host;
  return host.views.empty() ? view : host.views[0];
}

// noRotation zeroes the rotation of the host's motion record and moves the
// scene about the view-axis pivot, whatever kind the settings name; any
// kind but 2 moves the scene the same way.
TEST(NavStep, NoRotationDropsTheTurnAndUsesTheViewAxisPivot) {
  const NavView view = View3D(Volume(1, 0.75, 0.5), Frame(Rotation(0.7, V(1, -1, 2)), V(1, 2, 3)));
  NavSettings reference = Plain(1, -2.0, V(0.3, 0.2, 0.1));
  const NavView expected = StepView(reference, Motion(0.1, 0.2, 0.3), view);
  for (uint32_t kind : {0u, 1u, 2u, 5u}) {
    NavSettings settings = reference;
    settings.kind = kind;
    settings.noRotation = 1;
    Host host(settings);
    NavMotion motion = Motion(0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0, 0);
    Step(&host, 0.1, &motion, &view);
    EXPECT_TRUE(SameBytes(motion, Motion(0.1, 0.2, 0.3))) << kind;
    ASSERT_EQ(host.views.size(), 1u);
    EXPECT_TRUE(SameBytes(host.views[0], expected)) << kind;
  }
  for (uint32_t kind : {3u, 0xFFFFFFFFu}) {
    NavSettings settings = reference;
    settings.kind = kind;
    EXPECT_TRUE(SameBytes(StepView(settings, Motion(0.1, 0.2, 0.3, 0.4), view),
                          StepView(reference, Motion(0.1, 0.2, 0.3, 0.4), view)))
        << kind;
  }
}

// PivotChanged is decided on the 32 bytes of the pivot and its depth. A fly
// step in an orthographic view does not move the camera, but the pivot is
// recomputed from it: here (0, 1, 2) + 3 along the camera's z row, i.e.
// (+0, 1, -1).
TEST(NavStep, PivotChangedOnlyWhenItsBitsChange) {
  const NavView view = View3D(Volume(1, 1, 0.0), Frame(Ident(), V(0, 1, 2)));
  const double depth = -3.0;
  struct Case {
    const char* name;
    NavVec3 pivot;
    bool called;
  } cases[] = {
      {"the same bits", V(0.0, 1, -1), false},
      {"negative zero", V(-0.0, 1, -1), true},
      {"one unit in the last place", V(0.0, 1, std::nextafter(-1.0, 0.0)), true},
      {"elsewhere", V(5, 6, 7), true},
  };
  for (const Case& c : cases) {
    NavSettings settings = Plain(2, depth, c.pivot);
    Host host(settings);
    NavMotion motion = Motion(0.1, 0.2, 0.3, 0.4, 0.5, 0.6);
    Step(&host, 0.1, &motion, &view);
    EXPECT_TRUE(SameBytes(host.views.at(0).camera, view.camera)) << c.name;
    ASSERT_EQ(host.pivots.size(), c.called ? 1u : 0u) << c.name;
    if (!c.called) continue;
    const double expected[4] = {0.0, 1.0, -1.0, depth};
    EXPECT_EQ(std::memcmp(host.pivots[0].bytes, expected, 32), 0) << c.name;
  }
}

// The pivot depth of a step without motion comes back as 1/P - (1/P - depth):
// equal to the depth given up to rounding, but not in its bits, so the host
// hears of it.
TEST(NavStep, PivotEqualOnlyUpToRoundingIsReported) {
  const NavView view = View3D(Volume(1, 1, 0.3), Frame(Ident(), V(0, 0, 0)));
  Host host(Plain(1, 0.1, V(0, 0, 0.1)));
  NavMotion motion = Motion(0, 0, 0);
  Step(&host, 0.1, &motion, &view);
  ASSERT_EQ(host.pivots.size(), 1u);
  double reported[4];
  std::memcpy(reported, host.pivots[0].bytes, sizeof reported);
  EXPECT_NE(reported[3], 0.1);
  EXPECT_NEAR(reported[3], 0.1, 1e-15);
  EXPECT_NEAR(reported[2], 0.1, 1e-15);
  EXPECT_TRUE(Near(host.views[0].camera.rotation, view.camera.rotation, 0.0));
  EXPECT_TRUE(Near(host.views[0].camera.translation, view.camera.translation, 0.0));
}

// invertCamera: the camera moves against the device, as if every step value
// were negated (the zoom inverted).
TEST(NavStep, InvertedCameraFliesAgainstTheDevice) {
  const NavView view = View3D(Volume(1, 0.75, 0.5, 0.1, -0.05),
                              Frame(Rotation(0.7, V(1, -1, 2)), V(1, 2, 3)));
  NavSettings settings = Plain(2, -2.0);
  settings.zoomAlongRay = settings.twistAboutRay = 1;
  NavSettings inverted = settings;
  inverted.invertCamera = 1;
  EXPECT_TRUE(SameBytes(StepView(inverted, Motion(0.1, 0.2, 2, 0.4, 0.5, 0.6, 0.3, 0), view, 0.5),
                        StepView(settings, Motion(-0.1, -0.2, -2, -0.4, -0.5, -0.6, -0.3, 0), view, 0.5)));
}

// The fly step through Step: a zoom of 2 (tz*dt = 1) with the pivot 4 from
// the eye carries the camera 4 into the view, and the pivot reported lies
// pivotDepth along the moved camera's z row.
TEST(NavStep, FlyZoomCarriesTheCameraIn) {
  const NavMat33 turned = Rotation(0.7, V(1, -1, 2));
  const NavView view = View3D(Volume(1, 1, 0.5), Frame(turned, V(1, 2, 3)));
  Host host(Plain(2, -2.0, V(0, 0, 0)));
  NavMotion motion = Motion(0, 0, 2);
  Step(&host, 0.5, &motion, &view);
  ASSERT_EQ(host.views.size(), 1u);
  const NavMat43& camera = host.views[0].camera;
  EXPECT_TRUE(Near(camera.translation, V(1, 2, 3) - 4.0 * RowOf(turned, 2), 1e-12));
  ASSERT_EQ(host.pivots.size(), 1u);
  double reported[4];
  std::memcpy(reported, host.pivots[0].bytes, sizeof reported);
  EXPECT_TRUE(Near(V(reported[0], reported[1], reported[2]),
                   camera.translation + -2.0 * RowOf(camera.rotation, 2), 1e-12));
  EXPECT_EQ(reported[3], -2.0);
}

// Object control of the scene: a pan moves the camera against it along the
// camera's own axes; a turn orbits the camera about the view-axis pivot,
// whose world position is reported.
TEST(NavStep, SceneControlMovesTheCameraAboutThePivot) {
  const double P = 0.5, depth = -2.0;  // the pivot 4 from the eye
  Random r(0x5eed0301);
  for (int n = 0; n < 200; ++n) {
    const NavMat43 start = Frame(r.RotationMatrix(), r.Vector(10));
    const NavView view = View3D(Volume(1, 0.5, P), start);
    const NavVec3 pivotWorld = Mul(V(0, 0, depth), start.rotation) + start.translation;
    SCOPED_TRACE(n);

    const NavView panned = StepView(Plain(1, depth), Motion(0.1, -0.05, 0), view, 1.0);
    const NavVec3 T = V(0.1 * 4 * P * 2, -0.05 * 4 * P * 2, 0);
    ASSERT_TRUE(Near(panned.camera.translation, start.translation - Mul(T, start.rotation), 1e-12));
    ASSERT_TRUE(Near(panned.camera.rotation, start.rotation, 1e-15));

    Host host(Plain(1, depth));
    NavMotion motion = Motion(0, 0, 0, r.Uniform(-1, 1), r.Uniform(-1, 1), r.Uniform(-1, 1));
    Step(&host, 0.5, &motion, &view);
    ASSERT_EQ(host.views.size(), 1u);
    const NavMat43& orbited = host.views[0].camera;
    ASSERT_TRUE(Near(WorldToView(&orbited, pivotWorld), V(0, 0, depth), 1e-12));
    ASSERT_LT(OrthonormalError(orbited.rotation), 1e-12);
    ASSERT_EQ(host.pivots.size(), 1u);
    double reported[4];
    std::memcpy(reported, host.pivots[0].bytes, sizeof reported);
    ASSERT_TRUE(Near(V(reported[0], reported[1], reported[2]), pivotWorld, 1e-12));
  }
}

// A reading so large that 2^(tz*dt) under- or overflows gives a zoom factor
// of 0 or infinity: the view stays where it was, and nothing infinite or NaN
// reaches the host.
TEST(NavStep, OverflowingZoomLeavesTheViewAsItWas) {
  const NavMat43 camera = Frame(Rotation(0.7, V(1, -1, 2)), V(1, 2, 3));
  struct Case {
    const char* name;
    uint32_t viewKind, settingsKind, invert;
    double tz;
    bool volumePerspective;
  } cases[] = {
      {"2D, zoom 0", 1, 1, 0, 2000, true},
      {"2D, infinite zoom", 1, 1, 0, -2000, true},
      {"fly, infinite zoom", 2, 2, 0, 2000, true},
      {"fly inverted, zoom 0", 2, 2, 1, -2000, true},
      {"scene, zoom 0", 2, 1, 0, -2000, true},
      {"scene, infinite zoom", 2, 1, 0, 2000, true},
      {"scene orthographic, zoom 0", 2, 1, 0, -2000, false},
      {"scene orthographic, infinite zoom", 2, 1, 0, 2000, false},
  };
  for (const Case& c : cases) {
    NavView view = View3D(Volume(1, 0.75, c.volumePerspective ? 0.5 : 0.0), camera);
    view.kind = c.viewKind;
    NavSettings settings = Plain(c.settingsKind, -2.0);
    settings.invertCamera = c.invert;
    settings.fence = settings.zoomAlongRay = settings.twistAboutRay = 1;
    Host host(settings);
    NavMotion motion = Motion(0.1, 0.2, c.tz, 0.1, 0.2, 0.3, 0.1, 0.1);
    Step(&host, 1.0, &motion, &view);
    ASSERT_EQ(host.views.size(), 1u) << c.name;
    const NavView& applied = host.views[0];
    EXPECT_TRUE(AllFinite(applied)) << c.name;
    EXPECT_TRUE(SameBytes(applied.volume, view.volume)) << c.name;
    if (c.viewKind == 1) {
      EXPECT_TRUE(SameBytes(applied, view)) << c.name;
    } else {
      EXPECT_TRUE(Near(applied.camera.rotation, camera.rotation, 1e-15)) << c.name;
      EXPECT_TRUE(Near(applied.camera.translation, camera.translation, 1e-14)) << c.name;
    }
    for (const Host::PivotBytes& p : host.pivots) {
      double values[4];
      std::memcpy(values, p.bytes, sizeof values);
      for (double v : values) EXPECT_TRUE(std::isfinite(v)) << c.name;
    }
  }
}

// Over random views, readings and settings: PivotChanged is called exactly
// when the 32 bytes of the pivot and its depth differ from what the host
// gave, and then with the new bytes. The new pivot of settings kinds 1 and 2
// does not depend on the pivot given, so a probe step with a different one
// tells what the step makes of it.
TEST(NavStep, PivotChangedExactlyWhenTheBytesDiffer) {
  Random r(0x5eed0302);
  int calledCount = 0, quietCount = 0;
  for (int n = 0; n < 3000; ++n) {
    const bool identityAtOrigin = r.Int(0, 3) == 0;
    const NavMat43 camera = identityAtOrigin ? Frame(Ident(), V(0, r.Uniform(-2, 2), 0))
                                             : Frame(r.RotationMatrix(), r.Vector(10));
    const double P = r.Int(0, 2) == 0 ? 0.0 : r.Uniform(0.05, 1);
    const NavView view = View3D(Volume(r.Uniform(0.2, 2), r.Uniform(0.2, 2), P,
                                       r.Uniform(-0.3, 0.3), r.Uniform(-0.3, 0.3)),
                                camera);
    NavSettings settings = Plain(r.Int(1, 2), P > 0 ? 1 / P - r.Uniform(0.5, 20) : r.Uniform(-10, 10));
    settings.noRotation = r.Int(0, 3) == 0;
    settings.upright = r.Int(0, 1);
    settings.fence = r.Int(0, 1);
    settings.zoomAlongRay = r.Int(0, 1);
    settings.twistAboutRay = r.Int(0, 1);
    settings.invertCamera = r.Int(0, 1);
    settings.fixedPivotDepth = r.Int(0, 1);
    const NavMotion motion = r.Int(0, 2) == 0
                                 ? Motion(0, 0, 0)
                                 : Motion(r.Uniform(-1, 1), r.Uniform(-1, 1), r.Uniform(-1, 1),
                                          r.Uniform(-1, 1), r.Uniform(-1, 1), r.Uniform(-1, 1));
    const double dt = r.Uniform(0.001, 0.1);
    SCOPED_TRACE(n);

    // The probe: the given pivot's bits inverted.
    NavSettings probe = settings;
    unsigned char* probeBytes = reinterpret_cast<unsigned char*>(&probe.pivot);
    for (int i = 0; i < 24; ++i) probeBytes[i] = static_cast<unsigned char>(~probeBytes[i]);
    Host prober(probe);
    NavMotion probeMotion = motion;
    Step(&prober, dt, &probeMotion, &view);
    unsigned char outcome[32];
    std::memcpy(outcome, prober.pivots.empty() ? static_cast<const void*>(&probe.pivot)
                                               : prober.pivots[0].bytes,
                sizeof outcome);

    // The pivot given: the outcome itself, the outcome with one bit or one
    // sign flipped, or anything.
    unsigned char* given = reinterpret_cast<unsigned char*>(&settings.pivot);
    switch (r.Int(0, 3)) {
      case 0:
        std::memcpy(given, outcome, 24);
        break;
      case 1:
        std::memcpy(given, outcome, 24);
        given[r.Int(0, 23)] ^= static_cast<unsigned char>(1u << r.Int(0, 7));
        break;
      case 2:
        std::memcpy(given, outcome, 24);
        given[8 * r.Int(0, 2) + 7] ^= 0x80;  // the sign of x, y or z
        break;
      default:
        settings.pivot = r.Vector(5);
        break;
    }
    unsigned char before[32];
    std::memcpy(before, &settings.pivot, sizeof before);

    Host host(settings);
    NavMotion stepMotion = motion;
    Step(&host, dt, &stepMotion, &view);
    const bool differ = std::memcmp(before, outcome, 32) != 0;
    ASSERT_EQ(host.calls.size(), differ ? 3u : 2u);
    ASSERT_EQ(host.calls[0], Host::kQuerySettings);
    ASSERT_EQ(host.calls[1], Host::kApplyView);
    if (differ) {
      ASSERT_EQ(host.calls[2], Host::kPivotChanged);
      ASSERT_EQ(std::memcmp(host.pivots[0].bytes, outcome, 32), 0);
      ++calledCount;
    } else {
      ++quietCount;
    }
    ASSERT_TRUE(SameBytes(host.views[0], prober.views[0]));
  }
  // Both sides of the rule were exercised.
  EXPECT_GT(calledCount, 500);
  EXPECT_GT(quietCount, 300);
}

// The scroll hat pans as the ball's translation does, in every kind of view:
// a reading with scroll (sx, sy) steps as one with (tx + sx, ty + sy) and no
// scroll.
TEST(NavStep, ScrollHatAddsToTheTranslation) {
  const NavView view3D = View3D(Volume(1, 0.75, 0.5, 0.1, -0.05),
                                Frame(Rotation(0.7, V(1, -1, 2)), V(1, 2, 3)));
  struct Case {
    const char* name;
    uint32_t viewKind, settingsKind;
  } cases[] = {{"2D", 1, 1}, {"scene, view-axis pivot", 2, 1}, {"scene, object pivot", 2, 0},
               {"fly", 2, 2}};
  for (const Case& c : cases) {
    NavView view = c.viewKind == 1 ? View2D(2, 1, 3, 4) : view3D;
    const NavSettings settings = Plain(c.settingsKind, -2.0, V(0.1, 0.2, -1.5));
    const double tx = 0.25, ty = -0.5, sx = 0.125, sy = 0.375;
    Host withScroll(settings), without(settings), still(settings);
    NavMotion a = Motion(tx, ty, 0.5, 0.1, 0.2, 0.3, sx, sy);
    NavMotion b = Motion(tx + sx, ty + sy, 0.5, 0.1, 0.2, 0.3);
    NavMotion c0 = Motion(tx, ty, 0.5, 0.1, 0.2, 0.3);
    Step(&withScroll, 0.1, &a, &view);
    Step(&without, 0.1, &b, &view);
    Step(&still, 0.1, &c0, &view);
    ASSERT_EQ(withScroll.views.size(), 1u) << c.name;
    EXPECT_TRUE(SameBytes(withScroll.views[0], without.views[0])) << c.name;
    EXPECT_FALSE(SameBytes(withScroll.views[0], still.views[0])) << c.name;
  }
}

// Every record that reaches the host stays finite for every reading the
// device can give: counts up to 100 over up to 13.4 s give |tz * dt| up to
// about 1342, at any pivot distance and in every kind of view.
TEST(NavStep, EveryRecordStaysFiniteUpToTheLargestReading) {
  const NavMat43 camera = Frame(Rotation(0.7, V(1, -1, 2)), V(1, 2, 3));
  const double readings[] = {-1342, -1100, -1023.5, -1013, -600, 600, 1013, 1023.5, 1100, 1342};
  const double depths[] = {2.0 - 1e6, -3.0, 1.5};
  struct Kind {
    const char* name;
    uint32_t viewKind, settingsKind, invert;
    double perspective, halfWidth;
  } kinds[] = {
      {"2D", 1, 1, 0, 0.5, 2.0},
      {"2D, wide", 1, 1, 0, 0.5, 1e300},
      {"scene, view-axis pivot", 2, 1, 0, 0.5, 1.0},
      {"scene, object pivot", 2, 0, 0, 0.5, 1.0},
      {"scene, orthographic", 2, 1, 0, 0.0, 1.0},
      {"fly", 2, 2, 0, 0.5, 1.0},
      {"fly, inverted", 2, 2, 1, 0.5, 1.0},
  };
  for (const Kind& k : kinds)
    for (double reading : readings)
      for (double depth : depths)
        for (uint32_t rules : {0u, 1u}) {
          NavView view = View3D(Volume(k.halfWidth, 0.75, k.perspective, 0.1, -0.05), camera);
          view.kind = k.viewKind;
          view.centreX = 3;
          NavSettings settings = Plain(k.settingsKind, depth, V(0.1, 0.2, depth));
          settings.invertCamera = k.invert;
          settings.fence = settings.zoomAlongRay = settings.twistAboutRay = settings.upright = rules;
          Host host(settings);
          // A count of 100 is about 0.305 units; the seconds make the product.
          const double tz = 100 * 25.0 / 8192.0, dt = reading / tz;
          NavMotion motion = Motion(0.3, -0.2, tz, 0.5, -0.4, 0.3, 0.1, 0.1);
          Step(&host, dt, &motion, &view);
          SCOPED_TRACE(testing::Message() << k.name << ", tz*dt " << reading << ", depth " << depth
                                          << ", rules " << rules);
          ASSERT_EQ(host.views.size(), 1u);
          ASSERT_TRUE(AllFinite(host.views[0]));
          for (const Host::PivotBytes& p : host.pivots) {
            double values[4];
            std::memcpy(values, p.bytes, sizeof values);
            for (double v : values) ASSERT_TRUE(std::isfinite(v));
          }
        }
}

}  // namespace
