#include "keyboard.h"

namespace KestrinKeyboard {

void ParseKeyCombo(wchar_t*, KeyCombo*) {}
void PressKeyCombo(const KeyCombo*) {}
unsigned int ReleaseKeyCombo(const KeyCombo*) { return 0; }

}  // namespace KestrinKeyboard
