// Kestrin1.dll in a host whose threads come and go, written from the public
// header alone: a worker thread builds the process's first CKestrin (as hosts
// that set up their plug-ins on a worker do), this thread builds one and
// keeps it, and the worker ends. A stand-in manager window of this process
// plays the agent: it records the library's requests, and the tests post the
// agent's notices to the client window named in the library's last hello.
// Each case runs in a process of its own (one connection per process).
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Kestrin1.h"
#include "manager_messages.h"
#include "message_windows.h"
#include "pump.h"
#include "stand_in_manager.h"

using namespace Kestrin1;
namespace km = kestrin::manager;

namespace {

// An event as the callback heard it, with the thread it came on.
struct Heard {
  unsigned m_Event;
  long m_Param;
  DWORD m_Thread;
  bool operator==(const Heard& o) const {
    return m_Event == o.m_Event && m_Param == o.m_Param && m_Thread == o.m_Thread;
  }
};
void PrintTo(const Heard& h, std::ostream* os) {
  *os << "{event " << h.m_Event << ", " << h.m_Param << ", thread " << h.m_Thread << "}";
}

std::mutex g_HeardLock;
std::vector<Heard> g_Heard;
long KESTRIN1_CALLBACK Record(unsigned int event, long param) {
  std::lock_guard<std::mutex> hold(g_HeardLock);
  g_Heard.push_back({event, param, GetCurrentThreadId()});
  return 0;
}
std::vector<Heard> TakeHeard() {
  std::lock_guard<std::mutex> hold(g_HeardLock);
  std::vector<Heard> heard;
  heard.swap(g_Heard);
  return heard;
}

// The window of the library's last hello, once it is a live window of this
// thread (this thread pumping meanwhile, 5 s at most); null when it is not.
HWND ConnectedHere() {
  HWND window = nullptr;
  PumpUntil([&] {
    window = StandInManager::LastWindowOf(km::ClientHello);
    return window && IsWindow(window) &&
           GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId();
  }, 5000);
  return window && IsWindow(window) &&
                 GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()
             ? window
             : nullptr;
}

// What this thread hears of one notice posted to window as the agent posts it.
std::vector<Heard> HearNotice(HWND window, uint16_t lowWord, long buttons) {
  PostMessageA(window, RegisterWindowMessageA(km::kMessageName), km::NoticeWParam(1, lowWord),
               buttons);
  PumpPending();
  return TakeHeard();
}

// The client windows of this process.
int ClientWindows() { return static_cast<int>(km::ClientWindowsOf(GetCurrentProcessId()).size()); }

class Kestrin1Host : public ::testing::Test {
 protected:
  // No agent may start from here.
  void SetUp() override {
    SetEnvironmentVariableA("ProgramFiles", "Z:\\nonexistent-kestrin1");
    CKestrin::Register(Record, GetCurrentProcessId());
    StandInManager::Requests().clear();
    TakeHeard();
  }
  StandInManager manager_;
};

// ---- the worker that made the connection ends ----

struct WorkerEnd {
  const char* m_Name;
  bool m_DestroysItsObject;  // else it ends with its object alive
  bool m_KeptBuiltWhileEnding;  // the kept object is built while the worker ends
};
void PrintTo(const WorkerEnd& c, std::ostream* os) { *os << c.m_Name; }

// While the hook is set, this thread's next window creation (the library's,
// inside the construction of an object) lets the worker end and waits until
// it has: the worker's end, which takes its client window with it, falls
// right inside the construction. The worker's thread detach in the library
// then meets this thread holding the library's lock.
HANDLE g_WorkerMayEnd = nullptr;
HANDLE g_Worker = nullptr;
bool g_WorkerEndedInside = false;
DWORD g_WaitResult = WAIT_FAILED;
HHOOK g_CreationHook = nullptr;
LRESULT CALLBACK EndWorkerOnCreation(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_CREATEWND && g_Worker && !g_WorkerEndedInside) {
    g_WorkerEndedInside = true;
    SetEvent(g_WorkerMayEnd);
    // A detach that waited for the library's lock, held here, would never
    // let the worker end (the limit only keeps this wait from hanging).
    g_WaitResult = WaitForSingleObject(g_Worker, 20000);
  }
  return CallNextHookEx(g_CreationHook, code, wParam, lParam);
}

class Kestrin1HostThreads : public Kestrin1Host, public ::testing::WithParamInterface<WorkerEnd> {};

TEST_P(Kestrin1HostThreads, TheKeptObjectHearsTheDeviceAfterTheWorkerEnded) {
  const WorkerEnd& c = GetParam();
  g_WorkerMayEnd = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE built = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE workerThread = nullptr;
  CKestrin* workers = nullptr;
  std::thread worker([&] {
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &workerThread,
                    SYNCHRONIZE, FALSE, 0);
    workers = new CKestrin();
    SetEvent(built);
    WaitForSingleObject(g_WorkerMayEnd, 20000);
    if (c.m_DestroysItsObject) {
      delete workers;
      workers = nullptr;
    }
  });
  WaitForSingleObject(built, 20000);
  PumpPending();  // the worker's hello
  HWND workerWindow = StandInManager::LastWindowOf(km::ClientHello);
  ASSERT_NE(nullptr, workerWindow);
  ASSERT_NE(GetCurrentThreadId(), GetWindowThreadProcessId(workerWindow, nullptr));

  CKestrin* kept = nullptr;
  if (c.m_KeptBuiltWhileEnding) {
    g_Worker = workerThread;
    g_CreationHook = SetWindowsHookExA(WH_CBT, EndWorkerOnCreation, nullptr, GetCurrentThreadId());
    kept = new CKestrin();
    UnhookWindowsHookEx(g_CreationHook);
    g_Worker = nullptr;
  } else {
    kept = new CKestrin();
  }
  SetEvent(g_WorkerMayEnd);  // unless a window made inside the construction did
  worker.join();
  if (g_WorkerEndedInside) {
    EXPECT_EQ(WAIT_OBJECT_0, g_WaitResult) << "the worker never ended";
  }
  ASSERT_FALSE(IsWindow(workerWindow)) << "the worker's window went with it";

  // The library says goodbye for the worker's window and hello for one of
  // this thread, through which this thread hears the device from now on.
  HWND window = ConnectedHere();
  ASSERT_NE(nullptr, window) << "the kept object is left with no client window";
  const std::vector<StandInManager::Request>& requests = StandInManager::Requests();
  auto goodbye = std::find(requests.begin(), requests.end(),
                           StandInManager::Request(km::RequestWParam(km::ClientGoodbye),
                                                   reinterpret_cast<LPARAM>(workerWindow)));
  auto hello = std::find(requests.begin(), requests.end(),
                         StandInManager::Request(km::RequestWParam(km::ClientHello),
                                                 reinterpret_cast<LPARAM>(window)));
  EXPECT_TRUE(goodbye < hello) << "goodbye for the worker's window, then hello";
  EXPECT_EQ(1, ClientWindows());
  const DWORD here = GetCurrentThreadId();
  EXPECT_THAT(HearNotice(window, 0x0306, 5),
              ::testing::ElementsAre(Heard{EventDeviceAttached, 0, here},
                                     Heard{EventDeviceEnabled, 0, here},
                                     Heard{EventButtonsChanged, 5, here}));
  EXPECT_THAT(HearNotice(window, 0x0306, 0),
              ::testing::ElementsAre(Heard{EventButtonsChanged, 0, here}));

  // Every object going closes the connection: goodbye, no window left.
  delete workers;
  StandInManager::Requests().clear();
  delete kept;
  PumpPending();
  EXPECT_THAT(StandInManager::Requests(),
              ::testing::ElementsAre(StandInManager::Request(
                  km::RequestWParam(km::ClientGoodbye), reinterpret_cast<LPARAM>(window))));
  EXPECT_EQ(0, ClientWindows());
  CloseHandle(workerThread);
  CloseHandle(built);
  CloseHandle(g_WorkerMayEnd);
}

// The kept object is built after the worker's (its thread then has a window
// that can take the connection over), or while the worker ends: the
// construction finds the worker's window alive, and the worker's end takes
// it a moment later.
INSTANTIATE_TEST_SUITE_P(
    Cases, Kestrin1HostThreads,
    ::testing::Values(WorkerEnd{"ItDestroysItsObjectFirst", true, false},
                      WorkerEnd{"ItEndsWithItsObjectAlive", false, false},
                      WorkerEnd{"ItEndsWhileTheKeptOneIsBuilt", false, true}),
    [](const ::testing::TestParamInfo<WorkerEnd>& info) { return std::string(info.param.m_Name); });

// ---- a client that works for another process ----

// The requests the stand-in received from window, from the index on.
std::vector<uint32_t> RequestsOf(HWND window, size_t from) {
  std::vector<uint32_t> codes;
  const std::vector<StandInManager::Request>& requests = StandInManager::Requests();
  for (size_t i = from; i < requests.size(); ++i)
    if (requests[i].second == reinterpret_cast<LPARAM>(window)) codes.push_back(requests[i].first);
  return codes;
}

TEST_F(Kestrin1Host, AClientWorkingForAnotherProcessSaysSoAfterEveryHello) {
  // A helper process registers for the program it serves. The agent keeps
  // that with the client window: a window that says hello anew (to a new
  // agent, or handed the connection when the first one's thread ended) says
  // again which process it works for, or the helper hears nothing while that
  // program is in front.
  constexpr unsigned long kServed = 0x00012345;
  const std::vector<uint32_t> helloForServed = {
      km::RequestWParam(km::ClientHello), km::RequestWParam(km::ClientProcessHigh, 0x0001),
      km::RequestWParam(km::ClientProcessLow, 0x2345)};

  HANDLE workerMayEnd = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE built = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::thread worker([&] {
    CKestrin first;
    SetEvent(built);
    WaitForSingleObject(workerMayEnd, 20000);
  });
  WaitForSingleObject(built, 20000);
  CKestrin kept;
  CKestrin::Register(Record, kServed);
  PumpPending();
  HWND workerWindow = StandInManager::LastWindowOf(km::ClientHello);
  ASSERT_NE(nullptr, workerWindow);

  // The worker ends: its window goes, and this thread's takes over.
  SetEvent(workerMayEnd);
  worker.join();
  HWND window = ConnectedHere();
  ASSERT_NE(nullptr, window) << "the kept object is left with no client window";
  EXPECT_EQ(helloForServed, RequestsOf(window, 0)) << "the window handed the connection";

  const size_t before = StandInManager::Requests().size();
  PostMessageA(window, RegisterWindowMessageA(km::kMessageName), km::ManagerStarted, 0);
  PumpPending();
  EXPECT_EQ(helloForServed, RequestsOf(window, before)) << "after a new agent's ManagerStarted";
  CloseHandle(built);
  CloseHandle(workerMayEnd);
}

// ---- the client window closed from outside ----

TEST_F(Kestrin1Host, AClientWindowClosedByAnotherProgramStaysAndHears) {
  // Another program posts WM_CLOSE to the client window (any program of the
  // session can find it by its name): the window stays, and its thread
  // keeps hearing the device.
  CKestrin kestrin;
  PumpPending();
  HWND window = StandInManager::LastWindowOf(km::ClientHello);
  ASSERT_NE(nullptr, window);
  PostMessageA(window, WM_CLOSE, 0, 0);
  PumpPending();
  ASSERT_TRUE(IsWindow(window));
  const DWORD here = GetCurrentThreadId();
  EXPECT_THAT(HearNotice(window, 0x0306, 2),
              ::testing::ElementsAre(Heard{EventDeviceAttached, 0, here},
                                     Heard{EventDeviceEnabled, 0, here},
                                     Heard{EventButtonsChanged, 2, here}));
}

}  // namespace
