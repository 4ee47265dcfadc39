// The two callback interfaces an outside host hands to KestrinZel2.dll:
// IDeviceHost to IKestrinPrivate::Create, INavigationHost to
// IAgilityPrivate<double>::Create. The host implements them; the library only
// calls them, never creates, frees or counts references on them, and keeps
// each pointer in its handle, so it must stay valid until that handle is
// destroyed and any call of it under way has returned (see below).
//
// Binary contract with hosts built by other compilers: abstract classes of
// virtual operations only (no data, no destructor), operations in the order
// declared here, each one a member call in the platform's member-call
// convention: on x86 this in ECX with the callee popping its arguments
// (thiscall), on x64 the one convention. No windows.h here.
//
// What a host may do inside a callback. The library holds no lock while it
// calls the host, and no Destroy waits for a call of the host, so inside any
// callback the host may:
// - destroy any handle, the one being called included. The call still
//   returns normally into the library, which frees the handle once the call
//   is over; nothing more of that handle reaches the host (after OnActive(1)
//   no OnMotionStarted follows, and no OnTimer comes).
// - run messages: a message box, a modal dialog, SendMessage to another of
//   its threads, also one whose handler destroys the handle being called;
// - wait for another of its threads, also one that destroys the handle
//   being called (its Destroy returns without waiting for this call);
// - create handles, arm timers, read motion, call the navigation.
// It must not unload the library (FreeLibrary) inside a callback: the call
// returns into the library's code.
//
// A Destroy made on one thread while a call of that handle runs on another
// (device events and timer expiries come on the thread that created the
// handle) returns at once: the call under way (one the library had begun
// may reach the host just after Destroy returned) finishes afterwards, and
// no further call of that handle comes. The host object must stay valid
// until that call has returned: a host that frees it right after such a
// Destroy frees it on the thread that receives the calls, or after its last
// call there. A library unloaded right after such a Destroy stays loaded
// until the process ends, so that the call can return into it; otherwise
// FreeLibrary unloads it (a timer window left on another thread is closed
// by that thread without the library's code).
#pragma once

// The member-call convention of every interface operation, host and library
// side alike.
#if defined(_WIN32) && !defined(_WIN64)
#  define KESTRIN_ZEL2_CALL __thiscall
#else
#  define KESTRIN_ZEL2_CALL
#endif

struct NavView;
struct NavSettings;

// Device events of one device handle, called on the thread that created the
// process's first device handle (it must pump window messages). Results are
// ignored.
class IDeviceHost {
 public:
  // 1 attached, 0 detached; called when the open flag changes.
  virtual long KESTRIN_ZEL2_CALL OnDeviceOpen(int open) = 0;
  // 1 enabled, 0 disabled; called when the ready flag changes.
  virtual long KESTRIN_ZEL2_CALL OnDeviceReady(int ready) = 0;
  // 1 when the ball or the scroll hat starts moving from rest, 0 when the
  // last moving part comes to rest.
  virtual long KESTRIN_ZEL2_CALL OnActive(int active) = 0;
  // The new buttons word and the bits that changed.
  virtual long KESTRIN_ZEL2_CALL OnButtonsChanged(unsigned int buttons, unsigned int changed) = 0;
  // Right after OnActive(1).
  virtual long KESTRIN_ZEL2_CALL OnMotionStarted() = 0;
};

// Callbacks of one navigation handle. The library calls slots 1, 2, 3, 5
// and 7; slots 0, 4 and 6 are the host's own and never called. ApplyView,
// QuerySettings and PivotChanged are called inside Step, on the thread that
// called it: Step needs only this host object, which must stay valid until
// Step returns, also when the handle is destroyed inside one of them (a
// PivotChanged may then still follow the ApplyView of that step).
class INavigationHost {
 public:
  virtual long KESTRIN_ZEL2_CALL Reserved0() = 0;
  // The new view of a step, a modified copy valid during the call.
  virtual long KESTRIN_ZEL2_CALL ApplyView(NavView* view) = 0;
  // The host's current settings: it may fill the 72-byte area and return it,
  // or return its own record; the library copies the record at once.
  virtual NavSettings* KESTRIN_ZEL2_CALL QuerySettings(void* area) = 0;
  // Pivot x, y, z and pivot depth after a step that moved them.
  virtual long KESTRIN_ZEL2_CALL PivotChanged(double* pivotAndDepth) = 0;
  virtual long KESTRIN_ZEL2_CALL Reserved4() = 0;
  // An idle notification, on the thread that created the navigation handle.
  // This version of the library requests none, so it is never called.
  virtual long KESTRIN_ZEL2_CALL OnIdle() = 0;
  virtual long KESTRIN_ZEL2_CALL Reserved6() = 0;
  // One expiry of the handle's one-shot timer, on the thread that created
  // the handle (it must pump window messages).
  virtual long KESTRIN_ZEL2_CALL OnTimer() = 0;
};
