// Test helpers: report bytes from raw 10-bit fields, a fixed-seed generator
// and a checksum that both builds compute alike.
#pragma once
#include <stdint.h>
#include <string.h>

#include <array>

// Ball report bytes 1-8 from six raw fields (-512 to 511), field j at bits
// 10j to 10j+9; top holds bits 60-63.
inline std::array<uint8_t, 8> BallBytes(const int (&fields)[6], unsigned top = 0) {
  uint64_t bits = static_cast<uint64_t>(top & 0xF) << 60;
  for (int j = 0; j < 6; ++j) bits |= (static_cast<uint64_t>(fields[j]) & 0x3FF) << (10 * j);
  std::array<uint8_t, 8> out;
  for (int i = 0; i < 8; ++i) out[i] = static_cast<uint8_t>(bits >> (8 * i));
  return out;
}

// Scroll-hat report bytes 1-3 from the raw axes (-512 to 511); top holds bits 20-23.
inline std::array<uint8_t, 3> ScrollBytes(int x, int y, unsigned top = 0) {
  const uint32_t bits = (static_cast<uint32_t>(x) & 0x3FF) |
                        (static_cast<uint32_t>(y) & 0x3FF) << 10 | (top & 0xF) << 20;
  return {static_cast<uint8_t>(bits), static_cast<uint8_t>(bits >> 8),
          static_cast<uint8_t>(bits >> 16)};
}

// SplitMix64: the same sequence on every platform and library.
struct TestRandom {
  uint64_t state;
  explicit TestRandom(uint64_t seed) : state(seed) {}
  uint64_t Next() {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
};

// FNV-1a over 64 bits.
struct Checksum {
  uint64_t value = 0xCBF29CE484222325ull;
  void Bytes(const void* data, size_t n) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < n; ++i) value = (value ^ p[i]) * 0x100000001B3ull;
  }
  void Int16s(const int16_t* v, int n) {
    for (int i = 0; i < n; ++i) {
      const uint16_t u = static_cast<uint16_t>(v[i]);
      const uint8_t b[2] = {static_cast<uint8_t>(u), static_cast<uint8_t>(u >> 8)};
      Bytes(b, 2);
    }
  }
  void Floats(const float* v, int n) {
    for (int i = 0; i < n; ++i) {
      uint32_t u;
      memcpy(&u, &v[i], 4);
      const uint8_t b[4] = {static_cast<uint8_t>(u), static_cast<uint8_t>(u >> 8),
                            static_cast<uint8_t>(u >> 16), static_cast<uint8_t>(u >> 24)};
      Bytes(b, 4);
    }
  }
};
