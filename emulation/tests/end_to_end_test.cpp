// An outside host against the live suite: KestrinSvcSim.exe as the service
// on a simulated device, the installed agent (started by the interface
// library), and this program loading KestrinZel2.dll with LoadLibrary and
// ordinal 1. The host hears the device on its own thread through its
// IDeviceHost and reads motion as doubles: the library's integer motion (the
// values the service published in record 1) times 25/8192, and pi times that
// for the rotations.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <math.h>

#include <string>
#include <vector>

#include "KestrinZel2.h"
#include "Kestrin1.h"
#include "client_end_to_end.h"
#include "foreground_window.h"
#include "motion_section.h"
#include "recording_hosts.h"
#include "report_bytes.h"

using ::testing::Each;
using ::testing::ElementsAre;

namespace {

constexpr double kUnit = 25.0 / 8192.0;
constexpr double kPi = 3.14159265358979323846;

// Seconds as the library gives them: a whole number of tics times 204.8 us
// in single precision.
bool WholeTics(double seconds) {
  const double tics = floor(seconds / 0.0002048 + 0.5);
  return tics >= 1 && tics <= 65535 &&
         static_cast<double>(static_cast<float>(tics) * 0.0002048f) == seconds;
}

class Zel2EndToEnd : public ClientEndToEndTest {
 protected:
  void SetUp() override {
    SimulatedServiceTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(InstallAgent(KESTRIN_ELF_EXE));
    ASSERT_NE(nullptr, ShowForegroundWindow("Zel2EndToEndWindow", "KestrinZel2 end to end"));
    module_ = LoadLibraryW(L"KestrinZel2.dll");
    ASSERT_NE(nullptr, module_);
    auto get = reinterpret_cast<KestrinZelGetInterface>(GetProcAddress(module_, MAKEINTRESOURCEA(1)));
    ASSERT_NE(nullptr, get);
    devices_ = get();
  }
  void TearDown() override {
    if (handle_) devices_->Destroy(handle_);
    if (module_) FreeLibrary(module_);
    ClientEndToEndTest::TearDown();
  }
  void OpenAndHearTheDevice() {
    host_.calls.clear();
    host_.threads.clear();
    handle_ = devices_->Create(&host_);
    ASSERT_NE(nullptr, handle_);
    ASSERT_TRUE(PumpUntil([&] { return host_.Heard("ready 1"); }, 20000))
        << ::testing::PrintToString(host_.calls);
    EXPECT_THAT(host_.calls, ElementsAre("open 1", "ready 1"));
    EXPECT_EQ(1, devices_->IsDeviceOpen(handle_));
    EXPECT_EQ(1, devices_->IsDeviceReady(handle_));
    ASSERT_NE(nullptr, *AJLSKDFHEIEMUWPMXURSKDFNB.m_pView);
  }
  // A push of the ball: GetMotion gives the record's values in units.
  void PushAndRead(const int (&readings)[6]) {
    SendBall(BallReport(readings));
    BallBuffer published = {};
    uint16_t header;
    ASSERT_TRUE(ReadBallMotion(Record1(), &published, &header));
    const int16_t* v = published.m_Values;
    double seconds = -1;
    NavMotion motion = {};
    ASSERT_EQ(1, devices_->GetMotion(handle_, &seconds, &motion));
    EXPECT_THAT(std::vector<double>({motion.tx, motion.ty, motion.tz, motion.rx, motion.ry,
                                     motion.rz, motion.scrollX, motion.scrollY}),
                ElementsAre(v[0] * kUnit, v[1] * kUnit, v[2] * kUnit, v[3] * kPi * kUnit,
                            v[4] * kPi * kUnit, v[5] * kPi * kUnit, 0.0, 0.0));
    EXPECT_TRUE(v[0] || v[1] || v[2] || v[3] || v[4] || v[5]);
    EXPECT_TRUE(WholeTics(seconds)) << seconds;
  }

  HMODULE module_ = nullptr;
  IKestrinPrivate* devices_ = nullptr;
  DeviceHandle* handle_ = nullptr;
  RecordingDeviceHost host_;
};

TEST_F(Zel2EndToEnd, TheHostHearsTheDeviceAndReadsItsMotionAsDoubles) {
  OpenAndHearTheDevice();
  if (HasFatalFailure()) return;
  const int pushes[][6] = {{0, 0, 200, 0, 0, 0}, {40, -40, 160, 10, 0, -10}};
  for (const auto& push : pushes) {
    PushAndRead(push);
    if (HasFatalFailure()) return;
  }
  ASSERT_TRUE(PumpUntil([&] { return host_.Heard("started"); }, 5000));
  EXPECT_THAT(host_.calls, ElementsAre("open 1", "ready 1", "active 1", "started"));
  EXPECT_EQ(1, devices_->IsActive(handle_));

  // The ball let go and read once more; then the scroll hat alone.
  SendBall(std::vector<uint8_t>(9, 0));
  double seconds;
  NavMotion motion;
  devices_->GetMotion(handle_, &seconds, &motion);
  ASSERT_TRUE(PumpUntil([&] { return host_.Heard("active 0"); }, 5000));
  SendScroll(ScrollReport(300, 700));
  ScrollBuffer published = {};
  uint16_t header;
  ASSERT_TRUE(ReadScrollMotion(Record1(), &published, &header));
  seconds = -1;
  motion = NavMotion();
  ASSERT_EQ(1, devices_->GetMotion(handle_, &seconds, &motion));
  EXPECT_THAT(std::vector<double>({motion.tx, motion.ty, motion.tz, motion.rx, motion.ry, motion.rz}),
              Each(0.0));
  EXPECT_EQ(published.m_Values[0] * kUnit, motion.scrollX);
  EXPECT_EQ(published.m_Values[1] * kUnit, motion.scrollY);
  EXPECT_TRUE(published.m_Values[0] || published.m_Values[1]);
  EXPECT_TRUE(WholeTics(seconds)) << seconds;
  // Every call on the thread that created the handle.
  EXPECT_THAT(host_.threads, Each(std::this_thread::get_id()));
}

// After the last handle is gone the library closes its connection and says
// goodbye to the agent; a new handle connects again with a new client window
// and hears the device's current state at once, without waiting for the
// state to change, and reads motion.
TEST_F(Zel2EndToEnd, AHandleAfterADestroyedOneHearsAndReadsAgain) {
  OpenAndHearTheDevice();
  if (HasFatalFailure()) return;
  devices_->Destroy(handle_);
  handle_ = nullptr;
  OpenAndHearTheDevice();
  if (HasFatalFailure()) return;
  const int push[6] = {0, 0, 200, 0, 0, 0};
  PushAndRead(push);
  EXPECT_THAT(host_.threads, Each(std::this_thread::get_id()));
}

// A host compiled against the public header finds each interface where one
// that does not share it looks: at consecutive pointer-sized positions.
TEST(Zel2Header, TheInterfacesSitWhereTheContractPutsThem) {
  HMODULE module = LoadLibraryW(L"KestrinZel2.dll");
  ASSERT_NE(nullptr, module);
  auto get = reinterpret_cast<KestrinZelGetInterface>(GetProcAddress(module, MAKEINTRESOURCEA(1)));
  ASSERT_NE(nullptr, get);
  IKestrinZel2<double>* zel = get();
  const char* base = reinterpret_cast<const char*>(zel);
  const size_t word = sizeof(void*);
  EXPECT_EQ(base, reinterpret_cast<const char*>(static_cast<IKestrinZelVersion*>(zel)));
  EXPECT_EQ(base + word, reinterpret_cast<const char*>(static_cast<IKestrinPrivate*>(zel)));
  EXPECT_EQ(base + 2 * word, reinterpret_cast<const char*>(static_cast<IAgilityPrivate<double>*>(zel)));
  EXPECT_EQ(base + 3 * word, reinterpret_cast<const char*>(static_cast<IKeyboardEmul2*>(zel)));
  EXPECT_EQ(base + 4 * word,
            reinterpret_cast<const char*>(static_cast<IRegistryKeyAccessPrivate*>(zel)));
  EXPECT_STREQ(L"1.1", zel->GetVersion());
  FreeLibrary(module);
}

}  // namespace
