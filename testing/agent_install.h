// The session agent KestrinElf.exe installed for a test: the interface
// library starts it from the program-files folder followed by
// "\Pellmor Vastine\Kestrin\KestrinElf.exe", and a 32-bit and a 64-bit client look in
// different program-files folders ("C:\Program Files (x86)" and
// "C:\Program Files" on a 64-bit system), so the one built agent is copied to
// every folder that exists. One agent runs per session and serves clients of
// both architectures.
//
// A test installs it once (InstallAgent), starts it as the library would
// (StartAgent) or lets the library start it, and stops it at teardown
// (StopAgent), which also ends an agent that ignores "-k".
#pragma once
#include <windows.h>

#include <string>
#include <vector>

// "C:\...\Pellmor Vastine\Kestrin\KestrinElf.exe" for every program-files
// folder of the system (the calling program's own first), without repeats.
std::vector<std::string> AgentInstallPaths();
// The path a client of the calling program's architecture starts.
std::string InstalledAgentPath();

// Stops a running agent, then copies builtExe (a Unix or Windows path) to
// every path of AgentInstallPaths(), making the folders. True when every copy
// was made. When the calling program ends, the agent is stopped and the
// copies are removed again.
bool InstallAgent(const std::string& builtExe);

// The running agent's message-only manager window "KestrinManager", or null.
HWND FindAgentWindow();
// The process that owns the manager window, 0 when none runs.
DWORD RunningAgentProcess();

// Starts the installed agent with an empty command line, as the library does,
// and waits until its manager window exists. Its process id, 0 on failure.
DWORD StartAgent(DWORD timeoutMs = 10000);

// Asks the running agent to quit with "KestrinElf.exe -k" and waits until its
// process has ended; terminates it when it has not gone within timeoutMs.
// True when no agent runs afterwards. A manager window of the calling
// process (a test's stand-in) is left alone.
bool StopAgent(DWORD timeoutMs = 10000);
