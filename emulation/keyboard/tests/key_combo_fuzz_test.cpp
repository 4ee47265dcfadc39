// The parser over arbitrary texts. Each text lies in a buffer of exactly
// max(its length + 1, 32) characters on the heap, so that under the
// sanitizers (native build) a read past the text's terminator or a write past
// the host's 32 characters faults. Every parse must also leave a record with
// known bits only and a canonical text that parses to itself.
#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>
#include <wchar.h>

#include <memory>
#include <random>
#include <string>

#include "combo_texts.h"
#include "fake_keyboard.h"
#include "key_combo.h"

using namespace KestrinKeyboard;

namespace {

constexpr uint16_t kKnownFlags = KeyCtrl | KeyShift | KeyAlt | KeyScan | KeyVirtual;

// Parses the text in a buffer of its own and checks what the parse left.
void ParseAndCheck(FakeKeyboard& keyboard, const std::wstring& text) {
  std::string shown;  // the text's characters in hex, for a failure
  for (size_t i = 0; i < text.size() && i < 64; ++i) {
    shown += std::to_string(static_cast<unsigned long>(text[i])) + " ";
  }
  SCOPED_TRACE(shown);
  const size_t size = text.size() + 1 > kKeyComboTextChars ? text.size() + 1 : kKeyComboTextChars;
  std::unique_ptr<wchar_t[]> buffer(new wchar_t[size]);
  wmemcpy(buffer.get(), text.c_str(), text.size() + 1);
  KeyCombo combo = {};
  ParseKeyCombo(keyboard, buffer.get(), &combo);
  ASSERT_EQ(combo.m_Flags & ~kKnownFlags, 0);
  if (combo.m_Flags & KeyVirtual) {
    ASSERT_TRUE(combo.m_Flags & KeyScan);
  }
  const std::wstring canonical(buffer.get());
  ASSERT_LT(canonical.size(), kKeyComboTextChars);
  // The canonical text parses to the same record and the same text, unless
  // the key has no name to write (scan code 0, a key like F24 that the layout
  // has no scan code for) or its name cannot be parsed ("Numpad+").
  if (combo.m_Flags & KeyScan) {
    const std::string name = KeyNameOfVk(keyboard.MapVirtualKeyA(combo.m_Scan, kMapScanToVk));
    if (name.empty() || name == "Numpad+") return;
  }
  std::unique_ptr<wchar_t[]> again(new wchar_t[kKeyComboTextChars]);
  wmemcpy(again.get(), canonical.c_str(), canonical.size() + 1);
  KeyCombo second = combo;
  ParseKeyCombo(keyboard, again.get(), &second);
  ASSERT_EQ(second.m_Flags & (KeyCtrl | KeyShift | KeyAlt | KeyScan),
            combo.m_Flags & (KeyCtrl | KeyShift | KeyAlt | KeyScan));
  ASSERT_EQ(second.m_Scan, combo.m_Scan);
  ASSERT_EQ(std::wstring(again.get()), canonical);
}

TEST(KeyComboFuzz, EveryCharacterAloneAndAfterModifiers) {
  FakeKeyboard keyboard;
  for (unsigned c = 0x01; c <= 0xFF; ++c) {
    SCOPED_TRACE(c);
    const std::wstring character(1, static_cast<wchar_t>(c));
    ASSERT_NO_FATAL_FAILURE(ParseAndCheck(keyboard, character));
    ASSERT_NO_FATAL_FAILURE(ParseAndCheck(keyboard, L"Ctrl+Alt+Shift+" + character));
    ASSERT_NO_FATAL_FAILURE(ParseAndCheck(keyboard, L"x" + character + L"+Ctrl"));
  }
}

// 31 characters (the buffer full), 32 and more (no terminator inside the
// host's 32), up to several thousand.
TEST(KeyComboFuzz, LongTexts) {
  FakeKeyboard keyboard;
  for (size_t length : {31, 32, 33, 64, 4096}) {
    SCOPED_TRACE(length);
    std::wstring pluses(length, L'+');
    ASSERT_NO_FATAL_FAILURE(ParseAndCheck(keyboard, pluses));
    std::wstring words;
    while (words.size() < length) words += L"Ctrl+Alt+Shift+";
    words.resize(length);
    ASSERT_NO_FATAL_FAILURE(ParseAndCheck(keyboard, words));
    ASSERT_NO_FATAL_FAILURE(ParseAndCheck(keyboard, std::wstring(length, L'\x416')));
    ASSERT_NO_FATAL_FAILURE(ParseAndCheck(keyboard, std::wstring(length - 1, L'a') + L"\x416"));
  }
}

// Random texts drawn from the pieces the parser looks for and from every
// character, with a fixed seed so that a failure repeats.
TEST(KeyComboFuzz, RandomTexts) {
  std::mt19937 random(20261210);
  FakeKeyboard keyboard;
  for (int round = 0; round < 50000; ++round) {
    SCOPED_TRACE(round);
    ASSERT_NO_FATAL_FAILURE(ParseAndCheck(keyboard, RandomComboText(random)));
  }
}

}  // namespace
