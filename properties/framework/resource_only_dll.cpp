// The code of a resource library (a translated copy of a program's dialogs
// and strings): nothing but an entry that accepts every load.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
