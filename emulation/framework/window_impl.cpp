#include "window_impl.h"

#include <stdio.h>

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace kesfw {

HINSTANCE FrameworkModule() { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

namespace {
SRWLOCK g_RegistrationLock = SRWLOCK_INIT;

// A window of info's class in this process, null when none is left.
struct ClassSearch {
  ATOM atom;
  HWND found;
};
BOOL CALLBACK FindClassWindow(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<ClassSearch*>(parameter);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != GetCurrentProcessId() ||
      static_cast<ATOM>(GetClassLongPtrW(window, GCW_ATOM)) != search->atom)
    return TRUE;
  search->found = window;
  return FALSE;
}
}  // namespace

// The bookkeeping of objects and their windows: which object a window's
// messages reach (GWLP_USERDATA), the handlers of each object under way, and
// whether it is done with its window. One lock for all, held for a few
// instructions and never across a handler or a wait.
struct WindowBook {
  static SRWLOCK s_Lock;

  class Hold {
   public:
    Hold() { AcquireSRWLockExclusive(&s_Lock); }
    ~Hold() { ReleaseSRWLockExclusive(&s_Lock); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
  };

  static void Attach(CWindowImplRoot* self, HWND window) {
    Hold hold;
    self->m_hWnd = window;
    self->m_Done = false;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  // The object a message of window reaches, its handler counted; null when
  // the window has none.
  static CWindowImplRoot* Enter(HWND window) {
    Hold hold;
    auto* self = reinterpret_cast<CWindowImplRoot*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self) ++self->m_Handlers;
    return self;
  }
  // True when this was the last handler of an object done with its window:
  // its final message is due.
  static bool Leave(CWindowImplRoot* self) {
    Hold hold;
    return --self->m_Handlers == 0 && self->m_Done;
  }
  // The object is done with window: its messages no longer reach it, and,
  // when procedure is given, they go to that one. True when no handler of
  // it is under way: its final message is due. false for a window that is
  // no longer the object's (destroyed meanwhile, or with its thread).
  static bool Finish(CWindowImplRoot* self, HWND window, WNDPROC procedure, bool* wasOurs,
                     bool* handlerUnderWay) {
    Hold hold;
    *wasOurs = !self->m_Done &&
               GetWindowLongPtrW(window, GWLP_USERDATA) == reinterpret_cast<LONG_PTR>(self);
    const bool wasDone = self->m_Done;
    if (*wasOurs) {
      if (procedure) SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(procedure));
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    }
    self->m_hWnd = nullptr;
    self->m_Done = true;
    *handlerUnderWay = self->m_Handlers > 0;
    return !wasDone && !*handlerUnderWay;
  }
};

SRWLOCK WindowBook::s_Lock = SRWLOCK_INIT;

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

bool UnregisterWndClassInfo(CWndClassInfo* info) {
  AcquireSRWLockExclusive(&g_RegistrationLock);
  const ATOM atom = info->m_atom;
  bool gone = true;
  if (atom) {
    gone = UnregisterClassW(reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(atom)),
                            FrameworkModule()) != FALSE;
    ClassSearch left = {atom, nullptr};
    if (!gone) EnumWindows(FindClassWindow, reinterpret_cast<LPARAM>(&left));
    if (left.found)
      SetClassLongPtrW(left.found, GCLP_WNDPROC, reinterpret_cast<LONG_PTR>(DefWindowProcW));
    __atomic_store_n(&info->m_atom, static_cast<ATOM>(0), __ATOMIC_RELEASE);
  }
  ReleaseSRWLockExclusive(&g_RegistrationLock);
  return gone;
}

CWindowImplRoot::~CWindowImplRoot() {
  // The derived part is gone: the window's last messages must not reach the
  // message map any more.
  if (HWND window = m_hWnd) {
    const bool here = GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId();
    bool ours = false, underWay = false;
    WindowBook::Finish(this, window, here ? nullptr : DefWindowProcW, &ours, &underWay);
    if (ours && here)
      ::DestroyWindow(window);
    else if (ours)
      PostMessageW(window, WM_CLOSE, 0, 0);
  }
}

BOOL CWindowImplRoot::DestroyWindow(bool* handlerUnderWay) {
  if (handlerUnderWay) *handlerUnderWay = false;
  HWND window;
  {
    WindowBook::Hold hold;
    window = m_Done ? nullptr : m_hWnd;
  }
  if (!window) return FALSE;
  if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId())
    return ::DestroyWindow(window);
  // Another thread's window.
  bool ours = false, underWay = false;
  const bool final = WindowBook::Finish(this, window, DefWindowProcW, &ours, &underWay);
  const BOOL closing = ours && PostMessageW(window, WM_CLOSE, 0, 0);
  if (handlerUnderWay) *handlerUnderWay = underWay;
  if (final) OnFinalMessage(window);  // the object may be gone after this
  return closing;
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
    WindowBook::Attach(this, window);
  }
  return window;
}

LRESULT CALLBACK CWindowImplRoot::StartWindowProc(HWND window, UINT message, WPARAM wParam,
                                                  LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    if (auto* self = static_cast<CWindowImplRoot*>(create->lpCreateParams))
      WindowBook::Attach(self, window);
  }
  CWindowImplRoot* self = WindowBook::Enter(window);
  if (!self) return DefWindowProcW(window, message, wParam, lParam);
  LRESULT result = 0;
  if (!self->ProcessWindowMessage(window, message, wParam, lParam, result, 0))
    result = DefWindowProcW(window, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    bool ours, underWay;
    WindowBook::Finish(self, window, nullptr, &ours, &underWay);
  }
  // Nothing of the object is touched after its final message.
  if (WindowBook::Leave(self)) self->OnFinalMessage(window);
  return result;
}

}  // namespace kesfw
