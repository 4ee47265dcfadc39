// KestrinZel2.dll for outside host programs: the one export and the five
// interfaces of the object it returns.
//
//   HMODULE zel = LoadLibraryW(L"KestrinZel2.dll");
//   auto get = reinterpret_cast<KestrinZelGetInterface>(GetProcAddress(zel, MAKEINTRESOURCEA(1)));
//   IKestrinZel2<double>* zel2 = get();
//   IKestrinPrivate* devices = zel2;  // the host converts to each interface
//
// The export has ordinal 1 and no name. Every call returns the address of the
// same static object, which lives from load to unload.
//
// Binary contract with hosts built by other compilers: the object is five
// interface pointers at consecutive pointer-sized positions (IKestrinZelVersion
// at 0, IKestrinPrivate, IAgilityPrivate<double>, IKeyboardEmul2 and
// IRegistryKeyAccessPrivate after it: bytes 0, 4, 8, 12, 16 on x86 and 0, 8,
// 16, 24, 32 on x64); each interface is a table of operations in the order
// declared here, each a member call in the platform's member-call convention
// (KESTRIN_ZEL2_CALL: thiscall on x86, the callee pops its arguments; the one
// convention on x64). No interface has data, a destructor or reference
// counting; every argument list is exact, ignored arguments included.
//
// Handles are plain records the library allocates and frees; they are opaque
// to the host. Device events and timer expiries arrive on the thread that
// created the handle (the first device handle, for device events), which
// must pump window messages. A handle may be destroyed on any thread, also
// inside a callback; no Destroy waits for a call of the host (what that
// means for the host, and what it may do inside a callback:
// kestrin_zel2_host.h).
#pragma once

#include "kestrin_zel2_host.h"
#include "kestrin_zel2_keyboard.h"
#include "kestrin_zel2_nav.h"

struct DeviceHandle;
struct NavigationHandle;

// Version of the library.
class IKestrinZelVersion {
 public:
  // The constant text L"1.1".
  virtual const wchar_t* KESTRIN_ZEL2_CALL GetVersion() = 0;
  virtual void KESTRIN_ZEL2_CALL Reserved(void* ignored) = 0;
};

// Device access: one device connection per handle, motion in doubles.
class IKestrinPrivate {
 public:
  // A new handle, null when it cannot be allocated. The host must stay valid
  // until the handle is destroyed.
  virtual DeviceHandle* KESTRIN_ZEL2_CALL Create(IDeviceHost* host) = 0;
  // Closes the connection and frees the handle (once a device event's call
  // of the host under way on another thread has returned); null is ignored.
  // Any Destroy ends device events for every handle until the next Create.
  virtual void KESTRIN_ZEL2_CALL Destroy(DeviceHandle* handle) = 0;
  // 0/1: attached, enabled, ball or scroll hat moving.
  virtual int KESTRIN_ZEL2_CALL IsDeviceOpen(DeviceHandle* handle) = 0;
  virtual int KESTRIN_ZEL2_CALL IsDeviceReady(DeviceHandle* handle) = 0;
  virtual int KESTRIN_ZEL2_CALL IsActive(DeviceHandle* handle) = 0;
  // The buttons word of the last buttons event.
  virtual unsigned int KESTRIN_ZEL2_CALL GetButtons(DeviceHandle* handle) = 0;
  virtual void KESTRIN_ZEL2_CALL Reserved(void* ignored1, void* ignored2) = 0;
  // 1 with new motion in *motion and the seconds it covers in *seconds; 0
  // with both left as they were.
  virtual int KESTRIN_ZEL2_CALL GetMotion(DeviceHandle* handle, double* seconds,
                                          NavMotion* motion) = 0;
};

// Navigation: handles with a one-shot timer, the tic clock (204.8 us per tic,
// 21 bits, wrapping), the double-precision navigation and process-wide values
// kept for the host.
template <typename T>
class IAgilityPrivate {
 public:
  // A new handle with its one-shot timer, null when it cannot be allocated.
  // The host must stay valid until the handle is destroyed.
  virtual NavigationHandle* KESTRIN_ZEL2_CALL Create(INavigationHost* host) = 0;
  // Ends the timer and frees the handle (once an OnTimer under way on
  // another thread has returned); no further OnTimer comes. null is
  // ignored.
  virtual void KESTRIN_ZEL2_CALL Destroy(NavigationHandle* handle) = 0;
  virtual const NavSettings* KESTRIN_ZEL2_CALL GetDefaults() = 0;
  // record: the rotation at bytes 56-127 and translation at 128-151.
  virtual const NavVec3* KESTRIN_ZEL2_CALL SnapOrientation(const NavVec3* point, void* record) = 0;
  virtual void KESTRIN_ZEL2_CALL Step(NavigationHandle* handle, T seconds, NavMotion* motion,
                                      const NavView* view) = 0;
  virtual T KESTRIN_ZEL2_CALL GetEpsilon() = 0;
  virtual void KESTRIN_ZEL2_CALL SetEpsilon(T value) = 0;
  virtual T KESTRIN_ZEL2_CALL GetLargeLimit() = 0;
  virtual void KESTRIN_ZEL2_CALL SetLargeLimit(T value) = 0;
  virtual T KESTRIN_ZEL2_CALL GetSmallLimit() = 0;
  virtual void KESTRIN_ZEL2_CALL SetSmallLimit(T value) = 0;
  // The host's delta is copied and never written.
  virtual void KESTRIN_ZEL2_CALL ObjectControl(NavVolume* volume, NavSettings* settings,
                                               NavXform* object, const NavXform* parent,
                                               const NavMat43* camera, const NavDelta* delta) = 0;
  virtual void KESTRIN_ZEL2_CALL FlyCamera(NavVolume* volume, NavSettings* settings,
                                           NavMat43* camera, NavDelta* delta) = 0;
  virtual unsigned short KESTRIN_ZEL2_CALL GetMode(NavigationHandle* handle) = 0;
  virtual void KESTRIN_ZEL2_CALL SetMode(NavigationHandle* handle, unsigned short mode) = 0;
  virtual unsigned short KESTRIN_ZEL2_CALL GetDefaultA(void* ignored) = 0;
  virtual void KESTRIN_ZEL2_CALL SetDefaultA(void* ignored, unsigned short value) = 0;
  virtual unsigned short KESTRIN_ZEL2_CALL GetDefaultB(void* ignored) = 0;
  virtual void KESTRIN_ZEL2_CALL SetDefaultB(void* ignored, unsigned short value) = 0;
  virtual unsigned int KESTRIN_ZEL2_CALL GetTicCount() = 0;
  // Arms the handle's one-shot timer: one OnTimer once (tic - start) modulo
  // 2^16 reaches the duration made odd (an even duration gains one tic). A
  // new arming replaces the current one.
  virtual void KESTRIN_ZEL2_CALL StartTimer(NavigationHandle* handle, unsigned short start,
                                            unsigned short duration) = 0;
};

// Keyboard emulation of named key combinations.
class IKeyboardEmul2 {
 public:
  // textOrId: a string id of the library's string table (1 to 0xFFFF), or a
  // zero-terminated wide text in a buffer of 32 characters into which the
  // canonical text is written back.
  virtual void KESTRIN_ZEL2_CALL ParseKeyCombo(wchar_t* textOrId, KeyCombo* combo) = 0;
  virtual void KESTRIN_ZEL2_CALL PressKeyCombo(KeyCombo* combo) = 0;
  virtual unsigned int KESTRIN_ZEL2_CALL ReleaseKeyCombo(KeyCombo* combo) = 0;
};

// Registry access, a stub: nothing reaches the registry.
class IRegistryKeyAccessPrivate {
 public:
  virtual void* KESTRIN_ZEL2_CALL Create(void* ignored1, void* ignored2) = 0;
  virtual void KESTRIN_ZEL2_CALL Destroy(void* key) = 0;
  virtual int KESTRIN_ZEL2_CALL Query(void* ignored1, void* ignored2) = 0;
  virtual void KESTRIN_ZEL2_CALL Reserved1(void*, void*, void*, void*) = 0;
  virtual void KESTRIN_ZEL2_CALL Reserved2(void*, void*, void*, void*, void*) = 0;
  virtual void KESTRIN_ZEL2_CALL Reserved3(void*, void*, void*, void*) = 0;
  virtual void KESTRIN_ZEL2_CALL Reserved4(void*, void*, void*) = 0;
  virtual void KESTRIN_ZEL2_CALL Reserved5(void*, void*, void*) = 0;
  virtual void KESTRIN_ZEL2_CALL Reserved6(void*, void*, void*) = 0;
};

// The object the export returns: the five interfaces, in this order.
template <typename T>
class IKestrinZel2 : public IKestrinZelVersion,
                     public IKestrinPrivate,
                     public IAgilityPrivate<T>,
                     public IKeyboardEmul2,
                     public IRegistryKeyAccessPrivate {};

// The export, ordinal 1.
typedef IKestrinZel2<double>* (*KestrinZelGetInterface)();
