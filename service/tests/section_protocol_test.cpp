// The publishing protocol of the motion section: the writer's header and
// buffer helpers, the reader's copy rule and the motion a reader derives.
// Pure code: runs natively (sanitizers) and under Wine.
#include <gtest/gtest.h>
#include <stddef.h>
#include <string.h>

#include <atomic>
#include <thread>
#include <vector>

#include "section.h"

namespace {

// A record aligned as the section's records are.
struct alignas(128) AlignedRecord {
  DeviceMotionRecord m_Record;
};

// A test writer that follows the protocol: one batch of ball reports, each
// given as six values (all zero means a zero report).
struct BallReport {
  int16_t m_Values[6];
};

void PublishBall(DeviceMotionRecord* record, const std::vector<BallReport>& batch) {
  uint16_t* header = BallHeaderOf(record);
  uint16_t h = BeginMotionBatch(header);
  BallBuffer* target = &record->m_Ball[MotionBackBuffer(h)];
  int32_t source[6];
  memcpy(source, &record->m_Ball[MotionCurrentBuffer(h)], sizeof source);  // m_Sums lead
  for (const BallReport& report : batch) {
    int moving = 0;
    for (int i = 0; i < 6; ++i) {
      target->m_Values[i] = report.m_Values[i];
      source[i] = static_cast<int32_t>(static_cast<uint32_t>(source[i]) +
                                       static_cast<uint32_t>(report.m_Values[i]));
      target->m_Sums[i] = source[i];
      moving |= report.m_Values[i] != 0;
    }
    h = WithMovingBit(h, moving);
  }
  PublishMotionBatch(header, h, static_cast<uint32_t>(batch.size()));
}

TEST(SectionSize, PageSizeRuleAndSlotCapacity) {
  struct Case {
    uint32_t m_PageSize;
    uint32_t m_Bytes;
    uint32_t m_Slots;
  } cases[] = {
      {0, 1280, 9},     {512, 1280, 9},      {1279, 1280, 9},
      {1280, 1280, 9},  {4096, 4096, 31},    {65536, 65536, 511},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.m_PageSize);
    EXPECT_EQ(c.m_Bytes, SectionBytesForPageSize(c.m_PageSize));
    EXPECT_EQ(c.m_Slots, SectionSlotCapacity(c.m_Bytes));
  }
  EXPECT_EQ(0u, SectionSlotCapacity(127));  // not even record 0
}

TEST(SectionLayout, FieldOffsets) {
  struct Case {
    const char* m_Field;
    size_t m_Offset;
    size_t m_Expected;
  } cases[] = {
      {"m_BallHeader", offsetof(DeviceMotionRecord, m_BallHeader), 0},
      {"ball buffer A", offsetof(DeviceMotionRecord, m_Ball), 4},
      {"ball buffer B", offsetof(DeviceMotionRecord, m_Ball) + sizeof(BallBuffer), 40},
      {"m_ScrollHeader", offsetof(DeviceMotionRecord, m_ScrollHeader), 76},
      {"scroll buffer A", offsetof(DeviceMotionRecord, m_Scroll), 80},
      {"scroll buffer B", offsetof(DeviceMotionRecord, m_Scroll) + sizeof(ScrollBuffer), 92},
      {"m_LogFactors", offsetof(DeviceMotionRecord, m_LogFactors), 104},
      {"m_Flags", offsetof(DeviceMotionRecord, m_Flags), 112},
      {"record", sizeof(DeviceMotionRecord), 128},
      {"BallBuffer::m_Values", offsetof(BallBuffer, m_Values), 24},
      {"BallBuffer", sizeof(BallBuffer), 36},
      {"ScrollBuffer::m_Values", offsetof(ScrollBuffer, m_Values), 8},
      {"ScrollBuffer", sizeof(ScrollBuffer), 12},
  };
  for (const Case& c : cases) EXPECT_EQ(c.m_Expected, c.m_Offset) << c.m_Field;
}

// The header word after one batch through the writer helpers.
TEST(MotionHeader, BatchesAdvanceCountMovingBitAndBuffer) {
  const BallReport moving = {{1, 0, 0, 0, 0, -1}};
  const BallReport still = {{0, 0, 0, 0, 0, 0}};
  struct Case {
    const char* m_Name;
    uint16_t m_Start;
    std::vector<BallReport> m_Batch;
    uint16_t m_Expected;
  } cases[] = {
      {"zeroed record, one moving report", 0x0000, {moving}, 0xC001},
      {"count wraps: 0xBFFF + 2 moving", 0xBFFF, {moving, moving}, 0x4001},
      {"count wraps: 0x3FFF + 3, last still", 0x3FFF, {moving, moving, still}, 0x8002},
      {"count wraps: 0x7FFF + 3, last moving", 0x7FFF, {still, still, moving}, 0xC002},
      {"moving, still, still", 0x4005, {moving, still, still}, 0x8008},
      {"empty batch stores nothing", 0xC123, {}, 0xC123},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.m_Name);
    AlignedRecord r = {};
    *BallHeaderOf(&r.m_Record) = c.m_Start;
    PublishBall(&r.m_Record, c.m_Batch);
    EXPECT_EQ(c.m_Expected, *BallHeaderOf(&r.m_Record));
  }
}

TEST(MotionHeader, WriterFillsOnlyTheBackBufferAndCarriesTheSums) {
  AlignedRecord r = {};
  DeviceMotionRecord* record = &r.m_Record;
  PublishBall(record, {{{10, 20, 30, 40, 50, 60}}, {{1, 2, 3, 4, 5, 6}}});
  // Buffer B is current: sums of both reports, values of the last one.
  EXPECT_EQ(0x8002, *BallHeaderOf(record) & ~kHeaderMovingBit);
  EXPECT_EQ(11, record->m_Ball[1].m_Sums[0]);
  EXPECT_EQ(66, record->m_Ball[1].m_Sums[5]);
  EXPECT_EQ(6, record->m_Ball[1].m_Values[5]);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(0, record->m_Ball[0].m_Sums[i]) << i;

  // The next batch goes into A, starting from B's sums.
  PublishBall(record, {{{-11, 0, 0, 0, 0, 1}}});
  EXPECT_EQ(0x4003, *BallHeaderOf(record));
  EXPECT_EQ(0, record->m_Ball[0].m_Sums[0]);
  EXPECT_EQ(67, record->m_Ball[0].m_Sums[5]);
  EXPECT_EQ(11, record->m_Ball[1].m_Sums[0]);  // B untouched
}

TEST(MotionRead, ReportsSinceWrapsAtFourteenBits) {
  struct Case {
    uint16_t m_Previous;
    uint16_t m_Header;
    uint16_t m_Expected;
  } cases[] = {
      {0x3FFE, 0x0001, 3},  {0x3FFE, 0xC001, 3}, {5, 0x8005, 0},
      {5, 0x4006, 1},       {0, 0xBFFF, 0x3FFF},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.m_Expected, ReportsSince(c.m_Previous, c.m_Header))
        << std::hex << c.m_Previous << " -> " << c.m_Header;
}

TEST(MotionRead, MeanMotionUsesWrappingDifferences) {
  const int32_t previous[2] = {0x7FFFFFF0, -100};
  const int32_t now[2] = {static_cast<int32_t>(0x80000010u), -130};  // +32, -30 over 2 reports
  int32_t mean[2] = {1, 1};
  MeanMotion(now, previous, 2, 2, mean);
  EXPECT_EQ(16, mean[0]);
  EXPECT_EQ(-15, mean[1]);
  MeanMotion(now, previous, 0, 2, mean);
  EXPECT_EQ(0, mean[0]);
  EXPECT_EQ(0, mean[1]);
}

// A source whose header changes under the first `changes` copies: each
// such copy is followed by one published batch of the real writer.
struct RacingSource {
  DeviceMotionRecord* m_Record;
  int m_Changes;
  mutable int m_Copies;

  uint16_t Header() const { return LoadMotionHeader(BallHeaderOf(m_Record)); }
  void Copy(int index, BallBuffer* out) const {
    CopyMotionBuffer(&m_Record->m_Ball[index], out);
    if (m_Copies++ < m_Changes) {
      BallReport report = {{static_cast<int16_t>(m_Copies), 0, 0, 0, 0, 0}};
      PublishBall(m_Record, {report});
    }
  }
};

TEST(MotionRead, CopiesAgainWhileTheHeaderChangesAndGivesUpAfterTen) {
  struct Case {
    int m_Changes;
    int m_ExpectedResult;
    int m_ExpectedCopies;
  } cases[] = {
      {0, 1, 1}, {1, 1, 2}, {2, 1, 3}, {9, 1, 10}, {10, 0, 10}, {1000, 0, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.m_Changes);
    AlignedRecord r = {};
    RacingSource source = {&r.m_Record, c.m_Changes, 0};
    BallBuffer copy = {};
    uint16_t header = 0xFFFF;
    EXPECT_EQ(c.m_ExpectedResult, ReadConsistentMotion(source, &copy, &header));
    EXPECT_EQ(c.m_ExpectedCopies, source.m_Copies);
    if (c.m_ExpectedResult) {
      EXPECT_EQ(*BallHeaderOf(&r.m_Record), header);
      EXPECT_EQ(0, memcmp(&copy, &r.m_Record.m_Ball[MotionCurrentBuffer(header)], sizeof copy));
    }
  }
}

// The writer publishes B and then A again while the reader copies A: the
// reader's first copy holds A's old and new words, the header differs, and
// the second copy is the new A.
TEST(MotionRead, WriterPublishingTwiceDuringOneCopyIsSeen) {
  AlignedRecord r = {};
  DeviceMotionRecord* record = &r.m_Record;
  struct TwoPublishes {
    DeviceMotionRecord* m_Record;
    mutable int m_Copies;
    uint16_t Header() const { return LoadMotionHeader(BallHeaderOf(m_Record)); }
    void Copy(int index, BallBuffer* out) const {
      const uint32_t* words = reinterpret_cast<const uint32_t*>(&m_Record->m_Ball[index]);
      uint32_t* into = reinterpret_cast<uint32_t*>(out);
      for (size_t i = 0; i < sizeof *out / 4; ++i) {
        into[i] = words[i];
        if (m_Copies == 0 && i == 2) {  // mid-copy: B, then A again
          PublishBall(m_Record, {{{100, 100, 100, 100, 100, 100}}});
          PublishBall(m_Record, {{{7, 7, 7, 7, 7, 7}}});
        }
      }
      ++m_Copies;
    }
  } source = {record, 0};
  BallBuffer copy = {};
  uint16_t header = 0;
  ASSERT_EQ(0, MotionCurrentBuffer(LoadMotionHeader(BallHeaderOf(record))));
  ASSERT_EQ(1, ReadConsistentMotion(source, &copy, &header));
  EXPECT_EQ(2, source.m_Copies);
  EXPECT_EQ(0x4002, header);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(107, copy.m_Sums[i]) << i;
    EXPECT_EQ(7, copy.m_Values[i]) << i;
  }
}

// A writer thread publishes batches as fast as it can; every sum of a
// published buffer is (axis + 1) times its first sum, and every value
// (axis + 1) times the first value, so a copy mixing two batches breaks the
// ratio. The reader must never return such a copy, and its reports never go
// backwards.
TEST(MotionRead, ReaderRacingAWriterNeverGetsATornCopy) {
  AlignedRecord r = {};
  DeviceMotionRecord* record = &r.m_Record;
  std::atomic<bool> stop(false);
  std::thread writer([&] {
    uint32_t batch = 0;
    while (!stop.load(std::memory_order_relaxed)) {
      std::vector<BallReport> reports(1 + batch % 3);
      for (size_t k = 0; k < reports.size(); ++k) {
        int16_t w = static_cast<int16_t>(1 + (batch + k) % 7);
        for (int i = 0; i < 6; ++i) reports[k].m_Values[i] = static_cast<int16_t>(w * (i + 1));
      }
      PublishBall(record, reports);
      ++batch;
    }
  });

  int reads = 0, refused = 0;
  int64_t lastTotal = 0;
  for (int attempt = 0; attempt < 200000; ++attempt) {
    BallBuffer copy = {};
    uint16_t header = 0;
    if (!ReadBallMotion(record, &copy, &header)) {
      ++refused;
      continue;
    }
    ++reads;
    for (int i = 1; i < 6; ++i) {
      ASSERT_EQ(static_cast<int32_t>(static_cast<uint32_t>(copy.m_Sums[0]) * (i + 1)),
                copy.m_Sums[i])
          << "torn sums at read " << reads;
      ASSERT_EQ(copy.m_Values[0] * (i + 1), copy.m_Values[i]) << "torn values at read " << reads;
    }
    ASSERT_GE(copy.m_Sums[0], lastTotal);  // far from wrapping in this run
    lastTotal = copy.m_Sums[0];
  }
  stop = true;
  writer.join();
  EXPECT_GT(reads, 0);
  printf("consistent reads %d, reads given up %d\n", reads, refused);
}

TEST(MotionRead, ScrollBufferReadsItsOwnHeader) {
  AlignedRecord r = {};
  DeviceMotionRecord* record = &r.m_Record;
  *BallHeaderOf(record) = 0x8001;  // ball says B; the scroll hat says A
  record->m_Scroll[0].m_Sums[1] = -5;
  record->m_Scroll[0].m_Values[1] = -5;
  record->m_Scroll[1].m_Sums[1] = 99;
  *ScrollHeaderOf(record) = 0x4001;
  ScrollBuffer copy = {};
  uint16_t header = 0;
  ASSERT_EQ(1, ReadScrollMotion(record, &copy, &header));
  EXPECT_EQ(0x4001, header);
  EXPECT_EQ(-5, copy.m_Sums[1]);
  EXPECT_EQ(-5, copy.m_Values[1]);
}

}  // namespace
