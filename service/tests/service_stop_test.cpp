// A stop while a device streams and a pipe client is connected, with
// KestrinSvcSim.exe under the service control manager and this process as
// the device simulator: the loop ends on the stop, the service lets go of the
// device and the client and reports SERVICE_STOPPED, and its process ends.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "pipe_client.h"
#include "simulated_service.h"

namespace {

class ServiceStopTest : public SimulatedServiceTest {
 protected:
  ServiceStopTest() : SimulatedServiceTest({L"KS00000000000078", 0x200, 0x78}) {}
};

TEST_F(ServiceStopTest, StopWhileStreamingReleasesDeviceAndClientThenStops) {
  PipeTestClient client;
  ASSERT_TRUE(client.Connect(5000)) << client.lastError();

  // Ball reports one after another, each taken by a read of the service.
  std::atomic<bool> streaming{true};
  std::atomic<unsigned> delivered{0};
  std::thread device([&] {
    uint8_t report[9] = {0, 0x40, 0, 0, 0, 0, 0, 0, 0};
    while (streaming && SimSend(ball_, report, sizeof report)) {
      ++delivered;
      report[1] ^= 0x10;
    }
  });
  for (int i = 0; i < 200 && delivered < 20; ++i) Sleep(10);
  EXPECT_GE(delivered.load(), 20u);

  EXPECT_EQ(SendServiceControl(SERVICE_CONTROL_STOP), 0u);
  EXPECT_TRUE(WaitForServiceState(SERVICE_STOPPED, 10000));
  EXPECT_EQ(QueryKestrinService().status.dwWin32ExitCode, 0u);
  streaming = false;
  device.join();  // its last send fails within a second: nobody reads any more

  EXPECT_FALSE(SimIsOpen(ball_));
  EXPECT_FALSE(SimIsOpen(ball_ + 1));
  client.ReceiveUntilQuiet(2000);
  EXPECT_TRUE(client.broken());

  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, servicePid_);
  if (process) {
    EXPECT_EQ(WaitForSingleObject(process, 10000), WAIT_OBJECT_0);
    CloseHandle(process);
  }
}

}  // namespace
