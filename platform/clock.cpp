#include "platform/clock.h"

namespace qv::plat {

Clock& SystemClockInstance();  // one per OS, in the OS folder

namespace {
std::atomic<Clock*> g_clock{nullptr};
}

Clock& GetClock() {
  Clock* c = g_clock.load(std::memory_order_acquire);
  return c ? *c : SystemClockInstance();
}

Clock* SetClock(Clock* clock) { return g_clock.exchange(clock, std::memory_order_acq_rel); }

}  // namespace qv::plat
