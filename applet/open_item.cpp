#include "open_item.h"

#include <shlobj.h>

#include "program_path.h"
#include "system_calls.h"

const char kFolderMissingText[] = "Could not locate ProgramFiles folder!";
const char kAppletCaption[] = "Kestrin";

static_assert(kProgramPathCapacity == MAX_PATH, "the program path is a MAX_PATH buffer");

LONG OpenConfigurationProgram() {
  char path[MAX_PATH] = {};
  if (FAILED(AppletSystem.SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES, nullptr,
                                           SHGFP_TYPE_CURRENT, path))) {
    AppletSystem.MessageBoxA(nullptr, kFolderMissingText, kAppletCaption, MB_OK);
    return 0;
  }
  if (!AppendProgramTail(path, sizeof path)) {
    // Nothing for the user to act on, as with a missing program; the
    // debugger output says why nothing started.
    OutputDebugStringA("[Kestrin] the path of Kestrin.exe does not fit in 260 characters;"
                       " nothing started\n");
    return 0;
  }
  // The result is not examined: a missing program gives the user nothing.
  AppletSystem.ShellExecuteA(nullptr, "OPEN", path, nullptr, nullptr, SW_SHOW);
  return 0;
}
