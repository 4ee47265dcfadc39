// What the latency benchmarks share: a microsecond clock and one line of
// figures per measured path (median, 99th percentile, worst).
#pragma once
#include <windows.h>
#include <stdio.h>

#include <algorithm>
#include <vector>

inline double MicrosecondsNow() {
  static const double ticksPerMicrosecond = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart) / 1e6;
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) / ticksPerMicrosecond;
}

inline void PrintLatency(const char* what, std::vector<double> us, int lost) {
  if (us.empty()) {
    printf("%-46s no samples (%d lost)\n", what, lost);
    return;
  }
  std::sort(us.begin(), us.end());
  printf("%-46s p50 %8.1f us  p99 %8.1f us  max %8.1f us  (%zu samples, %d lost)\n", what,
         us[us.size() / 2], us[us.size() * 99 / 100], us.back(), us.size(), lost);
}

// The road's median and 99th percentile over the floor's, from the same run.
inline void PrintRatio(const char* what, std::vector<double> road, std::vector<double> floor) {
  if (road.empty() || floor.empty()) {
    printf("%-46s no ratio (no samples)\n", what);
    return;
  }
  std::sort(road.begin(), road.end());
  std::sort(floor.begin(), floor.end());
  printf("%-46s p50 %6.2fx       p99 %6.2fx\n", what,
         road[road.size() / 2] / floor[floor.size() / 2],
         road[road.size() * 99 / 100] / floor[floor.size() * 99 / 100]);
}
