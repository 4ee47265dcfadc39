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
  return PostMessageW(agent, message, km::RequestWParam(code), static_cast<LPARAM>(value)) != 0;
}

int PostLogFactors(const uint16_t factors[4]) {
  if (!AgentWindow()) return 0;
  bool low = PostAgentRequest(km::SetLogFactorsLow, (uint32_t{factors[1]} << 16) | factors[0]);
  bool high = PostAgentRequest(km::SetLogFactorsHigh, (uint32_t{factors[3]} << 16) | factors[2]);
  return low && high ? 1 : 0;
}

bool PostSetFlags(int flags) { return PostAgentRequest(km::SetFlags, flags ? 1 : 0); }
