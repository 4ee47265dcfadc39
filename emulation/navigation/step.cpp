// The navigation step of a host's view.
#include "navigation.h"

namespace KestrinNav {

void Step(INavigationHost* host, double seconds, NavMotion* motion, const NavView* view) {
  // Not wired to the host yet.
  (void)host;
  (void)seconds;
  (void)motion;
  (void)view;
}

}  // namespace KestrinNav
