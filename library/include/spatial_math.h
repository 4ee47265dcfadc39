// The single-precision 3D math of Kestrin1.dll: vectors, rotation matrices,
// rigid transforms with a uniform scale, the operators on them and the
// conversions between rotation matrices, axis-angle pairs and Euler angles.
// No windows.h and no OpenGL: the same code builds natively.
//
// Conventions: matrices are row-major and their rows are the axes of the
// moved frame, expressed in the outer frame; points are row vectors
// multiplied from the left, so UnitX * M is row 0 of M. Rotate takes
// radians, MatrixToAxis returns degrees (for glRotatef), UnpackAngles
// returns radians.
#pragma once

#include <stddef.h>

#include "kestrin1_api.h"

namespace Kestrin1 {

// Scopes the records and the static routines; it has no data.
class CSpatialMath {
 public:
  struct AVec3f {
    float x, y, z;
  };

  // Element (r, c) is m_Row[r] component c; its flat index is 3r + c.
  struct AMat33f {
    AVec3f m_Row[3];
  };

  // A rotation followed by a translation (the fourth row).
  struct AMat43f {
    AMat33f m_Rotation;
    AVec3f m_Translation;
  };

  // A uniform scale, then a rotation and a translation: a point p goes to
  // (p * m_Scale) * m_Rotation + m_Translation.
  struct AXformf {
    float m_Scale;
    AMat43f m_Matrix;
  };

  // The Euler order chosen by Select: the flat index of the pivot element,
  // the off-diagonal element of smallest magnitude.
  enum EEulerOrder {
    PivotM01 = 1,
    PivotM02 = 2,
    PivotM10 = 3,
    PivotM12 = 5,
    PivotM20 = 6,
    PivotM21 = 7,
  };

  // Scale 1, identity rotation, zero translation.
  KESTRIN1_API static const AXformf Identity;
  // Rows 0, 1 and 2 of Identity's rotation.
  KESTRIN1_API static const AVec3f& UnitX;
  KESTRIN1_API static const AVec3f& UnitY;
  KESTRIN1_API static const AVec3f& UnitZ;

  // The floats nearest to pi, pi/180 and 180/pi.
  KESTRIN1_API static float pi();
  KESTRIN1_API static float deg2rad();
  KESTRIN1_API static float rad2deg();

  // The angle in degrees and the axis of a rotation matrix. The axis is not
  // normalised (glRotatef normalises it): for angles up to 150 degrees its
  // length is 2 sin(angle); near 0 it is UnitX.
  KESTRIN1_API static void MatrixToAxis(float& angle, AVec3f& axis, const AMat33f& m);
  // The rotation by angle (radians) about axis; the identity for an axis
  // shorter than 1e-6.
  KESTRIN1_API static AMat33f Rotate(float angle, const AVec3f& axis);
  // Rebuilds m in place as the rotation with the same three Euler angles (in
  // the order Select picks); always leaves orthonormal rows.
  KESTRIN1_API static AMat33f& Orthonormalize(AMat33f& m);
  KESTRIN1_API static AMat33f& Transpose(AMat33f& m);
  KESTRIN1_API static EEulerOrder Select(const AMat33f& m);
  // Writes three angles (radians) in the order Select picks and returns it.
  KESTRIN1_API static EEulerOrder UnpackAngles(const AMat33f& m, float* const angles);
  // |x| + |y| + |z|.
  KESTRIN1_API static float SumAbs(const AVec3f& v);

  // The class has no data: assignment copies nothing.
  KESTRIN1_API CSpatialMath& operator=(const CSpatialMath& other);
};

// The determinant.
KESTRIN1_API float operator!(const CSpatialMath::AMat33f& m);
// The cross product a x b.
KESTRIN1_API CSpatialMath::AVec3f operator*(const CSpatialMath::AVec3f& a,
                                            const CSpatialMath::AVec3f& b);
// v * M.
KESTRIN1_API CSpatialMath::AVec3f operator*(const CSpatialMath::AVec3f& v,
                                            const CSpatialMath::AMat33f& m);
// v times the transpose of M: (v . row0, v . row1, v . row2).
KESTRIN1_API CSpatialMath::AVec3f operator/(const CSpatialMath::AVec3f& v,
                                            const CSpatialMath::AMat33f& m);
// The transpose.
KESTRIN1_API CSpatialMath::AMat33f operator~(const CSpatialMath::AMat33f& m);
// M becomes M N.
KESTRIN1_API CSpatialMath::AMat33f& operator*=(CSpatialMath::AMat33f& m,
                                               const CSpatialMath::AMat33f& n);
// v becomes v * M.
KESTRIN1_API CSpatialMath::AVec3f& operator*=(CSpatialMath::AVec3f& v,
                                              const CSpatialMath::AMat33f& m);
// M becomes N M (N on the left).
KESTRIN1_API CSpatialMath::AMat33f& operator/=(CSpatialMath::AMat33f& m,
                                               const CSpatialMath::AMat33f& n);
// v becomes v times the transpose of M.
KESTRIN1_API CSpatialMath::AVec3f& operator/=(CSpatialMath::AVec3f& v,
                                              const CSpatialMath::AMat33f& m);

static_assert(sizeof(CSpatialMath::AVec3f) == 12, "AVec3f: three floats");
static_assert(sizeof(CSpatialMath::AMat33f) == 36, "AMat33f: nine floats");
static_assert(sizeof(CSpatialMath::AMat43f) == 48, "AMat43f: rotation, then translation");
static_assert(offsetof(CSpatialMath::AMat43f, m_Translation) == 36, "AMat43f translation row");
static_assert(sizeof(CSpatialMath::AXformf) == 52, "AXformf: scale, then AMat43f");
static_assert(offsetof(CSpatialMath::AXformf, m_Matrix) == 4, "AXformf: the scale comes first");

}  // namespace Kestrin1
