// KestrinSvc.exe run for real: its command line, and the service it installs
// under the prefix's service control manager.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "debug_lines.h"
#include "pipe_protocol.h"
#include "pump.h"
#include "service_fixture.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const std::string kProgram = WinePath(KESTRIN_SVC_EXE);
const char kProgress[] =
    "Open SC Manager\nGet Handle\nCreating Service\nReconfiguring\nStarting\n";
constexpr DWORD kExitFailure = static_cast<DWORD>(-1);

bool ProcessEnds(DWORD pid, DWORD timeoutMs) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
  if (!process) return true;  // gone already
  bool ended = WaitForSingleObject(process, timeoutMs) == WAIT_OBJECT_0;
  CloseHandle(process);
  return ended;
}

// ---- command line ----

struct CommandCase {
  const char* name;
  const char* arguments;
  DWORD exitCode;
  const char* output;  // stdout and stderr, byte for byte
  bool runs;           // the service is installed and running afterwards
  const char* report;  // the one debug line's beginning, or null for none
};
// Test names show the case, not its bytes.
void PrintTo(const CommandCase& c, std::ostream* out) { *out << c.name; }

class CommandLineTest : public ::testing::TestWithParam<CommandCase> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(RemoveKestrinService());
    ASSERT_TRUE(monitor_.Start());
  }
  void TearDown() override {
    EXPECT_TRUE(RemoveKestrinService());
    monitor_.Stop();
  }
  DebugMonitor monitor_;
};

TEST_P(CommandLineTest, ExitCodeOutputAndService) {
  const CommandCase& c = GetParam();
  RunResult run = RunProgram("\"" + kProgram + "\" " + c.arguments, 30000);
  ASSERT_TRUE(run.started);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, c.exitCode);
  EXPECT_EQ(run.output, c.output);
  std::vector<std::string> lines = DebugLinesOf(monitor_, run.pid);
  if (c.report) {
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(StartsWith(lines[0], c.report)) << lines[0];
  } else {
    EXPECT_THAT(lines, IsEmpty());
  }
  if (c.runs)
    EXPECT_TRUE(WaitForServiceState(SERVICE_RUNNING, 20000));
  else
    EXPECT_FALSE(QueryKestrinService().installed);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandLineTest,
    ::testing::Values(
        CommandCase{"Install", "-i", 0, "", true, nullptr},
        CommandCase{"InstallUpperCase", "-I", 0, "", true, nullptr},
        CommandCase{"InstallVerbose", "-i -v", 0, kProgress, true, nullptr},
        CommandCase{"InstallVerboseUpperCase", "-i -V", 0, kProgress, true, nullptr},
        CommandCase{"VerboseFirstDoesNothing", "-v -i", kExitFailure, "", false, nullptr},
        CommandCase{"UninstallNothingInstalled", "-u", kExitFailure, "", false, nullptr},
        CommandCase{"UnknownSwitch", "-x", kExitFailure, "", false, nullptr},
        CommandCase{"LongerWordIsNoInstall", "-inst", kExitFailure, "", false, nullptr},
        CommandCase{"LongerWordIsNoUninstall", "-uninstall", kExitFailure, "", false, nullptr},
        // Not started by the manager: the dispatcher fails (1063), reported once.
        CommandCase{"NoArgumentFromAConsole", "", 0, "", false,
                    "[KestrinSvc] 46() failed - "}),
    [](const ::testing::TestParamInfo<CommandCase>& info) { return std::string(info.param.name); });

// ---- resources ----

#pragma pack(push, 2)
struct IconDirectoryEntry {
  BYTE width, height, colours, reserved;
  WORD planes, bitCount;
  DWORD bytes;
  WORD id;
};
struct IconDirectory {
  WORD reserved, type, count;
  IconDirectoryEntry entries[1];
};
#pragma pack(pop)

std::string ResourceText(HMODULE module, LPCSTR type, LPCSTR name) {
  HRSRC found = FindResourceA(module, name, type);
  if (!found) return std::string();
  const char* data = static_cast<const char*>(LockResource(LoadResource(module, found)));
  return data ? std::string(data, SizeofResource(module, found)) : std::string();
}

TEST(ServiceResourcesTest, IconsManifestVersionAndTexts) {
  HMODULE module = LoadLibraryExA(kProgram.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_TRUE(module) << GetLastError();

  // One icon group with the 16, 32 and 48 pixel images.
  std::string group = ResourceText(module, MAKEINTRESOURCEA(14), MAKEINTRESOURCEA(1));
  ASSERT_GE(group.size(), sizeof(IconDirectory));
  const IconDirectory* icons = reinterpret_cast<const IconDirectory*>(group.data());
  std::vector<int> sizes;
  for (WORD i = 0; i < icons->count; ++i) sizes.push_back(icons->entries[i].width);
  std::sort(sizes.begin(), sizes.end());
  EXPECT_THAT(sizes, ElementsAre(16, 32, 48));

  std::string manifest = ResourceText(module, MAKEINTRESOURCEA(24), MAKEINTRESOURCEA(1));
  EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos) << manifest;
  EXPECT_NE(manifest.find("uiAccess=\"false\""), std::string::npos) << manifest;

  EXPECT_FALSE(ResourceText(module, MAKEINTRESOURCEA(16), MAKEINTRESOURCEA(1)).empty());

  // The texts the service and its installer load from their own table.
  const struct {
    UINT id;
    const char* text;
  } strings[] = {
      {101, "Kestrin"},
      {102, "Error processing Kestrin attachment"},
      {103, "Bad wait return value: %1!ld!"},
      {111, "Unmatched scroll hat device - %1"},
      {112, "Error calling ConnectNamedPipe()"},
      {113, "%1() failed - %2"},
      {115, "Unrecognized opcode %1!ld!"},
      {141, "Pipe write skipped!"},
      {153, "The Kestrin service has been marked for deletion. Reboot then reinstall the Kestrin "
            "service."},
  };
  for (const auto& s : strings) {
    char text[1024] = "";
    LoadStringA(module, s.id, text, sizeof text);
    EXPECT_STREQ(text, s.text) << "string " << s.id;
  }
  FreeLibrary(module);
}

// ---- the installed service ----

class KestrinServiceTest : public ServiceFixture {
 protected:
  KestrinServiceTest() : ServiceFixture(KESTRIN_SVC_EXE) {}
};

TEST_F(KestrinServiceTest, InstalledAsAutoStartOwnProcessOfThisProgram) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  ASSERT_TRUE(manager);
  SC_HANDLE service = OpenServiceA(manager, "Kestrin", SERVICE_QUERY_CONFIG);
  ASSERT_TRUE(service);
  union {
    QUERY_SERVICE_CONFIGA config;
    BYTE bytes[8192];
  } config;
  union {
    SERVICE_DESCRIPTIONA description;
    BYTE bytes[4096];
  } description;
  DWORD needed = 0;
  EXPECT_TRUE(QueryServiceConfigA(service, &config.config, sizeof config, &needed));
  EXPECT_TRUE(QueryServiceConfig2A(service, SERVICE_CONFIG_DESCRIPTION, description.bytes,
                                   sizeof description, &needed));
  CloseServiceHandle(service);
  CloseServiceHandle(manager);

  EXPECT_EQ(config.config.dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
  EXPECT_EQ(config.config.dwStartType, static_cast<DWORD>(SERVICE_AUTO_START));
  EXPECT_EQ(config.config.dwErrorControl, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
  EXPECT_EQ(lstrcmpiA(config.config.lpBinaryPathName, program_.c_str()), 0)
      << config.config.lpBinaryPathName;
  EXPECT_STREQ(config.config.lpDisplayName, "Kestrin");
  // The registered mark survives the string table as the ANSI character.
  EXPECT_STREQ(description.description.lpDescription,
               "Manages Kestrin\xAE spatial controllers (3D mice) and Kestrin client programs"
               " - see https://www.pellmor-vastine.example/kestrin");

  ServiceQuery query = QueryKestrinService();
  EXPECT_EQ(query.status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(query.status.dwControlsAccepted,
            static_cast<DWORD>(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PARAMCHANGE));
  EXPECT_NE(query.status.dwProcessId, GetCurrentProcessId());
  EXPECT_NE(query.status.dwProcessId, install_.pid);  // its own process
  EXPECT_THAT(DebugLinesOf(monitor_, servicePid_), IsEmpty());
}

struct ControlCase {
  const char* name;
  DWORD control;
  DWORD error;         // from ControlService: 0 when the manager passed it on
  const char* report;  // the service's one debug line, or null for none
};
// Test names show the case, not its bytes.
void PrintTo(const ControlCase& c, std::ostream* out) { *out << c.name; }

class ServiceControlTest : public KestrinServiceTest,
                           public ::testing::WithParamInterface<ControlCase> {};

TEST_P(ServiceControlTest, LeavesTheServiceRunning) {
  const ControlCase& c = GetParam();
  SERVICE_STATUS status = {};
  EXPECT_EQ(SendServiceControl(c.control, &status), c.error);
  if (c.error == 0) {
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
  }
  std::vector<std::string> lines = DebugLinesOf(monitor_, servicePid_);
  if (c.report)
    EXPECT_THAT(lines, ElementsAre(c.report));
  else
    EXPECT_THAT(lines, IsEmpty());
  ServiceQuery query = QueryKestrinService();
  EXPECT_EQ(query.status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(query.status.dwProcessId, servicePid_);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ServiceControlTest,
    ::testing::Values(
        ControlCase{"Interrogate", SERVICE_CONTROL_INTERROGATE, 0, nullptr},
        ControlCase{"ParamChange", SERVICE_CONTROL_PARAMCHANGE, 0,
                    "[KestrinSvc] Unrecognized opcode 6"},
        ControlCase{"FirstUserCode", 128, 0, "[KestrinSvc] Unrecognized opcode 128"},
        ControlCase{"UserCode", 200, 0, "[KestrinSvc] Unrecognized opcode 200"},
        ControlCase{"LastUserCode", 255, 0, "[KestrinSvc] Unrecognized opcode 255"},
        // The service does not accept pause and continue: the manager refuses
        // both and the handler never sees them (Windows does the same).
        ControlCase{"PauseRefusedByTheManager", SERVICE_CONTROL_PAUSE,
                    ERROR_INVALID_SERVICE_CONTROL, nullptr},
        ControlCase{"ContinueRefusedByTheManager", SERVICE_CONTROL_CONTINUE,
                    ERROR_INVALID_SERVICE_CONTROL, nullptr}),
    [](const ::testing::TestParamInfo<ControlCase>& info) { return std::string(info.param.name); });

TEST_F(KestrinServiceTest, StopEndsTheServiceWithExitCodeZero) {
  EXPECT_EQ(SendServiceControl(SERVICE_CONTROL_STOP), 0u);
  ASSERT_TRUE(WaitForServiceState(SERVICE_STOPPED, 10000));
  ServiceQuery query = QueryKestrinService();
  EXPECT_EQ(query.status.dwWin32ExitCode, 0u);
  EXPECT_TRUE(ProcessEnds(servicePid_, 10000));
  EXPECT_THAT(DebugLinesOf(monitor_, servicePid_), IsEmpty());
}

TEST_F(KestrinServiceTest, UninstallStopsAndDeletesTheRunningService) {
  RunResult run = Run("-u");
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.output, "");
  EXPECT_TRUE(WaitForServiceGone(10000));
  EXPECT_TRUE(ProcessEnds(servicePid_, 10000));
  EXPECT_THAT(DebugLinesOf(monitor_, run.pid), IsEmpty());
  EXPECT_THAT(DebugLinesOf(monitor_, servicePid_), IsEmpty());
}

// "-i" over the running service. Under Wine the manager forgets a deleted
// service at once, so the install creates it anew and starts a new process;
// Windows keeps it, marked for deletion, until its process has gone, and the
// install then shows the marked-for-deletion box instead (the install test
// covers that path).
TEST_F(KestrinServiceTest, InstallOverTheRunningServiceStartsItAgain) {
  RunResult run = Run("-i -v");
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.output, kProgress);
  EXPECT_TRUE(ProcessEnds(servicePid_, 10000));
  ASSERT_TRUE(WaitForServiceState(SERVICE_RUNNING, 20000));
  EXPECT_NE(QueryKestrinService().status.dwProcessId, servicePid_);
}

// The start-up broadcast reaches top-level windows of other programs (hidden
// ones too): the agent reopens its pipe on it, so by then the service runs and
// its pipe has an instance to connect to.
UINT g_SvcElf;
int g_Broadcasts;
WPARAM g_WParam;
LPARAM g_LParam;
bool g_PipeThere;
DWORD g_StateThen;
LRESULT CALLBACK ListenerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (g_SvcElf && message == g_SvcElf) {
    ++g_Broadcasts;
    g_WParam = wParam;
    g_LParam = lParam;
    g_PipeThere = WaitNamedPipeA(kPipeName, 1) != 0;
    g_StateThen = QueryKestrinService().status.dwCurrentState;
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

TEST_F(KestrinServiceTest, StartBroadcastsKestrinSvcElf) {
  g_SvcElf = RegisterWindowMessageA(kServiceMessageName);
  ASSERT_NE(g_SvcElf, 0u);
  g_Broadcasts = 0;
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = ListenerProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "KestrinSvcElfListener";
  RegisterClassA(&windowClass);  // registered already by an earlier case is fine
  HWND window = CreateWindowExA(0, "KestrinSvcElfListener", "", WS_OVERLAPPED, 0, 0, 10, 10,
                                nullptr, nullptr, windowClass.hInstance, nullptr);
  ASSERT_TRUE(window) << "CreateWindowExA failed: " << GetLastError();

  // A second start, now that the window listens.
  EXPECT_EQ(SendServiceControl(SERVICE_CONTROL_STOP), 0u);
  ASSERT_TRUE(WaitForServiceState(SERVICE_STOPPED, 10000));
  EXPECT_TRUE(ProcessEnds(servicePid_, 10000));
  {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceA(manager, "Kestrin", SERVICE_START);
    EXPECT_TRUE(StartServiceA(service, 0, nullptr));
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
  }
  PumpUntil([] { return g_Broadcasts != 0; }, 10000);
  DestroyWindow(window);
  EXPECT_EQ(g_Broadcasts, 1);
  EXPECT_EQ(g_WParam, 1u);
  EXPECT_EQ(g_LParam, 0);
  EXPECT_TRUE(g_PipeThere);
  EXPECT_EQ(g_StateThen, static_cast<DWORD>(SERVICE_RUNNING));
}

}  // namespace
