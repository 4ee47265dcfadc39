// Device handles on the interface library: each handle's own CKestrin, the
// callback every device object registers, events for the newest handle only,
// and what a handle without its objects answers. No agent runs: the events
// are fed through the callback the library holds, as its client window
// would, and the agent's program is looked for in a folder that does not
// exist.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <thread>

#include "device_access.h"
#include "manager_messages.h"
#include "pump.h"
#include "recording_hosts.h"

using namespace Kestrin1;
using ::testing::ElementsAre;

namespace {

// What the library's client window does with a notice: the callback it
// holds at that moment.
void Deliver(unsigned int event, long param = 0) {
  AJLSKDFHEIEMUWPMXURSKDFNB.m_Callback(event, param);
}

NavMotion Filled(double value) {
  NavMotion m;
  m.tx = m.ty = m.tz = m.rx = m.ry = m.rz = m.scrollX = m.scrollY = value;
  return m;
}

class DeviceHandles : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(nullptr, FindWindowExA(HWND_MESSAGE, nullptr, kestrin::manager::kManagerClass,
                                     kestrin::manager::kManagerTitle))
        << "an agent runs: its notices would mix with the ones fed here";
    SetEnvironmentVariableA("ProgramFiles", "C:\\no such folder");
  }
  RecordingDeviceHost host_, other_;
};

TEST_F(DeviceHandles, ANewHandleRegistersAndHearsTheEvents) {
  DeviceHandle* handle = CreateDeviceHandle(&host_);
  ASSERT_NE(nullptr, handle);
  ASSERT_NE(nullptr, handle->device);
  EXPECT_EQ(&host_, handle->host);
  EXPECT_EQ(handle, handle->device->owner);
  EXPECT_NE(nullptr, handle->device->connection);
  EXPECT_EQ(handle->device, CurrentDevice());
  EXPECT_EQ(&DeviceCallback, AJLSKDFHEIEMUWPMXURSKDFNB.m_Callback);
  EXPECT_EQ(0, IsDeviceOpen(handle));

  Deliver(EventDeviceAttached);
  Deliver(EventDeviceEnabled);
  Deliver(EventDeviceEnabled);
  Deliver(EventBallActive);
  Deliver(EventButtonsChanged, 0x11);
  EXPECT_THAT(host_.calls,
              ElementsAre("open 1", "ready 1", "active 1", "started", "buttons 17 17"));
  EXPECT_EQ(1, IsDeviceOpen(handle));
  EXPECT_EQ(1, IsDeviceReady(handle));
  EXPECT_EQ(1, IsDeviceActive(handle));
  EXPECT_EQ(0x11u, GetDeviceButtons(handle));
  Deliver(EventBallReleased);
  EXPECT_EQ(0, IsDeviceActive(handle));
  DestroyDeviceHandle(handle);
}

TEST_F(DeviceHandles, DestroyingEitherOfTwoStopsEventsForBoth) {
  for (int destroyed = 0; destroyed < 2; ++destroyed) {
    SCOPED_TRACE(destroyed ? "the newer destroyed" : "the older destroyed");
    host_.calls.clear();
    other_.calls.clear();
    DeviceHandle* handles[2] = {CreateDeviceHandle(&host_), CreateDeviceHandle(&other_)};
    Deliver(EventDeviceAttached);
    EXPECT_TRUE(host_.calls.empty());  // only the newest hears
    EXPECT_THAT(other_.calls, ElementsAre("open 1"));
    DestroyDeviceHandle(handles[destroyed]);
    EXPECT_EQ(nullptr, CurrentDevice());
    Deliver(EventDeviceEnabled);
    Deliver(EventBallActive);
    EXPECT_TRUE(host_.calls.empty());
    EXPECT_THAT(other_.calls, ElementsAre("open 1"));
    DestroyDeviceHandle(handles[1 - destroyed]);
  }
}

TEST_F(DeviceHandles, AHandleMadeAfterAnEarlierOneWasDestroyedHearsEvents) {
  DestroyDeviceHandle(CreateDeviceHandle(&other_));
  DeviceHandle* handle = CreateDeviceHandle(&host_);
  ASSERT_NE(nullptr, handle);
  ASSERT_NE(nullptr, handle->device->connection);
  EXPECT_NE(nullptr, handle->device->connection->m_pConnection);  // connected again
  Deliver(EventDeviceAttached);
  EXPECT_THAT(host_.calls, ElementsAre("open 1"));
  EXPECT_TRUE(other_.calls.empty());
  DestroyDeviceHandle(handle);
}

TEST_F(DeviceHandles, EventsReachTheHostOnTheCreatingThreadThroughTheClientWindow) {
  // The library's own road: a notice posted to its client window, turned
  // into events by the window procedure on this thread.
  DeviceHandle* handle = CreateDeviceHandle(&host_);
  HWND client = FindWindowExA(HWND_MESSAGE, nullptr, kestrin::manager::kClientClass,
                              kestrin::manager::kClientTitle);
  ASSERT_NE(nullptr, client);
  PostMessageA(client, *AJLSKDFHEIEMUWPMXURSKDFNB.m_pMessageId,
               kestrin::manager::NoticeWParam(1, 0x0306), 0);  // attached and enabled
  PumpUntil([&] { return host_.calls.size() >= 2; }, 1000);
  EXPECT_THAT(host_.calls, ElementsAre("open 1", "ready 1"));
  EXPECT_THAT(host_.threads, ::testing::Each(std::this_thread::get_id()));
  DestroyDeviceHandle(handle);
}

// Events come on the thread of the process's first connection; a host
// thread that destroys the handle while that thread is calling the host
// returns at once (the call may be waiting for it): the call ends
// undisturbed and frees the device object, and the host hears nothing more.
TEST_F(DeviceHandles, DestroyedOnAnotherThreadWhileTheHostIsCalled) {
  DeviceHandle* handle = CreateDeviceHandle(&host_);
  ASSERT_NE(nullptr, handle);
  std::atomic<int> inside{0}, destroyed{0}, destroyedDuringCall{0};
  host_.onActive = [&] {
    inside = 1;
    for (int i = 0; i < 3000 && !destroyed; ++i) Sleep(1);
    destroyedDuringCall = destroyed.load();
  };
  std::thread events([&] { Deliver(EventBallActive); });
  while (!inside) Sleep(1);
  std::thread destroyer([&] {
    DestroyDeviceHandle(handle);
    destroyed = 1;
  });
  destroyer.join();
  events.join();
  EXPECT_EQ(1, destroyedDuringCall.load());
  EXPECT_EQ(nullptr, CurrentDevice());
  EXPECT_THAT(host_.calls, ElementsAre("active 1"));  // no motion start once destroyed
  Deliver(EventBallReleased);
  EXPECT_THAT(host_.calls, ElementsAre("active 1"));
}

TEST_F(DeviceHandles, MissingObjectsAnswerZeroAndDeliverNothing) {
  // A handle whose device object could not be made, one whose connection
  // could not be made, and no handle at all.
  DeviceHandle* noDevice = new DeviceHandle{nullptr, &host_};
  DeviceHandle* noConnection = new DeviceHandle{new DeviceAccess(), &host_};
  noConnection->device->owner = noConnection;
  noConnection->device->open = 1;
  DeviceHandle* const handles[] = {noDevice, noConnection, nullptr};
  for (DeviceHandle* handle : handles) {
    SCOPED_TRACE(handle == noDevice ? "no device" : handle ? "no connection" : "null");
    double seconds = 2.5;
    NavMotion motion = Filled(7);
    EXPECT_EQ(0, GetDeviceMotion(handle, &seconds, &motion));
    EXPECT_EQ(2.5, seconds);
    EXPECT_EQ(7.0, motion.scrollY);
    EXPECT_EQ(0, IsDeviceReady(handle));
    EXPECT_EQ(0, IsDeviceActive(handle));
    EXPECT_EQ(0u, GetDeviceButtons(handle));
  }
  EXPECT_EQ(0, IsDeviceOpen(noDevice));
  EXPECT_EQ(1, IsDeviceOpen(noConnection));  // its flags still answer
  DestroyDeviceHandle(noDevice);
  DestroyDeviceHandle(noConnection);
  DestroyDeviceHandle(nullptr);
  EXPECT_TRUE(host_.calls.empty());
}

TEST_F(DeviceHandles, NoSectionNoMotion) {
  DeviceHandle* handle = CreateDeviceHandle(&host_);
  double seconds = 2.5;
  NavMotion motion = Filled(7);
  EXPECT_EQ(0, GetDeviceMotion(handle, &seconds, &motion));
  EXPECT_EQ(2.5, seconds);
  EXPECT_EQ(7.0, motion.tx);
  DestroyDeviceHandle(handle);
}

}  // namespace
