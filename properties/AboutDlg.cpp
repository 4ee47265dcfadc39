#include "AboutDlg.h"

#include "resource.h"

BEGIN_MESSAGE_MAP(CAboutDlg, CDialog)
END_MESSAGE_MAP()

CAboutDlg::CAboutDlg() : CDialog(IDD_ABOUTBOX) {}
CAboutDlg::~CAboutDlg() = default;
