// The three system calls behind opening the Control Panel item, reached
// through pointers so that a test can give the applet a program-files folder
// that cannot be found or is too long, and see the box and the program start
// it asks for. Each pointer has the shape of the system call it names; the
// applet never changes them.
#pragma once
#include <windows.h>

struct AppletSystemCalls {
  HRESULT(WINAPI* SHGetFolderPathA)(HWND owner, int folder, HANDLE token, DWORD flags,
                                    LPSTR path);
  int(WINAPI* MessageBoxA)(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
  HINSTANCE(WINAPI* ShellExecuteA)(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters,
                                   LPCSTR directory, INT show);
};

extern AppletSystemCalls AppletSystem;
