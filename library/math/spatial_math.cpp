#include "spatial_math.h"

#include <cfloat>
#include <cmath>

#include "math_private.h"

// Single precision means single precision: every float operation rounds as it
// goes (SSE, not the x87 unit), so results do not depend on the build.
static_assert(FLT_EVAL_METHOD == 0, "float expressions must be evaluated in float");

namespace Kestrin1 {

using AVec3f = CSpatialMath::AVec3f;
using AMat33f = CSpatialMath::AMat33f;
using AXformf = CSpatialMath::AXformf;
using EEulerOrder = CSpatialMath::EEulerOrder;

const AXformf CSpatialMath::Identity = {
    1.0f, {{{{1.0f, 0.0f, 0.0f}, {0.0f, 1.0f, 0.0f}, {0.0f, 0.0f, 1.0f}}}, {0.0f, 0.0f, 0.0f}}};
const AVec3f& CSpatialMath::UnitX = CSpatialMath::Identity.m_Matrix.m_Rotation.m_Row[0];
const AVec3f& CSpatialMath::UnitY = CSpatialMath::Identity.m_Matrix.m_Rotation.m_Row[1];
const AVec3f& CSpatialMath::UnitZ = CSpatialMath::Identity.m_Matrix.m_Rotation.m_Row[2];

float CSpatialMath::pi() { return 3.14159265358979323846f; }
float CSpatialMath::deg2rad() { return static_cast<float>(3.14159265358979323846 / 180.0); }
float CSpatialMath::rad2deg() { return static_cast<float>(180.0 / 3.14159265358979323846); }

CSpatialMath& CSpatialMath::operator=(const CSpatialMath&) { return *this; }

namespace math {

float Sqrt(float x) { return static_cast<float>(std::sqrt(static_cast<double>(x))); }
float Sin(float x) { return static_cast<float>(std::sin(static_cast<double>(x))); }
float Cos(float x) { return static_cast<float>(std::cos(static_cast<double>(x))); }
float Atan2(float y, float x) {
  return static_cast<float>(std::atan2(static_cast<double>(y), static_cast<double>(x)));
}

float Length(const AVec3f& v) { return Sqrt(v.x * v.x + v.y * v.y + v.z * v.z); }
float Dot(const AVec3f& a, const AVec3f& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

float& Element(AMat33f& m, int index) {
  AVec3f& row = m.m_Row[index / 3];
  switch (index % 3) {
    case 0: return row.x;
    case 1: return row.y;
    default: return row.z;
  }
}

float Element(const AMat33f& m, int index) {
  return Element(const_cast<AMat33f&>(m), index);
}

}  // namespace math

using math::Element;

float operator!(const AMat33f& m) {
  const AVec3f& r0 = m.m_Row[0];
  const AVec3f& r1 = m.m_Row[1];
  const AVec3f& r2 = m.m_Row[2];
  return r0.y * (r1.z * r2.x - r1.x * r2.z) + r0.x * (r1.y * r2.z - r2.y * r1.z) +
         r0.z * (r2.y * r1.x - r1.y * r2.x);
}

AVec3f operator*(const AVec3f& a, const AVec3f& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

AVec3f operator*(const AVec3f& v, const AMat33f& m) {
  const AVec3f& r0 = m.m_Row[0];
  const AVec3f& r1 = m.m_Row[1];
  const AVec3f& r2 = m.m_Row[2];
  return {v.x * r0.x + v.y * r1.x + v.z * r2.x, v.x * r0.y + v.y * r1.y + v.z * r2.y,
          v.x * r0.z + v.y * r1.z + v.z * r2.z};
}

AVec3f operator/(const AVec3f& v, const AMat33f& m) {
  return {math::Dot(v, m.m_Row[0]), math::Dot(v, m.m_Row[1]), math::Dot(v, m.m_Row[2])};
}

AMat33f operator~(const AMat33f& m) {
  AMat33f t = m;
  return CSpatialMath::Transpose(t);
}

namespace {

// a b: element (i, j) is the sum over k of a(i, k) b(k, j).
AMat33f Product(const AMat33f& a, const AMat33f& b) {
  AMat33f p;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      Element(p, 3 * i + j) = Element(a, 3 * i) * Element(b, j) +
                              Element(a, 3 * i + 1) * Element(b, 3 + j) +
                              Element(a, 3 * i + 2) * Element(b, 6 + j);
    }
  }
  return p;
}

}  // namespace

// The compound forms compute the whole result from their arguments before
// writing it, so m *= m squares m, and a row of m may be multiplied by m.
AMat33f& operator*=(AMat33f& m, const AMat33f& n) {
  m = Product(m, n);
  return m;
}

AVec3f& operator*=(AVec3f& v, const AMat33f& m) {
  v = v * m;
  return v;
}

AMat33f& operator/=(AMat33f& m, const AMat33f& n) {
  m = Product(n, m);
  return m;
}

AVec3f& operator/=(AVec3f& v, const AMat33f& m) {
  v = v / m;
  return v;
}

AMat33f& CSpatialMath::Transpose(AMat33f& m) {
  AVec3f* r = m.m_Row;
  float t = r[0].y; r[0].y = r[1].x; r[1].x = t;
  t = r[0].z; r[0].z = r[2].x; r[2].x = t;
  t = r[1].z; r[1].z = r[2].y; r[2].y = t;
  return m;
}

float CSpatialMath::SumAbs(const AVec3f& v) {
  return (std::fabs(v.y) + std::fabs(v.x)) + std::fabs(v.z);
}

AMat33f CSpatialMath::Rotate(float angle, const AVec3f& axis) {
  const float n = math::Length(axis);
  if (n < 0.000001f) return Identity.m_Matrix.m_Rotation;
  const float x = axis.x / n, y = axis.y / n, z = axis.z / n;
  const float c = math::Cos(angle), s = math::Sin(angle), r = 1.0f - c;
  AMat33f m;
  m.m_Row[0] = {r * x * x + c, r * x * y - z * s, r * x * z + y * s};
  m.m_Row[1] = {r * x * y + z * s, r * y * y + c, r * y * z - x * s};
  m.m_Row[2] = {r * x * z - y * s, r * y * z + x * s, r * z * z + c};
  return m;
}

void CSpatialMath::MatrixToAxis(float& angle, AVec3f& axis, const AMat33f& m) {
  const float m00 = m.m_Row[0].x, m01 = m.m_Row[0].y, m02 = m.m_Row[0].z;
  const float m10 = m.m_Row[1].x, m11 = m.m_Row[1].y, m12 = m.m_Row[1].z;
  const float m20 = m.m_Row[2].x, m21 = m.m_Row[2].y, m22 = m.m_Row[2].z;
  const float t = m00 + m11 + m22 - 1.0f;
  AVec3f a = {m21 - m12, m02 - m20, m10 - m01};
  float degrees = math::Atan2(0.5f * math::Length(a), 0.5f * t) * 180.0f / 3.1415927f;
  if (degrees < 0.001f) {
    a = UnitX;
  } else if (degrees > 150.0f) {
    // Near a half turn the antisymmetric part vanishes: take the axis from the
    // symmetric part, through the largest diagonal element, and its sign
    // (which the symmetric part cannot give) from the antisymmetric part.
    if (m00 >= m11 && m00 >= m22) {
      a = {2.0f * m00 - t, m01 + m10, m02 + m20};
      if (m12 > m21) degrees = -degrees;
    } else if (m00 < m11 && m11 >= m22) {
      a = {m01 + m10, 2.0f * m11 - t, m21 + m12};
      if (m20 > m02) degrees = -degrees;
    } else {
      a = {m02 + m20, m21 + m12, 2.0f * m22 - t};
      if (m01 > m10) degrees = -degrees;
    }
  }
  angle = degrees;
  axis = a;
}

EEulerOrder CSpatialMath::Select(const AMat33f& m) {
  static const int candidates[] = {PivotM02, PivotM10, PivotM12, PivotM20, PivotM21};
  int pick = PivotM01;
  for (int c : candidates) {
    if (std::fabs(Element(m, pick)) > std::fabs(Element(m, c))) pick = c;
  }
  return static_cast<EEulerOrder>(pick);
}

namespace {

void NormalizePair(float& p, float& q) {
  const float l = q * q + p * p;
  if (std::fabs(l) < 0.001f) {
    p = 0.0f;
    q = 1.0f;
    return;
  }
  const float k = 1.0f / math::Sqrt(l);
  p = p * k;
  q = q * k;
}

// The flat indices of the pivot e, the other two elements of its column (a,
// b) and of its row (c, d), by order.
struct Roles {
  int e, a, b, c, d;
};

Roles RolesOf(EEulerOrder order) {
  switch (order) {
    case CSpatialMath::PivotM01: return {1, 7, 4, 2, 0};
    case CSpatialMath::PivotM02: return {2, 5, 8, 1, 0};
    case CSpatialMath::PivotM10: return {3, 6, 0, 5, 4};
    case CSpatialMath::PivotM12: return {5, 2, 8, 3, 4};
    case CSpatialMath::PivotM20: return {6, 3, 0, 7, 8};
    default: return {7, 1, 4, 6, 8};  // PivotM21
  }
}

// The pivot and the two normalised pairs of a matrix, with f = cos of the
// middle angle. A matrix far from a rotation can hold a pivot beyond +-1,
// whose sine would have no cosine: it is clamped to the pole.
struct Decomposition {
  EEulerOrder order;
  Roles at;
  float e, f, a, b, c, d;
};

Decomposition Decompose(const AMat33f& m) {
  Decomposition x;
  x.order = CSpatialMath::Select(m);
  x.at = RolesOf(x.order);
  x.e = Element(m, x.at.e);
  if (x.e > 1.0f) x.e = 1.0f;
  if (x.e < -1.0f) x.e = -1.0f;
  x.f = math::Sqrt(1.0f - x.e * x.e);
  x.a = Element(m, x.at.a);
  x.b = Element(m, x.at.b);
  x.c = Element(m, x.at.c);
  x.d = Element(m, x.at.d);
  NormalizePair(x.a, x.b);
  NormalizePair(x.c, x.d);
  return x;
}

}  // namespace

EEulerOrder CSpatialMath::UnpackAngles(const AMat33f& m, float* const angles) {
  const Decomposition x = Decompose(m);
  angles[0] = math::Atan2(x.a, x.b);
  angles[1] = math::Atan2(x.e, x.f);
  angles[2] = math::Atan2(x.c, x.d);
  return x.order;
}

AMat33f& CSpatialMath::Orthonormalize(AMat33f& m) {
  const Decomposition x = Decompose(m);
  const float e = x.e, f = x.f, a = x.a, b = x.b, c = x.c, d = x.d;
  Element(m, x.at.d) = d * f;
  Element(m, x.at.c) = c * f;
  Element(m, x.at.a) = a * f;
  Element(m, x.at.b) = b * f;
  const int rowA = x.at.a / 3, rowB = x.at.b / 3;
  const int columnC = x.at.c % 3, columnD = x.at.d % 3;
  Element(m, 3 * rowA + columnC) = d * b - a * e * c;
  Element(m, 3 * rowA + columnD) = -(c * b) - a * e * d;
  Element(m, 3 * rowB + columnC) = -(d * a) - b * e * c;
  Element(m, 3 * rowB + columnD) = c * a - b * e * d;
  // The pivot keeps its value, unless it lay beyond the pole.
  Element(m, x.at.e) = e;
  return m;
}

}  // namespace Kestrin1
