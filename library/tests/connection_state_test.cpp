// One CKestrin's read state: the events a DeviceStateNotice produces and the
// motion reads from record 1, against a record written with the service's
// publishing helpers and a clock the test sets. Pure code: runs natively
// (sanitizers) and under Wine.
#include <gtest/gtest.h>
#include <string.h>

#include <utility>
#include <vector>

#include "connection_state.h"
#include "pipe_protocol.h"
#include "section.h"

namespace {

using namespace Kestrin1;

struct alignas(128) AlignedRecord {
  DeviceMotionRecord m_Record;
};

// The service's side: publishes one batch of reports into a double buffer,
// each report given by its axis values.
template <typename Buffer, int Axes>
void Publish(uint16_t* header, Buffer* buffers, const std::vector<std::vector<int16_t>>& batch) {
  uint16_t h = BeginMotionBatch(header);
  Buffer* target = &buffers[MotionBackBuffer(h)];
  int32_t sums[Axes];
  memcpy(sums, buffers[MotionCurrentBuffer(h)].m_Sums, sizeof sums);
  for (const std::vector<int16_t>& report : batch) {
    int moving = 0;
    for (int i = 0; i < Axes; ++i) {
      sums[i] = static_cast<int32_t>(static_cast<uint32_t>(sums[i]) +
                                     static_cast<uint32_t>(report[i]));
      target->m_Values[i] = report[i];
      moving |= report[i] != 0;
    }
    memcpy(target->m_Sums, sums, sizeof sums);
    h = WithMovingBit(h, moving);
  }
  PublishMotionBatch(header, h, static_cast<uint32_t>(batch.size()));
}

uint16_t g_Now = 1000;
uint16_t TestClock() { return g_Now; }

std::vector<std::pair<unsigned, long>> g_Events;
size_t g_StopAfter = 0;  // 0: never
bool Record(const ConnectionState*, unsigned int event, long param) {
  g_Events.emplace_back(event, param);
  return g_Events.size() != g_StopAfter;
}

class Kestrin1ReadState : public ::testing::Test {
 protected:
  void SetUp() override {
    memset(&record_, 0, sizeof record_);
    ResetConnectionState(&state_);
    g_Now = 1000;
    g_Events.clear();
  }
  DeviceMotionRecord* Rec() { return &record_.m_Record; }
  void Ball(const std::vector<std::vector<int16_t>>& batch) {
    Publish<BallBuffer, 6>(BallHeaderOf(Rec()), Rec()->m_Ball, batch);
  }
  void Scroll(const std::vector<std::vector<int16_t>>& batch) {
    Publish<ScrollBuffer, 2>(ScrollHeaderOf(Rec()), Rec()->m_Scroll, batch);
  }
  void Enable() { ApplyDeviceStateNotice(&state_, 0x306, 0, Record); }
  int ReadBall(ABallMotion* out) { return ReadBallSide(&state_, Rec(), TestClock, out); }

  AlignedRecord record_;
  ConnectionState state_;
};

std::vector<int16_t> Axes6(int16_t v) { return {v, static_cast<int16_t>(-v), 1, 2, 3, v}; }

TEST_F(Kestrin1ReadState, FreshStateAndPriming) {
  EXPECT_EQ(0, state_.m_BallState);
  EXPECT_EQ(0, state_.m_ScrollState);
  EXPECT_EQ(122, state_.m_BallPeriod);
  EXPECT_EQ(122, state_.m_ScrollPeriod);
  EXPECT_EQ(0, state_.m_Status);

  // Priming takes the sums and the counter: the first read then averages
  // over every report published since.
  Ball({Axes6(100), Axes6(100)});
  PrimeReadState(&state_, Rec());
  EXPECT_EQ(2, state_.m_BallState);
  EXPECT_EQ(200, state_.m_BallSums[0]);
  Ball({{20, -20, 1, 2, 3, 20}, {20, -20, 1, 2, 3, 20}, {20, -20, 0, 2, 3, 20},
        {20, -20, 0, 2, 3, 20}});
  Enable();
  ABallMotion m;
  ASSERT_EQ(1, ReadBall(&m));
  EXPECT_EQ(122, m.tics);       // no period measured yet
  EXPECT_EQ(20, m.tx);          // (280 - 200) / 4 reports
  EXPECT_EQ(-20, m.ty);
  EXPECT_EQ(0, m.tz);           // (4 - 2) / 4 truncates to 0
}

TEST_F(Kestrin1ReadState, PrimingTheReadStateTakesSumsAndCountersOfBothSides) {
  // A view mapped while the service has been publishing for a while: the
  // next read covers only what comes after the priming.
  for (int i = 0; i < 30; ++i) Ball({Axes6(500)});
  Scroll({{40, -40}, {40, -40}, {40, -40}});
  Enable();
  state_.m_BallState = kStateMovingBit | kStatePeriodValid | 3;  // the notices' bits
  state_.m_ScrollState = kStatePeriodValid | 1;
  PrimeReadState(&state_, Rec());
  EXPECT_EQ(kStateMovingBit | 30, state_.m_BallState);  // moving kept, period not
  EXPECT_EQ(3, state_.m_ScrollState);
  EXPECT_EQ(30 * 500, state_.m_BallSums[0]);
  EXPECT_EQ(-120, state_.m_ScrollSums[1]);

  Ball({Axes6(-10), Axes6(-30)});
  Scroll({{2, 4}, {6, 8}});
  ABallMotion m;
  ASSERT_EQ(1, ReadBall(&m));
  EXPECT_EQ(122, m.tics);
  EXPECT_EQ(-20, m.tx);
  EXPECT_EQ(20, m.ty);
  AScrollMotion sm;
  ASSERT_EQ(1, ReadScrollSide(&state_, Rec(), TestClock, &sm));
  EXPECT_EQ(4, sm.x);
  EXPECT_EQ(6, sm.y);

  // No view: nothing changes.
  const ConnectionState before = state_;
  PrimeReadState(&state_, nullptr);
  EXPECT_EQ(0, memcmp(&before, &state_, sizeof before));
}

TEST_F(Kestrin1ReadState, NoDataCases) {
  ABallMotion m;
  Ball({Axes6(300)});
  // Not enabled yet: nothing, even with motion in the record.
  m.tics = 7;
  m.tx = 9;
  EXPECT_EQ(0, ReadBall(&m));
  EXPECT_EQ(0, m.tics);
  EXPECT_EQ(0, m.tx);
  // No view mapped.
  Enable();
  EXPECT_EQ(0, ReadBallSide(&state_, nullptr, TestClock, &m));
  // Nothing published since the last read, not moving.
  ASSERT_EQ(1, ReadBall(&m));
  Ball({{0, 0, 0, 0, 0, 0}});  // the zero report ends the run: D 1, header not moving
  EXPECT_EQ(0, ReadBall(&m));
  EXPECT_EQ(0, state_.m_BallState & (kStateMovingBit | kStatePeriodValid));
  EXPECT_EQ(2, state_.m_BallState & kStateCounterMask);  // the counter was still taken
  EXPECT_EQ(0, ReadBall(&m));
  // A disabled device ends a run too.
  ApplyDeviceStateNotice(&state_, 0x106, 0, Record);
  Ball({Axes6(5)});
  EXPECT_EQ(0, ReadBall(&m));
}

TEST_F(Kestrin1ReadState, RepeatReadsWhileMovingMeasureTheTime) {
  Enable();
  ABallMotion m;
  Ball({Axes6(50)});
  ASSERT_EQ(1, ReadBall(&m));  // D 1, moving: the run starts
  EXPECT_EQ(122, m.tics);
  EXPECT_EQ(50, m.tx);
  EXPECT_TRUE(state_.m_BallState & kStatePeriodValid);
  g_Now += 50;
  ASSERT_EQ(1, ReadBall(&m));  // D 0 but the ball was moving: the last values again
  EXPECT_EQ(50, m.tics);
  EXPECT_EQ(50, m.tx);
  EXPECT_EQ(-50, m.ty);
  EXPECT_EQ(122 + ((50 - 122) >> 3), state_.m_BallPeriod);  // 113
  g_Now += 121;
  Ball({Axes6(60)});
  ASSERT_EQ(1, ReadBall(&m));
  EXPECT_EQ(121, m.tics);
  EXPECT_EQ(113 + 1, state_.m_BallPeriod);  // (121 - 113) >> 3
  // A measured interval of 0 tics is returned as 1.
  ASSERT_EQ(1, ReadBall(&m));
  EXPECT_EQ(1, m.tics);
  EXPECT_EQ(114 - 15, state_.m_BallPeriod);  // (0 - 114) >> 3 rounds toward minus infinity
}

TEST_F(Kestrin1ReadState, MissedReportsAreAveraged) {
  Enable();
  ABallMotion m;
  std::vector<std::vector<int16_t>> ten;
  for (int i = 1; i <= 10; ++i) ten.push_back(Axes6(static_cast<int16_t>(i * 10)));
  Ball(ten);
  ASSERT_EQ(1, ReadBall(&m));
  EXPECT_EQ(55, m.tx);   // the mean of 10..100, not the last report's 100
  EXPECT_EQ(-55, m.ty);
  EXPECT_EQ(1, m.tz);
  EXPECT_EQ(55, m.rz);

  // Means are truncated toward zero: -7 / 2 gives -3.
  Ball({{-3, 0, 0, 0, 0, 0}, {-4, 0, 0, 0, 0, 0}});
  ASSERT_EQ(1, ReadBall(&m));
  EXPECT_EQ(-3, m.tx);
}

TEST_F(Kestrin1ReadState, CounterWrapAndWrappingSums) {
  Enable();
  ABallMotion m;
  // The running sums start near the top of int32: their difference wraps.
  for (BallBuffer& b : Rec()->m_Ball) b.m_Sums[0] = 0x7FFFFF00;
  *BallHeaderOf(Rec()) = 16379;
  PrimeReadState(&state_, Rec());
  Ball({Axes6(1)});  // count 16380
  ASSERT_EQ(1, ReadBall(&m));
  EXPECT_EQ(16380, state_.m_BallState & kStateCounterMask);
  Ball({Axes6(600), Axes6(600), Axes6(600), Axes6(0), Axes6(0), Axes6(600)});  // 16380 -> 2
  EXPECT_EQ(2, MotionReportCount(*BallHeaderOf(Rec())));
  ASSERT_EQ(1, ReadBall(&m));
  EXPECT_EQ(400, m.tx);  // 2400 / 6 reports, across the int32 wrap of the sums
  EXPECT_EQ(-400, m.ty);
  EXPECT_EQ(2, state_.m_BallState & kStateCounterMask);
}

TEST_F(Kestrin1ReadState, NoticeClearsThePeriodBetweenReads) {
  // A period-valid run gets the measured time; after a notice that carries
  // StateBallChanged the next read starts a run again with the period.
  Enable();
  ABallMotion m;
  Ball({Axes6(50)});
  ASSERT_EQ(1, ReadBall(&m));
  ApplyDeviceStateNotice(&state_, 0xF06, 0, Record);  // ball active + changed
  EXPECT_FALSE(state_.m_BallState & kStatePeriodValid);
  g_Now += 30;
  Ball({Axes6(50)});
  ASSERT_EQ(1, ReadBall(&m));
  EXPECT_EQ(122, m.tics);
  g_Now += 30;
  ASSERT_EQ(1, ReadBall(&m));
  EXPECT_EQ(30, m.tics);
}

TEST_F(Kestrin1ReadState, ScrollHatAndMergedMotion) {
  Enable();
  ABallMotion motion;
  AScrollMotion scroll;
  // Ball idle, scroll hat moving: the scroll hat's tics and axes in tics, tx
  // and ty, zeros elsewhere; m_Scroll untouched.
  Scroll({{7, -9}});
  scroll.tics = 77;
  motion.tz = motion.rx = 5;
  ASSERT_EQ(1, ReadMergedMotion(&state_, Rec(), TestClock, &motion, &scroll));
  EXPECT_EQ(122, motion.tics);
  EXPECT_EQ(7, motion.tx);
  EXPECT_EQ(-9, motion.ty);
  EXPECT_EQ(0, motion.tz);
  EXPECT_EQ(0, motion.rx);
  EXPECT_EQ(0, motion.rz);
  EXPECT_EQ(77, scroll.tics);

  // Both moving: the ball's tics, the scroll hat added to tx and ty (16-bit
  // wrapping adds).
  g_Now += 40;
  Ball({{32767, 10, 3, 4, 5, 6}});
  Scroll({{5, -20}});
  ASSERT_EQ(1, ReadMergedMotion(&state_, Rec(), TestClock, &motion, &scroll));
  EXPECT_EQ(122, motion.tics);
  EXPECT_EQ(-32764, motion.tx);  // 32767 + 5 wraps
  EXPECT_EQ(-10, motion.ty);
  EXPECT_EQ(3, motion.tz);
  EXPECT_EQ(6, motion.rz);
  EXPECT_EQ(40, scroll.tics);  // the scroll hat's own run went on
  EXPECT_EQ(5, scroll.x);

  // Neither: 0 and a zeroed record.
  Ball({{0, 0, 0, 0, 0, 0}});
  Scroll({{0, 0}});
  EXPECT_EQ(0, ReadMergedMotion(&state_, Rec(), TestClock, &motion, &scroll));
  EXPECT_EQ(0, motion.tics);
  EXPECT_EQ(0, motion.tx);
  EXPECT_EQ(0, motion.ry);

  // The scroll read alone.
  Scroll({{3, 4}, {5, 6}});
  ASSERT_EQ(1, ReadScrollSide(&state_, Rec(), TestClock, &scroll));
  EXPECT_EQ(4, scroll.x);
  EXPECT_EQ(5, scroll.y);
}

// The events of one notice, from a given stored status and buttons word.
TEST(Kestrin1Notice, EventsInOrder) {
  struct Case {
    const char* m_What;
    uint16_t m_Status;
    uint32_t m_Buttons;
    uint16_t m_Word;
    uint32_t m_NewButtons;
    std::vector<std::pair<unsigned, long>> m_Events;
    uint16_t m_StoredStatus;
  } cases[] = {
      {"attach, enable and ball at once, then buttons", 0, 0, 0x0706, 4,
       {{EventDeviceAttached, 0}, {EventDeviceEnabled, 0}, {EventBallActive, 0},
        {EventButtonsChanged, 4}},
       0x0706},
      {"all three go away", 0x0706, 0, 0x0006, 0,
       {{EventDeviceDetached, 0}, {EventDeviceDisabled, 0}, {EventBallReleased, 0}}, 0x0006},
      {"scroll hat on and off", 0x0306, 0, 0x1306, 0, {{EventScrollActive, 0}}, 0x1306},
      {"scroll hat released", 0x1306, 0, 0x0306, 0, {{EventScrollReleased, 0}}, 0x0306},
      {"buttons only", 0x0306, 1, 0x0306, 3, {{EventButtonsChanged, 3}}, 0x0306},
      {"changed bits alone make no event and are not stored", 0x0706, 0, 0x2F06, 0,
       {}, 0x0706},
      {"the same word and buttons again", 0x0306, 2, 0x0306, 2, {}, 0x0306},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.m_What);
    ConnectionState state;
    ResetConnectionState(&state);
    state.m_Status = c.m_Status;
    state.m_StatusValue = c.m_Buttons;
    g_Events.clear();
    ApplyDeviceStateNotice(&state, c.m_Word, c.m_NewButtons, Record);
    EXPECT_EQ(c.m_Events, g_Events);
    EXPECT_EQ(c.m_StoredStatus, state.m_Status);
    EXPECT_EQ(c.m_NewButtons, state.m_StatusValue);
  }
}

TEST(Kestrin1Notice, NothingMoreOnceTheStateIsGone) {
  // The sink says the object went away in its callback after the second
  // event: no further event, no further change of the state.
  ConnectionState state;
  ResetConnectionState(&state);
  state.m_BallState = kStatePeriodValid;
  g_Events.clear();
  g_StopAfter = 2;
  ApplyDeviceStateNotice(&state, 0x0706, 5, Record);
  g_StopAfter = 0;
  EXPECT_EQ((std::vector<std::pair<unsigned, long>>{{EventDeviceAttached, 0},
                                                     {EventDeviceEnabled, 0}}),
            g_Events);
  EXPECT_EQ(0, state.m_Status);
  EXPECT_EQ(0u, state.m_StatusValue);
  EXPECT_EQ(kStatePeriodValid, state.m_BallState);
}

TEST(Kestrin1Notice, StateBits) {
  struct Case {
    const char* m_What;
    uint16_t m_Status;
    uint16_t m_Word;
    uint16_t m_BallBefore, m_BallAfter;
    uint16_t m_ScrollBefore, m_ScrollAfter;
  } cases[] = {
      {"0x800 alone clears the ball's period bit", 0x0706, 0x0F06, 0xC005, 0x4005, 0x8001,
       0x8001},
      {"0x2000 alone clears the scroll hat's", 0x1306, 0x3306, 0x8005, 0x8005, 0xC001, 0x4001},
      {"enabling clears both", 0x0106, 0x0306, 0x8005, 0x0005, 0x8001, 0x0001},
      {"disabling clears neither", 0x0306, 0x0106, 0x8005, 0x8005, 0x8001, 0x8001},
      {"ball active sets the moving bit", 0x0306, 0x0706, 0x0005, 0x4005, 0x0001, 0x0001},
      {"ball released clears it", 0x0706, 0x0306, 0xC005, 0x8005, 0x0001, 0x0001},
      {"scroll active and released", 0x0306, 0x1306, 0x0005, 0x0005, 0x8001, 0xC001},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.m_What);
    ConnectionState state;
    ResetConnectionState(&state);
    state.m_Status = c.m_Status;
    state.m_BallState = c.m_BallBefore;
    state.m_ScrollState = c.m_ScrollBefore;
    g_Events.clear();
    ApplyDeviceStateNotice(&state, c.m_Word, 0, Record);
    EXPECT_EQ(c.m_BallAfter, state.m_BallState);
    EXPECT_EQ(c.m_ScrollAfter, state.m_ScrollState);
  }
}

}  // namespace
