#include "wnd.h"

namespace {

// The attached object is kept as a window property: a control's own
// procedure may use the window's user data.
const wchar_t kObjectProperty[] = L"KestrinFramework.CWnd";

// The message each window procedure call is handling, for Default(); saved
// and restored around every call, so nested messages keep their own.
struct CurrentMessage {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};
thread_local CurrentMessage t_Current = {};

}  // namespace

const AFX_MSGMAP* CWnd::GetMessageMap() const { return GetThisMessageMap(); }
const AFX_MSGMAP* CWnd::GetThisMessageMap() {
  static const AFX_MSGMAP_ENTRY kEntries[] = {{0, 0, 0, nullptr}};
  static const AFX_MSGMAP kMap = {&CCmdTarget::GetThisMessageMap, kEntries};
  return &kMap;
}

BEGIN_MESSAGE_MAP(CStatic, CWnd)
END_MESSAGE_MAP()

CWnd::~CWnd() {
  if (m_hWnd) UnsubclassWindow();
}

CWnd* CWnd::FromHandlePermanent(HWND window) {
  return window ? static_cast<CWnd*>(GetPropW(window, kObjectProperty)) : nullptr;
}

void CWnd::Attach(HWND window, WNDPROC original) {
  m_hWnd = window;
  m_pfnSuper = original;
  SetPropW(window, kObjectProperty, this);
}

void CWnd::Detach() {
  if (!m_hWnd) return;
  RemovePropW(m_hWnd, kObjectProperty);
  m_hWnd = nullptr;
}

bool CWnd::SubclassWindow(HWND window) {
  if (m_hWnd || !IsWindow(window) || FromHandlePermanent(window)) return false;
  WNDPROC original = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window, GWLP_WNDPROC));
  Attach(window, original);
  SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::WndProc));
  return true;
}

bool CWnd::SubclassDlgItem(UINT id, CWnd* parent) {
  return parent && SubclassWindow(::GetDlgItem(parent->m_hWnd, static_cast<int>(id)));
}

HWND CWnd::UnsubclassWindow() {
  HWND window = m_hWnd;
  if (!window) return nullptr;
  // Only our own procedure is taken out; one put in front of it later stays
  // (and keeps calling ours, which then passes everything on).
  if (GetWindowLongPtrW(window, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&CWnd::WndProc))
    SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
  Detach();
  return window;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (DispatchMapMessage(message, wParam, lParam, &result)) return result;
  return DefWindowProc(message, wParam, lParam);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (m_pfnSuper) return CallWindowProcW(m_pfnSuper, m_hWnd, message, wParam, lParam);
  return ::DefWindowProcW(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::Default() { return DefWindowProc(t_Current.message, t_Current.wParam, t_Current.lParam); }

LRESULT CALLBACK CWnd::WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  CWnd* object = FromHandlePermanent(window);
  if (!object) return ::DefWindowProcW(window, message, wParam, lParam);
  CurrentMessage saved = t_Current;
  t_Current = {message, wParam, lParam};
  LRESULT result;
  if (message == WM_NCDESTROY) {
    // The window is going: its own procedure gets the message, then the
    // object lets go of it.
    WNDPROC original = object->m_pfnSuper;
    SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
    object->Detach();
    result = original ? CallWindowProcW(original, window, message, wParam, lParam)
                      : ::DefWindowProcW(window, message, wParam, lParam);
    object->PostNcDestroy();
  } else {
    result = object->WindowProc(message, wParam, lParam);
  }
  t_Current = saved;
  return result;
}
