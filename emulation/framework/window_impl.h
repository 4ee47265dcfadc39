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
// it; the object must outlive its window or destroy it first. An object that
// frees itself does so in OnFinalMessage, which never comes while one of its
// message handlers runs on any thread.
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
bool UnregisterWndClassInfo(CWndClassInfo* info);
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
  // Called once the object is done with its window: after the window's last
  // message (WM_NCDESTROY), on the window's thread, or when DestroyWindow has
  // detached the window on another thread; never while a message handler of
  // the object runs on any thread (one under way puts it off to its own end,
  // on its thread). The object may delete itself.
  virtual void OnFinalMessage(HWND) {}

  // On the window's thread the window is destroyed (its last messages reach
  // the map). Only that thread can destroy it: from another thread the window
  // is detached from the object at once and given the system's procedure,
  // and its thread closes it (WM_CLOSE) when it next pumps its messages,
  // without this module's code, which may be unloaded by then. The object
  // hears nothing more of it. *handlerUnderWay, when given, tells whether a
  // handler of the object was running on the window's thread at that moment:
  // it ends after this call, and OnFinalMessage follows it there. FALSE when
  // there was no window (or its close could not be posted).
  BOOL DestroyWindow(bool* handlerUnderWay = nullptr);

 protected:
  HWND CreateWithClass(ATOM atom, HWND parent, const wchar_t* title, DWORD style,
                       DWORD exStyle);
  // The window procedure shared by every class: finds the object in
  // GWLP_USERDATA (stored at WM_NCCREATE) and runs its message map.
  static LRESULT CALLBACK StartWindowProc(HWND window, UINT message, WPARAM wParam,
                                          LPARAM lParam);

 private:
  friend struct WindowBook;
  // Under the framework's lock: handlers of this object under way, and
  // whether it is done with its window (the window gone or detached).
  int m_Handlers = 0;
  bool m_Done = false;
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
  // still there (another thread's, detached, not yet closed) keeps the
  // class: it is then pointed at the system's procedure, as that window is,
  // since this module's is about to go. True when the class is gone.
  static bool UnregisterWndClass() { return UnregisterWndClassInfo(&GetWndClassInfo()); }

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
