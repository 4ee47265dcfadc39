#include "system_calls.h"

#include <shellapi.h>
#include <shlobj.h>

AppletSystemCalls AppletSystem = {
    ::SHGetFolderPathA,
    ::MessageBoxA,
    ::ShellExecuteA,
};
