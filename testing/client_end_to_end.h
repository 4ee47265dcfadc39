// The live suite around a client of the interface library, for the end-to-end
// tests of Kestrin1.dll and of the libraries built on it: the service on a
// simulated device (simulated_service.h), the installed agent, which each
// test installs and starts its own way and which is stopped again at the
// end, and record 1 of the motion section, the first device's, through the
// view this process's Kestrin1.dll mapped.
//
//   class MyEndToEnd : public ClientEndToEndTest {
//     void TearDown() override { /* the client's objects first */ ClientEndToEndTest::TearDown(); }
//   };
//   TEST_F(MyEndToEnd, ...) { SendBall(BallReport(push)); ReadBallMotion(Record1(), ...); }
//
// Link Kestrin1 and KestrinSimulatedService.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>
#include <stdint.h>

#include <vector>

#include "Kestrin1.h"
#include "agent_install.h"
#include "motion_section.h"
#include "pump.h"
#include "simulated_service.h"

class ClientEndToEndTest : public SimulatedServiceTest {
 protected:
  // The agent stopped, then the service and the simulator.
  void TearDown() override {
    EXPECT_TRUE(StopAgent());
    SimulatedServiceTest::TearDown();
  }

  // Record 1 as the library maps it (once the library has connected).
  static const DeviceMotionRecord* Record1() {
    return static_cast<const DeviceMotionRecord*>(*AJLSKDFHEIEMUWPMXURSKDFNB.m_pView) + 1;
  }

  // One read of interface index, waited for until the service has published
  // `reports` reports of it in record 1 (the count in the header that
  // headerOf picks moved by that many); the record's current buffer then
  // holds what the last of them made.
  template <typename HeaderOf>
  void SendAndWait(int index, const std::vector<uint8_t>& bytes, HeaderOf headerOf,
                   uint16_t reports = 1) {
    const uint16_t before = LoadMotionHeader(headerOf(Record1()));
    ASSERT_TRUE(SendReport(index, bytes));
    ASSERT_TRUE(PumpUntil([&] {
      return ReportsSince(MotionReportCount(before), LoadMotionHeader(headerOf(Record1()))) ==
             reports;
    }, 5000));
  }
  // The same for the ball interface and the scroll hat's of the device.
  void SendBall(const std::vector<uint8_t>& bytes, uint16_t reports = 1) {
    SendAndWait(ball_, bytes, [](const DeviceMotionRecord* r) { return BallHeaderOf(r); }, reports);
  }
  void SendScroll(const std::vector<uint8_t>& bytes) {
    SendAndWait(ball_ + 1, bytes, [](const DeviceMotionRecord* r) { return ScrollHeaderOf(r); });
  }
};
