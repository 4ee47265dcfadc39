#include "agility.h"

#include <stdlib.h>

#include <cmath>

#include "math_private.h"

namespace Kestrin1 {

using AVec3f = CSpatialMath::AVec3f;
using AMat33f = CSpatialMath::AMat33f;
using AMat43f = CSpatialMath::AMat43f;
using AXformf = CSpatialMath::AXformf;
using AViewVolume = CClarity::AViewVolume;

const AAgility CAgility::m_DefaultValues = {
    3,                 // zoom toward the pivot, twist about its line of sight
    100.0f / 65536.0f, // m_ExtentGain
    100.0f / 65536.0f, // m_ZoomGain
    200.0f / 65536.0f, // m_RotationGain
    100.0f,            // m_TranslationLimit
    100.0f,            // m_FlyGain
    100.0f,            // m_RotationLimit
    0,                 // not upright
    {0.0f, 1.0f, 0.0f},
    100.0f / 65536.0f, // m_TranslationGain
};

#if defined(_WIN32)
// AAgility's copy assignment as clients built against earlier headers import
// it: AAgility::operator=(const AAgility&), a member function (this in ecx,
// the callee removes the argument, on x86). The header now leaves the copy
// implicit so that the record stays an aggregate; the entry keeps its name.
#  define KESTRIN1_STRING(x) #x
#  define KESTRIN1_SYMBOL(prefix, name) KESTRIN1_STRING(prefix) name
#  if defined(_WIN64)
#    define KESTRIN1_MEMBER_CALL
#  else
#    define KESTRIN1_MEMBER_CALL __attribute__((thiscall))
#  endif
AAgility* KESTRIN1_MEMBER_CALL AAgilityCopyAssignment(AAgility* self, const AAgility* other)
    __asm__(KESTRIN1_SYMBOL(__USER_LABEL_PREFIX__, "_ZN8Kestrin18AAgilityaSERKS0_"));
AAgility* KESTRIN1_MEMBER_CALL AAgilityCopyAssignment(AAgility* self, const AAgility* other) {
  *self = *other;
  return self;
}
// Exported by its plain name, as the linker's directive for a declared
// export would name it (the linker adds the label prefix itself).
__asm__(".section .drectve\n"
        ".ascii \" -export:\\\"_ZN8Kestrin18AAgilityaSERKS0_\\\"\"\n"
        ".text");
#endif

CAgility::CAgility(const AAgility& values) : m_Values(values) {}

CAgility& CAgility::operator=(const CAgility& other) {
  m_Values = other.m_Values;
  return *this;
}

namespace {

enum : unsigned short {
  kZoomToPivot = 0x1,
  kTwistAboutPivot = 0x2,
  kFencePivot = 0x4,
  kDominantAxis = 0x8,
};

// A point at or behind this depth is taken as in front of the eye.
constexpr float kFrontZ = -0.000001f;

struct Sample {
  short tx, ty, tz, rx, ry, rz;
};

// A copy of the six motion values; with kDominantAxis only the largest
// (ties to the first; magnitudes compared as int16, so -32768 never wins).
Sample TakeSample(const short* motion, unsigned short options) {
  short v[6];
  for (int i = 0; i < 6; ++i) v[i] = motion[i];
  if (options & kDominantAxis) {
    int pick = 0;
    short largest = static_cast<short>(v[0] < 0 ? -v[0] : v[0]);
    for (int i = 1; i < 6; ++i) {
      const short magnitude = static_cast<short>(v[i] < 0 ? -v[i] : v[i]);
      if (magnitude > largest) {
        largest = magnitude;
        pick = i;
      }
    }
    for (int i = 0; i < 6; ++i) {
      if (i != pick) v[i] = 0;
    }
  }
  return {v[0], v[1], v[2], v[3], v[4], v[5]};
}

AVec3f Add(const AVec3f& a, const AVec3f& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
AVec3f Subtract(const AVec3f& a, const AVec3f& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
AVec3f Scale(const AVec3f& v, float s) { return {v.x * s, v.y * s, v.z * s}; }

// (p * scale) * rotation + translation.
AVec3f Transform(const AVec3f& p, const AXformf& x) {
  return Add(Scale(p, x.m_Scale) * x.m_Matrix.m_Rotation, x.m_Matrix.m_Translation);
}

// A point in the object's parent space (parent null: the world) to eye
// coordinates (camera null: the world).
AVec3f ToEye(const AVec3f& p, const AXformf* parent, const AMat43f* camera) {
  AVec3f e = p;
  if (parent) e = Transform(e, *parent);
  if (camera) e = Subtract(e, camera->m_Translation) / camera->m_Rotation;
  return e;
}

struct HalfExtents {
  float w, h;
};

// A window with no width or no height (a minimised one) has no aspect: it
// counts as square, so the rectangle and the gains stay finite.
HalfExtents ViewRectangle(const AViewVolume& view, unsigned short w, unsigned short h) {
  const float half = view.m_Height / 2.0f;
  if (w == 0 || h == 0) return {half, half};
  if (w < h) return {half, static_cast<float>(h) / static_cast<float>(w) * half};
  return {static_cast<float>(w) / static_cast<float>(h) * half, half};
}

float LongerExtent(const AViewVolume& view, unsigned short w, unsigned short h) {
  if (w == 0 || h == 0) return view.m_Height;
  const float longer = w > h ? w : h, shorter = w > h ? h : w;
  return longer / shorter * view.m_Height;
}

float DepthClamp(float z, const AViewVolume& view) {
  const float low = view.m_NearZ >= 0.0f ? view.m_NearZ : view.m_FarZ;
  const float high = view.m_NearZ >= 0.0f ? view.m_FarZ : view.m_NearZ;
  if (z < low) return low;
  if (z > high) return high;
  return z;
}

float Clamp(float v, float limit) {
  if (v < -limit) return -limit;
  if (v > limit) return limit;
  return v;
}

// The zoom factor 2^(-tz seconds gain).
float ZoomFactor(short tz, float seconds, float gain) {
  const float exponent = -static_cast<float>(tz) * seconds * gain;
  return static_cast<float>(std::pow(2.0, static_cast<double>(exponent)));
}

// A direction in eye coordinates to the object's parent space.
AVec3f EyeToParent(const AVec3f& v, const AXformf* parent, const AMat43f* camera,
                   bool divideByScale) {
  AVec3f d = v;
  if (camera) d *= camera->m_Rotation;
  if (parent) {
    d /= parent->m_Matrix.m_Rotation;
    if (divideByScale) {
      d = {d.x / parent->m_Scale, d.y / parent->m_Scale, d.z / parent->m_Scale};
    }
  }
  return d;
}

// Turns the object about w (parent space) by the rotation of axis a.
void TurnAbout(AXformf& object, const AVec3f& w, const AVec3f& a, float rotationGain,
               float seconds) {
  AMat43f& m = object.m_Matrix;
  m.m_Translation = Subtract(m.m_Translation, w);
  const AMat33f turn = CSpatialMath::Rotate(-(rotationGain * seconds * math::Length(a)), a);
  m.m_Rotation *= turn;
  m.m_Translation *= turn;
  m.m_Translation = Add(m.m_Translation, w);
}

}  // namespace

void CAgility::CameraControl(float seconds, const short* const motion, AMat43f& camera,
                             const AXformf* fly) {
  const Sample s = TakeSample(motion, m_Values.m_Options);

  // Only a finite gain moves the camera: a fly transform of scale 0 or a
  // translation gain that is not a number leaves the position alone.
  float g;
  if (fly) {
    g = fly->m_Scale != 0.0f ? m_Values.m_FlyGain / fly->m_Scale : 0.0f;
  } else {
    g = m_Values.m_TranslationGain * seconds;
    // The measure counts tx and ty only; tz moves with the same gain.
    const float measure = static_cast<float>(abs(s.tx) + abs(s.ty));
    if (measure > 0.0f && measure * g > m_Values.m_TranslationLimit) {
      g = m_Values.m_TranslationLimit / measure;
    }
  }
  // The translation follows the camera's axes as they were before the turn.
  if (g != 0.0f && std::isfinite(g)) {
    AVec3f v = {static_cast<float>(s.tx) * g, static_cast<float>(s.ty) * g,
                static_cast<float>(s.tz) * g};
    v *= camera.m_Rotation;
    camera.m_Translation = Add(camera.m_Translation, v);
  }

  float gr = m_Values.m_RotationGain * seconds;
  const float measure = static_cast<float>(abs(s.rx) + abs(s.ry) + abs(s.rz));
  if (measure > 0.0f && measure * gr > m_Values.m_RotationLimit) {
    gr = m_Values.m_RotationLimit / measure;
  }
  if (gr != 0.0f) {
    const AVec3f axis = {static_cast<float>(s.rx), static_cast<float>(s.ry),
                         static_cast<float>(s.rz)};
    camera.m_Rotation /= CSpatialMath::Rotate(-(math::Length(axis) * gr), axis);
  }

  if (m_Values.m_Upright & 1) MakeUpright(camera.m_Rotation, m_Values.m_Up);
}

float CAgility::SetFlyFactor(const AXformf& object, const AXformf* parent, const AXformf* camera,
                             const AVec3f& point, const AViewVolume& view, unsigned short w,
                             unsigned short h) {
  // Only a finite gain is stored: a camera of scale 0 or a view plane at the
  // eye has no depth ratio, and the gain stays as it was.
  AVec3f p = Transform(point, object);
  if (parent) p = Transform(p, *parent);
  float z = p.z;
  if (camera) {
    if (camera->m_Scale == 0.0f) return m_Values.m_TranslationGain;
    const AVec3f q = Subtract(p, camera->m_Matrix.m_Translation) / camera->m_Matrix.m_Rotation;
    z = q.z / camera->m_Scale;
  }
  if (view.m_ViewPlaneZ == 0.0f) return m_Values.m_TranslationGain;
  z = DepthClamp(z, view);
  const float gain = z / view.m_ViewPlaneZ * LongerExtent(view, w, h) * m_Values.m_ExtentGain;
  if (std::isfinite(gain)) m_Values.m_TranslationGain = gain;
  return m_Values.m_TranslationGain;
}

void CAgility::FenceMotionHandle(const AVec3f& position, AVec3f& motion, const AViewVolume& view,
                                 unsigned short w, unsigned short h) {
  const AVec3f p = Add(position, motion);
  float zc = p.z, s = 1.0f;
  if (view.m_Perspective != 0) {
    if (zc > kFrontZ) zc = kFrontZ;
    s = view.m_ViewPlaneZ / zc;
  }
  const HalfExtents half = ViewRectangle(view, w, h);
  const float px = Clamp(p.x * s - view.m_CenterX, half.w);
  const float py = Clamp(p.y * s - view.m_CenterY, half.h);
  motion = {(view.m_CenterX + px) / s - position.x, (view.m_CenterY + py) / s - position.y,
            zc - position.z};
}

int CAgility::IsInViewRectangle(const AVec3f& point, const AViewVolume& view, unsigned short w,
                                unsigned short h) {
  if (point.z > kFrontZ) return 0;
  const float s = view.m_ViewPlaneZ / point.z;
  const HalfExtents half = ViewRectangle(view, w, h);
  return std::fabs(point.x * s - view.m_CenterX) < half.w &&
                 std::fabs(point.y * s - view.m_CenterY) < half.h
             ? 1
             : 0;
}

void CAgility::MakeUpright(AMat33f& rotation, const AVec3f& up) {
  // No direction to stand up to: a zero up would wipe the rotation.
  if (math::Length(up) == 0.0f) return;
  auto normalise = [](const AVec3f& v) {
    const float n = math::Length(v);
    return n == 0.0f ? v : AVec3f{v.x / n, v.y / n, v.z / n};
  };
  AVec3f& r0 = rotation.m_Row[0];
  AVec3f& r1 = rotation.m_Row[1];
  AVec3f& r2 = rotation.m_Row[2];
  const float d0 = math::Dot(up, r0), d1 = math::Dot(up, r1), d2 = math::Dot(up, r2);
  if (std::fabs(d2) > std::fabs(d0) && std::fabs(d2) > std::fabs(d1)) {
    // The third axis is the one closest to up.
    const bool s = d2 >= 0.0f;
    r0 = s ? normalise(r1 * up) : normalise(up * r1);
    if (d1 < 0.0f) r1 = s ? normalise(up * r0) : normalise(r0 * up);
    r2 = r0 * r1;
  } else {
    r0 = normalise(up * r2);
    r1 = r2 * r0;
  }
}

void CAgility::ObjectControl(float seconds, const short* const motion, AXformf& object,
                             const AXformf* parent, const AMat43f* camera, const AVec3f& pivot,
                             AViewVolume& view, unsigned short w, unsigned short h) {
  const unsigned short options = m_Values.m_Options;
  const Sample s = TakeSample(motion, options);
  // The pivot in the parent's space, as it was before anything moved, and in
  // eye coordinates.
  const AVec3f pw = Transform(pivot, object);
  const AVec3f e = ToEye(pw, parent, camera);
  const float longer = LongerExtent(view, w, h);

  if (view.m_Perspective != 0) {
    const float zc = DepthClamp(e.z, view);
    const float k = zc / view.m_ViewPlaneZ * seconds * longer * m_Values.m_ExtentGain;
    const float f = ZoomFactor(s.tz, seconds, m_Values.m_ZoomGain);
    AVec3f t = {static_cast<float>(s.tx) * k, static_cast<float>(s.ty) * k, (f - 1.0f) * zc};
    int inView = 0;
    if (options & (kZoomToPivot | kTwistAboutPivot)) inView = IsInViewRectangle(e, view, w, h);
    if ((options & kZoomToPivot) && inView) {
      // Along the line of sight through the pivot: its place on the screen stays.
      t.x += e.x * t.z / e.z;
      t.y += e.y * t.z / e.z;
    }
    if (options & kFencePivot) {
      FenceMotionHandle(e, t, view, w, h);
      inView = 1;
    }
    t = EyeToParent(t, parent, camera, true);

    AVec3f a = {static_cast<float>(s.rx), static_cast<float>(s.ry), static_cast<float>(s.rz)};
    // The fence counts a pivot in view whatever its depth. A pivot in the
    // eye's plane (within 1e-6 of it) has no line of sight to turn about and
    // twists about the eye's own axis; one behind the eye turns about its
    // line through the eye like any other.
    if ((options & kTwistAboutPivot) && inView && std::fabs(e.z) >= -kFrontZ) {
      a.x += static_cast<float>(s.rz) * e.x / e.z;
      a.y += static_cast<float>(s.rz) * e.y / e.z;
    }
    a = EyeToParent(a, parent, camera, false);

    TurnAbout(object, pw, a, m_Values.m_RotationGain, seconds);
    object.m_Matrix.m_Translation = Add(object.m_Matrix.m_Translation, t);
    return;
  }

  AVec3f a = {static_cast<float>(s.rx), static_cast<float>(s.ry), static_cast<float>(s.rz)};
  a = EyeToParent(a, parent, camera, false);
  TurnAbout(object, pw, a, m_Values.m_RotationGain, seconds);

  const float k = seconds * longer * m_Values.m_ExtentGain;
  const float f = ZoomFactor(s.tz, seconds, m_Values.m_ZoomGain);
  view.m_Height *= f;
  // The pivot moves with the zoom so that its place on the screen stays.
  AVec3f t = {static_cast<float>(s.tx) * k + (e.x - view.m_CenterX) * (f - 1.0f),
              static_cast<float>(s.ty) * k + (e.y - view.m_CenterY) * (f - 1.0f), 0.0f};
  if (options & kFencePivot) FenceMotionHandle(e, t, view, w, h);
  t = EyeToParent(t, parent, camera, true);
  object.m_Matrix.m_Translation = Add(object.m_Matrix.m_Translation, t);
}

}  // namespace Kestrin1
