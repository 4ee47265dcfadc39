#include "import_hook.h"

#include <stdint.h>
#include <string.h>

namespace {

bool Store(void** slot, void* value) {
  DWORD oldProtect = 0;
  if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &oldProtect)) return false;
  *slot = value;
  DWORD unused = 0;
  VirtualProtect(slot, sizeof *slot, oldProtect, &unused);  // best effort: the store is done
  return true;
}

}  // namespace

ImportHook::ImportHook(HMODULE module, const char* dll, const char* function, void* replacement,
                       void** original) {
  auto* base = reinterpret_cast<uint8_t*>(module);
  auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
  if (!base || dos->e_magic != IMAGE_DOS_SIGNATURE) return;
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  if (nt->Signature != IMAGE_NT_SIGNATURE) return;
  const IMAGE_DATA_DIRECTORY& directory =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (!directory.VirtualAddress) return;
  for (auto* import = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
       import->Name; ++import) {
    if (_stricmp(reinterpret_cast<const char*>(base + import->Name), dll) != 0) continue;
    // The name table (OriginalFirstThunk) runs beside the address table.
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(
        base + (import->OriginalFirstThunk ? import->OriginalFirstThunk : import->FirstThunk));
    auto* addresses = reinterpret_cast<IMAGE_THUNK_DATA*>(base + import->FirstThunk);
    for (; names->u1.AddressOfData; ++names, ++addresses) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0) continue;
      void** slot = reinterpret_cast<void**>(&addresses->u1.Function);
      original_ = *slot;
      if (original) *original = original_;
      if (!Store(slot, replacement)) {
        original_ = nullptr;
        return;
      }
      slot_ = slot;
      return;
    }
  }
}

ImportHook::~ImportHook() {
  if (slot_) Store(slot_, original_);
}
