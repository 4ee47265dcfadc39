// The About box (template 100), opened from the system menu.
#pragma once
#include "framework.h"

class CAboutDlg : public CDialog {
 public:
  CAboutDlg();
  ~CAboutDlg() override;
  DECLARE_MESSAGE_MAP()

 protected:
  // The program's icon on the box's icon control, whichever library gave
  // the template (dialog_icons.h).
  BOOL OnInitDialog() override;
};
