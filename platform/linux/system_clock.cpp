#include <time.h>

#include <cerrno>

#include "platform/clock.h"

namespace qv::plat {
namespace {

class LinuxClock final : public Clock {
 public:
  uint64_t NowMs() override {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  }
  void SleepMs(uint32_t ms) override {
    timespec req{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&req, &req) != 0 && errno == EINTR) {
    }
  }
  int64_t UtcSeconds() override { return static_cast<int64_t>(time(nullptr)); }
  int32_t UtcOffsetMinutes(int64_t utcSeconds) override {
    time_t t = static_cast<time_t>(utcSeconds);
    struct tm local {};
    localtime_r(&t, &local);
    return static_cast<int32_t>(local.tm_gmtoff / 60);
  }
};

}  // namespace

Clock& SystemClockInstance() {
  static LinuxClock clock;
  return clock;
}

}  // namespace qv::plat
