// Key combinations as texts, records and keyboard events: the key-name and
// character tables, the parser, the canonical text and the events of a press
// and a release. Everything the system does for it (scan codes, the thread's
// keyboard state, input injection, text conversion, the string table) goes
// through IKeyboardSystem, so this part has no windows.h and runs natively.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>

#include "kestrin_zel2_keyboard.h"

namespace KestrinKeyboard {

// MapVirtualKeyA's map types.
constexpr unsigned kMapVkToScan = 0;  // MAPVK_VK_TO_VSC
constexpr unsigned kMapScanToVk = 1;  // MAPVK_VSC_TO_VK

// One keyboard event, field by field as SendInput takes it in INPUT.
constexpr uint32_t kInputKeyboard = 1;     // INPUT_KEYBOARD
constexpr uint32_t kEventKeyUp = 0x2;      // KEYEVENTF_KEYUP
constexpr uint32_t kEventScanCode = 0x8;   // KEYEVENTF_SCANCODE
struct KeyInput {
  uint32_t m_Type;       // kInputKeyboard
  uint16_t m_Vk;
  uint16_t m_Scan;
  uint32_t m_Flags;      // kEventKeyUp, kEventScanCode
  uint32_t m_Time;
  uintptr_t m_ExtraInfo;
};

constexpr size_t kKeyboardStateBytes = 256;

// The most events one press or release sends: three modifiers and the key's
// down and up.
constexpr unsigned kMaxKeyInputs = 5;

// The left-hand modifier keys a press holds down.
constexpr uint16_t kVkLeftShift = 0xA0;    // VK_LSHIFT
constexpr uint16_t kVkLeftControl = 0xA2;  // VK_LCONTROL
constexpr uint16_t kVkLeftAlt = 0xA4;      // VK_LMENU

// The system calls behind the keyboard emulation; each returns what the call
// it is named after returns.
class IKeyboardSystem {
 public:
  // MapVirtualKeyA(code, mapType).
  virtual unsigned MapVirtualKeyA(unsigned code, unsigned mapType) = 0;
  // GetKeyboardState and SetKeyboardState of the calling thread.
  virtual bool GetKeyboardState(uint8_t* state) = 0;
  virtual bool SetKeyboardState(uint8_t* state) = 0;
  // SendInput of keyboard events: the number of events inserted.
  virtual unsigned SendInput(const KeyInput* events, unsigned count) = 0;
  // The zero-terminated wide text in the thread's ANSI code page, read up to
  // its terminator; a character the code page cannot hold becomes byte 0.
  virtual std::string WideCharToAnsi(const wchar_t* text) = 0;
  // The library's own string with this id in the ANSI code page; empty when
  // there is none.
  virtual std::string LoadAnsiString(unsigned id) = 0;

 protected:
  ~IKeyboardSystem() = default;
};

// One row of the key-name table.
struct KeyName {
  const char* m_Name;
  uint8_t m_Vk;
};
constexpr size_t kKeyNameCount = 72;
extern const KeyName KeyNameTable[kKeyNameCount];

// The key of a character (a US layout), and the modifiers it needs.
struct CharKey {
  uint8_t m_Vk;
  uint16_t m_Flags;  // KeyShift, KeyCtrl
};
// Indexed by the character code 0x00-0x7F.
extern const CharKey CharacterTable[0x80];

// A character's modifiers and scan code; KeyScan is set when the scan code
// is not 0. A code above 0x7F is taken modulo 0x80.
struct ScanInput {
  uint16_t m_Flags;
  uint16_t m_Scan;
};
ScanInput CharToScanInput(IKeyboardSystem& system, unsigned char character);

// The name of a virtual key, "" when it has none.
const char* KeyNameOfVk(unsigned vk);

// The canonical text of a record: modifiers in the order Ctrl, Alt, Shift,
// then the name of the key its scan code maps to. Writes at most
// capacity - 1 characters and a terminator; returns the characters written.
size_t FormatKeyCombo(IKeyboardSystem& system, const KeyCombo& combo, wchar_t* text,
                      size_t capacity);

// Parses a narrow text into the record: its flags start at 0, m_Scan and
// m_Vk keep their values unless a key is found.
void ParseKeyComboText(IKeyboardSystem& system, const std::string& text, KeyCombo* combo);

// textOrId is a string id (1 to 0xFFFF) or a zero-terminated wide text in a
// buffer of kKeyComboTextChars characters (null: an empty text). The canonical
// text is written back into a text's buffer.
void ParseKeyCombo(IKeyboardSystem& system, wchar_t* textOrId, KeyCombo* combo);
// Holds the modifiers down and taps the key.
void PressKeyCombo(IKeyboardSystem& system, const KeyCombo& combo);
// Lets the modifiers go; the number of events inserted (0 without modifiers).
unsigned ReleaseKeyCombo(IKeyboardSystem& system, const KeyCombo& combo);

}  // namespace KestrinKeyboard
