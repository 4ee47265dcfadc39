// The event source's registry entries, the events as handed to the system,
// and the message table compiled into the service program.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dbwin_monitor.h"
#include "event_log_recorder.h"
#include "messages.h"
#include "process_runner.h"
#include "service_private.h"

using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

const char kSourceKey[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Kestrin";

struct RegistryValue {
  LSTATUS status;
  DWORD type;
  std::vector<BYTE> data;
};

RegistryValue ReadValue(const char* name) {
  RegistryValue value = {ERROR_SUCCESS, 0, std::vector<BYTE>(2048)};
  HKEY key;
  value.status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSourceKey, 0, KEY_READ, &key);
  if (value.status != ERROR_SUCCESS) return value;
  DWORD size = static_cast<DWORD>(value.data.size());
  value.status = RegQueryValueExA(key, name, nullptr, &value.type, value.data.data(), &size);
  value.data.resize(value.status == ERROR_SUCCESS ? size : 0);
  RegCloseKey(key);
  return value;
}

class EventSourceRegistrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedPath_ = ModulePath;
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSourceKey);  // a clean start; absent is fine
  }
  void TearDown() override {
    ModulePath = savedPath_;
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSourceKey);
  }
  char* savedPath_;
};

TEST_F(EventSourceRegistrationTest, WritesMessageFileAndTypesAtEveryStart) {
  // A stale registration (another path, other types) is overwritten.
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSourceKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const char stale[] = "C:\\old\\KestrinSvc.exe";
  DWORD staleTypes = 1;
  RegSetValueExA(key, "EventMessageFile", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(stale),
                 sizeof stale);
  RegSetValueExA(key, "TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&staleTypes),
                 sizeof staleTypes);
  RegCloseKey(key);

  static char path[] = "C:\\Program Files (x86)\\Pellmor Vastine\\Kestrin\\KestrinSvc.exe";
  ModulePath = path;
  for (int start = 0; start < 2; ++start) {
    RegisterEventLogSource();
    RegistryValue file = ReadValue("EventMessageFile");
    ASSERT_EQ(file.status, ERROR_SUCCESS);
    EXPECT_EQ(file.type, static_cast<DWORD>(REG_SZ));
    // The stored size counts the terminator.
    EXPECT_EQ(file.data.size(), sizeof path);
    EXPECT_STREQ(reinterpret_cast<const char*>(file.data.data()), path);
    RegistryValue types = ReadValue("TypesSupported");
    ASSERT_EQ(types.status, ERROR_SUCCESS);
    EXPECT_EQ(types.type, static_cast<DWORD>(REG_DWORD));
    ASSERT_EQ(types.data.size(), sizeof(DWORD));
    EXPECT_EQ(*reinterpret_cast<const DWORD*>(types.data.data()), 7u);
  }
}

TEST_F(EventSourceRegistrationTest, WithoutAKnownPathOnlyTheTypesAreWritten) {
  ModulePath = nullptr;
  RegisterEventLogSource();
  EXPECT_EQ(ReadValue("EventMessageFile").status, ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(ReadValue("TypesSupported").status, ERROR_SUCCESS);
}

// ---- events as handed to the system ----

TEST(ReportEventLogTest, OpensWritesAndClosesTheSourceAroundEachEvent) {
  EventLogRecorder recorder;
  ASSERT_TRUE(recorder.installed());
  const char* inserts[] = {"3"};
  const struct {
    DWORD id;
    const char** strings;
    WORD count;
  } cases[] = {
      {MSG_DEVICE_PLUGGED_IN, nullptr, 0},
      {MSG_PIPE_CLOSED, inserts, 1},
      {MSG_REST_ZONE_UPDATED, nullptr, 0},
  };
  for (const auto& c : cases) ReportEventLog(EVENTLOG_INFORMATION_TYPE, c.id, c.strings);

  ASSERT_EQ(recorder.events.size(), 3u);
  EXPECT_THAT(recorder.openedSources, ElementsAre("Kestrin", "Kestrin", "Kestrin"));
  // Every handle opened is closed again, one per event.
  EXPECT_EQ(recorder.closedHandles, recorder.openedHandles);
  for (size_t i = 0; i < 3; ++i) {
    const RecordedEvent& e = recorder.events[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(e.source, recorder.openedHandles[i]);
    EXPECT_EQ(e.type, EVENTLOG_INFORMATION_TYPE);
    EXPECT_EQ(e.category, 0);
    EXPECT_EQ(e.id, cases[i].id);
    EXPECT_FALSE(e.withSid);
    EXPECT_EQ(e.stringCount, cases[i].count);
    EXPECT_EQ(e.dataSize, 0u);
  }
  EXPECT_THAT(recorder.events[1].strings, ElementsAre("3"));
}

TEST(ReportEventLogTest, FailuresAreReportedAndNothingStaysOpen) {
  DebugMonitor monitor;
  ASSERT_TRUE(monitor.Start());
  {
    EventLogRecorder recorder;
    recorder.failRegisterWith = ERROR_ACCESS_DENIED;
    ReportEventLog(EVENTLOG_INFORMATION_TYPE, MSG_DEVICE_UNPLUGGED, nullptr);
    EXPECT_TRUE(recorder.events.empty());  // no source, no event
    EXPECT_TRUE(recorder.closedHandles.empty());
    EXPECT_TRUE(monitor.WaitForText("33() failed - ", 2000));
  }
  monitor.Clear();
  {
    EventLogRecorder recorder;
    recorder.failReportWith = ERROR_INVALID_PARAMETER;
    ReportEventLog(EVENTLOG_INFORMATION_TYPE, MSG_DEVICE_UNPLUGGED, nullptr);
    EXPECT_EQ(recorder.events.size(), 1u);
    EXPECT_EQ(recorder.closedHandles, recorder.openedHandles);
    EXPECT_TRUE(monitor.WaitForText("40() failed - ", 2000));
  }
}

// ---- the message table of the service program ----

std::wstring Widen(const char* text) {
  std::wstring wide;
  for (; *text; ++text) wide += static_cast<wchar_t>(*text);
  return wide;
}

class MessageTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryExA(WinePath(KESTRIN_SERVICE_EXE).c_str(), nullptr,
                             LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module_, nullptr) << "error " << GetLastError();
  }
  void TearDown() override {
    if (module_) FreeLibrary(module_);
  }
  HMODULE module_ = nullptr;
};

const struct {
  DWORD id;
  const char* text;  // as in the table
} kMessages[] = {
    {MSG_DEVICE_PLUGGED_IN, "An Kestrin was plugged in.\r\n"},
    {MSG_DEVICE_UNPLUGGED, "An Kestrin was unplugged.\r\n"},
    {MSG_PIPE_OPENED, "Pipe #%1 opened.\r\n"},
    {MSG_PIPE_CLOSED, "Pipe #%1 closed.\r\n"},
    {MSG_REST_ZONE_UPDATED, "Kestrin RestZone updated.\r\n"},
};

TEST_F(MessageTableTest, HoldsExactlyTheFiveUnicodeTextsInOneBlock) {
  HRSRC found = FindResourceA(module_, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(11));  // RT_MESSAGETABLE
  ASSERT_NE(found, nullptr);
  const auto* table = static_cast<const MESSAGE_RESOURCE_DATA*>(
      LockResource(LoadResource(module_, found)));
  ASSERT_NE(table, nullptr);
  ASSERT_EQ(table->NumberOfBlocks, 1u);
  const MESSAGE_RESOURCE_BLOCK& block = table->Blocks[0];
  EXPECT_EQ(block.LowId, MSG_DEVICE_PLUGGED_IN);
  EXPECT_EQ(block.HighId, MSG_REST_ZONE_UPDATED);
  const auto* entry = reinterpret_cast<const BYTE*>(table) + block.OffsetToEntries;
  for (const auto& m : kMessages) {
    const auto* e = reinterpret_cast<const MESSAGE_RESOURCE_ENTRY*>(entry);
    SCOPED_TRACE(m.text);
    // Severity informational (bits 30-31 = 1), facility 0, codes 1 to 5.
    EXPECT_EQ(m.id >> 30, 1u);
    EXPECT_EQ(e->Flags, 1);  // MESSAGE_RESOURCE_UNICODE
    std::wstring text(reinterpret_cast<const wchar_t*>(e->Text));
    EXPECT_EQ(text, Widen(m.text));
    entry += e->Length;
  }
}

TEST_F(MessageTableTest, FormatMessageReadsEachTextWithItsInsert) {
  for (const auto& m : kMessages) {
    char text[128] = {};
    const DWORD_PTR inserts[] = {reinterpret_cast<DWORD_PTR>("12")};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                  module_, m.id, 0, text, sizeof text,
                                  reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(inserts)));
    ASSERT_NE(length, 0u) << std::hex << m.id << " error " << GetLastError();
    std::string expected = m.text;
    size_t insert = expected.find("%1");
    if (insert != std::string::npos) expected.replace(insert, 2, "12");
    EXPECT_EQ(std::string(text), expected);
  }
}

}  // namespace
