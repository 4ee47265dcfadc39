// The OpenGL view operations: the only part of the library that calls
// OpenGL (1.1 functions only, on the calling thread's current context).
#include "clarity.h"

#include <windows.h>

#include <GL/gl.h>

namespace Kestrin1 {

CClarity& CClarity::operator=(const CClarity&) { return *this; }

void CClarity::Apply(const AMat33f& rotation) {
  float angle;
  AVec3f axis;
  CSpatialMath::MatrixToAxis(angle, axis, rotation);
  glRotatef(angle, axis.x, axis.y, axis.z);  // glRotatef normalises the axis
}

void CClarity::Apply(const AVec3f& translation) {
  glTranslatef(translation.x, translation.y, translation.z);
}

void CClarity::Apply(const AMat43f& matrix) {
  Apply(matrix.m_Translation);
  Apply(matrix.m_Rotation);
}

void CClarity::Apply(const AXformf& xform) {
  Apply(xform.m_Matrix);
  glScalef(xform.m_Scale, xform.m_Scale, xform.m_Scale);
}

void CClarity::ApplyInverse(const AMat33f& rotation) {
  float angle;
  AVec3f axis;
  CSpatialMath::MatrixToAxis(angle, axis, rotation);
  glRotatef(-angle, axis.x, axis.y, axis.z);
}

void CClarity::ApplyInverse(const AVec3f& translation) {
  glTranslatef(-translation.x, -translation.y, -translation.z);
}

void CClarity::ApplyInverse(const AMat43f& matrix) {
  ApplyInverse(matrix.m_Rotation);
  ApplyInverse(matrix.m_Translation);
}

void CClarity::ApplyInverse(const AXformf& xform) {
  const float inverse = 1.0f / xform.m_Scale;
  glScalef(inverse, inverse, inverse);
  ApplyInverse(xform.m_Matrix);
}

void CClarity::ApplyView(float width, float height, const AViewVolume& view,
                         const AMat43f& camera) {
  const float h = view.m_Height * 0.5f;
  float halfW = h, halfH = h;
  if (width > height) halfW = width / height * h;
  else halfH = height / width * h;

  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  if (view.m_Perspective != 0) {
    // The rectangle scaled from the view plane to the near plane; an
    // off-centre rectangle gives an asymmetric frustum.
    const float k = view.m_NearZ / view.m_ViewPlaneZ;
    glFrustum((view.m_CenterX - halfW) * k, (view.m_CenterX + halfW) * k,
              (view.m_CenterY - halfH) * k, (view.m_CenterY + halfH) * k, -view.m_NearZ,
              -view.m_FarZ);
  } else {
    glOrtho(-halfW, halfW, -halfH, halfH, -view.m_NearZ, -view.m_FarZ);
    if (view.m_CenterX != 0.0f || view.m_CenterY != 0.0f) {
      // x' = x - (cx / zv) z, y' = y - (cy / zv) z: the centre of the view
      // rectangle lands on the box's axis while depth stays parallel. A
      // buffer of the call's own, so that threads with contexts of their own
      // cannot meet in it.
      GLdouble shear[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
      shear[8] = -(view.m_CenterX / view.m_ViewPlaneZ);
      shear[9] = -(view.m_CenterY / view.m_ViewPlaneZ);
      glMultMatrixd(shear);
    }
  }

  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  // Identity's own matrix (by address) means no camera.
  if (&camera != &CSpatialMath::Identity.m_Matrix) ApplyInverse(camera);
}

}  // namespace Kestrin1
