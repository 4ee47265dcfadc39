// The entry point of Kestrin1.dll.
#include "connection_private.h"

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) Kestrin1::OnLibraryAttach(module);
  if (reason == DLL_THREAD_DETACH) Kestrin1::OnThreadDetach();
  if (reason == DLL_PROCESS_DETACH) Kestrin1::OnLibraryDetach(reserved == nullptr);
  return TRUE;
}
