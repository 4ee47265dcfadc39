// Key combinations as a host writes them, with the record and the canonical
// text a US keyboard gives. m_Scan and m_Vk of the record start as kKept, so
// a word a case leaves untouched shows as kKept.
#pragma once
#include <stdint.h>

#include "kestrin_zel2_keyboard.h"

constexpr uint16_t kKept = 0xEEEE;

// A record before parsing: every flag set, both words kKept.
inline KeyCombo KeptCombo() {
  KeyCombo combo = {};
  combo.m_Flags = 0xFFFF;
  combo.m_Scan = kKept;
  combo.m_Vk = kKept;
  return combo;
}

struct ComboExample {
  const wchar_t* m_Text;
  uint16_t m_Flags;
  uint16_t m_Scan;
  uint16_t m_Vk;
  const wchar_t* m_Canonical;
};

constexpr ComboExample kComboExamples[] = {
    {L"ctrl+shift+f5", KeyCtrl | KeyShift | KeyScan | KeyVirtual, 0x3F, 0x74, L"Ctrl+Shift+F5"},
    // Modifiers in the order Ctrl, Alt, Shift; a letter's name is upper case.
    {L"Shift+Alt+a", KeyShift | KeyAlt | KeyScan, 0x1E, kKept, L"Alt+Shift+A"},
    // The text splits at every "+": "Numpad+" can never be written whole.
    {L"Ctrl+Numpad+", KeyCtrl, kKept, kKept, L"Ctrl"},
    // Win is no modifier of a combination: ignored.
    {L"Win+E", KeyScan, 0x12, kKept, L"E"},
    {L"Ctrl+Shift", KeyCtrl | KeyShift, kKept, kKept, L"Ctrl+Shift"},
    // The left mouse button has scan code 0, and the name comes from the scan code.
    {L"Ctrl+LMB", KeyCtrl | KeyScan | KeyVirtual, 0x00, 0x01, L"Ctrl+"},
    {L"Ctrl+&", KeyCtrl | KeyShift | KeyScan, 0x08, kKept, L"Ctrl+Shift+7"},
    {L"Ctrl+$", KeyCtrl | KeyShift | KeyScan, 0x05, kKept, L"Ctrl+Shift+4"},
    {L"Space", KeyScan | KeyVirtual, 0x39, 0x20, L"Space"},
    {L" ", KeyScan, 0x39, kKept, L"Space"},
    {L"", 0, kKept, kKept, L""},
    {L"Alt", KeyAlt, kKept, kKept, L"Alt"},
    {L"+", 0, kKept, kKept, L""},
    {L"a+", 0, kKept, kKept, L""},
    {L"ALT+ctrl+Alt+x", KeyCtrl | KeyAlt | KeyScan, 0x2D, kKept, L"Ctrl+Alt+X"},
    {L"Ctrl+Foo+Bar+B", KeyCtrl | KeyScan, 0x30, kKept, L"Ctrl+B"},
    // A table name the scan code gives back differently: the keypad's 7 is Home.
    {L"Numpad7", KeyScan | KeyVirtual, 0x47, 0x67, L"Home"},
    {L"numpad-", KeyScan | KeyVirtual, 0x4A, 0x6D, L"NumPad-"},
    {L"Delete", KeyScan | KeyVirtual, 0x53, 0x2E, L"Delete"},
    // Character 0x7F is the Delete key.
    {L"Ctrl+\x7f", KeyCtrl | KeyScan, 0x53, kKept, L"Ctrl+Delete"},
    // Control characters are typed with Ctrl.
    {L"\x01", KeyCtrl | KeyScan, 0x1E, kKept, L"Ctrl+A"},
    {L"Alt+\x1b", KeyCtrl | KeyAlt | KeyScan, 0x1A, kKept, L"Ctrl+Alt+["},
    // A plain case folding, not a comparison that skips hyphens: "Pg-Up" is
    // no name, so its last character is the key.
    {L"Pg-Up", KeyScan, 0x19, kKept, L"P"},
    {L"PGUP", KeyScan | KeyVirtual, 0x49, 0x21, L"PgUp"},
    // A word that is no name: its last character.
    {L"Ctrl+Enterprise", KeyCtrl | KeyScan, 0x12, kKept, L"Ctrl+E"},
    {L"shift+/", KeyShift | KeyScan, 0x35, kKept, L"Shift+/"},
    {L"?", KeyShift | KeyScan, 0x35, kKept, L"Shift+/"},
    {L"`", KeyScan, 0x29, kKept, L"`"},
    {L"'", KeyScan, 0x28, kKept, L"'"},
    // A character above 0x7F is taken modulo 0x80: e acute (0xE9) is the I key.
    {L"Ctrl+\xe9", KeyCtrl | KeyScan, 0x17, kKept, L"Ctrl+I"},
};
