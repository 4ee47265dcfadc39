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
  if (CTimerHelper* helper = object ? object->m_pHelper : nullptr) {
    // On any thread, never waiting for an OnTimer: the worker ends, then the
    // idle detection, and the retired helper frees the object and this
    // handle once its window is done with and no OnTimer is under way (at
    // once, when none is). No OnTimer reaches the host after this call.
    helper->Stop();
    object->StopIdleDetection();
    helper->Retire();
    return;
  }
  // Without a timer nothing calls the host on another thread.
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
