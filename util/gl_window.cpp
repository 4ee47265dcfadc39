#include "gl_window.h"

namespace kestrin_gl {

PIXELFORMATDESCRIPTOR WindowPixelFormat(BYTE depthBits) {
  PIXELFORMATDESCRIPTOR format = {};
  format.nSize = sizeof format;  // 40 bytes
  format.nVersion = 1;
  format.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
  format.iPixelType = PFD_TYPE_RGBA;
  format.cColorBits = 24;
  format.cDepthBits = depthBits;
  format.iLayerType = PFD_MAIN_PLANE;
  return format;
}

bool SetWindowPixelFormat(HDC dc, BYTE depthBits) {
  PIXELFORMATDESCRIPTOR format = WindowPixelFormat(depthBits);
  const int index = ChoosePixelFormat(dc, &format);
  if (index == 0) return false;
  if (GetPixelFormat(dc) == index) return true;
  return SetPixelFormat(dc, index, &format) != FALSE;
}

}  // namespace kestrin_gl
