// Slot pool: records of one fixed size in a single growable block, named by
// 16-bit indices. Taking and giving back a record costs no allocation (except
// when the block grows); a record keeps its index for as long as it is in use.
//
// Rules for callers: one walk at a time per pool; during a walk only the
// record last returned may be released; no record is taken during a walk; a
// record pointer is valid only until the next PoolAlloc (the block may move).
#pragma once
#include <stdint.h>

struct SlotPool {
  uint16_t* links;     // the block: one link per record, then the records
  uint8_t* records;    // record 0, just behind the link array
  uint16_t capacity;   // records the block holds
  uint16_t count;      // records ever handed out; indices >= count never used
  uint16_t recordSize;
  int16_t freeHead;    // first free record, -1 when none
  uint16_t usedHead;   // 0x8000 | first used index, kPoolChainEnd, kPoolChainRebuild
  uint16_t iterator;   // link value of the next record of the walk
};

enum : uint16_t {
  kPoolUsedMark = 0x8000,
  kPoolChainEnd = 0xFFFF,      // no record in use / last record of the chain
  kPoolChainRebuild = 0xFFFE,  // the used chain is rebuilt before the next walk
  kPoolMaxRecords = 32766,     // indices 0x7FFE and 0x7FFF would read as the marks
  kPoolGrowStep = 8,
};

void PoolInit(SlotPool* pool, uint16_t recordSize);
void* PoolAlloc(SlotPool* pool);
void PoolRelease(SlotPool* pool, uint16_t index);
void* PoolFirst(SlotPool* pool);
void* PoolNext(SlotPool* pool);
int PoolGrow(SlotPool* pool, uint16_t more);
void PoolFree(SlotPool* pool);

inline uint16_t PoolIndexOf(const SlotPool* pool, const void* record) {
  return static_cast<uint16_t>((static_cast<const uint8_t*>(record) - pool->records) /
                               pool->recordSize);
}

inline void* PoolRecord(const SlotPool* pool, uint16_t index) {
  return pool->records + static_cast<uint32_t>(index) * pool->recordSize;
}
