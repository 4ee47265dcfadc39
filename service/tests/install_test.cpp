// Install and uninstall against a stand-in for the service control manager,
// which reaches the paths the manager of Wine never takes: under Wine,
// LockServiceDatabase always succeeds, and ChangeServiceConfig2A on a service
// marked for deletion succeeds instead of failing with
// ERROR_SERVICE_MARKED_FOR_DELETE. The lifecycle test runs the real manager.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "dbwin_monitor.h"
#include "debug_lines.h"
#include "reporting.h"
#include "scm_calls.h"
#include "service_private.h"

namespace {

using ::testing::ElementsAreArray;

SC_HANDLE const kManager = reinterpret_cast<SC_HANDLE>(0x1000);
SC_HANDLE const kService = reinterpret_cast<SC_HANDLE>(0x2000);
SC_LOCK const kLock = reinterpret_cast<SC_LOCK>(0x3000);

// The calls made, in order, and the error each failing call gives.
std::vector<std::string> g_Calls;
std::map<std::string, DWORD> g_Failures;

template <typename T>
T Result(const char* call, T success, T failure) {
  auto failing = g_Failures.find(call);
  if (failing == g_Failures.end()) return success;
  SetLastError(failing->second);
  return failure;
}

std::string Hex(DWORD value) {
  char text[16];
  wsprintfA(text, "0x%lX", value);
  return text;
}

SC_HANDLE WINAPI FakeOpenManager(LPCSTR machine, LPCSTR database, DWORD access) {
  g_Calls.push_back("OpenSCManager " + std::string(machine ? machine : "-") + " " +
                    (database ? database : "-") + " " + Hex(access));
  return Result<SC_HANDLE>("OpenSCManager", kManager, nullptr);
}
SC_HANDLE WINAPI FakeOpenService(SC_HANDLE manager, LPCSTR name, DWORD access) {
  g_Calls.push_back(std::string("OpenService ") + (manager == kManager ? "" : "(bad) ") + name +
                    " " + Hex(access));
  return Result<SC_HANDLE>("OpenService", kService, nullptr);
}
SC_HANDLE WINAPI FakeCreateService(SC_HANDLE, LPCSTR name, LPCSTR display, DWORD access,
                                   DWORD type, DWORD start, DWORD errorControl, LPCSTR path,
                                   LPCSTR group, LPDWORD tag, LPCSTR dependencies,
                                   LPCSTR account, LPCSTR password) {
  g_Calls.push_back("CreateService " + std::string(name) + " \"" + display + "\" " +
                    Hex(access) + " " + Hex(type) + " " + Hex(start) + " " +
                    Hex(errorControl) + " " + path +
                    (group || tag || dependencies || account || password ? " (extras)" : ""));
  return Result<SC_HANDLE>("CreateService", kService, nullptr);
}
SC_LOCK WINAPI FakeLock(SC_HANDLE) {
  g_Calls.push_back("LockServiceDatabase");
  return Result<SC_LOCK>("LockServiceDatabase", kLock, nullptr);
}
BOOL WINAPI FakeUnlock(SC_LOCK lock) {
  g_Calls.push_back(lock == kLock ? "UnlockServiceDatabase" : "UnlockServiceDatabase (bad)");
  return TRUE;
}
BOOL WINAPI FakeChangeConfig2(SC_HANDLE, DWORD level, LPVOID info) {
  const char* text = static_cast<SERVICE_DESCRIPTIONA*>(info)->lpDescription;
  g_Calls.push_back("ChangeServiceConfig2 " + std::to_string(level) + " " + text);
  return Result<BOOL>("ChangeServiceConfig2", TRUE, FALSE);
}
BOOL WINAPI FakeStart(SC_HANDLE, DWORD argc, LPCSTR*) {
  g_Calls.push_back("StartService " + std::to_string(argc));
  return Result<BOOL>("StartService", TRUE, FALSE);
}
BOOL WINAPI FakeControl(SC_HANDLE, DWORD control, LPSERVICE_STATUS) {
  g_Calls.push_back("ControlService " + std::to_string(control));
  return Result<BOOL>("ControlService", TRUE, FALSE);
}
BOOL WINAPI FakeDelete(SC_HANDLE) {
  g_Calls.push_back("DeleteService");
  return Result<BOOL>("DeleteService", TRUE, FALSE);
}
BOOL WINAPI FakeClose(SC_HANDLE handle) {
  g_Calls.push_back(handle == kManager ? "Close manager"
                    : handle == kService ? "Close service"
                                         : "Close (bad)");
  return TRUE;
}
int WINAPI FakeMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  g_Calls.push_back("MessageBox " + std::string(owner ? "(owner) " : "") + "\"" + text +
                    "\" \"" + caption + "\" " + std::to_string(type));
  return IDOK;
}

const ScmCallTable kFakeScm = {
    FakeOpenManager, FakeOpenService, FakeCreateService, FakeLock,  FakeUnlock,    FakeChangeConfig2,
    FakeStart,       FakeControl,     FakeDelete,        FakeClose, FakeMessageBox,
};

const std::string kDescription =
    "Manages Kestrin\xAE spatial controllers (3D mice) and Kestrin client programs - see "
    "https://www.pellmor-vastine.example/kestrin";
const std::string kMarkedText =
    "The Kestrin service has been marked for deletion. Reboot then reinstall the Kestrin "
    "service.";

struct ScmCase {
  const char* name;
  std::map<std::string, DWORD> failures;
  int result;
  std::vector<std::string> calls;
  const char* reportPrefix;  // the one debug line expected, or null for none
  const char* progress;      // standard output with the verbose switch
};
// Test names show the case, not its bytes.
void PrintTo(const ScmCase& c, std::ostream* out) { *out << c.name; }

class ScmTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProgramName("KestrinSvc");
    ScmCalls = &kFakeScm;
    g_Calls.clear();
    g_Failures.clear();
    ASSERT_TRUE(LoadStringAlloc(101, &DisplayName, 0));
    ModulePath = const_cast<char*>("C:\\Kestrin\\KestrinSvc.exe");
    ASSERT_TRUE(monitor_.Start());
  }
  void TearDown() override {
    monitor_.Stop();
    ScmCalls = &SystemScmCalls;
    FreeAndClear(&DisplayName);
    ModulePath = nullptr;
  }
  void Check(const ScmCase& c, int result) {
    EXPECT_EQ(result, c.result);
    EXPECT_THAT(g_Calls, ElementsAreArray(c.calls));
    std::vector<std::string> lines = DebugLinesOf(monitor_, GetCurrentProcessId());
    if (!c.reportPrefix) {
      EXPECT_THAT(lines, ElementsAreArray(std::vector<std::string>()));
    } else {
      ASSERT_EQ(lines.size(), 1u);
      EXPECT_TRUE(StartsWith(lines[0], c.reportPrefix)) << lines[0];
    }
  }
  DebugMonitor monitor_;
};

// Runs call with the verbose switch and standard output (descriptor 1) in a
// file; returns what was written there.
template <typename Call>
std::string CaptureProgress(Call call, int* result) {
  char folder[MAX_PATH], path[MAX_PATH];
  GetTempPathA(MAX_PATH, folder);
  GetTempFileNameA(folder, "kes", 0, path);
  int file = _open(path, _O_RDWR | _O_BINARY | _O_TRUNC);
  int saved = _dup(1);
  fflush(stdout);
  _dup2(file, 1);
  VerboseFlag = 1;
  *result = call();
  VerboseFlag = 0;
  _dup2(saved, 1);
  _close(saved);
  std::string text;
  char buffer[512];
  _lseek(file, 0, SEEK_SET);
  for (int n; (n = _read(file, buffer, sizeof buffer)) > 0;) text.append(buffer, n);
  _close(file);
  DeleteFileA(path);
  return text;
}

const char kOpenManager[] = "OpenSCManager - - 0xF003F";
const char kOpenForInstall[] = "OpenService Kestrin 0xF01FF";
const char kCreate[] =
    "CreateService Kestrin \"Kestrin\" 0xF01FF 0x10 0x2 0x1 C:\\Kestrin\\KestrinSvc.exe";
const std::string kDescribe = "ChangeServiceConfig2 1 " + kDescription;

const char kProgressNew[] =
    "Open SC Manager\nGet Handle\nCreating Service\nReconfiguring\nStarting\n";
const char kProgressExisting[] = "Open SC Manager\nGet Handle\nReconfiguring\nStarting\n";

class InstallTest : public ScmTest, public ::testing::WithParamInterface<ScmCase> {};

TEST_P(InstallTest, CallsAndResult) {
  const ScmCase& c = GetParam();
  g_Failures = c.failures;
  Check(c, InstallService());
}

TEST_P(InstallTest, ProgressLinesWithTheVerboseSwitch) {
  const ScmCase& c = GetParam();
  g_Failures = c.failures;
  int result = -1;
  EXPECT_EQ(CaptureProgress(InstallService, &result), c.progress);
  EXPECT_EQ(result, c.result);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InstallTest,
    ::testing::Values(
        ScmCase{"NewService",
                {{"OpenService", ERROR_SERVICE_DOES_NOT_EXIST}},
                1,
                {kOpenManager, kOpenForInstall, kCreate, "LockServiceDatabase", kDescribe,
                 "UnlockServiceDatabase", "StartService 0", "Close service", "Close manager"},
                nullptr, kProgressNew},
        ScmCase{"ExistingService",
                {},
                1,
                {kOpenManager, kOpenForInstall, "LockServiceDatabase", kDescribe,
                 "UnlockServiceDatabase", "StartService 0", "Close service", "Close manager"},
                nullptr, kProgressExisting},
        ScmCase{"NoManager",
                {{"OpenSCManager", ERROR_ACCESS_DENIED}},
                0,
                {kOpenManager},
                "[KestrinSvc] 26() failed - ", "Open SC Manager\n"},
        ScmCase{"OpenServiceDenied",
                {{"OpenService", ERROR_ACCESS_DENIED}},
                0,
                {kOpenManager, kOpenForInstall, "Close manager"},
                "[KestrinSvc] 27() failed - ", "Open SC Manager\nGet Handle\n"},
        ScmCase{"CreateFails",
                {{"OpenService", ERROR_SERVICE_DOES_NOT_EXIST},
                 {"CreateService", ERROR_SERVICE_MARKED_FOR_DELETE}},
                0,
                {kOpenManager, kOpenForInstall, kCreate, "Close manager"},
                "[KestrinSvc] 11() failed - ", "Open SC Manager\nGet Handle\nCreating Service\n"},
        // Never under Wine: its lock always succeeds. Started, without a description.
        ScmCase{"DatabaseLocked",
                {{"LockServiceDatabase", ERROR_SERVICE_DATABASE_LOCKED}},
                1,
                {kOpenManager, kOpenForInstall, "LockServiceDatabase", "StartService 0",
                 "Close service", "Close manager"},
                "[KestrinSvc] 23() failed - ", kProgressExisting},
        // Never under Wine: it takes the description. The box, nothing started.
        ScmCase{"MarkedForDeletion",
                {{"ChangeServiceConfig2", ERROR_SERVICE_MARKED_FOR_DELETE}},
                0,
                {kOpenManager, kOpenForInstall, "LockServiceDatabase", kDescribe,
                 "MessageBox \"" + kMarkedText + "\" \"Kestrin\" 0", "UnlockServiceDatabase",
                 "Close service", "Close manager"},
                nullptr, "Open SC Manager\nGet Handle\nReconfiguring\n"},
        ScmCase{"DescriptionRefused",
                {{"ChangeServiceConfig2", ERROR_ACCESS_DENIED}},
                1,
                {kOpenManager, kOpenForInstall, "LockServiceDatabase", kDescribe,
                 "UnlockServiceDatabase", "StartService 0", "Close service", "Close manager"},
                "[KestrinSvc] 3() failed - ", kProgressExisting},
        ScmCase{"StartFails",
                {{"StartService", ERROR_SERVICE_ALREADY_RUNNING}},
                0,
                {kOpenManager, kOpenForInstall, "LockServiceDatabase", kDescribe,
                 "UnlockServiceDatabase", "StartService 0", "Close service", "Close manager"},
                "[KestrinSvc] 45() failed - ", kProgressExisting}),
    [](const ::testing::TestParamInfo<ScmCase>& info) { return std::string(info.param.name); });

const char kOpenForRemoval[] = "OpenService Kestrin 0x10020";

class UninstallTest : public ScmTest, public ::testing::WithParamInterface<ScmCase> {};

TEST_P(UninstallTest, CallsAndResult) {
  const ScmCase& c = GetParam();
  g_Failures = c.failures;
  Check(c, UninstallService());
}

TEST_P(UninstallTest, SilentWithTheVerboseSwitch) {
  const ScmCase& c = GetParam();
  g_Failures = c.failures;
  int result = -1;
  EXPECT_EQ(CaptureProgress(UninstallService, &result), "");
  EXPECT_EQ(result, c.result);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UninstallTest,
    ::testing::Values(
        ScmCase{"Deleted",
                {},
                1,
                {kOpenManager, kOpenForRemoval, "ControlService 1", "DeleteService",
                 "Close service", "Close manager"},
                nullptr, ""},
        // A stopped service refuses the stop and is deleted all the same.
        ScmCase{"StoppedService",
                {{"ControlService", ERROR_SERVICE_NOT_ACTIVE}},
                1,
                {kOpenManager, kOpenForRemoval, "ControlService 1", "DeleteService",
                 "Close service", "Close manager"},
                nullptr, ""},
        ScmCase{"NotInstalledIsQuiet",
                {{"OpenService", ERROR_SERVICE_DOES_NOT_EXIST}},
                0,
                {kOpenManager, kOpenForRemoval, "Close manager"},
                nullptr, ""},
        ScmCase{"NoManager",
                {{"OpenSCManager", ERROR_ACCESS_DENIED}},
                0,
                {kOpenManager},
                "[KestrinSvc] 26() failed - ", ""},
        ScmCase{"OpenServiceDenied",
                {{"OpenService", ERROR_ACCESS_DENIED}},
                0,
                {kOpenManager, kOpenForRemoval, "Close manager"},
                "[KestrinSvc] 27() failed - ", ""},
        // Both handles are closed on the failure too.
        ScmCase{"DeleteFails",
                {{"DeleteService", ERROR_SERVICE_MARKED_FOR_DELETE}},
                0,
                {kOpenManager, kOpenForRemoval, "ControlService 1", "DeleteService",
                 "Close service", "Close manager"},
                "[KestrinSvc] 12() failed - ", ""}),
    [](const ::testing::TestParamInfo<ScmCase>& info) { return std::string(info.param.name); });

}  // namespace
