// 1000 create/destroy cycles of device and navigation handles leave nothing
// behind: no thread, window, hook or handle of the process, no GDI or USER
// object. No agent runs (the library looks for its program in a folder that
// does not exist), so each device handle makes and closes the library's
// whole connection: client window, idle hook, agent lookup.
#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

#include "device_access.h"
#include "navigation_handle.h"
#include "pump.h"
#include "recording_hosts.h"

namespace {

struct ProcessCounts {
  DWORD handles = 0;
  DWORD gdiObjects = 0;
  DWORD userObjects = 0;
  int threads = 0;
  int windows = 0;  // top-level and message-only windows of this thread
};

BOOL CALLBACK CountWindow(HWND, LPARAM count) {
  ++*reinterpret_cast<int*>(count);
  return TRUE;
}

// Open handles, found by asking for each handle value in turn: Wine's
// GetProcessHandleCount answers 0.
DWORD OpenHandles() {
  DWORD count = 0, flags;
  for (uintptr_t value = 4; value < 0x8000; value += 4)
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
  return count;
}

// GetGuiResources answers 0 under Wine: there the GDI and USER counts show
// nothing, and the windows are counted one by one.
ProcessCounts Count() {
  ProcessCounts c;
  c.handles = OpenHandles();
  c.gdiObjects = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
  c.userObjects = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++c.threads;
  CloseHandle(snapshot);
  EnumThreadWindows(GetCurrentThreadId(), CountWindow, reinterpret_cast<LPARAM>(&c.windows));
  for (HWND w = nullptr; (w = FindWindowExW(HWND_MESSAGE, w, nullptr, nullptr));)
    if (GetWindowThreadProcessId(w, nullptr) == GetCurrentThreadId()) ++c.windows;
  return c;
}

TEST(Leaks, AThousandCyclesOfBothHandleKindsLeaveNothingBehind) {
  SetEnvironmentVariableA("ProgramFiles", "C:\\no such folder");
  RecordingDeviceHost deviceHost;
  RecordingNavigationHost navHost;
  // One cycle first: what is made once per process (window classes, the
  // library's registered message, the loader's own tables) is made then.
  auto cycle = [&](int i) {
    DeviceHandle* device = CreateDeviceHandle(&deviceHost);
    NavigationHandle* nav = CreateNavigationHandle(&navHost);
    ASSERT_NE(nullptr, device);
    ASSERT_NE(nullptr, nav);
    if (i % 100 == 0) {
      // Now and then an expiry on the way, and the windows' messages pumped.
      StartNavigationTimer(nav, CurrentTic16(), 0);
      PumpUntil([&] { return navHost.timerThreads.size() > static_cast<size_t>(i / 100); }, 2000);
    }
    if (i % 2) {
      DestroyDeviceHandle(device);
      DestroyNavigationHandle(nav);
    } else {
      DestroyNavigationHandle(nav);
      DestroyDeviceHandle(device);
    }
  };
  cycle(0);
  PumpFor(50);
  const ProcessCounts before = Count();
  {
    // The counts see what a pair of live handles holds: the worker, its
    // event and thread handles, the timer window and the client window.
    DeviceHandle* device = CreateDeviceHandle(&deviceHost);
    NavigationHandle* nav = CreateNavigationHandle(&navHost);
    const ProcessCounts during = Count();
    EXPECT_GT(during.handles, before.handles);
    EXPECT_EQ(before.threads + 1, during.threads);
    EXPECT_GE(during.windows, before.windows + 2);  // Wine adds an IME window
    DestroyNavigationHandle(nav);
    DestroyDeviceHandle(device);
  }
  for (int i = 1; i <= 1000; ++i) {
    cycle(i);
    if (HasFatalFailure()) return;
  }
  // A worker that outlived its Destroy's 1000 ms wait on a loaded machine
  // ends by itself soon after: give it the time.
  ProcessCounts after;
  PumpUntil([&] {
    after = Count();
    return after.threads == before.threads && after.handles == before.handles;
  }, 3000);
  printf("before: %lu handles, %lu GDI, %lu USER, %d threads, %d windows\n", before.handles,
         before.gdiObjects, before.userObjects, before.threads, before.windows);
  printf("after:  %lu handles, %lu GDI, %lu USER, %d threads, %d windows\n", after.handles,
         after.gdiObjects, after.userObjects, after.threads, after.windows);
  EXPECT_EQ(before.handles, after.handles);
  EXPECT_EQ(before.gdiObjects, after.gdiObjects);
  EXPECT_EQ(before.userObjects, after.userObjects);
  EXPECT_EQ(before.threads, after.threads);
  EXPECT_EQ(before.windows, after.windows);
  EXPECT_EQ(nullptr, IdleHook());
  EXPECT_EQ(nullptr, CurrentDetector());
  EXPECT_EQ(nullptr, CurrentDevice());
  EXPECT_EQ(11u, navHost.timerThreads.size());
}

}  // namespace
