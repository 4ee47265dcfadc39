// The dialog's connection and its events, in process: the activity word and
// the button value as the library's events change them, the two virtual
// calls they make, the events ignored, and the dialog's reaction to a button
// going down or up. The session agent is installed, so the connection the
// objects make finds the agent it starts (no device events come from it
// here: the events are fed through the callback, as the library calls it).
#include <gtest/gtest.h>

#include <vector>

#include "KestrinPropApp.h"
#include "KestrinPropDlg.h"
#include "agent_install.h"
#include "kestrin_base.h"

namespace {

using Kestrin1::CSpatialMath;

struct Call {
  int slot;
  long oldValue, newValue;
  bool operator==(const Call& o) const {
    return slot == o.slot && oldValue == o.oldValue && newValue == o.newValue;
  }
};

class Recorder : public CKestrinBase {
 public:
  void OnActivityChanged(WORD oldWord, WORD newWord) override {
    calls.push_back({1, oldWord, newWord});
  }
  void OnButtonsChanged(long oldButtons, long newButtons) override {
    calls.push_back({2, oldButtons, newButtons});
  }
  std::vector<Call> calls;
};

class KestrinBaseTest : public ::testing::Test {
 protected:
  // The agent runs before any connection is made, so no connection starts
  // one of its own that could still be starting when the suite stops it.
  static void SetUpTestSuite() {
    ASSERT_TRUE(InstallAgent(KESTRIN_ELF_EXE));
    ASSERT_NE(StartAgent(), 0u);
  }
  static void TearDownTestSuite() { EXPECT_TRUE(StopAgent()); }
  // The process-wide state starts over for every test.
  void SetUp() override {
    ResetState();
  }
  static void ResetState() {
    struct Reset : CKestrinBase {
      static void Now() {
        s_Activity = 3;
        s_Buttons = 0;
      }
    };
    Reset::Now();
  }
};

TEST_F(KestrinBaseTest, ActivityFollowsTheBallAndTheScrollHat) {
  Recorder recorder;
  ASSERT_TRUE(CKestrinBase::SharedConnection());
  EXPECT_EQ(CKestrinBase::Current(), &recorder);
  EXPECT_EQ(CKestrinBase::Activity(), 3);
  struct Step {
    unsigned event;
    WORD after;
    bool called;
  } steps[] = {
      {1, 0x17, true},   // ball active
      {1, 0x17, false},  // again: no change, no call
      {3, 0x3F, true},   // scroll hat active as well
      {2, 0x2B, true},   // ball released: its bits only
      {4, 0x03, true},   // scroll hat released
      {4, 0x03, false},
  };
  for (const Step& s : steps) {
    const WORD before = CKestrinBase::Activity();
    recorder.calls.clear();
    EXPECT_EQ(KestrinBaseCallback(s.event, 0), 0);
    EXPECT_EQ(CKestrinBase::Activity(), s.after) << s.event;
    if (s.called)
      EXPECT_EQ(recorder.calls, (std::vector<Call>{{1, before, s.after}})) << s.event;
    else
      EXPECT_TRUE(recorder.calls.empty()) << s.event;
  }
}

TEST_F(KestrinBaseTest, EveryButtonEventIsPassedOnWithTheOldValue) {
  Recorder recorder;
  KestrinBaseCallback(5, 0x11);
  KestrinBaseCallback(5, 0x01);
  KestrinBaseCallback(5, 0x01);  // not compared: the library sends only changes
  KestrinBaseCallback(0x0105, 0x300);  // only the event's low byte counts
  EXPECT_EQ(recorder.calls, (std::vector<Call>{
                                {2, 0, 0x11}, {2, 0x11, 0x01}, {2, 0x01, 0x01}, {2, 0x01, 0x300}}));
  EXPECT_EQ(CKestrinBase::Buttons(), 0x300);
}

TEST_F(KestrinBaseTest, OtherEventsAreIgnored) {
  Recorder recorder;
  for (unsigned event : {0u, 6u, 7u, 8u, 9u, 0x100u, 0xFFu})
    EXPECT_EQ(KestrinBaseCallback(event, 0x7F), 0) << event;
  EXPECT_TRUE(recorder.calls.empty());
  EXPECT_EQ(CKestrinBase::Activity(), 3);
  EXPECT_EQ(CKestrinBase::Buttons(), 0);
}

TEST_F(KestrinBaseTest, TheLastObjectBuiltHearsTheEventsAndNoneAfterTheConnectionWent) {
  {
    Recorder first;
    Recorder second;
    KestrinBaseCallback(1, 0);
    EXPECT_TRUE(first.calls.empty());
    EXPECT_EQ(second.calls.size(), 1u);
  }  // the connection goes with the first object destroyed
  EXPECT_EQ(CKestrinBase::SharedConnection(), nullptr);
  EXPECT_EQ(CKestrinBase::Current(), nullptr);
  EXPECT_EQ(KestrinBaseCallback(2, 0), 0);
  EXPECT_EQ(CKestrinBase::Activity(), 0x17) << "nothing reached the state after the end";
}

TEST_F(KestrinBaseTest, NoNewMotionReadsZeros) {
  Recorder recorder;
  float seconds = 7.0f;
  short ball[6] = {1, 2, 3, 4, 5, 6}, scroll[2] = {7, 8};
  EXPECT_EQ(CKestrinBase::ReadMotion(seconds, ball, scroll), 0);
  for (short v : ball) EXPECT_EQ(v, 0);
  EXPECT_EQ(scroll[0], 0);
  EXPECT_EQ(scroll[1], 0);
  EXPECT_EQ(seconds, 7.0f) << "seconds stay as they were";
}

// ---- the dialog's side ----

class DialogEventsTest : public KestrinBaseTest {
 protected:
  void SetUp() override {
    KestrinBaseTest::SetUp();
    dialog_ = new CKestrinPropDlg();
    theApp.m_pDlg = dialog_;
  }
  void TearDown() override {
    theApp.m_pDlg = nullptr;
    delete dialog_;
  }
  // An object moved, turned and zoomed away from its start.
  void MoveAway() {
    dialog_->m_Object.m_Matrix.m_Rotation = CSpatialMath::Rotate(0.5f, CSpatialMath::UnitY);
    dialog_->m_Object.m_Matrix.m_Translation = {0.4f, -0.2f, -20.0f};
    dialog_->m_ViewVolume.m_Height = 5.0f;
  }
  bool AtStart() const {
    const CSpatialMath::AXformf& o = dialog_->m_Object;
    const CSpatialMath::AXformf& i = CSpatialMath::Identity;
    return memcmp(&o, &i, sizeof o) == 0 && dialog_->m_ViewVolume.m_Height == 2.0f;
  }
  CKestrinPropDlg* dialog_ = nullptr;
};

TEST_F(DialogEventsTest, AButtonGoingDownPutsTheObjectBack) {
  struct Case {
    long before, after;
    bool reset;
  } cases[] = {
      {0, 0x01, true},
      {0x01, 0x11, true},   // a second button added
      {0x11, 0x01, false},  // one released: only the picture changes
      {0x01, 0, false},
      {0x01, 0x02, true},   // one up, another down
  };
  for (const Case& c : cases) {
    KestrinBaseCallback(5, c.before);
    MoveAway();
    KestrinBaseCallback(5, c.after);
    EXPECT_EQ(AtStart(), c.reset) << std::hex << c.before << " -> " << c.after;
  }
}

TEST_F(DialogEventsTest, NoNewMotionPostsNothing) {
  MSG stale;
  while (PeekMessageW(&stale, nullptr, WM_COMMAND, WM_COMMAND, PM_REMOVE)) {
  }
  MoveAway();
  const CSpatialMath::AXformf before = dialog_->m_Object;
  dialog_->OnMotion();  // no device: nothing new
  MSG posted;
  EXPECT_FALSE(PeekMessageW(&posted, nullptr, WM_COMMAND, WM_COMMAND, PM_REMOVE))
      << "a poll that found nothing keeps the program idle";
  EXPECT_EQ(memcmp(&before, &dialog_->m_Object, sizeof before), 0);
}

}  // namespace
