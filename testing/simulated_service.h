// The service running on a simulated device: KestrinSvcSim.exe (the service
// with the simulated HID layer) installed and started under the service
// control manager, this test process playing the device simulator
// (sim_core.h). Before the service starts, one device is plugged in; SetUp
// returns once the service runs and has opened both of its interfaces.
//
//   class MyTest : public SimulatedServiceTest {};        // the default device
//   class BareTest : public SimulatedServiceTest {
//     BareTest() : SimulatedServiceTest(kNoSimulatedDevice) {}
//   };
//   TEST_F(MyTest, ...) { SendReport(ball_, BallReport(push)); ... }
//
// Teardown always stops and deletes the service, then stops the simulator.
// Link KestrinSimulatedService; it builds KestrinSvcSim.exe first.
#pragma once
#include <windows.h>
#include <stdint.h>

#include <vector>

#include "service_fixture.h"
#include "sim_core.h"

struct SimulatedDevice {
  const wchar_t* serial;  // null: no device
  uint16_t firmware;      // HID VersionNumber, 0x201 is version 2.01
  uint32_t instance;      // the instance number in its interface paths
};

constexpr SimulatedDevice kDefaultSimulatedDevice = {L"KS00000000000077", 0x200, 0x77};
constexpr SimulatedDevice kNoSimulatedDevice = {nullptr, 0, 0};

class SimulatedServiceTest : public ServiceFixture {
 protected:
  explicit SimulatedServiceTest(SimulatedDevice device = kDefaultSimulatedDevice);

  // The simulator, the device plugged in, the service running with the
  // device open.
  void SetUp() override;
  // The service removed, then the simulator stopped.
  void TearDown() override;

  // True once the service holds both interfaces of the device whose ball
  // interface is ball.
  static bool WaitForDeviceOpen(int ball, DWORD timeoutMs = 10000);
  // Plugs both interfaces of that device while the service runs, with their
  // arrival notices (once the service listens for them).
  static bool HotPlug(int ball);
  // The bytes as one read of the interface.
  static bool SendReport(int index, const std::vector<uint8_t>& bytes);

  SimulatedDevice device_;  // the device plugged before the start
  int ball_ = -1;           // its ball interface; the scroll hat is ball_ + 1
};
