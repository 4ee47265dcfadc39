// The navigation step of a host's view: one call per frame turns a device
// reading into the host's new view. Two-dimensional views pan and zoom;
// three-dimensional views fly the camera or move the whole scene by object
// control (the scene being the inverse of the camera). Every intermediate
// record lives on this stack; the host's view is never written.
#include <cmath>
#include <cstring>

#include "kestrin_zel2_host.h"
#include "nav_math.h"
#include "navigation.h"

namespace KestrinNav {

namespace {

void StepPanZoom(INavigationHost* host, double seconds, const NavMotion& motion,
                 const NavView& view) {
  NavView copy = view;
  const double px = (motion.tx + motion.scrollX) * seconds;
  const double py = (motion.ty + motion.scrollY) * seconds;
  const double z = std::exp2(-(motion.tz * seconds));
  copy.volume.halfWidth *= z;
  copy.volume.halfHeight *= z;
  const double ext = 2.0 * (copy.volume.halfWidth > copy.volume.halfHeight
                                ? copy.volume.halfWidth
                                : copy.volume.halfHeight);
  copy.centreX -= px * ext;
  copy.centreY -= py * ext;
  // A reading so large that the zoom factor under- or overflows, or that the
  // extents or centres overflow, would leave zero or infinite extents (and
  // NaN centres) in the host's view: such a step leaves the view as it was.
  if (!(z > 0.0) || !StaysFinite(view.volume, copy.volume) ||
      !StaysFinite(&view.centreX, &copy.centreX, 2))
    copy = view;
  host->ApplyView(&copy);
}

// The inverse of a rigid frame: rotation transposed, translation -(R*t).
NavMat43 Inverse(const NavMat33& r, const NavVec3& t) {
  NavMat43 inverse;
  inverse.rotation = Transpose(r);
  inverse.translation = Negate(TimesColumn(r, t));
  return inverse;
}

void Step3D(INavigationHost* host, double seconds, NavMotion* motion, const NavView& view) {
  NavView copy = view;

  // The host fills this area or returns a record of its own; it is cleared
  // first so that a host returning it unfilled hands over zeros, not stack.
  NavSettings area;
  std::memset(&area, 0, sizeof area);
  const NavSettings* given = host->QuerySettings(&area);
  if (!given) return;  // no settings, nothing to navigate by
  NavSettings s;
  std::memcpy(&s, given, sizeof s);

  if (s.noRotation) {
    motion->rx = 0.0;
    motion->ry = 0.0;
    motion->rz = 0.0;
    s.kind = 1;
  }

  // The pivot and its depth as the host gave them, bit for bit.
  static_assert(offsetof(NavSettings, pivotDepth) == offsetof(NavSettings, pivot) + 24,
                "pivot and pivotDepth are 32 contiguous bytes");
  unsigned char before[32];
  std::memcpy(before, &s.pivot, sizeof before);

  NavDelta delta;
  delta.dx = (motion->tx + motion->scrollX) * seconds;
  delta.dy = (motion->ty + motion->scrollY) * seconds;
  delta.zoom = std::exp2(motion->tz * seconds);
  delta.ax = motion->rx * seconds;
  delta.ay = motion->ry * seconds;
  delta.az = motion->rz * seconds;

  NavMat43& camera = copy.camera;
  if (s.kind == 2) {
    if (s.invertCamera) {
      delta.dx = -delta.dx;
      delta.dy = -delta.dy;
      // A zoom factor of zero has no finite inverse; the fly step refuses
      // the infinite one.
      delta.zoom = delta.zoom != 0.0 ? 1.0 / delta.zoom : HUGE_VAL;
      delta.ax = -delta.ax;
      delta.ay = -delta.ay;
      delta.az = -delta.az;
    }
    FlyCamera(&copy.volume, &s, &camera, &delta);
    // The point pivotDepth along the camera's z row.
    s.pivot = Add(camera.translation, RowTimes(Vec(0.0, 0.0, s.pivotDepth), camera.rotation));
  } else {
    const NavMat43 inverse = Inverse(camera.rotation, camera.translation);
    NavXform scene;
    scene.scale = 1.0;
    scene.rotation = inverse.rotation;
    scene.translation = inverse.translation;
    ObjectControl(&copy.volume, &s, &scene, nullptr, nullptr, &delta);
    camera = Inverse(scene.rotation, scene.translation);
  }
  // Both routines keep their records finite; what is made of them here may
  // still overflow at the edge of the doubles (a pivot or camera near the
  // largest values): such a step leaves the view and the pivot as they were.
  if (!StaysFinite(view.camera, copy.camera) || !StaysFinite(before, &s.pivot, 4)) {
    copy = view;
    std::memcpy(&s.pivot, before, sizeof before);
  }

  host->ApplyView(&copy);
  if (std::memcmp(before, &s.pivot, sizeof before) != 0) host->PivotChanged(&s.pivot.x);
}

}  // namespace

void Step(INavigationHost* host, double seconds, NavMotion* motion, const NavView* view) {
  if (!host || !motion || !view) return;
  if (view->kind == 1)
    StepPanZoom(host, seconds, *motion, *view);
  else if (view->kind == 2)
    Step3D(host, seconds, motion, *view);
}

}  // namespace KestrinNav
