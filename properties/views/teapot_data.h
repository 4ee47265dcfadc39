// The Utah teapot's control net, a public data set: 127 points with the
// teapot standing along +z, and 10 Bezier patches of 4 x 4 point indices, row
// by row. The rim, body, lid and bottom patches describe one quarter of the
// surface and are mirrored in x and in y; the handle and the spout describe
// one half and are mirrored in y only. No windows.h: the numbers are checked
// on their own.
#pragma once

namespace views {

struct TeapotPoint {
  double x, y, z;
};

constexpr int kTeapotPointCount = 127;
constexpr int kTeapotPatchCount = 10;
// Patches 0 to 5 (rim, two body, two lid, bottom) go into all four quadrants;
// 6 to 9 (two handle, two spout) only to both sides of the xz plane.
constexpr int kTeapotQuarterPatches = 6;

extern const TeapotPoint kTeapotPoints[kTeapotPointCount];
extern const unsigned char kTeapotPatches[kTeapotPatchCount][16];

}  // namespace views
