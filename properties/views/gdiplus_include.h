// GDI+'s C++ classes from MinGW's headers. They need the OLE types that
// WIN32_LEAN_AND_MEAN leaves out of windows.h, and min and max in their own
// namespace.
#pragma once
#include <windows.h>
#include <ole2.h>

#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>
