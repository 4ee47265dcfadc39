// Costs of the motion section's protocol: one published batch, one reader
// copy, and how often a reader copies again (or gives up) while a writer
// thread publishes, at device pace (one batch a millisecond) and flat out.
// Floor: a plain copy of the same buffer with no header checks.
#include <stdio.h>
#include <string.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "section.h"

namespace {

using Clock = std::chrono::steady_clock;

struct alignas(128) AlignedRecord {
  DeviceMotionRecord m_Record;
};

AlignedRecord g_Record;

void PublishOne(DeviceMotionRecord* record, int16_t w) {
  uint16_t* header = BallHeaderOf(record);
  uint16_t h = BeginMotionBatch(header);
  BallBuffer* target = &record->m_Ball[MotionBackBuffer(h)];
  const BallBuffer* source = &record->m_Ball[MotionCurrentBuffer(h)];
  for (int i = 0; i < 6; ++i) {
    target->m_Values[i] = static_cast<int16_t>(w * (i + 1));
    target->m_Sums[i] = static_cast<int32_t>(static_cast<uint32_t>(source->m_Sums[i]) +
                                             static_cast<uint32_t>(target->m_Values[i]));
  }
  PublishMotionBatch(header, WithMovingBit(h, 1), 1);
}

double NanosecondsPer(Clock::duration elapsed, long count) {
  return std::chrono::duration<double, std::nano>(elapsed).count() / count;
}

struct ReadFigures {
  long m_Reads;
  long m_Copies;
  long m_GivenUp;
  double m_NsPerRead;
};

// Reads for duration while the writer publishes every `pause` (zero: flat out).
ReadFigures ReadWhileWriting(std::chrono::microseconds pause, std::chrono::milliseconds duration) {
  std::atomic<bool> stop(false);
  std::thread writer([&] {
    int16_t w = 1;
    while (!stop.load(std::memory_order_relaxed)) {
      PublishOne(&g_Record.m_Record, w);
      w = static_cast<int16_t>(w % 7 + 1);
      if (pause.count()) std::this_thread::sleep_for(pause);
    }
  });
  struct CountingSource {
    MotionDoubleBuffer<BallBuffer> m_View;
    mutable long m_Copies;
    uint16_t Header() const { return m_View.Header(); }
    void Copy(int index, BallBuffer* out) const {
      ++m_Copies;
      m_View.Copy(index, out);
    }
  } source = {BallDoubleBuffer(&g_Record.m_Record), 0};
  ReadFigures figures = {0, 0, 0, 0};
  Clock::time_point start = Clock::now();
  Clock::time_point end = start + duration;
  BallBuffer copy;
  uint16_t header;
  while (Clock::now() < end) {
    for (int i = 0; i < 1000; ++i) {
      if (!ReadConsistentMotion(source, &copy, &header)) ++figures.m_GivenUp;
      ++figures.m_Reads;
    }
  }
  Clock::duration elapsed = Clock::now() - start;
  stop = true;
  writer.join();
  figures.m_Copies = source.m_Copies;
  figures.m_NsPerRead = NanosecondsPer(elapsed, figures.m_Reads);
  return figures;
}

}  // namespace

int main() {
  const long kRounds = 5000000;
  DeviceMotionRecord* record = &g_Record.m_Record;

  Clock::time_point start = Clock::now();
  for (long i = 0; i < kRounds; ++i) PublishOne(record, static_cast<int16_t>(i & 7));
  double publishNs = NanosecondsPer(Clock::now() - start, kRounds);

  BallBuffer copy;
  uint16_t header = 0;
  volatile uint32_t sink = 0;
  start = Clock::now();
  for (long i = 0; i < kRounds; ++i) {
    ReadBallMotion(record, &copy, &header);
    sink = sink + static_cast<uint32_t>(copy.m_Sums[0]);
  }
  double readNs = NanosecondsPer(Clock::now() - start, kRounds);

  start = Clock::now();
  for (long i = 0; i < kRounds; ++i) {
    memcpy(&copy, &record->m_Ball[i & 1], sizeof copy);
    sink = sink + static_cast<uint32_t>(copy.m_Sums[0]);
  }
  double floorNs = NanosecondsPer(Clock::now() - start, kRounds);

  printf("publish one batch (writer alone):      %7.1f ns\n", publishNs);
  printf("consistent read (reader alone):        %7.1f ns\n", readNs);
  printf("floor: plain copy of a ball buffer:    %7.1f ns\n", floorNs);

  const struct {
    const char* m_Name;
    std::chrono::microseconds m_Pause;
  } paces[] = {{"writer at device pace (1 batch/ms)", std::chrono::microseconds(1000)},
               {"writer flat out", std::chrono::microseconds(0)}};
  for (const auto& pace : paces) {
    ReadFigures f = ReadWhileWriting(pace.m_Pause, std::chrono::milliseconds(300));
    printf("%-38s %7.1f ns per read, %.4f copies per read, %ld of %ld reads given up\n",
           pace.m_Name, f.m_NsPerRead, static_cast<double>(f.m_Copies) / f.m_Reads, f.m_GivenUp,
           f.m_Reads);
  }
  return 0;
}
