// The wire-frame teapot of the motion views: the Utah teapot's Bezier patches
// (teapot_data.h) drawn with OpenGL evaluators.
#pragma once
#include <windows.h>
#include <GL/gl.h>

namespace views {

// Draws the teapot about the current model-view matrix, each patch evaluated
// on a grid x grid mesh with meshMode (GL_FILL, GL_LINE or GL_POINT); size 1
// gives a teapot 1.5 units long from spout to handle, standing along +y and
// centred about the origin in height.
void DrawTeapot(int grid, GLenum meshMode, double size);

}  // namespace views
