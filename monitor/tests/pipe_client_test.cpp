// The monitor's pipe client and section copy against a stand-in service in
// this process: when motion counts as valid, what brings it back, how reads
// end, and the message loop's two ends.
#include "pipe_client.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "fake_service.h"
#include "monitor_window.h"

namespace monitor {
namespace {

// A message-only window standing in for the main window, to see its timer.
class TimerWindow {
 public:
  TimerWindow() {
    window_ = CreateWindowExA(0, "Static", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                              nullptr);
    SetMainWindow(window_);
  }
  ~TimerWindow() {
    SetMainWindow(nullptr);
    DestroyWindow(window_);
  }
  // True when WM_TIMER with the monitor's timer id arrives within timeoutMs;
  // the timer is stopped again.
  bool Ticked(DWORD timeoutMs) {
    DWORD start = GetTickCount();
    MSG msg;
    do {
      while (PeekMessageA(&msg, window_, WM_TIMER, WM_TIMER, PM_REMOVE)) {
        if (msg.wParam == kMonitorTimerId) {
          KillTimer(window_, kMonitorTimerId);
          return true;
        }
      }
      Sleep(10);
    } while (GetTickCount() - start < timeoutMs);
    return false;
  }

 private:
  HWND window_;
};

class MonitorPipeClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(service_.ready()) << GetLastError();
    client_.reset(new MonitorPipeClient());
    ASSERT_TRUE(client_->Connected());
    ASSERT_TRUE(client_->SectionMapped());
    ASSERT_TRUE(service_.WaitConnected(2000));
  }

  int Read(int16_t* tx = nullptr) {
    MotionDisplayRecord record;
    int valid = client_->ReadDeviceMotion(&record);
    if (tx) *tx = record.m_Values[AxisTx];
    return valid;
  }

  // Drains until the messages sent so far have been taken.
  void DrainSoon() {
    for (int i = 0; i < 20; ++i) {
      client_->DrainMonitorPipe();
      Sleep(10);
    }
  }

  FakeService service_;
  std::unique_ptr<MonitorPipeClient> client_;
};

TEST_F(MonitorPipeClientTest, MotionStopsAtRestAndReturnsOnlyWithBallActive) {
  TimerWindow main;
  client_->DrainMonitorPipe();  // the first read is now pending

  int16_t tx = 0;
  service_.PublishBall(300, 0, true);
  EXPECT_EQ(Read(&tx), 1) << "valid from the start";
  EXPECT_EQ(tx, 300);

  service_.PublishBall(0, 0, false);
  EXPECT_EQ(Read(&tx), 0) << "the ball rests";
  service_.PublishBall(400, 0, true);
  EXPECT_EQ(Read(&tx), 0) << "moving again, but no ball-active message yet";
  EXPECT_EQ(tx, 0);
  EXPECT_EQ(client_->Ball().m_Moving, 1);

  const struct {
    const char* name;
    PipeMessage message;
  } ignored[] = {
      {"state without ball active", MakeDeviceStateMessage(1, StateDeviceAttached |
                                                                  StateDeviceEnabled, 0)},
      {"scroll hat active", MakeDeviceStateMessage(1, StateScrollActive | StateScrollChanged, 0)},
      {"another opcode with the bit in its payload",
       [] {
         PipeMessage m = MakeDeviceStateMessage(1, StateBallActive, 0);
         m.m_Opcode = PipeSetLogFactors;
         return m;
       }()},
  };
  for (const auto& c : ignored) {
    ASSERT_TRUE(service_.Send(c.message)) << c.name;
    DrainSoon();
    EXPECT_EQ(Read(&tx), 0) << c.name;
    EXPECT_FALSE(main.Ticked(150)) << c.name;
  }

  ASSERT_TRUE(service_.SendState(StateDeviceAttached | StateDeviceEnabled | StateBallActive |
                                 StateBallChanged));
  DrainSoon();
  EXPECT_TRUE(main.Ticked(1000)) << "the timer runs again";
  EXPECT_EQ(Read(&tx), 1);
  EXPECT_EQ(tx, 400);
  EXPECT_FALSE(client_->PipeBroken());
}

TEST_F(MonitorPipeClientTest, ReadsArePendingThenMessagesThenClosed) {
  PipeMessage message = {};
  EXPECT_EQ(client_->ReadPipeMessage(&message), PipeReadPending);
  EXPECT_EQ(client_->ReadPipeMessage(&message), PipeReadPending) << "still nothing sent";

  ASSERT_TRUE(service_.SendState(StateDeviceAttached));
  ASSERT_EQ(WaitForSingleObject(client_->ReadEvent(), 2000), WAIT_OBJECT_0);
  EXPECT_EQ(client_->ReadPipeMessage(&message), PipeReadMessage);
  EXPECT_EQ(message.m_Opcode, PipeDeviceState);
  EXPECT_EQ(message.m_Payload.m_DeviceState.m_State, StateDeviceAttached);

  ASSERT_TRUE(service_.SendState(StateDeviceEnabled));
  Sleep(50);
  EXPECT_EQ(client_->ReadPipeMessage(&message), PipeReadMessage) << "a message already there";
  EXPECT_EQ(message.m_Payload.m_DeviceState.m_State, StateDeviceEnabled);

  EXPECT_EQ(client_->ReadPipeMessage(&message), PipeReadPending);
  service_.ClosePipe();
  ASSERT_EQ(WaitForSingleObject(client_->ReadEvent(), 2000), WAIT_OBJECT_0);
  EXPECT_EQ(client_->ReadPipeMessage(&message), PipeReadClosed);
  EXPECT_TRUE(client_->PipeBroken());
}

TEST_F(MonitorPipeClientTest, MessageLoopEndsWithQuitOrABrokenPipe) {
  PostQuitMessage(7);
  EXPECT_EQ(MessageLoop(), 7) << "WM_QUIT gives its wParam";

  std::thread closer([this] {
    Sleep(200);
    service_.ClosePipe();
  });
  DWORD start = GetTickCount();
  EXPECT_EQ(MessageLoop(), 0) << "a broken pipe ends the loop";
  closer.join();
  EXPECT_TRUE(client_->PipeBroken());
  EXPECT_LT(GetTickCount() - start, 5000u);
}

}  // namespace
}  // namespace monitor
