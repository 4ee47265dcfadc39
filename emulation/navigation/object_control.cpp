// Object control: one step of device motion moves and turns an object about
// a pivot, the way a user expects when grabbing it in a view. Translation is
// measured in view space and scaled by the pivot's depth, zoom moves along
// the view axis (or the ray through the pivot), rotation turns the object
// about the pivot; the fence keeps the pivot visible and the upright rule
// keeps the object's x axis level.
#include <cmath>

#include "nav_constants.h"
#include "nav_math.h"
#include "navigation.h"

namespace KestrinNav {

void MakeUpright(NavMat33& m, const NavVec3& up) {
  const NavVec3 r0 = Row(m, 0), r1 = Row(m, 1), r2 = Row(m, 2);
  const double a0 = Dot(r0, up), a1 = Dot(r1, up), a2 = Dot(r2, up);
  if (std::fabs(a2) > std::fabs(a0) && std::fabs(a2) > std::fabs(a1)) {
    // Row 2 is the most aligned with up: keep row 1, rebuild rows 0 and 2.
    NavVec3 n0 = a2 >= 0.0 ? Cross(r1, up) : Cross(up, r1);
    n0 = Divide(n0, std::sqrt(Dot(n0, n0)));
    SetRow(m, 0, n0);
    SetRow(m, 2, Cross(n0, r1));
  } else {
    // Keep row 2, rebuild rows 0 and 1.
    NavVec3 n0 = a1 >= 0.0 ? Cross(up, r2) : Cross(r2, up);
    n0 = Divide(n0, std::sqrt(Dot(n0, n0)));
    SetRow(m, 0, n0);
    SetRow(m, 1, Cross(r2, n0));
  }
}

namespace {

// Keeps the pivot, moved by t, inside the visible volume: a pivot outside the
// window's cone at its depth is brought to its edge. A degenerate window
// (its x bounds crossed) leaves t as it is.
void Fence(const NavVec3& pv, NavVec3& t, double p, double w, double h, double slopeX,
           double slopeY) {
  NavVec3 n = Add(pv, t);
  const double loX = (slopeX + p * w) * n.z - w;
  const double hiX = (slopeX - p * w) * n.z + w;
  const double loY = (slopeY + p * h) * n.z - h;
  const double hiY = (slopeY - p * h) * n.z + h;
  if (loX >= hiX) return;
  if (loX > n.x)
    n.x = loX;
  else if (n.x > hiX)
    n.x = hiX;
  if (loY > n.y)
    n.y = loY;
  else if (n.y > hiY)
    n.y = hiY;
  t = Sub(n, pv);
}

// True when x and 1/x are both finite numbers: x is neither zero, nor so
// small that its reciprocal overflows, nor infinite or NaN.
bool HasFiniteReciprocal(double x) {
  return std::isfinite(x) && x != 0.0 && std::isfinite(1.0 / x);
}

// The step on the caller's records (or copies of them); see ObjectControl.
void Control(NavVolume* volume, NavSettings* settings, NavXform* object, const NavXform* parent,
             const NavMat43* camera, const NavDelta& delta) {
  const double P = volume->perspective;
  double W = volume->halfWidth, H = volume->halfHeight;
  const double slopeX = volume->slopeX, slopeY = volume->slopeY;
  const bool persp = P >= kPerspectiveThreshold;
  const bool onAxis = settings->kind != 0;  // every nonzero kind is the view-axis pivot
  const bool noZoom = settings->noZoom != 0;
  const bool fence = settings->fence != 0 || (noZoom && !onAxis);
  const double s = object->scale;
  NavMat33 R = object->rotation;
  NavVec3 t = object->translation;

  // 1. The pivot, in view space (pv) and in the parent's space (q).
  NavVec3 pv, q;
  if (onAxis) {
    double e = settings->pivotDepth;
    if (persp && e > 1.0 / P - kNearMargin) e = 1.0 / P - kNearMargin;
    pv = Vec(0.0, 0.0, e);
    const NavVec3 w = camera ? Add(RowTimes(pv, camera->rotation), camera->translation) : pv;
    q = parent ? Divide(TimesColumn(parent->rotation, Sub(w, parent->translation)), parent->scale)
               : w;
  } else {
    q = Add(RowTimes(Scale(s, settings->pivot), R), t);
    const NavVec3 w =
        parent ? Add(Scale(parent->scale, RowTimes(q, parent->rotation)), parent->translation) : q;
    pv = camera ? TimesColumn(camera->rotation, Sub(w, camera->translation)) : w;
  }

  // 2. The step in view space: translation T and rotation vector a.
  const double size = 2.0 * (W > H ? W : H);
  const double zf = delta.zoom;
  NavVec3 T;
  NavVec3 a = Vec(delta.ax, delta.ay, delta.az);
  if (settings->kind == 1) pv.x = pv.y = 0.0;
  if (persp) {
    const double E = 1.0 / P;
    double d = E - pv.z;
    if (d < kNearMargin)
      d = kNearMargin;
    else if (d > kFarLimit)
      d = kFarLimit;
    pv.z = E - d;

    const double k = d * P * size;
    T = Vec(delta.dx * k, delta.dy * k, noZoom ? 0.0 : (1.0 - 1.0 / zf) * d);

    if (settings->zoomAlongRay || settings->twistAboutRay) {
      const double m = 1.0 - pv.z * P;
      // Only while the pivot projects strictly inside the window.
      if (!(std::fabs(m) < kDegenerateDenominator) &&
          W > std::fabs((pv.z * slopeX + pv.x) / m) && H > std::fabs((slopeY * pv.z + pv.y) / m)) {
        if (settings->zoomAlongRay) {
          T.x -= T.z * pv.x / d;
          T.y -= T.z * pv.y / d;
        }
        if (settings->twistAboutRay) {
          const double u = pv.x / d, v = pv.y / d;
          const double n = std::sqrt(u * u + 1.0 + v * v);
          a = Vec((a.x - a.z * u) / n, (a.y - a.z * v) / n, a.z / n);
        }
      }
    }
    if (fence) Fence(pv, T, P, W, H, slopeX, slopeY);
    if (!settings->fixedPivotDepth) pv.z += T.z;
  } else {
    T = Vec(delta.dx * size, delta.dy * size, 0.0);
    if (!noZoom) {
      // The window shrinks by the zoom; the point under the pivot stays put.
      W /= zf;
      H /= zf;
      volume->halfWidth = W;
      volume->halfHeight = H;
      T.x += (pv.x - slopeX * pv.z) * (1.0 - zf);
      T.y += (pv.y - slopeY * pv.z) * (1.0 - zf);
    }
    if (fence) Fence(pv, T, P, W, H, slopeX, slopeY);
  }

  // 3.
  settings->pivotDepth = pv.z;

  // 4. The translation into the parent's space (its scale is not applied).
  const NavVec3 Tw = camera ? RowTimes(T, camera->rotation) : T;
  const NavVec3 Tp = parent ? TimesColumn(parent->rotation, Tw) : Tw;

  // 5. Pivot drag: the pivot slides in the object's x-y plane; the object stays.
  if (noZoom && !onAxis) {
    settings->pivot = Add(settings->pivot, TimesColumn(R, Vec(Tp.x, Tp.y, 0.0)));
    return;
  }

  // 6. Rotation about the pivot.
  const NavVec3 aw = camera ? RowTimes(a, camera->rotation) : a;
  const NavVec3 ap = parent ? TimesColumn(parent->rotation, aw) : aw;
  t = Sub(t, q);
  const double theta = std::sqrt(Dot(ap, ap));
  if (!(theta < kNearMargin)) {
    const NavMat33 Q = AxisRotation(-theta, Divide(ap, theta));
    R = Multiply(R, Q);
    t = RowTimes(t, Q);
  }

  // 7. Upright: the pivot keeps its place in object space.
  if (settings->upright && !settings->noRotation) {
    NavVec3 u = UpAxisVector(settings->upAxis);
    if (camera) u = RowTimes(u, camera->rotation);
    if (parent) u = TimesColumn(parent->rotation, u);
    const NavVec3 L = TimesColumn(R, Divide(Negate(t), s));
    MakeUpright(R, u);
    t = Scale(-s, RowTimes(L, R));
  }

  // 8. Back to absolute.
  t = Add(Add(t, q), Tp);
  object->rotation = R;
  object->translation = t;

  // 9. The view-axis pivot, in the object's own coordinates.
  if (onAxis) {
    NavVec3 w = camera ? Add(RowTimes(pv, camera->rotation), camera->translation) : pv;
    if (parent) w = Divide(TimesColumn(parent->rotation, Sub(w, parent->translation)), parent->scale);
    settings->pivot = Divide(TimesColumn(R, Sub(w, t)), s);
  }
}

}  // namespace

void ObjectControl(NavVolume* volume, NavSettings* settings, NavXform* object,
                   const NavXform* parent, const NavMat43* camera, const NavDelta* deltaIn) {
  const NavDelta delta = *deltaIn;  // the caller's record is never written

  // A zero scale or a zoom factor that is not positive would divide by zero
  // (or flip the window): such a step changes nothing.
  if (!HasFiniteReciprocal(object->scale) || (parent && !HasFiniteReciprocal(parent->scale)) ||
      !(delta.zoom > 0.0) || !HasFiniteReciprocal(delta.zoom))
    return;

  // The step runs on copies. A step whose result overflows (a zoom factor
  // far from 1 at a distant pivot, a huge extent or translation) would leave
  // infinities and NaNs in the host's records: it changes nothing instead.
  NavVolume v = *volume;
  NavSettings s = *settings;
  NavXform x = *object;
  Control(&v, &s, &x, parent, camera, delta);
  if (!StaysFinite(*volume, v) || !PivotStaysFinite(*settings, s) || !StaysFinite(*object, x))
    return;
  *volume = v;
  *settings = s;
  *object = x;
}

}  // namespace KestrinNav
