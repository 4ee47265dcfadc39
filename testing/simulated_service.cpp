#include "simulated_service.h"

SimulatedServiceTest::SimulatedServiceTest(SimulatedDevice device)
    : ServiceFixture(KESTRIN_SVC_SIM_EXE), device_(device) {}

void SimulatedServiceTest::SetUp() {
  ASSERT_TRUE(SimStart());
  if (device_.serial) {
    ball_ = SimAddDevice(device_.serial, device_.firmware, device_.instance);
    ASSERT_GE(ball_, 0);
    ASSERT_TRUE(SimPlug(ball_, 0) && SimPlug(ball_ + 1, 0));
  }
  ServiceFixture::SetUp();
  if (HasFatalFailure()) return;
  if (device_.serial) {
    ASSERT_TRUE(WaitForDeviceOpen(ball_));
  }
}

void SimulatedServiceTest::TearDown() {
  ServiceFixture::TearDown();
  SimStop();
}

bool SimulatedServiceTest::WaitForDeviceOpen(int ball, DWORD timeoutMs) {
  return SimWaitOpen(ball, timeoutMs) && SimWaitOpen(ball + 1, timeoutMs);
}

bool SimulatedServiceTest::HotPlug(int ball) {
  return SimWaitNoticeListener(10000) && SimPlug(ball, 1) && SimPlug(ball + 1, 1);
}

bool SimulatedServiceTest::SendReport(int index, const std::vector<uint8_t>& bytes) {
  return SimSend(index, bytes.data(), static_cast<uint32_t>(bytes.size())) != 0;
}
