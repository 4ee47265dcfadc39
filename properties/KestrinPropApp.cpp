#include "KestrinPropApp.h"

#include <commctrl.h>
#include <objidl.h>
#include <gdiplus.h>

#include "KestrinPropDlg.h"
#include "agent_requests.h"
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

  if (HWND running = FindRunningCopy()) {
    SetForegroundWindow(running);
    return FALSE;
  }

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
    if (result == IDCANCEL) {
      dialog.CatchUpSavedSettings();
      PostSetFlags(dialog.m_SavedFlags);
      PostLogFactors(dialog.m_SavedLogFactors);
    }
    m_pDlg = nullptr;
    m_pMainWnd = nullptr;
  }
  Gdiplus::GdiplusShutdown(gdiplusToken);
  return FALSE;
}
