// What the library does when a process loads and unloads it.
#include "connection_private.h"

namespace Kestrin1 {

float CKestrin::m_MonitorRefreshPeriod = 0.0f;

float RefreshPeriodForRate(int refreshRate) {
  // Rates below 30 are not real rates: 0 and 1 mean "the hardware's default".
  return 1.0f / static_cast<float>(refreshRate < 30 ? 75 : refreshRate);
}

void OnLibraryAttach(HINSTANCE module) {
  g_Connection.m_Module = module;
  HDC screen = GetDC(nullptr);
  int rate = screen ? GetDeviceCaps(screen, VREFRESH) : 0;
  if (screen) ReleaseDC(nullptr, screen);
  CKestrin::m_MonitorRefreshPeriod = RefreshPeriodForRate(rate);
}

void OnLibraryDetach(bool unloading) {
  // At the end of the process the system takes everything at once; an
  // unload leaves the process running, with windows that must not call into
  // the unmapped module.
  if (unloading) ReleaseAtUnload();
  FreeSystemText();
}

}  // namespace Kestrin1
