// The key combination record of KestrinZel2's keyboard emulation
// (IKeyboardEmul2): the host owns it, ParseKeyCombo fills it from a text such
// as Ctrl+Shift+F5, PressKeyCombo and ReleaseKeyCombo send it. Three 16-bit
// words, the same layout in the x86 and x64 builds. No windows.h.
#pragma once
#include <stddef.h>
#include <stdint.h>

// Bits of KeyCombo::m_Flags. No other bit is ever set by ParseKeyCombo.
enum EKeyComboFlags : uint16_t {
  KeyCtrl = 0x1,      // hold Ctrl
  KeyShift = 0x2,     // hold Shift
  KeyAlt = 0x4,       // hold Alt
  KeyScan = 0x8,      // the record names a key, by m_Scan
  KeyVirtual = 0x40,  // the key came from the key-name table and is sent by m_Vk
};

struct KeyCombo {
  uint16_t m_Flags;  // EKeyComboFlags
  uint16_t m_Scan;   // scan code of the key (valid with KeyScan)
  uint16_t m_Vk;     // virtual-key code of the key (valid with KeyVirtual)
};

static_assert(sizeof(KeyCombo) == 6, "KeyCombo is three 16-bit words");
static_assert(offsetof(KeyCombo, m_Flags) == 0, "flags first");
static_assert(offsetof(KeyCombo, m_Scan) == 2, "scan code second");
static_assert(offsetof(KeyCombo, m_Vk) == 4, "virtual key third");

// A text passed to ParseKeyCombo lies in a buffer of at least this many wide
// characters: the canonical text (at most 31 characters and the terminator)
// is written back into it.
constexpr size_t kKeyComboTextChars = 32;
