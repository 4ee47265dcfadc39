// The one-shot timer (CTimerHelper with its worker and window), the idle
// detection's hook, and navigation handles with their host.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "dbwin_monitor.h"
#include "import_hook.h"
#include "navigation_handle.h"
#include "pump.h"
#include "recording_hosts.h"
#include "tic_clock.h"

namespace {

uint16_t Elapsed(uint16_t from, uint16_t to) { return static_cast<uint16_t>(to - from); }

// Records the tic and the thread of each expiry.
class RecordingTimer : public CMyTimer {
 public:
  void OnTimer() override {
    tics.push_back(CurrentTic16());
    threads.push_back(GetCurrentThreadId());
  }
  std::vector<uint16_t> tics;
  std::vector<DWORD> threads;
};

class Timer : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(nullptr, timer_.m_pHelper); }
  CTimerHelper& Helper() { return *timer_.m_pHelper; }
  // Pumps until the expiry count reaches count, or 2 s.
  bool PumpUntilExpiries(size_t count) {
    return PumpUntil([&] { return timer_.tics.size() >= count; }, 2000);
  }
  // Waits, without pumping, until the worker has counted count expiries.
  bool WaitUntilCount(uint16_t count) {
    for (int i = 0; i < 2000 && Helper().ExpiryCount() < count; ++i) Sleep(1);
    return Helper().ExpiryCount() >= count;
  }
  RecordingTimer timer_;
};

TEST_F(Timer, OneExpiryOnceTheOddDurationHasPassed) {
  struct Case {
    uint16_t duration, atLeast;
  };
  const Case cases[] = {{100, 101}, {2, 3}, {3, 3}, {0, 1}, {1, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.duration);
    timer_.tics.clear();
    const uint16_t start = CurrentTic16();
    Helper().Start(start, c.duration);
    ASSERT_TRUE(PumpUntilExpiries(1));
    EXPECT_GE(Elapsed(start, timer_.tics[0]), c.atLeast);
    PumpFor(60);  // and no second one
    EXPECT_EQ(1u, timer_.tics.size());
    EXPECT_EQ(GetCurrentThreadId(), timer_.threads[0]);
  }
}

TEST_F(Timer, AStartLongEnoughInThePastExpiresAtOnce) {
  const DWORD before = GetTickCount();
  Helper().Start(static_cast<uint16_t>(CurrentTic16() - 30000), 5001);
  ASSERT_TRUE(PumpUntilExpiries(1));
  EXPECT_LT(GetTickCount() - before, 500u);  // 5001 tics would be over a second
}

TEST_F(Timer, ARearmingBeforeTheExpiryReplacesTheFirstArming) {
  const uint16_t first = CurrentTic16();
  Helper().Start(first, 2000);  // about 410 ms
  Sleep(20);
  const uint16_t second = CurrentTic16();
  Helper().Start(second, 50);
  ASSERT_TRUE(PumpUntilExpiries(1));
  EXPECT_GE(Elapsed(second, timer_.tics[0]), 51);
  EXPECT_LT(Elapsed(first, timer_.tics[0]), 2000);
  PumpFor(600);  // past the first arming's end: nothing more
  EXPECT_EQ(1u, timer_.tics.size());
}

TEST_F(Timer, TwoExpiriesBeforeTheWindowHandlesTheFirstCallOnce) {
  Helper().Start(CurrentTic16(), 0);
  ASSERT_TRUE(WaitUntilCount(1));
  Helper().Start(CurrentTic16(), 0);
  ASSERT_TRUE(WaitUntilCount(2));
  PumpFor(100);
  EXPECT_EQ(1u, timer_.tics.size());
}

TEST_F(Timer, AWmCommandFromElsewhereCountsByItsHighWordAndCount) {
  HWND window = Helper().m_hWnd;
  ASSERT_NE(nullptr, window);
  Helper().Start(CurrentTic16(), 0);
  ASSERT_TRUE(PumpUntilExpiries(1));
  const LPARAM current = Helper().ExpiryCount();
  EXPECT_EQ(0, SendMessageW(window, WM_COMMAND, 0x80000000u, current));
  EXPECT_EQ(2u, timer_.tics.size());  // the current count: OnTimer again
  EXPECT_EQ(0, SendMessageW(window, WM_COMMAND, 0x80000000u, current + 1));
  EXPECT_EQ(2u, timer_.tics.size());  // not current: dropped
  // Another high word is not the timer's: default handling, no OnTimer.
  LRESULT result = -1;
  EXPECT_FALSE(Helper().ProcessWindowMessage(window, WM_COMMAND, 0x40000000u, current, result, 0));
  EXPECT_TRUE(Helper().ProcessWindowMessage(window, WM_COMMAND, 0x80000000u, current + 1, result, 0));
  EXPECT_EQ(0, result);
  EXPECT_EQ(2u, timer_.tics.size());
}

TEST_F(Timer, AWorkerThatOutlivesTheHelperStillHasItsWords) {
  // A worker held up past the 1000 ms Destroy waits: suspended while it
  // waits for its event.
  Sleep(50);
  HANDLE worker = nullptr;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), Helper().Worker(), GetCurrentProcess(), &worker,
                              0, FALSE, DUPLICATE_SAME_ACCESS));
  ASSERT_NE(static_cast<DWORD>(-1), SuspendThread(worker));
  const DWORD before = GetTickCount();
  delete timer_.m_pHelper;
  timer_.m_pHelper = nullptr;
  EXPECT_GE(GetTickCount() - before, 900u);
  // Let go, it finds the stop flag in the block it still holds and ends.
  ResumeThread(worker);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(worker, 3000));
  DWORD code = 1;
  EXPECT_TRUE(GetExitCodeThread(worker, &code));
  EXPECT_EQ(0u, code);
  CloseHandle(worker);
}

// Slow: the idle wait is 13.4 s.
TEST_F(Timer, DisarmedTheWorkerWakesEvery13421Milliseconds) {
  ASSERT_TRUE(PumpUntil([&] { return Helper().Wakeups() >= 1; }, 1000));
  const DWORD start = GetTickCount();
  Sleep(12500);
  EXPECT_EQ(1u, Helper().Wakeups());
  ASSERT_TRUE(PumpUntil([&] { return Helper().Wakeups() >= 2; }, 3000));
  const DWORD at = GetTickCount() - start;
  EXPECT_GE(at, 12500u);
  EXPECT_LE(at, 14500u);
  EXPECT_TRUE(timer_.tics.empty());
}

// ---- navigation handles ----

TEST(NavigationHandles, ModeTimerAndTheHostsThread) {
  RecordingNavigationHost host;
  NavigationHandle* handle = CreateNavigationHandle(&host);
  ASSERT_NE(nullptr, handle);
  ASSERT_NE(nullptr, handle->object);
  EXPECT_EQ(&host, handle->host);
  EXPECT_EQ(handle, handle->object->m_Owner);
  EXPECT_EQ(0, GetNavigationMode(handle));
  SetNavigationMode(handle, 0xBEEF);
  EXPECT_EQ(0xBEEF, GetNavigationMode(handle));
  StartNavigationTimer(handle, CurrentTic16(), 10);
  ASSERT_TRUE(PumpUntil([&] { return !host.timerThreads.empty(); }, 2000));
  EXPECT_THAT(host.timerThreads, ::testing::ElementsAre(std::this_thread::get_id()));
  DestroyNavigationHandle(handle);
}

TEST(NavigationHandles, OneHookForTwoHandlesAndAnyDestroyRemovesIt) {
  for (int destroyed = 0; destroyed < 2; ++destroyed) {
    SCOPED_TRACE(destroyed ? "the second destroyed" : "the first destroyed");
    RecordingNavigationHost host;
    ASSERT_EQ(nullptr, IdleHook());
    NavigationHandle* handles[2] = {CreateNavigationHandle(&host), nullptr};
    const HHOOK hook = IdleHook();
    ASSERT_NE(nullptr, hook);
    handles[1] = CreateNavigationHandle(&host);
    EXPECT_EQ(hook, IdleHook());
    EXPECT_EQ(handles[1]->object, static_cast<CAgilityPrivate<double>::CPrivate2*>(
                                      CurrentDetector()));
    DestroyNavigationHandle(handles[destroyed]);
    EXPECT_EQ(nullptr, IdleHook());
    EXPECT_EQ(nullptr, CurrentDetector());
    DestroyNavigationHandle(handles[1 - destroyed]);
    EXPECT_EQ(nullptr, IdleHook());
  }
}

// The hook procedure carries the means of an idle notice; nothing in the
// library's interfaces asks for one. WH_FOREGROUNDIDLE hooks install but are
// never called under Wine, so the procedure is called here directly.
TEST(NavigationHandles, AnIdleRequestReachesTheNewestHostOnce) {
  RecordingNavigationHost older, newer;
  NavigationHandle* a = CreateNavigationHandle(&older);
  NavigationHandle* b = CreateNavigationHandle(&newer);
  ForegroundIdleHookProc(HC_ACTION, 0, 0);
  EXPECT_EQ(0, newer.idles);  // nothing requested
  RequestIdleNotification();
  ForegroundIdleHookProc(3, 0, 0);  // not HC_ACTION: the request stays
  EXPECT_EQ(0, newer.idles);
  ForegroundIdleHookProc(HC_ACTION, 0, 0);
  ForegroundIdleHookProc(HC_ACTION, 0, 0);
  EXPECT_EQ(1, newer.idles);
  EXPECT_EQ(0, older.idles);
  DestroyNavigationHandle(b);
  RequestIdleNotification();
  ForegroundIdleHookProc(HC_ACTION, 0, 0);  // no current detector: kept for later
  EXPECT_EQ(0, older.idles);
  DestroyNavigationHandle(a);
  NavigationHandle* c = CreateNavigationHandle(&older);
  ForegroundIdleHookProc(HC_ACTION, 0, 0);
  EXPECT_EQ(1, older.idles);
  DestroyNavigationHandle(c);
}

TEST(NavigationHandles, AHandleWithoutItsObjectAnswersZeroAndDoesNothing) {
  RecordingNavigationHost host;
  NavigationHandle* handle = new NavigationHandle{nullptr, &host};
  EXPECT_EQ(0, GetNavigationMode(handle));
  SetNavigationMode(handle, 5);
  StartNavigationTimer(handle, CurrentTic16(), 0);
  PumpFor(30);
  EXPECT_TRUE(host.timerThreads.empty());
  DestroyNavigationHandle(handle);
  // A null handle likewise.
  EXPECT_EQ(0, GetNavigationMode(nullptr));
  SetNavigationMode(nullptr, 5);
  StartNavigationTimer(nullptr, 0, 0);
  DestroyNavigationHandle(nullptr);
}

// A host thread other than the one that made the handle destroys it while
// the handle's OnTimer runs on its own thread: the destroy returns at once
// (the call may be waiting for the destroying thread), the call ends
// undisturbed, and the object goes on its own thread once the call is over
// and its window has closed.
TEST(NavigationHandles, DestroyedOnAnotherThreadDuringAnOnTimerReturnsAtOnce) {
  struct Context {
    std::atomic<int> inside{0}, destroyed{0}, destroyedDuringOnTimer{0};
  } context;
  RecordingNavigationHost host;
  host.context = &context;
  host.onTimer = [](RecordingNavigationHost* h) {
    auto* c = static_cast<Context*>(h->context);
    c->inside = 1;
    for (int i = 0; i < 3000 && !c->destroyed; ++i) Sleep(1);
    c->destroyedDuringOnTimer = c->destroyed.load();
  };
  NavigationHandle* handle = CreateNavigationHandle(&host);
  ASSERT_NE(nullptr, handle->object->m_pHelper);
  const HWND window = handle->object->m_pHelper->m_hWnd;
  std::thread destroyer([&] {
    while (!context.inside) Sleep(1);
    DestroyNavigationHandle(handle);
    context.destroyed = 1;
  });
  StartNavigationTimer(handle, CurrentTic16(), 1);
  ASSERT_TRUE(PumpUntil([&] { return context.destroyed.load() != 0; }, 3000));
  destroyer.join();
  EXPECT_EQ(1, context.destroyedDuringOnTimer.load());
  EXPECT_EQ(1u, host.timerThreads.size());
  // The close reaches the window on this thread.
  EXPECT_TRUE(PumpUntil([&] { return !IsWindow(window); }, 2000));
  EXPECT_EQ(1u, host.timerThreads.size());
  EXPECT_EQ(nullptr, IdleHook());
  EXPECT_EQ(nullptr, CurrentDetector());
}

// Destroyed on another thread while an expiry waits in the window's queue:
// the host hears nothing after Destroy has returned, and a handle made
// afterwards keeps its hook and detector when the old object finally goes.
TEST(NavigationHandles, DestroyedOnAnotherThreadNoExpiryComesAfter) {
  RecordingNavigationHost host, next;
  NavigationHandle* handle = CreateNavigationHandle(&host);
  ASSERT_NE(nullptr, handle->object->m_pHelper);
  CTimerHelper* helper = handle->object->m_pHelper;
  const HWND window = helper->m_hWnd;
  StartNavigationTimer(handle, CurrentTic16(), 1);
  for (int i = 0; i < 2000 && helper->ExpiryCount() == 0; ++i) Sleep(1);  // posted, not pumped
  ASSERT_EQ(1, helper->ExpiryCount());
  std::thread([&] { DestroyNavigationHandle(handle); }).join();
  NavigationHandle* later = CreateNavigationHandle(&next);
  const HHOOK hook = IdleHook();
  ASSERT_NE(nullptr, hook);
  EXPECT_TRUE(PumpUntil([&] { return !IsWindow(window); }, 2000));
  EXPECT_TRUE(host.timerThreads.empty());
  EXPECT_EQ(hook, IdleHook());
  EXPECT_EQ(later->object, static_cast<CAgilityPrivate<double>::CPrivate2*>(CurrentDetector()));
  DestroyNavigationHandle(later);
}

// A handle whose OnTimer destroys it: the object goes once the call is over.
TEST(NavigationHandles, DestroyedFromItsOwnOnTimer) {
  RecordingNavigationHost host;
  NavigationHandle* handle = CreateNavigationHandle(&host);
  host.context = &handle;
  host.onTimer = [](RecordingNavigationHost* h) {
    DestroyNavigationHandle(*static_cast<NavigationHandle**>(h->context));
  };
  const HWND window = handle->object->m_pHelper->m_hWnd;
  StartNavigationTimer(handle, CurrentTic16(), 1);
  EXPECT_TRUE(PumpUntil([&] { return !IsWindow(window); }, 2000));
  EXPECT_EQ(1u, host.timerThreads.size());
  EXPECT_EQ(nullptr, IdleHook());
}

// The timer's window class or window cannot be made: a debug line says so,
// the handle has no timer (StartTimer does nothing, no worker runs), and the
// class registration is tried again by the next handle, whose timer works.
ATOM WINAPI FailingRegisterClassExW(const WNDCLASSEXW*) {
  SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return 0;
}
HWND WINAPI FailingCreateWindowExW(DWORD, LPCWSTR, LPCWSTR, DWORD, int, int, int, int, HWND, HMENU,
                                   HINSTANCE, LPVOID) {
  SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return nullptr;
}

TEST(NavigationHandles, ATimerWindowThatCannotBeMadeIsSeenAndTriedAgain) {
  struct Case {
    const char* function;
    void* replacement;
    const char* line;
  } cases[] = {
      {"RegisterClassExW", reinterpret_cast<void*>(&FailingRegisterClassExW),
       "[KestrinZel2] RegisterClassExW() failed: <8> "},
      {"CreateWindowExW", reinterpret_cast<void*>(&FailingCreateWindowExW),
       "[KestrinZel2] CreateWindowExW() failed: <8> "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.function);
    DebugMonitor monitor;
    ASSERT_TRUE(monitor.Start());
    RecordingNavigationHost host;
    NavigationHandle* failed = nullptr;
    {
      ImportHook hook(GetModuleHandleW(nullptr), "user32.dll", c.function, c.replacement);
      ASSERT_TRUE(hook.installed());
      failed = CreateNavigationHandle(&host);
    }
    ASSERT_NE(nullptr, failed);
    ASSERT_NE(nullptr, failed->object);
    EXPECT_EQ(nullptr, failed->object->m_pHelper);  // no window, no worker
    StartNavigationTimer(failed, CurrentTic16(), 1);
    ASSERT_TRUE(monitor.WaitForText("[KestrinZel2] ", 2000));
    monitor.Stop();
    const std::vector<std::string> lines = monitor.TextsFrom(GetCurrentProcessId());
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(0u, lines[0].find(c.line)) << lines[0];
    EXPECT_EQ('\n', lines[0].back());

    NavigationHandle* next = CreateNavigationHandle(&host);
    ASSERT_NE(nullptr, next->object->m_pHelper);
    StartNavigationTimer(next, CurrentTic16(), 1);
    EXPECT_TRUE(PumpUntil([&] { return host.timerThreads.size() == 1; }, 2000));
    PumpFor(30);
    EXPECT_EQ(1u, host.timerThreads.size());  // the failed handle's StartTimer did nothing
    DestroyNavigationHandle(next);
    DestroyNavigationHandle(failed);
  }
}

}  // namespace
