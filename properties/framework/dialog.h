// CDialog: a modal dialog from a dialog template, run by a message loop of
// the framework's own. DoModal makes the dialog from its template (looked up
// through the resource handle, win_app.h), shows it (also when the template
// is not visible), disables its owner, and pumps
// messages until EndDialog; each time the queue runs dry it sends
// WM_KICKIDLE to the dialog, and sends it again (with a rising count) for as
// long as the handler returns non-zero. A handler that returns 0, or a dialog
// that does not handle WM_KICKIDLE, gets the next one only after another
// message was handled.
//
// OK (IDOK) and Cancel (IDCANCEL) end the dialog with their ids; the dialog
// manager turns Escape and the close box into IDCANCEL.
#pragma once
#include <windows.h>

#include "wnd.h"

class CDialog : public CWnd {
 public:
  // parent null: the application's main window owns the dialog, unless the
  // dialog is the main window itself.
  explicit CDialog(UINT templateId, CWnd* parent = nullptr);
  ~CDialog() override;

  // IDOK, IDCANCEL or the value given to EndDialog; -1 when the template is
  // missing or the dialog cannot be made, or when WM_QUIT ended the loop (it
  // is posted again for the loop outside).
  virtual INT_PTR DoModal();
  void EndDialog(int result);
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

  UINT m_TemplateId;

 protected:
  // WM_INITDIALOG: TRUE lets the dialog manager give the focus to the first
  // control.
  virtual BOOL OnInitDialog() { return TRUE; }
  virtual void OnOK() { EndDialog(IDOK); }
  virtual void OnCancel() { EndDialog(IDCANCEL); }

  CWnd* m_pParentWnd;

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  int RunModalLoop();

  bool m_Continue = false;
  int m_Result = -1;

  DECLARE_MESSAGE_MAP()
};
