#include "system_calls.h"

AgentSystemCalls AgentSystem = {::GetForegroundWindow, ::GetWindowThreadProcessId};
