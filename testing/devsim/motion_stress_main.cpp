// KestrinMotionStress: one reader of the lock-free load test. Copies record 1
// of the shared section as fast as it can for a while and checks every copy
// against the table of what the service must publish after each report:
// a copy that matches no published state is a torn copy.
//
//   KestrinMotionStress TABLE SECONDS
// TABLE (binary, written by the load test): u32 ball reports B, u32 scroll
// reports S, then for n = 0..B the ball sums (6 x i32) and values (6 x i16)
// after n reports, then the same for n = 0..S with 2 axes.
// Prints "copies C failed F torn T ball N scroll M" and exits 0 when T is 0.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "motion_section.h"
#include "section_view.h"

namespace {

template <int Axes>
struct State {
  int32_t m_Sums[Axes];
  int16_t m_Values[Axes];
};

template <int Axes, typename Buffer>
bool Matches(const State<Axes>& expected, const Buffer& copy) {
  for (int i = 0; i < Axes; ++i)
    if (expected.m_Sums[i] != copy.m_Sums[i] || expected.m_Values[i] != copy.m_Values[i])
      return false;
  return true;
}

// Follows one double buffer: n is the number of reports published so far.
template <int Axes>
struct Follower {
  const std::vector<State<Axes>>* m_Table;
  uint32_t m_N = 0;
  uint16_t m_Count = 0;
  unsigned long m_Torn = 0;

  template <typename Buffer>
  void Check(uint16_t header, const Buffer& copy, const char* what) {
    uint32_t n = m_N + ReportsSince(m_Count, header);
    if (n >= m_Table->size() || !Matches((*m_Table)[n], copy)) {
      if (m_Torn++ < 5)
        fprintf(stderr, "%s: copy at count %u matches no published state (n %lu)\n", what,
                MotionReportCount(header), static_cast<unsigned long>(n));
      return;
    }
    m_N = n;
    m_Count = MotionReportCount(header);
  }
};

template <int Axes>
bool ReadTable(FILE* f, uint32_t reports, std::vector<State<Axes>>* table) {
  table->resize(reports + 1);
  for (auto& s : *table)
    if (fread(s.m_Sums, sizeof s.m_Sums, 1, f) != 1 || fread(s.m_Values, sizeof s.m_Values, 1, f) != 1)
      return false;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: KestrinMotionStress TABLE SECONDS\n");
    return 2;
  }
  FILE* f = fopen(argv[1], "rb");
  uint32_t counts[2] = {};
  std::vector<State<6>> ball;
  std::vector<State<2>> scroll;
  if (!f || fread(counts, sizeof counts, 1, f) != 1 || !ReadTable(f, counts[0], &ball) ||
      !ReadTable(f, counts[1], &scroll)) {
    fprintf(stderr, "KestrinMotionStress: cannot read %s\n", argv[1]);
    return 2;
  }
  fclose(f);
  SectionView section;
  if (!section.Open()) {
    fprintf(stderr, "KestrinMotionStress: no section (%lu)\n", section.error());
    return 2;
  }
  const DeviceMotionRecord* record = section.Record(1);
  Follower<6> ballFollower;
  ballFollower.m_Table = &ball;
  Follower<2> scrollFollower;
  scrollFollower.m_Table = &scroll;
  unsigned long long copies = 0, failed = 0;
  DWORD end = GetTickCount() + static_cast<DWORD>(atoi(argv[2])) * 1000;
  while (static_cast<LONG>(end - GetTickCount()) > 0) {
    BallBuffer b = {};
    ScrollBuffer s = {};
    uint16_t h = 0;
    if (ReadBallMotion(record, &b, &h))
      ballFollower.Check(h, b, "ball");
    else
      ++failed;
    if (ReadScrollMotion(record, &s, &h))
      scrollFollower.Check(h, s, "scroll");
    else
      ++failed;
    copies += 2;
  }
  unsigned long torn = ballFollower.m_Torn + scrollFollower.m_Torn;
  printf("copies %llu failed %llu torn %lu ball %lu scroll %lu\n", copies, failed, torn,
         static_cast<unsigned long>(ballFollower.m_N), static_cast<unsigned long>(scrollFollower.m_N));
  return torn ? 1 : 0;
}
