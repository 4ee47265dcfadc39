// Message maps: every class that handles messages has a static table of
// entries and a pointer to its base class's table; a message is looked up
// from the most derived table toward the base, and the first entry that
// matches handles it. A class declares its table with DECLARE_MESSAGE_MAP()
// and defines it between BEGIN_MESSAGE_MAP(class, base) and
// END_MESSAGE_MAP(), with one ON_... line per entry:
//
//   BEGIN_MESSAGE_MAP(CMyDialog, CDialog)
//     ON_WM_PAINT()
//     ON_BN_CLICKED(3, OnDefaults)
//     ON_MESSAGE(WM_KICKIDLE, OnKickIdle)
//   END_MESSAGE_MAP()
//
// Each entry holds a small function, made by its macro, that casts the
// target to the class of the table and calls the handler with the message's
// arguments unpacked; handlers may be protected or private.
#pragma once
#include <windows.h>

// Sent by CDialog's modal loop to the dialog each time its queue runs dry;
// wParam MSGF_DIALOGBOX, lParam the count of idle calls since the last
// message. A handler that returns 0 gets no further call until a message
// arrives.
#ifndef WM_KICKIDLE
#define WM_KICKIDLE 0x036A
#endif

class CCmdTarget;

// Calls one handler: the target, the message's wParam and lParam; the result
// is the message's result.
typedef LRESULT (*AfxMsgCall)(CCmdTarget* target, WPARAM wParam, LPARAM lParam);

struct AFX_MSGMAP_ENTRY {
  UINT m_Message;  // 0 ends the table
  UINT m_Code;     // WM_COMMAND: the notification code (BN_CLICKED, 0 for menus)
  UINT m_Id;       // WM_COMMAND: the control or command id
  AfxMsgCall m_Call;
};

struct AFX_MSGMAP {
  const AFX_MSGMAP* (*m_pfnGetBaseMap)();  // null for the root
  const AFX_MSGMAP_ENTRY* m_Entries;
};

// The root of every message-handling class: the lookup in the chain of
// tables.
class CCmdTarget {
 public:
  virtual ~CCmdTarget() = default;
  virtual const AFX_MSGMAP* GetMessageMap() const { return GetThisMessageMap(); }
  static const AFX_MSGMAP* GetThisMessageMap();

  // The first entry of this object's chain for the message, or null. For
  // WM_COMMAND the code and id of wParam must match too.
  const AFX_MSGMAP_ENTRY* FindMessageEntry(UINT message, WPARAM wParam) const;
  // Runs the entry for the message when there is one; true when it ran.
  bool DispatchMapMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
};

#define DECLARE_MESSAGE_MAP()                                 \
 public:                                                      \
  static const AFX_MSGMAP* GetThisMessageMap();               \
  const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                           \
  const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); }      \
  const AFX_MSGMAP* theClass::GetThisMessageMap() {                                      \
    using ThisClass [[maybe_unused]] = theClass;                                         \
    typedef baseClass TheBaseClass;                                                      \
    static const AFX_MSGMAP_ENTRY kEntries[] = {
#define END_MESSAGE_MAP()                                                      \
  {0, 0, 0, nullptr}};                                                         \
  static const AFX_MSGMAP kMap = {&TheBaseClass::GetThisMessageMap, kEntries}; \
  return &kMap;                                                                \
  }

#define AFX_THIS(target) static_cast<ThisClass*>(target)

// ---- entries ----

// LRESULT handler(WPARAM, LPARAM), any message.
#define ON_MESSAGE(message, handler)                                           \
  {message, 0, 0, [](CCmdTarget* t, WPARAM w, LPARAM l) -> LRESULT {          \
     return AFX_THIS(t)->handler(w, l);                                        \
   }},
// void handler(), WM_COMMAND with a control's notification code and id.
#define ON_CONTROL(code, id, handler)                                          \
  {WM_COMMAND, code, id, [](CCmdTarget* t, WPARAM, LPARAM) -> LRESULT {        \
     AFX_THIS(t)->handler();                                                   \
     return 0;                                                                 \
   }},
#define ON_BN_CLICKED(id, handler) ON_CONTROL(BN_CLICKED, id, handler)
// void handler(), a menu or accelerator command (notification code 0).
#define ON_COMMAND(id, handler) ON_CONTROL(0, id, handler)
// void OnPaint()
#define ON_WM_PAINT()                                                          \
  {WM_PAINT, 0, 0, [](CCmdTarget* t, WPARAM, LPARAM) -> LRESULT {              \
     AFX_THIS(t)->OnPaint();                                                   \
     return 0;                                                                 \
   }},
// void OnSysCommand(UINT id, LPARAM lParam)
#define ON_WM_SYSCOMMAND()                                                     \
  {WM_SYSCOMMAND, 0, 0, [](CCmdTarget* t, WPARAM w, LPARAM l) -> LRESULT {     \
     AFX_THIS(t)->OnSysCommand(static_cast<UINT>(w), l);                       \
     return 0;                                                                 \
   }},
// HCURSOR OnQueryDragIcon()
#define ON_WM_QUERYDRAGICON()                                                  \
  {WM_QUERYDRAGICON, 0, 0, [](CCmdTarget* t, WPARAM, LPARAM) -> LRESULT {      \
     return reinterpret_cast<LRESULT>(AFX_THIS(t)->OnQueryDragIcon());         \
   }},
// void OnHScroll(UINT code, UINT position, HWND scrollBar)
#define ON_WM_HSCROLL()                                                        \
  {WM_HSCROLL, 0, 0, [](CCmdTarget* t, WPARAM w, LPARAM l) -> LRESULT {        \
     AFX_THIS(t)->OnHScroll(LOWORD(w), HIWORD(w), reinterpret_cast<HWND>(l));  \
     return 0;                                                                 \
   }},
