// The OpenGL drawing of the motion views in a child window of the size the
// dialog gives them, under the X server: frames are read back from the back
// buffer before any swap (a child window's OpenGL never reaches the screen
// under Wine here).
#include <gtest/gtest.h>

#include <math.h>

#include <vector>

#include "gdiplus_include.h"
#include "gl_window.h"
#include "picture.h"
#include "view_window.h"
#include "views_gl.h"

namespace views {
namespace {

using Kestrin1::CSpatialMath;

constexpr int kWidth = kViewWidth, kHeight = kViewHeight;

struct Rgb {
  int r, g, b;
};

bool Red(Rgb c) { return c.r > 240 && c.g < 20 && c.b < 20; }
// The teapot's two colours, (0.332, 0.828, 0.316) and (0.3, 0.3, 0.3); the
// picture has neither (its power light is a lighter green, its case a bluer
// grey).
bool Near(int value, int target) { return abs(value - target) <= 3; }
bool Green(Rgb c) { return Near(c.r, 85) && Near(c.g, 211) && Near(c.b, 81); }
bool Grey(Rgb c) { return Near(c.r, 77) && Near(c.g, 77) && Near(c.b, 77); }
bool Teapot(Rgb c) { return Green(c) || Grey(c); }

class Frame {
 public:
  Frame() : rgb_(kWidth * kHeight * 3) {
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, kWidth, kHeight, GL_RGB, GL_UNSIGNED_BYTE, rgb_.data());
  }
  // x from the left, y from the top.
  Rgb At(int x, int y) const {
    const unsigned char* p = &rgb_[((kHeight - 1 - y) * kWidth + x) * 3];
    return Rgb{p[0], p[1], p[2]};
  }
  template <typename Predicate>
  int Count(Predicate predicate, int x0 = 0, int y0 = 0, int x1 = kWidth, int y1 = kHeight) const {
    int n = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) n += predicate(At(x, y)) ? 1 : 0;
    return n;
  }
  // The mean x and y of the pixels that are so.
  template <typename Predicate>
  void Centre(Predicate predicate, double& cx, double& cy) const {
    double sx = 0, sy = 0;
    int n = 0;
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x)
        if (predicate(At(x, y))) sx += x, sy += y, ++n;
    cx = n ? sx / n : -1;
    cy = n ? sy / n : -1;
  }
  bool operator==(const Frame& other) const { return rgb_ == other.rgb_; }

 private:
  std::vector<unsigned char> rgb_;
};

class ViewsGlTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Gdiplus::GdiplusStartupInput input;
    ASSERT_EQ(Gdiplus::GdiplusStartup(&token_, &input, nullptr), Gdiplus::Ok);
  }
  static void TearDownTestSuite() { Gdiplus::GdiplusShutdown(token_); }

  void SetUp() override {
    const ViewWindow window = CreateViewWindow(L"ViewsGlTestParent", L"views");
    parent_ = window.parent;
    ASSERT_TRUE(parent_);
    view_ = window.control;
    ASSERT_TRUE(view_);
    dc_ = GetDC(view_);
    // The format the views' first paint sets.
    ASSERT_TRUE(kestrin_gl::SetWindowPixelFormat(dc_, 32)) << GetLastError();
    rc_ = wglCreateContext(dc_);
    ASSERT_TRUE(rc_) << "no OpenGL context: " << GetLastError();
    ASSERT_TRUE(wglMakeCurrent(dc_, rc_));
    glGetIntegerv(GL_VIEWPORT, viewport_);
    ASSERT_EQ(viewport_[2], kWidth);
    ASSERT_EQ(viewport_[3], kHeight);
    ScaledPicture picture = ScaleMonitorPicture(dc_, kWidth, kHeight);
    background_.swap(picture.pixels);
    scale_ = picture.scale;
    ASSERT_FALSE(background_.empty());

    view3D_ = StartView();
    object_ = CSpatialMath::Identity;
  }
  void TearDown() override {
    wglMakeCurrent(nullptr, nullptr);
    if (rc_) wglDeleteContext(rc_);
    if (dc_) ReleaseDC(view_, dc_);
    if (parent_) DestroyWindow(parent_);
  }

  static AViewVolume StartView() {
    AViewVolume view = {};
    view.m_ViewPlaneZ = -20.0f;
    view.m_Height = 2.0f;
    view.m_NearZ = -15.0f;
    view.m_FarZ = -25.0f;
    return view;
  }

  // One frame of a view as its paint draws it, up to the swap.
  Frame Draw(int b3D, bool withPicture = true) {
    DrawBackground(viewport_, withPicture ? background_.data() : nullptr);
    SetScreenViewport(viewport_, withPicture ? scale_ : 0.0f);
    DrawMotionScene(object_, view3D_, viewport_, b3D);
    glFinish();
    return Frame();
  }

  // The screen area of the picture in view pixels (from the top left).
  int ScreenLeft() const { return static_cast<int>(16 * scale_); }
  int ScreenRight() const { return kWidth - static_cast<int>(16 * scale_); }
  int ScreenTop() const {
    return kHeight - static_cast<int>(42 * scale_) - (kHeight - static_cast<int>(61 * scale_));
  }
  int ScreenBottom() const { return kHeight - static_cast<int>(42 * scale_); }

  static ULONG_PTR token_;
  HWND parent_ = nullptr, view_ = nullptr;
  HDC dc_ = nullptr;
  HGLRC rc_ = nullptr;
  GLint viewport_[4] = {};
  std::vector<unsigned char> background_;
  float scale_ = 0.0f;
  AViewVolume view3D_;
  AXformf object_;
};
ULONG_PTR ViewsGlTest::token_ = 0;

TEST_F(ViewsGlTest, TeapotInsideTheMonitorsScreen) {
  for (int b3D : {0, 1}) {
    const Frame frame = Draw(b3D);
    EXPECT_EQ(frame.Count(Red), 0) << "the picture covers the whole view";
    const int inside = frame.Count(Teapot, ScreenLeft(), ScreenTop(), ScreenRight(), ScreenBottom());
    EXPECT_GT(inside, 400) << b3D;
    EXPECT_EQ(frame.Count(Green), frame.Count(Green, ScreenLeft(), ScreenTop(), ScreenRight(),
                                              ScreenBottom()))
        << "no green line outside the screen";
    EXPECT_GT(frame.Count(Green), 50);
    EXPECT_GT(frame.Count(Grey), 50);
    // At rest the teapot sits in the middle of the screen.
    double cx, cy;
    frame.Centre(Teapot, cx, cy);
    EXPECT_NEAR(cx, (ScreenLeft() + ScreenRight()) / 2.0, 12.0);
    EXPECT_NEAR(cy, (ScreenTop() + ScreenBottom()) / 2.0, 12.0);
  }
}

TEST_F(ViewsGlTest, RotationTurnsThe3DViewOnly) {
  const Frame rest2D = Draw(0), rest3D = Draw(1);
  object_.m_Matrix.m_Rotation = CSpatialMath::Rotate(0.9f, CSpatialMath::AVec3f{0.3f, 1.0f, 0.2f});
  const Frame turned2D = Draw(0), turned3D = Draw(1);
  EXPECT_TRUE(turned2D == rest2D) << "the 2D view never shows rotation";
  EXPECT_FALSE(turned3D == rest3D);
}

TEST_F(ViewsGlTest, TranslationMovesBothViews) {
  double restX, restY;
  Draw(1).Centre(Teapot, restX, restY);
  object_.m_Matrix.m_Translation = {0.5f, 0.3f, 0.0f};  // right and up
  for (int b3D : {0, 1}) {
    double cx, cy;
    Draw(b3D).Centre(Teapot, cx, cy);
    EXPECT_GT(cx, restX + 15) << b3D;
    EXPECT_LT(cy, restY - 8) << b3D;
  }
}

TEST_F(ViewsGlTest, AHigherViewShowsTheTeapotSmaller) {
  const int rest = Draw(0).Count(Green);
  view3D_.m_Height = 4.0f;
  const Frame zoomed = Draw(0);
  EXPECT_LT(zoomed.Count(Green), rest * 2 / 3);
  EXPECT_GT(zoomed.Count(Green), 0);
}

TEST_F(ViewsGlTest, ObjectDepthIsSetForTheProjection) {
  object_.m_Matrix.m_Translation.z = 300.0f;  // whatever navigation left there
  const Frame frame = Draw(1);
  EXPECT_EQ(object_.m_Matrix.m_Translation.z, -20.0f);
  EXPECT_GT(frame.Count(Teapot), 400);
}

TEST_F(ViewsGlTest, WithoutThePictureRedBehindTheWholeView) {
  const Frame frame = Draw(1, false);
  EXPECT_TRUE(Red(frame.At(1, 1)));
  EXPECT_TRUE(Red(frame.At(kWidth - 2, kHeight - 2)));
  // The teapot fills the whole view instead of the screen: it is larger.
  const int whole = frame.Count(Green);
  EXPECT_GT(whole, Draw(1).Count(Green));
}

}  // namespace
}  // namespace views
