#include "dialog.h"

#include "win_app.h"

namespace {

// The caret's blink timer: it keeps coming while a text box has the focus
// and is no reason for another idle call.
constexpr UINT kSysTimer = 0x0118;

}  // namespace

BEGIN_MESSAGE_MAP(CDialog, CWnd)
  ON_COMMAND(IDOK, OnOK)
  ON_COMMAND(IDCANCEL, OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(UINT templateId, CWnd* parent) : m_TemplateId(templateId), m_pParentWnd(parent) {}

CDialog::~CDialog() {
  if (m_hWnd) DestroyWindow(m_hWnd);
}

// Only WM_INITDIALOG comes here through the dialog manager: the dialog is
// attached (and its procedure subclassed) then, so every later message goes
// through the message map first and reaches the dialog manager after it.
INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM, LPARAM lParam) {
  if (message != WM_INITDIALOG) return FALSE;
  CDialog* dialog = reinterpret_cast<CDialog*>(lParam);
  dialog->SubclassWindow(window);
  return dialog->OnInitDialog();
}

INT_PTR CDialog::DoModal() {
  HINSTANCE module = AfxFindResourceHandle(MAKEINTRESOURCEW(m_TemplateId), MAKEINTRESOURCEW(5));
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(m_TemplateId), MAKEINTRESOURCEW(5));
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  const DLGTEMPLATE* dialogTemplate =
      loaded ? static_cast<const DLGTEMPLATE*>(LockResource(loaded)) : nullptr;
  if (!dialogTemplate) return -1;

  HWND owner = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
  if (!owner) {
    CWnd* main = AfxGetMainWnd();
    if (main && main != this) owner = main->m_hWnd;
  }
  bool ownerWasEnabled = owner && IsWindowEnabled(owner);
  if (ownerWasEnabled) EnableWindow(owner, FALSE);

  m_Continue = true;
  m_Result = -1;
  HWND window = CreateDialogIndirectParamW(module, dialogTemplate, owner, &CDialog::DialogProc,
                                           reinterpret_cast<LPARAM>(this));
  int result = -1;
  if (window && m_hWnd) {
    // A template without WS_VISIBLE is shown here: a modal dialog is always
    // seen.
    if (m_Continue && !IsWindowVisible(window)) ShowWindow(window, SW_SHOWNORMAL);
    result = RunModalLoop();
  }

  // The owner is enabled again before the dialog goes, so that the focus
  // returns to it.
  if (ownerWasEnabled) EnableWindow(owner, TRUE);
  if (window) {
    if (owner && GetActiveWindow() == window) SetActiveWindow(owner);
    SetWindowPos(window, nullptr, 0, 0, 0, 0,
                 SWP_HIDEWINDOW | SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_NOZORDER);
    DestroyWindow(window);
  }
  return result;
}

LRESULT CDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (DispatchMapMessage(message, wParam, lParam, &result)) return result;
  // A command the dialog does not handle gets a last chance at the
  // application object (its help command).
  CWinApp* app = AfxGetApp();
  if (message == WM_COMMAND && HIWORD(wParam) == 0 && app &&
      app->DispatchMapMessage(message, wParam, lParam, &result))
    return 0;
  return DefWindowProc(message, wParam, lParam);
}

void CDialog::EndDialog(int result) {
  m_Result = result;
  m_Continue = false;
  // Wakes the loop when it waits in GetMessage.
  if (m_hWnd) ::PostMessageW(m_hWnd, WM_NULL, 0, 0);
}

int CDialog::RunModalLoop() {
  bool idle = true;
  LONG idleCount = 0;
  MSG msg;
  while (m_Continue && m_hWnd) {
    while (idle && m_Continue && !PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
      if (!::SendMessageW(m_hWnd, WM_KICKIDLE, MSGF_DIALOGBOX, idleCount++)) idle = false;
    }
    if (!m_Continue) break;
    BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return -1;
    }
    if (got == -1) return -1;
    if (!IsDialogMessageW(m_hWnd, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (msg.message != kSysTimer) {
      idle = true;
      idleCount = 0;
    }
  }
  return m_Result;
}
