// The About box (template 100), opened from the system menu.
#pragma once
#include "framework.h"

class CAboutDlg : public CDialog {
 public:
  CAboutDlg();
  ~CAboutDlg() override;
  DECLARE_MESSAGE_MAP()
};
