// Helpers of the navigation tests: records built field by field, points
// through frames, comparisons with a tolerance, and a seeded source of random
// rotations and frames. The test side computes with its own arithmetic
// (rotations from unit quaternions), not with the routines under test.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "kestrin_zel2_nav.h"

namespace navtest {

const double kPi = 3.14159265358979323846;

inline NavVec3 V(double x, double y, double z) {
  NavVec3 v;
  v.x = x;
  v.y = y;
  v.z = z;
  return v;
}
inline NavVec3 operator+(const NavVec3& a, const NavVec3& b) { return V(a.x + b.x, a.y + b.y, a.z + b.z); }
inline NavVec3 operator-(const NavVec3& a, const NavVec3& b) { return V(a.x - b.x, a.y - b.y, a.z - b.z); }
inline NavVec3 operator*(double s, const NavVec3& a) { return V(s * a.x, s * a.y, s * a.z); }
inline double Dot(const NavVec3& a, const NavVec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline double Length(const NavVec3& a) { return std::sqrt(Dot(a, a)); }
inline NavVec3 RowOf(const NavMat33& m, int i) { return V(m.m[i][0], m.m[i][1], m.m[i][2]); }

// p*M.
inline NavVec3 Mul(const NavVec3& p, const NavMat33& m) {
  return p.x * RowOf(m, 0) + p.y * RowOf(m, 1) + p.z * RowOf(m, 2);
}
// M*v.
inline NavVec3 Mul(const NavMat33& m, const NavVec3& v) {
  return V(Dot(RowOf(m, 0), v), Dot(RowOf(m, 1), v), Dot(RowOf(m, 2), v));
}
inline NavMat33 Mul(const NavMat33& a, const NavMat33& b) {
  NavMat33 r;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      r.m[i][j] = 0.0;
      for (int k = 0; k < 3; ++k) r.m[i][j] += a.m[i][k] * b.m[k][j];
    }
  return r;
}
inline NavMat33 Transposed(const NavMat33& a) {
  NavMat33 r;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r.m[i][j] = a.m[j][i];
  return r;
}
inline double Determinant(const NavMat33& m) {
  return m.m[0][0] * (m.m[1][1] * m.m[2][2] - m.m[1][2] * m.m[2][1]) -
         m.m[0][1] * (m.m[1][0] * m.m[2][2] - m.m[1][2] * m.m[2][0]) +
         m.m[0][2] * (m.m[1][0] * m.m[2][1] - m.m[1][1] * m.m[2][0]);
}

inline NavMat33 Mat(const NavVec3& r0, const NavVec3& r1, const NavVec3& r2) {
  NavMat33 m;
  const NavVec3 rows[3] = {r0, r1, r2};
  for (int i = 0; i < 3; ++i) {
    m.m[i][0] = rows[i].x;
    m.m[i][1] = rows[i].y;
    m.m[i][2] = rows[i].z;
  }
  return m;
}
inline NavMat33 Ident() { return Mat(V(1, 0, 0), V(0, 1, 0), V(0, 0, 1)); }

// The rotation that turns the moved frame by angle about a unit axis, in the
// row convention (a point p turns to p*R), from a unit quaternion.
inline NavMat33 Rotation(double angle, NavVec3 axis) {
  axis = (1.0 / Length(axis)) * axis;
  const double w = std::cos(angle / 2), s = std::sin(angle / 2);
  const double x = axis.x * s, y = axis.y * s, z = axis.z * s;
  // Column-vector form first, then transposed into the row convention.
  NavMat33 c = Mat(V(1 - 2 * (y * y + z * z), 2 * (x * y - w * z), 2 * (x * z + w * y)),
                   V(2 * (x * y + w * z), 1 - 2 * (x * x + z * z), 2 * (y * z - w * x)),
                   V(2 * (x * z - w * y), 2 * (y * z + w * x), 1 - 2 * (x * x + y * y)));
  return Transposed(c);
}

inline NavMat43 Frame(const NavMat33& r, const NavVec3& t) {
  NavMat43 f;
  f.rotation = r;
  f.translation = t;
  return f;
}
inline NavXform Xform(double s, const NavMat33& r, const NavVec3& t) {
  NavXform x;
  x.scale = s;
  x.rotation = r;
  x.translation = t;
  return x;
}
inline NavVolume Volume(double w, double h, double perspective, double slopeX = 0,
                        double slopeY = 0) {
  NavVolume v;
  v.halfWidth = w;
  v.halfHeight = h;
  v.perspective = perspective;
  v.slopeX = slopeX;
  v.slopeY = slopeY;
  return v;
}
inline NavDelta Delta(double dx, double dy, double zoom, double ax = 0, double ay = 0,
                      double az = 0) {
  NavDelta d;
  d.dx = dx;
  d.dy = dy;
  d.zoom = zoom;
  d.ax = ax;
  d.ay = ay;
  d.az = az;
  return d;
}
inline NavMotion Motion(double tx, double ty, double tz, double rx = 0, double ry = 0, double rz = 0,
                        double sx = 0, double sy = 0) {
  NavMotion m;
  m.tx = tx;
  m.ty = ty;
  m.tz = tz;
  m.rx = rx;
  m.ry = ry;
  m.rz = rz;
  m.scrollX = sx;
  m.scrollY = sy;
  return m;
}
// Settings with every flag off.
inline NavSettings Plain(uint32_t kind, double pivotDepth = 0, NavVec3 pivot = V(0, 0, 0)) {
  NavSettings s;
  std::memset(&s, 0, sizeof s);
  s.kind = kind;
  s.pivot = pivot;
  s.pivotDepth = pivotDepth;
  return s;
}

// Points through the transforms: object space to parent space, parent to
// world, world to view (camera null = identity).
inline NavVec3 ToOuter(const NavXform& x, const NavVec3& p) {
  return x.scale * Mul(p, x.rotation) + x.translation;
}
inline NavVec3 WorldToView(const NavMat43* camera, const NavVec3& w) {
  return camera ? Mul(camera->rotation, w - camera->translation) : w;
}

template <typename T>
bool SameBytes(const T& a, const T& b) {
  return std::memcmp(&a, &b, sizeof(T)) == 0;
}

inline ::testing::AssertionResult Near(const NavVec3& a, const NavVec3& b, double tolerance) {
  const double e = std::fmax(std::fabs(a.x - b.x), std::fmax(std::fabs(a.y - b.y), std::fabs(a.z - b.z)));
  if (e <= tolerance) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "(" << a.x << ", " << a.y << ", " << a.z << ") vs ("
                                       << b.x << ", " << b.y << ", " << b.z << "), off by " << e;
}
inline ::testing::AssertionResult Near(const NavMat33& a, const NavMat33& b, double tolerance) {
  for (int i = 0; i < 3; ++i) {
    ::testing::AssertionResult row = Near(RowOf(a, i), RowOf(b, i), tolerance);
    if (!row) return row << " in row " << i;
  }
  return ::testing::AssertionSuccess();
}

// The largest deviation of m*m^T from the identity.
inline double OrthonormalError(const NavMat33& m) {
  double e = 0;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      e = std::fmax(e, std::fabs(Dot(RowOf(m, i), RowOf(m, j)) - (i == j ? 1.0 : 0.0)));
  return e;
}

inline bool Finite(const NavVec3& v) {
  return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}
inline bool Finite(const NavMat33& m) {
  return Finite(RowOf(m, 0)) && Finite(RowOf(m, 1)) && Finite(RowOf(m, 2));
}

// A fixed-seed source of random inputs.
class Random {
 public:
  explicit Random(uint64_t seed) : engine_(seed) {}
  double Uniform(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(engine_); }
  int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(engine_); }
  NavVec3 Vector(double r) { return V(Uniform(-r, r), Uniform(-r, r), Uniform(-r, r)); }
  NavVec3 Direction() {
    for (;;) {
      const NavVec3 v = Vector(1.0);
      const double l = Length(v);
      if (l > 0.1 && l <= 1.0) return (1.0 / l) * v;
    }
  }
  NavMat33 RotationMatrix() { return Rotation(Uniform(-kPi, kPi), Direction()); }

 private:
  std::mt19937_64 engine_;
};

}  // namespace navtest
