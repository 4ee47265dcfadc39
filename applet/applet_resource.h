// Resource ids of the applet Kestrin.cpl, shared by its .rc and its code.
#pragma once

#define IDI_KESTRIN_APPLET 2001  // icon group: 16, 32 and 48 pixels, 8 bits per pixel
#define IDS_APPLET_NAME 1        // "Kestrin Controllers"
#define IDS_APPLET_INFO 2        // the item's description
