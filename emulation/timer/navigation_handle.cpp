#include "navigation_handle.h"

#include <new>

template <typename T>
void CAgilityPrivate<T>::CPrivate2::OnIdle() {
  if (m_Owner && m_Owner->host) m_Owner->host->OnIdle();
}

template <typename T>
void CAgilityPrivate<T>::CPrivate2::OnTimer() {
  if (m_Owner && m_Owner->host) m_Owner->host->OnTimer();
}

template <typename T>
void CAgilityPrivate<T>::CPrivate2::OnWindowGone() {
  NavigationHandle* handle = m_Owner;
  delete this;
  delete handle;
}

template class CAgilityPrivate<double>;

NavigationHandle* CreateNavigationHandle(INavigationHost* host) {
  NavigationHandle* handle = new (std::nothrow) NavigationHandle;
  if (!handle) return nullptr;
  handle->host = host;
  handle->object = new (std::nothrow) CAgilityPrivate<double>::CPrivate2(handle);
  return handle;
}

void DestroyNavigationHandle(NavigationHandle* handle) {
  if (!handle) return;
  CAgilityPrivate<double>::CPrivate2* object = handle->object;
  if (object && object->m_pHelper && !object->m_pHelper->CanGoNow()) {
    // The timer's window belongs to another thread (or this thread is in the
    // object's own OnTimer): the worker and the idle detector end now, and
    // the window's thread frees the object and the handle once the window
    // has closed; no OnTimer reaches the host after this call returns.
    object->m_pHelper->Stop();
    object->StopIdleDetection();
    object->m_pHelper->Retire();
    return;
  }
  // The timer first (its worker and window), then the idle detector.
  delete object;
  delete handle;
}

unsigned short GetNavigationMode(const NavigationHandle* handle) {
  return handle && handle->object ? handle->object->m_Mode : 0;
}

void SetNavigationMode(NavigationHandle* handle, unsigned short mode) {
  if (handle && handle->object) handle->object->m_Mode = mode;
}

void StartNavigationTimer(NavigationHandle* handle, unsigned short startTic,
                          unsigned short duration) {
  if (handle && handle->object && handle->object->m_pHelper)
    handle->object->m_pHelper->Start(startTic, duration);
}
