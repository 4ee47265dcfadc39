// KestrinSettingsPoster: posts the settings requests of the properties
// program to the agent's manager window, as fast as it can.
//
//   KestrinSettingsPoster.exe pan zoom spin scroll flags [rounds]
//
// Each round posts SetLogFactorsLow, SetLogFactorsHigh and SetFlags; with
// several rounds the values lead up to the given ones (pan and scroll hat
// count up, flags alternate), so the last round posts exactly the values on
// the command line. Exit code 0 when every post went, 1 otherwise.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

#include "manager_messages.h"

using namespace kestrin::manager;

int main(int argc, char** argv) {
  if (argc < 6) {
    fprintf(stderr, "usage: KestrinSettingsPoster pan zoom spin scroll flags [rounds]\n");
    return 2;
  }
  unsigned long v[5];
  for (int i = 0; i < 5; ++i) v[i] = strtoul(argv[1 + i], nullptr, 0);
  const long rounds = argc > 6 ? strtol(argv[6], nullptr, 0) : 1;
  HWND manager = FindWindowExA(HWND_MESSAGE, nullptr, kManagerClass, kManagerTitle);
  if (!manager) {
    fprintf(stderr, "KestrinSettingsPoster: no manager window\n");
    return 1;
  }
  const UINT message = RegisterWindowMessageA(kMessageName);
  bool ok = true;
  for (long r = 1; r <= rounds; ++r) {
    const unsigned long behind = static_cast<unsigned long>(rounds - r);
    const uint32_t pan = static_cast<uint16_t>(v[0] - behind);
    const uint32_t scroll = static_cast<uint16_t>(v[3] - behind);
    const uint32_t flags = (v[4] ^ behind) & 1;
    ok &= PostMessageA(manager, message, RequestWParam(SetLogFactorsLow),
                       static_cast<LPARAM>((v[1] << 16) | pan)) != 0;
    ok &= PostMessageA(manager, message, RequestWParam(SetLogFactorsHigh),
                       static_cast<LPARAM>((scroll << 16) | (v[2] & 0xFFFF))) != 0;
    ok &= PostMessageA(manager, message, RequestWParam(SetFlags), static_cast<LPARAM>(flags)) != 0;
  }
  return ok ? 0 : 1;
}
