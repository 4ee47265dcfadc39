// The user's settings under HKCU "Software\Pellmor Vastine\Kestrin\2.10":
// "LogFactors" (REG_QWORD: four u16 speed factors, pan, zoom, spin, scroll
// hat) and "Flags" (REG_DWORD: the vertical-axis convention in bit 0).
#pragma once
#include <stdint.h>

constexpr char kSettingsKey[] = "Software\\Pellmor Vastine\\Kestrin\\2.10";
constexpr char kLogFactorsValue[] = "LogFactors";
constexpr char kFlagsValue[] = "Flags";
constexpr uint16_t kDefaultLogFactor = 0x8000;

// 1 when read, else 0 (and out untouched).
int LoadLogFactors(uint16_t out[4]);
int LoadFlags(uint16_t* out);
// 1 when stored, else 0.
int SaveLogFactors(const uint16_t factors[4]);
int SaveFlags(uint16_t flags);
// Sends, then stores, whether or not the message could be sent.
void ApplyLogFactors(uint16_t device, const uint16_t factors[4]);
void ApplyFlags(uint16_t device, uint16_t flags);
// The stored values, else the defaults (four 0x8000, Flags 0).
void LoadLogFactorsOrDefault(uint16_t out[4]);
uint16_t LoadFlagsOrDefault();
