// The agent's entry: the single-instance rule and "-k", the working
// directory, the order in which the pipe client and the manager come up, the
// one event loop that serves both, and the shutdown.
#pragma once
#include <windows.h>

// The exit code of the program.
int AgentMain(HINSTANCE instance, const char* commandLine);

// The running agent's manager window, or null. It is message-only, which
// plain FindWindowA never finds on Windows.
HWND FindManagerWindow();
// 1 when the two characters "-k" appear anywhere in the line (case-sensitive,
// multibyte-aware), else 0.
int CommandLineHasKill(const char* commandLine);
// The working directory: the program-files folder + "\Pellmor Vastine\Kestrin".
void SetInstallDirectory();

// The agent's own reporting wrappers (call ids 15 and 42).
DWORD GetEnvironmentVariableChecked(LPCSTR name, LPSTR buffer, DWORD size);
int SetCurrentDirectoryChecked(LPCSTR path);

// Set by PumpMessages when it takes WM_QUIT.
extern int QuitFlag;
// Returns once the quit flag is set.
void RunEventLoop();
// Empties the thread's message queue; stops at WM_QUIT, leaving what follows.
void PumpMessages();
