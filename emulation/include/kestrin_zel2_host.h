// The two callback interfaces an outside host hands to KestrinZel2.dll:
// IDeviceHost to IKestrinPrivate::Create, INavigationHost to
// IAgilityPrivate<double>::Create. The host implements them; the library only
// calls them, never creates, frees or counts references on them, and keeps
// each pointer in its handle, so it must stay valid until that handle is
// destroyed.
//
// Binary contract with hosts built by other compilers: abstract classes of
// virtual operations only (no data, no destructor), operations in the order
// declared here, each one a member call in the platform's member-call
// convention: on x86 this in ECX with the callee popping its arguments
// (thiscall), on x64 the one convention. No windows.h here.
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
// and 7; slots 0, 4 and 6 are the host's own and never called.
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
  virtual long KESTRIN_ZEL2_CALL OnIdle() = 0;
  virtual long KESTRIN_ZEL2_CALL Reserved6() = 0;
  // One expiry of the handle's one-shot timer, on the thread that created
  // the handle (it must pump window messages).
  virtual long KESTRIN_ZEL2_CALL OnTimer() = 0;
};
