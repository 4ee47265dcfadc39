// A thin window framework of our own: a window class registered once per
// process for each C++ window class, a per-object window procedure (the
// object's pointer kept in the window's GWLP_USERDATA), and message maps
// written as a ProcessWindowMessage member with the macros below, which can
// chain to a base class's map.
//
//   class CMyWindow : public kesfw::CWindowImpl<CMyWindow> {
//    public:
//     KES_BEGIN_MSG_MAP(CMyWindow)
//       KES_MESSAGE_HANDLER(WM_COMMAND, OnCommand)
//     KES_END_MSG_MAP()
//     LRESULT OnCommand(UINT message, WPARAM wParam, LPARAM lParam, BOOL& handled);
//   };
//   CMyWindow window;  window.Create(nullptr);  ...  window.DestroyWindow();
//
// A handler that sets handled to FALSE passes the message on (to the next
// entry, then DefWindowProcW). The window belongs to the thread that created
// it; the object must outlive its window or destroy it first.
#pragma once
#include <windows.h>

namespace kesfw {

// What one C++ window class registers: the class and its generated name,
// "ATL:" followed by the address of this description.
struct CWndClassInfo {
  WNDCLASSEXW m_wc;
  wchar_t m_szAutoName[5 + 2 * sizeof(void*) + 1];
  ATOM m_atom;
};

// Registers info's class with proc (styles CS_HREDRAW, CS_VREDRAW,
// CS_DBLCLKS; arrow cursor; COLOR_WINDOW + 1 background; this module's
// instance), once: threads that register at once get the same atom. The
// atom, 0 on failure (with the system's error as the last error).
ATOM RegisterWndClassInfo(CWndClassInfo* info, WNDPROC proc);
// See CWindowImpl::UnregisterWndClass.
bool UnregisterWndClassInfo(CWndClassInfo* info, HWND left);
// The module that holds this code (a DLL or the program it is linked into).
HINSTANCE FrameworkModule();

class CWindowImplRoot {
 public:
  HWND m_hWnd = nullptr;

  // The message map: TRUE with *result set when the message was handled.
  virtual BOOL ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                    LRESULT& result, DWORD msgMapId) = 0;
  // A window still there is detached from the object (its last messages go
  // to DefWindowProcW) and destroyed; a derived class that wants its map to
  // see WM_DESTROY calls DestroyWindow in its own destructor.
  virtual ~CWindowImplRoot();
  virtual WNDPROC GetWindowProc() = 0;
  // Called after the window's last message; the object may delete itself.
  virtual void OnFinalMessage(HWND) {}

  // Destroys the window on its own thread; from another thread the window is
  // detached from the object and closed by its thread when that thread next
  // pumps its messages.
  BOOL DestroyWindow();

 protected:
  HWND CreateWithClass(ATOM atom, HWND parent, const wchar_t* title, DWORD style,
                       DWORD exStyle);
  // The window procedure shared by every class: finds the object in
  // GWLP_USERDATA (stored at WM_NCCREATE) and runs its message map.
  static LRESULT CALLBACK StartWindowProc(HWND window, UINT message, WPARAM wParam,
                                          LPARAM lParam);
};

template <typename T>
class CWindowImpl : public CWindowImplRoot {
 public:
  // The class of T, registered on the first call in the process.
  static CWndClassInfo& GetWndClassInfo() {
    static CWndClassInfo info;
    return info;
  }
  // A registration that failed is tried again at the next call.
  static ATOM ClassAtom() {
    CWndClassInfo& info = GetWndClassInfo();
    const ATOM atom = __atomic_load_n(&info.m_atom, __ATOMIC_ACQUIRE);
    return atom ? atom : RegisterWndClassInfo(&info, StartWindowProc);
  }
  // Unregisters the class at the end of the module's use. A window of it
  // still there (another thread's, not yet closed) keeps the class: it is
  // then pointed at the system's procedure, as that window is, since this
  // module's is about to go. True when the class is gone.
  static bool UnregisterWndClass(HWND left = nullptr) {
    return UnregisterWndClassInfo(&GetWndClassInfo(), left);
  }

  // No parent: a top-level window, never shown unless asked. Default position
  // and size.
  HWND Create(HWND parent, const wchar_t* title = nullptr, DWORD style = 0, DWORD exStyle = 0) {
    return CreateWithClass(ClassAtom(), parent, title, style, exStyle);
  }
  WNDPROC GetWindowProc() override { return StartWindowProc; }
};

}  // namespace kesfw

#define KES_BEGIN_MSG_MAP(theClass)                                                         \
  BOOL ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam,            \
                            LRESULT& lResult, DWORD dwMsgMapID) override {                  \
    BOOL bHandled = TRUE;                                                                   \
    (void)hWnd;                                                                             \
    (void)bHandled;                                                                         \
    switch (dwMsgMapID) {                                                                   \
      case 0:

#define KES_MESSAGE_HANDLER(msg, func)                         \
  if (uMsg == (msg)) {                                         \
    bHandled = TRUE;                                           \
    lResult = func(uMsg, wParam, lParam, bHandled);            \
    if (bHandled) return TRUE;                                 \
  }

#define KES_CHAIN_MSG_MAP(baseClass)                                                     \
  if (baseClass::ProcessWindowMessage(hWnd, uMsg, wParam, lParam, lResult, dwMsgMapID)) \
    return TRUE;

#define KES_END_MSG_MAP() \
  break;                  \
  default:                \
    break;                \
  }                       \
  return FALSE;           \
  }
