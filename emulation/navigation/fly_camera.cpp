// The camera fly step: a perspective camera translates along its own axes at
// a speed proportional to the pivot's distance, zooms by moving along its view
// axis and turns about the eye point, turning faster with a wider field of view.
#include <cmath>

#include "nav_constants.h"
#include "nav_math.h"
#include "navigation.h"

namespace KestrinNav {

namespace {

// The step on the caller's records (or copies of them); see FlyCamera.
void Fly(const NavVolume* volume, NavSettings* settings, NavMat43* camera, NavDelta* delta) {
  const double P = volume->perspective;
  const double W = volume->halfWidth, H = volume->halfHeight;
  const double slopeX = volume->slopeX, slopeY = volume->slopeY;

  // 2, 3. The pivot lies on the view axis, between the near margin and the
  // far limit from the eye (pivotDepth itself is left as it is).
  const double E = 1.0 / P;
  settings->pivot.x = 0.0;
  settings->pivot.y = 0.0;
  double d = E - settings->pivotDepth;
  if (d < kNearMargin) {
    settings->pivot.z = E - kNearMargin;
    d = kNearMargin;
  } else if (d > kFarLimit) {
    settings->pivot.z = E - kFarLimit;
    d = kFarLimit;
  }

  // 4-6. Translation along the camera's own axes; a zoom above 1 moves in (-z).
  const double larger = W > H ? W : H;
  const double size = 2.0 * larger;
  const double k = size * (d * P);
  double mx = delta->dx * k;
  double my = delta->dy * k;
  const double mz = (delta->zoom - 1.0) * d;
  if (settings->zoomAlongRay) {
    mx -= mz * slopeX;
    my -= mz * slopeY;
  }
  NavMat33 R = camera->rotation;
  NavVec3 t = Sub(camera->translation, RowTimes(Vec(mx, my, mz), R));

  // 7, 8. The turn, written back into the delta: the twist about the ray
  // through the window centre, and the field-of-view scaling of x and y.
  if (settings->twistAboutRay) {
    delta->ax -= delta->az * slopeX;
    delta->ay -= delta->az * slopeY;
  }
  const double f = std::atan(larger * P) / kFieldOfViewReference;
  delta->ay *= f;
  delta->ax *= f;
  const double ax = delta->ax, ay = delta->ay, az = delta->az;

  // 9-11. Turn the camera, then (13) move it so that the eye stays put.
  const NavVec3 eyeBefore = RowTimes(Vec(0.0, 0.0, E), R);
  const double theta = std::sqrt(ay * ay + ax * ax + az * az);
  if (!(theta < kNearMargin))
    R = Multiply(AxisRotation(theta, Vec(ax / theta, ay / theta, az / theta)), R);

  // 12. Upright toward the world axis itself (not turned by anything).
  if (settings->upright) MakeUpright(R, UpAxisVector(settings->upAxis));

  t = Sub(t, Sub(RowTimes(Vec(0.0, 0.0, E), R), eyeBefore));
  camera->rotation = R;
  camera->translation = t;
}

}  // namespace

void FlyCamera(const NavVolume* volume, NavSettings* settings, NavMat43* camera,
               NavDelta* delta) {
  // 1. Flying needs an eye: an orthographic view is left alone.
  if (volume->perspective < kPerspectiveThreshold) return;
  // The step runs on copies. A step whose result overflows (a zoom factor
  // that is not finite, or one far from 1 at a distant pivot) would carry the
  // camera to infinity and leave NaNs in the host's records: it changes
  // nothing instead.
  NavSettings s = *settings;
  NavMat43 c = *camera;
  NavDelta d = *delta;
  Fly(volume, &s, &c, &d);
  if (!StaysFinite(*camera, c) || !PivotStaysFinite(*settings, s) || !StaysFinite(*delta, d))
    return;
  *settings = s;
  *camera = c;
  *delta = d;
}

}  // namespace KestrinNav
