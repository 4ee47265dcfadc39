// The two pictures of the properties dialog, PNG data in resources of type
// "JPEG" of the program's own module, decoded and drawn with GDI+: the
// monitor behind the motion views (998) and the device from above with the
// marks of what the user holds (999).
#pragma once
#include <windows.h>
#include <objidl.h>

#include <vector>

namespace Gdiplus {
class Image;
}

namespace views {

constexpr WORD kMonitorPicture = 998;
constexpr WORD kDevicePicture = 999;

// A stream over a copy of the resource's bytes (the stream frees the copy
// when released), or null when the resource is missing or no memory is left.
IStream* LoadJpegResource(WORD id);

// The picture decoded, or null when it cannot be read (no resource, data that
// is no picture, GDI+ not started). The caller deletes it.
Gdiplus::Image* DecodePicture(WORD id);

// The monitor picture scaled to width x height pixels with high-quality
// bicubic filtering on a bitmap compatible with dc, as 32-bit BGRA rows top
// to bottom (width x 4 bytes each), and scale = width / picture width. Empty
// pixels and scale 0 when the picture or the bitmap cannot be made; no pixel
// is read unless the bitmap's lock succeeded.
struct ScaledPicture {
  std::vector<unsigned char> pixels;
  float scale = 0.0f;
};
ScaledPicture ScaleMonitorPicture(HDC dc, int width, int height);

// The device picture at width x height pixels of dc, drawn from a fresh copy
// of image with yellow marks: a circle around the ball (activity bit 0x04), a
// circle around the scroll hat (0x08) and a tilted ellipse on each held
// button (bits 0 to 7 of buttons). image itself is never drawn on. Nothing
// is drawn when image is null or cannot be copied.
void PaintDevicePicture(HDC dc, int width, int height, Gdiplus::Image* image, WORD activity,
                        long buttons);

// Where the marks of the buttons go on the device picture: centre and tilt.
struct ButtonMark {
  float x, y, angle;
};
extern const ButtonMark kButtonMarks[8];

}  // namespace views
