#include <windows.h>

#include "platform/clock.h"

namespace qv::plat {
namespace {

// FILETIME counts 100 ns units from 1601-01-01; this is 1970-01-01.
constexpr int64_t kUnixEpochInFileTime = 116444736000000000LL;
constexpr int64_t kFileTimeUnitsPerSecond = 10000000LL;

int64_t FileTimeToInt(const FILETIME& ft) {
  return (static_cast<int64_t>(ft.dwHighDateTime) << 32) | static_cast<int64_t>(ft.dwLowDateTime);
}

FILETIME IntToFileTime(int64_t v) {
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(v & 0xFFFFFFFF);
  ft.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(v) >> 32);
  return ft;
}

class WindowsClock final : public Clock {
 public:
  // The performance counter, not the tick count: ticks move in steps of
  // up to 16 ms, and a sleep of n ms must show as n ms passed.
  uint64_t NowMs() override {
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    const uint64_t c = static_cast<uint64_t>(count.QuadPart), f = static_cast<uint64_t>(frequency.QuadPart);
    return c / f * 1000u + c % f * 1000u / f;
  }
  void SleepMs(uint32_t ms) override { Sleep(ms); }
  int64_t UtcSeconds() override {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    return (FileTimeToInt(ft) - kUnixEpochInFileTime) / kFileTimeUnitsPerSecond;
  }
  // The offset in force at that instant, daylight saving included, by the
  // system's time-zone rules.
  int32_t UtcOffsetMinutes(int64_t utcSeconds) override {
    const int64_t utc = utcSeconds * kFileTimeUnitsPerSecond + kUnixEpochInFileTime;
    const FILETIME utcFt = IntToFileTime(utc);
    SYSTEMTIME utcSt, localSt;
    FILETIME localFt;
    if (!FileTimeToSystemTime(&utcFt, &utcSt) || !SystemTimeToTzSpecificLocalTime(nullptr, &utcSt, &localSt) ||
        !SystemTimeToFileTime(&localSt, &localFt))
      return 0;
    return static_cast<int32_t>((FileTimeToInt(localFt) - utc) / (60 * kFileTimeUnitsPerSecond));
  }
};

}  // namespace

Clock& SystemClockInstance() {
  static WindowsClock clock;
  return clock;
}

}  // namespace qv::plat
