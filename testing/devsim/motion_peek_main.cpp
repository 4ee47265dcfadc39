// KestrinMotionPeek: what a reader of record 1 of the shared motion section
// sees, printed once per interval: ball report count, moving bit, the last
// values and the sums, and the same for the scroll hat.
//
//   KestrinMotionPeek [seconds (default 5)] [interval ms (default 1000)]
//   KestrinMotionPeek 0      one read at once, in a form for tests:
//     ball COUNT MOVING v0..v5 s0..s5 scroll COUNT MOVING x y sx sy
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

#include "motion_section.h"
#include "section_view.h"

int main(int argc, char** argv) {
  int seconds = argc > 1 ? atoi(argv[1]) : 5;
  DWORD interval = argc > 2 ? static_cast<DWORD>(atoi(argv[2])) : 1000;
  SectionView section;
  DWORD start = GetTickCount();
  // The service may still be starting: look for the section for a while.
  while (!section.Open()) {
    if (GetTickCount() - start > 10000) {
      fprintf(stderr, "KestrinMotionPeek: no section %s (%lu)\n", kSectionName,
              section.error());
      return 1;
    }
    Sleep(100);
  }
  const DeviceMotionRecord* record = section.Record(1);
  if (seconds == 0) {
    BallBuffer ball = {};
    ScrollBuffer scroll = {};
    uint16_t bh = 0, sh = 0;
    if (!ReadBallMotion(record, &ball, &bh) || !ReadScrollMotion(record, &scroll, &sh)) return 3;
    printf("ball %u %d", MotionReportCount(bh), (bh & kHeaderMovingBit) ? 1 : 0);
    for (int16_t v : ball.m_Values) printf(" %d", v);
    for (int32_t v : ball.m_Sums) printf(" %ld", static_cast<long>(v));
    printf(" scroll %u %d %d %d %ld %ld\n", MotionReportCount(sh), (sh & kHeaderMovingBit) ? 1 : 0,
           scroll.m_Values[0], scroll.m_Values[1], static_cast<long>(scroll.m_Sums[0]),
           static_cast<long>(scroll.m_Sums[1]));
    return 0;
  }
  for (DWORD elapsed = 0; elapsed < static_cast<DWORD>(seconds) * 1000; elapsed += interval) {
    Sleep(interval);
    BallBuffer ball = {};
    ScrollBuffer scroll = {};
    uint16_t bh = 0, sh = 0;
    if (!ReadBallMotion(record, &ball, &bh) || !ReadScrollMotion(record, &scroll, &sh)) {
      printf("t=%5lu ms: the writer kept changing the record\n", elapsed + interval);
      continue;
    }
    printf("t=%5lu ms  ball: count %5u %s last %6d %6d %6d %6d %6d %6d  "
           "scroll: count %4u %s last %6d %6d\n",
           elapsed + interval, MotionReportCount(bh), (bh & kHeaderMovingBit) ? "moving" : "still ",
           ball.m_Values[0], ball.m_Values[1], ball.m_Values[2], ball.m_Values[3],
           ball.m_Values[4], ball.m_Values[5], MotionReportCount(sh),
           (sh & kHeaderMovingBit) ? "moving" : "still ", scroll.m_Values[0], scroll.m_Values[1]);
    fflush(stdout);
  }
  return 0;
}
