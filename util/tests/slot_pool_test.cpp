#include "slot_pool.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Record {
  uint32_t value;
  uint8_t bytes[10];
};

class SlotPoolTest : public ::testing::Test {
 protected:
  void SetUp() override { PoolInit(&pool_, sizeof(Record)); }
  void TearDown() override { PoolFree(&pool_); }

  uint16_t Take() {
    auto* r = static_cast<Record*>(PoolAlloc(&pool_));
    EXPECT_NE(r, nullptr);
    return PoolIndexOf(&pool_, r);
  }

  std::vector<uint16_t> Walk() {
    std::vector<uint16_t> order;
    for (void* r = PoolFirst(&pool_); r; r = PoolNext(&pool_)) order.push_back(PoolIndexOf(&pool_, r));
    return order;
  }

  SlotPool pool_;
};

using Order = std::vector<uint16_t>;

TEST_F(SlotPoolTest, NewPoolHoldsEightRecordsAndWalksEmpty) {
  EXPECT_EQ(pool_.capacity, 8);
  EXPECT_EQ(pool_.count, 0);
  EXPECT_EQ(pool_.freeHead, -1);
  EXPECT_EQ(pool_.usedHead, 0xFFFF);
  EXPECT_EQ(PoolFirst(&pool_), nullptr);
}

TEST_F(SlotPoolTest, TakesAscendingIndicesAndWalksNewestFirst) {
  EXPECT_EQ(Take(), 0);
  EXPECT_EQ(Take(), 1);
  EXPECT_EQ(Take(), 2);
  EXPECT_EQ(Walk(), (Order{2, 1, 0}));
}

// Releasing the chain's head keeps the chain; any other release marks it for a
// rebuild, after which the walk runs from the highest index down.
TEST_F(SlotPoolTest, ReleaseKeepsOrMarksTheUsedChain) {
  struct Case {
    uint16_t release;
    uint16_t usedHeadAfter;
    Order walk;
  } cases[] = {
      {2, 0x8001, {1, 0}},
      {1, 0xFFFE, {2, 0}},
      {0, 0xFFFE, {2, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.release);
    PoolFree(&pool_);
    PoolInit(&pool_, sizeof(Record));
    Take(), Take(), Take();
    PoolRelease(&pool_, c.release);
    EXPECT_EQ(pool_.usedHead, c.usedHeadAfter);
    EXPECT_EQ(Walk(), c.walk);
    EXPECT_NE(pool_.usedHead, 0xFFFE) << "a walk leaves a rebuilt chain";
  }
}

TEST_F(SlotPoolTest, FreedRecordsComeBackLastFreedFirstAndZeroed) {
  for (int i = 0; i < 3; ++i) {
    auto* r = static_cast<Record*>(PoolAlloc(&pool_));
    r->value = 0xA0 + i;
    r->bytes[9] = 0x55;
  }
  PoolRelease(&pool_, 1);
  PoolRelease(&pool_, 2);
  auto* a = static_cast<Record*>(PoolAlloc(&pool_));
  auto* b = static_cast<Record*>(PoolAlloc(&pool_));
  EXPECT_EQ(PoolIndexOf(&pool_, a), 2);
  EXPECT_EQ(PoolIndexOf(&pool_, b), 1);
  for (Record* r : {a, b}) {
    EXPECT_EQ(r->value, 0u);
    EXPECT_EQ(r->bytes[9], 0);
  }
  EXPECT_EQ(pool_.freeHead, -1);
  EXPECT_EQ(Take(), 3);
}

TEST_F(SlotPoolTest, NinthTakeGrowsKeepingContentsAndIndices) {
  for (uint32_t i = 0; i < 8; ++i) static_cast<Record*>(PoolAlloc(&pool_))->value = 100 + i;
  EXPECT_EQ(pool_.capacity, 8);
  EXPECT_EQ(Take(), 8);
  EXPECT_EQ(pool_.capacity, 16);
  for (uint16_t i = 0; i < 8; ++i)
    EXPECT_EQ(static_cast<Record*>(PoolRecord(&pool_, i))->value, 100u + i);
  EXPECT_EQ(static_cast<Record*>(PoolRecord(&pool_, 8))->value, 0u);
  EXPECT_EQ(Walk(), (Order{8, 7, 6, 5, 4, 3, 2, 1, 0}));
  // Growth again after out-of-order releases keeps both chains.
  PoolRelease(&pool_, 3);
  for (int i = 0; i < 9; ++i) Take();
  EXPECT_EQ(pool_.capacity, 24);
  EXPECT_EQ(Walk().size(), 17u);
}

TEST_F(SlotPoolTest, ReleasingEachRecordDuringTheWalkEmptiesThePool) {
  for (int i = 0; i < 5; ++i) Take();
  PoolRelease(&pool_, 1);  // marked: the walk starts with a rebuild
  Take();
  std::vector<uint16_t> seen;
  for (void* r = PoolFirst(&pool_); r; r = PoolNext(&pool_)) {
    uint16_t index = PoolIndexOf(&pool_, r);
    seen.push_back(index);
    PoolRelease(&pool_, index);
  }
  EXPECT_EQ(seen, (Order{4, 3, 2, 1, 0}));
  EXPECT_TRUE(Walk().empty());
}

TEST_F(SlotPoolTest, TakeWhileMarkedForRebuildStaysWalkable) {
  Take(), Take(), Take();
  PoolRelease(&pool_, 0);
  ASSERT_EQ(pool_.usedHead, 0xFFFE);
  EXPECT_EQ(Take(), 0);
  EXPECT_EQ(pool_.usedHead, 0xFFFE) << "the rebuild is still due";
  EXPECT_EQ(Take(), 3);
  EXPECT_EQ(Walk(), (Order{3, 2, 1, 0}));
}

TEST_F(SlotPoolTest, ReleasingARecordNotInUseChangesNothing) {
  Take(), Take();
  PoolRelease(&pool_, 1);
  SlotPool before = pool_;
  PoolRelease(&pool_, 1);  // twice
  PoolRelease(&pool_, 7);  // never taken
  EXPECT_EQ(pool_.freeHead, before.freeHead);
  EXPECT_EQ(pool_.usedHead, before.usedHead);
  EXPECT_EQ(Take(), 1);
  EXPECT_EQ(Take(), 2);
}

TEST_F(SlotPoolTest, FreeClearsTheHeaderAndInitStartsOver) {
  Take();
  PoolFree(&pool_);
  EXPECT_EQ(pool_.links, nullptr);
  EXPECT_EQ(pool_.capacity, 0);
  EXPECT_EQ(pool_.recordSize, 0);
  PoolInit(&pool_, sizeof(Record));
  EXPECT_EQ(Take(), 0);
}

TEST(SlotPoolLimits, GrowthStopsAtTheIndexLimit) {
  SlotPool pool;
  PoolInit(&pool, 1);
  EXPECT_EQ(PoolGrow(&pool, kPoolMaxRecords - 8), 1);
  EXPECT_EQ(pool.capacity, kPoolMaxRecords);
  EXPECT_EQ(PoolGrow(&pool, 1), 0);
  EXPECT_EQ(pool.capacity, kPoolMaxRecords);
  PoolFree(&pool);
}

}  // namespace
