#include "agent_requests.h"

#include "Kestrin1.h"
#include "manager_messages.h"

namespace km = kestrin::manager;

HWND AgentWindow() {
  const Kestrin1::KestrinConnectionGlobals& globals = AJLSKDFHEIEMUWPMXURSKDFNB;
  return globals.m_pManagerWindow ? static_cast<HWND>(*globals.m_pManagerWindow) : nullptr;
}

bool PostAgentRequest(uint16_t code, uint32_t value) {
  HWND agent = AgentWindow();
  if (!agent) return false;
  const Kestrin1::KestrinConnectionGlobals& globals = AJLSKDFHEIEMUWPMXURSKDFNB;
  UINT message = globals.m_pMessageId ? *globals.m_pMessageId : 0;
  PostMessageW(agent, message, km::RequestWParam(code), static_cast<LPARAM>(value));
  return true;
}

int PostLogFactors(const uint16_t factors[4]) {
  if (!AgentWindow()) return 0;
  PostAgentRequest(km::SetLogFactorsLow, (uint32_t{factors[1]} << 16) | factors[0]);
  PostAgentRequest(km::SetLogFactorsHigh, (uint32_t{factors[3]} << 16) | factors[2]);
  return 1;
}

void PostSetFlags(int flags) { PostAgentRequest(km::SetFlags, flags ? 1 : 0); }
