// Start-up and shutdown of the service shell in this process, the other parts
// replaced at link time by recorders: what InitService prepares, the order in
// which ShutdownService takes the parts down, and what it releases.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "dbwin_monitor.h"
#include "debug_lines.h"
#include "pipe_protocol.h"
#include "reporting.h"
#include "service_private.h"
#include "wait_loop.h"

namespace {
std::vector<std::string> g_Calls;
void Called(const char* name) { g_Calls.push_back(name); }
}  // namespace

// The other parts of the service, as the shell sees them.
UINT SvcElfMessage;
void RegisterEventLogSource() { Called("RegisterEventLogSource"); }
void BuildSharedMemorySecurity() { Called("BuildSharedMemorySecurity"); }
void* InitSharedMemory() { Called("InitSharedMemory"); return nullptr; }
void UnmapSharedMemory() { Called("UnmapSharedMemory"); }
void InitPipeServer() { Called("InitPipeServer"); }
void ClosePipeServer() { Called("ClosePipeServer"); }
void AddPipeWaitItems() {}
void PublishDeviceState() { Called("PublishDeviceState"); }
void InitDevices() { Called("InitDevices"); }
void EnumerateDevices() { Called("EnumerateDevices"); }
void OnDeviceArrival(DWORD, void*) { Called("OnDeviceArrival"); }
void ProcessArrivalQueue() { Called("ProcessArrivalQueue"); }
void CloseAllDevices() { Called("CloseAllDevices"); }
void AddDeviceWaitItems() {}

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class ServiceStartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProgramName("KestrinSvc");
    g_Calls.clear();
    StatusHandle = nullptr;
    ASSERT_TRUE(monitor_.Start());
  }
  void TearDown() override {
    monitor_.Stop();
    ReleaseServiceResources();
  }
  std::vector<std::string> Lines() { return DebugLinesOf(monitor_, GetCurrentProcessId()); }
  DebugMonitor monitor_;
};

TEST_F(ServiceStartupTest, InitPreparesStatusAndASignalledManualResetWakeEvent) {
  InitService();
  EXPECT_THAT(g_Calls, ElementsAre("RegisterEventLogSource", "BuildSharedMemorySecurity"));
  EXPECT_EQ(ServiceStatus.dwServiceType, 0x30u);
  EXPECT_EQ(ServiceStatus.dwCurrentState, static_cast<DWORD>(SERVICE_START_PENDING));
  EXPECT_EQ(ServiceStatus.dwControlsAccepted, 9u);
  EXPECT_EQ(ServiceStatus.dwWin32ExitCode, 0u);
  EXPECT_EQ(ServiceStatus.dwServiceSpecificExitCode, 0u);
  EXPECT_EQ(ServiceStatus.dwCheckPoint, 0u);
  EXPECT_EQ(ServiceStatus.dwWaitHint, 0u);
  ASSERT_TRUE(WakeEvent);
  // Signalled, and a wait does not reset it: the loop resets it itself.
  EXPECT_EQ(WaitForSingleObject(WakeEvent, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(WakeEvent, 0), WAIT_OBJECT_0);
}

TEST_F(ServiceStartupTest, ShutdownClosesDevicesThenPipeThenSectionAndReleasesAll) {
  InitService();
  DisplayName = static_cast<char*>(malloc(8));
  strcpy(DisplayName, "Kestrin");
  BuildWaitList();
  ASSERT_EQ(ServiceWaitList.m_Count, 1);
  g_Calls.clear();
  Lines();

  ShutdownService();
  EXPECT_THAT(g_Calls, ElementsAre("CloseAllDevices", "ClosePipeServer", "UnmapSharedMemory"));
  EXPECT_EQ(WakeEvent, nullptr);
  EXPECT_EQ(DeviceNotification, nullptr);
  EXPECT_EQ(DisplayName, nullptr);
  EXPECT_EQ(ServiceWaitList.m_Handles, nullptr);
  EXPECT_EQ(ServiceWaitList.m_Entries, nullptr);
  EXPECT_EQ(ServiceWaitList.m_Capacity, 0);
  EXPECT_EQ(ServiceWaitList.m_Count, 0);

  // A second release finds nothing to close and reports nothing.
  ReleaseServiceResources();
  EXPECT_THAT(Lines(), IsEmpty());
}

TEST_F(ServiceStartupTest, BroadcastRegistersItsMessageWhenThePipeServerHasNot) {
  SvcElfMessage = 0;
  BroadcastServiceStarted(1, 0);
  EXPECT_EQ(SvcElfMessage, RegisterWindowMessageA(kServiceMessageName));
  EXPECT_THAT(Lines(), IsEmpty());
}

}  // namespace
