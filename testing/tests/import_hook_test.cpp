// ImportHook on this program's own import table: a replacement that calls on
// through the original works from its very first call, also one that comes
// while the hook is going in.
#include <gtest/gtest.h>

#include "import_hook.h"

namespace {

// ImportHook switches the slot between two VirtualProtect calls, both made
// through this program's table; a stand-in for VirtualProtect that calls the
// hooked function from inside the second one reaches the replacement right
// after the switch, as another thread of a hooked program may.
using VirtualProtectFn = BOOL(WINAPI*)(LPVOID, SIZE_T, DWORD, PDWORD);
VirtualProtectFn g_RealVirtualProtect;
bool g_CallDuringInstall = false;
int g_CallsDuringInstall = 0;

DWORD(WINAPI* g_OriginalGetCurrentProcessId)();
int g_ReplacementCalls = 0;
bool g_OriginalMissing = false;

DWORD WINAPI CountingGetCurrentProcessId() {
  ++g_ReplacementCalls;
  if (!g_OriginalGetCurrentProcessId) {
    g_OriginalMissing = true;
    return 0;
  }
  return g_OriginalGetCurrentProcessId();
}

// A call through this program's table as it is at that moment: the compiler
// takes an imported function's address for a constant and may keep it from
// one call to the next within a function.
__attribute__((noinline)) DWORD CallThroughTheTable() { return GetCurrentProcessId(); }

BOOL WINAPI ProbingVirtualProtect(LPVOID address, SIZE_T size, DWORD protect, PDWORD old) {
  const BOOL result = g_RealVirtualProtect(address, size, protect, old);
  if (g_CallDuringInstall) {
    CallThroughTheTable();  // the replacement once the slot is switched
    ++g_CallsDuringInstall;
  }
  return result;
}

TEST(ImportHookTest, TheOriginalIsThereBeforeTheFirstCallReachesTheReplacement) {
  g_RealVirtualProtect = reinterpret_cast<VirtualProtectFn>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "VirtualProtect"));
  ASSERT_TRUE(g_RealVirtualProtect);
  HMODULE self = GetModuleHandleA(nullptr);
  ImportHook probe(self, "kernel32.dll", "VirtualProtect",
                   reinterpret_cast<void*>(&ProbingVirtualProtect));
  ASSERT_TRUE(probe.installed());

  g_CallDuringInstall = true;
  {
    ImportHook hook(self, "kernel32.dll", "GetCurrentProcessId",
                    reinterpret_cast<void*>(&CountingGetCurrentProcessId),
                    reinterpret_cast<void**>(&g_OriginalGetCurrentProcessId));
    g_CallDuringInstall = false;
    ASSERT_TRUE(hook.installed());
    ASSERT_EQ(2, g_CallsDuringInstall) << "the slot is switched between two VirtualProtect calls";
    EXPECT_EQ(1, g_ReplacementCalls) << "the call right after the switch reached the replacement";
    EXPECT_FALSE(g_OriginalMissing) << "and found no original to call on";
    EXPECT_EQ(reinterpret_cast<void*>(g_OriginalGetCurrentProcessId), hook.original());
    EXPECT_EQ(g_OriginalGetCurrentProcessId(), CallThroughTheTable());
    EXPECT_EQ(2, g_ReplacementCalls);
  }
  g_CallDuringInstall = false;
  // Gone with the object: the call goes straight to the system again.
  CallThroughTheTable();
  EXPECT_EQ(2, g_ReplacementCalls);
}

}  // namespace
