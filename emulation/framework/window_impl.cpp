#include "window_impl.h"

#include <stdio.h>

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace kesfw {

HINSTANCE FrameworkModule() { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

namespace {
SRWLOCK g_RegistrationLock = SRWLOCK_INIT;
}  // namespace

ATOM RegisterWndClassInfo(CWndClassInfo* info, WNDPROC proc) {
  AcquireSRWLockExclusive(&g_RegistrationLock);
  ATOM atom = info->m_atom;
  if (!atom) {
    swprintf(info->m_szAutoName, sizeof info->m_szAutoName / sizeof info->m_szAutoName[0],
             L"ATL:%p", static_cast<void*>(info));
    WNDCLASSEXW& wc = info->m_wc;
    wc = WNDCLASSEXW();
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
    wc.lpfnWndProc = proc;
    wc.hInstance = FrameworkModule();
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = info->m_szAutoName;
    atom = RegisterClassExW(&wc);
    if (!atom && GetLastError() == ERROR_CLASS_ALREADY_EXISTS) {
      // Left by an earlier load of this module at the same address, whose
      // window outlived it: usable, once a window of it takes this load's
      // procedure (CreateWithClass).
      WNDCLASSEXW existing = {};
      existing.cbSize = sizeof existing;
      atom = static_cast<ATOM>(GetClassInfoExW(wc.hInstance, wc.lpszClassName, &existing));
    }
    const DWORD error = GetLastError();
    __atomic_store_n(&info->m_atom, atom, __ATOMIC_RELEASE);
    SetLastError(error);
  }
  ReleaseSRWLockExclusive(&g_RegistrationLock);
  return atom;
}

bool UnregisterWndClassInfo(CWndClassInfo* info, HWND left) {
  AcquireSRWLockExclusive(&g_RegistrationLock);
  const ATOM atom = info->m_atom;
  bool gone = true;
  if (atom) {
    gone = UnregisterClassW(reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(atom)),
                            FrameworkModule()) != FALSE;
    if (!gone && left)
      SetClassLongPtrW(left, GCLP_WNDPROC, reinterpret_cast<LONG_PTR>(DefWindowProcW));
    __atomic_store_n(&info->m_atom, static_cast<ATOM>(0), __ATOMIC_RELEASE);
  }
  ReleaseSRWLockExclusive(&g_RegistrationLock);
  return gone;
}

CWindowImplRoot::~CWindowImplRoot() {
  // The derived part is gone: the window's last messages must not reach the
  // message map any more.
  if (HWND window = m_hWnd) {
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId())
      ::DestroyWindow(window);
    else
      PostMessageW(window, WM_CLOSE, 0, 0);
    m_hWnd = nullptr;
  }
}

BOOL CWindowImplRoot::DestroyWindow() {
  HWND window = m_hWnd;
  if (!window) return FALSE;
  if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId())
    return ::DestroyWindow(window);
  // Only the owning thread can destroy the window: detach it from this
  // object first, so that no message of it reaches the object any more.
  SetWindowLongPtrW(window, GWLP_USERDATA, 0);
  m_hWnd = nullptr;
  return PostMessageW(window, WM_CLOSE, 0, 0);
}

HWND CWindowImplRoot::CreateWithClass(ATOM atom, HWND parent, const wchar_t* title, DWORD style,
                                      DWORD exStyle) {
  if (!atom) return nullptr;
  HWND window = CreateWindowExW(exStyle, reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(atom)),
                                title, style, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                CW_USEDEFAULT, parent, nullptr, FrameworkModule(), this);
  if (window && GetWindowLongPtrW(window, GWLP_WNDPROC) != reinterpret_cast<LONG_PTR>(StartWindowProc)) {
    // The class outlived an earlier load at this address and was pointed at
    // the system's procedure then: this load's takes over, for the class and
    // for this window, which missed its WM_NCCREATE.
    SetClassLongPtrW(window, GCLP_WNDPROC, reinterpret_cast<LONG_PTR>(StartWindowProc));
    SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(StartWindowProc));
    m_hWnd = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  return window;
}

LRESULT CALLBACK CWindowImplRoot::StartWindowProc(HWND window, UINT message, WPARAM wParam,
                                                  LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    auto* self = static_cast<CWindowImplRoot*>(create->lpCreateParams);
    if (self) {
      self->m_hWnd = window;
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
  }
  auto* self = reinterpret_cast<CWindowImplRoot*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!self) return DefWindowProcW(window, message, wParam, lParam);
  LRESULT result = 0;
  const BOOL handled = self->ProcessWindowMessage(window, message, wParam, lParam, result, 0);
  if (message == WM_NCDESTROY) {
    if (!handled) result = DefWindowProcW(window, message, wParam, lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    self->m_hWnd = nullptr;
    self->OnFinalMessage(window);
    return result;
  }
  return handled ? result : DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace kesfw
