// Loading a DLL into a running program (injection.h), against the tools'
// child program and the probe DLL: where the DLL's code runs, how a failed
// set-up and a program that takes no messages come back, and a program whose
// only thread is busy in the allocator.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "import_hook.h"
#include "injection.h"
#include "process_runner.h"

namespace {

std::string Child(const std::string& arguments) {
  return "\"" + WinePath(KESTRIN_TOOLS_CHILD_EXE) + "\" " + arguments;
}

// A child started with `arguments`, its window, and what the probe noted in it.
class Target {
 public:
  explicit Target(const std::string& arguments) {
    process_ = StartProgram(Child(arguments), &pid_);
    const std::string title = "KestrinToolsChild " + std::to_string(pid_);
    // A child that is the first program of its architecture in this Wine
    // session can take seconds to start: 20 s only guards against a hang.
    for (int i = 0; process_ && !window_ && i < 800; ++i) {
      window_ = FindWindowExA(HWND_MESSAGE, nullptr, nullptr, title.c_str());
      if (!window_ && WaitForSingleObject(process_, 25) != WAIT_TIMEOUT) break;  // it ended
    }
    notes_ = WinePath(KESTRIN_INJECTION_PROBE_DLL) + "." + std::to_string(pid_) + ".txt";
    DeleteFileA(notes_.c_str());  // absent is fine
  }
  ~Target() {
    if (process_) {
      TerminateProcess(process_, 0);
      WaitForSingleObject(process_, 5000);
      CloseHandle(process_);
    }
    DeleteFileA(notes_.c_str());
  }
  HWND window() const { return window_; }
  DWORD windowThread() const { return GetWindowThreadProcessId(window_, nullptr); }
  // The probe's lines, "loaded-on TID" and "set-up-on TID", as written.
  std::vector<std::string> Notes() const {
    std::vector<std::string> lines;
    std::ifstream in(notes_);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  // Still running, and still answering its messages.
  bool Answers() const {
    DWORD_PTR result = 0;
    return WaitForSingleObject(process_, 0) == WAIT_TIMEOUT &&
           SendMessageTimeoutA(window_, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &result);
  }

 private:
  HANDLE process_ = nullptr;
  DWORD pid_ = 0;
  HWND window_ = nullptr;
  std::string notes_;
};

std::wstring ProbeDll() {
  const std::string path = WinePath(KESTRIN_INJECTION_PROBE_DLL);
  return std::wstring(path.begin(), path.end());
}

TEST(InjectIntoWindowThreadTest, TheDllLoadsAndSetsUpOnTheWindowsOwnThread) {
  Target target("window 20000");
  ASSERT_TRUE(target.window());
  std::string error;
  ASSERT_TRUE(InjectIntoWindowThread(target.window(), ProbeDll(), 10000, &error)) << error;
  const std::string thread = std::to_string(target.windowThread());
  // Nothing of ours ran there on a thread of its own: the program loaded the
  // DLL itself, inside its message loop, and set it up there after DllMain.
  EXPECT_EQ(target.Notes(),
            (std::vector<std::string>{"loaded-on " + thread, "set-up-on " + thread}));
  EXPECT_TRUE(target.Answers());
}

TEST(InjectIntoWindowThreadTest, AProgramBusyAllocatingTakesItEveryTime) {
  // Each child's only thread allocates without a break between its messages:
  // a thread interrupted there to make a remote thread corrupts the heap or
  // deadlocks under Wine.
  for (int i = 0; i < 10; ++i) {
    SCOPED_TRACE(i);
    Target target("window 20000");
    ASSERT_TRUE(target.window());
    std::string error;
    ASSERT_TRUE(InjectIntoWindowThread(target.window(), ProbeDll(), 10000, &error)) << error;
    EXPECT_TRUE(target.Answers());
  }
}

// A target that takes a message the moment the hook is set loads the DLL and
// reports before the injector's next step. SetWindowsHookExW, as this
// program's injector calls it, returns here only once the target has done so.
using SetWindowsHookExWFn = HHOOK(WINAPI*)(int, HOOKPROC, HINSTANCE, DWORD);
SetWindowsHookExWFn g_RealSetWindowsHookExW;
HWND g_QuickTarget;

HHOOK WINAPI QuickTargetSetWindowsHookExW(int id, HOOKPROC proc, HINSTANCE module, DWORD thread) {
  HHOOK hook = g_RealSetWindowsHookExW(id, proc, module, thread);
  DWORD processId = 0;
  if (!hook || !GetWindowThreadProcessId(g_QuickTarget, &processId)) return hook;
  HANDLE loaded =
      OpenEventW(SYNCHRONIZE, FALSE, InjectionLoadedEventName(processId).c_str());
  for (int i = 0; loaded && i < 100; ++i) {  // at most 10 s
    PostMessageW(g_QuickTarget, WM_NULL, 0, 0);
    if (WaitForSingleObject(loaded, 100) == WAIT_OBJECT_0) break;
  }
  if (loaded) CloseHandle(loaded);
  return hook;
}

TEST(InjectIntoWindowThreadTest, ATargetThatReportsAtOnceIsHeard) {
  Target target("window 20000");
  ASSERT_TRUE(target.window());
  g_QuickTarget = target.window();
  ImportHook quick(GetModuleHandleW(nullptr), "user32.dll", "SetWindowsHookExW",
                   reinterpret_cast<void*>(&QuickTargetSetWindowsHookExW),
                   reinterpret_cast<void**>(&g_RealSetWindowsHookExW));
  ASSERT_TRUE(quick.installed());
  std::string error;
  EXPECT_TRUE(InjectIntoWindowThread(target.window(), ProbeDll(), 5000, &error)) << error;
}

TEST(InjectIntoWindowThreadTest, FailuresComeBackWithTheirReason) {
  const struct {
    const char* m_Name;
    const char* m_Child;
    const char* m_SetUp;  // KESTRIN_PROBE_SET_UP for the child; null: unset
    const wchar_t* m_Dll;  // null: the probe
    DWORD m_TimeoutMs;
    const char* m_Error;
    DWORD m_AtMostMs;
  } cases[] = {
      {"the set-up fails", "window 20000", "fail", nullptr, 10000,
       "the DLL loaded but its set-up failed", 5000},
      {"the program takes no messages", "deaf 20000", nullptr, nullptr, 1000,
       "the DLL did not report its set-up within 1000 ms", 3000},
      {"no such DLL", "window 20000", nullptr, L"C:\\no\\such.dll", 10000,
       "cannot load the DLL (error 126)", 1000},
      {"the DLL has no hook procedure", "window 20000", nullptr, L"kernel32.dll", 10000,
       "the DLL exports no KestrinInjectedHook", 1000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.m_Name);
    SetEnvironmentVariableA("KESTRIN_PROBE_SET_UP", c.m_SetUp);
    Target target(c.m_Child);
    SetEnvironmentVariableA("KESTRIN_PROBE_SET_UP", nullptr);
    ASSERT_TRUE(target.window());
    std::string error;
    const DWORD start = GetTickCount();
    EXPECT_FALSE(InjectIntoWindowThread(target.window(), c.m_Dll ? c.m_Dll : ProbeDll(),
                                        c.m_TimeoutMs, &error));
    EXPECT_LE(GetTickCount() - start, c.m_AtMostMs);
    EXPECT_EQ(error, c.m_Error);
  }
}

}  // namespace
