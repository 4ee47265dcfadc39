// The integer stages between raw or solved readings and the published values:
// the scroll-hat decoder, the cubic response curve, the axis convention, the
// gain stage, and the gains computed from the user's speed settings.
// No windows.h: built in the service and in the native tests.
#pragma once
#include <stdint.h>

// Gain bases of pan, zoom, spin and scroll hat, in 1/128 units (128 = unity).
extern const uint16_t kGainBases[4];
// Default speed settings: gains 256, 256, 256, 204.
extern const uint16_t kDefaultSpeedSettings[4];

// out: x, y (scroll hat, before the reader's negation of y). data: report
// bytes 1-3. Inside the rest zone (weighted square below restZone) both are 0.
void DecodeScrollReport(int16_t out[2], const uint8_t data[3], uint8_t restZone);

// Sum of (v_i^2 >> 17) over the triplet, at most 24576.
uint16_t HalfSquaredMagnitude(const int16_t v[3]);
// Cube law on the triplet's common magnitude, in place; values at or above
// full scale (magnitude sum 8192 or more) are left unchanged.
void CubicResponseTriplet(int16_t v[3]);

// Orders and signs the six solver outputs for the vertical-axis convention
// (bit 0 of convention), in place. Result: tx, ty, tz, rx, ry, rz.
void ApplyAxisConvention(int16_t v[6], uint16_t convention);

// Scale a group by gain/128 with one common factor, limited so that no value
// leaves [-32767, 32767] and the group keeps its direction. gain is unsigned.
void ApplyGain1(int16_t* v, uint16_t gain);
void ApplyGain2(int16_t v[2], uint16_t gain);
void ApplyGain3(int16_t v[3], uint16_t gain);

// gains[k] = 2^(settings[k] / 5461 - 6) * kGainBases[k], truncated: every 5461
// steps double the gain; 0x8000 gives the base.
void GainsFromSettings(int16_t gains[4], const uint16_t settings[4]);
