// Reporting: the debug lines as another program sees them (through the
// debug-output monitor), the wrappers' results and last error, the formatting
// routines, and reports from two threads at once.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <string.h>
#include <windows.h>
// after windows.h
#include <sddl.h>

#include <atomic>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "dbwin_monitor.h"
#include "reporting.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

const HANDLE kBogusHandle = reinterpret_cast<HANDLE>(0xBAD0);
const HKEY kBogusKey = reinterpret_cast<HKEY>(0xBAD0);
constexpr DWORD kNoTextError = 0x2000FFFF;  // a customer code: the system has no text
// Sizes no allocation can satisfy; volatile so the compiler does not judge the calls.
volatile size_t g_Huge = static_cast<size_t>(-16);
// Half the bits of a size: calloc(g_Half, g_Half) overflows in either build
// (0x10000 squared is 4 GiB, which an x64 process may well get).
volatile size_t g_Half = size_t{1} << (sizeof(size_t) * 4);

// The system's text for error as a report shows it: without the trailing
// line break, or the fallback when the system has none.
std::string SystemText(DWORD error) {
  LPSTR text = nullptr;
  DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0x400, reinterpret_cast<LPSTR>(&text), 0, nullptr);
  if (!length) return "FormatMessage() failed!";
  std::string result(text, length);
  LocalFree(text);
  if (result.size() >= 2 && result.compare(result.size() - 2, 2, "\r\n") == 0)
    result.resize(result.size() - 2);
  return result;
}

std::string FailureLine(const char* program, unsigned callId, DWORD error) {
  return std::string("[") + program + "] " + std::to_string(callId) + "() failed - " +
         SystemText(error) + "\n";
}

class ReportingTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(monitor_.Start()); }
  void TearDown() override { SetProgramName("KestrinUtl"); }

  // Every line this process wrote since the previous call: a marker line
  // written last closes the batch (one process's lines arrive in order).
  std::vector<std::string> OwnLines() {
    const std::string marker = "-- batch end " + std::to_string(++batches_) + " --";
    OutputDebugStringA(marker.c_str());
    const DWORD self = GetCurrentProcessId();
    EXPECT_TRUE(monitor_.WaitFor(
        [&](const std::vector<DebugLine>& lines) {
          for (const DebugLine& line : lines)
            if (line.pid == self && line.text == marker) return true;
          return false;
        },
        10000));
    std::vector<std::string> batch;
    for (const std::string& text : monitor_.TextsFrom(self)) {
      if (text == marker) break;
      batch.push_back(text);
    }
    monitor_.Clear();
    return batch;
  }

  DebugMonitor monitor_;
  int batches_ = 0;
};

// ---- the line of a failed call ----

TEST_F(ReportingTest, FailedCloseHandleGivesExactlyOneLine) {
  SetLastError(0xdeadbeef);
  EXPECT_EQ(CloseHandleChecked(kBogusHandle), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  const std::string text = SystemText(ERROR_INVALID_HANDLE);
  ASSERT_FALSE(text.empty());
  EXPECT_NE(text.back(), '\n');
  EXPECT_THAT(OwnLines(), ElementsAre("[KestrinUtl] 4() failed - " + text + "\n"));
}

// A call without an id of its own is named in its line, which keeps the
// caller's last error as the id form does.
TEST_F(ReportingTest, CallWithoutAnIdIsNamedInItsLine) {
  SetLastError(ERROR_NO_MORE_ITEMS);
  ReportNamedCallFailure("SetupDiGetClassDevsA", ERROR_INVALID_FLAGS);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
  EXPECT_THAT(OwnLines(), ElementsAre("[KestrinUtl] SetupDiGetClassDevsA() failed - " +
                                      SystemText(ERROR_INVALID_FLAGS) + "\n"));
}

TEST_F(ReportingTest, LinesCarryTheProgramName) {
  const char* const names[] = {nullptr, "KestrinSvc", "KestrinElf"};  // nullptr: the default
  for (const char* name : names) {
    if (name) SetProgramName(name);
    const char* shown = name ? name : "KestrinUtl";
    EXPECT_STREQ(GetProgramName(), shown);
    CloseHandleChecked(kBogusHandle);
    DebugPrintMessage(141);
    EXPECT_THAT(OwnLines(), ElementsAre(FailureLine(shown, 4, ERROR_INVALID_HANDLE),
                                        std::string("[") + shown + "] Pipe write skipped!\n"))
        << shown;
  }
}

// Every wrapper: on failure the bare call's result and last error, one line
// with its call id and the error (the returned status for the registry).
TEST_F(ReportingTest, WrappersReturnTheCallsResultAndKeepItsError) {
  HANDLE clash = CreateMutexA(nullptr, FALSE, "KestrinReportingTestClash");
  ASSERT_TRUE(clash);
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  char buffer[64];
  HKEY key = nullptr;
  SERVICE_STATUS status = {};
  struct Case {
    const char* name;
    unsigned callId;
    bool statusIsError;   // registry calls: the result is the error
    DWORD presetError;    // last error before the call
    std::function<intptr_t()> bare, wrapped;
  };
  const Case cases[] = {
      {"CloseHandle", 4, false, 0xdeadbeef, [] { return CloseHandle(kBogusHandle); },
       [] { return CloseHandleChecked(kBogusHandle); }},
      {"CancelIo", 2, false, 0xdeadbeef, [] { return CancelIo(kBogusHandle); },
       [] { return CancelIoChecked(kBogusHandle); }},
      {"ResetEvent", 41, false, 0xdeadbeef, [] { return ResetEvent(kBogusHandle); },
       [] { return ResetEventChecked(kBogusHandle); }},
      {"ConvertSddl", 5, false, 0xdeadbeef,
       [&] {
         return ConvertStringSecurityDescriptorToSecurityDescriptorA("no sddl", SDDL_REVISION_1,
                                                                     &descriptor, nullptr);
       },
       [&] { return ConvertSddlChecked("no sddl", SDDL_REVISION_1, &descriptor, nullptr); }},
      {"CreateEvent on a mutex's name", 7, false, 0xdeadbeef,
       [] {
         return reinterpret_cast<intptr_t>(
             CreateEventA(nullptr, TRUE, FALSE, "KestrinReportingTestClash"));
       },
       [] {
         return reinterpret_cast<intptr_t>(
             CreateEventChecked(nullptr, TRUE, FALSE, "KestrinReportingTestClash"));
       }},
      {"CreateFileMapping of size 0", 9, false, 0xdeadbeef,
       [] {
         return reinterpret_cast<intptr_t>(
             CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 0, nullptr));
       },
       [] {
         return reinterpret_cast<intptr_t>(CreateFileMappingChecked(
             INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 0, nullptr));
       }},
      {"FormatMessage without text", 14, false, 0xdeadbeef,
       [&] {
         return FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                               nullptr, kNoTextError, 0, buffer, sizeof buffer, nullptr);
       },
       [&] {
         return FormatMessageChecked(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, kNoTextError, 0, buffer, sizeof buffer, nullptr);
       }},
      {"LoadString of a missing id", 21, false, 0xdeadbeef,
       [&] { return LoadStringA(nullptr, 999, buffer, sizeof buffer); },
       [&] { return LoadStringChecked(nullptr, 999, buffer, sizeof buffer); }},
      {"RegisterWindowMessage of an empty name", 35, false, 0xdeadbeef,
       [] { return RegisterWindowMessageA(""); }, [] { return RegisterWindowMessageChecked(""); }},
      {"SetServiceStatus", 43, false, 0xdeadbeef,
       [&] { return SetServiceStatus(nullptr, &status); },
       [&] { return SetServiceStatusChecked(nullptr, &status); }},
      {"RegCloseKey", 36, true, 0xdeadbeef, [] { return RegCloseKey(kBogusKey); },
       [] { return RegCloseKeyChecked(kBogusKey); }},
      {"RegCreateKeyEx", 31, true, 0xdeadbeef,
       [&] {
         return RegCreateKeyExA(kBogusKey, "x", 0, nullptr, 0, KEY_READ, nullptr, &key, nullptr);
       },
       [&] {
         return RegCreateKeyChecked(kBogusKey, "x", 0, nullptr, 0, KEY_READ, nullptr, &key,
                                    nullptr);
       }},
      {"RegDeleteKey", 52, true, 0xdeadbeef,
       [] { return RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\KestrinNoSuchKey"); },
       [] { return RegDeleteKeyChecked(HKEY_CURRENT_USER, "Software\\KestrinNoSuchKey"); }},
      {"RegOpenKeyEx", 37, true, 0xdeadbeef,
       [&] {
         return RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\KestrinNoSuchKey", 0, KEY_READ, &key);
       },
       [&] {
         return RegOpenKeyChecked(HKEY_CURRENT_USER, "Software\\KestrinNoSuchKey", 0, KEY_READ,
                                  &key);
       }},
      {"RegQueryValueEx", 38, true, 0xdeadbeef,
       [] {
         return RegQueryValueExA(HKEY_CURRENT_USER, "KestrinNoSuchValue", nullptr, nullptr,
                                 nullptr, nullptr);
       },
       [] {
         return RegQueryValueChecked(HKEY_CURRENT_USER, "KestrinNoSuchValue", nullptr, nullptr,
                                     nullptr, nullptr);
       }},
      {"RegSetValueEx", 39, true, 0xdeadbeef,
       [] {
         return RegSetValueExA(kBogusKey, "v", 0, REG_DWORD,
                               reinterpret_cast<const BYTE*>("\0\0\0\0"), 4);
       },
       [] {
         return RegSetValueChecked(kBogusKey, "v", 0, REG_DWORD,
                                   reinterpret_cast<const BYTE*>("\0\0\0\0"), 4);
       }},
      // The C runtime need not set the last error: the report shows what is there.
      {"calloc", 1, false, ERROR_NOT_ENOUGH_MEMORY,
       [] { return reinterpret_cast<intptr_t>(calloc(g_Half, g_Half)); },
       [] { return reinterpret_cast<intptr_t>(CallocChecked(g_Half, g_Half)); }},
      {"malloc", 24, false, ERROR_NOT_ENOUGH_MEMORY,
       [] { return reinterpret_cast<intptr_t>(malloc(g_Huge)); },
       [] { return reinterpret_cast<intptr_t>(MallocChecked(g_Huge)); }},
      {"realloc", 30, false, ERROR_NOT_ENOUGH_MEMORY,
       [] { return reinterpret_cast<intptr_t>(realloc(nullptr, g_Huge)); },
       [] {
         return reinterpret_cast<intptr_t>(ReallocChecked(nullptr, g_Huge));
       }},
  };
  for (const Case& c : cases) {
    SetLastError(c.presetError);
    const intptr_t bareResult = c.bare();
    const DWORD bareError = GetLastError();
    ASSERT_TRUE(c.statusIsError ? bareResult != ERROR_SUCCESS : bareResult == 0)
        << c.name << ": the bare call did not fail";
    OwnLines();  // the bare call writes nothing; start afresh

    SetLastError(c.presetError);
    const intptr_t result = c.wrapped();
    EXPECT_EQ(result, bareResult) << c.name;
    EXPECT_EQ(GetLastError(), bareError) << c.name;
    const DWORD reported = c.statusIsError ? static_cast<DWORD>(result) : bareError;
    std::vector<std::string> lines = OwnLines();
    // An error without system text also shows the failed lookup (call 14) first.
    ASSERT_FALSE(lines.empty()) << c.name;
    EXPECT_EQ(lines.back(), FailureLine("KestrinUtl", c.callId, reported)) << c.name;
    EXPECT_EQ(lines.size(), SystemText(reported) == "FormatMessage() failed!" ? 2u : 1u)
        << c.name;
  }
  CloseHandle(clash);  // the test is over; nothing to do on failure
}

TEST_F(ReportingTest, SucceedingWrappersWriteNothingAndKeepTheLastError) {
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_TRUE(event);
  HKEY key = nullptr;
  char buffer[64];
  const struct {
    const char* name;
    std::function<bool()> call;  // true when the call succeeded
  } cases[] = {
      {"ResetEvent", [&] { return ResetEventChecked(event) == 1; }},
      {"CloseHandle", [&] { return CloseHandleChecked(event) == 1; }},
      {"RegOpenKeyEx", [&] {
         return RegOpenKeyChecked(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &key) ==
                ERROR_SUCCESS;
       }},
      {"RegCloseKey", [&] { return RegCloseKeyChecked(key) == ERROR_SUCCESS; }},
      {"LoadString", [&] { return LoadStringChecked(nullptr, 113, buffer, sizeof buffer) == 16; }},
  };
  for (const auto& c : cases) {
    SetLastError(0xdeadbeef);
    EXPECT_TRUE(c.call()) << c.name;
    EXPECT_EQ(GetLastError(), 0xdeadbeefu) << c.name;
  }
  EXPECT_THAT(OwnLines(), IsEmpty());
}

TEST_F(ReportingTest, ErrorWithoutSystemTextGivesTheFallbackText) {
  ASSERT_EQ(SystemText(kNoTextError), "FormatMessage() failed!");
  EXPECT_STREQ(FormatSystemError(kNoTextError), "FormatMessage() failed!");
  FreeSystemMessageBuffer();
  OwnLines();
  ReportCallFailure(CallCloseHandle, kNoTextError);
  std::vector<std::string> lines = OwnLines();
  // First the failed lookup itself, reported once, then the line asked for.
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].rfind("[KestrinUtl] 14() failed - ", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1], "[KestrinUtl] 4() failed - FormatMessage() failed!\n");
}

TEST(SystemErrorTextTest, TrailingLineBreakIsRemoved) {
  const DWORD errors[] = {ERROR_SUCCESS, ERROR_FILE_NOT_FOUND, ERROR_INVALID_HANDLE,
                          ERROR_INVALID_PARAMETER, ERROR_BROKEN_PIPE, ERROR_MORE_DATA,
                          ERROR_SERVICE_MARKED_FOR_DELETE};
  for (DWORD error : errors) {
    const char* text = FormatSystemError(error);
    ASSERT_NE(text, nullptr) << error;
    std::string s = text;
    EXPECT_FALSE(s.empty()) << error;
    EXPECT_EQ(s.find("\r\n"), std::string::npos) << error << ": " << s;
  }
  FreeSystemMessageBuffer();
  FreeSystemMessageBuffer();  // freeing an empty buffer is harmless
}

// A text that holds inserts of its own is shown as it stands, never filled
// from a missing argument list.
TEST_F(ReportingTest, SystemTextWithInsertsIsUsedAsItStands) {
  ReportCallFailure(CallCreateFile, ERROR_BAD_EXE_FORMAT);
  EXPECT_THAT(OwnLines(), ElementsAre(FailureLine("KestrinUtl", 8, ERROR_BAD_EXE_FORMAT)));
}

// ---- debug messages ----

TEST_F(ReportingTest, MessagesAreFormattedWithTheirInserts) {
  const struct {
    UINT id;
    std::vector<DWORD_PTR> inserts;
    const char* text;
  } cases[] = {
      {103, {static_cast<DWORD_PTR>(-1L)}, "Bad wait return value: -1"},
      {103, {0x80000000u}, "Bad wait return value: -2147483648"},
      {103, {WAIT_TIMEOUT}, "Bad wait return value: 258"},
      {115, {static_cast<DWORD_PTR>(-200L)}, "Unrecognized opcode -200"},
      {115, {255}, "Unrecognized opcode 255"},
      {111, {reinterpret_cast<DWORD_PTR>("\\\\?\\hid#vid_1234")},
       "Unmatched scroll hat device - \\\\?\\hid#vid_1234"},
      {113, {reinterpret_cast<DWORD_PTR>("ReadFile"), reinterpret_cast<DWORD_PTR>("gone")},
       "ReadFile() failed - gone"},
      {102, {}, "Error processing Kestrin attachment"},
      {112, {}, "Error calling ConnectNamedPipe()"},
      {153, {},
       "The Kestrin service has been marked for deletion. Reboot then reinstall the Kestrin "
       "service."},
      {900, {static_cast<DWORD_PTR>(-3), 0xBEEF, 0xFFFFFFFFu, reinterpret_cast<DWORD_PTR>("s")},
       "int -3 hex     BEEF unsigned 4294967295 string s"},
      {902, {reinterpret_cast<DWORD_PTR>("it")}, "100% of it"},
  };
  for (const auto& c : cases) {
    std::vector<DWORD_PTR> inserts = c.inserts;
    inserts.push_back(0);
    DebugPrintMessageArray(c.id, inserts.data());
    EXPECT_THAT(OwnLines(), ElementsAre(std::string("[KestrinUtl] ") + c.text + "\n")) << c.id;
    LPSTR line = FormatDebugLine(c.id, inserts.data());
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(std::string(line), std::string("[KestrinUtl] ") + c.text + "\n");
    LocalFree(line);
  }
}

TEST_F(ReportingTest, InsertsPassedAsArgumentsKeepTheirSign) {
  DebugPrintMessage(103, -42L);
  DebugPrintMessage(115, static_cast<long>(INT32_MIN));
  DebugPrintMessage(103, 7u);
  EXPECT_THAT(OwnLines(), ElementsAre("[KestrinUtl] Bad wait return value: -42\n",
                                      "[KestrinUtl] Unrecognized opcode -2147483648\n",
                                      "[KestrinUtl] Bad wait return value: 7\n"));
}

TEST_F(ReportingTest, EveryLineEndsWithOneLineFeed) {
  CloseHandleChecked(kBogusHandle);
  ReportCallFailure(CallReadFile, ERROR_BROKEN_PIPE);
  ReportCallFailure(CallWriteFile, kNoTextError);
  DebugPrintMessage(141);
  DebugPrintMessage(103, 1L);
  std::vector<std::string> lines = OwnLines();
  ASSERT_GE(lines.size(), 5u);
  for (const std::string& line : lines) {
    ASSERT_GE(line.size(), 2u);
    EXPECT_EQ(line.back(), '\n') << line;
    EXPECT_EQ(line.find('\r'), std::string::npos) << line;
    EXPECT_EQ(line.find('\n'), line.size() - 1) << line;
  }
}

TEST_F(ReportingTest, MissingStringGivesNoLineButTheFailedLoad) {
  SetLastError(0xdeadbeef);
  EXPECT_EQ(FormatDebugLine(999, nullptr), nullptr);
  DebugPrintMessage(999, 1L);
  std::vector<std::string> lines = OwnLines();
  ASSERT_EQ(lines.size(), 2u);  // one failed LoadStringA per attempt
  for (const std::string& line : lines)
    EXPECT_EQ(line.rfind("[KestrinUtl] 21() failed - ", 0), 0u) << line;
}

// ---- formatting routines ----

TEST(FormatStringTest, FormatsInsertsByTheirTypes) {
  const struct {
    const char* format;
    std::vector<DWORD_PTR> inserts;
    const char* text;
  } cases[] = {
      {"%1!ld!", {static_cast<DWORD_PTR>(-5)}, "-5"},
      {"%1!ld!", {0x80000000u}, "-2147483648"},
      {"%1!ld!", {65535}, "65535"},
      {"%1!lu!", {0xFFFFFFFFu}, "4294967295"},
      {"%1!d!", {static_cast<DWORD_PTR>(-1)}, "-1"},
      {"%1!8lX!", {0xBEEF}, "    BEEF"},
      {"%2 before %1", {reinterpret_cast<DWORD_PTR>("a"), reinterpret_cast<DWORD_PTR>("b")},
       "b before a"},
      {"no inserts", {}, "no inserts"},
      {"ends here%0 not here", {}, "ends here"},
  };
  for (const auto& c : cases) {
    std::vector<DWORD_PTR> inserts = c.inserts;
    inserts.push_back(0);
    LPSTR text = nullptr;
    DWORD length = FormatStringChecked(&text, c.format, inserts.data());
    ASSERT_NE(text, nullptr) << c.format;
    EXPECT_STREQ(text, c.text) << c.format;
    EXPECT_EQ(length, strlen(c.text)) << c.format;
    LocalFree(text);
  }
  LPSTR text = nullptr;
  EXPECT_EQ(FormatString(&text, "%1!ld! %2", -7L, "x"), 4u);
  EXPECT_STREQ(text, "-7 x");
  LocalFree(text);
}

TEST_F(ReportingTest, BadFormatGivesZeroAndWritesTheSystemText) {
  const char* const formats[] = {"%1!", "trailing %", "%1!ld"};
  for (const char* format : formats) {
    LPSTR text = reinterpret_cast<LPSTR>(1);  // overwritten
    const DWORD_PTR inserts[] = {1, 0};
    SetLastError(0xdeadbeef);
    EXPECT_EQ(FormatStringChecked(&text, format, inserts), 0u) << format;
    EXPECT_EQ(text, nullptr) << format;
    // The system text of the failure, unchanged: no program name, its own line break.
    LPSTR expected = nullptr;
    ASSERT_TRUE(FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, ERROR_INVALID_PARAMETER, 0x400, reinterpret_cast<LPSTR>(&expected), 0, nullptr));
    EXPECT_THAT(OwnLines(), ElementsAre(std::string(expected))) << format;
    LocalFree(expected);
  }
}

TEST(LoadStringAllocTest, LeavesZeroedRoomBehindTheText) {
  const struct {
    UINT id;
    int extra;
    int length;
  } cases[] = {{113, 2, 16}, {141, 0, 19}, {101, 5, 7}, {901, 2, 1023}};
  for (const auto& c : cases) {
    LPSTR text = nullptr;
    ASSERT_EQ(LoadStringAlloc(c.id, &text, c.extra), c.length) << c.id;
    ASSERT_NE(text, nullptr);
    EXPECT_GE(_msize(text), static_cast<size_t>(c.length + c.extra + 1)) << c.id;
    EXPECT_EQ(strlen(text), static_cast<size_t>(c.length)) << c.id;
    for (int i = 0; i <= c.extra; ++i) EXPECT_EQ(text[c.length + i], '\0') << c.id << " " << i;
    FreeAndClear(&text);
    EXPECT_EQ(text, nullptr);
  }
  // The two extra characters take "%0" and the terminator stays.
  LPSTR text = nullptr;
  ASSERT_EQ(LoadStringAlloc(113, &text, 2), 16);
  memcpy(text + 16, "%0", 2);
  EXPECT_STREQ(text, "%1() failed - %2%0");
  FreeAndClear(&text);
}

TEST(LoadStringAllocTest, ReplacesThePassedStringAndClearsItOnFailure) {
  LPSTR text = nullptr;
  ASSERT_EQ(LoadStringAlloc(101, &text, 0), 7);
  EXPECT_STREQ(text, "Kestrin");
  ASSERT_EQ(LoadStringAlloc(141, &text, 0), 19);  // the first one is freed
  EXPECT_STREQ(text, "Pipe write skipped!");
  EXPECT_EQ(LoadStringAlloc(999, &text, 2), 0);
  EXPECT_EQ(text, nullptr);
  FreeAndClear(&text);  // null: nothing to free
  EXPECT_EQ(text, nullptr);
}

TEST_F(ReportingTest, SddlFallsBackToTheSecondText) {
  const char* const kGood = "D:(A;;GA;;;SY)(A;;GA;;;BA)";
  const char* const kBad = "D:(A;;GA;;;not a sid)";
  const struct {
    const char* first;
    const char* second;
    bool converts;
    bool reported;  // only the second text's failure is reported
  } cases[] = {
      {kGood, kBad, true, false},
      {kBad, kGood, true, false},
      {kBad, kBad, false, true},
  };
  for (const auto& c : cases) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    int converted = SddlToSecurityDescriptor(c.first, c.second, &descriptor);
    EXPECT_EQ(converted != 0, c.converts);
    if (converted) {
      ASSERT_NE(descriptor, nullptr);
      EXPECT_TRUE(IsValidSecurityDescriptor(descriptor));
      EXPECT_EQ(LocalFree(descriptor), nullptr);
    }
    std::vector<std::string> lines = OwnLines();
    if (c.reported) {
      ASSERT_EQ(lines.size(), 1u);
      EXPECT_EQ(lines[0].rfind("[KestrinUtl] 5() failed - ", 0), 0u) << lines[0];
    } else {
      EXPECT_THAT(lines, IsEmpty());
    }
  }
}

// ---- two threads ----

// The control handler's message and a report on the service thread may
// coincide: each keeps its own system text, every line comes out whole.
TEST_F(ReportingTest, TwoThreadsReportingAtOnceKeepEveryLineIntact) {
  constexpr int kRounds = 500;
  std::atomic<int> ready{0};
  auto startTogether = [&] {
    ready.fetch_add(1);
    while (ready.load() < 2) {
    }
  };
  std::thread service([&] {
    startTogether();
    for (int i = 0; i < kRounds; ++i) {
      CloseHandleChecked(kBogusHandle);
      // A system text passed on as an insert stays in the buffer while the
      // line is formatted.
      DebugPrintMessage(113, "WriteFile", FormatSystemError(ERROR_NO_DATA));
    }
  });
  std::thread control([&] {
    startTogether();
    for (int i = 0; i < kRounds; ++i) {
      DebugPrintMessage(115, static_cast<long>(i));
      ReportCallFailure(CallReadFile, ERROR_BROKEN_PIPE);
    }
  });
  service.join();
  control.join();
  const std::string closeLine = FailureLine("KestrinUtl", 4, ERROR_INVALID_HANDLE);
  const std::string readLine = FailureLine("KestrinUtl", 29, ERROR_BROKEN_PIPE);
  const std::string writeLine = "[KestrinUtl] WriteFile() failed - " + SystemText(ERROR_NO_DATA) + "\n";
  std::map<std::string, int> seen;
  for (const std::string& line : OwnLines()) ++seen[line];
  EXPECT_EQ(seen[closeLine], kRounds);
  EXPECT_EQ(seen[readLine], kRounds);
  EXPECT_EQ(seen[writeLine], kRounds);
  for (int i = 0; i < kRounds; ++i)
    EXPECT_EQ((seen["[KestrinUtl] Unrecognized opcode " + std::to_string(i) + "\n"]), 1) << i;
  EXPECT_EQ(seen.size(), static_cast<size_t>(3 + kRounds)) << "garbled or foreign lines";
}

// The same without the debugger output in between, so that the two threads
// really format at the same moment, many times.
TEST(ConcurrentFormattingTest, EachThreadKeepsItsOwnSystemText) {
  constexpr int kRounds = 20000;
  const std::string expected =
      "[KestrinUtl] WriteFile() failed - " + SystemText(ERROR_NO_DATA) + "\n";
  std::atomic<int> ready{0};
  std::atomic<int> wrong{0};
  auto startTogether = [&] {
    ready.fetch_add(1);
    while (ready.load() < 2) {
    }
  };
  std::thread service([&] {
    startTogether();
    for (int i = 0; i < kRounds; ++i) {
      const DWORD_PTR inserts[] = {reinterpret_cast<DWORD_PTR>("WriteFile"),
                                   reinterpret_cast<DWORD_PTR>(FormatSystemError(ERROR_NO_DATA)),
                                   0};
      LPSTR line = FormatDebugLine(113, inserts);
      if (!line || expected != line) wrong.fetch_add(1);
      if (line) LocalFree(line);
    }
  });
  std::thread control([&] {
    startTogether();
    for (int i = 0; i < kRounds; ++i) {
      FormatSystemError(ERROR_BROKEN_PIPE);
      const DWORD_PTR inserts[] = {static_cast<DWORD_PTR>(i), 0};
      LPSTR line = FormatDebugLine(115, inserts);  // frees this thread's system text
      if (!line || "[KestrinUtl] Unrecognized opcode " + std::to_string(i) + "\n" != line)
        wrong.fetch_add(1);
      if (line) LocalFree(line);
    }
  });
  service.join();
  control.join();
  EXPECT_EQ(wrong.load(), 0);
}

// ---- a formatter that keeps failing ----

using FormatMessageFn = DWORD(WINAPI*)(DWORD, LPCVOID, DWORD, DWORD, LPSTR, DWORD, va_list*);
// The program's import slot of FormatMessageA: every call in this program,
// the reporting module's included, goes through it.
// Its symbol carries the stdcall decoration on x86 only.
#ifdef _WIN64
extern "C" FormatMessageFn g_FormatMessageImport __asm__("__imp_FormatMessageA");
#else
extern "C" FormatMessageFn g_FormatMessageImport __asm__("__imp__FormatMessageA@28");
#endif

// Replaces FormatMessageA for one scope: it fails for system texts, or for
// everything, and counts the calls.
class FailingFormatMessage {
 public:
  explicit FailingFormatMessage(bool everything) {
    s_Everything = everything;
    s_Calls = 0;
    s_Real = g_FormatMessageImport;
    Install(&Fake);
  }
  ~FailingFormatMessage() { Install(s_Real); }
  static int Calls() { return s_Calls; }

 private:
  static void Install(FormatMessageFn fn) {
    DWORD old;
    // The import table may be mapped read-only.
    if (!VirtualProtect(&g_FormatMessageImport, sizeof fn, PAGE_READWRITE, &old)) abort();
    g_FormatMessageImport = fn;
    VirtualProtect(&g_FormatMessageImport, sizeof fn, old, &old);  // back as it was
  }
  static DWORD WINAPI Fake(DWORD flags, LPCVOID source, DWORD id, DWORD language, LPSTR buffer,
                           DWORD size, va_list* arguments) {
    ++s_Calls;
    if (s_Everything || (flags & FORMAT_MESSAGE_FROM_SYSTEM)) {
      SetLastError(ERROR_MR_MID_NOT_FOUND);
      return 0;
    }
    return s_Real(flags, source, id, language, buffer, size, arguments);
  }
  static inline bool s_Everything;
  static inline int s_Calls;
  static inline FormatMessageFn s_Real;
};

TEST_F(ReportingTest, PersistentFormattingFailureIsReportedOnceNested) {
  const struct {
    bool everything;
    std::vector<std::string> lines;
  } cases[] = {
      // No system text at all: the failed lookup is reported once, then the line.
      {false,
       {"[KestrinUtl] 14() failed - FormatMessage() failed!\n",
        "[KestrinUtl] 4() failed - FormatMessage() failed!\n"}},
      // Nothing formats: no line can be made, and the report still ends.
      {true, {}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> lines;
    int calls;
    {
      FailingFormatMessage failing(c.everything);
      SetLastError(0xdeadbeef);
      EXPECT_EQ(CloseHandleChecked(kBogusHandle), 0);
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
      calls = FailingFormatMessage::Calls();
    }
    lines = OwnLines();
    EXPECT_EQ(lines, c.lines) << "everything fails: " << c.everything;
    EXPECT_GT(calls, 0);
    EXPECT_LT(calls, 40) << "re-entry is not bounded";
  }
  // Afterwards reports work as before.
  CloseHandleChecked(kBogusHandle);
  EXPECT_THAT(OwnLines(), ElementsAre(FailureLine("KestrinUtl", 4, ERROR_INVALID_HANDLE)));
}

}  // namespace
