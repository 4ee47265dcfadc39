#include "dialog_icons.h"

#include "framework.h"
#include "resource.h"

namespace {

BOOL CALLBACK GiveIcon(HWND control, LPARAM icon) {
  wchar_t className[16] = {};
  GetClassNameW(control, className, 16);
  const LONG_PTR style = GetWindowLongPtrW(control, GWL_STYLE);
  if (lstrcmpiW(className, L"Static") == 0 && (style & SS_TYPEMASK) == SS_ICON &&
      !SendMessageW(control, STM_GETICON, 0, 0))
    SendMessageW(control, STM_SETICON, static_cast<WPARAM>(icon), 0);
  return TRUE;
}

}  // namespace

void GiveIconsTo(HWND dialog) {
  const wchar_t* name = MAKEINTRESOURCEW(IDR_MAINFRAME);
  HICON icon = LoadIconW(AfxFindResourceHandle(name, RT_GROUP_ICON), name);  // shared: never freed
  if (icon) EnumChildWindows(dialog, &GiveIcon, reinterpret_cast<LPARAM>(icon));
}
