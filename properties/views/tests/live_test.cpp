// KestrinProperties.exe against the running suite: the service on a simulated
// device and the session agent. The views' frames come from the swap spy
// loaded into the program (Wine never shows a child window's OpenGL here);
// the device picture, drawn with GDI+, is read from the screen.
#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "agent_install.h"
#include "process_runner.h"
#include "report_bytes.h"
#include "running_properties.h"
#include "scratch_folder.h"
#include "simulated_service.h"

namespace {

using props::RunningProperties;

// The pixels of a 32-bit bottom-up BMP as the spy writes it; empty when the
// file is missing or being replaced.
std::vector<unsigned char> ReadFrame(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
  const size_t header = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
  if (bytes.size() <= header) return {};
  return std::vector<unsigned char>(bytes.begin() + header, bytes.end());
}

int Differences(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b) {
  if (a.size() != b.size()) return -1;
  int n = 0;
  for (size_t i = 0; i < a.size(); i += 4) n += memcmp(&a[i], &b[i], 3) != 0;
  return n;
}

// Yellow pixels of the device picture as the screen shows it.
int YellowOnScreen(HWND picture) {
  RECT r;
  GetWindowRect(picture, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = -h;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  unsigned char* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits),
                                    nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  GdiFlush();
  int n = 0;
  for (int i = 0; i < w * h; ++i) {
    const unsigned char* p = bits + i * 4;
    n += p[2] > 200 && p[1] > 200 && p[0] < 90;
  }
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return n;
}

class ViewsLiveTest : public SimulatedServiceTest {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(InstallAgent(KESTRIN_ELF_EXE)); }
  void SetUp() override {
    SimulatedServiceTest::SetUp();
    ASSERT_NE(StartAgent(), 0u);
    for (const char* name : {"\\view-1006.bmp", "\\view-1008.bmp", "\\swaps.log"})
      DeleteFileA((folder_.path() + name).c_str());
  }
  void TearDown() override {
    program_.reset();
    EXPECT_TRUE(StopAgent());
    SimulatedServiceTest::TearDown();
  }

  std::vector<unsigned char> Frame(int id) const {
    return ReadFrame(folder_.path() + "\\view-" + std::to_string(id) + ".bmp");
  }
  // Waits until both views have a frame for which done() holds.
  bool WaitFrames(const std::function<bool(const std::vector<unsigned char>&,
                                           const std::vector<unsigned char>&)>& done,
                  DWORD timeoutMs = 8000) {
    return props::PumpUntil(
        [&] {
          auto f3 = Frame(1006), f2 = Frame(1008);
          return !f3.empty() && !f2.empty() && done(f3, f2);
        },
        timeoutMs);
  }
  void SendFor(int index, const std::vector<uint8_t>& report, int count) {
    for (int i = 0; i < count; ++i) {
      SendReport(index, report);
      Sleep(15);
    }
  }

  // Where the spy in the program writes its frames; removed with them once
  // the program has ended.
  ScratchFolder folder_{"kestrin-views-live"};
  std::unique_ptr<RunningProperties> program_;
};

TEST_F(ViewsLiveTest, ViewsAndPictureFollowTheDevice) {
  program_.reset(new RunningProperties(
      "", {{L"KESTRIN_SWAP_SPY_DIR", folder_.wpath()}}));
  ASSERT_TRUE(program_->started());
  HWND dialog = program_->WaitForDialog();
  ASSERT_TRUE(dialog);
  HWND picture = GetDlgItem(dialog, 1014);
  ASSERT_TRUE(picture);
  RunResult inject = RunProgram("\"" + WinePath(KESTRIN_SPY_INJECT_EXE) + "\" \"Kestrin 3D Mouse Properties\" \"" +
                                    WinePath(KESTRIN_SWAP_SPY_DLL) + "\"",
                                20000);
  ASSERT_EQ(inject.exitCode, 0u) << inject.output;

  // At rest: both views drawn, the teapot in the same place in each.
  ASSERT_TRUE(WaitFrames([](const auto&, const auto&) { return true; }));
  props::PumpUntil([] { return false; }, 500);
  const auto rest3D = Frame(1006), rest2D = Frame(1008);
  EXPECT_EQ(Differences(rest3D, rest2D), 0) << "unturned, the two views look alike";
  EXPECT_EQ(YellowOnScreen(picture), 0);

  // The ball pushed and twisted: both views change, the ball is circled.
  const int push[6] = {40, -30, 0, 15, 25, 40};
  SendFor(ball_, BallReport(push), 60);
  EXPECT_TRUE(WaitFrames([&](const auto& f3, const auto& f2) {
    return Differences(f3, rest3D) > 200 && Differences(f2, rest2D) > 200;
  })) << "the teapot moved in both views";
  EXPECT_GT(Differences(Frame(1006), Frame(1008)), 200) << "and turned in the 3D view only";
  EXPECT_TRUE(props::PumpUntil([&] { return YellowOnScreen(picture) > 100; }, 5000));
  SendFor(ball_, std::vector<uint8_t>(9, 0), 3);
  EXPECT_TRUE(props::PumpUntil([&] { return YellowOnScreen(picture) == 0; }, 5000))
      << "the circle goes when the ball is released";

  // Buttons 0 and 4 down: the object back at its start, two marks.
  SendFor(ball_ + 1, ScrollReport(0, 0, 0x11), 20);
  EXPECT_TRUE(WaitFrames([&](const auto& f3, const auto& f2) {
    return Differences(f3, rest3D) == 0 && Differences(f2, rest2D) == 0;
  })) << "a pressed button puts the teapot back";
  EXPECT_TRUE(props::PumpUntil([&] { return YellowOnScreen(picture) > 40; }, 5000));
  SendFor(ball_ + 1, ScrollReport(0, 0, 0), 3);
}

}  // namespace
