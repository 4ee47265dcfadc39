// The system HID access layer under Wine: the HID class lists only Wine's
// two virtual devices, which the interface test must pass over, quietly.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "dbwin_monitor.h"
#include "device_test_stubs.h"
#include "devices.h"
#include "service_private.h"

TEST(SystemDevicesTest, WinesVirtualHidDevicesAreNoKestrins) {
  DebugMonitor monitor;
  ASSERT_TRUE(monitor.Start());
  ResetDeviceStubs();
  InitDevices();
  EnumerateDevices();
  EXPECT_EQ(nullptr, PoolFirst(&DeviceTable));
  EXPECT_EQ(-1, CurrentSlot);
  CloseAllDevices();
  Sleep(200);  // lines already written reach the monitor
  monitor.Stop();
  for (const std::string& line : monitor.TextsFrom(GetCurrentProcessId()))
    ADD_FAILURE() << "unexpected line: " << line;
}
