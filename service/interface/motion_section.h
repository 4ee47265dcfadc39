// The service's shared motion section: its name and size, the byte layout of
// its 128-byte records, the header bits, and the reader's consistent copy.
// Record 0 stays empty, device slot k writes record k+1, and every reader
// reads record 1. Little-endian, packed as the offsets below. No windows.h:
// the service, the library, the test tools and the native tests share it.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <type_traits>

// Created by the service, opened read-only by every reader.
constexpr char kSectionName[] = "Global\\KestrinMemory";

// ---- records ----

// MotionHeader: one u16, flipped with a single store per published batch.
enum : uint16_t {
  kHeaderCountMask = 0x3FFF,  // ReportCount, modulo 2^14
  kHeaderMovingBit = 0x4000,  // last report of the last batch was non-zero
  kHeaderBufferBit = 0x8000,  // current buffer: 0 = A, 1 = B
};

#pragma pack(push, 1)
struct BallBuffer {
  int32_t m_Sums[6];   // tx, ty, tz, rx, ry, rz; running, wrapping
  int16_t m_Values[6]; // last report of the last published batch
};

struct ScrollBuffer {
  int32_t m_Sums[2];   // x, y
  int16_t m_Values[2];
};

struct DeviceMotionRecord {
  uint16_t m_BallHeader;
  uint16_t m_Reserved0;
  BallBuffer m_Ball[2];
  uint16_t m_ScrollHeader;
  uint16_t m_Reserved1;
  ScrollBuffer m_Scroll[2];
  uint16_t m_LogFactors[4];  // pan, zoom, spin, scroll hat, as last applied
  uint16_t m_Flags;          // vertical-axis convention as last applied
  uint8_t m_Reserved2[14];
};
#pragma pack(pop)

static_assert(sizeof(BallBuffer) == 36, "BallBuffer layout");
static_assert(sizeof(ScrollBuffer) == 12, "ScrollBuffer layout");
static_assert(sizeof(DeviceMotionRecord) == 128, "DeviceMotionRecord layout");
static_assert(offsetof(DeviceMotionRecord, m_Ball) == 4, "ball buffer A");
static_assert(offsetof(DeviceMotionRecord, m_ScrollHeader) == 76, "scroll header");
static_assert(offsetof(DeviceMotionRecord, m_Scroll) == 80, "scroll buffer A");
static_assert(offsetof(DeviceMotionRecord, m_LogFactors) == 104, "LogFactors");
static_assert(offsetof(DeviceMotionRecord, m_Flags) == 112, "Flags");

constexpr uint32_t kMotionRecordBytes = sizeof(DeviceMotionRecord);
constexpr uint32_t kMinSectionBytes = 1280;

// ---- size ----

// The section's size: the system page size or 1280 bytes, the larger.
inline uint32_t SectionBytesForPageSize(uint32_t pageSize) {
  return pageSize > kMinSectionBytes ? pageSize : kMinSectionBytes;
}

// Device slots a section of that size can publish: every record but record 0.
inline uint32_t SectionSlotCapacity(uint32_t sectionBytes) {
  uint32_t records = sectionBytes / kMotionRecordBytes;
  return records ? records - 1 : 0;
}

// ---- accessors: a const record or view gives const pointers ----

namespace motion_section_detail {
template <typename To, typename From>
struct SameConst {
  using type = To;
};
template <typename To, typename From>
struct SameConst<To, const From> {
  using type = const To;
};
template <typename To, typename From>
inline typename SameConst<To, From>::type* At(From* base, size_t offset) {
  using Byte = typename SameConst<uint8_t, From>::type;
  return reinterpret_cast<typename SameConst<To, From>::type*>(
      reinterpret_cast<Byte*>(base) + offset);
}
template <typename Record>
constexpr bool kIsRecord = std::is_same<std::remove_const_t<Record>, DeviceMotionRecord>::value;
}  // namespace motion_section_detail

// Record k of a mapped view of the section.
template <typename View>
inline auto SectionRecord(View* view, uint32_t k) {
  static_assert(std::is_void<View>::value, "a mapped view");
  return motion_section_detail::At<DeviceMotionRecord>(view, size_t{k} * kMotionRecordBytes);
}

// The header words, addressed through the record's bytes: the record type is
// packed, but both headers sit at even offsets of a 128-byte aligned record.
template <typename Record>
inline auto BallHeaderOf(Record* record) {
  static_assert(motion_section_detail::kIsRecord<Record>, "a DeviceMotionRecord");
  return motion_section_detail::At<uint16_t>(record, offsetof(DeviceMotionRecord, m_BallHeader));
}
template <typename Record>
inline auto ScrollHeaderOf(Record* record) {
  static_assert(motion_section_detail::kIsRecord<Record>, "a DeviceMotionRecord");
  return motion_section_detail::At<uint16_t>(record,
                                             offsetof(DeviceMotionRecord, m_ScrollHeader));
}

inline int MotionCurrentBuffer(uint16_t header) { return (header & kHeaderBufferBit) ? 1 : 0; }
inline uint16_t MotionReportCount(uint16_t header) { return header & kHeaderCountMask; }

// ---- the reader's consistent copy ----
//
// A reader copies the buffer its header selects and reads the header again;
// equal headers mean the copy is one published batch. The writer only ever
// fills the other buffer, so a copy can only be overwritten when the writer
// published twice meanwhile, and then the header differs. After
// kMaxMotionCopies copies without two equal headers the read fails.

constexpr int kMaxMotionCopies = 10;

inline uint16_t LoadMotionHeader(const uint16_t* header) {
  return __atomic_load_n(header, __ATOMIC_ACQUIRE);
}

// Copies a buffer 32 bits at a time; the writer's stores may land under it,
// which the header check afterwards finds. Both buffer types are whole 32-bit
// words at 4-byte offsets of the record.
template <typename Buffer>
inline void CopyMotionBuffer(const Buffer* from, Buffer* to) {
  static_assert(sizeof(Buffer) % 4 == 0, "buffers are whole 32-bit words");
  const uint32_t* source = reinterpret_cast<const uint32_t*>(from);
  uint32_t* target = reinterpret_cast<uint32_t*>(to);
  for (size_t i = 0; i < sizeof(Buffer) / 4; ++i)
    target[i] = __atomic_load_n(source + i, __ATOMIC_RELAXED);
}

// One double buffer of a record: its header and its two buffers.
template <typename Buffer>
struct MotionDoubleBuffer {
  const uint16_t* m_Header;
  const Buffer* m_Buffers;  // [0] = A, [1] = B

  uint16_t Header() const { return LoadMotionHeader(m_Header); }
  void Copy(int index, Buffer* out) const { CopyMotionBuffer(m_Buffers + index, out); }
};

// The copy loop over any source with Header() and Copy(index, out): 1 with
// the consistent copy in *out and its header in *header, 0 after
// kMaxMotionCopies copies that each saw the header change (*out then holds
// the last copy, which is not to be used).
template <typename Source, typename Buffer>
inline int ReadConsistentMotion(const Source& source, Buffer* out, uint16_t* header) {
  uint16_t h1 = source.Header();
  for (int copy = 0; copy < kMaxMotionCopies; ++copy) {
    source.Copy(MotionCurrentBuffer(h1), out);
    __atomic_thread_fence(__ATOMIC_ACQUIRE);
    uint16_t h2 = source.Header();
    if (h2 == h1) {
      *header = h2;
      return 1;
    }
    h1 = h2;
  }
  return 0;
}

inline MotionDoubleBuffer<BallBuffer> BallDoubleBuffer(const DeviceMotionRecord* record) {
  return {BallHeaderOf(record), record->m_Ball};
}
inline MotionDoubleBuffer<ScrollBuffer> ScrollDoubleBuffer(const DeviceMotionRecord* record) {
  return {ScrollHeaderOf(record), record->m_Scroll};
}

// The current ball (scroll-hat) buffer of a record in the section: 1 and a
// consistent copy with its header, or 0 when the writer kept changing it.
inline int ReadBallMotion(const DeviceMotionRecord* record, BallBuffer* out, uint16_t* header) {
  return ReadConsistentMotion(BallDoubleBuffer(record), out, header);
}
inline int ReadScrollMotion(const DeviceMotionRecord* record, ScrollBuffer* out,
                            uint16_t* header) {
  return ReadConsistentMotion(ScrollDoubleBuffer(record), out, header);
}

// Reports published between a previous read that saw count previousCount
// and a read whose header is header (the count wraps at 2^14).
inline uint16_t ReportsSince(uint16_t previousCount, uint16_t header) {
  return static_cast<uint16_t>((header - previousCount) & kHeaderCountMask);
}

// Mean motion per report of axes axes over d reports: the 32-bit differences
// of the wrapping sums divided by d. d of 0 gives zeros (nothing new).
inline void MeanMotion(const int32_t* newSums, const int32_t* previousSums, uint16_t d,
                       int axes, int32_t* mean) {
  for (int i = 0; i < axes; ++i) {
    int32_t difference = static_cast<int32_t>(static_cast<uint32_t>(newSums[i]) -
                                              static_cast<uint32_t>(previousSums[i]));
    mean[i] = d ? difference / d : 0;
  }
}
