// Keyboard emulation of KestrinZel2, behind IKeyboardEmul2: the key
// combinations of key_combo.h on the real system calls. No windows.h.
// Everything lives in namespace KestrinKeyboard.
#pragma once
#include "kestrin_zel2_keyboard.h"

namespace KestrinKeyboard {

// textOrId: a string id of the library's string table (1 to 0xFFFF), or a
// zero-terminated wide text in a buffer of kKeyComboTextChars characters into
// which the canonical text is written back, or null (an empty text).
void ParseKeyCombo(wchar_t* textOrId, KeyCombo* combo);
// Holds the record's modifiers down and taps its key.
void PressKeyCombo(const KeyCombo* combo);
// Lets the record's modifiers go: the number of events inserted, 0 when the
// record has no modifier.
unsigned int ReleaseKeyCombo(const KeyCombo* combo);

}  // namespace KestrinKeyboard
