// The application object and the module state. A program builds exactly one
// CWinApp-derived object as a static; the framework's entry (win_main.cpp)
// calls AfxWinMain, which runs its InitInstance. When InitInstance returns
// FALSE the program ends there (a dialog-based program runs its dialog from
// InitInstance); otherwise Run pumps messages until WM_QUIT.
//
// The module state holds the instance handle and the resource handle: every
// dialog template, string and icon the framework loads is looked up in the
// resource handle first and in the program's own module after it, so a
// satellite library that replaces the resource handle needs to hold only
// what it translates.
#pragma once
#include <windows.h>

#include <string>

#include "cmd_target.h"

class CWnd;

// The help command of the application's map.
#ifndef ID_HELP
#define ID_HELP 0xE146
#endif

class CWinApp : public CCmdTarget {
 public:
  // appName null: the base name of the program's module.
  explicit CWinApp(const wchar_t* appName = nullptr);
  ~CWinApp() override;
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  virtual BOOL InitInstance() { return TRUE; }
  // The message loop, run when InitInstance returned TRUE; WM_QUIT's code.
  virtual int Run();
  // After Run, or after an InitInstance that returned FALSE; the exit code.
  virtual int ExitInstance() { return 0; }

  // The profile lives under HKCU\Software\<company>\<application name>.
  // Only the names are kept: the key is made when a setting is written, and
  // the framework itself writes none.
  void SetRegistryKey(const wchar_t* company);

  // There is no help file: the help command does nothing.
  void OnHelp() {}

  HINSTANCE m_hInstance = nullptr;
  CWnd* m_pMainWnd = nullptr;
  std::wstring m_AppName;
  std::wstring m_RegistryKey;  // empty until SetRegistryKey
  std::wstring m_ProfileName;

  DECLARE_MESSAGE_MAP()
};

// The one application object (null before it is built and after it is gone).
CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
HINSTANCE AfxGetInstanceHandle();
// The module that resources are taken from: the program's own module until a
// satellite library is made current.
HINSTANCE AfxGetResourceHandle();
void AfxSetResourceHandle(HINSTANCE resources);
// The module that holds the resource: the resource handle when it has it,
// else the program's own module.
HINSTANCE AfxFindResourceHandle(const wchar_t* name, const wchar_t* type);
// A string of the string table, looked up as AfxFindResourceHandle does;
// empty when neither module has it.
std::wstring AfxLoadString(UINT id);
// This program hosts no ActiveX controls: nothing to prepare.
inline void AfxEnableControlContainer() {}

// The framework's entry: sets up the module state and runs the application
// object. Called by the program's wWinMain (win_main.cpp); tests call it with
// an application object of their own.
int AfxWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int show);
