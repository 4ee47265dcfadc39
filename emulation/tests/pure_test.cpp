// The parts of KestrinZel2 that need no system: the device event table, the
// motion in doubles, the timer's pass over its shared words, the tic clock
// and the process-wide values at load. Built natively (sanitizers) and in
// both Windows builds.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "agility_defs.h"
#include "device_events.h"
#include "recording_hosts.h"
#include "tic_clock.h"
#include "timer_arming.h"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using namespace Kestrin1;

namespace {

// ---- device events ----

class DeviceEvents : public ::testing::Test {
 protected:
  DeviceEvents() {
    handle_.device = &device_;
    handle_.host = &host_;
    device_.owner = &handle_;
    SetCurrentDevice(&device_);
  }
  ~DeviceEvents() override { SetCurrentDevice(nullptr); }
  void Send(unsigned int event, long param = 0) { EXPECT_EQ(0, DeviceCallback(event, param)); }

  RecordingDeviceHost host_;
  DeviceHandle handle_ = {};
  DeviceAccess device_ = {};
};

struct EventCase {
  const char* name;
  std::vector<std::pair<unsigned, long>> events;
  std::vector<std::string> calls;
};

TEST_F(DeviceEvents, EachEventChangesItsFlagAndTheHostHearsOnlyChanges) {
  const EventCase cases[] = {
      {"two enables, one call", {{EventDeviceEnabled, 0}, {EventDeviceEnabled, 0}}, {"ready 1"}},
      {"enable then disable", {{EventDeviceEnabled, 0}, {EventDeviceDisabled, 0}},
       {"ready 1", "ready 0"}},
      {"disable at rest calls nothing", {{EventDeviceDisabled, 0}}, {}},
      {"attach twice, detach", {{EventDeviceAttached, 0}, {EventDeviceAttached, 0},
                                {EventDeviceDetached, 0}}, {"open 1", "open 0"}},
      {"buttons: the changed bits exactly", {{EventButtonsChanged, 0x5}, {EventButtonsChanged, 0x6}},
       {"buttons 5 5", "buttons 6 3"}},
      {"buttons equal to the stored word", {{EventButtonsChanged, 0}}, {}},
      {"ball then scroll hat: one start",
       {{EventBallActive, 0}, {EventScrollActive, 0}, {EventBallReleased, 0},
        {EventScrollReleased, 0}},
       {"active 1", "started", "active 0"}},
      {"released at rest calls nothing", {{EventBallReleased, 0}, {EventScrollReleased, 0}}, {}},
      {"wakeup and codes above 9", {{EventWakeup, 7}, {10, 1}, {0xFF, 1}}, {}},
      {"only the low byte counts", {{0x100 | EventDeviceAttached, 0}, {0xAB00 | EventBallActive, 0}},
       {"open 1", "active 1", "started"}},
  };
  for (const EventCase& c : cases) {
    SCOPED_TRACE(c.name);
    device_ = DeviceAccess();
    device_.owner = &handle_;
    host_.calls.clear();
    for (const auto& event : c.events) Send(event.first, event.second);
    EXPECT_THAT(host_.calls, ElementsAreArray(c.calls));
  }
}

TEST_F(DeviceEvents, FlagsFollowTheEvents) {
  Send(EventDeviceAttached);
  Send(EventDeviceEnabled);
  Send(EventScrollActive);
  Send(EventButtonsChanged, static_cast<long>(0x80000001u));
  EXPECT_EQ(1, device_.open);
  EXPECT_EQ(1, device_.ready);
  EXPECT_EQ(0, device_.ballActive);
  EXPECT_EQ(1, device_.scrollActive);
  EXPECT_EQ(0x80000001u, device_.buttons);
  EXPECT_THAT(host_.calls.back(), "buttons 2147483649 2147483649");
}

TEST_F(DeviceEvents, NoCurrentDeviceNothingHappens) {
  SetCurrentDevice(nullptr);
  Send(EventDeviceAttached);
  Send(EventBallActive);
  EXPECT_TRUE(host_.calls.empty());
  EXPECT_EQ(0, device_.open);
}

TEST_F(DeviceEvents, AHostThatDestroysItsHandleInOnActiveHearsNoMotionStart) {
  // What Destroy does first; from within the callback it does not wait for it.
  host_.onActive = [] { ClearCurrentDevice(); };
  Send(EventBallActive);
  EXPECT_THAT(host_.calls, ElementsAre("active 1"));
}

// A handle's destroy retires its device object and never waits for a
// callback under way, which may itself wait for the destroying thread: the
// object goes now when no callback applies an event to it, else with the
// last such callback, on its thread. The objects are the library's own
// (allocated), since the callback frees them.
TEST(DeviceRetire, TheObjectGoesNowOrWithTheLastCallbackUnderWay) {
  struct Case {
    const char* name;
    int retiredBy;  // 0 nobody calls, 1 the callback's own thread, 2 another thread
  } cases[] = {{"no callback under way", 0}, {"from within the callback", 1},
               {"on another thread during the callback", 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingDeviceHost host;
    DeviceHandle* handle = new DeviceHandle{new DeviceAccess(), &host};
    handle->device->owner = handle;
    SetCurrentDevice(handle->device);
    std::atomic<int> inside{0}, retired{0}, duringCall{0};
    bool now = true, elsewhere = true;
    auto retire = [&] {
      now = RetireDevice(handle->device, &elsewhere);
      retired = 1;
    };
    if (c.retiredBy == 0) {
      retire();
      EXPECT_TRUE(now);
      EXPECT_FALSE(elsewhere);
      delete handle->device;
      delete handle;
    } else {
      host.onActive = [&] {
        inside = 1;
        if (c.retiredBy == 1) retire();
        while (!retired) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        duringCall = 1;
      };
      std::thread events([] { EXPECT_EQ(0, DeviceCallback(EventBallActive, 0)); });
      while (!inside) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      if (c.retiredBy == 2) retire();  // returns while the callback is still inside
      events.join();
      EXPECT_EQ(1, duringCall.load());
      EXPECT_FALSE(now);  // the callback freed them
      EXPECT_EQ(c.retiredBy == 2, elsewhere);
    }
    EXPECT_EQ(nullptr, CurrentDevice());
    // No motion start for a retired object, and no event reaches it.
    EXPECT_EQ(0, DeviceCallback(EventDeviceAttached, 0));
    if (c.retiredBy) {
      EXPECT_THAT(host.calls, ElementsAre("active 1"));
    }
  }
}

TEST_F(DeviceEvents, AHandleWithoutHostKeepsItsFlags) {
  handle_.host = nullptr;
  Send(EventDeviceAttached);
  Send(EventBallActive);
  EXPECT_EQ(1, device_.open);
  EXPECT_EQ(1, device_.ballActive);
}

// ---- motion in doubles ----

struct Reading {
  int ballNew;
  ABallMotion ball;
  int scrollNew;
  AScrollMotion scroll;
};

NavMotion Filled(double value) {
  NavMotion m;
  m.tx = m.ty = m.tz = m.rx = m.ry = m.rz = m.scrollX = m.scrollY = value;
  return m;
}

std::vector<double> Values(const NavMotion& m) {
  return {m.tx, m.ty, m.tz, m.rx, m.ry, m.rz, m.scrollX, m.scrollY};
}

TEST(MotionToDoubles, FullScaleCountsGiveTheUnits) {
  Reading r = {1, {122, 8192, -8192, 1, 8192, -8192, 1}, 0, {}};
  double seconds = -1;
  NavMotion motion = Filled(7);
  ASSERT_EQ(1, MotionToDoubles(r.ballNew, r.ball, r.scrollNew, r.scroll, &seconds, &motion));
  EXPECT_THAT(Values(motion), ElementsAre(25.0, -25.0, 0.0030517578125, 78.53981633974483,
                                          -78.53981633974483, 0.009587379924285257, 0.0, 0.0));
  EXPECT_EQ(0.024985600262880325, seconds);
}

TEST(MotionToDoubles, OnlyTheScrollHatHasNewData) {
  Reading r = {0, {}, 1, {40, 8192, -4096}};
  double seconds = -1;
  NavMotion motion = Filled(7);
  ASSERT_EQ(1, MotionToDoubles(r.ballNew, r.ball, r.scrollNew, r.scroll, &seconds, &motion));
  EXPECT_THAT(Values(motion), ElementsAre(0, 0, 0, 0, 0, 0, 25.0, -12.5));
  EXPECT_EQ(static_cast<double>(40.0f * 0.0002048f), seconds);
}

TEST(MotionToDoubles, BothSidesTakeTheBallsTics) {
  Reading r = {1, {10, 0, 0, 8192, 0, 0, 0}, 1, {300, 0, 8192}};
  double seconds = -1;
  NavMotion motion = Filled(7);
  ASSERT_EQ(1, MotionToDoubles(r.ballNew, r.ball, r.scrollNew, r.scroll, &seconds, &motion));
  EXPECT_THAT(Values(motion), ElementsAre(0, 0, 25.0, 0, 0, 0, 0, 25.0));
  EXPECT_EQ(static_cast<double>(10.0f * 0.0002048f), seconds);
}

TEST(MotionToDoubles, NoNewDataLeavesTheCallersValues) {
  Reading r = {0, {5, 1, 1, 1, 1, 1, 1}, 0, {5, 1, 1}};
  double seconds = 3.5;
  NavMotion motion = Filled(7);
  EXPECT_EQ(0, MotionToDoubles(r.ballNew, r.ball, r.scrollNew, r.scroll, &seconds, &motion));
  EXPECT_EQ(3.5, seconds);
  EXPECT_THAT(Values(motion), ::testing::Each(7.0));
}

// ---- the timer's pass ----

struct PassCase {
  const char* name;
  uint16_t start, duration, now;
  int expires;
  uint16_t wait;  // when it does not expire
};

TEST(TimerPass, ExpiresOnceTheOddDurationHasPassed) {
  const PassCase cases[] = {
      {"100 becomes 101: not at 100", 1000, 100, 1100, 0, 1},
      {"100 becomes 101: at 101", 1000, 100, 1101, 1, 0},
      {"just armed", 1000, 100, 1000, 0, 101},
      {"2 becomes 3: not after 2", 7, 2, 9, 0, 1},
      {"2 after 3", 7, 2, 10, 1, 0},
      {"3 after 3", 7, 3, 10, 1, 0},
      {"3 not after 2", 7, 3, 9, 0, 1},
      {"0 becomes 1: after 1", 7, 0, 8, 1, 0},
      {"0 not at once", 7, 0, 7, 0, 1},
      {"a start in the past", 100, 50, 60000, 1, 0},
      {"across the 16-bit wrap, due", 65530, 10, 5, 1, 0},
      {"across the 16-bit wrap, not due", 65530, 20, 5, 0, 10},
  };
  for (const PassCase& c : cases) {
    SCOPED_TRACE(c.name);
    TimerWords words;
    words.arming = ArmedWord(c.start, c.duration);
    uint16_t wait = 0, count = 0;
    ASSERT_EQ(c.expires, TimerPass(&words, c.now, &wait, &count));
    if (c.expires) {
      EXPECT_EQ(1, count);
      EXPECT_EQ(kTimerIdleWaitTics, wait);
      EXPECT_EQ(0, DurationOf(words.arming));  // disarmed
      EXPECT_EQ(0, TimerPass(&words, c.now, &wait, &count));
    } else {
      EXPECT_EQ(c.wait, wait);
      EXPECT_EQ(0, words.expiryCount);
    }
  }
}

TEST(TimerPass, DisarmedWaitsTheLongestAndDoesNothing) {
  TimerWords words;
  uint16_t wait = 0, count = 0;
  EXPECT_EQ(0, TimerPass(&words, 12345, &wait, &count));
  EXPECT_EQ(65535, wait);
  EXPECT_EQ(13421u, WaitMilliseconds(wait));
  EXPECT_EQ(0, words.expiryCount);
}

TEST(TimerPass, WaitsAreAtLeastTwoMilliseconds) {
  EXPECT_EQ(2u, WaitMilliseconds(1));
  EXPECT_EQ(2u, WaitMilliseconds(9));  // 1.84 ms
  EXPECT_EQ(2u, WaitMilliseconds(10));
  EXPECT_EQ(20u, WaitMilliseconds(101));
}

TEST(TimerPass, ARearmingReplacesTheArmingBeforeItExpires) {
  TimerWords words;
  words.arming = ArmedWord(100, 10);
  words.arming = ArmedWord(105, 20);
  uint16_t wait = 0, count = 0;
  EXPECT_EQ(0, TimerPass(&words, 115, &wait, &count));
  EXPECT_EQ(11, wait);
  EXPECT_EQ(1, TimerPass(&words, 126, &wait, &count));
  EXPECT_EQ(1, count);
}

TEST(TimerPass, TheExpiryCountWraps) {
  TimerWords words;
  words.expiryCount = 65535;
  words.arming = ArmedWord(0, 1);
  uint16_t wait = 0, count = 7;
  ASSERT_EQ(1, TimerPass(&words, 1, &wait, &count));
  EXPECT_EQ(0, count);
  EXPECT_EQ(0, words.expiryCount);
}

// ---- tic clock and the process-wide values ----

TEST(TicClock, OneSecondIs4882Or4883TicsWhereverItFalls) {
  const uint32_t oneSecond = 10000000;  // file-time units
  const uint32_t lows[] = {0, 1, 2047, 2048, 123456789, 0xFFFFFFFFu - oneSecond / 2, 0xFFFFFFFFu};
  for (uint32_t low : lows) {
    SCOPED_TRACE(low);
    const uint32_t tics =
        TicsBetween(TicCountFromFileTimeLow(low), TicCountFromFileTimeLow(low + oneSecond));
    EXPECT_TRUE(tics == 4882 || tics == 4883) << tics;
  }
  EXPECT_EQ(2097151u, TicCountFromFileTimeLow(0xFFFFFFFFu));
}

TEST(AgilityDefs, ValuesAtLoadAreTheSinglePrecisionOnesWidened) {
  EXPECT_EQ(9.999999974752427e-07, CAgilityDefs<double>::m_Epsilon);
  EXPECT_EQ(1e6, CAgilityDefs<double>::m_LargeLimit);
  EXPECT_EQ(9.999999717180685e-10, CAgilityDefs<double>::m_SmallLimit);
  EXPECT_EQ(68, CAgilityDefs<double>::m_DefaultA);
  EXPECT_EQ(2048, CAgilityDefs<double>::m_DefaultB);
}

}  // namespace
