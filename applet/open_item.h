// What the applet does when the user opens its Control Panel item.
#pragma once
#include <windows.h>

// Starts the configuration program "Kestrin.exe" from the install folder under
// the program-files folder of this program's architecture (32-bit programs on
// 64-bit Windows get "Program Files (x86)"), with the verb "OPEN", no
// parameters, no working directory (the program inherits the caller's current
// folder) and SW_SHOW. A program-files folder that cannot be found gives the
// one box the applet ever shows; a path that does not fit in MAX_PATH starts
// nothing and shows nothing. A program that is missing or fails is not
// reported. Returns 0 in every case, the answer to CPL_DBLCLK.
LONG OpenConfigurationProgram();

extern const char kFolderMissingText[];  // "Could not locate ProgramFiles folder!"
extern const char kAppletCaption[];      // "Kestrin"
