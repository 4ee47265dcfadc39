// Small vector and matrix helpers of the navigation routines, on the host's
// record types. Row vectors times matrices (v*M, a point or direction of the
// inner frame into the outer one) and matrices times column vectors (M*v,
// an outer direction into the inner frame), as the records' convention has it.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstring>

#include "kestrin_zel2_nav.h"

namespace KestrinNav {

inline NavVec3 Vec(double x, double y, double z) {
  NavVec3 v;
  v.x = x;
  v.y = y;
  v.z = z;
  return v;
}

inline NavVec3 Add(const NavVec3& a, const NavVec3& b) { return Vec(a.x + b.x, a.y + b.y, a.z + b.z); }
inline NavVec3 Sub(const NavVec3& a, const NavVec3& b) { return Vec(a.x - b.x, a.y - b.y, a.z - b.z); }
inline NavVec3 Scale(double s, const NavVec3& a) { return Vec(s * a.x, s * a.y, s * a.z); }
inline NavVec3 Divide(const NavVec3& a, double s) { return Vec(a.x / s, a.y / s, a.z / s); }
inline NavVec3 Negate(const NavVec3& a) { return Vec(-a.x, -a.y, -a.z); }
inline double Dot(const NavVec3& a, const NavVec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline NavVec3 Cross(const NavVec3& a, const NavVec3& b) {
  return Vec(a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x);
}

inline NavVec3 Row(const NavMat33& m, int i) { return Vec(m.m[i][0], m.m[i][1], m.m[i][2]); }
inline void SetRow(NavMat33& m, int i, const NavVec3& v) {
  m.m[i][0] = v.x;
  m.m[i][1] = v.y;
  m.m[i][2] = v.z;
}

// v*M: sum of v's components times M's rows.
inline NavVec3 RowTimes(const NavVec3& v, const NavMat33& m) {
  return Vec(v.x * m.m[0][0] + v.y * m.m[1][0] + v.z * m.m[2][0],
             v.x * m.m[0][1] + v.y * m.m[1][1] + v.z * m.m[2][1],
             v.x * m.m[0][2] + v.y * m.m[1][2] + v.z * m.m[2][2]);
}

// M*v: component i is row i of M dotted with v.
inline NavVec3 TimesColumn(const NavMat33& m, const NavVec3& v) {
  return Vec(Dot(Row(m, 0), v), Dot(Row(m, 1), v), Dot(Row(m, 2), v));
}

// a*b, element i,j = row i of a dotted with column j of b.
inline NavMat33 Multiply(const NavMat33& a, const NavMat33& b) {
  NavMat33 r;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      r.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j];
  return r;
}

inline NavMat33 Transpose(const NavMat33& a) {
  NavMat33 r;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r.m[i][j] = a.m[j][i];
  return r;
}

inline NavMat33 Identity() {
  NavMat33 r = {};
  r.m[0][0] = r.m[1][1] = r.m[2][2] = 1.0;
  return r;
}

// The rotation by angle about the unit axis (x, y, z).
inline NavMat33 AxisRotation(double angle, const NavVec3& axis) {
  const double c = std::cos(angle), s = std::sin(angle), k = 1.0 - c;
  const double x = axis.x, y = axis.y, z = axis.z;
  NavMat33 r;
  r.m[0][0] = k * x * x + c;
  r.m[0][1] = k * y * x - z * s;
  r.m[0][2] = k * z * x + y * s;
  r.m[1][0] = k * x * y + z * s;
  r.m[1][1] = k * y * y + c;
  r.m[1][2] = k * z * y - x * s;
  r.m[2][0] = k * x * z - y * s;
  r.m[2][1] = k * y * z + x * s;
  r.m[2][2] = k * z * z + c;
  return r;
}

// The unit world axis of a settings record's upAxis: taken modulo 3 into
// 0..2, so a negative value names an axis too instead of reading outside.
inline NavVec3 UpAxisVector(int upAxis) {
  int i = upAxis % 3;
  if (i < 0) i += 3;
  return Vec(i == 0 ? 1.0 : 0.0, i == 1 ? 1.0 : 0.0, i == 2 ? 1.0 : 0.0);
}

// True when no value of a record of count doubles that was a finite number
// before a step is an infinity or a NaN after it (a value the host gave as
// neither is left to the host). The records are copied out as doubles: the
// host's need not be aligned.
inline bool StaysFinite(const void* before, const void* after, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    double b, a;
    std::memcpy(&b, static_cast<const char*>(before) + i * sizeof b, sizeof b);
    std::memcpy(&a, static_cast<const char*>(after) + i * sizeof a, sizeof a);
    if (std::isfinite(b) && !std::isfinite(a)) return false;
  }
  return true;
}
// The same for a record made of doubles only.
template <typename Record>
bool StaysFinite(const Record& before, const Record& after) {
  static_assert(sizeof(Record) % sizeof(double) == 0, "a record of doubles");
  return StaysFinite(&before, &after, sizeof(Record) / sizeof(double));
}
// The pivot and its depth, the doubles of a settings record.
inline bool PivotStaysFinite(const NavSettings& before, const NavSettings& after) {
  return StaysFinite(&before.pivot, &after.pivot, 4);
}

// Rebuilds two rows of m so that row 0 is perpendicular to up; the row most
// aligned with up is kept.
void MakeUpright(NavMat33& m, const NavVec3& up);

}  // namespace KestrinNav
