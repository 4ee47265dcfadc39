// The monitor's window in this process, drawn under the X server: frames
// are read back from the back buffer before the swap.
#include "monitor_window.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "fake_service.h"
#include "pipe_client.h"

namespace monitor {
namespace {

struct Rgb {
  int r, g, b;
};

class Frame {
 public:
  Frame(unsigned width, unsigned height) : width_(width), height_(height), rgb_(width * height * 3) {
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, rgb_.data());
  }
  // x from the left, y from the bottom, as OpenGL counts.
  Rgb At(unsigned x, unsigned y) const {
    const unsigned char* p = &rgb_[(y * width_ + x) * 3];
    return Rgb{p[0], p[1], p[2]};
  }
  template <typename Predicate>
  int Count(Predicate predicate) const {
    int n = 0;
    for (unsigned y = 0; y < height_; ++y)
      for (unsigned x = 0; x < width_; ++x) n += predicate(At(x, y)) ? 1 : 0;
    return n;
  }
  // Whether any pixel of the 5 x 5 square around (x, y) is so.
  template <typename Predicate>
  bool Near(unsigned x, unsigned y, Predicate predicate) const {
    for (unsigned j = y - 2; j <= y + 2; ++j)
      for (unsigned i = x - 2; i <= x + 2; ++i)
        if (predicate(At(i, j))) return true;
    return false;
  }
  int Differences(const Frame& other) const {
    int n = 0;
    for (size_t i = 0; i < rgb_.size(); i += 3)
      n += (rgb_[i] != other.rgb_[i] || rgb_[i + 1] != other.rgb_[i + 1] ||
            rgb_[i + 2] != other.rgb_[i + 2]) ? 1 : 0;
    return n;
  }

 private:
  unsigned width_, height_;
  std::vector<unsigned char> rgb_;
};

bool Background(Rgb c) { return c.r <= 2 && c.g >= 150 && c.g <= 155 && c.b >= 253; }
bool Red(Rgb c) { return c.r > 120 && c.g < 60 && c.b < 60; }
bool Green(Rgb c) { return c.g > 120 && c.r < 60 && c.b < 60; }
bool Grey(Rgb c) {
  return c.r > 60 && c.r < 230 && abs(c.r - c.g) < 12 && abs(c.g - c.b) < 12;
}

class MonitorSceneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(service_.ready());
    client_.reset(new MonitorPipeClient());
    WindowState() = MonitorWindowState();
    WindowState().m_Display.m_Ring.Reset();
    static ATOM registered = RegisterMonitorClass(GetModuleHandleA(nullptr));
    ASSERT_TRUE(registered);
    window_ = CreateMonitorWindow(GetModuleHandleA(nullptr));
    ASSERT_TRUE(window_);
    SetMainWindow(window_);
    ShowWindow(window_, SW_SHOW);
    Pump();
    ASSERT_TRUE(wglGetCurrentContext()) << "the window made its context current";
  }
  void TearDown() override {
    if (IsWindow(window_)) DestroyWindow(window_);
    Pump();
    SetMainWindow(nullptr);
    if (WindowState().m_Quadric) gluDeleteQuadric(WindowState().m_Quadric);
    WindowState().m_Quadric = nullptr;
  }

  // Delivers what is queued; WM_QUIT is remembered.
  void Pump() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        quit_ = true;
        continue;
      }
      if (msg.message == WM_PAINT) {
        ValidateRect(msg.hwnd, nullptr);  // frames are drawn by Draw() here
        continue;
      }
      DispatchMessageA(&msg);
    }
  }

  // One frame as WM_PAINT draws it, read back before the swap.
  std::unique_ptr<Frame> Draw() {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    DrawScene();
    std::unique_ptr<Frame> frame(new Frame(WindowState().m_Width, WindowState().m_Height));
    SwapBuffers(WindowState().m_Dc);
    return frame;
  }

  // A timer tick of the window over what the service published.
  void Tick() { SendMessageA(window_, WM_TIMER, kMonitorTimerId, 0); }

  FakeService service_;
  std::unique_ptr<MonitorPipeClient> client_;
  HWND window_ = nullptr;
  bool quit_ = false;
};

TEST_F(MonitorSceneTest, RestingSceneThenMotion) {
  const MonitorWindowState& state = WindowState();
  ASSERT_GT(state.m_Width, 40u);
  ASSERT_GT(state.m_Height, 40u);
  RecordProperty("font", state.m_FontFace);
  printf("text face: %s, client %u x %u\n", state.m_FontFace.c_str(), state.m_Width,
         state.m_Height);

  service_.PublishBall(0, 0, false);
  Tick();
  std::unique_ptr<Frame> rest = Draw();
  std::unique_ptr<Frame> again = Draw();
  EXPECT_TRUE(Background(rest->At(state.m_Width - 3, state.m_Height - 3)));
  EXPECT_TRUE(Background(rest->At(3, state.m_Height / 2)));
  EXPECT_GT(rest->Count(Grey), 300) << "the sphere";
  EXPECT_GT(rest->Count(Red), 150) << "the solid text";
  EXPECT_TRUE(rest->Near(10, 10, Red)) << "the spinner at rest";
  EXPECT_FALSE(rest->Near(10, 10, Green));
  EXPECT_LT(again->Differences(*rest), 40) << "a second frame at rest looks the same";

  // Motion: a push along x and a twist about z; the ball-active message
  // makes the reads valid again and the timer picks the values up.
  client_->DrainMonitorPipe();
  service_.PublishBall(3000, 6000, true);
  ASSERT_TRUE(service_.WaitConnected(2000));
  ASSERT_TRUE(service_.SendState(StateDeviceAttached | StateDeviceEnabled | StateBallActive));
  ASSERT_EQ(WaitForSingleObject(client_->ReadEvent(), 2000), WAIT_OBJECT_0);
  client_->DrainMonitorPipe();
  for (int i = 0; i < 4; ++i) {
    service_.PublishBall(static_cast<int16_t>(3000 + 1000 * i), 6000, true);
    Tick();
  }
  EXPECT_EQ(state.m_Display.m_LastValid, 1);
  EXPECT_GT(state.m_Display.m_Record.m_Values[AxisTx], 3000) << "shaped and averaged";
  std::unique_ptr<Frame> moving = Draw();
  EXPECT_GT(moving->Differences(*rest), 500) << "the sphere moved and turned";
  EXPECT_TRUE(moving->Near(10, 10, Green)) << "the spinner while moving";
  EXPECT_FALSE(moving->Near(10, 10, Red));
  EXPECT_TRUE(Background(moving->At(state.m_Width - 3, state.m_Height - 3)));

  // The ball rests: one frame of zeros, the spinner red again.
  service_.PublishBall(0, 0, false);
  Tick();
  EXPECT_EQ(state.m_Display.m_LastValid, 0);
  EXPECT_EQ(state.m_Display.m_Record.m_Values[AxisTx], 0);
  std::unique_ptr<Frame> stopped = Draw();
  EXPECT_TRUE(stopped->Near(10, 10, Red));
  EXPECT_GT(stopped->Count(Red), 150);
}

TEST_F(MonitorSceneTest, KeysToggleTheSpinnerAndClose) {
  const MonitorWindowState& state = WindowState();
  const struct {
    WPARAM key;
    bool spinner;
  } keys[] = {{'S', false}, {'s', true}, {'a', true}, {'s', false}, {'S', true}};
  for (const auto& k : keys) {
    SendMessageA(window_, WM_CHAR, k.key, 0);
    EXPECT_EQ(state.m_Spinner, k.spinner) << static_cast<char>(k.key);
    std::unique_ptr<Frame> frame = Draw();
    EXPECT_EQ(frame->Near(10, 10, Red), k.spinner) << static_cast<char>(k.key);
    if (!k.spinner) {
      EXPECT_TRUE(Background(frame->At(10, 10)));
    }
  }
  for (WPARAM close : {'X', 'x'}) {
    if (!IsWindow(window_)) {
      window_ = CreateMonitorWindow(GetModuleHandleA(nullptr));
      ASSERT_TRUE(window_);
    }
    quit_ = false;
    SendMessageA(window_, WM_CHAR, close, 0);
    Pump();
    EXPECT_FALSE(IsWindow(window_)) << static_cast<char>(close);
    EXPECT_TRUE(quit_) << static_cast<char>(close);
  }
}

}  // namespace
}  // namespace monitor
