// The flat functions of CAgility: plain exported names, an agility handle (a
// pointer to an AAgility record) first, each a direct forward to the member.
// The members run on a CAgility built from the record, so any 48-byte record
// serves as a handle, not only one from KesAgilityCreate.
#include <new>

#include "agility.h"
#include "kestrin_flat_data.h"

using Kestrin1::AAgility;
using Kestrin1::CAgility;
using AVec3f = Kestrin1::CSpatialMath::AVec3f;
using AMat33f = Kestrin1::CSpatialMath::AMat33f;
using AMat43f = Kestrin1::CSpatialMath::AMat43f;
using AXformf = Kestrin1::CSpatialMath::AXformf;
using AViewVolume = Kestrin1::CClarity::AViewVolume;

float KesMonitorRefreshPeriod = 0.0f;
const float KesSecondsPerTic = 0.0002048f;

AAgility* KesAgilityCreate() { return new (std::nothrow) AAgility(CAgility::m_DefaultValues); }

void KesAgilityDestroy(AAgility* agility) { delete agility; }

int KesGetAAgility(AAgility* agility, int* zoomToPivot, int* twistAboutPivot, int* fencePivot,
                   float* extentGain, float* zoomGain, float* rotationGain,
                   float* translationLimit, float* flyGain, float* rotationLimit, int* upright,
                   AVec3f* up, float* translationGain) {
  const AAgility& a = *agility;
  *zoomToPivot = a.m_Options & 1;
  *twistAboutPivot = a.m_Options >> 1 & 1;
  *fencePivot = a.m_Options >> 2 & 1;
  *extentGain = a.m_ExtentGain;
  *zoomGain = a.m_ZoomGain;
  *rotationGain = a.m_RotationGain;
  *translationLimit = a.m_TranslationLimit;
  *flyGain = a.m_FlyGain;
  *rotationLimit = a.m_RotationLimit;
  *upright = a.m_Upright & 1;
  *up = a.m_Up;
  *translationGain = a.m_TranslationGain;
  return 1;
}

int KesSetAAgility(AAgility* agility, int zoomToPivot, int twistAboutPivot, int fencePivot,
                   float extentGain, float zoomGain, float rotationGain, float translationLimit,
                   float flyGain, float rotationLimit, int upright, const AVec3f* up,
                   float translationGain) {
  AAgility& a = *agility;
  a.m_Options = static_cast<unsigned short>((a.m_Options & 0xFFF8) | (fencePivot & 1) << 2 |
                                            (twistAboutPivot & 1) << 1 | (zoomToPivot & 1));
  a.m_ExtentGain = extentGain;
  a.m_ZoomGain = zoomGain;
  a.m_RotationGain = rotationGain;
  a.m_TranslationLimit = translationLimit;
  a.m_FlyGain = flyGain;
  a.m_RotationLimit = rotationLimit;
  a.m_Upright = static_cast<unsigned short>((a.m_Upright & 0xFFFE) | (upright & 1));
  a.m_Up = *up;
  a.m_TranslationGain = translationGain;
  return 1;
}

void KesCameraControl(AAgility* agility, float seconds, const short* motion, AMat43f* camera,
                      const AXformf* fly) {
  CAgility(*agility).CameraControl(seconds, motion, *camera, fly);
}

void KesFenceMotionHandle(AAgility* agility, const AVec3f* position, AVec3f* motion,
                          const AViewVolume* view, unsigned short w, unsigned short h) {
  CAgility(*agility).FenceMotionHandle(*position, *motion, *view, w, h);
}

int KesIsInViewRectangle(AAgility* agility, const AVec3f* point, const AViewVolume* view,
                         unsigned short w, unsigned short h) {
  return CAgility(*agility).IsInViewRectangle(*point, *view, w, h);
}

void KesMakeUpright(AMat33f* rotation, const AVec3f* up) { CAgility::MakeUpright(*rotation, *up); }

void KesObjectControl(AAgility* agility, float seconds, const short* motion, AXformf* object,
                      const AXformf* parent, const AMat43f* camera, const AVec3f* pivot,
                      AViewVolume* view, unsigned short w, unsigned short h) {
  CAgility(*agility).ObjectControl(seconds, motion, *object, parent, camera, *pivot, *view, w, h);
}

void KesObjectControlCs(AAgility* agility, float seconds, const short* motion, AXformf* object,
                        const AXformf* parent, const AVec3f* point, int perspective,
                        const AMat43f* camera, float* view, unsigned short w, unsigned short h) {
  AViewVolume volume;
  volume.m_Perspective = perspective != 0 ? 1 : 0;
  volume.m_CenterX = view[0];
  volume.m_CenterY = view[1];
  volume.m_ViewPlaneZ = view[2];
  volume.m_Height = view[3];
  volume.m_NearZ = view[4];
  volume.m_FarZ = view[5];
  CAgility(*agility).ObjectControl(seconds, motion, *object, parent, camera, *point, volume, w, h);
  view[3] = volume.m_Height;
}

float KesSetFlyFactor(AAgility* agility, const AXformf* object, const AXformf* parent,
                      const AXformf* camera, const AVec3f* point, const AViewVolume* view,
                      unsigned short w, unsigned short h) {
  CAgility navigation(*agility);
  const float gain = navigation.SetFlyFactor(*object, parent, camera, *point, *view, w, h);
  *agility = navigation.m_Values;
  return gain;
}
