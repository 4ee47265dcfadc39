// The connection class of Kestrin1.dll: a client program builds a CKestrin to
// find the session agent (starting it when it is missing), to hear device
// events through one process-wide callback and to read the device's motion
// from the shared section. No windows.h here: the header stands alone for
// client programs, and the records that cross the module boundary are pinned
// by the static assertions below in every build.
#pragma once

#include <stddef.h>

#include "kestrin1_api.h"

#if defined(_WIN32)
#  define KESTRIN1_CALLBACK __stdcall
#else
#  define KESTRIN1_CALLBACK
#endif

namespace Kestrin1 {

// The client callback: (event, param); the result is ignored. It is called
// on the connection's thread, from that thread's message pump: the thread
// that built the process's first CKestrin. When that thread ends (or the
// library's window on it is destroyed) while objects built on other threads
// live on, the connection passes to the thread that built the newest of
// those, and the callback comes there from then on (a thread hears events
// only while it pumps its messages). A connection closed by its last object
// is made again by the next CKestrin, on that one's thread.
typedef long(KESTRIN1_CALLBACK* KestrinCallback)(unsigned int event, long param);

// The events passed to the callback. EventButtonsChanged carries the new
// buttons word, EventWakeup the wakeup message's lParam (0); the others 0.
enum EClientEvent {
  EventWakeup = 0,
  EventBallActive = 1,
  EventBallReleased = 2,
  EventScrollActive = 3,
  EventScrollReleased = 4,
  EventButtonsChanged = 5,
  EventDeviceEnabled = 6,
  EventDeviceDisabled = 7,
  EventDeviceAttached = 8,
  EventDeviceDetached = 9,
};

// Ball motion: tics covered (at least 1 after a read with data, 0 after one
// without), then translations and rotations.
struct ABallMotion {
  unsigned short tics;
  short tx, ty, tz;
  short rx, ry, rz;
};

// Scroll-hat motion: tics, then the two axes.
struct AScrollMotion {
  unsigned short tics;
  short x, y;
};

struct ConnectionState;  // per-object read and status state, inside the library

class KESTRIN1_API CKestrin {
 public:
  // Accepted and returned, never interpreted; the suite passes 0.
  enum EAccessMode { AccessModeDefault = 0 };

  explicit CKestrin(unsigned short id = 0, EAccessMode mode = AccessModeDefault);
  ~CKestrin();
  // Member-wise: both objects then share one state, which only one of them
  // may destroy.
  CKestrin& operator=(const CKestrin& other);

  // The process-wide callback; a foreign process id also tells the agent on
  // whose behalf this process works. Always 1.
  static int Register(KestrinCallback callback, unsigned long processId);
  // Puts the do-nothing callback back. Always 1.
  static int UnRegister(unsigned long processId);
  // Tells the agent that this process gained (non-zero) or lost the focus.
  static void FocusChanged(int gained);
  // One EventWakeup the next time the connection's thread (see
  // KestrinCallback) goes idle.
  static void RequestWakeup();
  // The device enumeration: one device, id 1.
  static unsigned short GetKestrinCount();
  static unsigned short GetNextKestrinId();
  unsigned short GetKestrinId();
  EAccessMode GetAccessMode();
  EAccessMode SetAccessMode(EAccessMode mode);
  unsigned int GetLastError(unsigned long* detail);
  char* GetErrorText(unsigned int code);

  // Motion reads: 1 with new motion in m_Motion (m_Scroll), 0 with a zeroed
  // record. GetMotion merges the scroll hat into tx and ty.
  int GetBallMotion();
  int GetScrollMotion();
  int GetMotion();
  // Seconds per tic, the unit of the records' tics.
  static float SecondsPerTic();

  // Seconds per refresh of the primary display, set when the library loads.
  static float m_MonitorRefreshPeriod;

  ABallMotion m_Motion;
  AScrollMotion m_Scroll;
  ConnectionState* m_pConnection;
};

// The library's connection globals, exported as AJLSKDFHEIEMUWPMXURSKDFNB:
// where the view, the manager window and the message id live, and the
// callback itself.
struct KestrinConnectionGlobals {
  void** m_pView;            // the read-only view of the section, null until mapped
  void** m_pManagerWindow;   // the agent's window (HWND), null when none was found
  unsigned int* m_pMessageId;  // the id of the registered message "KestrinMessage"
  KestrinCallback m_Callback;
};

static_assert(sizeof(ABallMotion) == 14, "ABallMotion is 14 bytes");
static_assert(sizeof(AScrollMotion) == 6, "AScrollMotion is 6 bytes");
static_assert(offsetof(ABallMotion, rz) == 12, "ABallMotion axes");
static_assert(offsetof(AScrollMotion, y) == 4, "AScrollMotion axes");
static_assert(sizeof(KestrinConnectionGlobals) == 4 * sizeof(void*),
              "KestrinConnectionGlobals: four pointer-sized fields");
static_assert(offsetof(KestrinConnectionGlobals, m_pManagerWindow) == sizeof(void*) &&
                  offsetof(KestrinConnectionGlobals, m_pMessageId) == 2 * sizeof(void*) &&
                  offsetof(KestrinConnectionGlobals, m_Callback) == 3 * sizeof(void*),
              "KestrinConnectionGlobals field order");
// The object a client allocates and the library fills: the two records, then
// the state pointer at its natural alignment.
static_assert(offsetof(CKestrin, m_Scroll) == 14 && offsetof(CKestrin, m_pConnection) ==
                                                          (sizeof(void*) == 8 ? 24 : 20),
              "CKestrin layout");
#if defined(_WIN64)
static_assert(sizeof(KestrinConnectionGlobals) == 32, "x64: four 64-bit fields");
#elif defined(_WIN32)
static_assert(sizeof(KestrinConnectionGlobals) == 16, "x86: four 32-bit fields");
#endif

}  // namespace Kestrin1

// ---- flat functions: the object first, then the member's arguments ----
KESTRIN1_FLAT Kestrin1::CKestrin* KesKestrinCreate(unsigned short id,
                                                   Kestrin1::CKestrin::EAccessMode mode);
KESTRIN1_FLAT void KesKestrinDestroy(Kestrin1::CKestrin* kestrin);
KESTRIN1_FLAT int KesGetBallMotion(Kestrin1::CKestrin* kestrin, Kestrin1::ABallMotion* out);
KESTRIN1_FLAT int KesGetScrollMotion(Kestrin1::CKestrin* kestrin, Kestrin1::AScrollMotion* out);
KESTRIN1_FLAT int KesGetMotion(Kestrin1::CKestrin* kestrin, Kestrin1::ABallMotion* out);
KESTRIN1_FLAT int KesRegister(Kestrin1::KestrinCallback callback, unsigned long processId);
KESTRIN1_FLAT int KesUnRegister(unsigned long processId);
KESTRIN1_FLAT void KesFocusChanged(int gained);
KESTRIN1_FLAT void KesRequestWakeup();
KESTRIN1_FLAT unsigned short KesGetKestrinCount();
KESTRIN1_FLAT unsigned short KesGetNextKestrinId();
KESTRIN1_FLAT unsigned short KesGetKestrinId(Kestrin1::CKestrin* kestrin);
KESTRIN1_FLAT Kestrin1::CKestrin::EAccessMode KesGetAccessMode(Kestrin1::CKestrin* kestrin);
KESTRIN1_FLAT Kestrin1::CKestrin::EAccessMode KesSetAccessMode(Kestrin1::CKestrin* kestrin,
                                                               Kestrin1::CKestrin::EAccessMode mode);
KESTRIN1_FLAT unsigned int KesGetLastError(Kestrin1::CKestrin* kestrin, unsigned long* detail);
KESTRIN1_FLAT char* KesGetErrorText(Kestrin1::CKestrin* kestrin, unsigned int code);

// The library's connection globals (see KestrinConnectionGlobals).
KESTRIN1_FLAT Kestrin1::KestrinConnectionGlobals AJLSKDFHEIEMUWPMXURSKDFNB;
