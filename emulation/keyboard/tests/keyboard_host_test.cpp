// An outside host of KestrinZel2.dll: loads it by LoadLibrary, takes the
// object from export ordinal 1, and parses, presses and releases named
// combinations through IKeyboardEmul2. This program has no string table of
// its own, so the string ids can only come from the DLL's.
#include <gtest/gtest.h>
#include <wchar.h>
#include <windows.h>

#include <string>
#include <vector>

#include "KestrinZel2.h"
#include "foreground_window.h"
#include "key_messages.h"
#include "keyboard_strings.h"

namespace {

class KeyboardHost : public testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryW(L"KestrinZel2.dll");
    ASSERT_NE(module_, nullptr) << GetLastError();
    auto get = reinterpret_cast<KestrinZelGetInterface>(GetProcAddress(module_, MAKEINTRESOURCEA(1)));
    ASSERT_NE(get, nullptr);
    keyboard_ = get();
    ASSERT_NE(keyboard_, nullptr);
  }
  void TearDown() override {
    if (module_) FreeLibrary(module_);
  }

  HMODULE module_ = nullptr;
  IKeyboardEmul2* keyboard_ = nullptr;
};

TEST_F(KeyboardHost, ParsesTextsAndWritesTheCanonicalTextBack) {
  struct Case {
    const wchar_t* m_Text;
    uint16_t m_Flags;
    uint16_t m_Vk;
    const wchar_t* m_Canonical;
  } cases[] = {
      {L"ctrl+shift+f5", KeyCtrl | KeyShift | KeyScan | KeyVirtual, VK_F5, L"Ctrl+Shift+F5"},
      {L"Shift+Alt+a", KeyShift | KeyAlt | KeyScan, 0, L"Alt+Shift+A"},
      {L"Ctrl+Numpad+", KeyCtrl, 0, L"Ctrl"},
      {L"Win+E", KeyScan, 0, L"E"},
  };
  for (const Case& c : cases) {
    wchar_t text[kKeyComboTextChars] = {};
    wcscpy(text, c.m_Text);
    KeyCombo combo = {};
    keyboard_->ParseKeyCombo(text, &combo);
    EXPECT_EQ(combo.m_Flags, c.m_Flags);
    if (c.m_Flags & KeyVirtual) {
      EXPECT_EQ(combo.m_Vk, c.m_Vk);
    }
    EXPECT_EQ(std::wstring(text), std::wstring(c.m_Canonical));
  }
}

TEST_F(KeyboardHost, StringIdsComeFromTheLibrarysTable) {
  KeyCombo combo = {};
  keyboard_->ParseKeyCombo(reinterpret_cast<wchar_t*>(uintptr_t{IDS_KEY_COMBO_UNDO}), &combo);
  EXPECT_EQ(combo.m_Flags, KeyCtrl | KeyScan);
  EXPECT_EQ(combo.m_Scan, MapVirtualKeyA('Z', MAPVK_VK_TO_VSC));
  combo.m_Scan = 0x1234;
  keyboard_->ParseKeyCombo(reinterpret_cast<wchar_t*>(uintptr_t{0x7777}), &combo);
  EXPECT_EQ(combo.m_Flags, 0);  // no such string: an empty text
  EXPECT_EQ(combo.m_Scan, 0x1234);
}

// Under Xvfb: the combination reaches this host's focused window.
TEST_F(KeyboardHost, PressAndReleaseReachTheFocusedWindow) {
  HWND window = ShowForegroundWindow("KestrinKeyboardHostWindow", "keyboard host");
  ASSERT_NE(window, nullptr);
  SetFocus(window);
  TakeKeyMessages(window, 1000, 200);
  KeyCombo combo = {};
  keyboard_->ParseKeyCombo(reinterpret_cast<wchar_t*>(uintptr_t{IDS_KEY_COMBO_REDO}), &combo);
  wchar_t text[kKeyComboTextChars] = L"Ctrl+F12";
  KeyCombo function = {};
  keyboard_->ParseKeyCombo(text, &function);

  keyboard_->PressKeyCombo(&function);
  std::vector<KeyMessage> pressed = TakeKeyMessages(window, 3, 3000);
  EXPECT_EQ(keyboard_->ReleaseKeyCombo(&function), 1u);
  std::vector<KeyMessage> released = TakeKeyMessages(window, 1, 3000);
  const std::vector<KeyMessage> expectedPress = {
      {WM_KEYDOWN, VK_CONTROL, 0x1D}, {WM_KEYDOWN, VK_F12, 0x58}, {WM_KEYUP, VK_F12, 0x58}};
  const std::vector<KeyMessage> expectedRelease = {{WM_KEYUP, VK_CONTROL, 0x1D}};
  EXPECT_EQ(Describe(pressed), Describe(expectedPress));
  EXPECT_EQ(Describe(released), Describe(expectedRelease));

  // Ctrl+Y from the string table: a character's key, sent by scan code
  // alone, which Wine delivers as virtual key 0 (Windows: 'Y').
  keyboard_->PressKeyCombo(&combo);
  pressed = TakeKeyMessages(window, 3, 3000);
  EXPECT_EQ(keyboard_->ReleaseKeyCombo(&combo), 1u);
  released = TakeKeyMessages(window, 1, 3000);
  ASSERT_EQ(pressed.size(), 3u);
  EXPECT_EQ(pressed[0].m_Vk, static_cast<WPARAM>(VK_CONTROL));
  EXPECT_EQ(pressed[1].m_Scan, MapVirtualKeyA('Y', MAPVK_VK_TO_VSC));
  EXPECT_EQ(pressed[2].m_Message, static_cast<UINT>(WM_KEYUP));
  EXPECT_EQ(Describe(released), Describe(expectedRelease));
  DestroyWindow(window);
}

}  // namespace
