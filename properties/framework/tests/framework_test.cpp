// The framework under its users' eyes: message maps chaining to the base
// class's map, subclassed controls, the modal loop and its idle calls, the
// ways a dialog ends, the application object, and resources taken from a
// satellite library before the program's own. Needs a display (Xvfb).
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "framework.h"
#include "framework_test_ids.h"
#include "process_runner.h"

namespace {

constexpr UINT kShared = WM_APP + 1;    // handled by base and derived
constexpr UINT kBaseOnly = WM_APP + 2;  // handled by the base only
constexpr UINT kNested = WM_APP + 3;    // derived: sends kBaseOnly to itself, then Default()
constexpr UINT kCommandForApp = 0x9000;

std::vector<std::string> g_Log;

// ---- the application object of the tests ----

class CTestApp : public CWinApp {
 public:
  std::function<BOOL()> m_Init = [] { return FALSE; };
  int m_Helped = 0;
  BOOL InitInstance() override { return m_Init(); }
  int ExitInstance() override { return 5; }

 protected:
  void OnTestCommand() { ++m_Helped; }
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CTestApp, CWinApp)
  ON_COMMAND(kCommandForApp, OnTestCommand)
END_MESSAGE_MAP()

// ---- two views, the second derived from the first ----

class CBaseView : public CStatic {
 public:
  int m_NcDestroyed = 0;

 protected:
  LRESULT OnShared(WPARAM, LPARAM) {
    g_Log.push_back("base shared");
    return 1;
  }
  LRESULT OnBaseOnly(WPARAM w, LPARAM) {
    g_Log.push_back("base only");
    return 10 + static_cast<LRESULT>(w);
  }
  void PostNcDestroy() override { ++m_NcDestroyed; }
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CBaseView, CStatic)
  ON_MESSAGE(kShared, OnShared)
  ON_MESSAGE(kBaseOnly, OnBaseOnly)
END_MESSAGE_MAP()

class CDerivedView : public CBaseView {
 protected:
  LRESULT OnShared(WPARAM, LPARAM) {
    g_Log.push_back("derived shared");
    return 2;
  }
  // A nested message in between must not change what Default() passes on.
  LRESULT OnSetText(WPARAM, LPARAM) {
    g_Log.push_back("settext");
    SendMessage(kBaseOnly, 1, 0);
    return Default();
  }
  void OnClicked() { g_Log.push_back("clicked 5"); }
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CDerivedView, CBaseView)
  ON_MESSAGE(kShared, OnShared)
  ON_MESSAGE(WM_SETTEXT, OnSetText)
  ON_BN_CLICKED(5, OnClicked)
END_MESSAGE_MAP()

class CPaintView : public CStatic {
 public:
  int m_Paints = 0;

 protected:
  void OnPaint() {
    CPaintDC dc(this);
    ++m_Paints;
  }
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CPaintView, CStatic)
  ON_WM_PAINT()
END_MESSAGE_MAP()

HWND MakeStatic(const wchar_t* text = L"start") {
  return CreateWindowExW(0, L"STATIC", text, WS_POPUP, 0, 0, 50, 20, nullptr, nullptr,
                         GetModuleHandleW(nullptr), nullptr);
}

std::wstring TextOf(HWND window) {
  wchar_t text[64] = {};
  GetWindowTextW(window, text, 64);
  return text;
}

// ---- a dialog run by a script of idle steps ----

class CScriptDialog : public CDialog {
 public:
  // The script gets the dialog and the idle call's count; its result is the
  // handler's.
  using Script = std::function<LRESULT(CScriptDialog&, LPARAM)>;
  CScriptDialog(UINT id, Script script, CWnd* parent = nullptr)
      : CDialog(id, parent), m_Script(std::move(script)) {}

  std::vector<LPARAM> m_IdleCounts;
  std::wstring m_Caption;
  CPaintView m_View;

 protected:
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    m_Caption = TextOf(m_hWnd);
    m_View.SubclassDlgItem(IDC_VIEW, this);
    g_Log.push_back("init");
    return TRUE;
  }
  LRESULT OnKickIdle(WPARAM, LPARAM count) {
    m_IdleCounts.push_back(count);
    g_Log.push_back("idle " + std::to_string(count));
    return m_Script(*this, count);
  }
  LRESULT OnApp(WPARAM, LPARAM) {
    g_Log.push_back("app message");
    return 0;
  }
  void OnOther() { EndDialog(42); }
  DECLARE_MESSAGE_MAP()

 private:
  Script m_Script;
};

BEGIN_MESSAGE_MAP(CScriptDialog, CDialog)
  ON_MESSAGE(WM_KICKIDLE, OnKickIdle)
  ON_MESSAGE(WM_APP, OnApp)
  ON_BN_CLICKED(IDC_BUTTON, OnOther)
END_MESSAGE_MAP()

class FrameworkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_Log.clear();
    ASSERT_EQ(5, AfxWinMain(GetModuleHandleW(nullptr), nullptr, const_cast<wchar_t*>(L""),
                            SW_SHOW));
  }
  void TearDown() override { AfxSetResourceHandle(AfxGetInstanceHandle()); }
  CTestApp app_;
};

// ---- message maps ----

TEST_F(FrameworkTest, MessageMapsChainToTheBaseAndPassTheRestToTheControl) {
  HWND window = MakeStatic();
  ASSERT_NE(nullptr, window);
  CDerivedView view;
  ASSERT_TRUE(view.SubclassWindow(window));

  struct Case {
    const char* name;
    UINT message;
    WPARAM wParam;
    LRESULT result;
    std::vector<std::string> log;
  };
  const Case cases[] = {
      {"derived entry wins over the base's", kShared, 0, 2, {"derived shared"}},
      {"base entry reached through the chain", kBaseOnly, 3, 13, {"base only"}},
      {"clicked, matching id", WM_COMMAND, MAKEWPARAM(5, BN_CLICKED), 0, {"clicked 5"}},
      {"other notification code", WM_COMMAND, MAKEWPARAM(5, BN_DOUBLECLICKED), 0, {}},
      {"other id", WM_COMMAND, MAKEWPARAM(6, BN_CLICKED), 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_Log.clear();
    EXPECT_EQ(c.result, SendMessageW(window, c.message, c.wParam, 0));
    EXPECT_EQ(c.log, g_Log);
  }

  // A handler's Default() reaches the control's own procedure with its own
  // message, also after a nested message.
  g_Log.clear();
  EXPECT_TRUE(SetWindowTextW(window, L"changed"));
  EXPECT_EQ((std::vector<std::string>{"settext", "base only"}), g_Log);
  EXPECT_EQ(L"changed", TextOf(window));
  DestroyWindow(window);
}

// ---- subclassing ----

TEST_F(FrameworkTest, SubclassingAttachesOnceAndLetsGoOnEitherEnd) {
  HWND window = MakeStatic();
  LONG_PTR original = GetWindowLongPtrW(window, GWLP_WNDPROC);
  {
    CBaseView view, other;
    ASSERT_TRUE(view.SubclassWindow(window));
    EXPECT_EQ(&view, CWnd::FromHandlePermanent(window));
    EXPECT_FALSE(view.SubclassWindow(window)) << "attached already";
    EXPECT_FALSE(other.SubclassWindow(window)) << "the window has an object";
    EXPECT_FALSE(other.SubclassWindow(nullptr));
    EXPECT_EQ(1, SendMessageW(window, kShared, 0, 0));
  }
  // The object went first: the control has its own procedure back and works.
  EXPECT_EQ(original, GetWindowLongPtrW(window, GWLP_WNDPROC));
  EXPECT_EQ(nullptr, CWnd::FromHandlePermanent(window));
  EXPECT_EQ(0, SendMessageW(window, kShared, 0, 0));
  EXPECT_TRUE(SetWindowTextW(window, L"after"));
  EXPECT_EQ(L"after", TextOf(window));

  // The window goes first: the object is detached, PostNcDestroy runs once.
  CBaseView view;
  ASSERT_TRUE(view.SubclassWindow(window));
  DestroyWindow(window);
  EXPECT_EQ(nullptr, view.m_hWnd);
  EXPECT_EQ(1, view.m_NcDestroyed);
}

// ---- the modal loop ----

TEST_F(FrameworkTest, IdleCallComesOncePerDryQueueWhileTheHandlerReturnsZero) {
  CScriptDialog dialog(IDD_TEST, [](CScriptDialog& d, LPARAM) -> LRESULT {
    if (d.m_IdleCounts.size() == 1) d.PostMessage(WM_APP);
    if (d.m_IdleCounts.size() == 2) d.EndDialog(7);
    return 0;
  });
  EXPECT_EQ(7, dialog.DoModal());
  // The script's message comes between two idle calls, each with the count
  // starting over. The messages of showing the dialog may bring idle calls
  // of their own, so only the order around the script's message is pinned.
  ASSERT_GE(g_Log.size(), 4u);
  EXPECT_EQ("init", g_Log.front());
  auto app = std::find(g_Log.begin(), g_Log.end(), "app message");
  ASSERT_NE(g_Log.end(), app);
  EXPECT_EQ("idle 0", *(app - 1));
  EXPECT_EQ("idle 0", *(app + 1));
  EXPECT_EQ("idle 0", g_Log.back());
  for (LPARAM count : dialog.m_IdleCounts) EXPECT_EQ(0, count);
  EXPECT_EQ(nullptr, dialog.m_hWnd) << "destroyed by DoModal";
  EXPECT_EQ(nullptr, dialog.m_View.m_hWnd) << "its subclassed control let go";
}

TEST_F(FrameworkTest, IdleCallsRepeatWithRisingCountWhileTheHandlerReturnsNonZero) {
  CScriptDialog dialog(IDD_TEST, [](CScriptDialog& d, LPARAM count) -> LRESULT {
    if (count < 3) return 1;
    d.EndDialog(IDOK);
    return 0;
  });
  EXPECT_EQ(IDOK, dialog.DoModal());
  ASSERT_GE(dialog.m_IdleCounts.size(), 4u);
  std::vector<LPARAM> last(dialog.m_IdleCounts.end() - 4, dialog.m_IdleCounts.end());
  EXPECT_EQ((std::vector<LPARAM>{0, 1, 2, 3}), last);
}

TEST_F(FrameworkTest, TheWaysADialogEnds) {
  struct Case {
    const char* name;
    std::function<void(CScriptDialog&)> act;
    INT_PTR result;
  };
  const Case cases[] = {
      {"OK clicked", [](CScriptDialog& d) {
         d.PostMessage(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                       reinterpret_cast<LPARAM>(d.GetDlgItem(IDOK)));
       }, IDOK},
      {"Cancel clicked", [](CScriptDialog& d) {
         d.PostMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                       reinterpret_cast<LPARAM>(d.GetDlgItem(IDCANCEL)));
       }, IDCANCEL},
      {"Escape", [](CScriptDialog& d) { d.PostMessage(WM_KEYDOWN, VK_ESCAPE, 0x00010001); },
       IDCANCEL},
      {"Enter: the default button", [](CScriptDialog& d) {
         d.PostMessage(WM_KEYDOWN, VK_RETURN, 0x001C0001);
       }, IDOK},
      {"the close box", [](CScriptDialog& d) { d.PostMessage(WM_SYSCOMMAND, SC_CLOSE, 0); },
       IDCANCEL},
      {"WM_CLOSE", [](CScriptDialog& d) { d.PostMessage(WM_CLOSE); }, IDCANCEL},
      {"a handler's EndDialog", [](CScriptDialog& d) {
         d.PostMessage(WM_COMMAND, MAKEWPARAM(IDC_BUTTON, BN_CLICKED),
                       reinterpret_cast<LPARAM>(d.GetDlgItem(IDC_BUTTON)));
       }, 42},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CScriptDialog dialog(IDD_TEST, [&c](CScriptDialog& d, LPARAM) -> LRESULT {
      if (d.m_IdleCounts.size() == 1) c.act(d);
      // A case that does not end the dialog ends it here, with a value no
      // case expects.
      if (d.m_IdleCounts.size() > 50) d.EndDialog(-7);
      return 0;
    });
    EXPECT_EQ(c.result, dialog.DoModal());
  }
}

TEST_F(FrameworkTest, ATemplateWithoutVisibleStyleIsShown) {
  BOOL visible = FALSE;
  CScriptDialog dialog(IDD_HIDDEN, [&](CScriptDialog& d, LPARAM) -> LRESULT {
    visible = IsWindowVisible(d.m_hWnd);
    d.EndDialog(IDOK);
    return 0;
  });
  EXPECT_EQ(IDOK, dialog.DoModal());
  EXPECT_TRUE(visible);
}

TEST_F(FrameworkTest, NoTemplateNoDialog) {
  CScriptDialog dialog(999, [](CScriptDialog&, LPARAM) -> LRESULT { return 0; });
  EXPECT_EQ(-1, dialog.DoModal());
  EXPECT_TRUE(g_Log.empty());
}

TEST_F(FrameworkTest, QuitEndsTheLoopAndIsPostedAgain) {
  CScriptDialog dialog(IDD_TEST, [](CScriptDialog& d, LPARAM) -> LRESULT {
    if (d.m_IdleCounts.size() == 1) PostQuitMessage(9);
    return 0;
  });
  EXPECT_EQ(-1, dialog.DoModal());
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(9u, msg.wParam);
}

TEST_F(FrameworkTest, ADialogOverTheMainWindowDisablesItWhileItRuns) {
  HWND innerOwner = nullptr;
  BOOL mainEnabledDuring = TRUE, mainEnabledAfter = FALSE;
  CScriptDialog main(IDD_TEST, [&](CScriptDialog& d, LPARAM) -> LRESULT {
    if (d.m_IdleCounts.size() != 1) return 0;
    CScriptDialog inner(IDD_TEST, [&](CScriptDialog& i, LPARAM) -> LRESULT {
      innerOwner = GetWindow(i.m_hWnd, GW_OWNER);
      mainEnabledDuring = IsWindowEnabled(d.m_hWnd);
      i.EndDialog(IDOK);
      return 0;
    });
    inner.DoModal();
    mainEnabledAfter = IsWindowEnabled(d.m_hWnd);
    d.EndDialog(IDCANCEL);
    return 0;
  });
  app_.m_pMainWnd = &main;
  EXPECT_EQ(IDCANCEL, main.DoModal());
  app_.m_pMainWnd = nullptr;
  EXPECT_NE(nullptr, innerOwner);
  EXPECT_FALSE(mainEnabledDuring);
  EXPECT_TRUE(mainEnabledAfter);
}

TEST_F(FrameworkTest, ASubclassedControlOfTheDialogPaintsThroughItsMap) {
  int paints = 0;
  CScriptDialog dialog(IDD_TEST, [&](CScriptDialog& d, LPARAM) -> LRESULT {
    if (d.m_IdleCounts.size() == 1) {
      d.m_View.Invalidate(FALSE);
      d.m_View.UpdateWindow();
      paints = d.m_View.m_Paints;
      d.EndDialog(IDOK);
    }
    return 0;
  });
  dialog.DoModal();
  EXPECT_GE(paints, 1);
}

TEST_F(FrameworkTest, CommandsTheDialogLeavesGoToTheApplication) {
  CScriptDialog dialog(IDD_TEST, [](CScriptDialog& d, LPARAM) -> LRESULT {
    if (d.m_IdleCounts.size() == 1) d.PostMessage(WM_COMMAND, kCommandForApp, 0);
    if (d.m_IdleCounts.size() == 2) d.EndDialog(IDOK);
    return 0;
  });
  dialog.DoModal();
  EXPECT_EQ(1, app_.m_Helped);
}

// ---- the application object ----

TEST(FrameworkAppTest, InitInstanceRunsFromTheEntryAndItsResultDecidesTheLoop) {
  EXPECT_EQ(nullptr, AfxGetApp());
  {
    CTestApp app;
    EXPECT_EQ(&app, AfxGetApp());
    int ran = 0;
    app.m_Init = [&] {
      ++ran;
      app.SetRegistryKey(L"Pellmor Vastine");
      return FALSE;
    };
    EXPECT_EQ(5, AfxWinMain(GetModuleHandleW(nullptr), nullptr, const_cast<wchar_t*>(L""),
                            SW_SHOW)) << "ExitInstance's code";
    EXPECT_EQ(1, ran);
    EXPECT_EQ(GetModuleHandleW(nullptr), app.m_hInstance);
    EXPECT_EQ(GetModuleHandleW(nullptr), AfxGetResourceHandle());
    EXPECT_EQ(L"FrameworkTest", app.m_AppName) << "named after the module";
    EXPECT_EQ(L"Pellmor Vastine", app.m_RegistryKey);
    EXPECT_EQ(L"FrameworkTest", app.m_ProfileName);

    // TRUE: the message loop runs until WM_QUIT, whose code ends it.
    app.m_Init = [] {
      PostQuitMessage(3);
      return TRUE;
    };
    EXPECT_EQ(3, AfxWinMain(GetModuleHandleW(nullptr), nullptr, const_cast<wchar_t*>(L""),
                            SW_SHOW));
  }
  EXPECT_EQ(nullptr, AfxGetApp());
}

// ---- resources ----

TEST_F(FrameworkTest, ResourcesComeFromTheSatelliteFirstAndTheProgramAfter) {
  std::string path = WinePath(FRAMEWORK_TEST_SATELLITE);
  HMODULE satellite = LoadLibraryW(std::wstring(path.begin(), path.end()).c_str());
  ASSERT_NE(nullptr, satellite);
  HINSTANCE program = AfxGetInstanceHandle();

  struct Case {
    HINSTANCE resources;
    UINT dialog;
    const wchar_t* caption;  // null: no dialog
    UINT string;
    const wchar_t* text;
  };
  const Case cases[] = {
      {satellite, IDD_TEST, L"Satellite Test", IDS_BOTH, L"satellite"},
      {satellite, IDD_SATELLITE_ONLY, L"Only Here", IDS_PROGRAM_ONLY, L"program only"},
      {satellite, IDD_TEST, L"Satellite Test", IDS_SATELLITE_ONLY, L"satellite only"},
      {program, IDD_TEST, L"Framework Test", IDS_BOTH, L"program"},
      {program, IDD_SATELLITE_ONLY, nullptr, IDS_SATELLITE_ONLY, L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dialog);
    SCOPED_TRACE(c.resources == satellite ? "satellite" : "program");
    AfxSetResourceHandle(c.resources);
    CScriptDialog dialog(c.dialog, [](CScriptDialog& d, LPARAM) -> LRESULT {
      d.EndDialog(IDOK);
      return 0;
    });
    INT_PTR result = dialog.DoModal();
    if (c.caption) {
      EXPECT_EQ(IDOK, result);
      EXPECT_EQ(c.caption, dialog.m_Caption);
    } else {
      EXPECT_EQ(-1, result);
    }
    EXPECT_EQ(c.text, AfxLoadString(c.string));
  }
}

}  // namespace
