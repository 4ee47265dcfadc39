// One navigation step of the motion views, without windows.h: the scroll hat
// added to the ball's push, the object moved, turned and zoomed by the
// library's navigation, and the object's position and the zoom wrapped so
// that what leaves the view on one side comes back on the other.
#pragma once

#include "agility.h"
#include "spatial_math.h"

namespace views {

using Kestrin1::CAgility;
using AXformf = Kestrin1::CSpatialMath::AXformf;
using AViewVolume = Kestrin1::CClarity::AViewVolume;

// The drawn object's reach beyond the view's edge before it wraps: a little
// more than the half diagonal of a unit cube scaled by 0.7.
constexpr float kWrapRadius = 0.7f * 1.7320508f;
// The zoom wraps on a base-8 scale between -1.8 and 1.8 octaves of the
// starting half height (view height 2 x 8^p).
constexpr float kZoomWrapLimit = 1.8f;
constexpr float kStartHeight = 2.0f;

// tx += scroll x, ty += scroll y, each sum limited to -32767..32767.
void AddScrollHat(short ball[6], const short scroll[2]);

// Wraps the object's x and y position into the view rectangle widened by
// kWrapRadius (a width by height pixel view, view.m_Height units high), and
// the view height into 2 x 8^[-1.8, 1.8]. A position or height that is not a
// finite number goes back to the centre or to the starting height.
void WrapObject(AXformf& object, AViewVolume& view, int width, int height);

// The whole step: the scroll hat into the ball's push, ObjectControl about
// the object's own origin with no parent and no camera, then WrapObject.
void StepObject(CAgility& agility, float seconds, short ball[6], const short scroll[2],
                AXformf& object, AViewVolume& view, int width, int height);

}  // namespace views
