// The key combinations on a US keyboard in memory (fake_keyboard.h): the
// parser, the names and the canonical text, the string ids, and the exact
// events and keyboard-state bytes of a press and a release.
#include "key_combo.h"

#include <ctype.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include <string>
#include <vector>

#include "combo_examples.h"
#include "fake_keyboard.h"

using namespace KestrinKeyboard;

namespace {

// The host's buffer of 32 characters; what follows the canonical text's
// terminator must stay as it was.
struct HostBuffer {
  explicit HostBuffer(const wchar_t* text) {
    for (wchar_t& c : m_Chars) c = L'#';
    wcsncpy(m_Chars, text, kKeyComboTextChars - 1);
    m_Chars[wcslen(text) < kKeyComboTextChars ? wcslen(text) : kKeyComboTextChars - 1] = L'\0';
  }
  wchar_t m_Chars[kKeyComboTextChars];
};

TEST(KeyComboParse, Examples) {
  for (const ComboExample& example : kComboExamples) {
    SCOPED_TRACE(testing::Message() << "text of " << wcslen(example.m_Text) << " characters, "
                                    << "canonical " << std::wstring(example.m_Canonical).size());
    FakeKeyboard keyboard;
    HostBuffer buffer(example.m_Text);
    HostBuffer expected = buffer;
    wcscpy(expected.m_Chars, example.m_Canonical);
    KeyCombo combo = KeptCombo();
    ParseKeyCombo(keyboard, buffer.m_Chars, &combo);
    EXPECT_EQ(combo.m_Flags, example.m_Flags) << "flags";
    EXPECT_EQ(combo.m_Scan, example.m_Scan) << "scan";
    EXPECT_EQ(combo.m_Vk, example.m_Vk) << "vk";
    EXPECT_EQ(std::wstring(buffer.m_Chars), std::wstring(example.m_Canonical));
    // The canonical text and its terminator, nothing else.
    EXPECT_EQ(memcmp(buffer.m_Chars, expected.m_Chars, sizeof buffer.m_Chars), 0);
  }
}

// Every name of the table parses to its own key, in any case, except the one
// that holds a "+".
TEST(KeyComboParse, EveryTableName) {
  for (const KeyName& row : KeyNameTable) {
    SCOPED_TRACE(row.m_Name);
    for (bool lower : {false, true}) {
      FakeKeyboard keyboard;
      std::string text = row.m_Name;
      if (lower) {
        for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
      }
      KeyCombo combo = KeptCombo();
      ParseKeyComboText(keyboard, text, &combo);
      if (strcmp(row.m_Name, "Numpad+") == 0) {
        EXPECT_EQ(combo.m_Flags, 0);  // "Numpad" before a "+", and nothing after it
        continue;
      }
      EXPECT_EQ(combo.m_Flags, KeyScan | KeyVirtual);
      EXPECT_EQ(combo.m_Vk, row.m_Vk);
      EXPECT_EQ(combo.m_Scan, keyboard.MapVirtualKeyA(row.m_Vk, kMapVkToScan));
    }
  }
}

TEST(KeyComboParse, TextLongerThanTheBufferIsReadToItsEnd) {
  FakeKeyboard keyboard;
  std::wstring text = L"Ctrl";
  for (int i = 0; i < 40; ++i) text += L"+Nothing";
  text += L"+Alt+F5";
  std::vector<wchar_t> buffer(text.begin(), text.end());
  buffer.push_back(L'\0');
  KeyCombo combo = KeptCombo();
  ParseKeyCombo(keyboard, buffer.data(), &combo);
  EXPECT_EQ(combo.m_Flags, KeyCtrl | KeyAlt | KeyScan | KeyVirtual);
  EXPECT_EQ(std::wstring(buffer.data()), L"Ctrl+Alt+F5");
  // The rest of the text is left as it was.
  EXPECT_EQ(std::wstring(buffer.data() + 12, 8), L"+Nothing");
}

// A character that the code page cannot hold names no key (the fake's code
// page holds 0x00-0xFF only).
TEST(KeyComboParse, CharacterOutsideTheCodePageNamesNoKey) {
  FakeKeyboard keyboard;
  HostBuffer buffer(L"Ctrl+\x0416");
  KeyCombo combo = KeptCombo();
  ParseKeyCombo(keyboard, buffer.m_Chars, &combo);
  EXPECT_EQ(combo.m_Flags, KeyCtrl);
  EXPECT_EQ(combo.m_Scan, kKept);
  EXPECT_EQ(std::wstring(buffer.m_Chars), L"Ctrl");
}

TEST(KeyComboParse, NullTextAndNullRecord) {
  FakeKeyboard keyboard;
  KeyCombo combo = KeptCombo();
  ParseKeyCombo(keyboard, nullptr, &combo);
  EXPECT_EQ(combo.m_Flags, 0);
  EXPECT_EQ(combo.m_Scan, kKept);
  HostBuffer buffer(L"Ctrl+A");
  ParseKeyCombo(keyboard, buffer.m_Chars, nullptr);
  EXPECT_EQ(std::wstring(buffer.m_Chars), L"Ctrl+A");
}

// A value from 1 to 0xFFFF is a string id: the text comes from the string
// table and nothing is written back (writing would fault at such an address).
TEST(KeyComboParse, StringIds) {
  struct Case {
    uintptr_t m_Id;
    uint16_t m_Flags;
    uint16_t m_Scan;
  } cases[] = {
      {0x2100, KeyCtrl | KeyScan, 0x2E},    // "ctrl+c"
      {0xFFFF, KeyAlt | KeyScan | KeyVirtual, 0x3E},  // "Alt+F4": the highest id
      {1, KeyShift | KeyScan, 0x04},         // "#": the lowest id
      {0x2101, 0, kKept},                    // no such string: an empty text
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.m_Id);
    FakeKeyboard keyboard;
    keyboard.m_Strings = {{0x2100, "ctrl+c"}, {0xFFFF, "Alt+F4"}, {1, "#"}};
    KeyCombo combo = KeptCombo();
    ParseKeyCombo(keyboard, reinterpret_cast<wchar_t*>(c.m_Id), &combo);
    EXPECT_EQ(combo.m_Flags, c.m_Flags);
    EXPECT_EQ(combo.m_Scan, c.m_Scan);
  }
}

TEST(KeyComboNames, KeyNameOfVk) {
  struct Case {
    unsigned m_Vk;
    const char* m_Name;
  } cases[] = {
      {0x30, "0"},        {0x39, "9"},        {0x41, "A"},        {0x5A, "Z"},
      {0x20, "Space"},    {0x2E, "Delete"},   {0xBE, "."},        {0xBC, ","},
      {0xBD, "-"},        {0xBB, "="},        {0xBF, "/"},        {0xBA, ";"},
      {0xDE, "'"},        {0xDB, "["},        {0xDC, "\\"},       {0xDD, "]"},
      {0xC0, "`"},        {0x74, "F5"},       {0x87, "F24"},      {0x01, "LMB"},
      {0x6B, "Numpad+"},  {0x6D, "NumPad-"},  {0x92, "Numpad="},
      // In the character ranges by code, but no character's key: table names.
      {0x5B, "LeftWin"},  {0x2F, "Help"},     {0x61, "Numpad1"}, {0x7B, "F12"},
      {0x7F, "F16"},
      // No name at all.
      {0x00, ""},         {0x10, ""},         {0xA2, ""},         {0xFF, ""},
      {0x1000, ""},
  };
  for (const auto& c : cases) {
    EXPECT_STREQ(KeyNameOfVk(c.m_Vk), c.m_Name) << "key 0x" << std::hex << c.m_Vk;
  }
}

TEST(KeyComboNames, CharToScanInput) {
  struct Case {
    unsigned char m_Character;
    uint16_t m_Flags;
    uint16_t m_Scan;
  } cases[] = {
      {'a', KeyScan, 0x1E},           {'A', KeyScan, 0x1E},
      {'0', KeyScan, 0x0B},           {' ', KeyScan, 0x39},
      {'!', KeyShift | KeyScan, 0x02}, {'@', KeyShift | KeyScan, 0x03},
      {')', KeyShift | KeyScan, 0x0B}, {'"', KeyShift | KeyScan, 0x28},
      {'_', KeyShift | KeyScan, 0x0C}, {'~', KeyShift | KeyScan, 0x29},
      {'+', KeyShift | KeyScan, 0x0D}, {'|', KeyShift | KeyScan, 0x2B},
      {0x7F, KeyScan, 0x53},
      {0x00, KeyCtrl | KeyShift | KeyScan, 0x03},
      {0x01, KeyCtrl | KeyScan, 0x1E}, {0x1A, KeyCtrl | KeyScan, 0x2C},
      {0x1B, KeyCtrl | KeyScan, 0x1A}, {0x1C, KeyCtrl | KeyScan, 0x2B},
      {0x1D, KeyCtrl | KeyScan, 0x1B}, {0x1E, KeyCtrl | KeyScan, 0x07},
      {0x1F, KeyCtrl | KeyScan, 0x0C},
      // Above 0x7F: modulo 0x80.
      {0xE1, KeyScan, 0x1E},          {0x80, KeyCtrl | KeyShift | KeyScan, 0x03},
      {0xFF, KeyScan, 0x53},
  };
  FakeKeyboard keyboard;
  for (const auto& c : cases) {
    const ScanInput input = CharToScanInput(keyboard, c.m_Character);
    EXPECT_EQ(input.m_Flags, c.m_Flags) << "character 0x" << std::hex << int(c.m_Character);
    EXPECT_EQ(input.m_Scan, c.m_Scan) << "character 0x" << std::hex << int(c.m_Character);
  }
}

// A key without a scan code in the layout gets no KeyScan.
TEST(KeyComboNames, CharacterWithoutScanCodeNamesNoKey) {
  struct NoGrave final : FakeKeyboard {
    unsigned MapVirtualKeyA(unsigned code, unsigned mapType) override {
      return code == 0xC0 ? 0 : FakeKeyboard::MapVirtualKeyA(code, mapType);
    }
  } keyboard;
  EXPECT_EQ(CharToScanInput(keyboard, '~').m_Flags, KeyShift);
  KeyCombo combo = KeptCombo();
  ParseKeyComboText(keyboard, "Ctrl+`", &combo);
  EXPECT_EQ(combo.m_Flags, KeyCtrl);
  EXPECT_EQ(combo.m_Scan, 0);
}

TEST(KeyComboFormat, ModifierOrderAndCapacity) {
  FakeKeyboard keyboard;
  KeyCombo combo = {};
  combo.m_Flags = KeyShift | KeyAlt | KeyCtrl | KeyScan;
  combo.m_Scan = 0x54;  // PrintScreen: the longest name
  wchar_t text[kKeyComboTextChars];
  EXPECT_EQ(FormatKeyCombo(keyboard, combo, text, kKeyComboTextChars), 26u);
  EXPECT_EQ(std::wstring(text), L"Ctrl+Alt+Shift+PrintScreen");
  wchar_t small[6];
  EXPECT_EQ(FormatKeyCombo(keyboard, combo, small, 6), 5u);
  EXPECT_EQ(std::wstring(small), L"Ctrl+");
  // The virtual-key word plays no part in the name.
  combo.m_Flags = KeyScan | KeyVirtual;
  combo.m_Vk = 0x74;
  EXPECT_EQ(FormatKeyCombo(keyboard, combo, text, kKeyComboTextChars), 11u);
  EXPECT_EQ(std::wstring(text), L"PrintScreen");
}

// ---- press and release ----

KeyInput Event(uint16_t vk, uint16_t scan, uint32_t flags) {
  KeyInput event = {};
  event.m_Type = kInputKeyboard;
  event.m_Vk = vk;
  event.m_Scan = scan;
  event.m_Flags = flags;
  return event;
}

std::string Describe(const std::vector<KeyInput>& events) {
  std::string text;
  char line[96];
  for (const KeyInput& e : events) {
    snprintf(line, sizeof line, "[type %u vk %02x scan %02x flags %x time %u extra %zu] ",
             e.m_Type, e.m_Vk, e.m_Scan, e.m_Flags, e.m_Time, static_cast<size_t>(e.m_ExtraInfo));
    text += line;
  }
  return text;
}

constexpr uint32_t kDownByScan = kEventScanCode;
constexpr uint32_t kUpByScan = kEventScanCode | kEventKeyUp;

const KeyInput kCtrlDown = Event(0xA2, 0x1D, kDownByScan);
const KeyInput kShiftDown = Event(0xA0, 0x2A, kDownByScan);
const KeyInput kAltDown = Event(0xA4, 0x38, kDownByScan);
const KeyInput kCtrlUp = Event(0xA2, 0x1D, kUpByScan);
const KeyInput kShiftUp = Event(0xA0, 0x2A, kUpByScan);
const KeyInput kAltUp = Event(0xA4, 0x38, kUpByScan);

// The three modifier bytes after the call, and whether a state was written.
struct ModifierBytes {
  uint8_t m_Ctrl, m_Shift, m_Alt;
};

struct PressCase {
  const char* m_Text;
  std::vector<KeyInput> m_Events;
  ModifierBytes m_Bytes;  // from a state in which only Alt (0xA4) was down
};

TEST(KeyComboPress, EventsAndKeyboardState) {
  const PressCase cases[] = {
      // A key of the name table goes by its virtual key, without the scan-code flag.
      {"Ctrl+Shift+F5",
       {kCtrlDown, kShiftDown, Event(0x74, 0x3F, 0), Event(0x74, 0x3F, kEventKeyUp)},
       {0x81, 0x81, 0x01}},
      // A character's key goes by scan code alone, virtual key 0; the Shift it
      // needs is held like any modifier.
      {"Ctrl+&",
       {kCtrlDown, kShiftDown, Event(0, 0x08, kDownByScan), Event(0, 0x08, kUpByScan)},
       {0x81, 0x81, 0x01}},
      {"Ctrl+$",
       {kCtrlDown, kShiftDown, Event(0, 0x05, kDownByScan), Event(0, 0x05, kUpByScan)},
       {0x81, 0x81, 0x01}},
      {"Alt+Shift+Ctrl+x",
       {kCtrlDown, kShiftDown, kAltDown, Event(0, 0x2D, kDownByScan), Event(0, 0x2D, kUpByScan)},
       {0x81, 0x81, 0x81}},
      // Modifiers without a key: the bytes of absent ones are left alone.
      {"Ctrl+Shift", {kCtrlDown, kShiftDown}, {0x81, 0x81, 0x81}},
      // The mouse button of the name table is sent as a key with scan code 0.
      {"Ctrl+LMB", {kCtrlDown, Event(0x01, 0, 0), Event(0x01, 0, kEventKeyUp)},
       {0x81, 0x01, 0x01}},
      {"Space", {Event(0x20, 0x39, 0), Event(0x20, 0x39, kEventKeyUp)}, {0x01, 0x01, 0x01}},
  };
  for (const PressCase& c : cases) {
    SCOPED_TRACE(c.m_Text);
    FakeKeyboard keyboard;
    KeyCombo combo = KeptCombo();
    ParseKeyComboText(keyboard, c.m_Text, &combo);
    for (uint8_t& byte : keyboard.m_State) byte = 0x01;  // toggled, not down
    keyboard.m_State[kVkLeftAlt] = 0x81;
    keyboard.m_GetStateCalls = keyboard.m_SetStateCalls = 0;
    PressKeyCombo(keyboard, combo);
    EXPECT_EQ(keyboard.m_GetStateCalls, 1);
    EXPECT_EQ(keyboard.m_SetStateCalls, 1);
    ASSERT_EQ(keyboard.m_Sent.size(), 1u) << "one SendInput call";
    EXPECT_EQ(Describe(keyboard.m_Sent[0]), Describe(c.m_Events));
    EXPECT_EQ(keyboard.m_State[kVkLeftControl], c.m_Bytes.m_Ctrl);
    EXPECT_EQ(keyboard.m_State[kVkLeftShift], c.m_Bytes.m_Shift);
    EXPECT_EQ(keyboard.m_State[kVkLeftAlt], c.m_Bytes.m_Alt);
    for (int vk = 0; vk < 256; ++vk) {
      if (vk != kVkLeftControl && vk != kVkLeftShift && vk != kVkLeftAlt) {
        EXPECT_EQ(keyboard.m_State[vk], 0x01) << "byte " << vk;
      }
    }
  }
}

TEST(KeyComboPress, EmptyRecordSendsNothing) {
  FakeKeyboard keyboard;
  KeyCombo combo = KeptCombo();
  ParseKeyComboText(keyboard, "Win+Nothing+", &combo);
  ASSERT_EQ(combo.m_Flags, 0);
  PressKeyCombo(keyboard, combo);
  EXPECT_EQ(keyboard.m_GetStateCalls, 0);
  EXPECT_EQ(keyboard.m_SetStateCalls, 0);
  EXPECT_TRUE(keyboard.m_Sent.empty());
}

// A keyboard state that could not be read is not written back (it would be
// all zeros); the events still go.
TEST(KeyComboPress, UnreadableStateIsNotWritten) {
  FakeKeyboard keyboard;
  keyboard.m_GetStateWorks = false;
  KeyCombo combo = KeptCombo();
  ParseKeyComboText(keyboard, "Ctrl+A", &combo);
  PressKeyCombo(keyboard, combo);
  EXPECT_EQ(keyboard.m_SetStateCalls, 0);
  ASSERT_EQ(keyboard.m_Sent.size(), 1u);
  EXPECT_EQ(keyboard.m_Sent[0].size(), 3u);
  ReleaseKeyCombo(keyboard, combo);
  EXPECT_EQ(keyboard.m_SetStateCalls, 0);
  EXPECT_EQ(keyboard.m_Sent.size(), 2u);
}

TEST(KeyComboRelease, EventsInPressOrderAndResult) {
  struct Case {
    uint16_t m_Flags;
    std::vector<KeyInput> m_Events;
  } cases[] = {
      {KeyCtrl | KeyAlt, {kCtrlUp, kAltUp}},
      {KeyAlt | KeyShift | KeyCtrl | KeyScan | KeyVirtual, {kCtrlUp, kShiftUp, kAltUp}},
      {KeyShift, {kShiftUp}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.m_Flags);
    FakeKeyboard keyboard;
    for (uint8_t& byte : keyboard.m_State) byte = 0x81;
    keyboard.m_SendResult = 7;  // whatever SendInput says is the result
    KeyCombo combo = {};
    combo.m_Flags = c.m_Flags;
    combo.m_Scan = 0x1E;
    EXPECT_EQ(ReleaseKeyCombo(keyboard, combo), 7u);
    ASSERT_EQ(keyboard.m_Sent.size(), 1u);
    EXPECT_EQ(Describe(keyboard.m_Sent[0]), Describe(c.m_Events));
    EXPECT_EQ(keyboard.m_State[kVkLeftControl], (c.m_Flags & KeyCtrl) ? 0x01 : 0x81);
    EXPECT_EQ(keyboard.m_State[kVkLeftShift], (c.m_Flags & KeyShift) ? 0x01 : 0x81);
    EXPECT_EQ(keyboard.m_State[kVkLeftAlt], (c.m_Flags & KeyAlt) ? 0x01 : 0x81);
    EXPECT_EQ(keyboard.m_State[0x41], 0x81);
  }
}

TEST(KeyComboRelease, WithoutModifiersSendsNothing) {
  FakeKeyboard keyboard;
  KeyCombo combo = {};
  combo.m_Flags = KeyScan | KeyVirtual;
  combo.m_Vk = 0x74;
  EXPECT_EQ(ReleaseKeyCombo(keyboard, combo), 0u);
  EXPECT_EQ(keyboard.m_GetStateCalls, 0);
  EXPECT_TRUE(keyboard.m_Sent.empty());
}

}  // namespace
