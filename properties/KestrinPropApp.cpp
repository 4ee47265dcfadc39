#include "KestrinPropApp.h"

#include <commctrl.h>
#include <objidl.h>
#include <gdiplus.h>

#include "KestrinPropDlg.h"
#include "satellite_resources.h"
#include "single_instance.h"

CKestrinPropApp theApp;

BEGIN_MESSAGE_MAP(CKestrinPropApp, CWinApp)
  ON_COMMAND(ID_HELP, CWinApp::OnHelp)
END_MESSAGE_MAP()

CKestrinPropApp::CKestrinPropApp() = default;
CKestrinPropApp::~CKestrinPropApp() = default;

BOOL CKestrinPropApp::InitInstance() {
  INITCOMMONCONTROLSEX controls = {};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_WIN95_CLASSES;
  InitCommonControlsEx(&controls);
  CWinApp::InitInstance();
  SetRegistryKey(L"Pellmor Vastine");
  AfxEnableControlContainer();

  // Claimed before anything is loaded or connected: a second copy started
  // at the same moment waits for this one's dialog instead of opening its
  // own, and brings it to the front.
  if (!ClaimRunningCopy()) return FALSE;

  LoadSatelliteResources();

  // The views make GDI+ images while they paint: GDI+ runs before the
  // dialog is made and stops after it is gone. Its status is not examined.
  Gdiplus::GdiplusStartupInput input;
  ULONG_PTR gdiplusToken = 0;
  Gdiplus::GdiplusStartup(&gdiplusToken, &input, nullptr);

  {
    CKestrinPropDlg dialog;
    m_pDlg = &dialog;
    m_pMainWnd = &dialog;
    INT_PTR result = dialog.DoModal();
    if (result == IDCANCEL) dialog.RestoreSavedSettings();
    else if (result == IDOK) dialog.SendUnsentChanges();
    m_pDlg = nullptr;
    m_pMainWnd = nullptr;
  }
  Gdiplus::GdiplusShutdown(gdiplusToken);
  return FALSE;
}
