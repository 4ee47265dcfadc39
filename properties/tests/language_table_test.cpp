// The satellite language table and the libraries it makes the program try.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "firmware_text.h"
#include "language_table.h"

namespace {

std::string Narrow(const char16_t* text) {
  std::string out;
  for (; *text; ++text) out += static_cast<char>(*text);
  return out;
}

TEST(LanguageTableTest, TheRowsTheTableIsKnownBy) {
  struct Row {
    uint16_t language;
    const char* abbreviation;
    const char* fallback;
  };
  const Row rows[] = {
      {0x0409, "ENU", "ENU"}, {0x0809, "ENG", "ENU"}, {0x0407, "DEU", "DEU"},
      {0x0807, "DES", "DEU"}, {0x040C, "FRA", "FRA"}, {0x080C, "FRB", "FRA"},
      {0x0411, "JPN", "JPN"}, {0x0404, "CHT", "CHT"}, {0x0804, "CHS", "CHT"},
      {0x0416, "PTB", "PTB"}, {0x0816, "PTG", "PTB"}, {0x141A, "BSB", "HRV"},
      {0x0C1A, "SRB", "HRV"}, {0x0814, "NON", "NOR"}, {0x0436, "AFK", "AFK"},
      {0x0452, "CYM", "CYM"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.abbreviation);
    const SatelliteLanguage* found = FindSatelliteLanguage(row.language);
    ASSERT_NE(nullptr, found);
    EXPECT_EQ(row.abbreviation, Narrow(found->m_Abbreviation));
    EXPECT_EQ(row.fallback, Narrow(found->m_Fallback));
  }
  EXPECT_EQ(0x0436, kSatelliteLanguages[0].m_Language) << "first row";
  EXPECT_EQ(0x0452, kSatelliteLanguages[kSatelliteLanguageCount - 1].m_Language) << "last row";
}

// Every row's fallback is its own abbreviation except in the groups that
// share a base language, where it is the base's.
TEST(LanguageTableTest, FallbacksAreTheBaseLanguageOfTheGroup) {
  struct Group {
    const char* base;
    std::vector<std::string> members;
  };
  const Group groups[] = {
      {"ARA", {"ARI", "ARE", "ARL", "ARG", "ARM", "ART", "ARO", "ARY", "ARS", "ARJ", "ARB", "ARK",
               "ARU", "ARH", "ARQ"}},
      {"ENU", {"ENG", "ENA", "ENC", "ENZ", "ENI", "ENS", "ENJ", "ENB", "ENL", "ENT", "ENW",
               "ENP"}},
      {"FRA", {"FRB", "FRC", "FRS", "FRL", "FRM"}},
      {"DEU", {"DES", "DEA", "DEL", "DEC"}},
      {"ESP", {"ESM", "ESN", "ESG", "ESC", "ESA", "ESD", "ESV", "ESO", "ESR", "ESS", "ESF", "ESL",
               "ESY", "ESZ", "ESB", "ESE", "ESH", "ESI", "ESU"}},
      {"CHT", {"CHS", "ZHH", "ZHI", "ZHM"}},
      {"HRV", {"BSB", "HRB", "SRB", "SRN", "SRL", "SRS"}},
      {"NLD", {"NLB"}}, {"ITA", {"ITS"}}, {"MSL", {"MSB"}}, {"NOR", {"NON"}}, {"PTB", {"PTG"}},
      {"QUB", {"QUE", "QUP"}},
      {"SME", {"SMF", "SMG", "SMJ", "SMK", "SMA", "SMB", "SMS", "SMN"}},
      {"SVE", {"SVF"}},
  };
  size_t differing = 0;
  for (const SatelliteLanguage& row : kSatelliteLanguages) {
    std::string abbreviation = Narrow(row.m_Abbreviation), fallback = Narrow(row.m_Fallback);
    std::string expected = abbreviation;
    for (const Group& group : groups)
      for (const std::string& member : group.members)
        if (member == abbreviation) expected = group.base;
    EXPECT_EQ(expected, fallback) << abbreviation;
    if (fallback != abbreviation) ++differing;
  }
  size_t members = 0;
  for (const Group& group : groups) members += group.members.size();
  EXPECT_EQ(members, differing) << "each member of a group is one row";
}

TEST(LanguageTableTest, IdentifiersAreUniqueAndAbbreviationsThreeLetters) {
  for (size_t i = 0; i < kSatelliteLanguageCount; ++i) {
    const SatelliteLanguage& row = kSatelliteLanguages[i];
    EXPECT_EQ(3u, Narrow(row.m_Abbreviation).size()) << i;
    EXPECT_EQ(u'\0', row.m_Abbreviation[3]) << i;
    EXPECT_EQ(u'\0', row.m_Fallback[3]) << i;
    EXPECT_EQ(&row, FindSatelliteLanguage(row.m_Language)) << "first match is row " << i;
  }
}

TEST(LanguageTableTest, CandidateLibrariesInTheOrderTheyAreTried) {
  const std::u16string program = u"C:\\Program Files\\Pellmor Vastine\\KestrinProperties.exe";
  const std::u16string beside = u"C:\\Program Files\\Pellmor Vastine\\KestrinProperties";
  const std::u16string current = u".\\KestrinProperties";
  struct Case {
    const char* name;
    std::u16string path;
    uint16_t language;
    std::vector<std::u16string> expected;
  };
  const Case cases[] = {
      {"Swiss German: its own, then German; each beside the program, then here", program, 0x0807,
       {beside + u"LOC.dll", current + u"LOC.dll", beside + u"DES.dll", current + u"DES.dll",
        beside + u"DEU.dll", current + u"DEU.dll"}},
      {"a base language is tried once", program, 0x0407,
       {beside + u"LOC.dll", current + u"LOC.dll", beside + u"DEU.dll", current + u"DEU.dll"}},
      {"a language without a row: the LOC library alone", program, 0x0492,
       {beside + u"LOC.dll", current + u"LOC.dll"}},
      {"the base name ends at the last dot", u"C:\\x\\Kestrin.Props.v2.exe", 0x0409,
       {u"C:\\x\\Kestrin.Props.v2LOC.dll", u".\\Kestrin.Props.v2LOC.dll",
        u"C:\\x\\Kestrin.Props.v2ENU.dll", u".\\Kestrin.Props.v2ENU.dll"}},
      {"a dot in a folder name only", u"C:\\a.b\\KestrinProperties", 0x0411,
       {u"C:\\a.b\\KestrinPropertiesLOC.dll", u".\\KestrinPropertiesLOC.dll",
        u"C:\\a.b\\KestrinPropertiesJPN.dll", u".\\KestrinPropertiesJPN.dll"}},
      {"a name without a folder: the current directory only", u"KestrinProperties.exe", 0x0407,
       {u".\\KestrinPropertiesLOC.dll", u".\\KestrinPropertiesDEU.dll"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.expected, SatelliteCandidates(c.path, c.language));
  }
}

TEST(FirmwareTextTest, MajorDotTwoDigitMinor) {
  EXPECT_EQ(u"3.18", FirmwareText(0x0312));
  EXPECT_EQ(u"1.05", FirmwareText(0x0105));
  EXPECT_EQ(u"2.00", FirmwareText(0x0200));
  EXPECT_EQ(u"255.255", FirmwareText(0xFFFFFFFF)) << "bits above 15 are not shown";
}

}  // namespace
