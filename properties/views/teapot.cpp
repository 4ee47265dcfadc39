#include "teapot.h"

#include "teapot_data.h"

namespace views {

namespace {

typedef GLdouble Grid[4][4][3];

void Put(GLdouble* out, const TeapotPoint& p, double sx, double sy) {
  out[0] = p.x * sx;
  out[1] = p.y * sy;
  out[2] = p.z;
}

}  // namespace

void DrawTeapot(int grid, GLenum meshMode, double size) {
  // Texture coordinates of the four corners of every patch.
  static const GLdouble kCorners[2][2][2] = {{{0, 0}, {1, 0}}, {{0, 1}, {1, 1}}};

  glPushAttrib(GL_ENABLE_BIT | GL_EVAL_BIT);
  glEnable(GL_AUTO_NORMAL);
  glEnable(GL_NORMALIZE);
  glEnable(GL_MAP2_VERTEX_3);
  glEnable(GL_MAP2_TEXTURE_COORD_2);
  glPushMatrix();
  glRotated(270.0, 1.0, 0.0, 0.0);
  glScaled(0.5 * size, 0.5 * size, 0.5 * size);
  glTranslated(0.0, 0.0, -1.5);

  for (int i = 0; i < kTeapotPatchCount; ++i) {
    const unsigned char* index = kTeapotPatches[i];
    // p: the patch as given; q: mirrored in y (columns reversed to keep the
    // winding); for a quarter patch also r: mirrored in x, s: in x and y.
    Grid p, q, r, s;
    for (int j = 0; j < 4; ++j) {
      for (int k = 0; k < 4; ++k) {
        const TeapotPoint& straight = kTeapotPoints[index[4 * j + k]];
        const TeapotPoint& reversed = kTeapotPoints[index[4 * j + 3 - k]];
        Put(p[j][k], straight, 1.0, 1.0);
        Put(q[j][k], reversed, 1.0, -1.0);
        Put(r[j][k], reversed, -1.0, 1.0);
        Put(s[j][k], straight, -1.0, -1.0);
      }
    }
    glMap2d(GL_MAP2_TEXTURE_COORD_2, 0, 1, 2, 2, 0, 1, 4, 2, &kCorners[0][0][0]);
    glMap2d(GL_MAP2_VERTEX_3, 0, 1, 3, 4, 0, 1, 12, 4, &p[0][0][0]);
    glMapGrid2d(grid, 1.0, 0.0, grid, 0.0, 1.0);  // u runs from 1 to 0
    glEvalMesh2(meshMode, 0, grid, 0, grid);
    glMap2d(GL_MAP2_VERTEX_3, 0, 1, 3, 4, 0, 1, 12, 4, &q[0][0][0]);
    glEvalMesh2(meshMode, 0, grid, 0, grid);
    if (i < kTeapotQuarterPatches) {
      glMap2d(GL_MAP2_VERTEX_3, 0, 1, 3, 4, 0, 1, 12, 4, &r[0][0][0]);
      glEvalMesh2(meshMode, 0, grid, 0, grid);
      glMap2d(GL_MAP2_VERTEX_3, 0, 1, 3, 4, 0, 1, 12, 4, &s[0][0][0]);
      glEvalMesh2(meshMode, 0, grid, 0, grid);
    }
  }

  glPopMatrix();
  glPopAttrib();
}

}  // namespace views
