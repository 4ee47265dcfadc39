#include "motion_stages.h"

#include <cmath>

#include "fixed_shift.h"

const uint16_t kGainBases[4] = {256, 256, 256, 204};
const uint16_t kDefaultSpeedSettings[4] = {0x8000, 0x8000, 0x8000, 0x8000};

static int32_t SignExtend10(uint32_t field) {
  const int32_t n = static_cast<int32_t>(field & 0x3FF);
  return n >= 512 ? n - 1024 : n;
}

void DecodeScrollReport(int16_t out[2], const uint8_t data[3], uint8_t restZone) {
  const uint32_t bits = static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
                        static_cast<uint32_t>(data[2]) << 16;
  const int32_t x = 32 * SignExtend10(bits);        // -16384 to 16352
  const int32_t y = 32 * SignExtend10(bits >> 10);
  // The rest zone passes a weighted square equal to it (the ball needs more).
  const int32_t weight = 3 * ((x / 4) * (x / 2) + (y / 4) * (y / 2));
  if (weight < static_cast<int32_t>(restZone)) {
    out[0] = out[1] = 0;
    return;
  }
  int32_t a = x - y;  // the 45-degree mix stays within -32768 to 32736
  int32_t b = x + y;
  const uint16_t e = static_cast<uint16_t>((static_cast<uint32_t>(a * a) >> 15) +
                                           (static_cast<uint32_t>(b * b) >> 15));
  if (e != 32768) {
    a = ShiftRightFloor(a * e, 15);
    b = ShiftRightFloor(b * e, 15);
  }
  out[0] = static_cast<int16_t>(a);
  out[1] = static_cast<int16_t>(b);
}

uint16_t HalfSquaredMagnitude(const int16_t v[3]) {
  uint32_t sum = 0;
  for (int i = 0; i < 3; ++i) {
    const int32_t x = v[i];
    sum += static_cast<uint32_t>(x * x) >> 17;
  }
  return static_cast<uint16_t>(sum);
}

void CubicResponseTriplet(int16_t v[3]) {
  const uint16_t s = HalfSquaredMagnitude(v);
  if (s >= 8192) return;  // at or above full scale
  const int32_t m = 4 * s;
  for (int i = 0; i < 3; ++i) v[i] = static_cast<int16_t>(ShiftRightFloor(v[i] * m + 8192, 15));
}

void ApplyAxisConvention(int16_t v[6], uint16_t convention) {
  if (convention & 1) {
    v[1] = Negate16(v[1]);
    v[2] = Negate16(v[2]);
    v[3] = Negate16(v[3]);
  } else {
    const int16_t o1 = v[1], o4 = v[4];
    v[1] = Negate16(v[2]);
    v[2] = o1;
    v[3] = Negate16(v[3]);
    v[4] = v[5];
    v[5] = Negate16(o4);
  }
}

static void ApplyGain(int16_t* v, int n, uint16_t gain) {
  const uint32_t limit = 0x3FFF80;  // 128 * 32767
  uint32_t largest = 0;
  for (int i = 0; i < n; ++i) {
    const int32_t x = v[i];
    const uint32_t magnitude = static_cast<uint32_t>(x < 0 ? -x : x);
    if (magnitude > largest) largest = magnitude;
  }
  uint32_t g = gain;
  // One common factor for the group keeps its direction when it is limited.
  if (largest * g > limit) g = limit / largest;
  for (int i = 0; i < n; ++i)
    v[i] = static_cast<int16_t>(ShiftRightFloor(v[i] * static_cast<int32_t>(g), 7));
}

void ApplyGain1(int16_t* v, uint16_t gain) { ApplyGain(v, 1, gain); }
void ApplyGain2(int16_t v[2], uint16_t gain) { ApplyGain(v, 2, gain); }
void ApplyGain3(int16_t v[3], uint16_t gain) { ApplyGain(v, 3, gain); }

void GainsFromSettings(int16_t gains[4], const uint16_t settings[4]) {
  for (int k = 0; k < 4; ++k) {
    const float exponent = static_cast<float>(settings[k]) / 5461.0f - 6.0f;
    const float factor = static_cast<float>(std::pow(2.0, static_cast<double>(exponent)));
    const float gain = factor * static_cast<float>(kGainBases[k]);  // at most 16390
    gains[k] = static_cast<int16_t>(gain);
  }
}
