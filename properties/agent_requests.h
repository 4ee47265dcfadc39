// The settings requests to the session agent: "KestrinMessage" posted to the
// agent's manager window with the request code in wParam and the value in
// lParam. The window and the message id are read through the interface
// library's connection globals at every post, never kept: an agent that
// starts after the dialog opened (the library then hears ManagerStarted and
// takes its window) gets the next request. With no agent window nothing is
// posted. The results of PostMessageW are not checked: a request that does
// not arrive changes nothing the dialog relies on.
#pragma once
#include <windows.h>
#include <stdint.h>

// The agent's manager window as the library knows it now, or null.
HWND AgentWindow();
// Posts one request; false when there is no agent window.
bool PostAgentRequest(uint16_t code, uint32_t value);
// SetLogFactorsLow with (zoom << 16) | pan, then SetLogFactorsHigh with
// (scroll hat << 16) | spin; the agent acts on the second of the pair. 0 when
// there is no agent window (nothing posted), else 1.
int PostLogFactors(const uint16_t factors[4]);
// SetFlags with 1 when flags is non-zero, else 0.
void PostSetFlags(int flags);
