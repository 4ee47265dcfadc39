#include "kestrin_zel2.h"

#include <string.h>

#include <new>

#include "device_access.h"
#include "keyboard.h"
#include "navigation.h"
#include "navigation_handle.h"
#include "tic_clock.h"

namespace {
// Set by the loader: the tables are in place before any host can call.
CKestrinZel2<double> g_KestrinZel2;
}  // namespace

extern "C" IKestrinZel2<double>* GetZelInterface() { return &g_KestrinZel2; }

// ---- IKestrinZelVersion ----

template <typename T>
const wchar_t* CKestrinZel2<T>::GetVersion() {
  return L"1.1";
}

template <typename T>
void CKestrinZel2<T>::Reserved(void*) {}

// ---- IKestrinPrivate ----

template <typename T>
DeviceHandle* CKestrinZel2<T>::Create(IDeviceHost* host) {
  return CreateDeviceHandle(host);
}

template <typename T>
void CKestrinZel2<T>::Destroy(DeviceHandle* handle) {
  DestroyDeviceHandle(handle);
}

template <typename T>
int CKestrinZel2<T>::IsDeviceOpen(DeviceHandle* handle) {
  return ::IsDeviceOpen(handle);
}

template <typename T>
int CKestrinZel2<T>::IsDeviceReady(DeviceHandle* handle) {
  return ::IsDeviceReady(handle);
}

template <typename T>
int CKestrinZel2<T>::IsActive(DeviceHandle* handle) {
  return IsDeviceActive(handle);
}

template <typename T>
unsigned int CKestrinZel2<T>::GetButtons(DeviceHandle* handle) {
  return GetDeviceButtons(handle);
}

template <typename T>
void CKestrinZel2<T>::Reserved(void*, void*) {}

template <typename T>
int CKestrinZel2<T>::GetMotion(DeviceHandle* handle, double* seconds, NavMotion* motion) {
  return GetDeviceMotion(handle, seconds, motion);
}

// ---- IAgilityPrivate<T> ----

template <typename T>
NavigationHandle* CKestrinZel2<T>::Create(INavigationHost* host) {
  return CreateNavigationHandle(host);
}

template <typename T>
void CKestrinZel2<T>::Destroy(NavigationHandle* handle) {
  DestroyNavigationHandle(handle);
}

template <typename T>
const NavSettings* CKestrinZel2<T>::GetDefaults() {
  return &KestrinNav::DefaultSettings;
}

template <typename T>
const NavVec3* CKestrinZel2<T>::SnapOrientation(const NavVec3* point, void* record) {
  return KestrinNav::SnapOrientation(point, record);
}

template <typename T>
void CKestrinZel2<T>::Step(NavigationHandle* handle, T seconds, NavMotion* motion,
                           const NavView* view) {
  // The step needs only the host the handle holds.
  if (handle) KestrinNav::Step(handle->host, seconds, motion, view);
}

template <typename T>
T CKestrinZel2<T>::GetEpsilon() {
  return CAgilityDefs<T>::m_Epsilon;
}

template <typename T>
void CKestrinZel2<T>::SetEpsilon(T value) {
  CAgilityDefs<T>::m_Epsilon = value;
}

template <typename T>
T CKestrinZel2<T>::GetLargeLimit() {
  return CAgilityDefs<T>::m_LargeLimit;
}

template <typename T>
void CKestrinZel2<T>::SetLargeLimit(T value) {
  CAgilityDefs<T>::m_LargeLimit = value;
}

template <typename T>
T CKestrinZel2<T>::GetSmallLimit() {
  return CAgilityDefs<T>::m_SmallLimit;
}

template <typename T>
void CKestrinZel2<T>::SetSmallLimit(T value) {
  CAgilityDefs<T>::m_SmallLimit = value;
}

template <typename T>
void CKestrinZel2<T>::ObjectControl(NavVolume* volume, NavSettings* settings, NavXform* object,
                                    const NavXform* parent, const NavMat43* camera,
                                    const NavDelta* delta) {
  // The host's delta is never written: the step works on a copy.
  NavDelta copy;
  memcpy(&copy, delta, sizeof copy);
  KestrinNav::ObjectControl(volume, settings, object, parent, camera, &copy);
}

template <typename T>
void CKestrinZel2<T>::FlyCamera(NavVolume* volume, NavSettings* settings, NavMat43* camera,
                                NavDelta* delta) {
  KestrinNav::FlyCamera(volume, settings, camera, delta);
}

template <typename T>
unsigned short CKestrinZel2<T>::GetMode(NavigationHandle* handle) {
  return GetNavigationMode(handle);
}

template <typename T>
void CKestrinZel2<T>::SetMode(NavigationHandle* handle, unsigned short mode) {
  SetNavigationMode(handle, mode);
}

template <typename T>
unsigned short CKestrinZel2<T>::GetDefaultA(void*) {
  return CAgilityDefs<T>::m_DefaultA;
}

template <typename T>
void CKestrinZel2<T>::SetDefaultA(void*, unsigned short value) {
  CAgilityDefs<T>::m_DefaultA = value;
}

template <typename T>
unsigned short CKestrinZel2<T>::GetDefaultB(void*) {
  return CAgilityDefs<T>::m_DefaultB;
}

template <typename T>
void CKestrinZel2<T>::SetDefaultB(void*, unsigned short value) {
  CAgilityDefs<T>::m_DefaultB = value;
}

template <typename T>
unsigned int CKestrinZel2<T>::GetTicCount() {
  return ReadTicCount();
}

template <typename T>
void CKestrinZel2<T>::StartTimer(NavigationHandle* handle, unsigned short start,
                                 unsigned short duration) {
  StartNavigationTimer(handle, start, duration);
}

// ---- IKeyboardEmul2 ----

template <typename T>
void CKestrinZel2<T>::ParseKeyCombo(wchar_t* textOrId, KeyCombo* combo) {
  KestrinKeyboard::ParseKeyCombo(textOrId, combo);
}

template <typename T>
void CKestrinZel2<T>::PressKeyCombo(KeyCombo* combo) {
  KestrinKeyboard::PressKeyCombo(combo);
}

template <typename T>
unsigned int CKestrinZel2<T>::ReleaseKeyCombo(KeyCombo* combo) {
  return KestrinKeyboard::ReleaseKeyCombo(combo);
}

// ---- IRegistryKeyAccessPrivate: nothing reaches the registry ----

template <typename T>
void* CKestrinZel2<T>::Create(void*, void*) {
  return new (std::nothrow) unsigned char(0);
}

template <typename T>
void CKestrinZel2<T>::Destroy(void* key) {
  delete static_cast<unsigned char*>(key);
}

template <typename T>
int CKestrinZel2<T>::Query(void*, void*) {
  return 0;
}

template <typename T>
void CKestrinZel2<T>::Reserved1(void*, void*, void*, void*) {}
template <typename T>
void CKestrinZel2<T>::Reserved2(void*, void*, void*, void*, void*) {}
template <typename T>
void CKestrinZel2<T>::Reserved3(void*, void*, void*, void*) {}
template <typename T>
void CKestrinZel2<T>::Reserved4(void*, void*, void*) {}
template <typename T>
void CKestrinZel2<T>::Reserved5(void*, void*, void*) {}
template <typename T>
void CKestrinZel2<T>::Reserved6(void*, void*, void*) {}

template class CKestrinZel2<double>;
