// What the motion-read benchmarks set up to run without an agent or a
// service: the motion section, made by the program itself with one moving
// report in record 1; a stand-in manager window for the library to find;
// and the cost per call of a timed loop.
#pragma once
#include <windows.h>
#include <stdio.h>

#include "manager_messages.h"
#include "motion_section.h"

// Nanoseconds per call of calls calls between two performance-counter reads.
inline double NanosecondsPerCall(LARGE_INTEGER start, LARGE_INTEGER end, int calls) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(end.QuadPart - start.QuadPart) * 1e9 /
         static_cast<double>(frequency.QuadPart) / calls;
}

// Creates the section, kept until the program ends, with one moving report
// in record 1, buffer B current (sums and values 100, 200, ... 600). Returns
// record 1, or null after printing why there is no section.
inline DeviceMotionRecord* PublishMovingBall() {
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096,
                                      kSectionName);
  auto* records = mapping ? static_cast<DeviceMotionRecord*>(
                                MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 4096))
                          : nullptr;
  if (!records) {
    printf("no section: %lu\n", GetLastError());
    return nullptr;
  }
  DeviceMotionRecord* record = records + 1;
  for (int i = 0; i < 6; ++i) {
    record->m_Ball[1].m_Sums[i] = 100 * (i + 1);
    record->m_Ball[1].m_Values[i] = static_cast<int16_t>(100 * (i + 1));
  }
  record->m_BallHeader = kHeaderBufferBit | kHeaderMovingBit | 1;
  return record;
}

// A message-only window of this program with the agent's manager class and
// title, found by the library as it finds the agent's; null if not made.
inline HWND CreateStandInManager() {
  namespace km = kestrin::manager;
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = DefWindowProcA;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = km::kManagerClass;
  RegisterClassA(&windowClass);
  return CreateWindowExA(0, km::kManagerClass, km::kManagerTitle, 0, 0, 0, 0, 0, HWND_MESSAGE,
                         nullptr, GetModuleHandleA(nullptr), nullptr);
}
