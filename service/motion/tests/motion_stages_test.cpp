#include "motion_stages.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "report_bytes.h"

namespace {

TEST(DecodeScrollReport, RestZoneMixAndResponse) {
  struct Case {
    int x, y;  // raw ten-bit axes
    uint8_t restZone;
    int16_t a, b;
  } cases[] = {
      {0, 0, 75, 0, 0},           // weight 0 is inside the rest zone
      {1, 0, 75, 0, 0},           // weight 384 passes; the response gives 0
      {6, 0, 75, 0, 0},
      {-6, 0, 75, -1, -1},        // the shifts round towards minus infinity
      {26, 0, 75, 1, 1},
      {100, 50, 75, 38, 114},
      {511, 511, 75, 0, 32576},
      {-512, -512, 75, 0, -32768},  // full scale: passed through unchanged
      {0, 26, 75, -2, 1},
      {50, 100, 75, -39, 114},
      {-512, 511, 75, -32673, -32},
      {1, 0, 255, 0, 0},
      {26, 0, 255, 1, 1},
      {-512, -512, 0, 0, -32768},
      {0, 0, 0, 0, 0},            // weight equal to the rest zone passes (and decodes to 0)
  };
  for (const Case& c : cases) {
    for (unsigned top : {0u, 0xFu}) {  // bits 20-23 are not read
      int16_t out[2] = {0x5555, 0x5555};
      DecodeScrollReport(out, ScrollBytes(c.x, c.y, top).data(), c.restZone);
      EXPECT_EQ(out[0], c.a) << c.x << "," << c.y << " rest zone " << int(c.restZone);
      EXPECT_EQ(out[1], c.b) << c.x << "," << c.y << " rest zone " << int(c.restZone);
    }
  }
}

TEST(DecodeScrollReport, EveryAxisInputStaysInRangeAndKeepsItsSign) {
  Checksum sum;
  for (uint8_t restZone : {0, 75, 255}) {
    for (uint32_t bits = 0; bits < (1u << 20); ++bits) {
      const uint8_t data[3] = {static_cast<uint8_t>(bits), static_cast<uint8_t>(bits >> 8),
                               static_cast<uint8_t>(bits >> 16)};
      int16_t out[2];
      DecodeScrollReport(out, data, restZone);
      sum.Int16s(out, 2);
      const int nx = static_cast<int>(bits & 0x3FF) - (bits & 0x200 ? 1024 : 0);
      const int ny = static_cast<int>(bits >> 10 & 0x3FF) - (bits & 0x80000 ? 1024 : 0);
      const int a = 32 * (nx - ny), b = 32 * (nx + ny);
      // The response never amplifies and never turns a sign over.
      if (abs(out[0]) > abs(a) || abs(out[1]) > abs(b) || out[0] * a < 0 || out[1] * b < 0) {
        ADD_FAILURE() << "axes " << nx << "," << ny << " gave " << out[0] << "," << out[1];
        return;
      }
    }
  }
  EXPECT_EQ(sum.value, 0xB5B2026C16A3C519ull) << std::hex << sum.value;
}

TEST(CubicResponseTriplet, CubeLawBelowFullScale) {
  struct Case {
    int16_t in[3];
    uint16_t magnitude;
    int16_t out[3];
  } cases[] = {
      {{16384, 0, 0}, 2048, {4096, 0, 0}},
      {{32767, 0, 0}, 8191, {32763, 0, 0}},
      {{1000, 0, 0}, 7, {1, 0, 0}},
      {{-1000, 0, 0}, 7, {-1, 0, 0}},
      {{100, 0, 0}, 0, {0, 0, 0}},
      {{0, -16384, 0}, 2048, {0, -4096, 0}},
      {{16384, 16384, 0}, 4096, {8192, 8192, 0}},   // common magnitude of the triplet
      {{16384, -8192, 4096}, 2688, {5376, -2688, 1344}},
      {{23170, 23170, 0}, 8190, {23164, 23164, 0}},
      {{23171, 23171, 0}, 8192, {23171, 23171, 0}},  // at full scale: unchanged
      {{32767, 32767, 32767}, 24573, {32767, 32767, 32767}},
      {{-32768, -32768, -32768}, 24576, {-32768, -32768, -32768}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HalfSquaredMagnitude(c.in), c.magnitude) << c.in[0] << "," << c.in[1];
    int16_t v[3] = {c.in[0], c.in[1], c.in[2]};
    CubicResponseTriplet(v);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(v[i], c.out[i]) << c.in[0] << "," << c.in[1];
  }
}

TEST(CubicResponseTriplet, SingleValueCurveIsMonotonicAndNeverAmplifies) {
  int previous = -32768;
  for (int x = -32768; x <= 32767; ++x) {
    int16_t v[3] = {static_cast<int16_t>(x), 0, 0};
    CubicResponseTriplet(v);
    if (v[0] < previous || abs(v[0]) > abs(x) || v[1] != 0 || v[2] != 0) {
      ADD_FAILURE() << x << " gave " << v[0];
      return;
    }
    previous = v[0];
  }
}

TEST(ApplyAxisConvention, OrdersAndSignsTheSolverOutputs) {
  struct Case {
    uint16_t convention;
    int16_t out[6];
  } cases[] = {
      {0, {1, -3, 2, -4, 6, -5}},  // vertical axis reported as ty and ry
      {2, {1, -3, 2, -4, 6, -5}},  // only bit 0 counts
      {1, {1, -2, -3, -4, 5, 6}},  // vertical axis reported as tz and rz
      {0xFFFF, {1, -2, -3, -4, 5, 6}},
  };
  for (const Case& c : cases) {
    int16_t v[6] = {1, 2, 3, 4, 5, 6};
    ApplyAxisConvention(v, c.convention);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(v[i], c.out[i]) << c.convention << " output " << i;
  }
  // 16-bit negation: -32768 has no positive partner and stays.
  int16_t v[6] = {0, -32768, 32767, -32768, 0, 0};
  ApplyAxisConvention(v, 1);
  EXPECT_EQ(v[1], -32768);
  EXPECT_EQ(v[2], -32767);
  EXPECT_EQ(v[3], -32768);
}

TEST(ApplyGain, ScalesAndLimitsAGroupWithOneFactor) {
  struct Case {
    uint16_t gain;
    int n;
    int16_t in[3];
    int16_t out[3];
  } cases[] = {
      {256, 1, {16383}, {32766}},
      {256, 1, {16384}, {32640}},  // over the limit: factor 255
      {256, 1, {-16384}, {-32640}},
      {256, 2, {16384, 8192}, {32640, 16320}},  // direction kept
      {256, 2, {-8192, 16384}, {-16320, 32640}},
      {256, 3, {16384, -8192, 4096}, {32640, -16320, 8160}},
      {16390, 3, {1000, -500, 3}, {32765, -16383, 98}},  // factor 4194
      {0, 3, {32767, -32768, 1}, {0, 0, 0}},
      {1, 2, {1, -1}, {0, -1}},  // arithmetic shift: towards minus infinity
      {204, 2, {0, 32767}, {0, 32767}},  // limited to 128 at full scale
      {204, 2, {38, -114}, {60, -182}},
      {128, 1, {-32768}, {-32512}},  // -32768 alone exceeds 128 * 32767
      {0xFFFF, 1, {32767}, {32767}},  // a gain is read as unsigned
      {0xFFFF, 2, {1, 0}, {511, 0}},
  };
  for (const Case& c : cases) {
    int16_t v[3] = {c.in[0], c.in[1], c.in[2]};
    if (c.n == 1) ApplyGain1(v, c.gain);
    if (c.n == 2) ApplyGain2(v, c.gain);
    if (c.n == 3) ApplyGain3(v, c.gain);
    for (int i = 0; i < c.n; ++i)
      EXPECT_EQ(v[i], c.out[i]) << "gain " << c.gain << " value " << c.in[i];
    for (int i = c.n; i < 3; ++i) EXPECT_EQ(v[i], c.in[i]) << "outside the group";
  }
}

TEST(ApplyGain, UnityAndFullGainStayInRange) {
  for (int x = -32767; x <= 32767; ++x) {
    int16_t v = static_cast<int16_t>(x);
    ApplyGain1(&v, 128);
    if (v != x) {
      ADD_FAILURE() << "unity gain changed " << x << " to " << v;
      return;
    }
    int16_t pair[2] = {static_cast<int16_t>(x), static_cast<int16_t>(-x / 2)};
    ApplyGain2(pair, 16390);
    if (pair[0] < -32767 || pair[1] < -32767) {
      ADD_FAILURE() << "full gain of " << x << " left the range";
      return;
    }
  }
}

TEST(GainsFromSettings, DoublesEvery5461Steps) {
  struct Case {
    uint16_t setting;
    int16_t motion, scroll;
  } cases[] = {
      {0, 4, 3}, {0x4000, 32, 25}, {0x8000, 256, 204}, {0xC000, 2048, 1632}, {0xFFFF, 16390, 13060},
  };
  for (const Case& c : cases) {
    const uint16_t settings[4] = {c.setting, c.setting, c.setting, c.setting};
    int16_t gains[4];
    GainsFromSettings(gains, settings);
    EXPECT_EQ(gains[0], c.motion) << std::hex << c.setting;
    EXPECT_EQ(gains[1], c.motion) << std::hex << c.setting;
    EXPECT_EQ(gains[2], c.motion) << std::hex << c.setting;
    EXPECT_EQ(gains[3], c.scroll) << std::hex << c.setting;
  }
  int16_t gains[4];
  GainsFromSettings(gains, kDefaultSpeedSettings);
  EXPECT_EQ(gains[0], 256);
  EXPECT_EQ(gains[1], 256);
  EXPECT_EQ(gains[2], 256);
  EXPECT_EQ(gains[3], 204);
  const uint16_t mixed[4] = {0, 0x8000, 0xFFFF, 0x4000};  // each group its own
  GainsFromSettings(gains, mixed);
  EXPECT_EQ(gains[0], 4);
  EXPECT_EQ(gains[1], 256);
  EXPECT_EQ(gains[2], 16390);
  EXPECT_EQ(gains[3], 25);
}

TEST(GainsFromSettings, EverySettingGivesTheSameGainInBothBuilds) {
  // The power function comes from each platform's library: the checksum
  // shows that both builds agree on all 65536 settings.
  Checksum sum;
  int16_t previous[4] = {0, 0, 0, 0};
  for (uint32_t setting = 0; setting <= 0xFFFF; ++setting) {
    const uint16_t s = static_cast<uint16_t>(setting);
    const uint16_t settings[4] = {s, s, s, s};
    int16_t gains[4];
    GainsFromSettings(gains, settings);
    sum.Int16s(gains, 4);
    for (int k = 0; k < 4; ++k) {
      if (gains[k] < previous[k] || gains[k] <= 0) {
        ADD_FAILURE() << "setting " << setting << " group " << k << " gain " << gains[k];
        return;
      }
      previous[k] = gains[k];
    }
  }
  EXPECT_EQ(sum.value, 0x06BC228111E68A75ull) << std::hex << sum.value;
}

}  // namespace
