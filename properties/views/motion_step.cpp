#include "motion_step.h"

#include <math.h>

namespace views {

namespace {

short AddClamped(short a, short b) {
  const int sum = a + b;
  return static_cast<short>(sum > 32767 ? 32767 : sum < -32767 ? -32767 : sum);
}

// value wrapped by whole periods of 2 x limit until it lies in [-limit, limit]:
// above the range it ends in (-limit, limit], below it in [-limit, limit).
// The remainder is taken exactly, in double (fmod is exact, and so is the one
// period added or taken after it), so a far-off value costs no more than a
// near one: a float period taken from a float value changes nothing once the
// period is below the value's precision, and neither a loop of periods nor a
// product of the period and a float count would end in the range.
float Wrap(float value, float limit, float fallback) {
  if (!isfinite(value) || !(limit > 0.0f)) return fallback;
  if (value <= limit && value >= -limit) return value;
  const double l = limit, period = 2.0 * l;
  double r = fmod(static_cast<double>(value), period);  // exact, the sign of value
  if (value > limit) {
    if (r > l) r -= period;  // now in (-limit, limit]
  } else {
    if (r < -l) r += period;  // now in [-limit, limit)
  }
  // Rounding to float may land on the excluded end, which is the same place
  // one period away.
  float wrapped = static_cast<float>(r);
  if (value > limit && wrapped <= -limit) wrapped = limit;
  if (value < -limit && wrapped >= limit) wrapped = -limit;
  return wrapped;
}

}  // namespace

void AddScrollHat(short ball[6], const short scroll[2]) {
  ball[0] = AddClamped(ball[0], scroll[0]);
  ball[1] = AddClamped(ball[1], scroll[1]);
}

void WrapObject(AXformf& object, AViewVolume& view, int width, int height) {
  if (width <= 0 || height <= 0) return;  // no view to wrap into
  // Half extents of the view in view units.
  const float c = view.m_Height * 0.5f;
  float hx, hy;
  if (width >= height) {
    hy = c;
    hx = static_cast<float>(width) * c / static_cast<float>(height);
  } else {
    hx = c;
    hy = static_cast<float>(height) * c / static_cast<float>(width);
  }
  Kestrin1::CSpatialMath::AVec3f& t = object.m_Matrix.m_Translation;
  t.x = Wrap(t.x, kWrapRadius + hx, 0.0f);
  t.y = Wrap(t.y, kWrapRadius + hy, 0.0f);

  // The zoom on its base-8 scale; a height of 0, infinity or NaN has no
  // place on it and starts over.
  const float p = logf(view.m_Height * 0.5f) / logf(8.0f);
  if (!isfinite(p)) {
    view.m_Height = kStartHeight;
    return;
  }
  if (p > kZoomWrapLimit || p < -kZoomWrapLimit)
    view.m_Height = 2.0f * powf(8.0f, Wrap(p, kZoomWrapLimit, 0.0f));
}

void StepObject(CAgility& agility, float seconds, short ball[6], const short scroll[2],
                AXformf& object, AViewVolume& view, int width, int height) {
  AddScrollHat(ball, scroll);
  const Kestrin1::CSpatialMath::AVec3f origin = {0.0f, 0.0f, 0.0f};
  agility.ObjectControl(seconds, ball, object, nullptr, nullptr, origin, view,
                        static_cast<unsigned short>(width), static_cast<unsigned short>(height));
  WrapObject(object, view, width, height);
}

}  // namespace views
