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

namespace {

namespace km = kestrin::manager;
constexpr int kCalls = 2000000;

double NanosecondsPerCall(LARGE_INTEGER start, LARGE_INTEGER end, int calls) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(end.QuadPart - start.QuadPart) * 1e9 /
         static_cast<double>(frequency.QuadPart) / calls;
}

void Pump() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
}

}  // namespace

int main() {
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096,
                                      kSectionName);
  auto* records = mapping ? static_cast<DeviceMotionRecord*>(
                                MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 4096))
                          : nullptr;
  if (!records) {
    printf("no section: %lu\n", GetLastError());
    return 1;
  }
  // One moving report in record 1, buffer B current.
  DeviceMotionRecord* record = records + 1;
  for (int i = 0; i < 6; ++i) {
    record->m_Ball[1].m_Sums[i] = 100 * (i + 1);
    record->m_Ball[1].m_Values[i] = static_cast<int16_t>(100 * (i + 1));
  }
  record->m_BallHeader = kHeaderBufferBit | kHeaderMovingBit | 1;

  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = DefWindowProcA;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = km::kManagerClass;
  RegisterClassA(&windowClass);
  HWND manager = CreateWindowExA(0, km::kManagerClass, km::kManagerTitle, 0, 0, 0, 0, 0,
                                 HWND_MESSAGE, nullptr, GetModuleHandleA(nullptr), nullptr);

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
