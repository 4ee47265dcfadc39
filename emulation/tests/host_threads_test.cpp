// KestrinZel2.dll in a host whose threads wait for each other, the way hosts
// marshal to their user-interface thread: a host program of its own, written
// from the library's public headers, that loads the DLL and takes its object
// from export ordinal 1. A worker thread A makes a handle (a navigation
// handle with its timer, or a device handle, whose events then come on A)
// and pumps; the library calls the host on A; the host there sends to its
// main thread B, which destroys the handle, or destroys it from its own code
// while A waits for B. Other cases destroy the handle inside its own call,
// which then runs messages as a message box would, or unload the library
// right after a destroy.
//
// Every case runs under a time limit (a hang ends the process with a line
// saying where it hung, as a crash does) and validates every heap of the
// process; ctest runs these cases under Wine's heap checking
// (WINEDEBUG=warn+heap), which reports a write into a freed block, and fails
// a case whose output shows one.
//
// No agent runs: the device's notices are posted to the library's client
// window by this program, as the agent posts them.
#include <gtest/gtest.h>
#include <stdio.h>
#include <wchar.h>
#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <thread>

#include "KestrinZel2.h"
#include "import_hook.h"
#include "manager_messages.h"
#include "pump.h"

namespace {

constexpr DWORD kLimitMs = 20000;  // for a whole case
constexpr DWORD kWaitMs = 5000;    // for one thread's wait on another

// Ends the process when a case, or one round of it, has not ended within
// the time limit: its threads are stuck and nothing after could run. The
// line says where, with what state() tells of the case.
class Watchdog {
 public:
  explicit Watchdog(const std::string& what, std::function<std::string()> state = nullptr)
      : what_(what), state_(state) {
    done_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    kick_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    thread_ = std::thread([this] {
      const HANDLE events[] = {done_, kick_};
      for (;;) {
        const DWORD woken = WaitForMultipleObjects(2, events, FALSE, kLimitMs);
        if (woken == WAIT_OBJECT_0) return;
        if (woken == WAIT_OBJECT_0 + 1) continue;
        fprintf(stderr, "HUNG: %s has not ended after %lu ms%s%s\n", what_.c_str(),
                static_cast<unsigned long>(kLimitMs), state_ ? ": " : "",
                state_ ? state_().c_str() : "");
        fflush(stderr);
        TerminateProcess(GetCurrentProcess(), 3);
      }
    });
  }
  ~Watchdog() {
    SetEvent(done_);
    thread_.join();
    CloseHandle(done_);
    CloseHandle(kick_);
  }
  // A round has ended: the limit starts again.
  void Kick() { SetEvent(kick_); }

 private:
  std::string what_;
  std::function<std::string()> state_;
  HANDLE done_, kick_;
  std::thread thread_;
};

// A crash on any thread (a call returning into an unloaded library, say)
// ends the process at once with a line saying so, instead of waiting for a
// debugger.
LONG WINAPI ReportCrash(EXCEPTION_POINTERS* exception) {
  fprintf(stderr, "CRASHED: exception 0x%08lx at %p on thread %lu\n",
          static_cast<unsigned long>(exception->ExceptionRecord->ExceptionCode),
          exception->ExceptionRecord->ExceptionAddress,
          static_cast<unsigned long>(GetCurrentThreadId()));
  fflush(stderr);
  TerminateProcess(GetCurrentProcess(), 4);
  return EXCEPTION_EXECUTE_HANDLER;
}

// Waits without pumping until done() holds or kWaitMs have passed.
template <typename Done>
bool WaitUntil(Done done) {
  for (DWORD start = GetTickCount(); !done(); Sleep(1))
    if (GetTickCount() - start > kWaitMs) return false;
  return true;
}

// The windows of thread that the library made, or left: every window of it
// but the default IME window Wine gives each thread with a window.
BOOL CALLBACK CountWindow(HWND window, LPARAM count) {
  wchar_t name[64] = L"";
  GetClassNameW(window, name, 64);
  if (wcscmp(name, L"IME") != 0) ++*reinterpret_cast<int*>(count);
  return TRUE;
}
int WindowsOf(DWORD thread) {
  int count = 0;
  EnumThreadWindows(thread, CountWindow, reinterpret_cast<LPARAM>(&count));
  HWND window = nullptr;  // message-only windows are not enumerated
  while ((window = FindWindowExW(HWND_MESSAGE, window, nullptr, nullptr)))
    if (GetWindowThreadProcessId(window, nullptr) == thread)
      CountWindow(window, reinterpret_cast<LPARAM>(&count));
  return count;
}

// A handle of one kind and the one call of its host that a case is about:
// the timer's expiry (OnTimer) or the device's attach (OnDeviceOpen with 1).
// Make and Provoke run on the thread that is to receive the call, Destroy on
// any thread. during runs inside the call.
class Hosted {
 public:
  virtual ~Hosted() = default;
  virtual void Make() = 0;
  virtual void Provoke() = 0;
  virtual void Destroy() = 0;

  std::function<void()> during;
  std::atomic<int> calls{0}, returned{0};

 protected:
  void Called() {
    ++calls;
    if (during) during();
    ++returned;
  }
};

class Navigation : public Hosted, public INavigationHost {
 public:
  explicit Navigation(IAgilityPrivate<double>* agility) : agility_(agility) {}
  void Make() override { handle_ = agility_->Create(this); }
  void Provoke() override {
    agility_->StartTimer(handle_, static_cast<unsigned short>(agility_->GetTicCount()), 0);
  }
  void Destroy() override { agility_->Destroy(handle_); }

  long KESTRIN_ZEL2_CALL Reserved0() override { return 0; }
  long KESTRIN_ZEL2_CALL ApplyView(NavView*) override { return 0; }
  NavSettings* KESTRIN_ZEL2_CALL QuerySettings(void*) override { return nullptr; }
  long KESTRIN_ZEL2_CALL PivotChanged(double*) override { return 0; }
  long KESTRIN_ZEL2_CALL Reserved4() override { return 0; }
  long KESTRIN_ZEL2_CALL OnIdle() override { return 0; }
  long KESTRIN_ZEL2_CALL Reserved6() override { return 0; }
  long KESTRIN_ZEL2_CALL OnTimer() override {
    Called();
    return 0;
  }

 private:
  IAgilityPrivate<double>* agility_;
  NavigationHandle* handle_ = nullptr;
};

class Device : public Hosted, public IDeviceHost {
 public:
  explicit Device(IKestrinPrivate* devices) : devices_(devices) {}
  void Make() override { handle_ = devices_->Create(this); }
  // The agent's notice to this thread's client window: attached and enabled.
  void Provoke() override {
    using namespace kestrin::manager;
    const UINT message = RegisterWindowMessageA(kMessageName);
    HWND client = nullptr;
    while ((client = FindWindowExA(HWND_MESSAGE, client, kClientClass, kClientTitle)))
      if (GetWindowThreadProcessId(client, nullptr) == GetCurrentThreadId()) break;
    ASSERT_NE(nullptr, client);
    PostMessageA(client, message, NoticeWParam(1, 0x0306), 0);
  }
  void Destroy() override { devices_->Destroy(handle_); }

  long KESTRIN_ZEL2_CALL OnDeviceOpen(int open) override {
    if (open) Called();
    return 0;
  }
  long KESTRIN_ZEL2_CALL OnDeviceReady(int) override { return 0; }
  long KESTRIN_ZEL2_CALL OnActive(int) override { return 0; }
  long KESTRIN_ZEL2_CALL OnButtonsChanged(unsigned int, unsigned int) override { return 0; }
  long KESTRIN_ZEL2_CALL OnMotionStarted() override { return 0; }

 private:
  IKestrinPrivate* devices_;
  DeviceHandle* handle_ = nullptr;
};

// Every heap of the process validated: the C runtime's, from which the
// library's objects come, as well as the process heap. Under Wine's heap
// checking a write into a freed block fails it (and is reported).
bool HeapsValid() {
  HANDLE heaps[64];
  const DWORD count = GetProcessHeaps(64, heaps);
  bool valid = count > 0 && count <= 64;
  for (DWORD i = 0; valid && i < count; ++i) valid = HeapValidate(heaps[i], 0, nullptr) != FALSE;
  return valid;
}

enum Kind { kTimer, kDevice };
const char* const kKindNames[] = {"the timer's OnTimer", "the device's OnDeviceOpen"};
std::string KindName(const ::testing::TestParamInfo<Kind>& info) {
  return info.param == kTimer ? "Timer" : "Device";
}
void PrintTo(Kind kind, std::ostream* out) {
  *out << KindName(::testing::TestParamInfo<Kind>(kind, 0));
}

// A window of this thread (B) that runs the function a message points to:
// what hosts send to their user-interface thread.
LRESULT CALLBACK RunProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_APP) {
    (*reinterpret_cast<std::function<void()>*>(lParam))();
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

class Zel2HostThreads : public ::testing::Test {
 protected:
  void SetUp() override {
    SetUnhandledExceptionFilter(ReportCrash);
    SetEnvironmentVariableA("ProgramFiles", "C:\\no such folder");  // no agent is started
    module_ = LoadLibraryW(L"KestrinZel2.dll");
    ASSERT_NE(nullptr, module_) << GetLastError();
    auto get =
        reinterpret_cast<KestrinZelGetInterface>(GetProcAddress(module_, MAKEINTRESOURCEA(1)));
    ASSERT_NE(nullptr, get);
    zel_ = get();
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = RunProc;
    windowClass.lpszClassName = L"Zel2HostThreadsB";
    RegisterClassW(&windowClass);
    ui_ = CreateWindowExW(0, L"Zel2HostThreadsB", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                          nullptr, nullptr);
    ASSERT_NE(nullptr, ui_);
  }
  void TearDown() override {
    if (ui_) DestroyWindow(ui_);
    if (module_) FreeLibrary(module_);
    EXPECT_TRUE(HeapsValid());
  }
  std::unique_ptr<Hosted> Make(Kind kind) {
    if (kind == kTimer) return std::unique_ptr<Hosted>(new Navigation(zel_));
    return std::unique_ptr<Hosted>(new Device(zel_));
  }
  // Runs f on B from within a message A sends it.
  void SendToB(std::function<void()>* f) {
    SendMessageW(ui_, WM_APP, 0, reinterpret_cast<LPARAM>(f));
  }

  HMODULE module_ = nullptr;
  IKestrinZel2<double>* zel_ = nullptr;
  HWND ui_ = nullptr;
};

// ---- a destroy never waits for a call that waits for the destroyer ----

struct CrossCase {
  Kind kind;
  bool fromHandler;  // B destroys inside the message A's call sent it, else from its own code
};

class Zel2HostThreadsCross : public Zel2HostThreads,
                             public ::testing::WithParamInterface<CrossCase> {};

TEST_P(Zel2HostThreadsCross, ADestroyOnTheThreadACallSendsToReturnsAndTheCallEnds) {
  const CrossCase c = GetParam();
  const std::string name = std::string(kKindNames[c.kind]) +
                           " sends to B, which destroys the handle " +
                           (c.fromHandler ? "in the handler" : "from its own code");
  Watchdog watchdog(name);
  std::unique_ptr<Hosted> hosted = Make(c.kind);
  std::atomic<int> inside{0}, destroyed{0}, done{0}, windowsLeft{-1};
  std::function<void()> destroy = [&] {
    hosted->Destroy();
    destroyed = 1;
  };
  std::function<void()> nothing = [] {};
  hosted->during = [&] {
    inside = 1;
    SendToB(c.fromHandler ? &destroy : &nothing);
  };
  std::thread a([&] {
    hosted->Make();
    hosted->Provoke();
    PumpUntil([&] { return done.load() != 0; }, kLimitMs);
    PumpFor(50);  // the closes of what the library left on this thread
    windowsLeft = WindowsOf(GetCurrentThreadId());
  });
  if (!c.fromHandler) {
    EXPECT_TRUE(WaitUntil([&] { return inside.load() != 0; }));
    destroy();  // while A waits in SendMessageW for this thread
  }
  EXPECT_TRUE(PumpUntil([&] { return hosted->returned.load() != 0; }, kLimitMs));
  done = 1;
  a.join();
  EXPECT_EQ(1, destroyed.load());
  EXPECT_EQ(1, hosted->calls.load());
  EXPECT_EQ(0, windowsLeft.load());
}

std::string CrossName(const ::testing::TestParamInfo<CrossCase>& info) {
  return std::string(info.param.kind == kTimer ? "Timer" : "Device") +
         (info.param.fromHandler ? "DestroyedInTheHandler" : "DestroyedFromBsOwnCode");
}
void PrintTo(const CrossCase& c, std::ostream* out) {
  *out << CrossName(::testing::TestParamInfo<CrossCase>(c, 0));
}

INSTANTIATE_TEST_SUITE_P(, Zel2HostThreadsCross,
                         ::testing::Values(CrossCase{kTimer, true}, CrossCase{kTimer, false},
                                           CrossCase{kDevice, true}, CrossCase{kDevice, false}),
                         CrossName);

// ---- nothing of a handle is freed while a call of it is on a stack ----

// A PostMessageW for the library whose WM_CLOSE cannot be posted (a full
// queue), everything else passed on.
void* g_PostMessageW = nullptr;
BOOL WINAPI PostFailingClose(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CLOSE) {
    SetLastError(ERROR_NOT_ENOUGH_QUOTA);
    return FALSE;
  }
  return reinterpret_cast<BOOL(WINAPI*)(HWND, UINT, WPARAM, LPARAM)>(g_PostMessageW)(
      window, message, wParam, lParam);
}

struct FreedCase {
  Kind kind;
  bool onA;        // destroyed inside the call on A, else by B during the call
  bool postFails;  // the library's WM_CLOSE posts fail
};

class Zel2HostThreadsFreed : public Zel2HostThreads,
                             public ::testing::WithParamInterface<FreedCase> {};

// The call destroys its handle (or waits until B has), then runs messages
// for 100 ms, as a host showing a message box does, and returns. Twenty
// rounds on one thread A.
TEST_P(Zel2HostThreadsFreed, AHandleDestroyedDuringItsCallThatRunsMessagesOutlivesTheCall) {
  const FreedCase c = GetParam();
  const std::string name = std::string(kKindNames[c.kind]) +
                           (c.onA ? " destroys its handle" : " during B's destroy") +
                           " and runs messages" + (c.postFails ? ", the close post failing" : "");
  Watchdog watchdog(name);
  std::unique_ptr<ImportHook> failing;
  if (c.postFails) {
    failing.reset(new ImportHook(module_, "user32.dll", "PostMessageW",
                                 reinterpret_cast<void*>(&PostFailingClose), &g_PostMessageW));
    ASSERT_TRUE(failing->installed());
  }
  constexpr int kRounds = 20;
  std::unique_ptr<Hosted> hosted[kRounds];
  for (auto& h : hosted) h = Make(c.kind);
  std::atomic<int> round{-1}, destroyed{-1}, late{0}, damaged{0}, windowsLeft{-1};
  std::thread a([&] {
    for (int i = 0; i < kRounds; ++i) {
      Hosted& h = *hosted[i];
      h.during = [&, i] {
        if (c.onA) {
          h.Destroy();
          destroyed = i;
        } else {
          round = i;  // B destroys now
          if (!PumpUntil([&] { return destroyed.load() == i; }, kWaitMs)) ++late;
        }
        PumpFor(100);
      };
      h.Make();
      h.Provoke();
      PumpUntil([&] { return h.returned.load() != 0; }, kWaitMs);
      if (!HeapsValid()) ++damaged;
    }
    PumpFor(50);
    windowsLeft = WindowsOf(GetCurrentThreadId());
  });
  if (!c.onA) {
    for (int i = 0; i < kRounds; ++i) {
      if (!WaitUntil([&] { return round.load() == i; })) break;
      hosted[i]->Destroy();
      destroyed = i;
    }
  }
  a.join();
  EXPECT_EQ(0, damaged.load()) << "rounds after which a heap was damaged";
  EXPECT_EQ(0, late.load()) << "calls whose destroy on B waited for them";
  for (auto& h : hosted) {
    EXPECT_EQ(1, h->calls.load());
    EXPECT_EQ(1, h->returned.load());
  }
  // A window whose close could not be posted stays until its thread ends.
  if (!c.postFails) {
    EXPECT_EQ(0, windowsLeft.load());
  }
}

std::string FreedName(const ::testing::TestParamInfo<FreedCase>& info) {
  return std::string(info.param.kind == kTimer ? "Timer" : "Device") +
         (info.param.onA ? "DestroyedInItsCall" : "DestroyedByBDuringItsCall") +
         (info.param.postFails ? "ThePostFailing" : "");
}
void PrintTo(const FreedCase& c, std::ostream* out) {
  *out << FreedName(::testing::TestParamInfo<FreedCase>(c, 0));
}

INSTANTIATE_TEST_SUITE_P(
    , Zel2HostThreadsFreed,
    ::testing::Values(FreedCase{kTimer, true, false}, FreedCase{kTimer, true, true},
                      FreedCase{kTimer, false, false}, FreedCase{kTimer, false, true},
                      FreedCase{kDevice, true, false}, FreedCase{kDevice, false, false}),
    FreedName);

// ---- an unload right after a destroy ----

class Zel2HostThreadsUnload : public Zel2HostThreads, public ::testing::WithParamInterface<Kind> {};

// B destroys the handle while its call runs on A and unloads the library at
// once; the call, which waits for that, then returns into the library.
TEST_P(Zel2HostThreadsUnload, AnUnloadRightAfterADestroyDuringACallLetsTheCallReturn) {
  const Kind kind = GetParam();
  Watchdog watchdog{std::string(kKindNames[kind]) + " while B destroys and unloads"};
  std::unique_ptr<Hosted> hosted = Make(kind);
  std::atomic<int> inside{0}, unloaded{0}, sawUnload{0}, done{0}, windowsLeft{-1};
  hosted->during = [&] {
    inside = 1;
    sawUnload = WaitUntil([&] { return unloaded.load() != 0; });
  };
  std::thread a([&] {
    hosted->Make();
    hosted->Provoke();
    PumpUntil([&] { return done.load() != 0; }, kLimitMs);
    PumpFor(50);
    windowsLeft = WindowsOf(GetCurrentThreadId());
  });
  EXPECT_TRUE(WaitUntil([&] { return inside.load() != 0; }));
  hosted->Destroy();
  FreeLibrary(module_);
  module_ = nullptr;
  unloaded = 1;
  EXPECT_TRUE(WaitUntil([&] { return hosted->returned.load() != 0; }));
  done = 1;
  a.join();
  EXPECT_EQ(1, sawUnload.load()) << "the destroy waited for the call";
  EXPECT_EQ(0, windowsLeft.load());
}

INSTANTIATE_TEST_SUITE_P(, Zel2HostThreadsUnload, ::testing::Values(kTimer, kDevice), KindName);

// 100 rounds: B loads the library, A (pumping all the time) makes a
// navigation handle, B destroys it and unloads the library at once; A wakes
// for the close of the timer window left on it, which must run none of the
// unloaded library's code, while B's unload goes on.
TEST_F(Zel2HostThreads, ATimerWindowLeftOnAPumpingThreadClosesWithoutTheUnloadedLibrary) {
  Watchdog watchdog{"a timer window closing on A while B unloads"};
  FreeLibrary(module_);  // each round loads its own
  module_ = nullptr;
  std::atomic<std::function<void()>*> request{nullptr};
  std::atomic<int> quit{0}, windowsLeft{-1};
  std::thread a([&] {
    while (!quit) {
      if (std::function<void()>* f = request.load()) {
        (*f)();
        request = nullptr;
      }
      PumpUntil([&] { return quit || request.load(); }, kWaitMs);
    }
    PumpFor(50);
    windowsLeft = WindowsOf(GetCurrentThreadId());
  });
  constexpr int kRounds = 100;
  int unloaded = 0;
  for (int i = 0; i < kRounds; ++i) {
    HMODULE module = LoadLibraryW(L"KestrinZel2.dll");
    if (!module) {
      ADD_FAILURE() << "round " << i << ": " << GetLastError();
      break;
    }
    auto get =
        reinterpret_cast<KestrinZelGetInterface>(GetProcAddress(module, MAKEINTRESOURCEA(1)));
    IAgilityPrivate<double>* agility = get();
    Navigation host(agility);
    std::function<void()> make = [&] { host.Make(); };
    request = &make;
    while (request.load()) Sleep(0);
    host.Destroy();
    FreeLibrary(module);
    unloaded += GetModuleHandleW(L"KestrinZel2.dll") == nullptr;
  }
  quit = 1;
  a.join();
  EXPECT_EQ(kRounds, unloaded);
  EXPECT_EQ(0, windowsLeft.load());
}

// ---- destroys at any moment around a call ----

class Zel2HostThreadsRace : public Zel2HostThreads, public ::testing::WithParamInterface<Kind> {};

// 200 rounds: A makes a handle and provokes its call, which sends to B and
// then works for 0 to 0.3 ms; B destroys the handle from its own code 0 to
// 1.9 ms after the provocation, before, during or after the call, while it
// runs what A sends it.
TEST_P(Zel2HostThreadsRace, DestroysAtAnyMomentAroundACall) {
  const Kind kind = GetParam();
  constexpr int kRounds = 200;
  std::unique_ptr<Hosted> hosted[kRounds];
  for (auto& h : hosted) h = Make(kind);
  std::function<void()> nothing = [] {};
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  // Pumps what comes for steps tenths of a millisecond.
  auto work = [&](int steps) {
    LARGE_INTEGER start, now;
    QueryPerformanceCounter(&start);
    do {
      PumpPending();
      QueryPerformanceCounter(&now);
    } while (now.QuadPart - start.QuadPart < frequency.QuadPart * steps / 10000);
  };
  std::atomic<int> provoked{-1}, destroyed{-1}, quit{0}, overlapped{0}, windowsLeft{-1};
  std::atomic<int> stageA{0}, stageB{0}, finished{0};
  Watchdog watchdog(kKindNames[kind] + std::string(", destroyed by B at any moment"), [&] {
    return "round " + std::to_string(provoked.load()) + ", destroyed " +
           std::to_string(destroyed.load()) + ", A at " + std::to_string(stageA.load()) +
           ", B at " + std::to_string(stageB.load());
  });
  std::thread a([&] {
    for (int i = 0; i < kRounds && !quit; ++i) {
      Hosted& h = *hosted[i];
      h.during = [&, i] {
        stageA = 4;
        SendToB(&nothing);
        stageA = 5;
        work(i % 4);
        if (destroyed.load() == i) ++overlapped;
        stageA = 6;
      };
      stageA = 1;
      h.Make();
      provoked = i;
      stageA = 2;
      h.Provoke();
      stageA = 3;
      PumpUntil([&] { return destroyed.load() == i || quit; }, kWaitMs);
    }
    PumpFor(50);
    windowsLeft = WindowsOf(GetCurrentThreadId());
    finished = 1;
  });
  for (int i = 0; i < kRounds; ++i) {
    stageB = 1;
    if (!PumpUntil([&] { return provoked.load() == i; }, kWaitMs)) {
      ADD_FAILURE() << "round " << i << " was not provoked";
      quit = 1;
      break;
    }
    stageB = 2;
    work(i % 20);
    stageB = 3;
    hosted[i]->Destroy();
    stageB = 4;
    destroyed = i;
    watchdog.Kick();
  }
  // The last round's call may still send to this thread.
  PumpUntil([&] { return finished.load() != 0; }, kLimitMs);
  a.join();
  int heard = 0;
  for (auto& h : hosted) {
    EXPECT_LE(h->calls.load(), 1);
    EXPECT_EQ(h->calls.load(), h->returned.load());
    heard += h->calls.load();
  }
  printf("%d of %d handles heard their call, %d destroyed during it\n", heard, kRounds,
         overlapped.load());
  EXPECT_EQ(0, windowsLeft.load());
}

INSTANTIATE_TEST_SUITE_P(, Zel2HostThreadsRace, ::testing::Values(kTimer, kDevice), KindName);

}  // namespace
