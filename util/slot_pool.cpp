#include "slot_pool.h"

#include <stdlib.h>
#include <string.h>

#include "checked_alloc.h"

static size_t BlockBytes(uint16_t capacity, uint16_t recordSize) {
  return static_cast<size_t>(capacity) * (static_cast<size_t>(recordSize) + sizeof(uint16_t));
}

void PoolInit(SlotPool* pool, uint16_t recordSize) {
  memset(pool, 0, sizeof *pool);
  pool->recordSize = recordSize;
  pool->freeHead = -1;
  pool->usedHead = kPoolChainEnd;
  pool->iterator = kPoolChainEnd;
  void* block = CallocChecked(1, BlockBytes(kPoolGrowStep, recordSize));
  if (!block) return;  // capacity 0: every PoolAlloc fails cleanly
  pool->links = static_cast<uint16_t*>(block);
  pool->records = reinterpret_cast<uint8_t*>(pool->links + kPoolGrowStep);
  pool->capacity = kPoolGrowStep;
}

int PoolGrow(SlotPool* pool, uint16_t more) {
  uint32_t wanted = static_cast<uint32_t>(pool->capacity) + more;
  if (!pool->links || wanted > kPoolMaxRecords) return 0;
  uint16_t oldCapacity = pool->capacity;
  uint16_t newCapacity = static_cast<uint16_t>(wanted);
  void* block = ReallocChecked(pool->links, BlockBytes(newCapacity, pool->recordSize));
  if (!block) return 0;
  uint16_t* links = static_cast<uint16_t*>(block);
  // The records still lie behind the old link array: move them behind the new one.
  uint8_t* oldRecords = reinterpret_cast<uint8_t*>(links + oldCapacity);
  uint8_t* newRecords = reinterpret_cast<uint8_t*>(links + newCapacity);
  memmove(newRecords, oldRecords, static_cast<size_t>(pool->count) * pool->recordSize);
  memset(links + oldCapacity, 0, (newCapacity - oldCapacity) * sizeof(uint16_t));
  memset(newRecords + static_cast<size_t>(pool->count) * pool->recordSize, 0,
         static_cast<size_t>(newCapacity - pool->count) * pool->recordSize);
  pool->links = links;
  pool->records = newRecords;
  pool->capacity = newCapacity;
  return 1;
}

void* PoolAlloc(SlotPool* pool) {
  uint16_t index;
  if (pool->freeHead >= 0) {
    index = static_cast<uint16_t>(pool->freeHead);
    uint16_t next = pool->links[index];
    pool->freeHead = next == index ? -1 : static_cast<int16_t>(next);
  } else {
    if (pool->count >= pool->capacity && !PoolGrow(pool, kPoolGrowStep)) return nullptr;
    index = pool->count++;
  }
  if (pool->usedHead == kPoolChainRebuild) {
    // The chain is rebuilt from the used marks before the next walk; the new
    // record only needs its mark, and the rebuild mark must stay.
    pool->links[index] = kPoolChainEnd;
  } else {
    pool->links[index] = pool->usedHead;
    pool->usedHead = static_cast<uint16_t>(kPoolUsedMark | index);
  }
  return PoolRecord(pool, index);
}

void PoolRelease(SlotPool* pool, uint16_t index) {
  // A record that is not in use (never taken, or given back already) is left
  // alone: chaining it twice would loop the free chain.
  if (index >= pool->count || !(pool->links[index] & kPoolUsedMark)) return;
  if (pool->usedHead == (kPoolUsedMark | index))
    pool->usedHead = pool->links[index];
  else
    pool->usedHead = kPoolChainRebuild;
  pool->links[index] = pool->freeHead < 0 ? index : static_cast<uint16_t>(pool->freeHead);
  pool->freeHead = static_cast<int16_t>(index);
  memset(PoolRecord(pool, index), 0, pool->recordSize);
}

void* PoolFirst(SlotPool* pool) {
  if (pool->usedHead == kPoolChainRebuild) {
    pool->usedHead = kPoolChainEnd;
    for (uint16_t i = 0; i < pool->count; ++i) {
      if (pool->links[i] & kPoolUsedMark) {
        pool->links[i] = pool->usedHead;
        pool->usedHead = static_cast<uint16_t>(kPoolUsedMark | i);
      }
    }
  }
  pool->iterator = pool->usedHead;
  return PoolNext(pool);
}

void* PoolNext(SlotPool* pool) {
  if (pool->iterator == kPoolChainEnd || !pool->links) return nullptr;
  uint16_t i = pool->iterator & 0x7FFF;
  pool->iterator = pool->links[i];
  return PoolRecord(pool, i);
}

void PoolFree(SlotPool* pool) {
  free(pool->links);
  memset(pool, 0, sizeof *pool);
}
