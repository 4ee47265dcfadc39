// ImportHook: for the life of the object, the calls that one module makes to
// one imported function (through its import address table) go to a
// replacement instead. Tests use it to see what the code under test asks of
// the system (the event log, for instance) where the system itself keeps no
// trace. Only calls made through that module's own import table are caught:
// for a statically linked library under test, the test program's table.
#pragma once
#include <windows.h>

class ImportHook {
 public:
  // dll is matched without regard to case ("advapi32.dll"). When original is
  // given, *original holds the function the table named before the slot is
  // switched, so a replacement that calls on through it works from its first
  // call, even one made on another thread while this constructor runs; it is
  // not written when the function is not found.
  ImportHook(HMODULE module, const char* dll, const char* function, void* replacement,
             void** original = nullptr);
  ~ImportHook();
  ImportHook(const ImportHook&) = delete;
  ImportHook& operator=(const ImportHook&) = delete;

  bool installed() const { return slot_ != nullptr; }
  // The function the table named before the hook.
  void* original() const { return original_; }

 private:
  void** slot_ = nullptr;
  void* original_ = nullptr;
};
