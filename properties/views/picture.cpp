#include "picture.h"

#include <math.h>
#include <string.h>

#include <memory>

#include "gdiplus_include.h"

namespace views {

const ButtonMark kButtonMarks[8] = {
    {60.5f, 31.0f, 35.0f},  {52.0f, 45.5f, 26.0f},  {46.0f, 61.0f, 17.0f},
    {42.5f, 77.5f, 12.0f},  {215.3f, 28.0f, -35.0f}, {225.0f, 42.0f, -26.0f},
    {231.0f, 57.5f, -18.0f}, {236.0f, 73.0f, -12.0f},
};

IStream* LoadJpegResource(WORD id) {
  // Always the program's own module: a satellite library of translated
  // resources carries no pictures.
  HMODULE module = GetModuleHandleW(nullptr);
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), L"JPEG");
  if (!found) return nullptr;
  const DWORD size = SizeofResource(module, found);
  HGLOBAL loaded = LoadResource(module, found);
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  if (!bytes || size == 0) return nullptr;
  HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE, size);
  if (!copy) return nullptr;
  void* target = GlobalLock(copy);
  if (!target) {
    GlobalFree(copy);
    return nullptr;
  }
  memcpy(target, bytes, size);
  GlobalUnlock(copy);
  IStream* stream = nullptr;
  if (FAILED(CreateStreamOnHGlobal(copy, TRUE, &stream))) {  // TRUE: the stream frees it
    GlobalFree(copy);
    return nullptr;
  }
  return stream;
}

Gdiplus::Image* DecodePicture(WORD id) {
  IStream* stream = LoadJpegResource(id);
  if (!stream) return nullptr;
  Gdiplus::Image* image = Gdiplus::Image::FromStream(stream);
  stream->Release();  // the image keeps its own reference while it needs one
  if (image && (image->GetLastStatus() != Gdiplus::Ok || image->GetWidth() == 0 ||
                image->GetHeight() == 0)) {
    delete image;
    image = nullptr;
  }
  return image;
}

ScaledPicture ScaleMonitorPicture(HDC dc, int width, int height) {
  ScaledPicture result;
  if (width <= 0 || height <= 0) return result;
  std::unique_ptr<Gdiplus::Image> picture(DecodePicture(kMonitorPicture));
  if (!picture) return result;
  Gdiplus::Graphics screen(dc);
  Gdiplus::Bitmap bitmap(width, height, &screen);
  if (bitmap.GetLastStatus() != Gdiplus::Ok) return result;
  {
    Gdiplus::Graphics canvas(&bitmap);
    if (canvas.GetLastStatus() != Gdiplus::Ok) return result;
    canvas.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
    const INT pw = static_cast<INT>(picture->GetWidth());
    const INT ph = static_cast<INT>(picture->GetHeight());
    if (canvas.DrawImage(picture.get(), Gdiplus::Rect(0, 0, width, height), 0, 0, pw, ph,
                         Gdiplus::UnitPixel) != Gdiplus::Ok)
      return result;
    result.scale = static_cast<float>(width) / static_cast<float>(pw);
  }
  // Read back as 32-bit BGRA whatever the bitmap's own format, so the copy
  // always matches what glDrawPixels is told.
  Gdiplus::Rect all(0, 0, width, height);
  Gdiplus::BitmapData data = {};
  if (bitmap.LockBits(&all, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB, &data) !=
      Gdiplus::Ok) {
    result.scale = 0.0f;
    return result;
  }
  const size_t row = static_cast<size_t>(width) * 4;
  result.pixels.resize(row * static_cast<size_t>(height));
  const unsigned char* source = static_cast<const unsigned char*>(data.Scan0);
  for (int y = 0; y < height; ++y)  // the stride may be padded or negative
    memcpy(&result.pixels[row * y], source + static_cast<ptrdiff_t>(data.Stride) * y, row);
  bitmap.UnlockBits(&data);
  return result;
}

namespace {

void MarkWith(Gdiplus::Graphics& canvas, const Gdiplus::Pen& pen, const Gdiplus::Matrix& place,
              Gdiplus::REAL x, Gdiplus::REAL y, Gdiplus::REAL w, Gdiplus::REAL h) {
  canvas.SetTransform(&place);
  canvas.DrawEllipse(&pen, x, y, w, h);
}

}  // namespace

void PaintDevicePicture(HDC dc, int width, int height, Gdiplus::Image* image, WORD activity,
                        long buttons) {
  if (!image) return;
  // Every mark goes on a copy: the kept picture stays clean for the next paint.
  std::unique_ptr<Gdiplus::Image> copy(image->Clone());
  if (!copy || copy->GetLastStatus() != Gdiplus::Ok) return;
  {
    Gdiplus::Graphics canvas(copy.get());
    if (canvas.GetLastStatus() == Gdiplus::Ok) {
      Gdiplus::Pen pen(Gdiplus::Color(0xFFFFFF00), 3.0f);  // opaque yellow, world units
      if (activity & 0x04)  // the ball
        MarkWith(canvas, pen, Gdiplus::Matrix(1, 0, 0, 1, 137, 56), -52, -52, 104, 104);
      if (activity & 0x08)  // the scroll hat
        MarkWith(canvas, pen, Gdiplus::Matrix(1, 0, 0, 1, 140, 140), -16, -16, 32, 32);
      pen.SetWidth(2.0f);
      for (int bit = 0; bit < 8; ++bit) {
        if (!(buttons & (1L << bit))) continue;
        const ButtonMark& mark = kButtonMarks[bit];
        const float a = mark.angle * 0.017453292f;
        MarkWith(canvas, pen, Gdiplus::Matrix(cosf(a), sinf(a), -sinf(a), cosf(a), mark.x, mark.y),
                 -10.5f, -5.0f, 21.0f, 10.0f);
      }
    }
  }
  Gdiplus::Graphics screen(dc);
  screen.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
  screen.DrawImage(copy.get(), Gdiplus::Rect(0, 0, width, height), 0, 0,
                   static_cast<INT>(copy->GetWidth()), static_cast<INT>(copy->GetHeight()),
                   Gdiplus::UnitPixel);
}

}  // namespace views
