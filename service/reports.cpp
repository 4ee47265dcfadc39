// Report reading and motion publishing: the readers of a device's two
// interfaces. Each drains what its interface has, turns every report into
// motion values, keeps the device's activity bits, and publishes the batch
// into the slot's section record with one header store. Service thread only.
#include <stddef.h>
#include <string.h>

#include "devices.h"
#include "hid_access.h"
#include "messages.h"
#include "motion_section.h"
#include "report_motion.h"
#include "section.h"
#include "service_private.h"
#include "wait_loop.h"

namespace {

constexpr uint32_t kBallReportBytes = 9;
constexpr uint32_t kScrollReportBytes = 5;
constexpr DWORD kStatusPending = 0x103;  // STATUS_PENDING in OVERLAPPED::Internal

template <typename Buffer>
int32_t* SumsOf(Buffer* buffer) {
  return reinterpret_cast<int32_t*>(reinterpret_cast<uint8_t*>(buffer) + offsetof(Buffer, m_Sums));
}
template <typename Buffer>
int16_t* ValuesOf(Buffer* buffer) {
  return reinterpret_cast<int16_t*>(reinterpret_cast<uint8_t*>(buffer) +
                                    offsetof(Buffer, m_Values));
}

// One batch into one double buffer of a record. Reports are processed into
// local values and copied into the back buffer only when accumulated, so a
// batch that accumulates nothing leaves the record untouched. Without a
// record (no section) the batch goes into scratch buffers and nothing is
// published.
template <typename Buffer>
struct MotionBatch {
  uint16_t* m_Header;
  uint16_t m_H;  // the header as the batch began, with the moving bit of the last report
  Buffer* m_Target;
  const int32_t* m_Source;
  uint32_t m_Count;
  Buffer m_Scratch[2];

  void Begin(uint16_t* header, Buffer* buffers) {
    m_Header = header;
    if (!header) {
      memset(m_Scratch, 0, sizeof m_Scratch);
      buffers = m_Scratch;
    }
    m_H = header ? BeginMotionBatch(header) : 0;
    m_Target = &buffers[MotionBackBuffer(m_H)];
    m_Source = SumsOf(&buffers[MotionCurrentBuffer(m_H)]);
    m_Count = 0;
  }

  void Accumulate(const int16_t* values, unsigned n) {
    int16_t* target = ValuesOf(m_Target);
    memcpy(target, values, n * sizeof(int16_t));
    AccumulateAxes(SumsOf(m_Target), m_Source, target, n);
    m_Source = SumsOf(m_Target);
    ++m_Count;
  }

  void Publish() {
    if (m_Header) PublishMotionBatch(m_Header, m_H, m_Count);
  }
};

// Activity of one report: 1 when it is to be accumulated.
int TrackActivity(DeviceSlot* slot, int moving, uint16_t activeBit, uint16_t changedBit) {
  if (moving) {
    if (!(slot->m_State & activeBit)) {
      slot->m_State |= activeBit | changedBit;
      PublishPending = 1;
    }
    return 1;
  }
  if (slot->m_State & activeBit) {
    slot->m_State = static_cast<uint16_t>((slot->m_State & ~activeBit) | changedBit);
    PublishPending = 1;
    return 1;
  }
  return 0;  // idle and staying idle
}

// Scroll-hat baseline of firmware 0x201: the first report's axes and buttons
// are what the hat rests at, not motion, until they change.
void SuppressBaseline(DeviceSlot* slot, uint8_t bytes[4]) {
  if (!slot->m_BaselineCaptured &&
      (!slot->m_AxesBaselineDone || !slot->m_ButtonsBaselineDone)) {
    memcpy(slot->m_Baseline, bytes, 4);
    slot->m_BaselineCaptured = 1;
    if (!slot->m_AxesBaselineDone) memset(bytes, 0, 3);
  } else if (!slot->m_AxesBaselineDone) {
    if (memcmp(bytes, slot->m_Baseline, 3) == 0)
      memset(bytes, 0, 3);
    else
      slot->m_AxesBaselineDone = 1;
  }
  if (!slot->m_ButtonsBaselineDone) {
    if (bytes[3] == slot->m_Baseline[3])
      bytes[3] = 0;
    else
      slot->m_ButtonsBaselineDone = 1;
  }
}

}  // namespace

void AccumulateAxes(int32_t* destination, const int32_t* source, const int16_t* values,
                    unsigned n) {
  for (unsigned i = 0; i < n; ++i)
    destination[i] = static_cast<int32_t>(static_cast<uint32_t>(source[i]) +
                                          static_cast<uint32_t>(static_cast<int32_t>(values[i])));
}

int ReadInterface(InterfaceChannel* channel) {
  if (channel->m_Handle == INVALID_HANDLE_VALUE || !channel->m_Handle) return 0;
  if (channel->m_ReadPending) {
    if (channel->m_Overlapped.Internal == kStatusPending) return 0;
    DWORD bytes = 0;
    if (!HidGetOverlappedResult(channel->m_Handle, &channel->m_Overlapped, &bytes, FALSE)) {
      DWORD error = GetLastError();
      if (error == ERROR_OPERATION_ABORTED || error == ERROR_DEVICE_NOT_CONNECTED) return -1;
      // Any other failure counts as a completed read of the bytes it reports.
    }
    channel->m_BytesRead = bytes;
    channel->m_ReadPending = 0;
    return 1;
  }
  DWORD bytes = 0;
  if (HidReadFile(channel->m_Handle, channel->m_Report, kReportBufferBytes, &bytes,
                  &channel->m_Overlapped)) {
    channel->m_BytesRead = bytes;
    return 1;
  }
  DWORD error = GetLastError();
  if (error == ERROR_IO_PENDING) {
    channel->m_ReadPending = 1;
    return 0;
  }
  if (error == ERROR_DEVICE_NOT_CONNECTED) return -1;
  return 0;
}

void OnBallReportsRead(uint16_t slotIndex) {
  if (!SlotInUse(slotIndex)) return;
  DeviceSlot* slot = SlotAt(slotIndex);
  int r = ReadInterface(&slot->m_Ball);
  if (r == 0) return;
  DeviceMotionRecord* record = MotionRecordForSlot(slotIndex);
  MotionBatch<BallBuffer> batch;
  batch.Begin(record ? BallHeaderOf(record) : nullptr, record ? record->m_Ball : nullptr);
  while (r == 1) {
    const uint8_t* report = slot->m_Ball.m_Report;
    for (uint32_t at = 0; at + kBallReportBytes <= slot->m_Ball.m_BytesRead;
         at += kBallReportBytes) {
      const uint8_t* data = report + at + 1;
      int16_t values[6] = {};
      int moving = 0;
      for (int i = 0; i < 8; ++i) moving |= data[i];
      if (moving)
        moving = ProcessBallReport(values, data, slot->m_SolverState, slot->m_RestZone,
                                   slot->m_Gains, slot->m_AxisConvention);
      batch.m_H = WithMovingBit(batch.m_H, moving);
      if (!TrackActivity(slot, moving, StateBallActive, StateBallChanged)) continue;
      batch.Accumulate(values, 6);
    }
    // A trailing part shorter than one report is dropped with the buffer.
    r = ReadInterface(&slot->m_Ball);
  }
  if (r == 0) {
    batch.Publish();
    return;
  }
  // The device is gone; what this call accumulated is not published.
  ReportEventLog(EVENTLOG_INFORMATION_TYPE, MSG_DEVICE_UNPLUGGED, nullptr);
  RemoveDevice(slot);
  MarkWaitListForRebuild();
  PublishPending = 1;
}

void OnScrollReportsRead(uint16_t slotIndex) {
  if (!SlotInUse(slotIndex)) return;
  DeviceSlot* slot = SlotAt(slotIndex);
  int r = ReadInterface(&slot->m_Scroll);
  if (r == 0) return;
  DeviceMotionRecord* record = MotionRecordForSlot(slotIndex);
  MotionBatch<ScrollBuffer> batch;
  batch.Begin(record ? ScrollHeaderOf(record) : nullptr, record ? record->m_Scroll : nullptr);
  while (r == 1) {
    for (uint32_t at = 0; at + kScrollReportBytes <= slot->m_Scroll.m_BytesRead;
         at += kScrollReportBytes) {
      uint8_t bytes[4];
      memcpy(bytes, slot->m_Scroll.m_Report + at + 1, 4);
      SuppressBaseline(slot, bytes);
      if (bytes[3] != slot->m_Buttons) {
        slot->m_Buttons = bytes[3];
        PublishDeviceState();
      }
      int16_t values[2] = {};
      int moving = ProcessScrollReport(values, bytes, slot->m_RestZone, slot->m_Gains);
      batch.m_H = WithMovingBit(batch.m_H, moving);
      if (!TrackActivity(slot, moving, StateScrollActive, StateScrollChanged)) continue;
      batch.Accumulate(values, 2);
    }
    r = ReadInterface(&slot->m_Scroll);
  }
  if (r == 0) {
    batch.Publish();
    return;
  }
  RemoveDevice(slot);
  PublishPending = 1;
}
