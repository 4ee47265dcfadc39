// The system HID access layer under Wine: the HID class lists only Wine's
// two virtual devices, which the interface test must pass over, quietly.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "dbwin_monitor.h"
#include "device_test_stubs.h"
#include "devices.h"
#include "hid_access.h"
#include "service_private.h"

// The same walk the enumeration makes, through the system access layer: the
// interfaces are there and readable, and none passes the interface test.
TEST(SystemDevicesTest, WinesVirtualHidInterfacesAreListedAndRejected) {
  GUID guid;
  HidGetHidGuid(&guid);
  HDEVINFO set = HidGetClassDevs(&guid, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  ASSERT_NE(INVALID_HANDLE_VALUE, set) << GetLastError();
  SP_DEVICE_INTERFACE_DATA data = {};
  data.cbSize = sizeof data;
  int listed = 0;
  for (DWORD i = 0; HidEnumDeviceInterfaces(set, &guid, i, &data); ++i) {
    DWORD required = 0;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(HidGetDeviceInterfaceDetail(set, &data, nullptr, 0, &required));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    std::string block(required, '\0');
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(&block[0]);
    detail->cbSize = kInterfaceBlockSize;
    ASSERT_TRUE(HidGetDeviceInterfaceDetail(set, &data, detail, required, nullptr))
        << GetLastError();
    EXPECT_FALSE(IsKestrinInterface(detail->DevicePath)) << detail->DevicePath;
    ++listed;
  }
  EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_ITEMS), GetLastError());
  EXPECT_LE(2, listed);  // Wine's two virtual devices
  EXPECT_TRUE(HidDestroyDeviceInfoList(set));
}

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
