// The thin window framework: one class registration per C++ window class,
// the per-object window procedure, message maps with chaining and default
// handling, and the window's end on its own thread or from another one.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <functional>
#include <thread>

#include "pump.h"
#include "window_impl.h"

namespace {

class CBaseWindow : public kesfw::CWindowImpl<CBaseWindow> {
 public:
  KES_BEGIN_MSG_MAP(CBaseWindow)
    KES_MESSAGE_HANDLER(WM_USER + 1, OnBase)
  KES_END_MSG_MAP()
  LRESULT OnBase(UINT, WPARAM wParam, LPARAM, BOOL&) {
    ++baseCalls;
    return static_cast<LRESULT>(wParam) + 1000;
  }
  int baseCalls = 0;
};

// Handles WM_USER itself, passes WM_USER + 1 on when wParam is odd, runs
// the function WM_USER + 3 points to, and chains to the base map.
class CDerivedWindow : public CBaseWindow {
 public:
  KES_BEGIN_MSG_MAP(CDerivedWindow)
    KES_MESSAGE_HANDLER(WM_USER, OnOwn)
    KES_MESSAGE_HANDLER(WM_USER + 1, OnMaybe)
    KES_MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
    KES_MESSAGE_HANDLER(WM_USER + 3, OnRun)
    KES_CHAIN_MSG_MAP(CBaseWindow)
  KES_END_MSG_MAP()
  ~CDerivedWindow() override { DestroyWindow(); }
  LRESULT OnOwn(UINT, WPARAM wParam, LPARAM, BOOL&) {
    ++ownCalls;
    return static_cast<LRESULT>(wParam) * 2;
  }
  LRESULT OnMaybe(UINT, WPARAM wParam, LPARAM, BOOL& handled) {
    if (wParam & 1) handled = FALSE;
    return 7;
  }
  LRESULT OnDestroy(UINT, WPARAM, LPARAM, BOOL& handled) {
    ++destroyCalls;
    handled = FALSE;
    return 0;
  }
  LRESULT OnRun(UINT, WPARAM, LPARAM lParam, BOOL&) {
    (*reinterpret_cast<std::function<void()>*>(lParam))();
    return 0;
  }
  void OnFinalMessage(HWND window) override {
    finalThread = GetCurrentThreadId();
    finalWindow = window;
  }
  int ownCalls = 0;
  int destroyCalls = 0;
  std::atomic<HWND> finalWindow{nullptr};
  std::atomic<DWORD> finalThread{0};
};

TEST(WindowFramework, OneClassPerCppClassRegisteredOnceWithItsGeneratedName) {
  CDerivedWindow a, b;
  ASSERT_NE(nullptr, a.Create(nullptr));
  ASSERT_NE(nullptr, b.Create(nullptr));
  const ATOM atom = static_cast<ATOM>(GetClassLongPtrW(a.m_hWnd, GCW_ATOM));
  EXPECT_EQ(atom, static_cast<ATOM>(GetClassLongPtrW(b.m_hWnd, GCW_ATOM)));
  // The derived class has no class description of its own: it is the base's.
  EXPECT_EQ(&CDerivedWindow::GetWndClassInfo(), &CBaseWindow::GetWndClassInfo());

  wchar_t name[64];
  ASSERT_NE(0, GetClassNameW(a.m_hWnd, name, 64));
  wchar_t expected[64];
  swprintf(expected, 64, L"ATL:%p", static_cast<void*>(&CBaseWindow::GetWndClassInfo()));
  EXPECT_STREQ(expected, name);
  EXPECT_EQ(static_cast<LONG_PTR>(CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS),
            static_cast<LONG_PTR>(GetClassLongPtrW(a.m_hWnd, GCL_STYLE)));
  EXPECT_EQ(COLOR_WINDOW + 1, static_cast<int>(GetClassLongPtrW(a.m_hWnd, GCLP_HBRBACKGROUND)));
  EXPECT_EQ(kesfw::FrameworkModule(),
            reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(a.m_hWnd, GWLP_HINSTANCE)));
  // A top-level window, never shown, style 0.
  EXPECT_EQ(nullptr, GetParent(a.m_hWnd));
  EXPECT_FALSE(IsWindowVisible(a.m_hWnd));
}

TEST(WindowFramework, EachWindowReachesItsOwnObject) {
  CDerivedWindow a, b;
  ASSERT_NE(nullptr, a.Create(nullptr));
  ASSERT_NE(nullptr, b.Create(nullptr));
  EXPECT_EQ(42, SendMessageW(a.m_hWnd, WM_USER, 21, 0));
  EXPECT_EQ(10, SendMessageW(b.m_hWnd, WM_USER, 5, 0));
  EXPECT_EQ(12, SendMessageW(b.m_hWnd, WM_USER, 6, 0));
  EXPECT_EQ(1, a.ownCalls);
  EXPECT_EQ(2, b.ownCalls);
}

TEST(WindowFramework, MapsChainAndPassUnhandledMessagesOn) {
  CDerivedWindow window;
  ASSERT_NE(nullptr, window.Create(nullptr));
  EXPECT_EQ(7, SendMessageW(window.m_hWnd, WM_USER + 1, 2, 0));     // handled by the derived map
  EXPECT_EQ(1003, SendMessageW(window.m_hWnd, WM_USER + 1, 3, 0));  // passed on to the base map
  EXPECT_EQ(1, window.baseCalls);
  // Nothing maps WM_USER + 2: DefWindowProcW gives 0; WM_GETTEXTLENGTH of a
  // window without title: 0 from the default handling too.
  EXPECT_EQ(0, SendMessageW(window.m_hWnd, WM_USER + 2, 0, 0));
  EXPECT_TRUE(SetWindowTextW(window.m_hWnd, L"abc"));
  EXPECT_EQ(3, SendMessageW(window.m_hWnd, WM_GETTEXTLENGTH, 0, 0));
}

TEST(WindowFramework, DestroyWindowReachesTheMapThenTheFinalMessage) {
  CDerivedWindow window;
  HWND handle = window.Create(nullptr);
  ASSERT_NE(nullptr, handle);
  EXPECT_TRUE(window.DestroyWindow());
  EXPECT_EQ(1, window.destroyCalls);
  EXPECT_EQ(handle, window.finalWindow);
  EXPECT_EQ(nullptr, window.m_hWnd);
  EXPECT_FALSE(IsWindow(handle));
}

TEST(WindowFramework, AnObjectGoneBeforeItsWindowLeavesNoPathToIt) {
  HWND handle;
  {
    // The base class's destructor alone: the map is detached before the
    // window goes.
    CBaseWindow window;
    handle = window.Create(nullptr);
    ASSERT_NE(nullptr, handle);
  }
  EXPECT_FALSE(IsWindow(handle));
}

TEST(WindowFramework, DestroyedFromAnotherThreadTheOwnerClosesIt) {
  CDerivedWindow window;
  HWND handle = window.Create(nullptr);
  ASSERT_NE(nullptr, handle);
  bool underWay = true;
  DWORD destroyer = 0;
  std::thread([&] {
    destroyer = GetCurrentThreadId();
    EXPECT_TRUE(window.DestroyWindow(&underWay));
  }).join();
  // Detached at once: the object hears nothing more, and is done with it
  // there; the window runs the system's procedure, no code of this module.
  EXPECT_EQ(nullptr, window.m_hWnd);
  EXPECT_FALSE(underWay);
  EXPECT_EQ(handle, window.finalWindow.load());
  EXPECT_EQ(destroyer, window.finalThread.load());
  EXPECT_EQ(reinterpret_cast<LONG_PTR>(DefWindowProcW), GetWindowLongPtrW(handle, GWLP_WNDPROC));
  EXPECT_EQ(0, SendMessageW(handle, WM_USER, 4, 0));
  EXPECT_EQ(0, window.ownCalls);
  ASSERT_TRUE(PumpUntil([&] { return !IsWindow(handle); }, 2000));
  EXPECT_EQ(0, window.destroyCalls);
  EXPECT_FALSE(window.DestroyWindow());  // nothing left to destroy
}

// An object that frees itself in OnFinalMessage may do so only when no
// handler of it is on any stack: a handler that destroys its own window, or
// runs while another thread destroys it, puts the final message off to its
// own end, on the window's thread.
TEST(WindowFramework, TheFinalMessageWaitsForTheHandlerUnderWay) {
  for (bool fromAnotherThread : {false, true}) {
    SCOPED_TRACE(fromAnotherThread ? "destroyed by another thread" : "destroyed by the handler");
    CDerivedWindow window;
    HWND handle = window.Create(nullptr);
    ASSERT_NE(nullptr, handle);
    bool underWay = false;
    HWND finalInside = handle;
    std::function<void()> handler = [&] {
      if (fromAnotherThread)
        std::thread([&] { window.DestroyWindow(&underWay); }).join();
      else
        window.DestroyWindow();
      finalInside = window.finalWindow.load();
    };
    SendMessageW(handle, WM_USER + 3, 0, reinterpret_cast<LPARAM>(&handler));
    EXPECT_EQ(nullptr, finalInside);
    EXPECT_EQ(fromAnotherThread, underWay);
    EXPECT_EQ(handle, window.finalWindow.load());
    EXPECT_EQ(GetCurrentThreadId(), window.finalThread.load());
    PumpUntil([&] { return !IsWindow(handle); }, 2000);
    EXPECT_FALSE(IsWindow(handle));
  }
}

}  // namespace
