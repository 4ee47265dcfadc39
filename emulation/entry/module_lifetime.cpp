#include "module_lifetime.h"

#include <windows.h>

void KeepThisModuleLoaded() {
  HMODULE module = nullptr;
  // Pinned: no FreeLibrary unloads it any more. Only a destroy made while a
  // call of the handle's host runs on another thread asks for it.
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCWSTR>(&KeepThisModuleLoaded), &module);
}
