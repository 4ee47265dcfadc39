// The program's icon on the icon controls of its dialogs. A dialog made from
// a satellite library's template looks for the icon its icon control names
// in that library only, and a library that translates texts alone holds no
// icon: the control stays empty. Every such control gets the program's icon
// (group 128, from the satellite library when it has one, else from the
// program itself).
#pragma once
#include <windows.h>

void GiveIconsTo(HWND dialog);
