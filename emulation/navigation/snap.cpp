// The snap to a standard orientation: the 24 rotations that map the axes onto
// axes, and each of them composed with one of two isometric frames A and B
// (whose third column is a cube diagonal), 72 in all. The transform turns
// about a given point, which keeps its world position.
#include <cmath>
#include <cstring>

#include "nav_constants.h"
#include "nav_math.h"
#include "navigation.h"

namespace KestrinNav {

namespace {

struct StandardFrames {
  NavMat33 a;
  NavMat33 b;
};

StandardFrames BuildStandardFrames() {
  const double s2 = kRootHalf, s3 = kRootThird, s23 = kRootTwoThirds, s6 = kRootSixth;
  StandardFrames f;
  SetRow(f.a, 0, Vec(-s2, s6, -s3));
  SetRow(f.a, 1, Vec(0.0, s23, s3));
  SetRow(f.a, 2, Vec(s2, s6, -s3));
  // B is A with its first two columns negated.
  f.b = f.a;
  for (int i = 0; i < 3; ++i) {
    f.b.m[i][0] = -f.b.m[i][0];
    f.b.m[i][1] = -f.b.m[i][1];
  }
  return f;
}

// Built once, on first use; the language makes that initialisation
// thread-safe, so every caller sees both frames complete.
const StandardFrames& Frames() {
  static const StandardFrames frames = BuildStandardFrames();
  return frames;
}

double SignOf(double v) { return v < 0.0 ? -1.0 : 1.0; }  // 0 and -0 give +1

// m * transpose(f): element i,j = row i of m dotted with row j of f.
NavMat33 TimesTranspose(const NavMat33& m, const NavMat33& f) {
  NavMat33 r;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r.m[i][j] = Dot(Row(m, i), Row(f, j));
  return r;
}

// Turns s, close to a rotation, into the signed permutation matrix with
// determinant +1 whose nonzero entry in row i, column j is the sign of s's
// entry there.
void ToSignedPermutation(NavMat33& s, int i, int j) {
  const int i1 = (i + 1) % 3, i2 = (i + 2) % 3, j1 = (j + 1) % 3, j2 = (j + 2) % 3;
  const double sij = s.m[i][j] = SignOf(s.m[i][j]);
  s.m[i][j1] = s.m[i][j2] = 0.0;
  s.m[i1][j] = s.m[i2][j] = 0.0;

  const double c[4] = {s.m[i1][j1], s.m[i1][j2], s.m[i2][j1], s.m[i2][j2]};
  int taken = 0;
  for (int n = 1; n < 4; ++n)
    if (std::fabs(c[n]) > std::fabs(c[taken])) taken = n;  // ties keep the earlier
  switch (taken) {
    case 0:
      s.m[i1][j1] = SignOf(c[0]);
      s.m[i1][j2] = s.m[i2][j1] = 0.0;
      s.m[i2][j2] = s.m[i1][j1] * sij;
      break;
    case 1:
      s.m[i1][j2] = SignOf(c[1]);
      s.m[i1][j1] = s.m[i2][j2] = 0.0;
      s.m[i2][j1] = -(s.m[i1][j2] * sij);
      break;
    case 2:
      s.m[i2][j1] = SignOf(c[2]);
      s.m[i1][j1] = s.m[i2][j2] = 0.0;
      s.m[i1][j2] = -(s.m[i2][j1] * sij);
      break;
    default:
      s.m[i2][j2] = SignOf(c[3]);
      s.m[i1][j2] = s.m[i2][j1] = 0.0;
      s.m[i1][j1] = s.m[i2][j2] * sij;
      break;
  }
}

// Snaps a rotation in place to the nearest standard orientation.
void SnapRotation(NavMat33& m) {
  const StandardFrames& frames = Frames();
  NavMat33 candidates[3] = {m, TimesTranspose(m, frames.a), TimesTranspose(m, frames.b)};

  // The entry of largest magnitude over m, m*A^T and m*B^T, in that order,
  // each row-major; ties go to the earlier entry.
  int which = 0, wi = 0, wj = 0;
  double best = std::fabs(m.m[0][0]);
  for (int c = 0; c < 3; ++c)
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j)
        if (std::fabs(candidates[c].m[i][j]) > best) {
          best = std::fabs(candidates[c].m[i][j]);
          which = c;
          wi = i;
          wj = j;
        }

  NavMat33& s = candidates[which];
  ToSignedPermutation(s, wi, wj);
  if (which == 0)
    m = s;
  else
    m = Multiply(s, which == 1 ? frames.a : frames.b);
}

}  // namespace

const NavVec3* SnapOrientation(const NavVec3* point, void* record) {
  // The frame sits at an offset that need not be aligned for doubles in the
  // host's record: copy it out and back.
  unsigned char* bytes = static_cast<unsigned char*>(record) + kNavSnapFrameOffset;
  NavMat43 frame;
  std::memcpy(&frame, bytes, sizeof frame);
  const NavVec3 p = *point;
  const NavVec3 t = frame.translation;

  const NavVec3 local = TimesColumn(frame.rotation, Sub(p, t));
  SnapRotation(frame.rotation);
  // The point keeps its world position: the transform turns about it.
  frame.translation = Add(t, Sub(p, Add(t, RowTimes(local, frame.rotation))));

  std::memcpy(bytes, &frame, sizeof frame);
  return point;
}

}  // namespace KestrinNav
