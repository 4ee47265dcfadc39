// Navigation handles of IAgilityPrivate<double>: each one owns a navigation
// object that joins the idle detector, the one-shot timer and the
// process-wide values, and passes idle notices and timer expiries to the
// host's INavigationHost. A handle whose object could not be made answers
// every operation with 0 or nothing.
#pragma once

#include "agility_defs.h"
#include "idle_detect.h"
#include "kestrin_zel2_host.h"
#include "timer_helper.h"

struct NavigationHandle;

template <typename T>
class CAgilityPrivate {
 public:
  class CPrivate2 final : public CIdleDetect, public CMyTimer, public CAgilityDefs<T> {
   public:
    explicit CPrivate2(NavigationHandle* owner) : m_Owner(owner), m_Mode(0) {}
    void OnIdle() override;
    void OnTimer() override;
    // Retired, its window gone: the object and its handle are freed.
    void OnWindowGone() override;

    NavigationHandle* m_Owner;  // its host receives the notices
    unsigned short m_Mode;
  };
};

// What IAgilityPrivate::Create hands out. object is null when it could not
// be allocated; host is the host's, not owned.
struct NavigationHandle {
  CAgilityPrivate<double>::CPrivate2* object;
  INavigationHost* host;
};

static_assert(sizeof(NavigationHandle) == 2 * sizeof(void*), "a navigation handle is two words");

NavigationHandle* CreateNavigationHandle(INavigationHost* host);
void DestroyNavigationHandle(NavigationHandle* handle);
unsigned short GetNavigationMode(const NavigationHandle* handle);
void SetNavigationMode(NavigationHandle* handle, unsigned short mode);
void StartNavigationTimer(NavigationHandle* handle, unsigned short startTic,
                          unsigned short duration);
