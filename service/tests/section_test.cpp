// The service's motion section: its size, the record of each device slot,
// its security, and the writer and a read-only reader in two views of it.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "dbwin_monitor.h"
#include "motion_section.h"
#include "ordinary_user.h"
#include "process_runner.h"
#include "reporting.h"
#include "section.h"
#include "service_private.h"

namespace {

uint32_t ExpectedBytes() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return SectionBytesForPageSize(info.dwPageSize);
}

class SectionTest : public testing::Test {
 protected:
  void SetUp() override {
    BuildSharedMemorySecurity();
    m_View = static_cast<uint8_t*>(InitSharedMemory());
    ASSERT_NE(nullptr, m_View);
  }
  void TearDown() override { UnmapSharedMemory(); }

  uint8_t* m_View = nullptr;
};

TEST_F(SectionTest, HasThePageSizeRuleSizeAndStartsZeroed) {
  EXPECT_EQ(ExpectedBytes(), SharedSectionBytes());
  MEMORY_BASIC_INFORMATION region = {};
  ASSERT_NE(0u, VirtualQuery(m_View, &region, sizeof region));
  EXPECT_GE(region.RegionSize, SharedSectionBytes());
  for (uint32_t i = 0; i < SharedSectionBytes(); ++i) ASSERT_EQ(0, m_View[i]) << i;
}

TEST_F(SectionTest, SlotRecordsStayInsideTheView) {
  uint32_t slots = SectionSlotCapacity(SharedSectionBytes());
  ASSERT_GT(slots, 0u);
  struct Case {
    uint32_t m_Slot;
    bool m_HasRecord;
  } cases[] = {
      {0, true}, {1, true}, {slots - 1, true}, {slots, false}, {slots + 1, false}, {0xFFFF, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.m_Slot);
    DeviceMotionRecord* record = MotionRecordForSlot(static_cast<uint16_t>(c.m_Slot));
    if (!c.m_HasRecord) {
      EXPECT_EQ(nullptr, record);
      continue;
    }
    uint8_t* bytes = reinterpret_cast<uint8_t*>(record);
    EXPECT_EQ(m_View + (c.m_Slot + 1) * 128, bytes);  // record 0 stays empty
    EXPECT_LE(bytes + 128, m_View + SharedSectionBytes());
  }
}

// A slot beyond the section's records gets no record and one debug line,
// not one per batch it would have published.
TEST_F(SectionTest, SlotBeyondTheRecordsIsReportedOnce) {
  DebugMonitor monitor;
  ASSERT_TRUE(monitor.Start());
  SetProgramName("KestrinSvc");
  uint32_t slots = SectionSlotCapacity(SharedSectionBytes());
  for (int i = 0; i < 3; ++i) EXPECT_EQ(nullptr, MotionRecordForSlot(static_cast<uint16_t>(slots)));
  const std::string marker = "-- section test end --";
  OutputDebugStringA(marker.c_str());
  ASSERT_TRUE(monitor.WaitForText(marker, 10000));
  const std::string expected = "[KestrinSvc] No shared memory record for device slot " +
                               std::to_string(slots) + " - the section holds " +
                               std::to_string(slots) + " device records";
  std::vector<std::string> lines = monitor.TextsFrom(GetCurrentProcessId());
  lines.pop_back();  // the marker
  // How a line ends is the reporting module's concern.
  for (std::string& line : lines) line.erase(line.find_last_not_of("\r\n") + 1);
  EXPECT_EQ(std::vector<std::string>{expected}, lines);
}

// An ordinary user's program opens the section for reading and sees what the
// writer published; it cannot open it for writing.
TEST_F(SectionTest, AnotherProgramGetsReadAccessOnly) {
  DeviceMotionRecord* record = MotionRecordForSlot(0);
  ASSERT_NE(nullptr, record);
  uint16_t h = BeginMotionBatch(BallHeaderOf(record));
  record->m_Ball[MotionBackBuffer(h)].m_Sums[2] = 1234;
  record->m_Ball[MotionBackBuffer(h)].m_Values[2] = 1234;
  PublishMotionBatch(BallHeaderOf(record), WithMovingBit(h, 1), 1);

  const std::string child = WinePath(KESTRIN_SECTION_CHILD_EXE);
  RunResult reader = RunProgram(child + " read", 20000);
  ASSERT_TRUE(reader.started);
  EXPECT_EQ(0u, reader.exitCode);
  EXPECT_NE(std::string::npos, reader.output.find("header=c001 sum=1234")) << reader.output;

  RunResult writer = RunProgram(child + " write", 20000);
  ASSERT_TRUE(writer.started);
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), writer.exitCode);
}

// Every opener is held to the section's access list: the service's own
// account may open it for writing (as the service does when it starts again
// while the section lives on), an ordinary user's program only for reading.
TEST_F(SectionTest, TheServicesAccountReopensItForWritingAnOrdinaryUserForReadingOnly) {
  const struct {
    bool m_Ordinary;
    DWORD m_Access;
    DWORD m_Error;  // 0: opened
  } cases[] = {
      {false, FILE_MAP_ALL_ACCESS, 0},
      {false, FILE_MAP_READ, 0},
      {true, FILE_MAP_WRITE, ERROR_ACCESS_DENIED},
      {true, FILE_MAP_ALL_ACCESS, ERROR_ACCESS_DENIED},
      {true, FILE_MAP_READ, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.m_Ordinary ? "ordinary user" : "service account")
                                    << ", access 0x" << std::hex << c.m_Access);
    std::unique_ptr<OrdinaryUser> user;
    if (c.m_Ordinary) {
      user = std::make_unique<OrdinaryUser>();
      ASSERT_TRUE(user->acting());
    }
    SetLastError(0xdeadbeef);
    HANDLE section = OpenFileMappingA(c.m_Access, FALSE, kSectionName);
    const DWORD error = section ? 0 : GetLastError();
    if (section) CloseHandle(section);
    EXPECT_EQ(c.m_Error, error);
  }
}

TEST(SectionLifetime, NoRecordWithoutASection) {
  EXPECT_EQ(nullptr, MotionRecordForSlot(0));  // never mapped
  BuildSharedMemorySecurity();
  ASSERT_NE(nullptr, InitSharedMemory());
  ASSERT_NE(nullptr, MotionRecordForSlot(0));
  UnmapSharedMemory();
  EXPECT_EQ(nullptr, MotionRecordForSlot(0));
  EXPECT_EQ(0u, SharedSectionBytes());
  UnmapSharedMemory();  // a second shutdown finds nothing to release

  // Gone with its last handle: a reader finds no section.
  SetLastError(0xdeadbeef);
  EXPECT_EQ(nullptr, OpenFileMappingA(FILE_MAP_READ, FALSE, kSectionName));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
}

TEST(SectionLifetime, AServiceStartedAgainWhileAReaderHoldsTheSectionPublishesIntoIt) {
  // A client keeps its view across the service's restart: the new service
  // opens the section by its name and the client sees what it publishes.
  BuildSharedMemorySecurity();
  ASSERT_NE(nullptr, InitSharedMemory());
  DeviceMotionRecord* record = MotionRecordForSlot(0);
  ASSERT_NE(nullptr, record);
  uint16_t h = BeginMotionBatch(BallHeaderOf(record));
  record->m_Ball[MotionBackBuffer(h)].m_Sums[0] = 10;
  PublishMotionBatch(BallHeaderOf(record), WithMovingBit(h, 1), 1);
  HANDLE reader = OpenFileMappingA(FILE_MAP_READ, FALSE, kSectionName);
  ASSERT_NE(nullptr, reader);
  const void* view = MapViewOfFile(reader, FILE_MAP_READ, 0, 0, SharedSectionBytes());
  ASSERT_NE(nullptr, view);
  UnmapSharedMemory();  // the service stops

  DebugMonitor monitor;
  ASSERT_TRUE(monitor.Start());
  SetProgramName("KestrinSvc");
  BuildSharedMemorySecurity();
  ASSERT_NE(nullptr, InitSharedMemory()) << ::testing::PrintToString(
      monitor.TextsFrom(GetCurrentProcessId()));
  record = MotionRecordForSlot(0);
  ASSERT_NE(nullptr, record);
  h = BeginMotionBatch(BallHeaderOf(record));
  EXPECT_EQ(0xC001, h) << "the section's records live on";
  BallBuffer* target = &record->m_Ball[MotionBackBuffer(h)];
  target->m_Sums[0] = record->m_Ball[MotionCurrentBuffer(h)].m_Sums[0] + 5;
  PublishMotionBatch(BallHeaderOf(record), WithMovingBit(h, 1), 1);

  BallBuffer seen = {};
  uint16_t header = 0;
  ASSERT_TRUE(ReadBallMotion(SectionRecord(view, 1), &seen, &header));
  EXPECT_EQ(0x4002, header);
  EXPECT_EQ(15, seen.m_Sums[0]);
  UnmapSharedMemory();
  UnmapViewOfFile(view);
  CloseHandle(reader);
}

TEST(SectionLifetime, DefaultSecurityWhenNoDescriptorWasBuilt) {
  // Without a descriptor the section is still created, and then nothing
  // keeps other openers from writing: the access list is what refuses them.
  ASSERT_NE(nullptr, InitSharedMemory());
  EXPECT_NE(nullptr, MotionRecordForSlot(0));
  HANDLE writable = OpenFileMappingA(FILE_MAP_WRITE, FALSE, kSectionName);
  EXPECT_NE(nullptr, writable);
  if (writable) CloseHandle(writable);
  UnmapSharedMemory();
}

}  // namespace
