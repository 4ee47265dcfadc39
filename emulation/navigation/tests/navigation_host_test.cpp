// An outside host of KestrinZel2.dll: it loads the library, finds the object
// through the export by ordinal 1, and drives the navigation slots of
// IAgilityPrivate<double> with a recording INavigationHost. What comes back
// through the DLL must be what the navigation routines make of the same
// records, called directly.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "KestrinZel2.h"
#include "nav_test_util.h"
#include "navigation.h"
#include "recording_navigation_host.h"

namespace {

using namespace navtest;
using Host = RecordingNavigationHost;

class NavHost : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    module_ = LoadLibraryW(L"KestrinZel2.dll");
    ASSERT_NE(module_, nullptr) << GetLastError();
    auto get = reinterpret_cast<KestrinZelGetInterface>(
        reinterpret_cast<void*>(GetProcAddress(module_, MAKEINTRESOURCEA(1))));
    ASSERT_NE(get, nullptr);
    zel_ = get();
  }
  static void TearDownTestSuite() {
    // The library keeps its object to the end of the process; nothing to free.
    zel_ = nullptr;
  }
  static IAgilityPrivate<double>* Agility() { return zel_; }

  static HMODULE module_;
  static IKestrinZel2<double>* zel_;
};
HMODULE NavHost::module_ = nullptr;
IKestrinZel2<double>* NavHost::zel_ = nullptr;

NavView View(uint32_t kind) {
  NavView v;
  std::memset(&v, 0x3C, sizeof v);
  v.kind = kind;
  v.volume = Volume(1, 0.75, 0.5, 0.1, -0.05);
  v.centreX = 2;
  v.camera = Frame(Rotation(0.6, V(1, -2, 1)), V(1, 2, 3));
  return v;
}

// Steps through the DLL and directly with the same records; returns both hosts.
struct Pair {
  Host viaDll;
  Host direct;
  NavMotion motionViaDll;
  NavMotion motionDirect;
};

Pair StepBoth(IAgilityPrivate<double>* agility, const NavSettings& settings, const NavView& view,
              const NavMotion& motion) {
  Pair p{Host(settings), Host(settings), motion, motion};
  NavigationHandle* handle = agility->Create(&p.viaDll);
  EXPECT_NE(handle, nullptr);
  agility->Step(handle, 0.04, &p.motionViaDll, &view);
  agility->Destroy(handle);
  KestrinNav::Step(&p.direct, 0.04, &p.motionDirect, &view);
  return p;
}

TEST_F(NavHost, DefaultsAreOneRecordWithTheDefaultValues) {
  const NavSettings* first = Agility()->GetDefaults();
  EXPECT_EQ(Agility()->GetDefaults(), first);
  EXPECT_TRUE(SameBytes(*first, KestrinNav::DefaultSettings));
  EXPECT_EQ(first->kind, 1u);
  EXPECT_EQ(first->upAxis, 1);
}

// Step reaches the host in order (QuerySettings, ApplyView, PivotChanged),
// on the calling thread, with the view and the host's settings record left
// as they were, and hands over what the navigation step makes directly.
TEST_F(NavHost, StepCallsTheHostInOrderWithTheStepsRecords) {
  struct Case {
    const char* name;
    uint32_t viewKind, settingsKind, noRotation;
    std::vector<Host::Call> calls;
  } cases[] = {
      {"2D", 1, 1, 0, {Host::kApplyView}},
      {"scene, view-axis pivot", 2, 1, 0,
       {Host::kQuerySettings, Host::kApplyView, Host::kPivotChanged}},
      {"scene, object pivot", 2, 0, 0,
       {Host::kQuerySettings, Host::kApplyView, Host::kPivotChanged}},
      {"fly", 2, 2, 0, {Host::kQuerySettings, Host::kApplyView, Host::kPivotChanged}},
      {"no rotation", 2, 2, 1, {Host::kQuerySettings, Host::kApplyView, Host::kPivotChanged}},
      {"no such view kind", 7, 1, 0, {}},
  };
  for (const Case& c : cases) {
    NavSettings settings = Plain(c.settingsKind, -2.0, V(0.1, 0.2, 0.3));
    settings.noRotation = c.noRotation;
    settings.zoomAlongRay = settings.twistAboutRay = settings.fence = 1;
    const NavView view = View(c.viewKind);
    const Pair p =
        StepBoth(Agility(), settings, view, Motion(0.1, -0.2, 0.3, 0.4, -0.5, 0.6, 0.05));

    EXPECT_EQ(p.viaDll.calls, c.calls) << c.name;
    for (const std::thread::id& t : p.viaDll.threads) EXPECT_EQ(t, std::this_thread::get_id()) << c.name;
    EXPECT_TRUE(SameBytes(p.viaDll.settings, settings)) << c.name;
    EXPECT_TRUE(SameBytes(p.motionViaDll, p.motionDirect)) << c.name;
    ASSERT_EQ(p.viaDll.views.size(), p.direct.views.size()) << c.name;
    for (size_t i = 0; i < p.viaDll.views.size(); ++i)
      EXPECT_TRUE(SameBytes(p.viaDll.views[i], p.direct.views[i])) << c.name;
    ASSERT_EQ(p.viaDll.pivots.size(), p.direct.pivots.size()) << c.name;
    for (size_t i = 0; i < p.viaDll.pivots.size(); ++i)
      EXPECT_EQ(std::memcmp(p.viaDll.pivots[i].bytes, p.direct.pivots[i].bytes, 32), 0) << c.name;
  }
}

// The host's callbacks run on whichever thread calls Step, not on the thread
// that created the handle.
TEST_F(NavHost, StepCallsBackOnTheCallingThread) {
  Host host(Plain(1, -2.0));
  NavigationHandle* handle = Agility()->Create(&host);
  ASSERT_NE(handle, nullptr);
  const NavView view = View(2);
  std::thread::id stepper;
  std::thread t([&] {
    stepper = std::this_thread::get_id();
    NavMotion motion = Motion(0.1, 0, 0, 0, 0.2, 0, 0.05);
    Agility()->Step(handle, 0.04, &motion, &view);
  });
  t.join();
  Agility()->Destroy(handle);
  ASSERT_EQ(host.calls.size(), 3u);
  for (const std::thread::id& id : host.threads) EXPECT_EQ(id, stepper);
}

// What every navigation slot makes of one set of records: Step (slot 4) of
// a scene and of a fly view, SnapOrientation (3), ObjectControl (11) and
// FlyCamera (12).
struct SlotResults {
  NavView scene, fly, snapped;
  NavVolume volume;
  NavSettings objectSettings, flySettings;
  NavXform object;
  NavMat43 camera;
  NavDelta flyDelta;
};

SlotResults RunEverySlot(IAgilityPrivate<double>* agility) {
  SlotResults r;
  std::memset(&r, 0, sizeof r);
  const NavView view = View(2);
  const NavMotion motion = Motion(0.3, -0.2, 0.5, 0.4, -0.5, 0.6, 0.05);
  NavSettings settings = Plain(1, -2.0);
  settings.fence = settings.upright = 1;
  r.scene = StepBoth(agility, settings, view, motion).viaDll.views.at(0);
  settings.kind = 2;
  r.fly = StepBoth(agility, settings, view, motion).viaDll.views.at(0);

  r.snapped = view;
  const NavVec3 point = V(1, -1, 2);
  agility->SnapOrientation(&point, &r.snapped.volume);

  const NavDelta delta = Delta(0.1, -0.05, 1.5, 0.2, 0.3, 0.4);
  r.volume = Volume(1, 0.75, 0.0, 0.1, 0.1);
  r.objectSettings = Plain(1, -2.0);
  r.objectSettings.upright = r.objectSettings.fence = 1;
  r.object = Xform(1.5, Rotation(0.2, V(1, 0, 0)), V(0, 0, -4));
  const NavMat43 camera = Frame(Rotation(0.6, V(1, -2, 1)), V(1, 2, 3));
  agility->ObjectControl(&r.volume, &r.objectSettings, &r.object, nullptr, &camera, &delta);

  NavVolume flyVolume = Volume(1, 0.75, 0.5, 0.1, 0.1);
  r.flySettings = Plain(2, -2.0);
  r.flySettings.twistAboutRay = r.flySettings.zoomAlongRay = r.flySettings.upright = 1;
  r.camera = camera;
  r.flyDelta = delta;
  agility->FlyCamera(&flyVolume, &r.flySettings, &r.camera, &r.flyDelta);
  return r;
}

// The values the host may set are only stored: what every navigation slot
// makes of the same records stays the same, bit for bit.
TEST_F(NavHost, EpsilonAndLimitsDoNotChangeNavigation) {
  const SlotResults before = RunEverySlot(Agility());
  const double epsilon = Agility()->GetEpsilon(), large = Agility()->GetLargeLimit(),
               small = Agility()->GetSmallLimit();
  Agility()->SetEpsilon(0.5);
  Agility()->SetLargeLimit(1.0);
  Agility()->SetSmallLimit(0.25);
  const SlotResults after = RunEverySlot(Agility());
  Agility()->SetEpsilon(epsilon);
  Agility()->SetLargeLimit(large);
  Agility()->SetSmallLimit(small);
  EXPECT_TRUE(SameBytes(after.scene, before.scene));
  EXPECT_TRUE(SameBytes(after.fly, before.fly));
  EXPECT_TRUE(SameBytes(after.snapped, before.snapped));
  EXPECT_TRUE(SameBytes(after.volume, before.volume));
  EXPECT_TRUE(SameBytes(after.objectSettings, before.objectSettings));
  EXPECT_TRUE(SameBytes(after.object, before.object));
  EXPECT_TRUE(SameBytes(after.flySettings, before.flySettings));
  EXPECT_TRUE(SameBytes(after.camera, before.camera));
  EXPECT_TRUE(SameBytes(after.flyDelta, before.flyDelta));
}

// Slot 11 works on a copy of the host's delta; slot 12 passes the delta
// through, so the fly step's scaled rotation comes back in it.
TEST_F(NavHost, ObjectControlCopiesTheDeltaAndFlyCameraWritesIt) {
  const NavDelta delta = Delta(0.1, -0.05, 1.5, 0.2, 0.3, 0.4);
  {
    NavVolume volume = Volume(1, 0.75, 0.0, 0.1, 0.1);  // orthographic: the zoom writes it
    NavSettings settings = Plain(1, -2.0);
    settings.upright = settings.fence = 1;
    const NavXform parent = Xform(2, Rotation(0.3, V(0, 1, 0)), V(1, 1, 1));
    const NavMat43 camera = Frame(Rotation(0.6, V(1, -2, 1)), V(1, 2, 3));
    NavXform object = Xform(1.5, Rotation(0.2, V(1, 0, 0)), V(0, 0, -4));
    NavVolume volume2 = volume;
    NavSettings settings2 = settings;
    NavXform object2 = object;
    NavDelta hostDelta = delta;
    Agility()->ObjectControl(&volume, &settings, &object, &parent, &camera, &hostDelta);
    KestrinNav::ObjectControl(&volume2, &settings2, &object2, &parent, &camera, &delta);
    EXPECT_TRUE(SameBytes(hostDelta, delta));
    EXPECT_TRUE(SameBytes(volume, volume2));
    EXPECT_TRUE(SameBytes(settings, settings2));
    EXPECT_TRUE(SameBytes(object, object2));
    EXPECT_NE(volume.halfWidth, 1.0);
  }
  {
    NavVolume volume = Volume(1, 0.75, 0.5, 0.1, 0.1);
    NavSettings settings = Plain(2, -2.0);
    settings.twistAboutRay = settings.zoomAlongRay = 1;
    NavMat43 camera = Frame(Rotation(0.6, V(1, -2, 1)), V(1, 2, 3));
    NavSettings settings2 = settings;
    NavMat43 camera2 = camera;
    NavDelta hostDelta = delta, direct = delta;
    Agility()->FlyCamera(&volume, &settings, &camera, &hostDelta);
    KestrinNav::FlyCamera(&volume, &settings2, &camera2, &direct);
    EXPECT_TRUE(SameBytes(hostDelta, direct));
    EXPECT_FALSE(SameBytes(hostDelta, delta));
    EXPECT_TRUE(SameBytes(settings, settings2));
    EXPECT_TRUE(SameBytes(camera, camera2));
  }
}

TEST_F(NavHost, SnapTurnsTheRecordAndReturnsThePoint) {
  NavView record = View(2);
  NavView direct = record;
  const NavVec3 point = V(1, -1, 2);
  // The snapped frame sits where the view's camera sits, counted from its volume.
  EXPECT_EQ(Agility()->SnapOrientation(&point, &record.volume), &point);
  KestrinNav::SnapOrientation(&point, &direct.volume);
  EXPECT_TRUE(SameBytes(record, direct));
  EXPECT_FALSE(SameBytes(record.camera, View(2).camera));
}

}  // namespace
