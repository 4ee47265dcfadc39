// The control handler called in this process, as the dispatcher thread calls
// it: what each control does to the status record, the stop flag and the wake
// event, and which debug lines it writes. The manager never passes PAUSE and
// CONTINUE to this service (it does not accept them), so only here can they
// reach the handler. Without a registered status handle each status report
// fails and is reported (call id 43): one line per report.
#include <windows.h>
#include <dbt.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "dbwin_monitor.h"
#include "debug_lines.h"
#include "reporting.h"
#include "service_private.h"

namespace {

constexpr DWORD kNoChange = 0;

struct HandlerCase {
  const char* name;
  DWORD control;
  DWORD stateAfter;    // kNoChange: the state it had
  bool stops;          // stop flag set and wake event signalled
  const char* report;  // the handler's own debug line, or null
};
// Test names show the case, not its bytes.
void PrintTo(const HandlerCase& c, std::ostream* out) { *out << c.name; }

class ControlHandlerTest : public ::testing::TestWithParam<HandlerCase> {
 protected:
  void SetUp() override {
    SetProgramName("KestrinSvc");
    StatusHandle = nullptr;
    StopFlag = 0;
    WakeEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(WakeEvent);
    ServiceStatus = {};
    ServiceStatus.dwServiceType = SERVICE_WIN32;
    ServiceStatus.dwCurrentState = SERVICE_START_PENDING;
    ServiceStatus.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PARAMCHANGE;
    ServiceStatus.dwWin32ExitCode = ERROR_INVALID_DATA;  // to see it cleared
    ASSERT_TRUE(monitor_.Start());
  }
  void TearDown() override {
    monitor_.Stop();
    CloseHandle(WakeEvent);
    WakeEvent = nullptr;
    StopFlag = 0;
  }
  DebugMonitor monitor_;
};

TEST_P(ControlHandlerTest, StateFlagEventAndLines) {
  const HandlerCase& c = GetParam();
  EXPECT_EQ(ServiceControlHandler(c.control, 0, nullptr, nullptr), static_cast<DWORD>(NO_ERROR));

  EXPECT_EQ(ServiceStatus.dwCurrentState,
            c.stateAfter == kNoChange ? static_cast<DWORD>(SERVICE_START_PENDING) : c.stateAfter);
  EXPECT_EQ(StopFlag, c.stops ? 1u : 0u);
  EXPECT_EQ(WaitForSingleObject(WakeEvent, 0), c.stops ? WAIT_OBJECT_0 : WAIT_TIMEOUT);
  if (c.stops) {
    EXPECT_EQ(ServiceStatus.dwWin32ExitCode, 0u);
  }
  EXPECT_EQ(ServiceStatus.dwControlsAccepted,
            static_cast<DWORD>(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PARAMCHANGE));

  std::vector<std::string> lines = DebugLinesOf(monitor_, GetCurrentProcessId());
  size_t next = 0;
  if (c.report) {
    ASSERT_GE(lines.size(), 1u);
    EXPECT_EQ(lines[next++], c.report);
  }
  // Every control reports the status record, once.
  ASSERT_EQ(lines.size(), next + 1) << (lines.empty() ? "" : lines.back());
  EXPECT_TRUE(StartsWith(lines[next], "[KestrinSvc] 43() failed - ")) << lines[next];
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ControlHandlerTest,
    ::testing::Values(
        HandlerCase{"Stop", SERVICE_CONTROL_STOP, SERVICE_STOP_PENDING, true, nullptr},
        HandlerCase{"Continue", SERVICE_CONTROL_CONTINUE, SERVICE_RUNNING, false, nullptr},
        HandlerCase{"Interrogate", SERVICE_CONTROL_INTERROGATE, kNoChange, false, nullptr},
        // Not an interface arrival (no data): nothing is queued.
        HandlerCase{"DeviceEventWithoutData", SERVICE_CONTROL_DEVICEEVENT, kNoChange, false,
                    nullptr},
        HandlerCase{"Pause", SERVICE_CONTROL_PAUSE, kNoChange, false,
                    "[KestrinSvc] Unrecognized opcode 2"},
        HandlerCase{"ParamChange", SERVICE_CONTROL_PARAMCHANGE, kNoChange, false,
                    "[KestrinSvc] Unrecognized opcode 6"},
        HandlerCase{"UserCode", 200, kNoChange, false, "[KestrinSvc] Unrecognized opcode 200"}),
    [](const ::testing::TestParamInfo<HandlerCase>& info) { return std::string(info.param.name); });

}  // namespace
