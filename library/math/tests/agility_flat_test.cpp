#include <gtest/gtest.h>

#include <cstring>

#include "agility.h"
#include "kestrin_flat_data.h"
#include "math_test_util.h"

namespace {

using namespace mathtest;
using Kestrin1::AAgility;
using Kestrin1::CAgility;
using AViewVolume = Kestrin1::CClarity::AViewVolume;

struct Unpacked {
  int zoom, twist, fence;
  float extent, zoomGain, rotation, translationLimit, fly, rotationLimit;
  int upright;
  AVec3f up;
  float translation;
};

Unpacked Get(AAgility* handle) {
  Unpacked u;
  memset(&u, 0x55, sizeof u);
  EXPECT_EQ(KesGetAAgility(handle, &u.zoom, &u.twist, &u.fence, &u.extent, &u.zoomGain,
                           &u.rotation, &u.translationLimit, &u.fly, &u.rotationLimit, &u.upright,
                           &u.up, &u.translation),
            1);
  return u;
}

TEST(AgilityFlat, ANewHandleHoldsTheDefaults) {
  AAgility* handle = KesAgilityCreate();
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(memcmp(handle, &CAgility::m_DefaultValues, sizeof(AAgility)), 0);
  const Unpacked u = Get(handle);
  EXPECT_EQ(u.zoom, 1);
  EXPECT_EQ(u.twist, 1);
  EXPECT_EQ(u.fence, 0);
  EXPECT_EQ(u.extent, 100.0f / 65536);
  EXPECT_EQ(u.zoomGain, 100.0f / 65536);
  EXPECT_EQ(u.rotation, 200.0f / 65536);
  EXPECT_EQ(u.translationLimit, 100.0f);
  EXPECT_EQ(u.fly, 100.0f);
  EXPECT_EQ(u.rotationLimit, 100.0f);
  EXPECT_EQ(u.upright, 0);
  EXPECT_TRUE(Near(u.up, {0, 1, 0}, 0.0f));
  EXPECT_EQ(u.translation, 100.0f / 65536);
  KesAgilityDestroy(handle);
}

TEST(AgilityFlat, SetTakesBitZeroOfEachFlagAndKeepsTheOtherBits) {
  struct Case {
    unsigned short options, uprightWord;  // stored before
    int zoom, twist, fence, upright;      // passed
    unsigned short optionsAfter, uprightAfter;
    int reported[4];                      // zoom, twist, fence, upright as Get gives them
  } cases[] = {
      {0x0000, 0, 1, 1, 1, 1, 0x0007, 1, {1, 1, 1, 1}},
      {0x0007, 1, 0, 0, 0, 0, 0x0000, 0, {0, 0, 0, 0}},
      {0x0000, 0, 3, 2, 0, 2, 0x0001, 0, {1, 0, 0, 0}},         // 3 -> 1, 2 -> 0
      {0x0008, 0, 0, 1, 0, 0, 0x000A, 0, {0, 1, 0, 0}},         // the dominant axis stays
      {0xFFF0, 0xFFFE, 1, 0, 1, 1, 0xFFF5, 0xFFFF, {1, 0, 1, 1}},
      {0x000F, 0x0003, -1, -2, 5, 0, 0x000D, 0x0002, {1, 0, 1, 0}},
  };
  for (const Case& c : cases) {
    AAgility record = CAgility::m_DefaultValues;
    record.m_Options = c.options;
    record.m_Upright = c.uprightWord;
    const AVec3f up = {0.5f, -2, 3};
    EXPECT_EQ(KesSetAAgility(&record, c.zoom, c.twist, c.fence, 1, 2, 3, 4, 5, 6, c.upright, &up,
                             7),
              1);
    EXPECT_EQ(record.m_Options, c.optionsAfter) << std::hex << c.options;
    EXPECT_EQ(record.m_Upright, c.uprightAfter) << std::hex << c.uprightWord;
    const float floats[] = {record.m_ExtentGain, record.m_ZoomGain, record.m_RotationGain,
                            record.m_TranslationLimit, record.m_FlyGain, record.m_RotationLimit};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(floats[i], i + 1.0f);
    EXPECT_TRUE(Near(record.m_Up, up, 0.0f));
    EXPECT_EQ(record.m_TranslationGain, 7.0f);
    const Unpacked u = Get(&record);
    EXPECT_EQ(u.zoom, c.reported[0]);
    EXPECT_EQ(u.twist, c.reported[1]);
    EXPECT_EQ(u.fence, c.reported[2]);
    EXPECT_EQ(u.upright, c.reported[3]);
  }
}

// One scene seen through a turned camera with a parent, for comparing a
// flat function with its member.
struct FlatScene {
  AXformf object, parent;
  AMat43f camera;
  AVec3f pivot;
  AViewVolume view;
  short motion[6];
};

FlatScene MakeScene(int perspective) {
  FlatScene s;
  Random random(41);
  s.object = random.Xform(0.5f, 2, 3);
  s.parent = random.Xform(0.5f, 2, 3);
  s.camera.m_Rotation = random.Rotation();
  s.camera.m_Translation = {0, 0, 0};
  // The pivot 20 in front of the camera, a little off its axis.
  const AVec3f e = {0.3f, -0.2f, -20};
  const AVec3f world = e * s.camera.m_Rotation;
  const AVec3f inParent = {(world.x - s.parent.m_Matrix.m_Translation.x),
                           (world.y - s.parent.m_Matrix.m_Translation.y),
                           (world.z - s.parent.m_Matrix.m_Translation.z)};
  AVec3f p = inParent / s.parent.m_Matrix.m_Rotation;
  p = {p.x / s.parent.m_Scale, p.y / s.parent.m_Scale, p.z / s.parent.m_Scale};
  p = {p.x - s.object.m_Matrix.m_Translation.x, p.y - s.object.m_Matrix.m_Translation.y,
       p.z - s.object.m_Matrix.m_Translation.z};
  p /= s.object.m_Matrix.m_Rotation;
  s.pivot = {p.x / s.object.m_Scale, p.y / s.object.m_Scale, p.z / s.object.m_Scale};
  s.view = {perspective, 0.1f, -0.2f, -20, 2, -15, -25};
  const short motion[6] = {120, -80, -300, 40, -60, 250};
  memcpy(s.motion, motion, sizeof motion);
  return s;
}

TEST(AgilityFlat, ObjectControlCsRunsAPerspectiveViewAsOneAndWritesBackOnlyTheHeight) {
  AAgility settings = CAgility::m_DefaultValues;
  settings.m_Options = 0x7;
  struct Case {
    int flag;
    int perspective;  // what the member must see
  } cases[] = {{5, 1}, {1, 1}, {-1, 1}, {0, 0}};
  for (const Case& c : cases) {
    FlatScene member = MakeScene(c.perspective), flat = MakeScene(0);
    CAgility(settings).ObjectControl(0.25f, member.motion, member.object, &member.parent,
                                     &member.camera, member.pivot, member.view, 400, 300);
    // The flat view carries no flag; fill the slot after the six floats to
    // see that nothing beyond them is written.
    float view[7] = {flat.view.m_CenterX, flat.view.m_CenterY, flat.view.m_ViewPlaneZ,
                     flat.view.m_Height,  flat.view.m_NearZ,   flat.view.m_FarZ, 123.0f};
    const float before[7] = {view[0], view[1], view[2], view[3], view[4], view[5], view[6]};
    KesObjectControlCs(&settings, 0.25f, flat.motion, &flat.object, &flat.parent, &flat.pivot,
                       c.flag, &flat.camera, view, 400, 300);
    EXPECT_EQ(memcmp(&flat.object, &member.object, sizeof flat.object), 0) << "flag " << c.flag;
    EXPECT_EQ(view[3], member.view.m_Height) << "flag " << c.flag;
    if (c.perspective) EXPECT_EQ(view[3], before[3]);
    else EXPECT_NE(view[3], before[3]);  // the orthographic zoom
    for (int i : {0, 1, 2, 4, 5, 6}) EXPECT_EQ(view[i], before[i]) << "view[" << i << "]";
  }
}

TEST(AgilityFlat, TheOtherFunctionsForwardToTheirMembers) {
  AAgility settings = CAgility::m_DefaultValues;
  settings.m_Options = 0x5;
  settings.m_Upright = 1;
  settings.m_Up = {0.1f, 1, 0.2f};
  CAgility agility(settings);
  FlatScene a = MakeScene(1), b = MakeScene(1);

  agility.ObjectControl(0.3f, a.motion, a.object, &a.parent, &a.camera, a.pivot, a.view, 300, 400);
  KesObjectControl(&settings, 0.3f, b.motion, &b.object, &b.parent, &b.camera, &b.pivot, &b.view,
                   300, 400);
  EXPECT_EQ(memcmp(&a.object, &b.object, sizeof a.object), 0);

  AXformf fly = CSpatialMath::Identity;
  fly.m_Scale = 4;
  const AXformf* flies[] = {nullptr, &fly};
  for (const AXformf* f : flies) {
    AMat43f c1 = a.camera, c2 = a.camera;
    agility.CameraControl(0.3f, a.motion, c1, f);
    KesCameraControl(&settings, 0.3f, a.motion, &c2, f);
    EXPECT_EQ(memcmp(&c1, &c2, sizeof c1), 0);
  }

  const AVec3f position = {0.5f, 0.2f, -18};
  AVec3f m1 = {3, -1, 2}, m2 = m1;
  agility.FenceMotionHandle(position, m1, a.view, 400, 300);
  KesFenceMotionHandle(&settings, &position, &m2, &a.view, 400, 300);
  EXPECT_TRUE(Near(m1, m2, 0.0f));
  EXPECT_FALSE(Near(m2, {3, -1, 2}, 0.1f));

  for (const AVec3f& p : {AVec3f{0.5f, 0.2f, -18}, AVec3f{30, 0, -18}}) {
    EXPECT_EQ(KesIsInViewRectangle(&settings, &p, &a.view, 400, 300),
              agility.IsInViewRectangle(p, a.view, 400, 300));
  }

  AMat33f r1 = CSpatialMath::Rotate(0.8f, {1, 2, 3}), r2 = r1;
  CAgility::MakeUpright(r1, settings.m_Up);
  KesMakeUpright(&r2, &settings.m_Up);
  EXPECT_TRUE(Near(r1, r2, 0.0f));

  // SetFlyFactor's gain lands in the handle.
  AAgility handle = settings;
  const float gain = KesSetFlyFactor(&handle, &a.object, &a.parent, nullptr, &a.pivot, &a.view,
                                     400, 300);
  EXPECT_EQ(gain, agility.SetFlyFactor(a.object, &a.parent, nullptr, a.pivot, a.view, 400, 300));
  EXPECT_EQ(handle.m_TranslationGain, gain);
  EXPECT_NE(gain, settings.m_TranslationGain);
}

TEST(AgilityFlat, FlatData) {
  EXPECT_EQ(KesMonitorRefreshPeriod, 0.0f);
  EXPECT_EQ(KesSecondsPerTic, 0.0002048f);
}

}  // namespace
