// The flat data of Kestrin1.dll, for callers that cannot use class members.
#pragma once

#include "kestrin1_api.h"

// 0 at all times; the display's period is CKestrin::m_MonitorRefreshPeriod.
KESTRIN1_FLAT float KesMonitorRefreshPeriod;
// The length of a tic in seconds, 0.0002048, as CKestrin::SecondsPerTic
// returns it.
KESTRIN1_FLAT const float KesSecondsPerTic;
