// The pixel format the suite's OpenGL windows draw on: RGBA with 24 colour
// bits, double-buffered, on the window itself, in the main plane, with a depth
// buffer of the bits the caller asks for. One set-up for the programs and for
// the tests that draw as they do.
#pragma once
#include <windows.h>

namespace kestrin_gl {

// The descriptor asked for, with depthBits bits of depth.
PIXELFORMATDESCRIPTOR WindowPixelFormat(BYTE depthBits);

// Gives the window behind dc the nearest format to WindowPixelFormat(depthBits)
// unless it has that one already (a window's format is set once; a second
// paint that tries again keeps it). False when no format could be chosen or
// set; the thread's last error then tells why.
bool SetWindowPixelFormat(HDC dc, BYTE depthBits);

}  // namespace kestrin_gl
