#include "timer_arming.h"

int TimerPass(TimerWords* words, uint16_t now, uint16_t* waitTics, uint16_t* count) {
  *waitTics = kTimerIdleWaitTics;
  uint32_t arming = words->arming.load(std::memory_order_acquire);
  for (;;) {
    const uint16_t duration = DurationOf(arming);
    if (!(duration & 1)) return 0;
    const uint16_t elapsed = static_cast<uint16_t>(now - StartOf(arming));
    if (elapsed < duration) {
      *waitTics = static_cast<uint16_t>(duration - elapsed);
      return 0;
    }
    // Disarm exactly the arming measured; a re-arming that came in between
    // is measured again instead.
    if (words->arming.compare_exchange_weak(arming, arming & 0xFFFF0000u,
                                            std::memory_order_acq_rel,
                                            std::memory_order_acquire))
      break;
  }
  // Only the worker writes the count.
  const uint16_t next = static_cast<uint16_t>(words->expiryCount.load(std::memory_order_relaxed) + 1);
  words->expiryCount.store(next, std::memory_order_release);
  *count = next;
  return 1;
}
