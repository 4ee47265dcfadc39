// The teapot's control net as typed: every index names a point, and the edge
// columns of each patch lie in the plane it is mirrored across, so the
// mirrored copies close the surface (a sign or digit typed wrong on a seam
// shows as a crack in the drawn teapot).
#include "teapot_data.h"

#include <gtest/gtest.h>

namespace views {
namespace {

TEST(TeapotDataTest, IndicesNameKnownPoints) {
  for (int i = 0; i < kTeapotPatchCount; ++i)
    for (int n = 0; n < 16; ++n) EXPECT_LT(kTeapotPatches[i][n], kTeapotPointCount) << i;
}

bool ColumnInPlane(int patch, int column, bool xPlane) {
  for (int row = 0; row < 4; ++row) {
    const TeapotPoint& p = kTeapotPoints[kTeapotPatches[patch][4 * row + column]];
    if ((xPlane ? p.x : p.y) != 0.0) return false;
  }
  return true;
}

TEST(TeapotDataTest, SeamsLieOnTheMirrorPlanes) {
  for (int i = 0; i < kTeapotPatchCount; ++i) {
    if (i < kTeapotQuarterPatches) {
      // A quarter: one edge column on y = 0, the other on x = 0.
      const bool first = ColumnInPlane(i, 0, false) && ColumnInPlane(i, 3, true);
      const bool second = ColumnInPlane(i, 0, true) && ColumnInPlane(i, 3, false);
      EXPECT_TRUE(first || second) << "patch " << i;
    } else {
      // A half: both edge columns on y = 0.
      EXPECT_TRUE(ColumnInPlane(i, 0, false) && ColumnInPlane(i, 3, false)) << "patch " << i;
    }
  }
}

TEST(TeapotDataTest, NeighbouringPatchesShareTheirEdgeRows) {
  // rim-body, body-body, knob-brim, handle, spout: the last row of the first
  // is the first row of the second.
  const int pairs[][2] = {{0, 1}, {1, 2}, {3, 4}, {6, 7}, {8, 9}};
  for (const auto& pair : pairs)
    for (int k = 0; k < 4; ++k)
      EXPECT_EQ(kTeapotPatches[pair[0]][12 + k], kTeapotPatches[pair[1]][k]) << pair[0];
}

}  // namespace
}  // namespace views
