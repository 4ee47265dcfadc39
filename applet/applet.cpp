// Kestrin.cpl: the Control Panel applet. Its one export, CPlApplet (ordinal 1,
// by plain name through Kestrin.def), gives the Control Panel one item and
// opens the configuration program when the user opens the item.
#include <windows.h>
#include <cpl.h>

#include <cstddef>

#include "applet_resource.h"
#include "open_item.h"

// CPLINFO comes from <cpl.h>, which declares it packed (pshpack1.h): 16 bytes
// in the x86 build, 20 in the x64 build with lData at offset 12. The Control
// Panel passes a record of exactly that size; a naturally aligned copy of our
// own (24 bytes on x64) would write past it.
#ifdef _WIN64
static_assert(sizeof(CPLINFO) == 20, "CPLINFO is the system's packed record");
#else
static_assert(sizeof(CPLINFO) == 16, "CPLINFO is the system's packed record");
#endif
static_assert(offsetof(CPLINFO, lData) == 12, "lData follows the three ids");

// The Control Panel's window handle and lParam1 (the item number; there is
// one item) are not needed by any message.
extern "C" LONG APIENTRY CPlApplet(HWND, UINT message, LPARAM, LPARAM lParam2) {
  switch (message) {
    case CPL_INIT:
      return 1;
    case CPL_GETCOUNT:
      return 1;  // one item
    case CPL_INQUIRE: {
      CPLINFO* info = reinterpret_cast<CPLINFO*>(lParam2);
      info->idIcon = IDI_KESTRIN_APPLET;
      info->idName = IDS_APPLET_NAME;
      info->idInfo = IDS_APPLET_INFO;
      info->lData = 0;
      return 0;
    }
    case CPL_SELECT:
      return 1;
    case CPL_DBLCLK:
      return OpenConfigurationProgram();
    case CPL_STOP:
      return 1;
    case CPL_EXIT:
      return 0;
    case CPL_NEWINQUIRE:
      // Not answered: the record stays as the Control Panel gave it, and the
      // Control Panel falls back on the CPL_INQUIRE values.
      return 1;
    case CPL_STARTWPARMSA:
    case CPL_STARTWPARMSW:
      // "Not handled". The Control Panel asks this first when it opens an
      // item by the applet's file name (control.exe Kestrin.cpl) and sends
      // CPL_DBLCLK only on 0: answered 1 like any other message, it would
      // count the item as opened while nothing was started.
      return 0;
    default:
      return 1;
  }
}
