// The satellite language table: which resource library a user language
// loads. 159 rows of 18 bytes, ordered by language (not by identifier): the
// Windows language identifier, the language's three-letter abbreviation (the
// abbreviated language name Windows defines for it) and the abbreviation of
// the base language of its group, which the program tries when no library
// of the first exists. The rows were made by tools/language_table_gen.cpp.
//
// No windows.h: the table and the choice of candidate libraries build
// natively too.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

struct SatelliteLanguage {
  uint16_t m_Language;
  char16_t m_Abbreviation[4];
  char16_t m_Fallback[4];
};
static_assert(sizeof(SatelliteLanguage) == 18, "a row is 18 bytes");

constexpr size_t kSatelliteLanguageCount = 159;
extern const SatelliteLanguage kSatelliteLanguages[kSatelliteLanguageCount];

// The first row with that identifier, or null.
const SatelliteLanguage* FindSatelliteLanguage(uint16_t language);

// The libraries to try, in order, for a program at modulePath and a user
// language: the program's base name (the part between the last "\" and the
// last "." after it) followed by "LOC.dll", then by the row's abbreviation
// and by its fallback, each + ".dll" (a fallback equal to the abbreviation is
// not tried twice). A language without a row: only the LOC library. Each
// name is given twice, first in the program's folder (modulePath up to its
// last "\", when it has one), then as ".\" + name, relative to the current
// directory.
std::vector<std::u16string> SatelliteCandidates(const std::u16string& modulePath,
                                                uint16_t language);
