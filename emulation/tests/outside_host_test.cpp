// An outside host of the installed suite (outside_host.sh installs it with
// scripts/install_suite.sh and runs this program from a folder of its own,
// with no Kestrin file beside it), on the service on a simulated device and
// the installed agent, which the interface library starts itself.
//
// Built twice: Zel2OutsideHost loads the installed KestrinZel2.dll by its
// full path, as a host program does (the library's own import, Kestrin1.dll,
// must then be found without anything of the suite beside the host), and its
// device handle hears the device; Kes1OutsideClient is a third-party program
// that links Kestrin1.dll and was not installed into the suite's folder, and
// its connection hears the device.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "agent_install.h"
#include "foreground_window.h"
#include "pump.h"
#include "simulated_service.h"
#ifdef KESTRIN_OUTSIDE_CLIENT
#include "Kestrin1.h"
#else
#include "KestrinZel2.h"
#include "recording_hosts.h"
#endif

namespace {

// This program's folder, with its trailing backslash.
std::string OwnFolder() {
  char path[MAX_PATH] = "";
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder = path;
  return folder.substr(0, folder.find_last_of('\\') + 1);
}

// The files of this program's folder whose names begin with "Kestrin".
std::vector<std::string> KestrinFilesBeside() {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((OwnFolder() + "Kestrin*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do names.push_back(found.cFileName);
  while (FindNextFileA(search, &found));
  FindClose(search);
  return names;
}

class OutsideHost : public SimulatedServiceTest {
 protected:
  void SetUp() override {
    // Nothing of the suite beside this program, and nothing in the current
    // folder either (the loader looks there too).
    ASSERT_THAT(KestrinFilesBeside(), ::testing::IsEmpty()) << OwnFolder();
    char current[MAX_PATH] = "";
    GetCurrentDirectoryA(MAX_PATH, current);
    ASSERT_EQ(OwnFolder(), std::string(current) + "\\");
    // The suite's agent, installed where the library starts it.
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(InstalledAgentPath().c_str()))
        << InstalledAgentPath();
    SimulatedServiceTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_NE(nullptr, ShowForegroundWindow("OutsideHostWindow", "an outside host"));
  }
  void TearDown() override {
    Close();
    EXPECT_TRUE(StopAgent());
    SimulatedServiceTest::TearDown();
  }
  // The installed folder of this program's architecture: where the agent is.
  static std::string InstalledFile(const char* name) {
    const std::string agent = InstalledAgentPath();
    return agent.substr(0, agent.find_last_of('\\') + 1) + name;
  }

#ifdef KESTRIN_OUTSIDE_CLIENT
  static long KESTRIN1_CALLBACK Record(unsigned int event, long) {
    events_.push_back(event & 0xFF);
    return 0;
  }
  static bool Heard(unsigned int event) {
    for (unsigned int e : events_)
      if (e == event) return true;
    return false;
  }
  void Close() { delete kestrin_; }
  Kestrin1::CKestrin* kestrin_ = nullptr;
  static std::vector<unsigned int> events_;
#else
  void Close() {
    if (handle_) devices_->Destroy(handle_);
    if (module_) FreeLibrary(module_);
  }
  HMODULE module_ = nullptr;
  IKestrinPrivate* devices_ = nullptr;
  DeviceHandle* handle_ = nullptr;
  RecordingDeviceHost host_;
#endif
};

#ifdef KESTRIN_OUTSIDE_CLIENT
std::vector<unsigned int> OutsideHost::events_;

TEST_F(OutsideHost, AProgramLinkingTheInterfaceLibraryHearsTheDevice) {
  // Loaded at the start: found where every program of this architecture
  // finds it, not in the suite's folder.
  char path[MAX_PATH] = "";
  ASSERT_NE(0u, GetModuleFileNameA(GetModuleHandleA("Kestrin1.dll"), path, MAX_PATH));
  EXPECT_EQ(std::string::npos, std::string(path).find("Pellmor Vastine")) << path;
  Kestrin1::CKestrin::Register(Record, GetCurrentProcessId());
  kestrin_ = new Kestrin1::CKestrin();
  ASSERT_TRUE(PumpUntil([] { return Heard(Kestrin1::EventDeviceEnabled); }, 20000))
      << ::testing::PrintToString(events_);
  EXPECT_THAT(events_, ::testing::ElementsAre(Kestrin1::EventDeviceAttached,
                                              Kestrin1::EventDeviceEnabled));
}
#else
TEST_F(OutsideHost, TheInstalledLibraryLoadsByItsFullPathAndHearsTheDevice) {
  ASSERT_EQ(nullptr, GetModuleHandleA("Kestrin1.dll"));
  const std::string library = InstalledFile("KestrinZel2.dll");
  module_ = LoadLibraryA(library.c_str());
  ASSERT_NE(nullptr, module_) << library << ": error " << GetLastError();
  auto get = reinterpret_cast<KestrinZelGetInterface>(
      reinterpret_cast<void*>(GetProcAddress(module_, MAKEINTRESOURCEA(1))));
  ASSERT_NE(nullptr, get);
  devices_ = get();
  handle_ = devices_->Create(&host_);
  ASSERT_NE(nullptr, handle_);
  ASSERT_TRUE(PumpUntil([&] { return host_.Heard("ready 1"); }, 20000))
      << ::testing::PrintToString(host_.calls);
  EXPECT_THAT(host_.calls, ::testing::ElementsAre("open 1", "ready 1"));
  EXPECT_EQ(1, devices_->IsDeviceOpen(handle_));
  EXPECT_EQ(1, devices_->IsDeviceReady(handle_));
}
#endif

}  // namespace
