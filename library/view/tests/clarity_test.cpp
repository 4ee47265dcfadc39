// CClarity against a real OpenGL context (an X display is needed: test.sh
// starts one): the matrices are read back with glGetDoublev.
#include <gtest/gtest.h>
#include <windows.h>

#include <GL/gl.h>

#include <cmath>
#include <cstdio>

#include "Kestrin1.h"
#include "gl_window.h"

namespace {

using Kestrin1::CClarity;
using Kestrin1::CSpatialMath;
using AVec3f = CSpatialMath::AVec3f;
using AMat33f = CSpatialMath::AMat33f;
using AMat43f = CSpatialMath::AMat43f;
using AXformf = CSpatialMath::AXformf;
using AViewVolume = CClarity::AViewVolume;

// A 4x4 matrix as OpenGL holds it: column-major, element (r, c) at 4c + r.
struct Gl4 {
  double m[16];
  double& At(int r, int c) { return m[4 * c + r]; }
  double At(int r, int c) const { return m[4 * c + r]; }
};

Gl4 Identity4() {
  Gl4 g = {};
  for (int i = 0; i < 4; ++i) g.At(i, i) = 1;
  return g;
}

Gl4 Product(const Gl4& a, const Gl4& b) {
  Gl4 p = {};
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c)
      for (int k = 0; k < 4; ++k) p.At(r, c) += a.At(r, k) * b.At(k, c);
  return p;
}

Gl4 Read(GLenum which) {
  Gl4 g;
  glGetDoublev(which, g.m);
  return g;
}

::testing::AssertionResult Near(const Gl4& actual, const Gl4& expected, double tolerance) {
  for (int i = 0; i < 16; ++i) {
    if (!(std::fabs(actual.m[i] - expected.m[i]) <= tolerance)) {
      ::testing::AssertionResult failure = ::testing::AssertionFailure();
      failure << "element " << i << ": " << actual.m[i] << " vs " << expected.m[i] << "\n got";
      for (double v : actual.m) failure << " " << v;
      return failure;
    }
  }
  return ::testing::AssertionSuccess();
}

// The matrices OpenGL defines for glOrtho and glFrustum.
Gl4 Ortho(double l, double r, double b, double t, double n, double f) {
  Gl4 g = Identity4();
  g.At(0, 0) = 2 / (r - l);
  g.At(1, 1) = 2 / (t - b);
  g.At(2, 2) = -2 / (f - n);
  g.At(0, 3) = -(r + l) / (r - l);
  g.At(1, 3) = -(t + b) / (t - b);
  g.At(2, 3) = -(f + n) / (f - n);
  return g;
}

Gl4 Frustum(double l, double r, double b, double t, double n, double f) {
  Gl4 g = {};
  g.At(0, 0) = 2 * n / (r - l);
  g.At(1, 1) = 2 * n / (t - b);
  g.At(0, 2) = (r + l) / (r - l);
  g.At(1, 2) = (t + b) / (t - b);
  g.At(2, 2) = -(f + n) / (f - n);
  g.At(3, 2) = -1;
  g.At(2, 3) = -2 * f * n / (f - n);
  return g;
}

// Rotation, translation and scale as OpenGL matrices: glRotatef of the angle
// and axis MatrixToAxis finds in a rotation matrix is that matrix, element
// for element.
Gl4 Rotation(const AMat33f& m) {
  Gl4 g = Identity4();
  for (int r = 0; r < 3; ++r) {
    g.At(r, 0) = m.m_Row[r].x;
    g.At(r, 1) = m.m_Row[r].y;
    g.At(r, 2) = m.m_Row[r].z;
  }
  return g;
}

Gl4 Translation(const AVec3f& t) {
  Gl4 g = Identity4();
  g.At(0, 3) = t.x;
  g.At(1, 3) = t.y;
  g.At(2, 3) = t.z;
  return g;
}

Gl4 Scaling(double s) {
  Gl4 g = Identity4();
  g.At(0, 0) = g.At(1, 1) = g.At(2, 2) = s;
  return g;
}

class Clarity : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    WNDCLASSA wc = {};
    wc.style = CS_OWNDC;
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "ClarityTestWindow";
    RegisterClassA(&wc);
    // Under a loaded X server one window creation in a few hundred runs failed
    // at once; a few more tries, a moment apart.
    for (int attempt = 0; attempt < 5 && !window_; ++attempt) {
      if (attempt) Sleep(200);
      window_ = CreateWindowExA(0, wc.lpszClassName, "", WS_OVERLAPPEDWINDOW, 0, 0, 64, 64,
                                nullptr, nullptr, wc.hInstance, nullptr);
    }
    if (!window_) return Failed("CreateWindowExA");
    dc_ = GetDC(window_);
    if (!kestrin_gl::SetWindowPixelFormat(dc_, 16)) return Failed("SetWindowPixelFormat");
    context_ = wglCreateContext(dc_);
    if (!context_) return Failed("wglCreateContext");
    if (!wglMakeCurrent(dc_, context_)) {
      Failed("wglMakeCurrent");
      wglDeleteContext(context_);
      context_ = nullptr;
    }
  }

  static void Failed(const char* call) {
    snprintf(failure_, sizeof failure_, "%s failed, error %lu", call, GetLastError());
  }

  static void TearDownTestSuite() {
    if (context_) {
      wglMakeCurrent(nullptr, nullptr);
      wglDeleteContext(context_);
    }
    if (window_) DestroyWindow(window_);
  }

  void SetUp() override {
    ASSERT_NE(context_, nullptr) << "no OpenGL context (is DISPLAY an X server?): " << failure_;
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
  }

  void TearDown() override { EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR)); }

  static HWND window_;
  static HDC dc_;
  static HGLRC context_;
  static char failure_[128];
};

HWND Clarity::window_ = nullptr;
HDC Clarity::dc_ = nullptr;
HGLRC Clarity::context_ = nullptr;
char Clarity::failure_[128] = "";

GLint MatrixMode() {
  GLint mode = 0;
  glGetIntegerv(GL_MATRIX_MODE, &mode);
  return mode;
}

TEST_F(Clarity, ApplyViewProjections) {
  const AViewVolume ortho = {0, 0, 0, -20, 2, -15, -25};
  const AViewVolume perspective = {1, 0, 0, -20, 2, -15, -25};
  AViewVolume anyPerspective = perspective;
  anyPerspective.m_Perspective = -3;
  AViewVolume offCentre = perspective;
  offCentre.m_CenterX = 1;
  offCentre.m_CenterY = 0.5f;
  const double third = 4.0 / 3;
  struct Case {
    const char* what;
    float width, height;
    AViewVolume view;
    Gl4 projection;
  } cases[] = {
      {"400x300", 400, 300, ortho, Ortho(-third, third, -1, 1, 15, 25)},
      {"300x400", 300, 400, ortho, Ortho(-1, 1, -third, third, 15, 25)},
      {"square", 300, 300, ortho, Ortho(-1, 1, -1, 1, 15, 25)},
      {"perspective, square", 300, 300, perspective, Frustum(-0.75, 0.75, -0.75, 0.75, 15, 25)},
      {"any non-zero flag", 300, 300, anyPerspective, Frustum(-0.75, 0.75, -0.75, 0.75, 15, 25)},
      {"perspective, 400x300", 400, 300, perspective, Frustum(-1, 1, -0.75, 0.75, 15, 25)},
      {"perspective, off centre", 300, 300, offCentre, Frustum(0, 1.5, -0.375, 1.125, 15, 25)},
  };
  for (const Case& c : cases) {
    glMatrixMode(GL_PROJECTION);
    glTranslatef(5, 6, 7);  // replaced, not multiplied
    CClarity::ApplyView(c.width, c.height, c.view, CSpatialMath::Identity.m_Matrix);
    EXPECT_EQ(MatrixMode(), GL_MODELVIEW) << c.what;
    EXPECT_TRUE(Near(Read(GL_PROJECTION_MATRIX), c.projection, 1e-6)) << c.what;
    EXPECT_TRUE(Near(Read(GL_MODELVIEW_MATRIX), Identity4(), 0)) << c.what;
  }
}

// An orthographic view off centre multiplies the box by the shear that puts
// the rectangle's centre on its axis; a centred view after it gets none.
TEST_F(Clarity, ApplyViewShearsAnOffCentreOrthographicView) {
  const double third = 4.0 / 3;
  struct Case {
    float cx, cy;
    double e8, e9;
  } cases[] = {{2, 0, 0.1, 0}, {0, -1, 0, -0.05}, {2, -1, 0.1, -0.05}, {0, 0, 0, 0}};
  for (const Case& c : cases) {
    const AViewVolume view = {0, c.cx, c.cy, -20, 2, -15, -25};
    CClarity::ApplyView(400, 300, view, CSpatialMath::Identity.m_Matrix);
    Gl4 shear = Identity4();
    shear.m[8] = c.e8;
    shear.m[9] = c.e9;
    EXPECT_TRUE(Near(Read(GL_PROJECTION_MATRIX),
                     Product(Ortho(-third, third, -1, 1, 15, 25), shear), 1e-6))
        << c.cx << "," << c.cy;
  }
  // The point at the centre of the rectangle lands on the box's axis.
  const AViewVolume view = {0, 2, -1, -20, 2, -15, -25};
  CClarity::ApplyView(400, 300, view, CSpatialMath::Identity.m_Matrix);
  const Gl4 p = Read(GL_PROJECTION_MATRIX);
  const double point[4] = {2, -1, -20, 1};
  double x = 0, y = 0;
  for (int k = 0; k < 4; ++k) {
    x += p.At(0, k) * point[k];
    y += p.At(1, k) * point[k];
  }
  EXPECT_NEAR(x, 0, 1e-6);
  EXPECT_NEAR(y, 0, 1e-6);
}

TEST_F(Clarity, ApplyViewPutsTheInverseCameraInTheModelView) {
  AMat43f camera;
  camera.m_Rotation = CSpatialMath::Rotate(0.6f, {1, 2, -1});
  camera.m_Translation = {3, -2, 10};
  const AViewVolume view = {1, 0, 0, -20, 2, -15, -25};
  CClarity::ApplyView(400, 300, view, camera);
  const Gl4 placement = Product(Translation(camera.m_Translation), Rotation(camera.m_Rotation));
  EXPECT_TRUE(Near(Product(Read(GL_MODELVIEW_MATRIX), placement), Identity4(), 1e-5));
  // A copy of Identity's matrix is a camera like any other (and inverts to
  // the identity); the matrix of Identity itself is no camera at all.
  const AMat43f copy = CSpatialMath::Identity.m_Matrix;
  glMatrixMode(GL_MODELVIEW);
  CClarity::ApplyView(400, 300, view, copy);
  EXPECT_TRUE(Near(Read(GL_MODELVIEW_MATRIX), Identity4(), 1e-6));
}

TEST_F(Clarity, ApplyMultipliesOnTheRightAndApplyInverseUndoesIt) {
  struct Case {
    float angle, scale;
    AVec3f axis, translation;
  } cases[] = {
      {0.0f, 1.0f, {1, 0, 0}, {0, 0, 0}},
      {0.7f, 2.0f, {0, 0, 1}, {1, 2, 3}},
      {2.0f, 0.5f, {1, -2, 0.5f}, {-4, 0, 9}},
      {2.9f, 3.0f, {-0.3f, 0.2f, 1}, {0.5f, 0.5f, -7}},   // beyond 150 degrees
      {-2.9f, 1.5f, {1, 1, 1}, {2, -3, 1}},
  };
  // Something on the matrix already: every Apply multiplies it on the right.
  Gl4 base = Product(Translation({0.1f, -0.2f, 0.3f}), Rotation(CSpatialMath::Rotate(0.4f, {0, 1, 0})));
  for (const Case& c : cases) {
    AXformf x;
    x.m_Scale = c.scale;
    x.m_Matrix.m_Rotation = CSpatialMath::Rotate(c.angle, c.axis);
    x.m_Matrix.m_Translation = c.translation;
    const Gl4 r = Rotation(x.m_Matrix.m_Rotation), t = Translation(c.translation),
              s = Scaling(c.scale);
    struct Step {
      const char* what;
      void (*apply)(const AXformf&);
      void (*inverse)(const AXformf&);
      Gl4 expected;
    } steps[] = {
        {"rotation", [](const AXformf& v) { CClarity::Apply(v.m_Matrix.m_Rotation); },
         [](const AXformf& v) { CClarity::ApplyInverse(v.m_Matrix.m_Rotation); }, r},
        {"translation", [](const AXformf& v) { CClarity::Apply(v.m_Matrix.m_Translation); },
         [](const AXformf& v) { CClarity::ApplyInverse(v.m_Matrix.m_Translation); }, t},
        {"rotation and translation", [](const AXformf& v) { CClarity::Apply(v.m_Matrix); },
         [](const AXformf& v) { CClarity::ApplyInverse(v.m_Matrix); }, Product(t, r)},
        {"transform", [](const AXformf& v) { CClarity::Apply(v); },
         [](const AXformf& v) { CClarity::ApplyInverse(v); }, Product(Product(t, r), s)},
    };
    for (const Step& step : steps) {
      glMatrixMode(GL_MODELVIEW);
      glLoadMatrixd(base.m);
      step.apply(x);
      EXPECT_TRUE(Near(Read(GL_MODELVIEW_MATRIX), Product(base, step.expected), 2e-5))
          << step.what << ", angle " << c.angle;
      step.inverse(x);
      EXPECT_TRUE(Near(Read(GL_MODELVIEW_MATRIX), base, 2e-5))
          << step.what << " then its inverse, angle " << c.angle;
      // The inverse alone is the inverse.
      glLoadIdentity();
      step.inverse(x);
      EXPECT_TRUE(Near(Product(Read(GL_MODELVIEW_MATRIX), step.expected), Identity4(), 2e-5))
          << step.what << " inverse, angle " << c.angle;
    }
  }
}

TEST_F(Clarity, ApplyWorksOnTheCurrentMatrixAndLeavesItsMode) {
  glMatrixMode(GL_PROJECTION);
  CClarity::Apply(AVec3f{1, 2, 3});
  CClarity::ApplyInverse(CSpatialMath::Identity);
  EXPECT_EQ(MatrixMode(), GL_PROJECTION);
  EXPECT_TRUE(Near(Read(GL_PROJECTION_MATRIX), Translation({1, 2, 3}), 1e-6));
  EXPECT_TRUE(Near(Read(GL_MODELVIEW_MATRIX), Identity4(), 0));
}

TEST_F(Clarity, AssignmentOfTheEmptyClassReturnsTheObject) {
  CClarity a, b;
  EXPECT_EQ(&(a = b), &a);
}

}  // namespace
