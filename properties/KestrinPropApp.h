// CKestrinPropApp, the application object of KestrinProperties.exe: one
// running copy, resources from a satellite library of the user's language,
// GDI+ for the views, the properties dialog run modally, then the settings
// found at start posted back to the agent for what the user changed when the
// dialog is cancelled, or the changes no agent has had yet when it ends with
// OK.
#pragma once
#include <windows.h>

#include <string>

#include "framework.h"

class CKestrinPropDlg;

class CKestrinPropApp : public CWinApp {
 public:
  CKestrinPropApp();
  ~CKestrinPropApp() override;

  // Always FALSE: the program ends when the dialog has closed.
  BOOL InitInstance() override;

  // The running dialog, set while DoModal runs.
  CKestrinPropDlg* m_pDlg = nullptr;

  DECLARE_MESSAGE_MAP()
};

extern CKestrinPropApp theApp;
