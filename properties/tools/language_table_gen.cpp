// Writes the rows of the satellite language table (language_table.cpp) from
// the system's locale data. Run once under Wine (or Windows) when the table
// is made:  KestrinLanguageTableGen.exe > rows.txt
//
// The table's order is fixed: by language, as the abbreviations below stand.
// A row's identifier is the lowest language identifier whose abbreviated
// language name (GetLocaleInfoW, LOCALE_SABBREVLANGNAME) is the row's and
// that no earlier row took, except for the rows of kSpelledOtherwise, whose
// identifiers come from the platform headers' language constants: Wine's
// locale data (8.0, which follows today's Windows) spells those languages
// otherwise (Kannada "KDI", Mongolian "MNN", Quechua "QUZ", Cyrillic Azeri
// and Uzbek "AZC" and "UZC"), has no locale for Serbian of Serbia and
// Montenegro, and gives "TAM" to Tamil of Sri Lanka (0x0849), a locale newer
// than the table, where the table means Tamil of India. The tool says on
// stderr what the system calls each of those. A row's fallback is the
// abbreviation of its language's first sublanguage (the identifier with
// sublanguage 1) when the table has that row, else its own. A name found
// neither way makes the tool fail.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

const char* const kOrder[] = {
    "AFK", "SQI", "ARA", "ARI", "ARE", "ARL", "ARG", "ARM", "ART", "ARO", "ARY", "ARS", "ARJ",
    "ARB", "ARK", "ARU", "ARH", "ARQ", "HYE", "AZE", "AZE", "EUQ", "BEL", "BNG", "BSB", "BGR",
    "CAT", "CHT", "CHS", "ZHH", "ZHI", "ZHM", "HRV", "HRB", "CSY", "DAN", "DIV", "NLD", "NLB",
    "ENU", "ENG", "ENA", "ENC", "ENZ", "ENI", "ENS", "ENJ", "ENB", "ENL", "ENT", "ENW", "ENP",
    "ETI", "FOS", "FAR", "FIN", "FRA", "FRB", "FRC", "FRS", "FRL", "FRM", "GLC", "KAT", "DEU",
    "DES", "DEA", "DEL", "DEC", "ELL", "GUJ", "HEB", "HIN", "HUN", "ISL", "IND", "XHO", "ZUL",
    "ITA", "ITS", "JPN", "KAN", "KNK", "KOR", "KYR", "LVI", "LTH", "MKI", "MSL", "MSB", "MYM",
    "MRI", "MLT", "MAR", "MON", "NOR", "NON", "PLK", "PTB", "PTG", "PAN", "QUB", "QUE", "QUP",
    "ROM", "RUS", "SAN", "SME", "SMF", "SMG", "SMJ", "SMK", "SMA", "SMB", "SMS", "SMN", "SRB",
    "SRN", "SRL", "SRS", "NSO", "TSN", "SKY", "SLV", "ESP", "ESM", "ESN", "ESG", "ESC", "ESA",
    "ESD", "ESV", "ESO", "ESR", "ESS", "ESF", "ESL", "ESY", "ESZ", "ESB", "ESE", "ESH", "ESI",
    "ESU", "SWK", "SVE", "SVF", "SYR", "TAM", "TTT", "TEL", "THA", "TRK", "UKR", "URD", "UZB",
    "UZB", "VIT", "CYM",
};

struct KnownRow {
  const char* name;
  LANGID language;
};
const KnownRow kSpelledOtherwise[] = {
    {"AZE", MAKELANGID(LANG_AZERI, SUBLANG_AZERI_LATIN)},
    {"AZE", MAKELANGID(LANG_AZERI, SUBLANG_AZERI_CYRILLIC)},
    {"TAM", MAKELANGID(LANG_TAMIL, SUBLANG_TAMIL_INDIA)},
    {"UZB", MAKELANGID(LANG_UZBEK, SUBLANG_UZBEK_LATIN)},
    {"UZB", MAKELANGID(LANG_UZBEK, SUBLANG_UZBEK_CYRILLIC)},
    {"KAN", MAKELANGID(LANG_KANNADA, SUBLANG_KANNADA_INDIA)},
    {"MON", MAKELANGID(LANG_MONGOLIAN, SUBLANG_MONGOLIAN_CYRILLIC_MONGOLIA)},
    {"QUB", MAKELANGID(LANG_QUECHUA, SUBLANG_QUECHUA_BOLIVIA)},
    {"QUE", MAKELANGID(LANG_QUECHUA, SUBLANG_QUECHUA_ECUADOR)},
    {"QUP", MAKELANGID(LANG_QUECHUA, SUBLANG_QUECHUA_PERU)},
    {"SRB", MAKELANGID(LANG_SERBIAN, SUBLANG_SERBIAN_CYRILLIC)},
    {"SRL", MAKELANGID(LANG_SERBIAN, SUBLANG_SERBIAN_LATIN)},
};

std::string AbbreviationOf(LANGID language) {
  wchar_t name[16] = {};
  if (!GetLocaleInfoW(MAKELCID(language, SORT_DEFAULT), LOCALE_SABBREVLANGNAME, name, 16))
    return "";
  std::string text;
  for (const wchar_t* p = name; *p; ++p) text += static_cast<char>(*p);
  return text;
}

}  // namespace

int main() {
  // Every identifier the system names, by name, lowest first.
  std::map<std::string, std::vector<LANGID>> byName;
  for (unsigned id = 1; id <= 0xFFFF; ++id) {
    if (PRIMARYLANGID(id) == 0 || SUBLANGID(id) == 0) continue;
    std::string name = AbbreviationOf(static_cast<LANGID>(id));
    if (!name.empty()) byName[name].push_back(static_cast<LANGID>(id));
  }

  std::vector<LANGID> ids;
  std::set<LANGID> taken;
  int missing = 0;
  for (const char* name : kOrder) {
    LANGID chosen = 0;
    for (const KnownRow& known : kSpelledOtherwise) {
      if (strcmp(known.name, name) != 0 || taken.count(known.language)) continue;
      chosen = known.language;
      std::string system = AbbreviationOf(chosen);
      fprintf(stderr, "%s: 0x%04X from the language constants (the system calls it %s)\n",
              name, chosen, system.empty() ? "nothing" : system.c_str());
      break;
    }
    for (LANGID id : byName[name]) {
      if (chosen) break;
      if (!taken.count(id)) chosen = id;
    }
    if (!chosen) {
      fprintf(stderr, "no language identifier is named %s\n", name);
      ++missing;
    }
    taken.insert(chosen);
    ids.push_back(chosen);
  }
  if (missing) return 1;

  std::map<LANGID, std::string> nameOf;
  for (size_t i = 0; i < ids.size(); ++i) nameOf[ids[i]] = kOrder[i];
  for (size_t i = 0; i < ids.size(); ++i) {
    LANGID first = MAKELANGID(PRIMARYLANGID(ids[i]), 1);
    std::string fallback = nameOf.count(first) ? nameOf[first] : kOrder[i];
    printf("    {0x%04X, u\"%s\", u\"%s\"},\n", ids[i], kOrder[i], fallback.c_str());
  }
  return 0;
}
