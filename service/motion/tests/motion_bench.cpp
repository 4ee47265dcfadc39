// Prints the cost of one report through the service's whole motion chain:
// ball (solver, response curve, axis convention, gains) and scroll hat
// (decoder, negation, gain), in ns per report. No pass or fail.
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <chrono>
#include <vector>

#include "ball_solver.h"
#include "report_bytes.h"
#include "report_motion.h"

namespace {

const int16_t kGains[4] = {256, 256, 256, 204};
volatile int32_t g_Sink;

// Ball reports of a hand moving smoothly: translations and turns of up to
// 0.25 of full scale, changing a little from report to report.
std::vector<std::array<uint8_t, 8>> MovingBall(int count) {
  std::vector<std::array<uint8_t, 8>> reports;
  for (int i = 0; i < count; ++i) {
    const float p = static_cast<float>(i) * 0.01f;
    const float d[3] = {0.25f * sinf(p), 0.2f * sinf(1.3f * p + 1), 0.15f * cosf(0.7f * p)};
    const float w[3] = {0.1f * cosf(1.1f * p), 0.2f * sinf(0.5f * p + 2), 0.1f * sinf(0.9f * p)};
    int fields[6];
    for (int k = 0; k < 3; ++k) {
      const float* a = SensorGeometry + 9 * k;
      float m[3];
      CrossProduct(m, w, a + 3);
      for (int j = 0; j < 3; ++j) m[j] = m[j] + d[j];
      fields[2 * k] = static_cast<int>(lrintf((a[0] * m[0] + a[1] * m[1] + a[2] * m[2]) * 512));
      fields[2 * k + 1] =
          static_cast<int>(lrintf((a[6] * m[0] + a[7] * m[1] + a[8] * m[2]) * 512));
    }
    reports.push_back(BallBytes(fields));
  }
  return reports;
}

template <typename Body>
double BestNsPerReport(int reportsPerRun, Body body) {
  double best = 1e30;
  for (int run = 0; run < 7; ++run) {
    const auto start = std::chrono::steady_clock::now();
    body();
    const auto end = std::chrono::steady_clock::now();
    const double ns = std::chrono::duration<double, std::nano>(end - start).count() / reportsPerRun;
    if (ns < best) best = ns;
  }
  return best;
}

double MeanUpdates(const std::vector<std::array<uint8_t, 8>>& reports, const float start[3],
                   bool restart) {
  float state[3] = {start[0], start[1], start[2]};
  long total = 0;
  for (const auto& r : reports) {
    if (restart) memcpy(state, start, sizeof state);
    int16_t v[6];
    UnpackBallFields(v, r.data());
    float t[3], w[3];
    total += SolveBallVectors(t, w, v, state);
  }
  return static_cast<double>(total) / reports.size();
}

}  // namespace

int main() {
  const int kReports = 4096, kRepeats = 100, kPerRun = kReports * kRepeats;
  const auto moving = MovingBall(kReports);

  const float origin[3] = {0, 0, 0};
  const double movingNs = BestNsPerReport(kPerRun, [&] {
    float state[3] = {0, 0, 0};
    int32_t sink = 0;
    for (int n = 0; n < kRepeats; ++n) {
      for (const auto& r : moving) {
        int16_t out[6];
        ProcessBallReport(out, r.data(), state, 75, kGains, 0);
        sink += out[0] + out[5];
      }
    }
    g_Sink = sink;
  });

  // From far below the contact points every report needs all fifteen passes.
  const float far[3] = {0.0f, -0.9f, 0.0f};
  const double worstNs = BestNsPerReport(kPerRun, [&] {
    int32_t sink = 0;
    for (int n = 0; n < kRepeats; ++n) {
      for (const auto& r : moving) {
        float state[3] = {far[0], far[1], far[2]};
        int16_t out[6];
        ProcessBallReport(out, r.data(), state, 75, kGains, 1);
        sink += out[0] + out[5];
      }
    }
    g_Sink = sink;
  });

  std::vector<std::array<uint8_t, 3>> scroll;
  TestRandom random(7);
  for (int i = 0; i < kReports; ++i) {
    const uint64_t bits = random.Next();
    scroll.push_back({static_cast<uint8_t>(bits), static_cast<uint8_t>(bits >> 8),
                      static_cast<uint8_t>(bits >> 16)});
  }
  const double scrollNs = BestNsPerReport(kPerRun, [&] {
    int32_t sink = 0;
    for (int n = 0; n < kRepeats; ++n) {
      for (const auto& r : scroll) {
        int16_t out[2];
        ProcessScrollReport(out, r.data(), 75, kGains);
        sink += out[0] + out[1];
      }
    }
    g_Sink = sink;
  });

  printf("ball report, moving ball (%5.2f centre updates each):  %7.1f ns\n",
         MeanUpdates(moving, origin, false), movingNs);
  printf("ball report, worst case   (%5.2f centre updates each):  %7.1f ns\n",
         MeanUpdates(moving, far, true), worstNs);
  printf("scroll-hat report:                                      %7.1f ns\n", scrollNs);
  printf("goal: under 1000 ns per ball report under Wine\n");
#if defined(__SANITIZE_ADDRESS__)
  printf("(built with AddressSanitizer and UndefinedBehaviorSanitizer: slower than released code)\n");
#endif
  return 0;
}
