// Time for the engine: a monotonic millisecond clock with sleep, and the
// wall clock with the local time-zone offset. Tests install a virtual clock,
// so multi-second pauses and long retry budgets run instantly.
#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>

namespace qv::plat {

class Clock {
 public:
  virtual ~Clock() = default;
  // Monotonic time in milliseconds.
  virtual uint64_t NowMs() = 0;
  virtual void SleepMs(uint32_t milliseconds) = 0;
  // Wall clock, seconds since 1970-01-01 UTC.
  virtual int64_t UtcSeconds() = 0;
  // Offset of local time from UTC at the given instant, in minutes east.
  virtual int32_t UtcOffsetMinutes(int64_t utcSeconds) = 0;
};

// The clock in force; the system clock unless a test installed another.
Clock& GetClock();
// Installs a clock (nullptr restores the system clock); returns the old one.
Clock* SetClock(Clock* clock);

// Convenience wrappers over GetClock().
inline uint64_t NowMs() { return GetClock().NowMs(); }
inline void SleepMs(uint32_t ms) { GetClock().SleepMs(ms); }

// A clock whose time moves only when someone sleeps or advances it.
// Thread-safe: sleeping threads advance the shared time.
class VirtualClock final : public Clock {
 public:
  explicit VirtualClock(int64_t utcSeconds = 1136073600 /* 2006-01-01 */, int32_t offsetMinutes = 0)
      : utc_base_(utcSeconds), offset_minutes_(offsetMinutes) {}
  uint64_t NowMs() override { return now_ms_.load(); }
  void SleepMs(uint32_t ms) override {
    now_ms_ += ms;
    sleeps_++;
  }
  int64_t UtcSeconds() override { return utc_base_ + static_cast<int64_t>(now_ms_.load() / 1000); }
  int32_t UtcOffsetMinutes(int64_t) override { return offset_minutes_; }

  void Advance(uint64_t ms) { now_ms_ += ms; }
  uint64_t SleepCount() const { return sleeps_.load(); }
  void SetUtc(int64_t utcSeconds, int32_t offsetMinutes) {
    utc_base_ = utcSeconds - static_cast<int64_t>(now_ms_.load() / 1000);
    offset_minutes_ = offsetMinutes;
  }

 private:
  std::atomic<uint64_t> now_ms_{0};
  std::atomic<uint64_t> sleeps_{0};
  std::atomic<int64_t> utc_base_;
  std::atomic<int32_t> offset_minutes_;
};

// Installs a clock for the lifetime of a scope.
class ScopedClock {
 public:
  explicit ScopedClock(Clock* clock) : previous_(SetClock(clock)) {}
  ~ScopedClock() { SetClock(previous_); }
  ScopedClock(const ScopedClock&) = delete;
  ScopedClock& operator=(const ScopedClock&) = delete;

 private:
  Clock* previous_;
};

}  // namespace qv::plat
