#include "spatial_math.h"

#include <gtest/gtest.h>

#include <cmath>

#include "math_test_util.h"

namespace {

using namespace mathtest;
using EEulerOrder = CSpatialMath::EEulerOrder;

AMat33f Rows(AVec3f r0, AVec3f r1, AVec3f r2) {
  AMat33f m;
  m.m_Row[0] = r0;
  m.m_Row[1] = r1;
  m.m_Row[2] = r2;
  return m;
}

const AMat33f kIdentity = Rows({1, 0, 0}, {0, 1, 0}, {0, 0, 1});

TEST(SpatialMathData, IdentityAndTheUnitRowsThatReferToIt) {
  const AXformf& id = CSpatialMath::Identity;
  EXPECT_EQ(id.m_Scale, 1.0f);
  EXPECT_TRUE(Near(id.m_Matrix.m_Rotation, kIdentity, 0.0f));
  EXPECT_TRUE(Near(id.m_Matrix.m_Translation, {0, 0, 0}, 0.0f));
  EXPECT_EQ(&CSpatialMath::UnitX, &id.m_Matrix.m_Rotation.m_Row[0]);
  EXPECT_EQ(&CSpatialMath::UnitY, &id.m_Matrix.m_Rotation.m_Row[1]);
  EXPECT_EQ(&CSpatialMath::UnitZ, &id.m_Matrix.m_Rotation.m_Row[2]);
}

TEST(SpatialMathData, ConstantsAreTheFloatsNearestToTheExactValues) {
  EXPECT_EQ(CSpatialMath::pi(), static_cast<float>(kPi));
  EXPECT_EQ(CSpatialMath::deg2rad(), static_cast<float>(kPi / 180.0));
  EXPECT_EQ(CSpatialMath::rad2deg(), static_cast<float>(180.0 / kPi));
  // The nearer of the two neighbouring floats, not the printed 57.295776.
  EXPECT_NE(CSpatialMath::rad2deg(), 57.295776f);
  EXPECT_LT(std::fabs(CSpatialMath::rad2deg() - 180.0 / kPi),
            std::fabs(57.295776f - 180.0 / kPi));
}

TEST(SpatialMathData, AssignmentOfTheEmptyClassReturnsTheObject) {
  CSpatialMath a, b;
  EXPECT_EQ(&(a = b), &a);
}

TEST(SpatialMathProducts, DeterminantCrossProductAndSumAbs) {
  EXPECT_EQ(!kIdentity, 1.0f);
  EXPECT_EQ(!Rows({2, 0, 0}, {0, 3, 0}, {0, 0, 4}), 24.0f);
  EXPECT_EQ(!Rows({0, 1, 0}, {1, 0, 0}, {0, 0, 1}), -1.0f);
  EXPECT_EQ(!Rows({1, 2, 3}, {4, 5, 6}, {7, 8, 10}), -3.0f);
  EXPECT_TRUE(Near(CSpatialMath::UnitX * CSpatialMath::UnitY, CSpatialMath::UnitZ, 0.0f));
  EXPECT_TRUE(Near(AVec3f{1, 2, 3} * AVec3f{4, 5, 6}, {-3, 6, -3}, 0.0f));
  EXPECT_EQ(CSpatialMath::SumAbs({-1, 2, -3}), 6.0f);
}

TEST(SpatialMathProducts, VectorTimesMatrixAndItsTranspose) {
  const AMat33f m = Rows({1, 2, 3}, {4, 5, 6}, {7, 8, 10});
  // Row r is the image of unit axis r.
  EXPECT_TRUE(Near(CSpatialMath::UnitY * m, m.m_Row[1], 0.0f));
  EXPECT_TRUE(Near(AVec3f{1, 1, 2} * m, {19, 23, 29}, 0.0f));
  EXPECT_TRUE(Near(AVec3f{1, 1, 2} / m, {9, 21, 35}, 0.0f));
  Random random(3);
  for (int i = 0; i < 20; ++i) {
    AMat33f n = Rows(random.Vector(2), random.Vector(2), random.Vector(2));
    const AVec3f v = random.Vector(5);
    EXPECT_TRUE(Near(v * n, v / ~n, 0.0f));
    AVec3f w = v;
    EXPECT_EQ(&(w *= n), &w);
    EXPECT_TRUE(Near(w, v * n, 0.0f));
    w = v;
    EXPECT_EQ(&(w /= n), &w);
    EXPECT_TRUE(Near(w, v / n, 0.0f));
    const AMat33f copy = n;
    CSpatialMath::Transpose(CSpatialMath::Transpose(n));
    EXPECT_TRUE(Near(n, copy, 0.0f));
    EXPECT_TRUE(Near(CSpatialMath::Transpose(n), ~copy, 0.0f));
  }
}

TEST(SpatialMathProducts, CompoundMatrixProductsMultiplyOnTheirSide) {
  const AMat33f n = CSpatialMath::Rotate(0.7f, CSpatialMath::UnitZ);
  const AMat33f m0 = CSpatialMath::Rotate(0.4f, CSpatialMath::UnitX);
  // (m n)(0, j) = sum over k of m(0, k) n(k, j); with m about x, row 0 of m
  // is UnitX, so row 0 of m n is row 0 of n, and row 0 of n m is row 0 of n
  // times m.
  AMat33f mn = m0;
  EXPECT_EQ(&(mn *= n), &mn);
  AMat33f nm = m0;
  EXPECT_EQ(&(nm /= n), &nm);
  EXPECT_TRUE(Near(mn.m_Row[0], n.m_Row[0], 1e-7f));
  EXPECT_TRUE(Near(nm.m_Row[0], n.m_Row[0] * m0, 1e-7f));
  EXPECT_FALSE(Near(mn, nm, 1e-3f));
  for (int r = 0; r < 3; ++r) {
    EXPECT_TRUE(Near(mn.m_Row[r], m0.m_Row[r] * n, 1e-7f));
    EXPECT_TRUE(Near(nm.m_Row[r], n.m_Row[r] * m0, 1e-7f));
  }
}

// One object on both sides, or a row of the matrix as the vector: every
// form must still give the product of the values before the call.
TEST(SpatialMathProducts, CompoundFormsWithTheSameObjectOnBothSides) {
  const AMat33f m = Rows({1, 2, 3}, {4, 5, 6}, {7, 8, 10});
  AMat33f square = m;
  AMat33f copy = m;
  copy *= m;
  square *= square;
  EXPECT_TRUE(Near(square, copy, 0.0f));
  square = m;
  square /= square;
  EXPECT_TRUE(Near(square, copy, 0.0f));  // m m either way
  for (int r = 0; r < 3; ++r) {
    AMat33f row = m;
    row.m_Row[r] *= row;
    EXPECT_TRUE(Near(row.m_Row[r], m.m_Row[r] * m, 0.0f)) << "row " << r;
    row = m;
    row.m_Row[r] /= row;
    EXPECT_TRUE(Near(row.m_Row[r], m.m_Row[r] / m, 0.0f)) << "row " << r;
  }
}

TEST(SpatialMathRotate, AnAxisShorterThanAMillionthGivesTheIdentity) {
  const AVec3f axes[] = {{0, 0, 0}, {1e-7f, 0, 0}, {0, -5e-7f, 5e-7f}, {3e-7f, 3e-7f, 3e-7f}};
  for (const AVec3f& axis : axes) {
    for (float angle : {0.0f, 1.0f, -2.5f, 100.0f}) {
      EXPECT_TRUE(Near(CSpatialMath::Rotate(angle, axis), kIdentity, 0.0f))
          << axis.x << "," << axis.y << "," << axis.z << " angle " << angle;
    }
  }
  // Just long enough: a real rotation.
  EXPECT_FALSE(Near(CSpatialMath::Rotate(1.0f, {2e-6f, 0, 0}), kIdentity, 0.1f));
}

TEST(SpatialMathRotate, QuarterTurnAboutZAndItsAxisAndAngle) {
  const AMat33f m = CSpatialMath::Rotate(static_cast<float>(kPi / 2), CSpatialMath::UnitZ);
  EXPECT_TRUE(Near(m, Rows({0, -1, 0}, {1, 0, 0}, {0, 0, 1}), 1e-7f));
  float angle;
  AVec3f axis;
  CSpatialMath::MatrixToAxis(angle, axis, m);
  EXPECT_NEAR(angle, 90.0f, 1e-4f);
  EXPECT_TRUE(Near(axis, {0, 0, 2}, 1e-6f));
  // The axis need not be normalised; the angle does not depend on its length.
  EXPECT_TRUE(Near(CSpatialMath::Rotate(0.3f, {0, 0, 7}), CSpatialMath::Rotate(0.3f, {0, 0, 1}),
                   0.0f));
  EXPECT_NEAR(!m, 1.0f, 1e-6f);
}

TEST(SpatialMathMatrixToAxis, IdentityGivesZeroAboutUnitX) {
  float angle = -1;
  AVec3f axis = {5, 5, 5};
  CSpatialMath::MatrixToAxis(angle, axis, kIdentity);
  EXPECT_EQ(angle, 0.0f);
  EXPECT_TRUE(Near(axis, CSpatialMath::UnitX, 0.0f));
}

TEST(SpatialMathMatrixToAxis, UpTo150DegreesTheAngleAndTwiceTheSineTimesTheAxis) {
  const AVec3f axes[] = {{1, 0, 0}, {0, -1, 0}, {0.6f, 0, 0.8f}, {-0.48f, 0.6f, 0.64f}};
  for (const AVec3f& u : axes) {
    for (float degrees : {0.5f, 10.0f, 90.0f, 120.0f, 149.0f}) {
      const float radians = static_cast<float>(degrees * kPi / 180);
      float angle;
      AVec3f axis;
      CSpatialMath::MatrixToAxis(angle, axis, CSpatialMath::Rotate(radians, u));
      EXPECT_NEAR(angle, degrees, 2e-4f * degrees);
      const float twoSine = 2 * std::sin(radians);
      EXPECT_TRUE(Near(axis, {twoSine * u.x, twoSine * u.y, twoSine * u.z}, 1e-5f))
          << degrees << " degrees";
    }
  }
}

// Beyond 150 degrees the axis comes from the symmetric part: whichever
// diagonal element is largest, and whatever the axis's sign, the angle and
// axis found must give back the same rotation.
TEST(SpatialMathMatrixToAxis, BeyondOneFiftyDegreesTheRebuiltAxisGivesTheSameRotation) {
  const AVec3f axes[] = {{1, 0, 0},      {-1, 0, 0},         {0, 1, 0},          {0, -1, 0},
                         {0, 0, 1},      {0, 0, -1},         {0.8f, 0.6f, 0},    {-0.8f, 0, 0.6f},
                         {0, 0.6f, -0.8f}, {0.48f, -0.6f, -0.64f}, {-0.36f, 0.48f, 0.8f}};
  for (const AVec3f& u : axes) {
    for (float degrees : {151.0f, 170.0f, 179.0f, -160.0f, 180.0f}) {
      const AMat33f m = CSpatialMath::Rotate(static_cast<float>(degrees * kPi / 180), u);
      float angle;
      AVec3f axis;
      CSpatialMath::MatrixToAxis(angle, axis, m);
      EXPECT_GT(std::fabs(angle), 150.0f);
      EXPECT_TRUE(Near(CSpatialMath::Rotate(static_cast<float>(angle * kPi / 180), axis), m, 2e-5f))
          << u.x << "," << u.y << "," << u.z << " by " << degrees << " gave " << angle;
    }
  }
}

TEST(SpatialMathSelect, SmallestOffDiagonalElementLowestIndexOnTies) {
  struct Case {
    AMat33f m;
    EEulerOrder order;
  } cases[] = {
      {kIdentity, CSpatialMath::PivotM01},
      {Rows({9, 5, 4}, {3, 9, 2}, {6, 7, 9}), CSpatialMath::PivotM12},
      {Rows({0, -0.5f, 0.25f}, {-0.3f, 0, 0.4f}, {0.6f, 0.7f, 0}), CSpatialMath::PivotM02},
      {Rows({0, 1, 1}, {-0.5f, 0, 1}, {1, 1, 0}), CSpatialMath::PivotM10},
      {Rows({0, 1, 1}, {1, 0, 1}, {-0.5f, 0.5f, 0}), CSpatialMath::PivotM20},  // tie: 6 before 7
      {Rows({0, 1, 1}, {1, 0, 1}, {1, 0.1f, 0}), CSpatialMath::PivotM21},
      {Rows({0, 1, -1}, {1, 0, 1}, {1, 1, 0}), CSpatialMath::PivotM01},       // all equal in size
      {Rows({0, 2, 1}, {1, 0, 1}, {1, 1, 0}), CSpatialMath::PivotM02},
  };
  for (const Case& c : cases) EXPECT_EQ(CSpatialMath::Select(c.m), c.order);
}

TEST(SpatialMathEuler, IdentityUnpacksToZeroAnglesAndStaysUnchanged) {
  float angles[3] = {9, 9, 9};
  EXPECT_EQ(CSpatialMath::UnpackAngles(kIdentity, angles), CSpatialMath::PivotM01);
  EXPECT_EQ(angles[0], 0.0f);
  EXPECT_EQ(angles[1], 0.0f);
  EXPECT_EQ(angles[2], 0.0f);
  AMat33f m = kIdentity;
  EXPECT_EQ(&CSpatialMath::Orthonormalize(m), &m);
  EXPECT_TRUE(Near(m, kIdentity, 0.0f));
}

// Orthonormalize must reproduce a rotation whichever order Select picks;
// random rotations reach all six.
TEST(SpatialMathEuler, OrthonormalizeReproducesRotationsInEveryOrder) {
  Random random(11);
  int seen[8] = {};
  for (int i = 0; i < 3000; ++i) {
    const AMat33f r = random.Rotation();
    const EEulerOrder order = CSpatialMath::Select(r);
    ++seen[order];
    AMat33f m = r;
    CSpatialMath::Orthonormalize(m);
    ASSERT_TRUE(Near(m, r, 2e-6f)) << "order " << order;
    // The middle angle is the arc sine of the pivot.
    float angles[3];
    EXPECT_EQ(CSpatialMath::UnpackAngles(r, angles), order);
    const AVec3f& row = r.m_Row[order / 3];
    const float pivot = order % 3 == 0 ? row.x : order % 3 == 1 ? row.y : row.z;
    ASSERT_NEAR(std::sin(angles[1]), pivot, 1e-6f);
  }
  for (int order : {1, 2, 3, 5, 6, 7}) EXPECT_GT(seen[order], 20) << "order " << order;
}

TEST(SpatialMathEuler, ADriftedRotationBecomesOrthonormalAgain) {
  Random random(5);
  for (int i = 0; i < 200; ++i) {
    const AMat33f r = random.Rotation();
    AMat33f m = r;
    for (AVec3f& row : m.m_Row) {
      const AVec3f drift = random.Vector(0.01f);
      row = {row.x + drift.x, row.y + drift.y, row.z + drift.z};
    }
    CSpatialMath::Orthonormalize(m);
    ASSERT_TRUE(Orthonormal(m, 2e-6f));
    ASSERT_TRUE(Near(m, r, 0.05f));
  }
}

// A matrix far from a rotation can hold a pivot beyond +-1: no NaN, and the
// rebuilt matrix is still a rotation, with the pivot at the pole.
TEST(SpatialMathEuler, APivotBeyondOneIsClampedToThePole) {
  const AMat33f cases[] = {
      Rows({2, 2, 2}, {2, 2, 2}, {2, 2, 2}),
      Rows({0, -3, 5}, {4, 1, -6}, {-7, 8, 2}),
      Rows({1, -1.5f, 2}, {-2, 1, 3}, {4, -5, 1}),
  };
  for (const AMat33f& c : cases) {
    const EEulerOrder order = CSpatialMath::Select(c);
    float angles[3];
    EXPECT_EQ(CSpatialMath::UnpackAngles(c, angles), order);
    for (float a : angles) EXPECT_TRUE(std::isfinite(a));
    const float pole = static_cast<float>(kPi / 2);
    EXPECT_NEAR(std::fabs(angles[1]), pole, 1e-6f);
    AMat33f m = c;
    CSpatialMath::Orthonormalize(m);
    EXPECT_TRUE(Finite(m));
    EXPECT_TRUE(Orthonormal(m, 1e-6f));
  }
}

}  // namespace
