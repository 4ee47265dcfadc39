// KestrinZel2Bench: what the library adds to its parts.
// - GetMotion in doubles against the library's GetBallMotion on the same
//   connection in the same run, while the ball moves (every read returns
//   data), and the two library reads GetMotion makes (ball and scroll hat);
//   the section and a stand-in manager window are this program's own.
// - The one-shot timer: lateness of each expiry at the host (tics past the
//   armed, odd duration when OnTimer runs), p50/p99.
// - The worker's wake-ups while disarmed.
// - Destroys made on another thread than the handle's: how long Destroy
//   takes with and without a call of the host under way on the handle's
//   thread (that call runs until the Destroy has returned).
#include <windows.h>
#include <stdio.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "device_access.h"
#include "latency_figures.h"
#include "manager_messages.h"
#include "moving_ball_section.h"
#include "navigation_handle.h"
#include "pump.h"
#include "recording_hosts.h"

namespace {

namespace km = kestrin::manager;
constexpr int kCalls = 1000000;

template <typename Call>
double Measure(Call call) {
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  for (int i = 0; i < kCalls; ++i) call();
  QueryPerformanceCounter(&end);
  return NanosecondsPerCall(start, end, kCalls);
}

int MotionReads() {
  if (!PublishMovingBall()) return 1;
  HWND manager = CreateStandInManager();

  RecordingDeviceHost host;
  DeviceHandle* handle = CreateDeviceHandle(&host);
  // The device attached and enabled, the ball active, as the agent posts it.
  HWND client = FindWindowExA(HWND_MESSAGE, nullptr, km::kClientClass, km::kClientTitle);
  PostMessageA(client, *AJLSKDFHEIEMUWPMXURSKDFNB.m_pMessageId, km::NoticeWParam(1, 0x0706), 0);
  PumpFor(20);
  double seconds = 0;
  NavMotion motion = {};
  Kestrin1::CKestrin* connection = handle && handle->device ? handle->device->connection : nullptr;
  if (!manager || !connection || !GetDeviceMotion(handle, &seconds, &motion) || motion.tx == 0) {
    printf("the read path is not set up (manager %p, events %zu)\n", static_cast<void*>(manager),
           host.calls.size());
    return 1;
  }
  int sum = 0;
  const double doubles = Measure([&] { sum += GetDeviceMotion(handle, &seconds, &motion); });
  const double ball = Measure([&] { sum += connection->GetBallMotion(); });
  const double both = Measure([&] {
    sum += connection->GetBallMotion();
    sum += connection->GetScrollMotion();
  });
  printf("GetMotion in doubles (ball moving, scroll hat still) %8.1f ns per call\n", doubles);
  printf("  the library's GetBallMotion, same connection       %8.1f ns per call (ratio %.2f)\n",
         ball, doubles / ball);
  printf("  GetBallMotion + GetScrollMotion, the reads inside  %8.1f ns per call (ratio %.2f)\n",
         both, doubles / both);
  printf("  (%d calls each; checksum %d)\n", kCalls, sum);
  DestroyDeviceHandle(handle);
  return 0;
}

struct TimerContext {
  uint16_t start = 0;
  uint16_t armed = 0;  // the odd duration
  std::vector<int> lateness;
};

void Timer() {
  RecordingNavigationHost host;
  TimerContext context;
  host.context = &context;
  host.onTimer = [](RecordingNavigationHost* h) {
    auto* c = static_cast<TimerContext*>(h->context);
    const uint16_t elapsed = static_cast<uint16_t>(CurrentTic16() - c->start);
    c->lateness.push_back(static_cast<int>(elapsed) - c->armed);
  };
  NavigationHandle* handle = CreateNavigationHandle(&host);
  const int kSamples = 300;
  for (int i = 0; i < kSamples; ++i) {
    const uint16_t duration = static_cast<uint16_t>(5 + (i * 37) % 150);  // 1 to 32 ms
    context.armed = static_cast<uint16_t>(duration | 1);
    context.start = CurrentTic16();
    StartNavigationTimer(handle, context.start, duration);
    const size_t seen = context.lateness.size();
    PumpUntil([&] { return context.lateness.size() > seen; }, 2000);
  }
  std::vector<int> sorted = context.lateness;
  std::sort(sorted.begin(), sorted.end());
  if (sorted.empty()) {
    printf("timer: no expiry\n");
  } else {
    const int p50 = sorted[sorted.size() / 2];
    const int p99 = sorted[sorted.size() * 99 / 100];
    printf("timer expiry lateness at the host (%zu expiries, durations 5-154 tics):\n",
           sorted.size());
    printf("  p50 %d tics (%.2f ms), p99 %d tics (%.2f ms), min %d, max %d tics\n", p50,
           p50 * 0.2048, p99, p99 * 0.2048, sorted.front(), sorted.back());
  }
  DestroyNavigationHandle(handle);
}

void WakeupsAtRest() {
  RecordingNavigationHost host;
  NavigationHandle* handle = CreateNavigationHandle(&host);
  CTimerHelper* helper = handle->object->m_pHelper;
  const DWORD seconds = 30;
  PumpFor(100);
  const uint32_t first = helper->Wakeups();
  FILETIME created, exited, kernel0, user0, kernel1, user1;
  GetThreadTimes(helper->Worker(), &created, &exited, &kernel0, &user0);
  Sleep(seconds * 1000 - 100);
  GetThreadTimes(helper->Worker(), &created, &exited, &kernel1, &user1);
  const uint32_t wakeups = helper->Wakeups() - first;
  auto ticks = [](const FILETIME& f) {
    return (static_cast<uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime;
  };
  const double cpuMs =
      static_cast<double>(ticks(kernel1) - ticks(kernel0) + ticks(user1) - ticks(user0)) / 1e4;
  printf("worker at rest: %u wake-ups in %lu s after the first pass (%.2f per minute; one every "
         "13.421 s expected), worker CPU %.3f ms\n",
         wakeups, seconds, wakeups * 60.0 / seconds, cpuMs);
  DestroyNavigationHandle(handle);
}

// A handle of one kind made on thread A, whose host's call (an OnTimer, or
// an OnActive that A's client window would deliver) waits for its destroy.
struct DestroyRound {
  std::atomic<int> ready{-1}, destroyed{-1};
};

struct WaitingTimerHost : RecordingNavigationHost {
  DestroyRound* round = nullptr;
  int index = 0;
};

// Destroys on this thread of handles made on another, that thread pumping
// (and, with callUnderWay, inside the handle's call of its host); the time
// of each Destroy in microseconds.
std::vector<double> TimedDestroys(bool device, bool callUnderWay) {
  constexpr int kRounds = 200;
  DestroyRound round;
  std::vector<double> us;
  void* handles[kRounds] = {};
  std::thread a([&] {
    for (int i = 0; i < kRounds; ++i) {
      auto destroyedNow = [&] { return round.destroyed.load() == i; };
      if (device) {
        RecordingDeviceHost host;
        host.onActive = [&] {
          round.ready = i;
          while (!destroyedNow()) Sleep(0);
        };
        handles[i] = CreateDeviceHandle(&host);
        if (callUnderWay) {
          DeviceCallback(Kestrin1::EventBallActive, 0);  // as the client window delivers it
        } else {
          round.ready = i;
        }
        PumpUntil(destroyedNow, 5000);
      } else {
        WaitingTimerHost host;
        host.round = &round;
        host.index = i;
        host.onTimer = [](RecordingNavigationHost* h) {
          auto* w = static_cast<WaitingTimerHost*>(h);
          w->round->ready = w->index;
          while (w->round->destroyed.load() != w->index) Sleep(0);
        };
        handles[i] = CreateNavigationHandle(&host);
        if (callUnderWay)
          StartNavigationTimer(static_cast<NavigationHandle*>(handles[i]), CurrentTic16(), 0);
        else
          round.ready = i;
        PumpUntil(destroyedNow, 5000);
      }
      PumpFor(2);  // the closes
    }
  });
  for (int i = 0; i < kRounds; ++i) {
    while (round.ready.load() != i) Sleep(0);
    const double start = MicrosecondsNow();
    if (device)
      DestroyDeviceHandle(static_cast<DeviceHandle*>(handles[i]));
    else
      DestroyNavigationHandle(static_cast<NavigationHandle*>(handles[i]));
    us.push_back(MicrosecondsNow() - start);
    round.destroyed = i;
  }
  a.join();
  return us;
}

void DestroyLatency() {
  printf("Destroy on another thread than the handle's (that thread pumping):\n");
  PrintLatency("  navigation handle, no call under way", TimedDestroys(false, false), 0);
  PrintLatency("  navigation handle, its OnTimer under way", TimedDestroys(false, true), 0);
  PrintLatency("  device handle, no call under way", TimedDestroys(true, false), 0);
  PrintLatency("  device handle, its OnActive under way", TimedDestroys(true, true), 0);
}

}  // namespace

int main() {
  SetEnvironmentVariableA("ProgramFiles", "C:\\no such folder");
  if (MotionReads()) return 1;
  Timer();
  DestroyLatency();
  WakeupsAtRest();
  return 0;
}
