#include "keyboard_system.h"

#include <new>

#include "keyboard.h"

// SendInput is given sizeof(INPUT), which differs between the builds: the
// x64 INPUT is 40 bytes and SendInput there refuses the 28 of the x86 record.
#ifdef _WIN64
static_assert(sizeof(INPUT) == 40, "INPUT of the x64 build");
#else
static_assert(sizeof(INPUT) == 28, "INPUT of the x86 build");
#endif

namespace KestrinKeyboard {

namespace {

// The module that holds this code: the string table is the library's own,
// not that of the host program that loaded it.
HMODULE OwnModule() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCWSTR>(&OwnModule), &module)) {
    return nullptr;
  }
  return module;
}

// The ANSI code page of the calling thread's locale (a host thread may use
// another locale than the system's); a locale without an ANSI code page of
// its own has the system's. Not CP_THREAD_ACP: that may stand for another,
// UTF-8 where the system's code page is UTF-8 (on Windows) or where the
// thread's locale has none of its own (under Wine).
UINT ThreadAnsiCodePage() {
  DWORD codePage = 0;
  if (GetLocaleInfoW(GetThreadLocale(), LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                     reinterpret_cast<LPWSTR>(&codePage), sizeof codePage / sizeof(wchar_t)) &&
      codePage != 0)
    return codePage;
  return GetACP();
}

// length -1: up to the terminator. The text is converted to the thread's
// ANSI code page. A character the code page cannot hold becomes byte 0
// (which names no key) instead of the code page's default character, which
// would read as the "?" key; best-fit replacements (an accented letter taken
// for its base letter) are not made either. A UTF-8 code page takes neither
// flag nor default character (WideCharToMultiByte refuses them, and the text
// would come back empty).
std::string ToAnsi(const wchar_t* text, int length) {
  const UINT codePage = ThreadAnsiCodePage();
  const bool utf8 = codePage == CP_UTF8;
  const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  static const char kNoCharacter[2] = {0, 0};
  const char* defaultChar = utf8 ? nullptr : kNoCharacter;
  int bytes = WideCharToMultiByte(codePage, flags, text, length, nullptr, 0, defaultChar, nullptr);
  if (bytes <= 0) return std::string();
  std::string narrow(static_cast<size_t>(bytes), '\0');
  bytes = WideCharToMultiByte(codePage, flags, text, length, &narrow[0], bytes, defaultChar,
                              nullptr);
  if (bytes <= 0) return std::string();
  narrow.resize(static_cast<size_t>(length < 0 ? bytes - 1 : bytes));  // no terminator
  return narrow;
}

class RealKeyboardSystem final : public IKeyboardSystem {
 public:
  unsigned MapVirtualKeyA(unsigned code, unsigned mapType) override {
    return ::MapVirtualKeyA(code, mapType);
  }
  bool GetKeyboardState(uint8_t* state) override { return ::GetKeyboardState(state) != FALSE; }
  bool SetKeyboardState(uint8_t* state) override { return ::SetKeyboardState(state) != FALSE; }
  unsigned SendInput(const KeyInput* events, unsigned count) override {
    INPUT inputs[kMaxKeyInputs];
    if (count > kMaxKeyInputs) count = kMaxKeyInputs;
    for (unsigned i = 0; i < count; ++i) inputs[i] = ToSystemInput(events[i]);
    return ::SendInput(count, inputs, sizeof(INPUT));
  }
  std::string WideCharToAnsi(const wchar_t* text) override { return ToAnsi(text, -1); }
  std::string LoadAnsiString(unsigned id) override {
    // With a length of 0, LoadStringW gives the address of the resource text
    // itself (not terminated) and returns its length.
    const wchar_t* resource = nullptr;
    const int length = LoadStringW(OwnModule(), id, reinterpret_cast<LPWSTR>(&resource), 0);
    if (length <= 0 || resource == nullptr) return std::string();
    return ToAnsi(resource, length);
  }
};

}  // namespace

IKeyboardSystem& SystemKeyboard() {
  static RealKeyboardSystem system;
  return system;
}

INPUT ToSystemInput(const KeyInput& event) {
  INPUT input = {};
  input.type = event.m_Type;
  input.ki.wVk = event.m_Vk;
  input.ki.wScan = event.m_Scan;
  input.ki.dwFlags = event.m_Flags;
  input.ki.time = event.m_Time;
  input.ki.dwExtraInfo = event.m_ExtraInfo;
  return input;
}

// The host's calls. No exception leaves the library: when a text is too
// long to convert in the memory there is, the record and the text stay as
// they were.
void ParseKeyCombo(wchar_t* textOrId, KeyCombo* combo) {
  try {
    ParseKeyCombo(SystemKeyboard(), textOrId, combo);
  } catch (const std::bad_alloc&) {
  }
}

void PressKeyCombo(const KeyCombo* combo) {
  if (combo) PressKeyCombo(SystemKeyboard(), *combo);
}

unsigned int ReleaseKeyCombo(const KeyCombo* combo) {
  return combo ? ReleaseKeyCombo(SystemKeyboard(), *combo) : 0;
}

}  // namespace KestrinKeyboard
