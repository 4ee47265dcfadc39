// The properties dialog run modally in this process, as the program runs it:
// the mark a second copy looks for is on the dialog while it runs and is
// taken off before its window is destroyed. No agent is there to start (the
// program-files folder is an empty one).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "KestrinPropApp.h"
#include "KestrinPropDlg.h"
#include "scratch_folder.h"
#include "single_instance.h"

namespace {

struct Watch {
  HWND dialog = nullptr;
  bool markedAtDestroy = false;
  bool markedAtFinalMessage = true;
  HHOOK hook = nullptr;
} g_Watch;

// Sees every message sent to a window of this thread before the window does.
LRESULT CALLBACK WatchDialog(int code, WPARAM wParam, LPARAM lParam) {
  const CWPSTRUCT* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
  if (code == HC_ACTION) {
    if (sent->message == WM_INITDIALOG && !g_Watch.dialog) {
      g_Watch.dialog = sent->hwnd;
      // Cancel, as soon as the dialog's loop runs.
      PostMessageW(sent->hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    } else if (sent->hwnd == g_Watch.dialog && sent->message == WM_DESTROY) {
      g_Watch.markedAtDestroy = GetPropW(sent->hwnd, kRunningCopyProperty) != nullptr;
    } else if (sent->hwnd == g_Watch.dialog && sent->message == WM_NCDESTROY) {
      g_Watch.markedAtFinalMessage = GetPropW(sent->hwnd, kRunningCopyProperty) != nullptr;
    }
  }
  return CallNextHookEx(g_Watch.hook, code, wParam, lParam);
}

TEST(PropertiesDialogTest, TheRunningCopyMarkIsTakenOffBeforeTheWindowGoes) {
  const ScratchFolder folder("kestrin-props-dialog-noagent");
  SetEnvironmentVariableW(L"ProgramFiles", folder.wpath().c_str());
  AfxSetResourceHandle(GetModuleHandleW(nullptr));  // the dialogs built into this program

  g_Watch.hook = SetWindowsHookExW(WH_CALLWNDPROC, &WatchDialog, nullptr, GetCurrentThreadId());
  ASSERT_NE(nullptr, g_Watch.hook);
  {
    CKestrinPropDlg dialog;
    theApp.m_pDlg = &dialog;
    EXPECT_EQ(IDCANCEL, dialog.DoModal());
    theApp.m_pDlg = nullptr;
  }
  UnhookWindowsHookEx(g_Watch.hook);
  ASSERT_NE(nullptr, g_Watch.dialog);
  EXPECT_TRUE(g_Watch.markedAtDestroy) << "marked while it ran";
  EXPECT_FALSE(g_Watch.markedAtFinalMessage) << "the mark outlived the dialog";
}

}  // namespace
