// Ids of the key combinations in the string table of KestrinZel2
// (keyboard_strings.rc): a host may pass one to ParseKeyCombo in place of a
// text. They sit in a string block of their own (ids 0x2100-0x210F).
#pragma once

#define IDS_KEY_COMBO_COPY 0x2100
#define IDS_KEY_COMBO_CUT 0x2101
#define IDS_KEY_COMBO_PASTE 0x2102
#define IDS_KEY_COMBO_UNDO 0x2103
#define IDS_KEY_COMBO_REDO 0x2104
#define IDS_KEY_COMBO_SELECT_ALL 0x2105
