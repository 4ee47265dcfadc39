// The default navigation settings that IAgilityPrivate::GetDefaults hands out.
#include "navigation.h"

namespace KestrinNav {

namespace {

constexpr NavSettings MakeDefaultSettings() {
  NavSettings s = {};
  s.kind = 1;            // the pivot on the view axis
  s.upAxis = 1;          // y is up
  s.fence = 1;           // the pivot stays visible
  s.zoomAlongRay = 1;
  s.twistAboutRay = 1;
  return s;
}

}  // namespace

// Constant-initialised: in place before any code of the process runs, so no
// order of start-up can show a host an unfilled record.
const NavSettings DefaultSettings = MakeDefaultSettings();

}  // namespace KestrinNav
