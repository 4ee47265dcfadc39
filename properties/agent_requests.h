// The settings requests to the session agent: "KestrinMessage" posted to the
// agent's manager window with the request code in wParam and the value in
// lParam. The window and the message id are read through the interface
// library's connection globals at every post, never kept: an agent that
// starts after the dialog opened (the library then hears ManagerStarted and
// takes its window) gets the next request. With no agent window nothing is
// posted. A post that fails (the agent has gone, its window with it) tells
// the caller, which keeps the change for the next agent.
#pragma once
#include <windows.h>
#include <stdint.h>

// The agent's manager window as the library knows it now, or null.
HWND AgentWindow();
// Posts one request; false when there is no agent window or the post failed.
bool PostAgentRequest(uint16_t code, uint32_t value);
// SetLogFactorsLow with (zoom << 16) | pan, then SetLogFactorsHigh with
// (scroll hat << 16) | spin; the agent acts on the second of the pair. 0 when
// there is no agent window (nothing posted) or a post failed, else 1.
int PostLogFactors(const uint16_t factors[4]);
// SetFlags with 1 when flags is non-zero, else 0; false as PostAgentRequest.
bool PostSetFlags(int flags);
