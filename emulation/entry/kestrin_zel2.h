// The one object KestrinZel2.dll hands to its hosts: the five interfaces of
// KestrinZel2.h, implemented by forwarding each operation to the part that
// does the work (device access, navigation handles and timer, the
// double-precision navigation, keyboard emulation). The object has no state
// of its own; it exists from load to unload.
#pragma once

#include "KestrinZel2.h"
#include "agility_defs.h"

template <typename T>
class CKestrinZel2 final : public IKestrinZel2<T> {
 public:
  constexpr CKestrinZel2() {}

  // IKestrinZelVersion
  const wchar_t* KESTRIN_ZEL2_CALL GetVersion() override;
  void KESTRIN_ZEL2_CALL Reserved(void*) override;

  // IKestrinPrivate
  DeviceHandle* KESTRIN_ZEL2_CALL Create(IDeviceHost* host) override;
  void KESTRIN_ZEL2_CALL Destroy(DeviceHandle* handle) override;
  int KESTRIN_ZEL2_CALL IsDeviceOpen(DeviceHandle* handle) override;
  int KESTRIN_ZEL2_CALL IsDeviceReady(DeviceHandle* handle) override;
  int KESTRIN_ZEL2_CALL IsActive(DeviceHandle* handle) override;
  unsigned int KESTRIN_ZEL2_CALL GetButtons(DeviceHandle* handle) override;
  void KESTRIN_ZEL2_CALL Reserved(void*, void*) override;
  int KESTRIN_ZEL2_CALL GetMotion(DeviceHandle* handle, double* seconds,
                                  NavMotion* motion) override;

  // IAgilityPrivate<T>
  NavigationHandle* KESTRIN_ZEL2_CALL Create(INavigationHost* host) override;
  void KESTRIN_ZEL2_CALL Destroy(NavigationHandle* handle) override;
  const NavSettings* KESTRIN_ZEL2_CALL GetDefaults() override;
  const NavVec3* KESTRIN_ZEL2_CALL SnapOrientation(const NavVec3* point, void* record) override;
  void KESTRIN_ZEL2_CALL Step(NavigationHandle* handle, T seconds, NavMotion* motion,
                              const NavView* view) override;
  T KESTRIN_ZEL2_CALL GetEpsilon() override;
  void KESTRIN_ZEL2_CALL SetEpsilon(T value) override;
  T KESTRIN_ZEL2_CALL GetLargeLimit() override;
  void KESTRIN_ZEL2_CALL SetLargeLimit(T value) override;
  T KESTRIN_ZEL2_CALL GetSmallLimit() override;
  void KESTRIN_ZEL2_CALL SetSmallLimit(T value) override;
  void KESTRIN_ZEL2_CALL ObjectControl(NavVolume* volume, NavSettings* settings, NavXform* object,
                                       const NavXform* parent, const NavMat43* camera,
                                       const NavDelta* delta) override;
  void KESTRIN_ZEL2_CALL FlyCamera(NavVolume* volume, NavSettings* settings, NavMat43* camera,
                                   NavDelta* delta) override;
  unsigned short KESTRIN_ZEL2_CALL GetMode(NavigationHandle* handle) override;
  void KESTRIN_ZEL2_CALL SetMode(NavigationHandle* handle, unsigned short mode) override;
  unsigned short KESTRIN_ZEL2_CALL GetDefaultA(void*) override;
  void KESTRIN_ZEL2_CALL SetDefaultA(void*, unsigned short value) override;
  unsigned short KESTRIN_ZEL2_CALL GetDefaultB(void*) override;
  void KESTRIN_ZEL2_CALL SetDefaultB(void*, unsigned short value) override;
  unsigned int KESTRIN_ZEL2_CALL GetTicCount() override;
  void KESTRIN_ZEL2_CALL StartTimer(NavigationHandle* handle, unsigned short start,
                                    unsigned short duration) override;

  // IKeyboardEmul2
  void KESTRIN_ZEL2_CALL ParseKeyCombo(wchar_t* textOrId, KeyCombo* combo) override;
  void KESTRIN_ZEL2_CALL PressKeyCombo(KeyCombo* combo) override;
  unsigned int KESTRIN_ZEL2_CALL ReleaseKeyCombo(KeyCombo* combo) override;

  // IRegistryKeyAccessPrivate
  void* KESTRIN_ZEL2_CALL Create(void*, void*) override;
  void KESTRIN_ZEL2_CALL Destroy(void* key) override;
  int KESTRIN_ZEL2_CALL Query(void*, void*) override;
  void KESTRIN_ZEL2_CALL Reserved1(void*, void*, void*, void*) override;
  void KESTRIN_ZEL2_CALL Reserved2(void*, void*, void*, void*, void*) override;
  void KESTRIN_ZEL2_CALL Reserved3(void*, void*, void*, void*) override;
  void KESTRIN_ZEL2_CALL Reserved4(void*, void*, void*) override;
  void KESTRIN_ZEL2_CALL Reserved5(void*, void*, void*) override;
  void KESTRIN_ZEL2_CALL Reserved6(void*, void*, void*) override;
};

// The object is the five interface pointers and nothing else.
static_assert(sizeof(CKestrinZel2<double>) == 5 * sizeof(void*),
              "CKestrinZel2: five interface tables, no data");

// The export, ordinal 1 without a name (KestrinZel2.def).
extern "C" IKestrinZel2<double>* GetZelInterface();
