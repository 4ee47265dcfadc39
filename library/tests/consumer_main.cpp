// A client program built from the installed public header and import library
// alone: it connects (no agent can start from here), reads, and exits.
#include <stdio.h>
#include <windows.h>

#include "Kestrin1.h"

int main() {
  SetEnvironmentVariableA("ProgramFiles", "Z:\\nonexistent-kestrin1");
  Kestrin1::CKestrin kestrin;
  Kestrin1::ABallMotion motion;
  int got = KesGetBallMotion(&kestrin, &motion);
  Kestrin1::CKestrin::Register(nullptr, GetCurrentProcessId());
  Kestrin1::CKestrin::UnRegister(0);
  printf("consumer: read %d, tics %u, refresh period %.4f, message id %s\n", got, motion.tics,
         Kestrin1::CKestrin::m_MonitorRefreshPeriod,
         *AJLSKDFHEIEMUWPMXURSKDFNB.m_pMessageId ? "set" : "missing");
  return got == 0 && *AJLSKDFHEIEMUWPMXURSKDFNB.m_pMessageId ? 0 : 1;
}
