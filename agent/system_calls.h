// The two system calls behind the agent's focus decisions, reached through
// pointers so that a test can give windows of its own process the processes
// and the foreground of a session with several client programs. Each pointer
// has the shape of the system call it names and returns what that call
// returns, last error included; the program never changes them.
#pragma once
#include <windows.h>

struct AgentSystemCalls {
  HWND(WINAPI* GetForegroundWindow)();
  DWORD(WINAPI* GetWindowThreadProcessId)(HWND window, LPDWORD processId);
};

extern AgentSystemCalls AgentSystem;
