// The default navigation settings that IAgilityPrivate::GetDefaults hands out.
#include "navigation.h"

namespace KestrinNav {

namespace {

NavSettings MakeDefaultSettings() {
  NavSettings s = {};
  s.kind = 1;            // the pivot on the view axis
  s.upAxis = 1;          // y is up
  s.fence = 1;           // the pivot stays visible
  s.zoomAlongRay = 1;
  s.twistAboutRay = 1;
  return s;
}

}  // namespace

const NavSettings DefaultSettings = MakeDefaultSettings();

}  // namespace KestrinNav
