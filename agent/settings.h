// The user's settings, loaded and stored where settings_keys.h says.
#pragma once
#include <stdint.h>

#include "settings_keys.h"

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
