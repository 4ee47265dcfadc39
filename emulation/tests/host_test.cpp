// KestrinZel2.dll as an outside host built elsewhere uses it: loaded with
// LoadLibrary, its object taken from export ordinal 1, every slot of the
// five interfaces called through the raw tables by index (not through the
// library's header), with the argument words each slot takes; on x86 each
// call must pop exactly those words.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <string.h>
#include <wchar.h>

#include <atomic>
#include <initializer_list>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "kestrin_zel2_keyboard.h"
#include "pump.h"
#include "raw_call.h"
#include "recording_hosts.h"

namespace {

// The interfaces by position in the object, and their slot counts.
enum Interface { Version = 0, Devices = 1, Agility = 2, Keyboard = 3, Registry = 4 };
constexpr int kSlots[] = {2, 8, 21, 3, 9};

// One argument as the host passes it.
struct Arg {
  uint64_t bits;
  bool isDouble;
};
Arg P(const void* p) { return {reinterpret_cast<uintptr_t>(p), false}; }
Arg U(uintptr_t v) { return {v, false}; }
Arg D(double d) {
  Arg a = {0, true};
  memcpy(&a.bits, &d, sizeof d);
  return a;
}

typedef void* (*GetInterface)();

class Zel2Host {
 public:
  bool Load() {
    module_ = LoadLibraryW(L"KestrinZel2.dll");
    if (!module_) return false;
    get_ = reinterpret_cast<GetInterface>(GetProcAddress(module_, MAKEINTRESOURCEA(1)));
    object_ = get_ ? get_() : nullptr;
    return object_ != nullptr;
  }
  void Unload() {
    if (module_) FreeLibrary(module_);
    module_ = nullptr;
    object_ = nullptr;
  }
  void* InterfaceAt(int position) const {
    return static_cast<char*>(object_) + position * sizeof(void*);
  }
  // Calls slot of the interface at position with args; the call's result.
  RawCall Call(int position, int slot, std::initializer_list<Arg> args, bool returnsDouble = false) {
    RawCall call = {};
    call.self = InterfaceAt(position);
    call.fn = (*static_cast<void* const* const*>(call.self))[slot];
    uint32_t words = 0;
    for (const Arg& a : args) {
#if defined(_WIN64)
      call.args[words++] = a.bits;
#else
      call.args[words++] = static_cast<uint32_t>(a.bits);
      if (a.isDouble) call.args[words++] = static_cast<uint32_t>(a.bits >> 32);
#endif
    }
    call.count = words;
    call.returnsDouble = returnsDouble;
    RawInvoke(&call);
#if !defined(_WIN64)
    EXPECT_EQ(4u * words, call.popped) << "interface " << position << " slot " << slot;
#endif
    called.insert({position, slot});
    return call;
  }
  int Int(const RawCall& c) const { return static_cast<int>(c.result); }
  unsigned short U16(const RawCall& c) const { return static_cast<unsigned short>(c.result); }
  void* Ptr(const RawCall& c) const { return reinterpret_cast<void*>(static_cast<uintptr_t>(c.result)); }

  HMODULE module_ = nullptr;
  GetInterface get_ = nullptr;
  void* object_ = nullptr;
  std::set<std::pair<int, int>> called;
};

class Zel2HostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // No agent is started for the device handles here.
    SetEnvironmentVariableA("ProgramFiles", "C:\\no such folder");
    ASSERT_TRUE(host_.Load()) << GetLastError();
  }
  void TearDown() override { host_.Unload(); }
  Zel2Host host_;
};

TEST_F(Zel2HostTest, OneExportByOrdinalWithoutNameAndOneObject) {
  // Before anything else is called: the version text.
  RawCall version = host_.Call(Version, 0, {});
  EXPECT_STREQ(L"1.1", static_cast<const wchar_t*>(host_.Ptr(version)));

  EXPECT_EQ(host_.object_, host_.get_());
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(host_.module_);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
      reinterpret_cast<const char*>(host_.module_) + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  ASSERT_NE(0u, dir.VirtualAddress);
  const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(
      reinterpret_cast<const char*>(host_.module_) + dir.VirtualAddress);
  EXPECT_EQ(1u, exports->Base);
  EXPECT_EQ(1u, exports->NumberOfFunctions);
  EXPECT_EQ(0u, exports->NumberOfNames);
  // The object: five distinct tables at consecutive pointer-sized places,
  // inside the DLL's image.
  std::set<const void*> tables;
  for (int i = 0; i < 5; ++i) tables.insert(*static_cast<void* const*>(host_.InterfaceAt(i)));
  EXPECT_EQ(5u, tables.size());
  HMODULE holder = nullptr;
  EXPECT_TRUE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                     GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                 static_cast<LPCWSTR>(host_.object_), &holder));
  EXPECT_EQ(host_.module_, holder);
}

TEST_F(Zel2HostTest, EverySlotWithItsArguments) {
  // ---- IKestrinZelVersion ----
  EXPECT_STREQ(L"1.1", static_cast<const wchar_t*>(host_.Ptr(host_.Call(Version, 0, {}))));
  host_.Call(Version, 1, {U(0x1234)});

  // ---- IKestrinPrivate ----
  RecordingDeviceHost deviceHost;
  void* device = host_.Ptr(host_.Call(Devices, 0, {P(&deviceHost)}));
  ASSERT_NE(nullptr, device);
  EXPECT_EQ(0, host_.Int(host_.Call(Devices, 2, {P(device)})));  // IsDeviceOpen
  EXPECT_EQ(0, host_.Int(host_.Call(Devices, 3, {P(device)})));  // IsDeviceReady
  EXPECT_EQ(0, host_.Int(host_.Call(Devices, 4, {P(device)})));  // IsActive
  EXPECT_EQ(0, host_.Int(host_.Call(Devices, 5, {P(device)})));  // GetButtons
  host_.Call(Devices, 6, {U(1), U(2)});                            // Reserved
  double seconds = 4.0;
  NavMotion motion = {};
  motion.tx = 9;
  EXPECT_EQ(0, host_.Int(host_.Call(Devices, 7, {P(device), P(&seconds), P(&motion)})));
  EXPECT_EQ(4.0, seconds);  // no motion: untouched
  EXPECT_EQ(9.0, motion.tx);
  host_.Call(Devices, 1, {P(device)});   // Destroy
  host_.Call(Devices, 1, {P(nullptr)});  // null ignored

  // ---- IAgilityPrivate<double> ----
  RecordingNavigationHost navHost;
  void* nav = host_.Ptr(host_.Call(Agility, 0, {P(&navHost)}));
  ASSERT_NE(nullptr, nav);
  const void* defaults = host_.Ptr(host_.Call(Agility, 2, {}));
  EXPECT_NE(nullptr, defaults);
  EXPECT_EQ(defaults, host_.Ptr(host_.Call(Agility, 2, {})));
  // SnapOrientation returns the point it was given.
  NavVec3 point = {1, 2, 3};
  unsigned char record[152] = {};
  NavMat33 identity = {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
  memcpy(record + 56, &identity, sizeof identity);
  EXPECT_EQ(&point, host_.Ptr(host_.Call(Agility, 3, {P(&point), P(record)})));
  // Step: a pan-and-zoom view with tz * seconds = 1 comes back with half
  // its extents; the double argument arrives whole.
  NavView view = {};
  view.kind = 1;
  view.volume.halfWidth = 4;
  view.volume.halfHeight = 2;
  NavMotion push = {};
  push.tz = 2;
  host_.Call(Agility, 4, {P(nav), D(0.5), P(&push), P(&view)});
  ASSERT_EQ(1u, navHost.views.size());
  EXPECT_EQ(2.0, navHost.views[0].volume.halfWidth);
  EXPECT_EQ(1.0, navHost.views[0].volume.halfHeight);
  EXPECT_EQ(4.0, view.volume.halfWidth);  // the host's own record untouched

  struct Value {
    int get, set;
    double atLoad;
  };
  const Value values[] = {{5, 6, 9.999999974752427e-07}, {7, 8, 1e6}, {9, 10, 9.999999717180685e-10}};
  for (const Value& v : values) {
    SCOPED_TRACE(v.get);
    EXPECT_EQ(v.atLoad, host_.Call(Agility, v.get, {}, true).doubleResult);
    host_.Call(Agility, v.set, {D(0.5)});
    EXPECT_EQ(0.5, host_.Call(Agility, v.get, {}, true).doubleResult);
    host_.Call(Agility, v.set, {D(v.atLoad)});
  }

  // ObjectControl never writes the host's delta, and the epsilon the host
  // keeps changes nothing of its result; FlyCamera takes its four.
  NavVolume volume = {1, 1, 0.1, 0, 0};
  NavSettings settings;
  memcpy(&settings, defaults, sizeof settings);
  NavDelta delta = {0.01, 0, 1.1, 0, 0.02, 0};
  const NavDelta before = delta;
  NavXform moved[2];
  for (int i = 0; i < 2; ++i) {
    host_.Call(Agility, 6, {D(i ? 0.5 : 9.999999974752427e-07)});  // SetEpsilon
    NavSettings copy = settings;
    moved[i] = {1, identity, {0, 0, -10}};
    host_.Call(Agility, 11, {P(&volume), P(&copy), P(&moved[i]), P(nullptr), P(nullptr), P(&delta)});
    EXPECT_EQ(0, memcmp(&before, &delta, sizeof delta));
  }
  host_.Call(Agility, 6, {D(9.999999974752427e-07)});
  EXPECT_EQ(0, memcmp(&moved[0], &moved[1], sizeof moved[0]));
  EXPECT_NE(-10.0, moved[0].translation.z);  // it did move
  NavMat43 camera = {identity, {0, 0, 10}};
  NavDelta fly = {0, 0, 1, 0, 0, 0};
  host_.Call(Agility, 12, {P(&volume), P(&settings), P(&camera), P(&fly)});

  EXPECT_EQ(0, host_.U16(host_.Call(Agility, 13, {P(nav)})));  // GetMode
  host_.Call(Agility, 14, {P(nav), U(0xBEEF)});                // SetMode
  EXPECT_EQ(0xBEEF, host_.U16(host_.Call(Agility, 13, {P(nav)})));
  // Defaults A and B ignore their first argument: null is fine.
  EXPECT_EQ(68, host_.U16(host_.Call(Agility, 15, {P(nullptr)})));
  host_.Call(Agility, 16, {P(nullptr), U(70)});
  EXPECT_EQ(70, host_.U16(host_.Call(Agility, 15, {P(&navHost)})));
  host_.Call(Agility, 16, {P(nullptr), U(68)});
  EXPECT_EQ(2048, host_.U16(host_.Call(Agility, 17, {P(nullptr)})));
  host_.Call(Agility, 18, {P(nullptr), U(4096)});
  EXPECT_EQ(4096, host_.U16(host_.Call(Agility, 17, {P(nullptr)})));
  host_.Call(Agility, 18, {P(nullptr), U(2048)});

  const unsigned tic = static_cast<unsigned>(host_.Call(Agility, 19, {}).result);
  EXPECT_LT(tic, 1u << 21);
  host_.Call(Agility, 20, {P(nav), U(tic & 0xFFFF), U(10)});  // StartTimer
  ASSERT_TRUE(PumpUntil([&] { return !navHost.timerThreads.empty(); }, 2000));
  EXPECT_THAT(navHost.timerThreads, ::testing::ElementsAre(std::this_thread::get_id()));
  host_.Call(Agility, 1, {P(nav)});      // Destroy
  host_.Call(Agility, 1, {P(nullptr)});  // null ignored

  // ---- IKeyboardEmul2: forwarded (the keyboard's own tests cover it) ----
  KeyCombo combo = {};
  wchar_t text[kKeyComboTextChars] = L"";
  host_.Call(Keyboard, 0, {P(text), P(&combo)});  // an empty text
  EXPECT_EQ(0, combo.m_Flags);
  host_.Call(Keyboard, 1, {P(&combo)});  // nothing to press
  EXPECT_EQ(0u, static_cast<unsigned>(host_.Call(Keyboard, 2, {P(&combo)}).result));

  // ---- IRegistryKeyAccessPrivate: a stub ----
  void* keyA = host_.Ptr(host_.Call(Registry, 0, {U(1), U(2)}));
  void* keyB = host_.Ptr(host_.Call(Registry, 0, {U(1), U(2)}));
  EXPECT_NE(nullptr, keyA);
  EXPECT_NE(nullptr, keyB);
  EXPECT_NE(keyA, keyB);
  EXPECT_EQ(0, host_.Int(host_.Call(Registry, 2, {U(3), U(4)})));
  EXPECT_EQ(0, host_.Int(host_.Call(Registry, 2, {P(keyA), P(nullptr)})));
  host_.Call(Registry, 3, {U(1), U(2), U(3), U(4)});
  host_.Call(Registry, 4, {U(1), U(2), U(3), U(4), U(5)});
  host_.Call(Registry, 5, {U(1), U(2), U(3), U(4)});
  host_.Call(Registry, 6, {U(1), U(2), U(3)});
  host_.Call(Registry, 7, {U(1), U(2), U(3)});
  host_.Call(Registry, 8, {U(1), U(2), U(3)});
  host_.Call(Registry, 1, {P(keyA)});
  host_.Call(Registry, 1, {P(keyB)});
  host_.Call(Registry, 1, {P(nullptr)});

  // Every slot of every table was called.
  for (int i = 0; i < 5; ++i)
    for (int slot = 0; slot < kSlots[i]; ++slot)
      EXPECT_EQ(1u, host_.called.count({i, slot})) << "interface " << i << " slot " << slot;
}

TEST_F(Zel2HostTest, TicCountsOneSecondApart) {
  // Wine's Sleep(1000) is not exactly a second: the reads are bracketed by
  // the system time, and the tics must lie between the brackets' tics.
  auto fileTimeTic = [] {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return now.dwLowDateTime >> 11;
  };
  const unsigned before0 = fileTimeTic();
  const unsigned a = static_cast<unsigned>(host_.Call(Agility, 19, {}).result);
  const unsigned after0 = fileTimeTic();
  Sleep(1000);
  const unsigned before1 = fileTimeTic();
  const unsigned b = static_cast<unsigned>(host_.Call(Agility, 19, {}).result);
  const unsigned after1 = fileTimeTic();
  const unsigned mask = (1u << 21) - 1;
  EXPECT_LE((a - before0) & mask, (after0 - before0) & mask);
  EXPECT_LE((b - before1) & mask, (after1 - before1) & mask);
  const unsigned apart = (b - a) & mask;
  EXPECT_GE(apart, (before1 - after0) & mask);
  EXPECT_LE(apart, (after1 - before0) & mask);
  EXPECT_NEAR(4882.8, apart, 0.05 * 4882.8);  // about a second
}

TEST_F(Zel2HostTest, UnloadedAndLoadedAgainTheTimerStillWorks) {
  host_.Unload();
  ASSERT_TRUE(host_.Load());
  RecordingNavigationHost navHost;
  void* nav = host_.Ptr(host_.Call(Agility, 0, {P(&navHost)}));
  ASSERT_NE(nullptr, nav);
  const unsigned tic = static_cast<unsigned>(host_.Call(Agility, 19, {}).result);
  host_.Call(Agility, 20, {P(nav), U(tic & 0xFFFF), U(2)});
  EXPECT_TRUE(PumpUntil([&] { return !navHost.timerThreads.empty(); }, 2000));
  host_.Call(Agility, 1, {P(nav)});
}

// The library's timer windows (class "ATL:...") of a thread of this process.
BOOL CALLBACK CollectTimerWindow(HWND window, LPARAM list) {
  wchar_t name[64] = L"";
  GetClassNameW(window, name, 64);
  if (wcsncmp(name, L"ATL:", 4) == 0) reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
  return TRUE;
}
std::vector<HWND> TimerWindows(DWORD thread) {
  std::vector<HWND> windows;
  EnumThreadWindows(thread, CollectTimerWindow, reinterpret_cast<LPARAM>(&windows));
  return windows;
}

// A navigation handle made on one host thread and destroyed on another,
// then the library unloaded before the first thread pumps its messages: the
// timer window left on that thread closes without calling into the unmapped
// library, and the library loaded again has a working timer.
TEST_F(Zel2HostTest, AWindowLeftOnAnotherThreadOutlivesTheUnloadHarmlessly) {
  RecordingNavigationHost navHost;
  void* nav = nullptr;
  DWORD maker = 0;
  std::atomic<int> made{0}, pump{0}, pumped{0};
  std::thread owner([&] {
    maker = GetCurrentThreadId();
    nav = host_.Ptr(host_.Call(Agility, 0, {P(&navHost)}));
    made = 1;
    while (!pump) Sleep(1);
    PumpFor(300);
    pumped = 1;
  });
  while (!made) Sleep(1);
  ASSERT_NE(nullptr, nav);
  const std::vector<HWND> windows = TimerWindows(maker);
  ASSERT_EQ(1u, windows.size());
  host_.Call(Agility, 1, {P(nav)});  // Destroy, on this thread
  host_.Unload();
  EXPECT_EQ(nullptr, GetModuleHandleW(L"KestrinZel2.dll"));
  pump = 1;
  owner.join();
  EXPECT_EQ(1, pumped.load());
  EXPECT_FALSE(IsWindow(windows[0]));
  EXPECT_TRUE(navHost.timerThreads.empty());

  ASSERT_TRUE(host_.Load());
  nav = host_.Ptr(host_.Call(Agility, 0, {P(&navHost)}));
  ASSERT_NE(nullptr, nav);
  const unsigned tic = static_cast<unsigned>(host_.Call(Agility, 19, {}).result);
  host_.Call(Agility, 20, {P(nav), U(tic & 0xFFFF), U(2)});
  EXPECT_TRUE(PumpUntil([&] { return !navHost.timerThreads.empty(); }, 2000));
  host_.Call(Agility, 1, {P(nav)});
}

// Create, Destroy and FreeLibrary while the timer's new thread cannot start
// (here the loader lock is held, as inside a DllMain): the library stays
// mapped until that thread has run and ended.
TEST_F(Zel2HostTest, AnUnloadBeforeTheTimerThreadStartsWaitsForIt) {
  using LockFunction = LONG(NTAPI*)(ULONG, ULONG*, ULONG_PTR*);
  using UnlockFunction = LONG(NTAPI*)(ULONG, ULONG_PTR);
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  auto lock = reinterpret_cast<LockFunction>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "LdrLockLoaderLock")));
  auto unlock = reinterpret_cast<UnlockFunction>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "LdrUnlockLoaderLock")));
  ASSERT_NE(nullptr, lock);
  ASSERT_NE(nullptr, unlock);
  RecordingNavigationHost navHost;
  ULONG_PTR cookie = 0;
  ASSERT_EQ(0, lock(0, nullptr, &cookie));
  void* nav = host_.Ptr(host_.Call(Agility, 0, {P(&navHost)}));
  host_.Call(Agility, 1, {P(nav)});
  host_.Unload();
  const bool mappedWhileLocked = GetModuleHandleW(L"KestrinZel2.dll") != nullptr;
  unlock(0, cookie);
  EXPECT_NE(nullptr, nav);
  EXPECT_TRUE(mappedWhileLocked);
  // The thread starts, finds its stop and lets go of the library.
  for (int i = 0; i < 3000 && GetModuleHandleW(L"KestrinZel2.dll"); ++i) Sleep(1);
  EXPECT_EQ(nullptr, GetModuleHandleW(L"KestrinZel2.dll"));
}

}  // namespace
