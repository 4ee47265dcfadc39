// The double-precision navigation records that KestrinZel2 exchanges with
// its outside hosts byte for byte. Every size and offset below is part of the
// contract with programs built elsewhere: the static assertions pin them, and
// they hold alike in the x86 and x64 builds (and natively).
//
// Conventions shared by all records:
// - little-endian IEEE-754 doubles; flags are 32-bit words, 0 = off, any
//   other value = on;
// - a 3x3 matrix is row-major, its rows are the axes of the moved frame in
//   the outer frame, and points are row vectors multiplied from the left: an
//   inner point p is p*R + t in the outer frame; R*v (row i of R dotted with
//   v) takes an outer direction into the inner frame.
//
// No windows.h here: hosts, the library and the native tests include it alike.
#pragma once

#include <cstddef>
#include <cstdint>

struct NavVec3 {
  double x;
  double y;
  double z;
};

// Rows 0, 1, 2: m[row][column].
struct NavMat33 {
  double m[3][3];
};

// A frame: p*rotation + translation.
struct NavMat43 {
  NavMat33 rotation;
  NavVec3 translation;
};

// An object transform with uniform scale: an inner point p maps to
// scale*p*rotation + translation.
struct NavXform {
  double scale;
  NavMat33 rotation;
  NavVec3 translation;
};

// The view window. View space has its origin at the centre of the window on
// the projection plane, x along its width, y along its height, and the eye
// on +z at distance 1/perspective; visible points have z below the eye.
struct NavVolume {
  double halfWidth;
  double halfHeight;
  double perspective;  // 1 / eye distance; below 1e-9 (single) orthographic
  double slopeX;       // shift of the window centre in x per unit of depth
  double slopeY;       // shift of the window centre in y per unit of depth
};

// The host's view, given to IAgilityPrivate::Step and handed back, modified,
// to the host's ApplyView. The bytes marked as passed through mean nothing to
// the library and come back as they were.
struct NavView {
  uint32_t kind;         // 1: 2D pan and zoom; 2: 3D; otherwise Step does nothing
  uint8_t passed0[4];    // passed through
  NavVolume volume;      // kind 1 uses halfWidth and halfHeight only
  uint8_t passed1[8];    // passed through
  double centreX;        // kind 1: pan centre x; kind 2: not read
  union {
    NavMat43 camera;     // kind 2: camera frame to world
    double centreY;      // kind 1: pan centre y (the rest is not read)
  };
  uint8_t passed2[24];   // passed through
};

// How a step behaves, and the pivot that persists between steps.
struct NavSettings {
  uint32_t kind;            // 0: pivot fixed in the object; 1: pivot on the view
                            // axis at pivotDepth; 2: camera fly (Step only)
  uint32_t noRotation;      // Step: drop rotation, take kind as 1;
                            // object control: no upright correction
  NavVec3 pivot;            // pivot point (object coordinates)
  double pivotDepth;        // view-space z of the pivot
  uint32_t upright;         // keep the moved frame's x axis perpendicular to up
  int32_t upAxis;           // 0 = x, 1 = y, 2 = z (modulo 3)
  uint32_t fence;           // keep the pivot inside the visible volume
  uint32_t noZoom;          // no movement along the view axis, no ortho zoom;
                            // with kind 0 the step drags the pivot instead
  uint32_t fixedPivotDepth; // the pivot depth does not follow the zoom
  uint32_t invertCamera;    // Step, kind 2: the camera moves against the device
  uint32_t zoomAlongRay;    // zoom along the ray through the pivot / window centre
  uint32_t twistAboutRay;   // twist about that same ray
};

// One device reading as doubles, as IKestrinPrivate::GetMotion delivers it.
struct NavMotion {
  double tx;
  double ty;
  double tz;
  double rx;
  double ry;
  double rz;
  double scrollX;
  double scrollY;
};

// What one step applies, in view space.
struct NavDelta {
  double dx;    // pan in x, in units of the window
  double dy;    // pan in y, same unit
  double zoom;  // zoom factor: 1 = none, above 1 moves in
  double ax;    // rotation vector in view space (radians); its length is the angle
  double ay;
  double az;
};

static_assert(sizeof(NavVec3) == 24, "NavVec3 is 24 bytes");
static_assert(offsetof(NavVec3, x) == 0 && offsetof(NavVec3, y) == 8 &&
              offsetof(NavVec3, z) == 16, "NavVec3 offsets");

static_assert(sizeof(NavMat33) == 72, "NavMat33 is 72 bytes");
static_assert(offsetof(NavMat33, m) == 0, "NavMat33 offsets");

static_assert(sizeof(NavMat43) == 96, "NavMat43 is 96 bytes");
static_assert(offsetof(NavMat43, rotation) == 0 && offsetof(NavMat43, translation) == 72,
              "NavMat43 offsets");

static_assert(sizeof(NavXform) == 104, "NavXform is 104 bytes");
static_assert(offsetof(NavXform, scale) == 0 && offsetof(NavXform, rotation) == 8 &&
              offsetof(NavXform, translation) == 80, "NavXform offsets");

static_assert(sizeof(NavVolume) == 40, "NavVolume is 40 bytes");
static_assert(offsetof(NavVolume, halfWidth) == 0 && offsetof(NavVolume, halfHeight) == 8 &&
              offsetof(NavVolume, perspective) == 16 && offsetof(NavVolume, slopeX) == 24 &&
              offsetof(NavVolume, slopeY) == 32, "NavVolume offsets");

static_assert(sizeof(NavView) == 184, "NavView is 184 bytes");
static_assert(offsetof(NavView, kind) == 0 && offsetof(NavView, passed0) == 4 &&
              offsetof(NavView, volume) == 8 && offsetof(NavView, passed1) == 48 &&
              offsetof(NavView, centreX) == 56 && offsetof(NavView, camera) == 64 &&
              offsetof(NavView, centreY) == 64 && offsetof(NavView, passed2) == 160,
              "NavView offsets");

static_assert(sizeof(NavSettings) == 72, "NavSettings is 72 bytes");
static_assert(offsetof(NavSettings, kind) == 0 && offsetof(NavSettings, noRotation) == 4 &&
              offsetof(NavSettings, pivot) == 8 && offsetof(NavSettings, pivotDepth) == 32 &&
              offsetof(NavSettings, upright) == 40 && offsetof(NavSettings, upAxis) == 44 &&
              offsetof(NavSettings, fence) == 48 && offsetof(NavSettings, noZoom) == 52 &&
              offsetof(NavSettings, fixedPivotDepth) == 56 &&
              offsetof(NavSettings, invertCamera) == 60 &&
              offsetof(NavSettings, zoomAlongRay) == 64 &&
              offsetof(NavSettings, twistAboutRay) == 68, "NavSettings offsets");

static_assert(sizeof(NavMotion) == 64, "NavMotion is 64 bytes");
static_assert(offsetof(NavMotion, tx) == 0 && offsetof(NavMotion, ty) == 8 &&
              offsetof(NavMotion, tz) == 16 && offsetof(NavMotion, rx) == 24 &&
              offsetof(NavMotion, ry) == 32 && offsetof(NavMotion, rz) == 40 &&
              offsetof(NavMotion, scrollX) == 48 && offsetof(NavMotion, scrollY) == 56,
              "NavMotion offsets");

static_assert(sizeof(NavDelta) == 48, "NavDelta is 48 bytes");
static_assert(offsetof(NavDelta, dx) == 0 && offsetof(NavDelta, dy) == 8 &&
              offsetof(NavDelta, zoom) == 16 && offsetof(NavDelta, ax) == 24 &&
              offsetof(NavDelta, ay) == 32 && offsetof(NavDelta, az) == 40,
              "NavDelta offsets");

// The record that IAgilityPrivate::SnapOrientation turns: its bytes 56-127
// are the rotation and 128-151 the translation (the volume and camera of a
// NavView counted from that view's byte 8); the snap writes nothing else.
constexpr std::size_t kNavSnapFrameOffset = 56;
static_assert(offsetof(NavView, camera) - offsetof(NavView, volume) == kNavSnapFrameOffset,
              "the snapped frame sits where a view's camera sits, counted from its volume");
