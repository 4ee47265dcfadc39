// Stand-in until Kestrin1's connection class and view routine are linked:
// no connection is made, and the view is set up with the same matrices the
// library's orthographic view gives for this volume and camera.
#include "library_calls.h"

#include <windows.h>
#include <GL/gl.h>

namespace monitor {

void CreateDevice() {}

void ApplyMonitorView(unsigned width, unsigned height) {
  float w = static_cast<float>(width), h = static_cast<float>(height);
  float half = 100.0f * 0.5f;
  float halfW = w > h ? (w / h) * half : half;
  float halfH = w > h ? half : (h / w) * half;
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(-halfW, halfW, -halfH, halfH, 1.0, 200.0);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glTranslatef(0.0f, 0.0f, -80.0f);
}

}  // namespace monitor
