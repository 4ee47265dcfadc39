// A client program of the math and navigation built from the installed
// public header and import library alone: class members, operators, exported
// data and flat functions, each checked against what it must give.
#include <math.h>
#include <stdio.h>

#include "Kestrin1.h"

using namespace Kestrin1;
using AVec3f = CSpatialMath::AVec3f;

static int failures = 0;

static void Check(bool ok, const char* what) {
  if (!ok) {
    printf("consumer: wrong: %s\n", what);
    ++failures;
  }
}

static bool Near(const AVec3f& a, const AVec3f& b) {
  return fabsf(a.x - b.x) < 1e-5f && fabsf(a.y - b.y) < 1e-5f && fabsf(a.z - b.z) < 1e-5f;
}

int main() {
  // Exported data, the unit rows read through their references.
  Check(&CSpatialMath::UnitY == &CSpatialMath::Identity.m_Matrix.m_Rotation.m_Row[1], "UnitY");
  Check(Near(CSpatialMath::UnitX * CSpatialMath::UnitY, CSpatialMath::UnitZ), "x cross y");
  const CSpatialMath::AMat33f quarter =
      CSpatialMath::Rotate(CSpatialMath::pi() / 2, CSpatialMath::UnitZ);
  Check(Near(CSpatialMath::UnitX * quarter, {0, -1, 0}), "a quarter turn about z");
  Check(fabsf(!quarter - 1) < 1e-6f, "determinant");
  float angle;
  AVec3f axis;
  CSpatialMath::MatrixToAxis(angle, axis, quarter);
  Check(fabsf(angle - 90) < 1e-3f && Near(axis, {0, 0, 2}), "MatrixToAxis");

  // The navigation by its members, with the exported defaults.
  CAgility agility;
  Check(agility.m_Values.m_Options == 3 && agility.m_Values.m_FlyGain == 100, "defaults");
  CSpatialMath::AMat43f camera = CSpatialMath::Identity.m_Matrix;
  const short forward[6] = {0, 0, -1000, 0, 0, 0};
  agility.CameraControl(1.0f, forward, camera, nullptr);
  Check(Near(camera.m_Translation, {0, 0, -1000 * 100.0f / 65536}), "CameraControl");

  // The settings record is a plain aggregate, copied member-wise.
  AAgility record = {0x9, 1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f, 1, {0.0f, 0.0f, 1.0f}, 7.0f};
  const AAgility copy = record;
  Check(copy.m_Options == 0x9 && copy.m_Up.z == 1 && copy.m_TranslationGain == 7, "AAgility");
  record = CAgility::m_DefaultValues;
  Check(record.m_Options == 3 && CAgility(record).m_Values.m_FlyGain == 100, "AAgility copy");

  // And by the flat functions.
  AAgility* handle = KesAgilityCreate();
  int bits[4];
  float gains[7];
  AVec3f up;
  KesGetAAgility(handle, &bits[0], &bits[1], &bits[2], &gains[0], &gains[1], &gains[2],
                 &gains[3], &gains[4], &gains[5], &bits[3], &up, &gains[6]);
  Check(bits[0] == 1 && bits[1] == 1 && bits[2] == 0 && bits[3] == 0 && Near(up, {0, 1, 0}),
        "KesGetAAgility");
  CSpatialMath::AXformf object = CSpatialMath::Identity;
  object.m_Matrix.m_Translation = {0, 0, -20};
  const AVec3f pivot = {0, 0, 0};
  float view[6] = {0, 0, -20, 2, -15, -25};
  const short zoom[6] = {0, 0, 500, 0, 0, 0};
  KesObjectControlCs(handle, 0.5f, zoom, &object, nullptr, &pivot, 0, nullptr, view, 400, 300);
  Check(view[3] < 2 && view[2] == -20 && view[4] == -15, "KesObjectControlCs");
  KesAgilityDestroy(handle);
  Check(KesSecondsPerTic == 0.0002048f && KesMonitorRefreshPeriod == 0, "flat data");

  printf("consumer: math and navigation %s\n", failures ? "FAILED" : "ok");
  return failures ? 1 : 0;
}
