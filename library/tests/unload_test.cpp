// Kestrin1.dll loaded and unloaded at run time, as a host loads a plug-in
// that uses it, while a client window of the library still waits on another
// thread for that thread to pump its messages: the unload leaves nothing
// that calls into the unmapped module, and a new load connects and hears
// notices again. Each case runs in a process of its own.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <thread>
#include <utility>
#include <vector>

#include "Kestrin1.h"
#include "manager_messages.h"
#include "message_windows.h"
#include "pump.h"

using namespace Kestrin1;
namespace km = kestrin::manager;

namespace {

using CreateFunction = CKestrin* (*)(unsigned short, CKestrin::EAccessMode);
using DestroyFunction = void (*)(CKestrin*);
using RegisterFunction = int (*)(KestrinCallback, unsigned long);

struct Library {
  HMODULE module = nullptr;
  CreateFunction create = nullptr;
  DestroyFunction destroy = nullptr;
  RegisterFunction registerCallback = nullptr;

  bool Load() {
    module = LoadLibraryA("Kestrin1.dll");
    if (!module) return false;
    create = reinterpret_cast<CreateFunction>(GetProcAddress(module, "KesKestrinCreate"));
    destroy = reinterpret_cast<DestroyFunction>(GetProcAddress(module, "KesKestrinDestroy"));
    registerCallback = reinterpret_cast<RegisterFunction>(GetProcAddress(module, "KesRegister"));
    return create && destroy && registerCallback;
  }
  // True once the module is no longer mapped.
  bool Unload() {
    FreeLibrary(module);
    module = nullptr;
    return GetModuleHandleA("Kestrin1.dll") == nullptr;
  }
};

// This process's client windows ("KestrinClient1").
std::vector<HWND> ClientWindows() { return km::ClientWindowsOf(GetCurrentProcessId()); }

std::vector<unsigned> g_Events;
long KESTRIN1_CALLBACK RecordEvent(unsigned int event, long) {
  g_Events.push_back(event);
  return 0;
}

// A thread that builds an object, hands it over, and pumps its messages only
// when told to (after the library is gone).
class OwnerThread {
 public:
  explicit OwnerThread(const Library& library) {
    thread_ = std::thread([this, &library] {
      object_ = library.create(0, CKestrin::AccessModeDefault);
      std::vector<HWND> windows = ClientWindows();
      window_ = windows.empty() ? nullptr : windows[0];
      built_ = true;
      while (!pump_) Sleep(1);
      for (int i = 0; i < 20; ++i) {
        PumpPending();
        Sleep(5);
      }
      windowGone_ = !IsWindow(window_);
    });
    while (!built_) Sleep(1);
  }
  void PumpAndEnd() {
    pump_ = true;
    thread_.join();
  }
  CKestrin* object() const { return object_; }
  HWND window() const { return window_; }
  bool windowGone() const { return windowGone_; }

 private:
  std::thread thread_;
  std::atomic<bool> built_{false}, pump_{false};
  CKestrin* object_ = nullptr;
  HWND window_ = nullptr;
  bool windowGone_ = false;
};

// After the unload: the library loads again, connects on this thread and
// hears a notice through its new client window.
void LoadAgainAndHear() {
  Library again;
  ASSERT_TRUE(again.Load());
  g_Events.clear();
  again.registerCallback(RecordEvent, GetCurrentProcessId());
  CKestrin* kestrin = again.create(0, CKestrin::AccessModeDefault);
  std::vector<HWND> windows = ClientWindows();
  ASSERT_EQ(1u, windows.size());
  PostMessageA(windows[0], RegisterWindowMessageA(km::kMessageName),
               km::NoticeWParam(1, 0x0306), 0);
  PumpPending();
  EXPECT_THAT(g_Events, ::testing::ElementsAre(EventDeviceAttached, EventDeviceEnabled));
  again.destroy(kestrin);
  EXPECT_TRUE(ClientWindows().empty());
  again.Unload();
}

class Kestrin1Unload : public ::testing::Test {
 protected:
  // No agent may start from here.
  void SetUp() override { SetEnvironmentVariableA("ProgramFiles", "Z:\\nonexistent-kestrin1"); }
};

TEST_F(Kestrin1Unload, AWindowWhoseCloseWaitsForItsThread) {
  // The last object goes on another thread than the connection's: its
  // window's close waits for the owner to pump; the library is unloaded
  // before that.
  Library library;
  ASSERT_TRUE(library.Load());
  OwnerThread owner(library);
  ASSERT_NE(nullptr, owner.window());
  library.destroy(owner.object());
  ASSERT_TRUE(IsWindow(owner.window())) << "the owner has not pumped yet";
  ASSERT_TRUE(library.Unload());
  owner.PumpAndEnd();
  EXPECT_TRUE(owner.windowGone());
  EXPECT_TRUE(ClientWindows().empty());
  LoadAgainAndHear();
}

TEST_F(Kestrin1Unload, AConnectionStillOpenOnAnotherThread) {
  // A host that unloads the library with an object still alive, the
  // connection belonging to another thread.
  Library library;
  ASSERT_TRUE(library.Load());
  OwnerThread owner(library);
  ASSERT_NE(nullptr, owner.window());
  ASSERT_TRUE(library.Unload());
  owner.PumpAndEnd();
  EXPECT_TRUE(owner.windowGone());
  LoadAgainAndHear();
}

}  // namespace
