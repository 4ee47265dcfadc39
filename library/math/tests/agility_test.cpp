#include "agility.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "kestrin_flat_data.h"
#include "math_test_util.h"

namespace {

using namespace mathtest;
using Kestrin1::AAgility;
using Kestrin1::CAgility;
using AViewVolume = Kestrin1::CClarity::AViewVolume;

// The views of the tests: the eye looks along -z at a view plane 20 away,
// the rectangle 2 high; depth of interest between 15 and 25.
const AViewVolume kPerspective = {1, 0.0f, 0.0f, -20.0f, 2.0f, -15.0f, -25.0f};
const AViewVolume kOrthographic = {0, 0.0f, 0.0f, -20.0f, 2.0f, -15.0f, -25.0f};
const unsigned short kW = 400, kH = 300;  // half extents 4/3 by 1 on the view plane

const AMat33f kIdentity = CSpatialMath::Identity.m_Matrix.m_Rotation;

AAgility WithOptions(unsigned short options) {
  AAgility a = CAgility::m_DefaultValues;
  a.m_Options = options;
  return a;
}

AVec3f Plus(const AVec3f& a, const AVec3f& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
AVec3f Minus(const AVec3f& a, const AVec3f& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
AVec3f Times(const AVec3f& v, float s) { return {v.x * s, v.y * s, v.z * s}; }

// (p * scale) * rotation + translation, and its inverse.
AVec3f Apply(const AVec3f& p, const AXformf& x) {
  return Plus(Times(p, x.m_Scale) * x.m_Matrix.m_Rotation, x.m_Matrix.m_Translation);
}
AVec3f Unapply(const AVec3f& p, const AXformf& x) {
  return Times(Minus(p, x.m_Matrix.m_Translation) / x.m_Matrix.m_Rotation, 1.0f / x.m_Scale);
}

// A point in the object's coordinates to eye coordinates, and back.
struct Scene {
  AXformf object, parent;
  AMat43f camera;
  AVec3f Eye(const AVec3f& p) const {
    return Minus(Apply(Apply(p, object), parent), camera.m_Translation) / camera.m_Rotation;
  }
  AVec3f Own(const AVec3f& e) const {
    return Unapply(Unapply(Plus(e * camera.m_Rotation, camera.m_Translation), parent), object);
  }
};

Scene RandomScene(Random& random) {
  Scene s;
  s.object = random.Xform(0.5f, 2.0f, 10.0f);
  s.parent = random.Xform(0.5f, 2.0f, 10.0f);
  s.camera.m_Rotation = random.Rotation();
  s.camera.m_Translation = random.Vector(10.0f);
  return s;
}

// Where a point in eye coordinates appears on the view plane, relative to
// the rectangle's centre.
float ProjectX(const AVec3f& e, const AViewVolume& v) { return e.x * v.m_ViewPlaneZ / e.z - v.m_CenterX; }
float ProjectY(const AVec3f& e, const AViewVolume& v) { return e.y * v.m_ViewPlaneZ / e.z - v.m_CenterY; }

bool FiniteXform(const AXformf& x) {
  return std::isfinite(x.m_Scale) && Finite(x.m_Matrix.m_Rotation) &&
         Finite(x.m_Matrix.m_Translation);
}

TEST(AgilitySettings, DefaultsConstructionAndAssignment) {
  const AAgility& d = CAgility::m_DefaultValues;
  EXPECT_EQ(d.m_Options, 3);
  EXPECT_EQ(d.m_ExtentGain, 0.00152587890625f);
  EXPECT_EQ(d.m_ZoomGain, 0.00152587890625f);
  EXPECT_EQ(d.m_RotationGain, 0.0030517578125f);
  EXPECT_EQ(d.m_TranslationLimit, 100.0f);
  EXPECT_EQ(d.m_FlyGain, 100.0f);
  EXPECT_EQ(d.m_RotationLimit, 100.0f);
  EXPECT_EQ(d.m_Upright, 0);
  EXPECT_TRUE(Near(d.m_Up, {0, 1, 0}, 0.0f));
  EXPECT_EQ(d.m_TranslationGain, 0.00152587890625f);

  CAgility byDefault;
  EXPECT_EQ(memcmp(&byDefault.m_Values, &d, sizeof d), 0);
  AAgility other = d;
  other.m_Options = 0x8;
  other.m_Up = {1, 2, 3};
  CAgility fromRecord(other);
  EXPECT_EQ(fromRecord.m_Values.m_Options, 0x8);
  EXPECT_EQ(&(byDefault = fromRecord), &byDefault);
  EXPECT_TRUE(Near(byDefault.m_Values.m_Up, {1, 2, 3}, 0.0f));
  AAgility copy = d;
  EXPECT_EQ(&(copy = other), &copy);
  EXPECT_EQ(copy.m_Options, 0x8);
}

// With no limit reached and an identity camera, the camera moves by
// (tx, ty, tz) g and turns by Rotate(-(|r| gr), r): what is left of a
// sample shows in both.
TEST(AgilityCameraControl, DominantAxisKeepsOnlyTheLargestValue) {
  struct Case {
    short motion[6];
    short kept[6];
  } cases[] = {
      {{5, -5, 0, 0, 0, 0}, {5, 0, 0, 0, 0, 0}},         // ties keep the first
      {{0, 0, 0, 0, 0, -7}, {0, 0, 0, 0, 0, -7}},
      {{1, -2, 3, -4, 5, -6}, {0, 0, 0, 0, 0, -6}},
      {{0, 0, -300, 200, 0, 0}, {0, 0, -300, 0, 0, 0}},
      {{-32768, 0, 0, 0, 0, 3}, {0, 0, 0, 0, 0, 3}},     // -32768 never wins
      {{0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0}},
  };
  const float seconds = 0.01f;
  for (const Case& c : cases) {
    for (unsigned short options : {0x8, 0x0}) {
      CAgility agility(WithOptions(options));
      AMat43f camera = CSpatialMath::Identity.m_Matrix;
      agility.CameraControl(seconds, c.motion, camera, nullptr);
      const short* k = options ? c.kept : c.motion;
      const float g = agility.m_Values.m_TranslationGain * seconds;
      const float gr = agility.m_Values.m_RotationGain * seconds;
      EXPECT_TRUE(Near(camera.m_Translation, {k[0] * g, k[1] * g, k[2] * g}, 1e-6f))
          << "options " << options << " motion " << c.motion[0] << " ...";
      const AVec3f axis = {float(k[3]), float(k[4]), float(k[5])};
      EXPECT_TRUE(Near(camera.m_Rotation, CSpatialMath::Rotate(-(Length(axis) * gr), axis), 1e-6f));
    }
  }
}

TEST(AgilityCameraControl, TranslationLimitCountsTxAndTyOnly) {
  CAgility agility(WithOptions(0));
  agility.m_Values.m_TranslationGain = 1.0f;
  struct Case {
    short tx, ty, tz;
    float seconds;
    AVec3f moved;
  } cases[] = {
      {0, 0, 30000, 1.0f, {0, 0, 30000}},       // tz alone: no limit at all
      {30, -20, 0, 1.0f, {30, -20, 0}},         // measure 50: below the limit of 100
      {300, -100, 0, 1.0f, {75, -25, 0}},       // measure 400: g = 100 / 400
      {300, -100, 800, 1.0f, {75, -25, 200}},   // tz takes the same limited gain
      {40, 0, 0, 2.0f, {80, 0, 0}},             // 40 counts for two seconds
  };
  for (const Case& c : cases) {
    const short motion[6] = {c.tx, c.ty, c.tz, 0, 0, 0};
    AMat43f camera = CSpatialMath::Identity.m_Matrix;
    agility.CameraControl(c.seconds, motion, camera, nullptr);
    EXPECT_TRUE(Near(camera.m_Translation, c.moved, 1e-3f)) << c.tx << "," << c.ty << "," << c.tz;
  }
}

TEST(AgilityCameraControl, AFlyTransformGivesFlyGainOverItsScaleWhateverTheTime) {
  CAgility agility(WithOptions(0));
  AXformf fly = CSpatialMath::Identity;
  fly.m_Scale = 2.0f;
  const short motion[6] = {3, -4, 1000, 0, 0, 0};
  for (float seconds : {0.0f, 0.01f, 5.0f}) {
    AMat43f camera = CSpatialMath::Identity.m_Matrix;
    agility.CameraControl(seconds, motion, camera, &fly);
    EXPECT_TRUE(Near(camera.m_Translation, {150, -200, 50000}, 0.0f)) << seconds;
  }
}

TEST(AgilityCameraControl, TurnsWithTheTurnOnTheLeftAndMovesAlongTheAxesBeforeIt) {
  CAgility agility(WithOptions(0));
  AMat43f camera;
  camera.m_Rotation = CSpatialMath::Rotate(0.5f, {1, 2, 3});
  camera.m_Translation = {1, 2, 3};
  const AMat43f before = camera;
  const short motion[6] = {40, 0, -20, 0, 300, 100};
  const float seconds = 0.5f;
  agility.CameraControl(seconds, motion, camera, nullptr);
  const float g = agility.m_Values.m_TranslationGain * seconds;
  EXPECT_TRUE(Near(camera.m_Translation,
                   Plus(before.m_Translation, AVec3f{40 * g, 0, -20 * g} * before.m_Rotation),
                   1e-6f));
  const AVec3f axis = {0, 300, 100};
  AMat33f expected = before.m_Rotation;
  expected /= CSpatialMath::Rotate(-(Length(axis) * agility.m_Values.m_RotationGain * seconds),
                                   axis);
  EXPECT_TRUE(Near(camera.m_Rotation, expected, 1e-6f));
}

TEST(AgilityCameraControl, RotationLimitAndZeroRotation) {
  CAgility agility(WithOptions(0));
  agility.m_Values.m_RotationLimit = 0.5f;
  // Measure 1000 counts at 1 s gives 3.05 rad: limited to 0.5 rad in all.
  const short turn[6] = {0, 0, 0, 600, -400, 0};
  AMat43f camera = CSpatialMath::Identity.m_Matrix;
  agility.CameraControl(1.0f, turn, camera, nullptr);
  const AVec3f axis = {600, -400, 0};
  EXPECT_TRUE(Near(camera.m_Rotation, CSpatialMath::Rotate(-(Length(axis) * 0.0005f), axis), 1e-6f));

  // No rotation: the angle is 0 and the rotation stays exactly as it was.
  const short still[6] = {10, 0, 0, 0, 0, 0};
  camera.m_Rotation = CSpatialMath::Rotate(0.3f, {0, 1, 1});
  const AMat33f before = camera.m_Rotation;
  agility.CameraControl(0.1f, still, camera, nullptr);
  EXPECT_TRUE(Near(camera.m_Rotation, before, 0.0f));
}

TEST(AgilityCameraControl, UprightBitStandsTheCameraUpAfterTheMove) {
  CAgility agility(WithOptions(0));
  agility.m_Values.m_Upright = 1;
  const short roll[6] = {0, 0, 0, 0, 0, 500};
  AMat43f camera = CSpatialMath::Identity.m_Matrix;
  agility.CameraControl(0.5f, roll, camera, nullptr);
  EXPECT_TRUE(Near(camera.m_Rotation, kIdentity, 1e-6f));  // the roll is undone
  agility.m_Values.m_Upright = 2;                          // only bit 0 counts
  agility.CameraControl(0.5f, roll, camera, nullptr);
  EXPECT_GT(std::fabs(camera.m_Rotation.m_Row[0].y), 0.1f);
}

TEST(AgilitySetFlyFactor, GainFromTheClampedDepthOfThePoint) {
  const float longer = 400.0f / 300.0f * 2.0f;
  const float gain = CAgility::m_DefaultValues.m_ExtentGain;
  AXformf object = CSpatialMath::Identity;
  struct Case {
    float z;
    AViewVolume view;
    float depth;  // after the clamp
  } cases[] = {
      {-20, kPerspective, -20},
      {-100, kPerspective, -25},  // beyond the far value: the far value
      {-3, kPerspective, -15},    // nearer than the near value
      {20, {1, 0, 0, 20, 2, 1, 10}, 10},  // a non-negative near value: [near, far]
      {-5, {1, 0, 0, 20, 2, 1, 10}, 1},
  };
  for (const Case& c : cases) {
    CAgility agility;
    const float g = agility.SetFlyFactor(object, nullptr, nullptr, {0, 0, c.z}, c.view, kW, kH);
    EXPECT_FLOAT_EQ(g, c.depth / c.view.m_ViewPlaneZ * longer * gain) << c.z;
    EXPECT_EQ(agility.m_Values.m_TranslationGain, g);
  }
}

TEST(AgilitySetFlyFactor, ThePointGoesThroughObjectParentAndCamera) {
  AXformf object = CSpatialMath::Identity, parent = CSpatialMath::Identity,
          camera = CSpatialMath::Identity;
  object.m_Scale = 2;
  object.m_Matrix.m_Translation = {0, 0, -5};
  parent.m_Matrix.m_Rotation = CSpatialMath::Rotate(static_cast<float>(kPi), {0, 1, 0});
  parent.m_Matrix.m_Translation = {1, 0, -9};
  camera.m_Scale = 2;
  camera.m_Matrix.m_Translation = {0, 0, 16};
  // (0, 0, -3) * 2 - 5 = -11; the half turn about y makes it 11, then -9 + 11
  // = 2; seen from the camera at 16: -14, divided by its scale 2: -7 ->
  // clamped to -15.
  CAgility agility;
  const float longer = 400.0f / 300.0f * 2.0f;
  const float g = agility.SetFlyFactor(object, &parent, &camera, {0, 0, -3}, kPerspective, kW, kH);
  EXPECT_FLOAT_EQ(g, -15.0f / -20.0f * longer * agility.m_Values.m_ExtentGain);
  camera.m_Matrix.m_Translation = {0, 0, 40};  // -38 / 2 = -19
  EXPECT_FLOAT_EQ(agility.SetFlyFactor(object, &parent, &camera, {0, 0, -3}, kPerspective, kW, kH),
                  -19.0f / -20.0f * longer * agility.m_Values.m_ExtentGain);
  EXPECT_FLOAT_EQ(agility.SetFlyFactor(object, &parent, nullptr, {0, 0, -3}, kPerspective, kW, kH),
                  -15.0f / -20.0f * longer * agility.m_Values.m_ExtentGain);  // z = 2 -> -15
}

TEST(AgilityViewRectangle, InsideStrictlyAndInFront) {
  AViewVolume offCentre = kPerspective;
  offCentre.m_CenterX = 1.0f;
  offCentre.m_CenterY = -0.5f;
  AViewVolume orthographic = kOrthographic;
  struct Case {
    AVec3f point;
    AViewVolume view;
    unsigned short w, h;
    int inside;
  } cases[] = {
      {{0, 0, -20}, kPerspective, kW, kH, 1},
      {{1.3f, 0.99f, -20}, kPerspective, kW, kH, 1},
      {{1.0f, 0.0f, -20}, kPerspective, kH, kH, 0},     // on the edge of a square window
      {{0.5f, 0.0f, -10}, kPerspective, kH, kH, 0},     // the same edge nearer the eye
      {{0.0f, -1.0f, -20}, kPerspective, kW, kH, 0},
      {{1.2f, 0.0f, -20}, kPerspective, kH, kW, 0},     // portrait: half width 1
      {{0.0f, 1.2f, -20}, kPerspective, kH, kW, 1},     // half height 4/3
      {{0, 0, 0}, kPerspective, kW, kH, 0},             // in the eye's plane
      {{0, 0, -0.0000001f}, kPerspective, kW, kH, 0},
      {{0, 0, 5}, kPerspective, kW, kH, 0},             // behind the eye
      {{2.2f, -1.4f, -20}, offCentre, kW, kH, 1},
      {{0.0f, 0.0f, -20}, offCentre, kW, kH, 1},
      {{-0.4f, 0.0f, -20}, offCentre, kW, kH, 0},
      {{0.5f, 0.0f, -10}, orthographic, kW, kH, 1},     // projected as in perspective
      {{1.0f, 0.0f, -10}, orthographic, kW, kH, 0},
  };
  CAgility agility;
  for (const Case& c : cases) {
    EXPECT_EQ(agility.IsInViewRectangle(c.point, c.view, c.w, c.h), c.inside)
        << c.point.x << "," << c.point.y << "," << c.point.z << " in " << c.w << "x" << c.h;
  }
}

TEST(AgilityFenceMotionHandle, InsideUnchangedOutsidePulledToTheEdge) {
  AViewVolume anyPerspective = kPerspective;
  anyPerspective.m_Perspective = 2;  // any non-zero value is a perspective view
  AViewVolume offCentre = kOrthographic;
  offCentre.m_CenterX = 1.0f;
  struct Case {
    AViewVolume view;
    AVec3f position, motion, expected;
  } cases[] = {
      {kPerspective, {0, 0, -20}, {0.5f, -0.5f, 1}, {0.5f, -0.5f, 1}},
      {anyPerspective, {0, 0, -20}, {0.5f, -0.5f, 1}, {0.5f, -0.5f, 1}},
      {kPerspective, {0, 0, -20}, {3, 0, 0}, {4.0f / 3, 0, 0}},
      {kPerspective, {0, 0, -10}, {3, -2, 0}, {2.0f / 3, -0.5f, 0}},  // the edge at depth 10
      {anyPerspective, {0, 0, -10}, {3, -2, 0}, {2.0f / 3, -0.5f, 0}},
      {kPerspective, {0, 0, -1}, {0, 0, 2}, {0, 0, 1 - 0.000001f}},   // z pulled to -1e-6
      {kOrthographic, {0, 0, -10}, {3, -2, 0}, {4.0f / 3, -1, 0}},     // no depth factor
      {kOrthographic, {0, 0, -1}, {0, 0, 2}, {0, 0, 2}},               // and no depth limit
      {offCentre, {0, 0, -10}, {3, 0, 0}, {1 + 4.0f / 3, 0, 0}},
      {offCentre, {2, 0, -10}, {-1.5f, 0, 0}, {-1.5f, 0, 0}},
  };
  CAgility agility;
  for (const Case& c : cases) {
    AVec3f motion = c.motion;
    agility.FenceMotionHandle(c.position, motion, c.view, kW, kH);
    EXPECT_TRUE(Near(motion, c.expected, 1e-5f))
        << "from " << c.position.x << "," << c.position.y << "," << c.position.z << " by "
        << c.motion.x << "," << c.motion.y << "," << c.motion.z;
  }
}

TEST(AgilityMakeUpright, ARolledCameraGetsAHorizontalFirstAxisBack) {
  for (float roll : {0.3f, -1.2f, 2.5f}) {
    AMat33f m = CSpatialMath::Rotate(roll, CSpatialMath::UnitZ);
    CAgility::MakeUpright(m, {0, 1, 0});
    EXPECT_TRUE(Near(m, kIdentity, 1e-6f)) << roll;
  }
  // Looking straight down (the third axis closest to up).
  AMat33f m = CSpatialMath::Rotate(1.4f, CSpatialMath::UnitX);
  m *= CSpatialMath::Rotate(0.2f, CSpatialMath::UnitY);
  CAgility::MakeUpright(m, {0, 1, 0});
  EXPECT_TRUE(Orthonormal(m, 1e-6f));
  EXPECT_NEAR(m.m_Row[0].y, 0.0f, 1e-6f);
}

TEST(AgilityMakeUpright, LeavesAnOrthonormalMatrixWithAHorizontalFirstAxis) {
  Random random(17);
  for (int i = 0; i < 2000; ++i) {
    AMat33f m = random.Rotation();
    AVec3f up = random.Vector(3.0f);
    if (Length(up) < 0.01f) continue;
    CAgility::MakeUpright(m, up);
    ASSERT_TRUE(Orthonormal(m, 2e-6f)) << i;
    ASSERT_NEAR(Dot(m.m_Row[0], up) / Length(up), 0.0f, 2e-6f) << i;
  }
}

TEST(AgilityMakeUpright, AZeroUpLeavesTheRotationAlone) {
  const AMat33f before = CSpatialMath::Rotate(0.7f, {1, -1, 2});
  AMat33f m = before;
  CAgility::MakeUpright(m, {0, 0, 0});
  EXPECT_TRUE(Near(m, before, 0.0f));
}

// The pivot at eye position e, object, parent and camera at random.
struct Placed {
  Scene scene;
  AVec3f pivot;
};

Placed PlaceAt(Random& random, const AVec3f& e) {
  Placed p;
  p.scene = RandomScene(random);
  p.pivot = p.scene.Own(e);
  return p;
}

AVec3f InView(Random& random, const AViewVolume& view) {
  const float z = random.Uniform(-24.0f, -16.0f);
  const float s = z / view.m_ViewPlaneZ;
  return {(view.m_CenterX + random.Uniform(-1.2f, 1.2f)) * s,
          (view.m_CenterY + random.Uniform(-0.9f, 0.9f)) * s, z};
}

TEST(AgilityObjectControl, ZoomTowardThePivotKeepsItsProjection) {
  Random random(23);
  AViewVolume view = kPerspective;
  for (int i = 0; i < 300; ++i) {
    view.m_CenterX = random.Uniform(-1, 1);
    view.m_CenterY = random.Uniform(-1, 1);
    view.m_Perspective = i % 2 ? 1 : 7;
    const AVec3f e = InView(random, view);
    Placed p = PlaceAt(random, e);
    const short tz = static_cast<short>(random.Uniform(-600, 600));
    const short motion[6] = {0, 0, tz, 0, 0, 0};
    CAgility agility(WithOptions(0x1));
    const AMat33f rotation = p.scene.object.m_Matrix.m_Rotation;
    agility.ObjectControl(0.5f, motion, p.scene.object, &p.scene.parent, &p.scene.camera,
                          p.pivot, view, kW, kH);
    const AVec3f moved = p.scene.Eye(p.pivot);
    const float f = static_cast<float>(std::pow(2.0, -tz * 0.5 * agility.m_Values.m_ZoomGain));
    ASSERT_NEAR(moved.z, e.z * f, 2e-4f * std::fabs(e.z)) << i;
    ASSERT_NEAR(ProjectX(moved, view), ProjectX(e, view), 2e-4f) << i;
    ASSERT_NEAR(ProjectY(moved, view), ProjectY(e, view), 2e-4f) << i;
    ASSERT_TRUE(Near(p.scene.object.m_Matrix.m_Rotation, rotation, 0.0f));
    ASSERT_EQ(view.m_Height, 2.0f);
  }
}

TEST(AgilityObjectControl, TwistTurnsAboutTheLineOfSightThroughThePivot) {
  Random random(29);
  for (int i = 0; i < 300; ++i) {
    const AVec3f e = InView(random, kPerspective);
    Placed p = PlaceAt(random, e);
    // Two more points of the line from the eye through the pivot.
    const AVec3f nearer = p.scene.Own(Times(e, 0.5f)), farther = p.scene.Own(Times(e, 2.0f));
    const short rz = static_cast<short>(random.Uniform(200, 700) * (i % 2 ? 1 : -1));
    const short motion[6] = {0, 0, 0, 0, 0, rz};
    AViewVolume view = kPerspective;
    CAgility agility(WithOptions(0x2));
    const AMat33f rotation = p.scene.object.m_Matrix.m_Rotation;
    agility.ObjectControl(0.5f, motion, p.scene.object, &p.scene.parent, &p.scene.camera,
                          p.pivot, view, kW, kH);
    const float tolerance = 2e-4f * Length(e);
    ASSERT_TRUE(Near(p.scene.Eye(p.pivot), e, tolerance)) << i;
    ASSERT_TRUE(Near(p.scene.Eye(nearer), Times(e, 0.5f), tolerance)) << i;
    ASSERT_TRUE(Near(p.scene.Eye(farther), Times(e, 2.0f), 2 * tolerance)) << i;
    ASSERT_FALSE(Near(p.scene.object.m_Matrix.m_Rotation, rotation, 0.05f)) << i;  // it turned
  }
}

TEST(AgilityObjectControl, TheFenceKeepsThePivotInside) {
  Random random(31);
  for (int i = 0; i < 400; ++i) {
    const bool perspective = i % 2 == 0;
    AViewVolume view = perspective ? kPerspective : kOrthographic;
    view.m_CenterX = random.Uniform(-1, 1);
    // Inside the rectangle or far outside it (the pull onto the eye's plane
    // is a case of the fence's own test).
    const AVec3f e = {random.Uniform(-30, 30), random.Uniform(-30, 30), random.Uniform(-40, -12)};
    Placed p = PlaceAt(random, e);
    const short motion[6] = {static_cast<short>(random.Uniform(-30000, 30000)),
                             static_cast<short>(random.Uniform(-30000, 30000)),
                             static_cast<short>(random.Uniform(-600, 600)), 0, 0, 0};
    CAgility agility(WithOptions(static_cast<unsigned short>(0x4 | (i % 4 < 2 ? 0x1 : 0))));
    agility.ObjectControl(0.5f, motion, p.scene.object, &p.scene.parent, &p.scene.camera,
                          p.pivot, view, kW, kH);
    const AVec3f moved = p.scene.Eye(p.pivot);
    const float halfH = view.m_Height / 2, halfW = halfH * 4 / 3;
    const float margin = 1e-3f;
    if (perspective) {
      ASSERT_LT(moved.z, 0.0f) << i;
      ASSERT_LE(std::fabs(ProjectX(moved, view)), halfW * (1 + margin)) << i;
      ASSERT_LE(std::fabs(ProjectY(moved, view)), halfH * (1 + margin)) << i;
    } else {
      ASSERT_LE(std::fabs(moved.x - view.m_CenterX), halfW * (1 + margin)) << i;
      ASSERT_LE(std::fabs(moved.y - view.m_CenterY), halfH * (1 + margin)) << i;
    }
  }
}

// In an orthographic view a pivot keeps its place relative to the centre
// and the half extents of the zoomed rectangle.
TEST(AgilityObjectControl, OrthographicZoomChangesTheHeightAndKeepsThePivotsProjection) {
  Random random(37);
  for (int i = 0; i < 300; ++i) {
    AViewVolume view = kOrthographic;
    view.m_CenterX = random.Uniform(-1, 1);
    view.m_CenterY = random.Uniform(-1, 1);
    const AVec3f e = {view.m_CenterX + random.Uniform(-1.3f, 1.3f),
                      view.m_CenterY + random.Uniform(-1, 1), random.Uniform(-25, -15)};
    Placed p = PlaceAt(random, e);
    const short tz = static_cast<short>(random.Uniform(-600, 600));
    const short motion[6] = {0, 0, tz, 0, 0, 0};
    CAgility agility(WithOptions(static_cast<unsigned short>(i % 4)));
    const AMat33f rotation = p.scene.object.m_Matrix.m_Rotation;
    agility.ObjectControl(0.5f, motion, p.scene.object, &p.scene.parent, &p.scene.camera,
                          p.pivot, view, kW, kH);
    const float f = static_cast<float>(std::pow(2.0, -tz * 0.5 * agility.m_Values.m_ZoomGain));
    ASSERT_NEAR(view.m_Height, 2.0f * f, 1e-5f) << i;
    const AVec3f moved = p.scene.Eye(p.pivot);
    ASSERT_NEAR((moved.x - view.m_CenterX) / view.m_Height, (e.x - view.m_CenterX) / 2.0f, 2e-5f);
    ASSERT_NEAR((moved.y - view.m_CenterY) / view.m_Height, (e.y - view.m_CenterY) / 2.0f, 2e-5f);
    ASSERT_NEAR(moved.z, e.z, 2e-4f) << i;
    ASSERT_TRUE(Near(p.scene.object.m_Matrix.m_Rotation, rotation, 0.0f));
  }
}

// Without a parent and a camera the eye coordinates are the object's
// parent space, and every step can be followed by hand.
TEST(AgilityObjectControl, StepsInEyeCoordinates) {
  const float seconds = 0.5f;
  const float longer = 400.0f / 300.0f * 2.0f;
  const float gain = CAgility::m_DefaultValues.m_ExtentGain;
  const float zoomGain = CAgility::m_DefaultValues.m_ZoomGain;
  const float turnGain = CAgility::m_DefaultValues.m_RotationGain;
  const float f = static_cast<float>(std::pow(2.0, -(-400.0f * seconds * zoomGain)));
  struct Case {
    const char* what;
    unsigned short options;
    AViewVolume view;
    AVec3f pivotAt;
    short motion[6];
    AVec3f moved;  // the pivot's new eye position
    AVec3f turn;   // the axis A turned about, in eye coordinates
    float height;
  } cases[] = {
      {"plain tz: straight along z", 0x0, kPerspective, {2, 1, -20}, {0, 0, -400, 0, 0, 0},
       {2, 1, -20 * f}, {0, 0, 0}, 2},
      {"tz toward the pivot", 0x1, kPerspective, {0.5f, 0.25f, -20}, {0, 0, -400, 0, 0, 0},
       {0.5f * f, 0.25f * f, -20 * f}, {0, 0, 0}, 2},
      {"tz toward a pivot out of view: straight", 0x1, kPerspective, {30, 1, -20},
       {0, 0, -400, 0, 0, 0}, {30, 1, -20 * f}, {0, 0, 0}, 2},
      {"tx in perspective", 0x3, kPerspective, {0, 0, -20}, {100, 0, 0, 0, 0, 0},
       {100 * (-20.0f / -20 * seconds * longer * gain), 0, -20}, {0, 0, 0}, 2},
      {"tx at the clamped depth", 0x3, kPerspective, {0, 0, -40}, {100, 0, 0, 0, 0, 0},
       {100 * (-25.0f / -20 * seconds * longer * gain), 0, -40}, {0, 0, 0}, 2},
      {"tx in an orthographic view", 0x3, kOrthographic, {0, 0, -40}, {100, 0, 0, 0, 0, 0},
       {100 * seconds * longer * gain, 0, -40}, {0, 0, 0}, 2},
      {"a twist outside the view: about z", 0x2, kPerspective, {30, 0, -20},
       {0, 0, 0, 0, 0, 300}, {30, 0, -20}, {0, 0, 300}, 2},
      {"a twist in an orthographic view: about z", 0x2, kOrthographic, {1, 0, -20},
       {0, 0, 0, 0, 0, 300}, {1, 0, -20}, {0, 0, 300}, 2},
      {"a twist in view: about the line of sight", 0x2, kPerspective, {1, 0, -20},
       {0, 0, 0, 0, 0, 300}, {1, 0, -20}, {-15, 0, 300}, 2},
      {"dominant axis: only the zoom", 0xB, kPerspective, {0, 0, -20}, {0, 0, -400, 0, 0, 300},
       {0, 0, -20 * f}, {0, 0, 0}, 2},
      {"dominant axis: only the twist", 0xB, kPerspective, {0, 0, -20}, {0, 0, -300, 0, 0, 400},
       {0, 0, -20}, {0, 0, 400}, 2},
      {"orthographic tz: only the height", 0x3, kOrthographic, {0, 0, -20},
       {0, 0, -400, 0, 0, 0}, {0, 0, -20}, {0, 0, 0}, 2 * f},
  };
  for (const Case& c : cases) {
    CAgility agility(WithOptions(c.options));
    AXformf object = CSpatialMath::Identity;
    object.m_Matrix.m_Translation = c.pivotAt;
    AViewVolume view = c.view;
    agility.ObjectControl(seconds, c.motion, object, nullptr, nullptr, {0, 0, 0}, view, kW, kH);
    EXPECT_TRUE(Near(object.m_Matrix.m_Translation, c.moved, 1e-4f)) << c.what;
    EXPECT_FLOAT_EQ(view.m_Height, c.height) << c.what;
    // The object turns by -(gain seconds |A|) about A.
    const AMat33f turn = CSpatialMath::Rotate(-(turnGain * seconds * Length(c.turn)), c.turn);
    EXPECT_TRUE(Near(object.m_Matrix.m_Rotation, turn, 1e-6f)) << c.what;
  }
}

// A pivot in the eye's plane (or behind it) has no line of sight: with the
// fence counting it as in view, the twist must still leave a finite
// transform (the division by its depth is not made).
TEST(AgilityObjectControl, TwistWithTheFenceAndAPivotInTheEyesPlaneStaysFinite) {
  const AVec3f pivots[] = {{0, 0, 0}, {3, -2, 0}, {1, 1, -0.0000001f}, {1, 1, 4}};
  for (const AVec3f& at : pivots) {
    for (unsigned short options : {0x6, 0x7}) {
      CAgility agility(WithOptions(options));
      AXformf object = CSpatialMath::Identity;
      object.m_Matrix.m_Translation = at;
      AViewVolume view = kPerspective;
      const short motion[6] = {50, -20, 300, 10, 20, 400};
      agility.ObjectControl(0.5f, motion, object, nullptr, nullptr, {0, 0, 0}, view, kW, kH);
      EXPECT_TRUE(FiniteXform(object)) << at.x << "," << at.y << "," << at.z;
      EXPECT_TRUE(Orthonormal(object.m_Matrix.m_Rotation, 1e-5f));
    }
  }
}

// ---- each operation in the forms a client calls it ----

// The CAgility member on a CAgility made from the record, and the flat
// function on the record itself; ObjectControl also as KesObjectControlCs,
// its view six floats and a perspective flag. Each form leaves in the record
// what the operation stores (SetFlyFactor's gain), so a case runs every form
// and checks the same.
struct Forms {
  const char* name;
  void (*object)(AAgility& settings, float seconds, const short* motion, AXformf& object,
                 const AXformf* parent, const AMat43f* camera, const AVec3f& pivot,
                 AViewVolume& view, unsigned short w, unsigned short h);
  void (*camera)(AAgility& settings, float seconds, const short* motion, AMat43f& camera,
                 const AXformf* fly);
  float (*flyFactor)(AAgility& settings, const AXformf& object, const AXformf* parent,
                     const AXformf* camera, const AVec3f& point, const AViewVolume& view,
                     unsigned short w, unsigned short h);
  void (*fence)(AAgility& settings, const AVec3f& position, AVec3f& motion,
                const AViewVolume& view, unsigned short w, unsigned short h);
  int (*inView)(AAgility& settings, const AVec3f& point, const AViewVolume& view,
                unsigned short w, unsigned short h);
};

void MemberObject(AAgility& settings, float seconds, const short* motion, AXformf& object,
                  const AXformf* parent, const AMat43f* camera, const AVec3f& pivot,
                  AViewVolume& view, unsigned short w, unsigned short h) {
  CAgility(settings).ObjectControl(seconds, motion, object, parent, camera, pivot, view, w, h);
}
void MemberCamera(AAgility& settings, float seconds, const short* motion, AMat43f& camera,
                  const AXformf* fly) {
  CAgility(settings).CameraControl(seconds, motion, camera, fly);
}
float MemberFlyFactor(AAgility& settings, const AXformf& object, const AXformf* parent,
                      const AXformf* camera, const AVec3f& point, const AViewVolume& view,
                      unsigned short w, unsigned short h) {
  CAgility agility(settings);
  const float gain = agility.SetFlyFactor(object, parent, camera, point, view, w, h);
  settings = agility.m_Values;
  return gain;
}
void MemberFence(AAgility& settings, const AVec3f& position, AVec3f& motion,
                 const AViewVolume& view, unsigned short w, unsigned short h) {
  CAgility(settings).FenceMotionHandle(position, motion, view, w, h);
}
int MemberInView(AAgility& settings, const AVec3f& point, const AViewVolume& view,
                 unsigned short w, unsigned short h) {
  return CAgility(settings).IsInViewRectangle(point, view, w, h);
}

void FlatObject(AAgility& settings, float seconds, const short* motion, AXformf& object,
                const AXformf* parent, const AMat43f* camera, const AVec3f& pivot,
                AViewVolume& view, unsigned short w, unsigned short h) {
  KesObjectControl(&settings, seconds, motion, &object, parent, camera, &pivot, &view, w, h);
}
void FlatObjectCs(AAgility& settings, float seconds, const short* motion, AXformf& object,
                  const AXformf* parent, const AMat43f* camera, const AVec3f& pivot,
                  AViewVolume& view, unsigned short w, unsigned short h) {
  float floats[6] = {view.m_CenterX, view.m_CenterY, view.m_ViewPlaneZ,
                     view.m_Height,  view.m_NearZ,   view.m_FarZ};
  KesObjectControlCs(&settings, seconds, motion, &object, parent, &pivot, view.m_Perspective,
                     camera, floats, w, h);
  view.m_Height = floats[3];
}
void FlatCamera(AAgility& settings, float seconds, const short* motion, AMat43f& camera,
                const AXformf* fly) {
  KesCameraControl(&settings, seconds, motion, &camera, fly);
}
float FlatFlyFactor(AAgility& settings, const AXformf& object, const AXformf* parent,
                    const AXformf* camera, const AVec3f& point, const AViewVolume& view,
                    unsigned short w, unsigned short h) {
  return KesSetFlyFactor(&settings, &object, parent, camera, &point, &view, w, h);
}
void FlatFence(AAgility& settings, const AVec3f& position, AVec3f& motion,
               const AViewVolume& view, unsigned short w, unsigned short h) {
  KesFenceMotionHandle(&settings, &position, &motion, &view, w, h);
}
int FlatInView(AAgility& settings, const AVec3f& point, const AViewVolume& view,
               unsigned short w, unsigned short h) {
  return KesIsInViewRectangle(&settings, &point, &view, w, h);
}

const Forms kForms[] = {
    {"member", MemberObject, MemberCamera, MemberFlyFactor, MemberFence, MemberInView},
    {"flat", FlatObject, FlatCamera, FlatFlyFactor, FlatFence, FlatInView},
    {"flat, view as floats", FlatObjectCs, FlatCamera, FlatFlyFactor, FlatFence, FlatInView},
};

// ---- a window without width or height, and gains that are not finite ----

// A minimised window has w or h of 0: it counts as a square window, so
// every operation gives what it gives for w = h.
TEST(AgilityZeroExtent, AWindowWithoutWidthOrHeightCountsAsSquare) {
  const unsigned short sizes[][2] = {{0, 300}, {400, 0}, {0, 0}};
  Random random(7);
  const Scene scene = RandomScene(random);
  const AVec3f pivot = scene.Own({0.2f, -0.1f, -18.0f});
  const short motion[6] = {300, -200, 150, 40, -30, 90};
  for (const Forms& form : kForms) {
    SCOPED_TRACE(form.name);
    for (const auto& size : sizes) {
      SCOPED_TRACE(std::to_string(size[0]) + " by " + std::to_string(size[1]));
      for (const AViewVolume& volume : {kPerspective, kOrthographic}) {
        for (unsigned short options : {0x0, 0x3, 0x7}) {
          AAgility settings = WithOptions(options);
          AXformf object = scene.object, square = scene.object;
          AViewVolume view = volume, squareView = volume;
          form.object(settings, 0.5f, motion, object, &scene.parent, &scene.camera, pivot, view,
                      size[0], size[1]);
          form.object(settings, 0.5f, motion, square, &scene.parent, &scene.camera, pivot,
                      squareView, 250, 250);
          EXPECT_TRUE(FiniteXform(object));
          EXPECT_EQ(0, std::memcmp(&object, &square, sizeof object)) << "options " << options;
          EXPECT_EQ(view.m_Height, squareView.m_Height);
        }
      }
      AAgility settings = CAgility::m_DefaultValues;
      AVec3f motionIn = {5.0f, -5.0f, 0.0f}, squareIn = motionIn;
      form.fence(settings, {0.5f, 0.2f, -20.0f}, motionIn, kPerspective, size[0], size[1]);
      form.fence(settings, {0.5f, 0.2f, -20.0f}, squareIn, kPerspective, 9, 9);
      EXPECT_TRUE(Near(motionIn, squareIn, 0.0f));
      EXPECT_EQ(form.inView(settings, {1.1f, 0, -20}, kPerspective, size[0], size[1]), 0);
      EXPECT_EQ(form.inView(settings, {0.9f, 0, -20}, kPerspective, size[0], size[1]), 1);

      AAgility fly = CAgility::m_DefaultValues, squareFly = CAgility::m_DefaultValues;
      const float gain = form.flyFactor(fly, scene.object, &scene.parent, nullptr, pivot,
                                        kPerspective, size[0], size[1]);
      EXPECT_TRUE(std::isfinite(gain));
      EXPECT_EQ(gain, fly.m_TranslationGain) << "the gain is kept";
      EXPECT_EQ(gain, form.flyFactor(squareFly, scene.object, &scene.parent, nullptr, pivot,
                                     kPerspective, 1, 1));
      AMat43f camera = CSpatialMath::Identity.m_Matrix;
      form.camera(fly, 0.5f, motion, camera, nullptr);
      EXPECT_TRUE(Finite(camera.m_Rotation) && Finite(camera.m_Translation));
    }
  }
}

TEST(AgilityZeroExtent, OnlyAFiniteGainMovesTheCamera) {
  const short motion[6] = {300, -200, 150, 0, 0, 90};
  for (const Forms& form : kForms) {
    SCOPED_TRACE(form.name);
    // A fly transform of scale 0: no translation, the turn as usual.
    {
      AAgility settings = CAgility::m_DefaultValues;
      AXformf fly = CSpatialMath::Identity;
      fly.m_Scale = 0.0f;
      AMat43f camera = CSpatialMath::Identity.m_Matrix, turned = camera;
      form.camera(settings, 0.5f, motion, camera, &fly);
      const short turnOnly[6] = {0, 0, 0, 0, 0, 90};
      CAgility(CAgility::m_DefaultValues).CameraControl(0.5f, turnOnly, turned, nullptr);
      EXPECT_TRUE(Near(camera.m_Translation, {0, 0, 0}, 0.0f));
      EXPECT_TRUE(Near(camera.m_Rotation, turned.m_Rotation, 0.0f));
    }
    // A translation gain that is not a number (written into the record by a
    // caller) moves nothing either.
    for (float gain : {NAN, INFINITY}) {
      AAgility settings = CAgility::m_DefaultValues;
      settings.m_TranslationGain = gain;
      AMat43f camera = CSpatialMath::Identity.m_Matrix;
      form.camera(settings, 0.5f, motion, camera, nullptr);
      EXPECT_TRUE(Finite(camera.m_Translation) && Finite(camera.m_Rotation)) << gain;
    }
    // SetFlyFactor keeps the gain it has when the new one has no finite
    // value: a camera of scale 0, a view plane at the eye.
    AXformf camera = CSpatialMath::Identity;
    camera.m_Scale = 0.0f;
    AViewVolume flat = kPerspective;
    flat.m_ViewPlaneZ = 0.0f;
    const AXformf object = CSpatialMath::Identity;
    const struct {
      const AXformf* camera;
      const AViewVolume* view;
    } cases[] = {{&camera, &kPerspective}, {nullptr, &flat}};
    for (const auto& c : cases) {
      AAgility settings = CAgility::m_DefaultValues;
      settings.m_TranslationGain = 0.25f;
      EXPECT_EQ(0.25f,
                form.flyFactor(settings, object, nullptr, c.camera, {0, 0, -20}, *c.view, kW, kH));
      EXPECT_EQ(0.25f, settings.m_TranslationGain);
    }
  }
}

// ---- the twist about the line of sight through a pivot behind the eye ----

// The object's rotation after a pure twist (rz) about a pivot at e (eye
// coordinates; no camera, no parent), with the axis the operation must use.
AMat33f TwistExpected(const AVec3f& axis, float seconds) {
  const float gain = CAgility::m_DefaultValues.m_RotationGain;
  return CSpatialMath::Rotate(-(gain * seconds * Length(axis)), axis);
}

TEST(AgilityObjectControl, TwistAboutAPivotBehindTheEyeFollowsItsLineOfSight) {
  // The fence counts the pivot as in view whatever its depth: the twist
  // turns about the line through the eye and the pivot, unless the pivot
  // lies within 1e-6 of the eye's plane (no line to turn about).
  const short rz = 400;
  const struct {
    AVec3f e;
    bool line;  // the correction applies
  } cases[] = {
      {{1, 2, 4}, true},           {{-3, 0.5f, 0.5f}, true},  {{1, 2, -10}, true},
      {{1, 2, 0.000001f}, true},   {{1, 2, -0.000001f}, true},
      {{1, 2, 0.0000005f}, false}, {{1, 2, 0}, false},        {{1, 2, -0.0000009f}, false},
  };
  for (const Forms& form : kForms) {
    SCOPED_TRACE(form.name);
    for (const auto& c : cases) {
      SCOPED_TRACE(std::to_string(c.e.x) + "," + std::to_string(c.e.y) + "," +
                   std::to_string(c.e.z));
      const AVec3f axis = c.line ? AVec3f{rz * c.e.x / c.e.z, rz * c.e.y / c.e.z, rz}
                                 : AVec3f{0, 0, rz};
      for (unsigned short options : {0x6, 0x7}) {
        AAgility settings = WithOptions(options);
        AXformf object = CSpatialMath::Identity;
        object.m_Matrix.m_Translation = c.e;
        AViewVolume view = kPerspective;
        const short motion[6] = {0, 0, 0, 0, 0, rz};
        form.object(settings, 0.5f, motion, object, nullptr, nullptr, {0, 0, 0}, view, kW, kH);
        EXPECT_TRUE(Near(object.m_Matrix.m_Rotation, TwistExpected(axis, 0.5f), 1e-6f))
            << "options " << options;
      }
    }
  }
}

}  // namespace
