// The two pictures as the program decodes them, and the device picture with
// its marks, drawn into a bitmap of the picture's own size and read back.
#include <gtest/gtest.h>

#include <vector>

#include "gdiplus_include.h"
#include "picture.h"

namespace views {
namespace {

class GdiplusTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Gdiplus::GdiplusStartupInput input;
    ASSERT_EQ(Gdiplus::GdiplusStartup(&token_, &input, nullptr), Gdiplus::Ok);
  }
  static void TearDownTestSuite() { Gdiplus::GdiplusShutdown(token_); }
  static ULONG_PTR token_;
};
ULONG_PTR GdiplusTest::token_ = 0;

struct Rgb {
  int r, g, b;
};

// A 32-bit top-down DIB section selected into a memory DC.
class Canvas {
 public:
  Canvas(int width, int height) : width_(width), height_(height) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    dc_ = CreateCompatibleDC(nullptr);
    bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_),
                               nullptr, 0);
    old_ = SelectObject(dc_, bitmap_);
    Fill(0x00FF00FF);  // magenta: what no picture has
  }
  ~Canvas() {
    SelectObject(dc_, old_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
  }
  HDC dc() const { return dc_; }
  void Fill(DWORD bgrx) {
    GdiFlush();
    for (int i = 0; i < width_ * height_; ++i) reinterpret_cast<DWORD*>(bits_)[i] = bgrx;
  }
  Rgb At(int x, int y) const {
    GdiFlush();
    const unsigned char* p = bits_ + (y * width_ + x) * 4;
    return Rgb{p[2], p[1], p[0]};
  }
  std::vector<unsigned char> Pixels() const {
    GdiFlush();
    return std::vector<unsigned char>(bits_, bits_ + width_ * height_ * 4);
  }

 private:
  int width_, height_;
  HDC dc_;
  HBITMAP bitmap_;
  HGDIOBJ old_;
  unsigned char* bits_ = nullptr;
};

bool Yellow(Rgb c) { return c.r > 200 && c.g > 200 && c.b < 90; }

constexpr int kDeviceWidth = 283, kDeviceHeight = 331;

TEST_F(GdiplusTest, PicturesDecodeAtTheirSizes) {
  struct Case {
    WORD id;
    UINT width, height;
  } cases[] = {{kMonitorPicture, 251, 216}, {kDevicePicture, 283, 331}};
  for (const Case& c : cases) {
    Gdiplus::Image* image = DecodePicture(c.id);
    ASSERT_TRUE(image) << c.id;
    EXPECT_EQ(image->GetWidth(), c.width) << c.id;
    EXPECT_EQ(image->GetHeight(), c.height) << c.id;
    delete image;
  }
}

TEST_F(GdiplusTest, AMissingResourceGivesNoStreamAndNoPicture) {
  EXPECT_EQ(LoadJpegResource(997), nullptr);
  EXPECT_EQ(DecodePicture(997), nullptr);
  // A resource of another type under the same number is not taken.
  EXPECT_EQ(LoadJpegResource(1), nullptr);
}

TEST_F(GdiplusTest, ScaledMonitorKeepsItsScreenWhereTheViewsDrawIt) {
  const int width = 502, height = 432;  // twice the picture
  Canvas screen(8, 8);
  ScaledPicture scaled = ScaleMonitorPicture(screen.dc(), width, height);
  ASSERT_EQ(scaled.pixels.size(), static_cast<size_t>(width * height * 4));
  EXPECT_FLOAT_EQ(scaled.scale, 2.0f);
  auto at = [&](int x, int y) {
    const unsigned char* p = &scaled.pixels[(y * width + x) * 4];
    return Rgb{p[2], p[1], p[0]};
  };
  auto screenColour = [](Rgb c) { return c.r == 0x1c && c.g == 0x24 && c.b == 0x30; };
  // Just inside the screen's four corners (16, 19) to (234, 173) and its
  // middle; the case just outside.
  EXPECT_TRUE(screenColour(at(2 * 16 + 3, 2 * 19 + 3)));
  EXPECT_TRUE(screenColour(at(2 * 235 - 4, 2 * 174 - 4)));
  EXPECT_TRUE(screenColour(at(width / 2, 2 * 96)));
  EXPECT_FALSE(screenColour(at(2 * 16 - 6, 2 * 19 + 3)));
  EXPECT_FALSE(screenColour(at(width / 2, 2 * 174 + 6)));
  // Rows run top to bottom: the top edge is the case, the bottom the desk.
  const Rgb desk = at(4, height - 2);
  EXPECT_EQ(desk.r, 0xec);
  EXPECT_EQ(desk.b, 0xd8);
}

TEST_F(GdiplusTest, NoViewSizeGivesNoPixels) {
  Canvas screen(8, 8);
  for (int size : {0, -5}) {
    ScaledPicture scaled = ScaleMonitorPicture(screen.dc(), size, 100);
    EXPECT_TRUE(scaled.pixels.empty());
    EXPECT_EQ(scaled.scale, 0.0f);
  }
}

// ---- the device picture and its marks ----

class DevicePictureTest : public GdiplusTest {
 protected:
  void SetUp() override {
    image_ = DecodePicture(kDevicePicture);
    ASSERT_TRUE(image_);
  }
  void TearDown() override { delete image_; }

  // One paint at the picture's own size.
  std::vector<unsigned char> Paint(WORD activity, long buttons) {
    canvas_.Fill(0x00FF00FF);
    PaintDevicePicture(canvas_.dc(), kDeviceWidth, kDeviceHeight, image_, activity, buttons);
    return canvas_.Pixels();
  }
  bool YellowNear(int x, int y) const {
    for (int j = y - 1; j <= y + 1; ++j)
      for (int i = x - 1; i <= x + 1; ++i)
        if (Yellow(canvas_.At(i, j))) return true;
    return false;
  }
  bool BallCircle() const {
    return YellowNear(137 + 52, 56) && YellowNear(137 - 52, 56) && YellowNear(137, 56 + 52);
  }
  bool ScrollCircle() const {
    return YellowNear(140 + 16, 140) && YellowNear(140 - 16, 140) && YellowNear(140, 140 + 16);
  }
  // The end of button bit's ellipse along its long axis, tilted by angle.
  bool ButtonTiltedBy(int bit, float angle) const {
    const ButtonMark& m = kButtonMarks[bit];
    const float a = angle * 0.017453292f;
    return YellowNear(static_cast<int>(m.x + 10.5f * cosf(a) + 0.5f),
                      static_cast<int>(m.y + 10.5f * sinf(a) + 0.5f)) &&
           YellowNear(static_cast<int>(m.x - 10.5f * cosf(a) + 0.5f),
                      static_cast<int>(m.y - 10.5f * sinf(a) + 0.5f));
  }

  Gdiplus::Image* image_ = nullptr;
  Canvas canvas_{kDeviceWidth, kDeviceHeight};
};

TEST_F(DevicePictureTest, CirclesFollowTheBallAndTheScrollHat) {
  struct Case {
    WORD activity;
    bool ball, scroll;
  } cases[] = {
      {3, false, false},
      {3 | 0x14, true, false},
      {3 | 0x28, false, true},
      {3 | 0x14 | 0x28, true, true},  // both active
      {3 | 0x28, false, true},        // the ball released: only its circle goes
      {0x10 | 0x20, false, false},    // the bits the picture does not draw from
  };
  for (const Case& c : cases) {
    Paint(c.activity, 0);
    EXPECT_EQ(BallCircle(), c.ball) << std::hex << c.activity;
    EXPECT_EQ(ScrollCircle(), c.scroll) << std::hex << c.activity;
  }
}

TEST_F(DevicePictureTest, ButtonsZeroAndFourTiltOppositeWays) {
  Paint(3, 0x01 | 0x10);
  EXPECT_TRUE(ButtonTiltedBy(0, 35.0f)) << "button 0 at the top left, falling to the right";
  EXPECT_FALSE(ButtonTiltedBy(0, -35.0f));
  EXPECT_TRUE(ButtonTiltedBy(4, -35.0f)) << "button 4 at the top right, rising to the right";
  EXPECT_FALSE(ButtonTiltedBy(4, 35.0f));
  EXPECT_LT(kButtonMarks[0].x, 137.0f);
  EXPECT_GT(kButtonMarks[4].x, 137.0f);
  for (int bit : {1, 2, 3, 5, 6, 7}) EXPECT_FALSE(ButtonTiltedBy(bit, kButtonMarks[bit].angle));
}

TEST_F(DevicePictureTest, EveryButtonHasItsMark) {
  for (int bit = 0; bit < 8; ++bit) {
    Paint(3, 1L << bit);
    EXPECT_TRUE(ButtonTiltedBy(bit, kButtonMarks[bit].angle)) << bit;
  }
}

TEST_F(DevicePictureTest, BitsAboveSevenDrawNothing) {
  const std::vector<unsigned char> plain = Paint(3, 0);
  EXPECT_EQ(Paint(3, 0x7FFFFF00L), plain);
  EXPECT_EQ(Paint(3, static_cast<long>(0xFFFFFF00UL)), plain);  // the sign bit too
  EXPECT_EQ(Paint(3, 0x12300 | 0x01), Paint(3, 0x01));
}

TEST_F(DevicePictureTest, EachPaintStartsFromTheCleanPicture) {
  Paint(3, 0);
  const std::vector<unsigned char> clean = canvas_.Pixels();
  EXPECT_FALSE(BallCircle());
  Paint(0xFFFF, 0xFF);
  EXPECT_TRUE(BallCircle());
  EXPECT_EQ(Paint(3, 0), clean) << "no mark of the earlier paint is left on the kept picture";
}

TEST_F(DevicePictureTest, ScaledToTheControl) {
  // About half size: the ball's circle at half its place and radius. Filtered
  // down, the 3-pixel line blends with its surroundings: the pixels there turn
  // towards yellow against the same paint without the circle.
  Canvas plain(142, 166), marked(142, 166);
  PaintDevicePicture(plain.dc(), 142, 166, image_, 3, 0);
  PaintDevicePicture(marked.dc(), 142, 166, image_, 3 | 0x14, 0);
  auto yellower = [&](int x, int y) {
    const Rgb a = plain.At(x, y), b = marked.At(x, y);
    return b.r - a.r >= 20 && b.g - a.g >= 20 && b.b - a.b <= 5;
  };
  bool right = false, left = false;
  for (int d = -3; d <= 3; ++d) {
    right = right || yellower(68 + 26 + d, 28);
    left = left || yellower(68 - 26 + d, 28);
  }
  EXPECT_TRUE(right && left);
  EXPECT_FALSE(yellower(68, 28)) << "the ball's middle stays as it was";
}

TEST_F(DevicePictureTest, NoPictureDrawsNothing) {
  canvas_.Fill(0x00FF00FF);
  const std::vector<unsigned char> before = canvas_.Pixels();
  PaintDevicePicture(canvas_.dc(), kDeviceWidth, kDeviceHeight, nullptr, 0xFFFF, 0xFF);
  EXPECT_EQ(canvas_.Pixels(), before);
}

}  // namespace
}  // namespace views
