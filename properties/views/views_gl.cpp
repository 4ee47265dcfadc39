#include "views_gl.h"

#include "teapot.h"

#ifndef GL_BGRA_EXT
#define GL_BGRA_EXT 0x80E1
#endif

namespace views {

void DrawBackground(const GLint viewport[4], const unsigned char* pixels) {
  glDrawBuffer(GL_BACK);
  glClearColor(1.0f, 0.0f, 0.0f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glViewport(viewport[0], viewport[1], viewport[2], viewport[3]);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  if (!pixels) return;
  // From the top left corner downward, so the rows go top to bottom.
  glRasterPos2f(-1.0f, 1.0f);
  glPixelZoom(1.0f, -1.0f);
  glDrawPixels(viewport[2], viewport[3], GL_BGRA_EXT, GL_UNSIGNED_BYTE, pixels);
  glPixelZoom(1.0f, 1.0f);
}

void SetScreenViewport(const GLint viewport[4], float scale) {
  const GLint left = static_cast<GLint>(kScreenLeft * scale);
  const GLint bottom = static_cast<GLint>(kScreenBottom * scale);
  const GLint across = static_cast<GLint>((kScreenLeft + kScreenRight) * scale);
  const GLint down = static_cast<GLint>((kScreenTop + kScreenBottom) * scale);
  glViewport(viewport[0] + left, viewport[1] + bottom, viewport[2] - across,
             viewport[3] - down);
}

void DrawMotionScene(AXformf& object, const AViewVolume& view, const GLint viewport[4], int b3D) {
  Kestrin1::CSpatialMath::AMat43f& m = object.m_Matrix;
  m.m_Translation.z = -20.0f;

  const float h = view.m_Height;
  const float a = viewport[3] ? static_cast<float>(viewport[2]) / static_cast<float>(viewport[3])
                              : 1.0f;
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(-0.5 * h * a, 0.5 * h * a, -0.5 * h, 0.5 * h, -view.m_NearZ, -view.m_FarZ);

  glMatrixMode(GL_MODELVIEW);
  if (b3D) {
    // Row vectors times the rotation, then the translation: OpenGL's
    // column-major array holds exactly the rows of that 4 x 4 matrix.
    const Kestrin1::CSpatialMath::AVec3f* r = m.m_Rotation.m_Row;
    const GLfloat matrix[16] = {r[0].x, r[0].y, r[0].z, 0.0f,
                                r[1].x, r[1].y, r[1].z, 0.0f,
                                r[2].x, r[2].y, r[2].z, 0.0f,
                                m.m_Translation.x, m.m_Translation.y, m.m_Translation.z, 1.0f};
    glLoadMatrixf(matrix);
  } else {
    glLoadIdentity();
    glTranslatef(m.m_Translation.x, m.m_Translation.y, m.m_Translation.z);
  }

  glScalef(0.4f, 0.4f, 0.4f);
  glEnable(GL_DEPTH_TEST);
  glClearDepth(1.0);
  glClear(GL_DEPTH_BUFFER_BIT);
  glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
  // A green mesh pushed slightly back under a coarser grey one pulled
  // slightly forward.
  glColor3f(0.33203125f, 0.828125f, 0.31640625f);
  glDepthRange(1.0 / 2048.0, 1.0);
  DrawTeapot(14, GL_FILL, 1.0);
  glColor3f(0.3f, 0.3f, 0.3f);
  glDepthRange(0.0, 2047.0 / 2048.0);
  DrawTeapot(10, GL_LINE, 1.0);
}

}  // namespace views
