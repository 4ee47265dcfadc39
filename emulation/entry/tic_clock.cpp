#include "tic_clock.h"

#include <windows.h>

uint32_t ReadTicCount() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return TicCountFromFileTimeLow(now.dwLowDateTime);
}
