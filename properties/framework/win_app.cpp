#include "win_app.h"

#include "wnd.h"

namespace {

CWinApp* g_App = nullptr;
HINSTANCE g_Instance = nullptr;
HINSTANCE g_Resources = nullptr;

std::wstring ModuleBaseName(HINSTANCE module) {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return L"";
  std::wstring name(path, length);
  size_t slash = name.find_last_of(L"\\/");
  if (slash != std::wstring::npos) name.erase(0, slash + 1);
  size_t dot = name.find_last_of(L'.');
  if (dot != std::wstring::npos) name.erase(dot);
  return name;
}

// The string's block (16 strings of counted UTF-16 text) in that module.
bool FindString(HINSTANCE module, UINT id, std::wstring* text) {
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW((id >> 4) + 1), MAKEINTRESOURCEW(6));
  if (!found) return false;
  HGLOBAL loaded = LoadResource(module, found);
  const WCHAR* p = loaded ? static_cast<const WCHAR*>(LockResource(loaded)) : nullptr;
  if (!p) return false;
  const WCHAR* end = p + SizeofResource(module, found) / sizeof(WCHAR);
  for (UINT i = 0; i < (id & 15); ++i) {
    if (p >= end) return false;
    p += 1 + *p;
  }
  if (p >= end || *p == 0 || p + 1 + *p > end) return false;
  text->assign(p + 1, *p);
  return true;
}

}  // namespace

const AFX_MSGMAP* CWinApp::GetMessageMap() const { return GetThisMessageMap(); }
const AFX_MSGMAP* CWinApp::GetThisMessageMap() {
  typedef CWinApp ThisClass;
  static const AFX_MSGMAP_ENTRY kEntries[] = {ON_COMMAND(ID_HELP, OnHelp){0, 0, 0, nullptr}};
  static const AFX_MSGMAP kMap = {&CCmdTarget::GetThisMessageMap, kEntries};
  return &kMap;
}

CWinApp::CWinApp(const wchar_t* appName) {
  if (appName) m_AppName = appName;
  g_App = this;
}

CWinApp::~CWinApp() {
  if (g_App == this) g_App = nullptr;
}

int CWinApp::Run() {
  MSG msg;
  BOOL got;
  while ((got = GetMessageW(&msg, nullptr, 0, 0)) != 0) {
    if (got == -1) break;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  ExitInstance();
  return static_cast<int>(msg.wParam);
}

void CWinApp::SetRegistryKey(const wchar_t* company) {
  m_RegistryKey = company ? company : L"";
  m_ProfileName = m_AppName;
}

CWinApp* AfxGetApp() { return g_App; }
CWnd* AfxGetMainWnd() { return g_App ? g_App->m_pMainWnd : nullptr; }
HINSTANCE AfxGetInstanceHandle() { return g_Instance; }
HINSTANCE AfxGetResourceHandle() { return g_Resources; }
void AfxSetResourceHandle(HINSTANCE resources) { g_Resources = resources; }

HINSTANCE AfxFindResourceHandle(const wchar_t* name, const wchar_t* type) {
  if (g_Resources && FindResourceW(g_Resources, name, type)) return g_Resources;
  return g_Instance;
}

std::wstring AfxLoadString(UINT id) {
  std::wstring text;
  if (g_Resources && FindString(g_Resources, id, &text)) return text;
  if (g_Instance && g_Instance != g_Resources) FindString(g_Instance, id, &text);
  return text;
}

int AfxWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
  g_Instance = instance;
  g_Resources = instance;
  CWinApp* app = g_App;
  if (!app) return -1;
  app->m_hInstance = instance;
  if (app->m_AppName.empty()) app->m_AppName = ModuleBaseName(instance);
  if (!app->InitInstance()) return app->ExitInstance();
  return app->Run();
}
