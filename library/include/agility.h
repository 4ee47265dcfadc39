// The navigation of Kestrin1.dll: one six-axis motion sample (tx, ty, tz, rx,
// ry, rz, as CKestrin reads them) moves and turns a camera, or moves, zooms
// and turns an object seen through a camera about a pivot, under a small
// record of settings. Pure computation on the caller's data: no windows.h,
// no OpenGL, no state besides the settings.
#pragma once

#include <stddef.h>

#include "clarity.h"
#include "kestrin1_api.h"
#include "spatial_math.h"

namespace Kestrin1 {

// The navigation settings (48 bytes).
struct AAgility {
  // 0x1 zoom toward the pivot, 0x2 twist about the pivot's line of sight,
  // 0x4 keep the pivot inside the view rectangle, 0x8 dominant axis only.
  unsigned short m_Options;
  float m_ExtentGain;        // translation per count and second, as a fraction of the view
  float m_ZoomGain;          // zoom exponent (base 2) per count and second
  float m_RotationGain;      // radians per count and second
  float m_TranslationLimit;  // largest camera translation measure per call
  float m_FlyGain;           // camera translation per count with a fly transform
  float m_RotationLimit;     // largest camera rotation per call, radians
  unsigned short m_Upright;  // bit 0: keep the camera upright
  CSpatialMath::AVec3f m_Up;
  float m_TranslationGain;  // camera translation per count and second (SetFlyFactor)

  // A plain record, an aggregate in every standard: `AAgility a = {...}`.
  // Copies are member-wise; the library still exports the copy assignment
  // that clients built against earlier headers call.
};

class CAgility {
 public:
  using AVec3f = CSpatialMath::AVec3f;
  using AMat33f = CSpatialMath::AMat33f;
  using AMat43f = CSpatialMath::AMat43f;
  using AXformf = CSpatialMath::AXformf;
  using AViewVolume = CClarity::AViewVolume;

  // Options 3, extent and zoom gains 100/65536, rotation gain 200/65536,
  // limits and fly gain 100, not upright, up (0, 1, 0), translation gain
  // 100/65536.
  KESTRIN1_API static const AAgility m_DefaultValues;

  KESTRIN1_API CAgility(const AAgility& values = m_DefaultValues);
  CAgility(const CAgility& other) = default;
  KESTRIN1_API CAgility& operator=(const CAgility& other);

  // Moves the camera (rotation rows: its axes in world coordinates; fourth
  // row: its position) by one motion sample covering seconds. With a fly
  // transform the translation is m_FlyGain per count over its scale, without
  // time factor or limit.
  KESTRIN1_API void CameraControl(float seconds, const short* const motion, AMat43f& camera,
                                  const AXformf* fly);
  // Sets m_TranslationGain from the depth of point (in the object's
  // coordinates) seen through the camera, and returns it.
  KESTRIN1_API float SetFlyFactor(const AXformf& object, const AXformf* parent,
                                  const AXformf* camera, const AVec3f& point,
                                  const AViewVolume& view, unsigned short w, unsigned short h);
  // Adjusts motion (eye coordinates) so that position + motion stays inside
  // the view rectangle of a w by h window.
  KESTRIN1_API void FenceMotionHandle(const AVec3f& position, AVec3f& motion,
                                      const AViewVolume& view, unsigned short w,
                                      unsigned short h);
  // 1 when point (eye coordinates, in front of the eye) projects strictly
  // inside the view rectangle, else 0.
  KESTRIN1_API int IsInViewRectangle(const AVec3f& point, const AViewVolume& view,
                                     unsigned short w, unsigned short h);
  // Turns the rotation so that its first axis is horizontal with respect to
  // up.
  KESTRIN1_API static void MakeUpright(AMat33f& rotation, const AVec3f& up);
  // Moves, zooms and turns object (in its parent's space; parent null: the
  // world) seen through camera (null: eye coordinates are world coordinates)
  // about pivot (object coordinates) by one motion sample. In an
  // orthographic view the zoom changes view.m_Height.
  KESTRIN1_API void ObjectControl(float seconds, const short* const motion, AXformf& object,
                                  const AXformf* parent, const AMat43f* camera,
                                  const AVec3f& pivot, AViewVolume& view, unsigned short w,
                                  unsigned short h);

  AAgility m_Values;
};

static_assert(sizeof(AAgility) == 48, "AAgility is 48 bytes");
static_assert(offsetof(AAgility, m_ExtentGain) == 4 && offsetof(AAgility, m_RotationLimit) == 24 &&
                  offsetof(AAgility, m_Upright) == 28 && offsetof(AAgility, m_Up) == 32 &&
                  offsetof(AAgility, m_TranslationGain) == 44,
              "AAgility field order");
static_assert(sizeof(CAgility) == sizeof(AAgility), "CAgility holds only its settings");

}  // namespace Kestrin1

// ---- flat functions: an agility handle is a pointer to an AAgility ----
// A new handle holding the defaults; null when there is no memory.
KESTRIN1_FLAT Kestrin1::AAgility* KesAgilityCreate();
KESTRIN1_FLAT void KesAgilityDestroy(Kestrin1::AAgility* agility);
// The three option bits and the upright bit as 0 or 1, the rest as stored.
// Always 1.
KESTRIN1_FLAT int KesGetAAgility(Kestrin1::AAgility* agility, int* zoomToPivot,
                                 int* twistAboutPivot, int* fencePivot, float* extentGain,
                                 float* zoomGain, float* rotationGain, float* translationLimit,
                                 float* flyGain, float* rotationLimit, int* upright,
                                 Kestrin1::CSpatialMath::AVec3f* up, float* translationGain);
// Only bit 0 of each int counts; the other bits of m_Options and m_Upright
// stay as they were. Always 1.
KESTRIN1_FLAT int KesSetAAgility(Kestrin1::AAgility* agility, int zoomToPivot,
                                 int twistAboutPivot, int fencePivot, float extentGain,
                                 float zoomGain, float rotationGain, float translationLimit,
                                 float flyGain, float rotationLimit, int upright,
                                 const Kestrin1::CSpatialMath::AVec3f* up, float translationGain);
KESTRIN1_FLAT void KesCameraControl(Kestrin1::AAgility* agility, float seconds,
                                    const short* motion, Kestrin1::CSpatialMath::AMat43f* camera,
                                    const Kestrin1::CSpatialMath::AXformf* fly);
KESTRIN1_FLAT void KesFenceMotionHandle(Kestrin1::AAgility* agility,
                                        const Kestrin1::CSpatialMath::AVec3f* position,
                                        Kestrin1::CSpatialMath::AVec3f* motion,
                                        const Kestrin1::CClarity::AViewVolume* view,
                                        unsigned short w, unsigned short h);
KESTRIN1_FLAT int KesIsInViewRectangle(Kestrin1::AAgility* agility,
                                       const Kestrin1::CSpatialMath::AVec3f* point,
                                       const Kestrin1::CClarity::AViewVolume* view,
                                       unsigned short w, unsigned short h);
KESTRIN1_FLAT void KesMakeUpright(Kestrin1::CSpatialMath::AMat33f* rotation,
                                  const Kestrin1::CSpatialMath::AVec3f* up);
KESTRIN1_FLAT void KesObjectControl(Kestrin1::AAgility* agility, float seconds,
                                    const short* motion, Kestrin1::CSpatialMath::AXformf* object,
                                    const Kestrin1::CSpatialMath::AXformf* parent,
                                    const Kestrin1::CSpatialMath::AMat43f* camera,
                                    const Kestrin1::CSpatialMath::AVec3f* pivot,
                                    Kestrin1::CClarity::AViewVolume* view, unsigned short w,
                                    unsigned short h);
// ObjectControl with the view as six floats (m_CenterX, m_CenterY,
// m_ViewPlaneZ, m_Height, m_NearZ, m_FarZ) and a perspective flag (any
// non-zero value: perspective); note the order: point, flag, then camera.
// Only the height is written back into view[3].
KESTRIN1_FLAT void KesObjectControlCs(Kestrin1::AAgility* agility, float seconds,
                                      const short* motion, Kestrin1::CSpatialMath::AXformf* object,
                                      const Kestrin1::CSpatialMath::AXformf* parent,
                                      const Kestrin1::CSpatialMath::AVec3f* point, int perspective,
                                      const Kestrin1::CSpatialMath::AMat43f* camera, float* view,
                                      unsigned short w, unsigned short h);
KESTRIN1_FLAT float KesSetFlyFactor(Kestrin1::AAgility* agility,
                                    const Kestrin1::CSpatialMath::AXformf* object,
                                    const Kestrin1::CSpatialMath::AXformf* parent,
                                    const Kestrin1::CSpatialMath::AXformf* camera,
                                    const Kestrin1::CSpatialMath::AVec3f* point,
                                    const Kestrin1::CClarity::AViewVolume* view, unsigned short w,
                                    unsigned short h);
