// A motion view's first paints, in process: the rendering context is made
// on the first paint, but the viewport (and with it the scaled picture and
// the size the dialog wraps the object in) is read only once a make-current
// has succeeded. A first wglMakeCurrent that fails is tried again at the
// next paint instead of leaving the view without a viewport for good.
#include <gtest/gtest.h>

#include "gdiplus_include.h"
#include "import_hook.h"
#include "monitor_view.h"
#include "view_window.h"

namespace {

constexpr int kWidth = views::kViewWidth, kHeight = views::kViewHeight;

using MakeCurrentFn = BOOL(WINAPI*)(HDC, HGLRC);
MakeCurrentFn g_RealMakeCurrent = nullptr;
int g_FailuresLeft = 0;
int g_Calls = 0;

// Fails the given number of make-currents onto a window, as a driver that is
// not ready yet would; a release (null DC) always goes through.
BOOL WINAPI FailingMakeCurrent(HDC dc, HGLRC rc) {
  ++g_Calls;
  if (dc && g_FailuresLeft > 0) {
    --g_FailuresLeft;
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return g_RealMakeCurrent(dc, rc);
}

class MonitorViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Gdiplus::GdiplusStartupInput input;
    ASSERT_EQ(Gdiplus::GdiplusStartup(&token_, &input, nullptr), Gdiplus::Ok);
    const views::ViewWindow window = views::CreateViewWindow(L"MonitorViewTestParent", L"view");
    parent_ = window.parent;
    ASSERT_TRUE(parent_);
    control_ = window.control;
    ASSERT_TRUE(control_);
    ASSERT_TRUE(view_.SubclassWindow(control_));
  }
  void TearDown() override {
    view_.UnsubclassWindow();
    if (parent_) DestroyWindow(parent_);
    Gdiplus::GdiplusShutdown(token_);
  }
  void Paint() { RedrawWindow(control_, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW); }

  ULONG_PTR token_ = 0;
  HWND parent_ = nullptr, control_ = nullptr;
  CMonitor2D3D view_;
};

TEST_F(MonitorViewTest, AFailedFirstMakeCurrentIsTriedAgainAtTheNextPaint) {
  ImportHook hook(GetModuleHandleW(nullptr), "opengl32.dll", "wglMakeCurrent",
                  reinterpret_cast<void*>(&FailingMakeCurrent));
  ASSERT_TRUE(hook.installed());
  g_RealMakeCurrent = reinterpret_cast<MakeCurrentFn>(hook.original());
  g_FailuresLeft = 1;
  g_Calls = 0;

  Paint();
  EXPECT_EQ(0, g_FailuresLeft) << "the first paint tried to make its context current";
  EXPECT_NE(nullptr, view_.m_hRC) << "the context is made and kept";
  for (int i = 0; i < 4; ++i) EXPECT_EQ(0, view_.m_Viewport[i]) << "nothing read without it";

  Paint();
  const int expected[4] = {0, 0, kWidth, kHeight};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(expected[i], view_.m_Viewport[i]) << i;
  EXPECT_GT(view_.m_fScale, 0.0f) << "the picture scaled to the view";
  EXPECT_EQ(static_cast<size_t>(kWidth) * kHeight * 4, view_.m_pBackground.size());
  EXPECT_EQ(nullptr, wglGetCurrentContext()) << "released after the paint";

  // Later paints keep what the first good one read.
  const int calls = g_Calls;
  Paint();
  EXPECT_GT(g_Calls, calls);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(expected[i], view_.m_Viewport[i]) << i;
}

}  // namespace
