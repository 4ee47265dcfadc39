// The OpenGL view operations of Kestrin1.dll: the math types applied to the
// current OpenGL matrix, forward or inverse, and the projection and
// model-view matrices of a view volume. Every operation works on the calling
// thread's current context and needs OpenGL 1.1 only. The header itself
// needs no OpenGL: the navigation reads the same view volume.
#pragma once

#include "kestrin1_api.h"
#include "spatial_math.h"

namespace Kestrin1 {

class CClarity {
 public:
  using AVec3f = CSpatialMath::AVec3f;
  using AMat33f = CSpatialMath::AMat33f;
  using AMat43f = CSpatialMath::AMat43f;
  using AXformf = CSpatialMath::AXformf;

  // A view in eye coordinates (the eye looks along -z). The z values are
  // signed coordinates, not distances: all three are negative, m_FarZ below
  // m_NearZ. The width of the view rectangle follows from the window's
  // aspect ratio.
  struct AViewVolume {
    int m_Perspective;  // 0: orthographic; any other value: perspective
    float m_CenterX;    // centre of the view rectangle
    float m_CenterY;
    float m_ViewPlaneZ;  // the plane that holds the view rectangle
    float m_Height;      // full height of the view rectangle on that plane
    float m_NearZ;
    float m_FarZ;
  };

  // M := M R (glRotatef with MatrixToAxis's angle and axis).
  KESTRIN1_API static void Apply(const AMat33f& rotation);
  // M := M T.
  KESTRIN1_API static void Apply(const AVec3f& translation);
  // M := M T R.
  KESTRIN1_API static void Apply(const AMat43f& matrix);
  // M := M T R S.
  KESTRIN1_API static void Apply(const AXformf& xform);
  KESTRIN1_API static void ApplyInverse(const AMat33f& rotation);
  KESTRIN1_API static void ApplyInverse(const AVec3f& translation);
  // M := M R^-1 T^-1.
  KESTRIN1_API static void ApplyInverse(const AMat43f& matrix);
  // M := M S^-1 R^-1 T^-1.
  KESTRIN1_API static void ApplyInverse(const AXformf& xform);
  // Replaces the projection matrix by the view's (width and height are the
  // viewport's size in pixels) and the model-view matrix by the inverse of
  // the camera's placement, and leaves the matrix mode at GL_MODELVIEW.
  // Passing CSpatialMath::Identity.m_Matrix itself (the address counts, not
  // the value) leaves the model-view matrix at identity.
  KESTRIN1_API static void ApplyView(float width, float height, const AViewVolume& view,
                                     const AMat43f& camera);

  // The class has no data: assignment copies nothing.
  KESTRIN1_API CClarity& operator=(const CClarity& other);
};

static_assert(sizeof(CClarity::AViewVolume) == 28, "AViewVolume: seven 4-byte fields");

}  // namespace Kestrin1
