// The keyboard emulation on the real system calls (Wine's US layout): the
// table of examples through MapVirtualKeyA and WideCharToMultiByte, the
// events as INPUT, the string table of the module that holds the code, the
// parser against a guard page, and a combination reaching a focused window.
#include "keyboard_system.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <wchar.h>

#include <string>
#include <thread>
#include <vector>

#include "combo_examples.h"
#include "combo_texts.h"
#include "foreground_window.h"
#include "key_messages.h"
#include "keyboard.h"
#include "keyboard_strings.h"

using namespace KestrinKeyboard;

namespace {

bool UnderWine() {
  return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

bool HasCharacterAbove7F(const wchar_t* text) {
  for (; *text; ++text) {
    if (*text > 0x7F) return true;
  }
  return false;
}

TEST(KeyboardSystem, ExamplesOnTheSystemLayout) {
  for (const ComboExample& example : kComboExamples) {
    // The examples' characters above 0x7F are those of code page 1252.
    if (HasCharacterAbove7F(example.m_Text) && GetACP() != 1252) continue;
    SCOPED_TRACE(testing::Message() << "canonical " << wcslen(example.m_Canonical) << " "
                                    << std::string(example.m_Canonical,
                                                   example.m_Canonical + wcslen(example.m_Canonical)));
    wchar_t buffer[kKeyComboTextChars] = {};
    wcscpy(buffer, example.m_Text);
    KeyCombo combo = KeptCombo();
    ParseKeyCombo(buffer, &combo);
    EXPECT_EQ(combo.m_Flags, example.m_Flags);
    EXPECT_EQ(combo.m_Vk, example.m_Vk);
    if (UnderWine() && wcscmp(example.m_Text, L"Numpad7") == 0) {
      // Wine gives the keypad's digit keys no scan code (Windows: 0x47 for
      // the 7), so the key has no name either.
      EXPECT_EQ(combo.m_Scan, 0);
      EXPECT_EQ(std::wstring(buffer), L"");
      continue;
    }
    EXPECT_EQ(combo.m_Scan, example.m_Scan);
    EXPECT_EQ(std::wstring(buffer), std::wstring(example.m_Canonical));
  }
}

// The text is read in the code page of the calling thread's locale, which a
// host may set apart from the system's: U+0416 is byte 0xC6 in code page 1251
// (the F key once reduced modulo 0x80) and in no Western code page at all. A
// locale without an ANSI code page of its own (Hindi) reads it in the
// system's; Wine's CP_THREAD_ACP is UTF-8 for such a thread (bytes D0 96, the
// last of which would name Ctrl+V), and on Windows a system whose ANSI code
// page is UTF-8 turns CP_THREAD_ACP into UTF-8 for every thread.
TEST(KeyboardSystem, TextIsReadInTheThreadsCodePage) {
  if (GetACP() != 1252) GTEST_SKIP() << "system code page " << GetACP();
  struct Case {
    const char* name;
    LCID locale;  // 0: the thread's own, left as it is
    uint16_t flags;
    const wchar_t* canonical;
  } cases[] = {
      {"the system's locale", 0, KeyCtrl, L"Ctrl"},
      {"a Russian thread", MAKELCID(MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT), SORT_DEFAULT),
       KeyCtrl | KeyScan, L"Ctrl+F"},
      {"a Greek thread", MAKELCID(MAKELANGID(LANG_GREEK, SUBLANG_DEFAULT), SORT_DEFAULT), KeyCtrl,
       L"Ctrl"},
      {"a Hindi thread", MAKELCID(MAKELANGID(LANG_HINDI, SUBLANG_DEFAULT), SORT_DEFAULT), KeyCtrl,
       L"Ctrl"},
  };
  for (const Case& c : cases) {
    std::thread host([&] {
      SCOPED_TRACE(c.name);
      if (c.locale) {
        ASSERT_TRUE(SetThreadLocale(c.locale));
        ASSERT_EQ(GetThreadLocale(), c.locale);
      }
      wchar_t buffer[kKeyComboTextChars] = L"Ctrl+\x0416";
      KeyCombo combo = KeptCombo();
      ParseKeyCombo(buffer, &combo);
      EXPECT_EQ(combo.m_Flags, c.flags);
      EXPECT_EQ(std::wstring(buffer), c.canonical);
      // Plain letters go in any code page.
      wcscpy(buffer, L"ctrl+shift+f5");
      ParseKeyCombo(buffer, &combo);
      EXPECT_EQ(combo.m_Flags, KeyCtrl | KeyShift | KeyScan | KeyVirtual);
      EXPECT_EQ(std::wstring(buffer), L"Ctrl+Shift+F5");
    });
    host.join();
  }
}

TEST(KeyboardSystem, EventsAsInput) {
  KeyInput event = {};
  event.m_Type = kInputKeyboard;
  event.m_Vk = 0x74;
  event.m_Scan = 0x3F;
  event.m_Flags = kEventScanCode | kEventKeyUp;
  event.m_Time = 1234;
  event.m_ExtraInfo = 0x5678;
  const INPUT input = ToSystemInput(event);
  EXPECT_EQ(input.type, static_cast<DWORD>(INPUT_KEYBOARD));
  EXPECT_EQ(input.ki.wVk, 0x74);
  EXPECT_EQ(input.ki.wScan, 0x3F);
  EXPECT_EQ(input.ki.dwFlags, static_cast<DWORD>(KEYEVENTF_SCANCODE | KEYEVENTF_KEYUP));
  EXPECT_EQ(input.ki.time, 1234u);
  EXPECT_EQ(input.ki.dwExtraInfo, 0x5678u);
  EXPECT_EQ(kMapVkToScan, static_cast<unsigned>(MAPVK_VK_TO_VSC));
  EXPECT_EQ(kMapScanToVk, static_cast<unsigned>(MAPVK_VSC_TO_VK));
  EXPECT_EQ(kVkLeftControl, VK_LCONTROL);
  EXPECT_EQ(kVkLeftShift, VK_LSHIFT);
  EXPECT_EQ(kVkLeftAlt, VK_LMENU);
}

#ifdef _WIN64
// Why the x64 build passes its own sizeof(INPUT): the 28 bytes of the x86
// record are refused there.
TEST(KeyboardSystem, SendInputRefusesTheX86RecordSize) {
  INPUT input = {};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = VK_F24;
  input.ki.dwFlags = KEYEVENTF_KEYUP;
  SetLastError(0xdeadbeef);
  EXPECT_EQ(SendInput(1, &input, 28), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}
#endif

// The strings come from the module that holds the code: here the test
// program, which links the library's string table.
TEST(KeyboardSystem, StringIds) {
  struct Case {
    UINT m_Id;
    uint16_t m_Flags;
    uint16_t m_Vk;  // MapVirtualKeyA gives the scan code
  } cases[] = {
      {IDS_KEY_COMBO_COPY, KeyCtrl | KeyScan, 'C'},
      {IDS_KEY_COMBO_PASTE, KeyCtrl | KeyScan, 'V'},
      {IDS_KEY_COMBO_SELECT_ALL, KeyCtrl | KeyScan, 'A'},
      {IDS_KEY_COMBO_SELECT_ALL + 1, 0, 0},  // no such string: an empty text
      {0xFFFF, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.m_Id);
    KeyCombo combo = KeptCombo();
    ParseKeyCombo(reinterpret_cast<wchar_t*>(static_cast<uintptr_t>(c.m_Id)), &combo);
    EXPECT_EQ(combo.m_Flags, c.m_Flags);
    EXPECT_EQ(combo.m_Scan, c.m_Vk ? MapVirtualKeyA(c.m_Vk, MAPVK_VK_TO_VSC) : kKept);
  }
}

// Each text ends right before a page that cannot be read or written: its
// buffer is max(length + 1, 32) characters and its last character is the
// page's last. A read past the text's terminator or a write past the 32
// characters faults. Every character 0x01-0xFF, long texts, random texts.
TEST(KeyboardSystem, ParserStaysInsideTheBuffer) {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  const size_t page = info.dwPageSize;
  auto* base = static_cast<char*>(
      VirtualAlloc(nullptr, 2 * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  ASSERT_NE(base, nullptr);
  DWORD old;
  ASSERT_TRUE(VirtualProtect(base + page, page, PAGE_NOACCESS, &old));
  auto parseAtPageEnd = [&](const std::wstring& text) {
    const size_t chars = text.size() + 1 > kKeyComboTextChars ? text.size() + 1 : kKeyComboTextChars;
    ASSERT_LE(chars * sizeof(wchar_t), page);
    auto* buffer = reinterpret_cast<wchar_t*>(base + page) - chars;
    wmemcpy(buffer, text.c_str(), text.size() + 1);
    KeyCombo combo = {};
    ParseKeyCombo(buffer, &combo);
    ASSERT_LT(wcslen(buffer), kKeyComboTextChars);
  };
  for (unsigned c = 0x01; c <= 0xFF; ++c) {
    SCOPED_TRACE(c);
    const std::wstring character(1, static_cast<wchar_t>(c));
    parseAtPageEnd(character);
    parseAtPageEnd(L"Ctrl+Alt+Shift+" + character);
  }
  for (size_t length : {31, 32, 33, 200, 1000}) {
    SCOPED_TRACE(length);
    std::wstring words;
    while (words.size() < length) words += L"Ctrl+Alt+Shift+Numpad7+";
    words.resize(length);
    parseAtPageEnd(words);
    parseAtPageEnd(std::wstring(length, L'\x416'));
    parseAtPageEnd(std::wstring(length - 1, L'+') + L"PrintScreen");
  }
  std::mt19937 random(20261210);
  for (int round = 0; round < 5000; ++round) {
    SCOPED_TRACE(round);
    parseAtPageEnd(RandomComboText(random));
  }
  VirtualFree(base, 0, MEM_RELEASE);
}

// Under Xvfb: a press and a release reach the focused window as key messages
// in order. Wine delivers an event sent by scan code alone as virtual key 0,
// which is how a character's key goes (Ctrl+& below); the keys of the name
// table go by virtual key and arrive as themselves.
TEST(KeyboardSystem, CombinationReachesTheFocusedWindow) {
  HWND window = ShowForegroundWindow("KestrinKeyboardTestWindow", "keyboard test");
  ASSERT_NE(window, nullptr);
  SetFocus(window);
  TakeKeyMessages(window, 1000, 200);  // whatever was queued before

  wchar_t text[kKeyComboTextChars] = L"ctrl+shift+f5";
  KeyCombo combo = {};
  ParseKeyCombo(text, &combo);
  PressKeyCombo(&combo);
  std::vector<KeyMessage> pressed = TakeKeyMessages(window, 4, 3000);
  BYTE state[256];
  ASSERT_TRUE(GetKeyboardState(state));
  EXPECT_TRUE(state[VK_LCONTROL] & 0x80);
  EXPECT_TRUE(state[VK_LSHIFT] & 0x80);
  EXPECT_EQ(ReleaseKeyCombo(&combo), 2u);
  std::vector<KeyMessage> released = TakeKeyMessages(window, 2, 3000);
  ASSERT_TRUE(GetKeyboardState(state));
  EXPECT_FALSE(state[VK_LCONTROL] & 0x80);
  EXPECT_FALSE(state[VK_LSHIFT] & 0x80);
  const std::vector<KeyMessage> expectedPress = {
      {WM_KEYDOWN, VK_CONTROL, 0x1D}, {WM_KEYDOWN, VK_SHIFT, 0x2A},
      {WM_KEYDOWN, VK_F5, 0x3F}, {WM_KEYUP, VK_F5, 0x3F}};
  const std::vector<KeyMessage> expectedRelease = {
      {WM_KEYUP, VK_CONTROL, 0x1D}, {WM_KEYUP, VK_SHIFT, 0x2A}};
  EXPECT_EQ(Describe(pressed), Describe(expectedPress));
  EXPECT_EQ(Describe(released), Describe(expectedRelease));

  // A character's key goes by scan code alone: Wine delivers it as virtual
  // key 0 (Windows: the 7 key, 0x37).
  wcscpy(text, L"Ctrl+&");
  ParseKeyCombo(text, &combo);
  PressKeyCombo(&combo);
  pressed = TakeKeyMessages(window, 4, 3000);
  EXPECT_EQ(ReleaseKeyCombo(&combo), 2u);
  released = TakeKeyMessages(window, 2, 3000);
  const WPARAM seven = UnderWine() ? 0 : '7';
  const std::vector<KeyMessage> expectedCharacter = {
      {WM_KEYDOWN, VK_CONTROL, 0x1D}, {WM_KEYDOWN, VK_SHIFT, 0x2A},
      {WM_KEYDOWN, seven, 0x08}, {WM_KEYUP, seven, 0x08}};
  EXPECT_EQ(Describe(pressed), Describe(expectedCharacter));
  EXPECT_EQ(Describe(released), Describe(expectedRelease));

  // With Alt down some messages are system-key messages (which ones is the
  // system's rule, not ours): compared as plain downs and ups. Without KeyScan
  // only the modifiers go.
  auto plain = [](std::vector<KeyMessage> messages) {
    for (KeyMessage& m : messages) {
      if (m.m_Message == WM_SYSKEYDOWN) m.m_Message = WM_KEYDOWN;
      if (m.m_Message == WM_SYSKEYUP) m.m_Message = WM_KEYUP;
    }
    return Describe(messages);
  };
  wcscpy(text, L"Alt+Ctrl");
  ParseKeyCombo(text, &combo);
  PressKeyCombo(&combo);
  pressed = TakeKeyMessages(window, 2, 3000);
  EXPECT_EQ(ReleaseKeyCombo(&combo), 2u);
  released = TakeKeyMessages(window, 2, 3000);
  const std::vector<KeyMessage> expectedAltPress = {
      {WM_KEYDOWN, VK_CONTROL, 0x1D}, {WM_KEYDOWN, VK_MENU, 0x38}};
  const std::vector<KeyMessage> expectedAltRelease = {
      {WM_KEYUP, VK_CONTROL, 0x1D}, {WM_KEYUP, VK_MENU, 0x38}};
  EXPECT_EQ(plain(pressed), Describe(expectedAltPress));
  EXPECT_EQ(plain(released), Describe(expectedAltRelease));
  EXPECT_TRUE(TakeKeyMessages(window, 1, 300).empty()) << "no further key message";
  DestroyWindow(window);
}

}  // namespace
