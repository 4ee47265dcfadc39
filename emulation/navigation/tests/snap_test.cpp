// The snap to a standard orientation about a point.
#include <cmath>
#include <cstring>
#include <vector>

#include "nav_constants.h"
#include "nav_test_util.h"
#include "navigation.h"

namespace {

using namespace navtest;
using KestrinNav::kRootHalf;
using KestrinNav::kRootSixth;
using KestrinNav::kRootThird;
using KestrinNav::kRootTwoThirds;
using KestrinNav::SnapOrientation;

// A record as the snap sees it: 56 bytes it never touches, then the rotation
// and the translation, then more bytes of the host's. Placed at any byte
// offset of a buffer, so that misaligned records are tried too.
class SnapRecord {
 public:
  explicit SnapRecord(size_t misalign = 0) : misalign_(misalign) {
    for (size_t i = 0; i < sizeof bytes_; ++i) bytes_[i] = static_cast<unsigned char>(0xA5 ^ i);
  }
  void* Record() { return bytes_ + misalign_; }
  void Set(const NavMat43& frame) { std::memcpy(bytes_ + misalign_ + 56, &frame, sizeof frame); }
  NavMat43 Get() const {
    NavMat43 frame;
    std::memcpy(&frame, bytes_ + misalign_ + 56, sizeof frame);
    return frame;
  }
  const unsigned char* Bytes() const { return bytes_; }
  static constexpr size_t kSize = 200;

 private:
  size_t misalign_;
  unsigned char bytes_[kSize + 8];
};

// Snaps frame about point; returns the snapped frame.
NavMat43 Snap(const NavMat43& frame, const NavVec3& point) {
  SnapRecord record;
  record.Set(frame);
  SnapOrientation(&point, record.Record());
  return record.Get();
}

NavMat33 FrameA() {
  const double s2 = kRootHalf, s3 = kRootThird, s23 = kRootTwoThirds, s6 = kRootSixth;
  return Mat(V(-s2, s6, -s3), V(0, s23, s3), V(s2, s6, -s3));
}
NavMat33 FrameB() {
  NavMat33 b = FrameA();
  for (int i = 0; i < 3; ++i) {
    b.m[i][0] = -b.m[i][0];
    b.m[i][1] = -b.m[i][1];
  }
  return b;
}

// The 24 rotations that map the axes onto axes.
std::vector<NavMat33> AxisRotations() {
  std::vector<NavMat33> all;
  const int perms[6][3] = {{0, 1, 2}, {0, 2, 1}, {1, 0, 2}, {1, 2, 0}, {2, 0, 1}, {2, 1, 0}};
  for (const auto& p : perms)
    for (int signs = 0; signs < 8; ++signs) {
      NavMat33 m = {};
      for (int i = 0; i < 3; ++i) m.m[i][p[i]] = (signs >> i) & 1 ? -1.0 : 1.0;
      if (Determinant(m) > 0) all.push_back(m);
    }
  return all;
}

// The 72 standard orientations.
std::vector<NavMat33> StandardOrientations() {
  std::vector<NavMat33> all = AxisRotations();
  for (const NavMat33& s : AxisRotations()) {
    all.push_back(Mul(s, FrameA()));
    all.push_back(Mul(s, FrameB()));
  }
  return all;
}

bool IsSignedPermutation(const NavMat33& m) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      if (m.m[i][j] != 0.0 && m.m[i][j] != 1.0 && m.m[i][j] != -1.0) return false;
  return true;
}

TEST(NavSnap, StandardFramesAreRotationsAboutCubeDiagonals) {
  for (const NavMat33& f : {FrameA(), FrameB()}) {
    EXPECT_NEAR(Determinant(f), 1.0, 1e-7);
    EXPECT_LT(OrthonormalError(f), 1e-7);
    // The third column is a cube diagonal over its length.
    for (int i = 0; i < 3; ++i) EXPECT_EQ(std::fabs(f.m[i][2]), kRootThird);
  }
}

TEST(NavSnap, IdentityStaysWithItsTranslation) {
  const NavMat43 frame = Frame(Ident(), V(1, -2, 3));
  const NavMat43 snapped = Snap(frame, V(4, 5, 6));
  EXPECT_TRUE(SameBytes(snapped.rotation, frame.rotation));
  EXPECT_TRUE(Near(snapped.translation, frame.translation, 0.0));
}

// Every standard orientation snaps to itself, bit for bit, and they are 72
// distinct rotations.
TEST(NavSnap, EveryStandardOrientationIsAFixedPoint) {
  const std::vector<NavMat33> all = StandardOrientations();
  ASSERT_EQ(all.size(), 72u);
  for (size_t n = 0; n < all.size(); ++n) {
    const NavMat43 snapped = Snap(Frame(all[n], V(0, 0, 0)), V(1, 2, 3));
    EXPECT_TRUE(SameBytes(snapped.rotation, all[n])) << n;
    EXPECT_NEAR(Determinant(all[n]), 1.0, 1e-7) << n;
    for (size_t k = 0; k < n; ++k) {
      double apart = 0;
      for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) apart = std::fmax(apart, std::fabs(all[k].m[i][j] - all[n].m[i][j]));
      EXPECT_GT(apart, 0.1) << n << " and " << k;
    }
  }
}

// A rotation a few degrees off a standard orientation snaps to it, and the
// transform turns about the given point, which keeps its world position.
TEST(NavSnap, NearbyRotationSnapsAndTurnsAboutThePoint) {
  struct Case {
    const char* name;
    NavMat33 target;
    double angle;
    NavVec3 axis;
  } cases[] = {
      {"identity, 5 degrees about x", Ident(), 5 * kPi / 180, V(1, 0, 0)},
      {"identity, 20 degrees about (1, 2, 3)", Ident(), 20 * kPi / 180, V(1, 2, 3)},
      {"quarter turn about z", Mat(V(0, 1, 0), V(-1, 0, 0), V(0, 0, 1)), 8 * kPi / 180, V(1, -1, 2)},
      {"A, 3 degrees", FrameA(), 3 * kPi / 180, V(0, 1, 1)},
      {"B turned, 4 degrees", Mul(Mat(V(0, 0, 1), V(1, 0, 0), V(0, 1, 0)), FrameB()), 4 * kPi / 180,
       V(2, -1, 0)},
  };
  const NavVec3 point = V(3, -1, 2);
  for (const Case& c : cases) {
    const NavMat43 frame = Frame(Mul(Rotation(c.angle, c.axis), c.target), V(-4, 5, 1));
    const NavVec3 local = Mul(frame.rotation, point - frame.translation);
    const NavMat43 snapped = Snap(frame, point);
    EXPECT_TRUE(Near(snapped.rotation, c.target, 1e-15)) << c.name;
    EXPECT_TRUE(Near(Mul(local, snapped.rotation) + snapped.translation, point, 1e-13)) << c.name;
    EXPECT_FALSE(Near(snapped.translation, frame.translation, 1e-3)) << c.name;
  }
}

// Looking along a cube diagonal: the snap lands on A or B times an axis
// rotation, a proper rotation.
TEST(NavSnap, ViewAlongACubeDiagonalSnapsToAnIsometricFrame) {
  // Third column close to (-1, 1, -1)/sqrt(3): the view axis along a diagonal.
  const NavMat33 diagonal = FrameA();
  ASSERT_NEAR(diagonal.m[0][2], -kRootThird, 1e-7);
  ASSERT_NEAR(diagonal.m[1][2], kRootThird, 1e-7);
  ASSERT_NEAR(diagonal.m[2][2], -kRootThird, 1e-7);
  const NavMat33 off = Mul(Rotation(6 * kPi / 180, V(1, 3, -2)), diagonal);
  const NavMat33 snapped = Snap(Frame(off, V(0, 0, 0)), V(0, 0, 0)).rotation;
  EXPECT_NEAR(Determinant(snapped), 1.0, 1e-7);
  const NavMat33 viaA = Mul(snapped, Transposed(FrameA()));
  const NavMat33 viaB = Mul(snapped, Transposed(FrameB()));
  NavMat33 rounded = viaA;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) rounded.m[i][j] = std::round(viaA.m[i][j]);
  if (!Near(viaA, rounded, 1e-6)) {
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) rounded.m[i][j] = std::round(viaB.m[i][j]);
    EXPECT_TRUE(Near(viaB, rounded, 1e-6));
  }
  EXPECT_TRUE(IsSignedPermutation(rounded));
  EXPECT_EQ(Determinant(rounded), 1.0);
}

// Ties go to the earlier entry, in the first pick (over the rotation and its
// products with A and B) and in the second (over the four entries left).
TEST(NavSnap, TiesGoToTheEarlierEntry) {
  const double r = std::sqrt(0.5);
  const double s2 = kRootHalf, s3 = kRootThird, s23 = kRootTwoThirds, s6 = kRootSixth;
  struct Case {
    const char* name;
    NavMat33 m;
    NavMat33 expected;
  } cases[] = {
      // The entries left after the 1 are all of one size: the first of them wins.
      {"45 degrees about z", Mat(V(r, r, 0), V(-r, r, 0), V(0, 0, 1)), Ident()},
      {"45 degrees about x", Mat(V(1, 0, 0), V(0, r, r), V(0, -r, r)), Ident()},
      // After -0.995, the third row's r and -r tie: the earlier of the two
      // (and not the later, which gives a different rotation) wins.
      {"tie in the last row",
       Mat(V(-std::sqrt(0.99), 0.1 * r, 0.1 * r), V(0.1, std::sqrt(0.495), std::sqrt(0.495)),
           V(0, r, -r)),
       Mat(V(-1, 0, 0), V(0, 0, 1), V(0, 1, 0))},
      // Its products with A and with B hold the largest entry alike: A's,
      // searched first, wins.
      {"tie between A and B", Mat(V(0.5, 0.5, r), V(0.5, 0.5, -r), V(-r, r, 0)),
       Mat(V(0, s23, s3), V(s2, s6, -s3), V(-s2, s6, -s3))},
  };
  for (const Case& c : cases)
    EXPECT_TRUE(Near(Snap(Frame(c.m, V(0, 0, 0)), V(0, 0, 0)).rotation, c.expected, 1e-15)) << c.name;
}

// Only the rotation and translation bytes of the record change, wherever the
// record lies in memory; the point is never written.
TEST(NavSnap, WritesOnlyTheFrameOfTheRecord) {
  for (size_t misalign : {0u, 1u, 4u, 7u}) {
    SnapRecord record(misalign);
    record.Set(Frame(Rotation(0.3, V(1, 2, 3)), V(1, 2, 3)));
    unsigned char before[SnapRecord::kSize + 8];
    std::memcpy(before, record.Bytes(), sizeof before);
    const NavVec3 point = V(5, 6, 7);
    NavVec3 pointCopy = point;
    EXPECT_EQ(SnapOrientation(&pointCopy, record.Record()), &pointCopy);
    EXPECT_TRUE(SameBytes(pointCopy, point));
    for (size_t i = 0; i < sizeof before; ++i) {
      const bool inFrame = i >= misalign + 56 && i < misalign + 152;
      if (!inFrame) {
        EXPECT_EQ(record.Bytes()[i], before[i]) << "byte " << i << ", misalign " << misalign;
      }
    }
    EXPECT_TRUE(SameBytes(record.Get().rotation, Ident()));
  }
}

// Over random frames: the result is a proper rotation, one of the 72 (it
// snaps to itself), and the point keeps its world position. The isometric
// frames are built from single-precision constants, so those results are
// orthonormal only to that precision; the axis rotations are exact.
TEST(NavSnap, ResultIsAStandardRotationAndKeepsThePoint) {
  Random r(0x5eed0201);
  for (int n = 0; n < 5000; ++n) {
    const NavMat43 frame = Frame(r.RotationMatrix(), r.Vector(100));
    const NavVec3 point = r.Vector(100);
    const NavVec3 local = Mul(frame.rotation, point - frame.translation);
    const NavMat43 snapped = Snap(frame, point);

    SCOPED_TRACE(n);
    const NavMat33& s = snapped.rotation;
    const bool axisAligned = IsSignedPermutation(s);
    ASSERT_NEAR(Determinant(s), 1.0, axisAligned ? 1e-12 : 1e-7);
    ASSERT_LT(OrthonormalError(s), axisAligned ? 1e-12 : 1e-7);
    ASSERT_TRUE(SameBytes(Snap(snapped, point).rotation, s));
    ASSERT_TRUE(Near(Mul(local, s) + snapped.translation, point, 1e-11));
  }
}

}  // namespace
