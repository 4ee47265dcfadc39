#include "key_combo.h"

#include <string.h>

namespace KestrinKeyboard {

// Searched in this order; the first row of a key also gives the key's name.
const KeyName KeyNameTable[kKeyNameCount] = {
    {"LMB", 0x01},         {"RMB", 0x02},        {"MMB", 0x04},        {"X1MB", 0x05},
    {"X2MB", 0x06},        {"Backspace", 0x08},  {"Tab", 0x09},        {"Clear", 0x0C},
    {"Enter", 0x0D},       {"Pause", 0x13},      {"Esc", 0x1B},        {"Space", 0x20},
    {"PgUp", 0x21},        {"PgDn", 0x22},       {"End", 0x23},        {"Home", 0x24},
    {"Left", 0x25},        {"Up", 0x26},         {"Right", 0x27},      {"Down", 0x28},
    {"Select", 0x29},      {"Print", 0x2A},      {"Execute", 0x2B},    {"PrintScreen", 0x2C},
    {"Insert", 0x2D},      {"Delete", 0x2E},     {"Help", 0x2F},       {"LeftWin", 0x5B},
    {"RightWin", 0x5C},    {"Sleep", 0x5F},      {"Numpad0", 0x60},    {"Numpad1", 0x61},
    {"Numpad2", 0x62},     {"Numpad3", 0x63},    {"Numpad4", 0x64},    {"Numpad5", 0x65},
    {"Numpad6", 0x66},     {"Numpad7", 0x67},    {"Numpad8", 0x68},    {"Numpad9", 0x69},
    {"Numpad*", 0x6A},     {"Numpad+", 0x6B},    {"NumPad-", 0x6D},    {"Numpad.", 0x6E},
    {"Numpad/", 0x6F},     {"NumLock", 0x90},    {"ScrollLock", 0x91}, {"Numpad=", 0x92},
    {"F1", 0x70},          {"F2", 0x71},         {"F3", 0x72},         {"F4", 0x73},
    {"F5", 0x74},          {"F6", 0x75},         {"F7", 0x76},         {"F8", 0x77},
    {"F9", 0x78},          {"F10", 0x79},        {"F11", 0x7A},        {"F12", 0x7B},
    {"F13", 0x7C},         {"F14", 0x7D},        {"F15", 0x7E},        {"F16", 0x7F},
    {"F17", 0x80},         {"F18", 0x81},        {"F19", 0x82},        {"F20", 0x83},
    {"F21", 0x84},         {"F22", 0x85},        {"F23", 0x86},        {"F24", 0x87},
};

namespace {

constexpr uint16_t S = KeyShift;
constexpr uint16_t C = KeyCtrl;

}  // namespace

// A US layout. The control codes are typed with Ctrl (0x00 with Ctrl and
// Shift); 0x7F is the Delete key.
const CharKey CharacterTable[0x80] = {
    // 0x00-0x1F
    {0x32, C | S}, {0x41, C}, {0x42, C}, {0x43, C}, {0x44, C}, {0x45, C}, {0x46, C}, {0x47, C},
    {0x48, C}, {0x49, C}, {0x4A, C}, {0x4B, C}, {0x4C, C}, {0x4D, C}, {0x4E, C}, {0x4F, C},
    {0x50, C}, {0x51, C}, {0x52, C}, {0x53, C}, {0x54, C}, {0x55, C}, {0x56, C}, {0x57, C},
    {0x58, C}, {0x59, C}, {0x5A, C}, {0xDB, C}, {0xDC, C}, {0xDD, C}, {0x36, C}, {0xBD, C},
    // 0x20-0x2F: space ! " # $ % & ' ( ) * + , - . /
    {0x20, 0}, {0x31, S}, {0xDE, S}, {0x33, S}, {0x34, S}, {0x35, S}, {0x37, S}, {0xDE, 0},
    {0x39, S}, {0x30, S}, {0x38, S}, {0xBB, S}, {0xBC, 0}, {0xBD, 0}, {0xBE, 0}, {0xBF, 0},
    // 0x30-0x3F: 0-9 : ; < = > ?
    {0x30, 0}, {0x31, 0}, {0x32, 0}, {0x33, 0}, {0x34, 0}, {0x35, 0}, {0x36, 0}, {0x37, 0},
    {0x38, 0}, {0x39, 0}, {0xBA, S}, {0xBA, 0}, {0xBC, S}, {0xBB, 0}, {0xBE, S}, {0xBF, S},
    // 0x40-0x5F: @ A-Z [ \ ] ^ _
    {0x32, S}, {0x41, 0}, {0x42, 0}, {0x43, 0}, {0x44, 0}, {0x45, 0}, {0x46, 0}, {0x47, 0},
    {0x48, 0}, {0x49, 0}, {0x4A, 0}, {0x4B, 0}, {0x4C, 0}, {0x4D, 0}, {0x4E, 0}, {0x4F, 0},
    {0x50, 0}, {0x51, 0}, {0x52, 0}, {0x53, 0}, {0x54, 0}, {0x55, 0}, {0x56, 0}, {0x57, 0},
    {0x58, 0}, {0x59, 0}, {0x5A, 0}, {0xDB, 0}, {0xDC, 0}, {0xDD, 0}, {0x36, S}, {0xBD, S},
    // 0x60-0x7F: ` a-z { | } ~ DEL
    {0xC0, 0}, {0x41, 0}, {0x42, 0}, {0x43, 0}, {0x44, 0}, {0x45, 0}, {0x46, 0}, {0x47, 0},
    {0x48, 0}, {0x49, 0}, {0x4A, 0}, {0x4B, 0}, {0x4C, 0}, {0x4D, 0}, {0x4E, 0}, {0x4F, 0},
    {0x50, 0}, {0x51, 0}, {0x52, 0}, {0x53, 0}, {0x54, 0}, {0x55, 0}, {0x56, 0}, {0x57, 0},
    {0x58, 0}, {0x59, 0}, {0x5A, 0}, {0xDB, S}, {0xDC, S}, {0xDD, S}, {0xC0, S}, {0x2E, 0},
};

namespace {

// The modifiers of a press, in the order they go down and up.
struct Modifier {
  uint16_t m_Flag;
  uint16_t m_Vk;
  uint16_t m_Scan;
};
constexpr Modifier kModifiers[] = {
    {KeyCtrl, kVkLeftControl, 0x1D},
    {KeyShift, kVkLeftShift, 0x2A},
    {KeyAlt, kVkLeftAlt, 0x38},
};
constexpr uint16_t kModifierFlags = KeyCtrl | KeyShift | KeyAlt;

// Every character 0x00-0x7F as a one-character text.
struct OneCharNames {
  char m_Names[0x80][2];
};
constexpr OneCharNames MakeOneCharNames() {
  OneCharNames names = {};
  for (int c = 0; c < 0x80; ++c) names.m_Names[c][0] = static_cast<char>(c);
  return names;
}
constexpr OneCharNames kOneCharNames = MakeOneCharNames();

// Case folding of the ANSI text: letters of the names are ASCII, and a
// character outside ASCII folds to itself (so it never equals a letter).
char Fold(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameWord(const char* text, size_t length, const char* word) {
  size_t i = 0;
  for (; i < length; ++i) {
    if (word[i] == '\0' || Fold(text[i]) != Fold(word[i])) return false;
  }
  return word[i] == '\0';
}

uint16_t ModifierOf(const char* text, size_t length) {
  if (SameWord(text, length, "Ctrl")) return KeyCtrl;
  if (SameWord(text, length, "Shift")) return KeyShift;
  if (SameWord(text, length, "Alt")) return KeyAlt;
  return 0;
}

KeyInput MakeEvent(uint16_t vk, uint16_t scan, uint32_t flags) {
  KeyInput event = {};
  event.m_Type = kInputKeyboard;
  event.m_Vk = vk;
  event.m_Scan = scan;
  event.m_Flags = flags;
  return event;
}

void Append(wchar_t* text, size_t capacity, size_t* length, const char* part) {
  for (; *part != '\0' && *length + 1 < capacity; ++part) {
    text[(*length)++] = static_cast<unsigned char>(*part);
  }
}

}  // namespace

ScanInput CharToScanInput(IKeyboardSystem& system, unsigned char character) {
  const CharKey& key = CharacterTable[character % 0x80];
  ScanInput result = {};
  result.m_Flags = key.m_Flags;
  result.m_Scan = static_cast<uint16_t>(system.MapVirtualKeyA(key.m_Vk, kMapVkToScan));
  if (result.m_Scan != 0) result.m_Flags |= KeyScan;
  return result;
}

const char* KeyNameOfVk(unsigned vk) {
  if ((vk >= 0x30 && vk <= 0x39) || (vk >= 0x41 && vk <= 0x5A)) return kOneCharNames.m_Names[vk];
  // A key typed without Shift for a character of these ranges, in this
  // order; the space's key and the key of 0x7F have word names.
  static const struct {
    unsigned char m_First, m_Last;
  } ranges[] = {{0x20, 0x2F}, {0x3A, 0x40}, {0x5B, 0x60}, {0x7B, 0x7F}};
  for (const auto& range : ranges) {
    for (unsigned c = range.m_First; c <= range.m_Last; ++c) {
      const CharKey& key = CharacterTable[c];
      if (key.m_Flags != 0 || key.m_Vk != vk) continue;
      if (vk == 0x20) return "Space";
      if (vk == 0x2E) return "Delete";
      return kOneCharNames.m_Names[c];
    }
  }
  for (const KeyName& row : KeyNameTable) {
    if (row.m_Vk == vk) return row.m_Name;
  }
  return "";
}

size_t FormatKeyCombo(IKeyboardSystem& system, const KeyCombo& combo, wchar_t* text,
                      size_t capacity) {
  if (capacity == 0) return 0;
  size_t length = 0;
  if (combo.m_Flags & KeyCtrl) Append(text, capacity, &length, "Ctrl");
  if (combo.m_Flags & KeyAlt) Append(text, capacity, &length, length ? "+Alt" : "Alt");
  if (combo.m_Flags & KeyShift) Append(text, capacity, &length, length ? "+Shift" : "Shift");
  if (combo.m_Flags & KeyScan) {
    if (length) Append(text, capacity, &length, "+");
    // The name comes from the scan code, for the keys of the name table too.
    Append(text, capacity, &length, KeyNameOfVk(system.MapVirtualKeyA(combo.m_Scan, kMapScanToVk)));
  }
  text[length] = L'\0';
  return length;
}

void ParseKeyComboText(IKeyboardSystem& system, const std::string& text, KeyCombo* combo) {
  combo->m_Flags = 0;
  const char* part = text.data();
  size_t left = text.size();
  // Every part before a "+" is a modifier or ignored; the text splits at each
  // "+", so a name holding one ("Numpad+") is never whole.
  for (const char* plus; left != 0 && (plus = static_cast<const char*>(memchr(part, '+', left)));) {
    combo->m_Flags |= ModifierOf(part, static_cast<size_t>(plus - part));
    left -= static_cast<size_t>(plus - part) + 1;
    part = plus + 1;
  }
  if (left == 0) return;
  if (uint16_t modifier = ModifierOf(part, left)) {
    combo->m_Flags |= modifier;
    return;
  }
  for (const KeyName& row : KeyNameTable) {
    if (SameWord(part, left, row.m_Name)) {
      combo->m_Scan = static_cast<uint16_t>(system.MapVirtualKeyA(row.m_Vk, kMapVkToScan));
      combo->m_Vk = row.m_Vk;
      combo->m_Flags |= KeyScan | KeyVirtual;  // also when the scan code is 0
      return;
    }
  }
  // A character the code page cannot hold names no key.
  const unsigned char last = static_cast<unsigned char>(part[left - 1]);
  if (last == 0) return;
  const ScanInput key = CharToScanInput(system, last);
  combo->m_Flags |= key.m_Flags;
  combo->m_Scan = key.m_Scan;
}

void ParseKeyCombo(IKeyboardSystem& system, wchar_t* textOrId, KeyCombo* combo) {
  if (!combo) return;
  const uintptr_t value = reinterpret_cast<uintptr_t>(textOrId);
  const bool isId = value >= 1 && value <= 0xFFFF;
  const std::string text = isId              ? system.LoadAnsiString(static_cast<unsigned>(value))
                           : textOrId != nullptr ? system.WideCharToAnsi(textOrId)
                                             : std::string();
  ParseKeyComboText(system, text, combo);
  if (isId || textOrId == nullptr) return;
  // The host's buffer holds kKeyComboTextChars characters: at most 31 and
  // the terminator go back.
  wchar_t canonical[kKeyComboTextChars];
  const size_t length = FormatKeyCombo(system, *combo, canonical, kKeyComboTextChars);
  memcpy(textOrId, canonical, (length + 1) * sizeof(wchar_t));
}

void PressKeyCombo(IKeyboardSystem& system, const KeyCombo& combo) {
  if (combo.m_Flags == 0) return;
  uint8_t state[kKeyboardStateBytes] = {};
  const bool haveState = system.GetKeyboardState(state);
  KeyInput events[kMaxKeyInputs];
  unsigned count = 0;
  for (const Modifier& modifier : kModifiers) {
    if (combo.m_Flags & modifier.m_Flag) {
      events[count++] = MakeEvent(modifier.m_Vk, modifier.m_Scan, kEventScanCode);
      state[modifier.m_Vk] |= 0x80;
    } else if (combo.m_Flags & KeyScan) {
      state[modifier.m_Vk] &= 0x7F;
    }
  }
  if (combo.m_Flags & KeyScan) {
    // A key of the name table goes by its virtual-key code; a character's
    // key by its scan code alone.
    const bool byVk = (combo.m_Flags & KeyVirtual) != 0;
    const uint16_t vk = byVk ? combo.m_Vk : 0;
    const uint32_t flags = byVk ? 0 : kEventScanCode;
    events[count++] = MakeEvent(vk, combo.m_Scan, flags);
    events[count++] = MakeEvent(vk, combo.m_Scan, flags | kEventKeyUp);
  }
  // A state that could not be read is not written back: zeros would lift
  // every key of the thread.
  if (haveState) system.SetKeyboardState(state);
  system.SendInput(events, count);
}

unsigned ReleaseKeyCombo(IKeyboardSystem& system, const KeyCombo& combo) {
  if ((combo.m_Flags & kModifierFlags) == 0) return 0;
  uint8_t state[kKeyboardStateBytes] = {};
  const bool haveState = system.GetKeyboardState(state);
  KeyInput events[kMaxKeyInputs];
  unsigned count = 0;
  for (const Modifier& modifier : kModifiers) {
    if (combo.m_Flags & modifier.m_Flag) {
      events[count++] = MakeEvent(modifier.m_Vk, modifier.m_Scan, kEventScanCode | kEventKeyUp);
      state[modifier.m_Vk] &= 0x7F;
    }
  }
  if (haveState) system.SetKeyboardState(state);
  return system.SendInput(events, count);
}

}  // namespace KestrinKeyboard
