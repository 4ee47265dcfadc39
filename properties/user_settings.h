// The user's settings where the session agent keeps them (settings_keys.h):
// "LogFactors" (8 bytes: pan, zoom, spin, scroll hat) and "Flags" (the
// vertical-axis convention). The agent sends them to the service whenever it
// connects, so they are what the service applies once the agent is there.
// The dialog reads them where the section cannot tell (not mapped yet, or the
// agent's values not landed in it); it never writes them.
#pragma once
#include <windows.h>
#include <stdint.h>

#include "settings_keys.h"

// Each setting as the agent reads it, and so as it will be in force: the
// stored bytes (the type is not looked at; a shorter "LogFactors" fills only
// its own bytes, the rest are 0, and "Flags" counts by its low 16 bits), or
// the default (0x8000 each, Flags 0) wherever a value cannot be read: the
// key or the value missing, the key refused, a value longer than its
// setting. The agent sends the defaults then.
struct UserSettings {
  uint16_t m_Flags;
  uint16_t m_LogFactors[4];
};

UserSettings ReadUserSettings();
