// The OpenGL drawing of the motion views, on the calling thread's current
// context: the monitor picture as the background, the screen area of the
// picture as the viewport, and the wire-frame teapot placed by the dialog's
// object transform (with its rotation in the 3D view, without it in the 2D
// view).
#pragma once
#include <windows.h>
#include <GL/gl.h>

#include "Kestrin1.h"

namespace views {

using AXformf = Kestrin1::CSpatialMath::AXformf;
using AViewVolume = Kestrin1::CClarity::AViewVolume;

// Where the monitor picture's screen lies, in the picture's own pixels.
constexpr int kScreenLeft = 16, kScreenRight = 16, kScreenTop = 19, kScreenBottom = 42;

// Clears the back buffer to red and, when there is one, draws the picture
// (viewport width x height pixels of 32-bit BGRA, rows top to bottom) over the
// whole viewport.
void DrawBackground(const GLint viewport[4], const unsigned char* pixels);
// The viewport of the monitor's screen: the view shrunk by the screen's
// margins times scale (view pixels per picture pixel), each product
// truncated. Scale 0 (no picture) keeps the whole view.
void SetScreenViewport(const GLint viewport[4], float scale);
// The teapot through an orthographic projection of view (aspect ratio from
// viewport), placed by object: rotation and translation in the 3D view
// (b3D non-zero), the translation alone in the 2D view. Sets the object's
// depth to -20 first, as the projection expects it.
void DrawMotionScene(AXformf& object, const AViewVolume& view, const GLint viewport[4], int b3D);

}  // namespace views
