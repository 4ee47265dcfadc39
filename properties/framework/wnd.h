// CWnd: a C++ object attached to one window. Its messages pass through the
// object's message map (cmd_target.h); what the map does not handle goes on
// to the window's original procedure. A dialog is attached when it is made
// (CDialog); an existing control is attached by subclassing it
// (SubclassDlgItem), which puts the framework's procedure in front of the
// control's own. The attachment ends when the window is destroyed or the
// object goes, whichever comes first.
//
// CStatic is the static control, to derive drawn views from; CPaintDC the
// paint device context of one WM_PAINT.
#pragma once
#include <windows.h>

#include "cmd_target.h"

class CWnd : public CCmdTarget {
 public:
  CWnd() = default;
  ~CWnd() override;
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;

  HWND GetSafeHwnd() const { return m_hWnd; }
  // The object attached to the window, or null.
  static CWnd* FromHandlePermanent(HWND window);

  // Attaches to an existing window by putting the framework's procedure in
  // front of its own. False when this object is attached already, the window
  // is attached to another object, or the window does not exist.
  bool SubclassWindow(HWND window);
  // SubclassWindow on the control with that id of parent.
  bool SubclassDlgItem(UINT id, CWnd* parent);
  // Puts the window's own procedure back and detaches; the window stays.
  HWND UnsubclassWindow();

  // The message's handling: the message map, else DefWindowProc.
  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  // The window's original procedure.
  LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  // The original procedure for the message being handled now.
  LRESULT Default();

  // Thin calls on the attached window.
  LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
    return ::SendMessageW(m_hWnd, message, wParam, lParam);
  }
  BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
    return ::PostMessageW(m_hWnd, message, wParam, lParam);
  }
  HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
  LRESULT SendDlgItemMessage(int id, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
    return ::SendDlgItemMessageW(m_hWnd, id, message, wParam, lParam);
  }
  void Invalidate(BOOL erase = TRUE) const { InvalidateRect(m_hWnd, nullptr, erase); }
  void UpdateWindow() const { ::UpdateWindow(m_hWnd); }
  void GetClientRect(RECT* rect) const { ::GetClientRect(m_hWnd, rect); }
  void GetWindowRect(RECT* rect) const { ::GetWindowRect(m_hWnd, rect); }
  BOOL IsIconic() const { return ::IsIconic(m_hWnd); }
  HMENU GetSystemMenu(BOOL revert) const { return ::GetSystemMenu(m_hWnd, revert); }
  HICON SetIcon(HICON icon, BOOL big) const {
    return reinterpret_cast<HICON>(SendMessage(WM_SETICON, big ? ICON_BIG : ICON_SMALL,
                                               reinterpret_cast<LPARAM>(icon)));
  }

  HWND m_hWnd = nullptr;

 protected:
  // The default handling of the messages that derived maps name.
  void OnPaint() { Default(); }
  void OnSysCommand(UINT, LPARAM) { Default(); }
  // Called when the window is destroyed, after the object was detached.
  virtual void PostNcDestroy() {}

  // The framework's procedure of every attached window.
  static LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void Attach(HWND window, WNDPROC original);
  void Detach();

  WNDPROC m_pfnSuper = nullptr;

  DECLARE_MESSAGE_MAP()
};

class CStatic : public CWnd {
  DECLARE_MESSAGE_MAP()
};

// BeginPaint on construction, EndPaint on destruction.
class CPaintDC {
 public:
  explicit CPaintDC(CWnd* window) : m_hWnd(window->m_hWnd) { m_hDC = BeginPaint(m_hWnd, &m_ps); }
  ~CPaintDC() { EndPaint(m_hWnd, &m_ps); }
  CPaintDC(const CPaintDC&) = delete;
  CPaintDC& operator=(const CPaintDC&) = delete;

  HWND m_hWnd;
  HDC m_hDC;
  PAINTSTRUCT m_ps;
};
