#include "AboutDlg.h"

#include "dialog_icons.h"
#include "resource.h"

BEGIN_MESSAGE_MAP(CAboutDlg, CDialog)
END_MESSAGE_MAP()

CAboutDlg::CAboutDlg() : CDialog(IDD_ABOUTBOX) {}
CAboutDlg::~CAboutDlg() = default;

BOOL CAboutDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  GiveIconsTo(m_hWnd);
  return TRUE;
}
