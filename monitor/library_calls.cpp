#include "library_calls.h"

#include <windows.h>
#include <GL/gl.h>

#include "Kestrin1.h"

namespace monitor {
namespace {

long KESTRIN1_CALLBACK MonitorCallback(unsigned int, long) { return 0; }

}  // namespace

void CreateDevice() {
  Kestrin1::CKestrin::Register(MonitorCallback, GetCurrentProcessId());
  // Lives until the process ends and is not used otherwise: the connection
  // it makes is what tells the agent that a client runs.
  static Kestrin1::CKestrin* device = new Kestrin1::CKestrin(0, Kestrin1::CKestrin::AccessModeDefault);
  (void)device;
}

// Stand-in until Kestrin1's view routine is linked: the same matrices the
// library's orthographic view gives for this volume and camera.
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
