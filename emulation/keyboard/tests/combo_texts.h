// Random key-combination texts for the parser's fuzz loops: pieces the
// parser looks for mixed with arbitrary UTF-16 code units.
#pragma once
#include <random>
#include <string>

inline std::wstring RandomComboText(std::mt19937& random) {
  static const wchar_t* const pieces[] = {
      L"Ctrl", L"ctrl", L"SHIFT", L"Alt", L"+", L"++", L"Numpad+", L"Numpad", L"F5",
      L"f24", L"LMB", L"Space", L"NumPad-", L"PrintScreen", L"Win", L"Delete", L"\x7f",
      L"\x01", L"\xe9", L"\x416", L"\xffff", L"\xd800", L" ", L"Pg-Up",
  };
  std::wstring text;
  const int parts = static_cast<int>(random() % 12);
  for (int i = 0; i < parts; ++i) {
    if (random() % 3 == 0) {
      text += static_cast<wchar_t>(1 + random() % 0xFFFF);
    } else {
      text += pieces[random() % (sizeof pieces / sizeof pieces[0])];
    }
  }
  return text;
}
