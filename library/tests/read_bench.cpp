// Kestrin1ReadBench: the cost of CKestrin::GetBallMotion through the DLL
// while the ball moves (every read returns data: the full path with its time
// query), beside a bare consistent copy of record 1 and the time query alone,
// measured in the same run. The section and a stand-in manager window are
// this program's own, so no agent or service is needed.
#include <windows.h>
#include <stdio.h>

#include "Kestrin1.h"
#include "manager_messages.h"
#include "motion_section.h"
#include "moving_ball_section.h"

namespace {

namespace km = kestrin::manager;
constexpr int kCalls = 2000000;

void Pump() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
}

}  // namespace

int main() {
  DeviceMotionRecord* record = PublishMovingBall();
  if (!record) return 1;
  HWND manager = CreateStandInManager();

  Kestrin1::CKestrin kestrin;
  // The device attached and enabled, the ball active, as the agent posts it.
  HWND client = FindWindowExA(HWND_MESSAGE, nullptr, km::kClientClass, km::kClientTitle);
  PostMessageA(client, *AJLSKDFHEIEMUWPMXURSKDFNB.m_pMessageId, km::NoticeWParam(1, 0x0706), 0);
  Pump();
  if (!manager || !kestrin.GetBallMotion() || kestrin.m_Motion.tx != 100) {
    printf("the read path is not set up (manager %p, tx %d)\n", static_cast<void*>(manager),
           kestrin.m_Motion.tx);
    return 1;
  }

  LARGE_INTEGER start, end;
  int sum = 0;
  QueryPerformanceCounter(&start);
  for (int i = 0; i < kCalls; ++i) sum += kestrin.GetBallMotion();
  QueryPerformanceCounter(&end);
  double read = NanosecondsPerCall(start, end, kCalls);

  BallBuffer copy;
  uint16_t header;
  QueryPerformanceCounter(&start);
  for (int i = 0; i < kCalls; ++i) sum += ReadBallMotion(record, &copy, &header);
  QueryPerformanceCounter(&end);
  double bare = NanosecondsPerCall(start, end, kCalls);

  FILETIME now;
  unsigned low = 0;
  QueryPerformanceCounter(&start);
  for (int i = 0; i < kCalls; ++i) {
    GetSystemTimeAsFileTime(&now);
    low += now.dwLowDateTime;
  }
  QueryPerformanceCounter(&end);
  double clock = NanosecondsPerCall(start, end, kCalls);

  printf("GetBallMotion (DLL, moving, data every call) %8.1f ns per call\n", read);
  printf("bare consistent copy of record 1             %8.1f ns per call\n", bare);
  printf("GetSystemTimeAsFileTime alone                %8.1f ns per call\n", clock);
  printf("(%d calls each; checksum %d %u)\n", kCalls, sum, low & 1);
  return 0;
}
