// Helpers of the math and navigation tests: comparisons with a tolerance, a
// seeded source of random rotations and transforms.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "spatial_math.h"

namespace mathtest {

using Kestrin1::CSpatialMath;
using AVec3f = CSpatialMath::AVec3f;
using AMat33f = CSpatialMath::AMat33f;
using AMat43f = CSpatialMath::AMat43f;
using AXformf = CSpatialMath::AXformf;

const double kPi = 3.14159265358979323846;

inline float Dot(const AVec3f& a, const AVec3f& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline float Length(const AVec3f& v) { return std::sqrt(Dot(v, v)); }

inline ::testing::AssertionResult Near(const AVec3f& a, const AVec3f& b, float tolerance) {
  if (std::fabs(a.x - b.x) <= tolerance && std::fabs(a.y - b.y) <= tolerance &&
      std::fabs(a.z - b.z) <= tolerance) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "(" << a.x << ", " << a.y << ", " << a.z << ") vs ("
                                       << b.x << ", " << b.y << ", " << b.z << ")";
}

inline ::testing::AssertionResult Near(const AMat33f& a, const AMat33f& b, float tolerance) {
  for (int r = 0; r < 3; ++r) {
    ::testing::AssertionResult row = Near(a.m_Row[r], b.m_Row[r], tolerance);
    if (!row) return row << " in row " << r;
  }
  return ::testing::AssertionSuccess();
}

inline bool Finite(const AVec3f& v) {
  return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

inline bool Finite(const AMat33f& m) {
  return Finite(m.m_Row[0]) && Finite(m.m_Row[1]) && Finite(m.m_Row[2]);
}

// Unit rows, pairwise perpendicular, and a proper rotation (determinant 1).
inline ::testing::AssertionResult Orthonormal(const AMat33f& m, float tolerance) {
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      const float expected = i == j ? 1.0f : 0.0f;
      const float dot = Dot(m.m_Row[i], m.m_Row[j]);
      if (!(std::fabs(dot - expected) <= tolerance)) {
        return ::testing::AssertionFailure() << "row " << i << " . row " << j << " = " << dot;
      }
    }
  }
  if (!(std::fabs(!m - 1.0f) <= tolerance)) {
    return ::testing::AssertionFailure() << "determinant " << !m;
  }
  return ::testing::AssertionSuccess();
}

class Random {
 public:
  explicit Random(unsigned seed) : engine_(seed) {}
  float Uniform(float low, float high) {
    return std::uniform_real_distribution<float>(low, high)(engine_);
  }
  AVec3f Vector(float magnitude) {
    return {Uniform(-magnitude, magnitude), Uniform(-magnitude, magnitude),
            Uniform(-magnitude, magnitude)};
  }
  AMat33f Rotation() {
    AVec3f axis;
    do axis = Vector(1.0f);
    while (Length(axis) < 0.1f);
    return CSpatialMath::Rotate(Uniform(-3.1f, 3.1f), axis);
  }
  AXformf Xform(float scaleLow, float scaleHigh, float reach) {
    AXformf x;
    x.m_Scale = Uniform(scaleLow, scaleHigh);
    x.m_Matrix.m_Rotation = Rotation();
    x.m_Matrix.m_Translation = Vector(reach);
    return x;
  }

 private:
  std::mt19937 engine_;
};

}  // namespace mathtest
