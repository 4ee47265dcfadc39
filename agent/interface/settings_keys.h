// Where the user's settings are kept: HKCU "Software\Pellmor Vastine\Kestrin\2.10",
// "LogFactors" (REG_QWORD: four u16 speed factors, pan, zoom, spin, scroll
// hat) and "Flags" (REG_DWORD: the vertical-axis convention in bit 0). The
// agent reads and writes them; the properties dialog reads them where the
// motion section cannot tell.
#pragma once

constexpr char kSettingsKey[] = "Software\\Pellmor Vastine\\Kestrin\\2.10";
constexpr char kLogFactorsValue[] = "LogFactors";
constexpr char kFlagsValue[] = "Flags";
