#include "files/file_time.h"

#include <algorithm>

#include "platform/clock.h"
#include "platform/filesystem.h"

namespace {

constexpr uint64_t kTicksPerSecond = 10000000;
constexpr uint64_t kTicksPerDay = kTicksPerSecond * 86400;
constexpr int64_t kSecondsFrom1601To1970 = 11644473600;

bool IsLeap(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int64_t year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

// Days since 1601-01-01 of a date in the proleptic Gregorian calendar.
// 1601 starts a 400-year cycle, so whole cycles and centuries fall out
// before the remaining years are counted.
int64_t DaysFrom1601(int64_t year, int month, int day) {
  const int64_t y = year - 1601;
  int64_t days = y * 365 + y / 4 - y / 100 + y / 400;
  for (int m = 1; m < month; ++m) days += DaysInMonth(year, m);
  return days + day - 1;
}

}  // namespace

uint64_t QuorvaneI_FileTimeNow() {
  return qv::plat::FileTimeFromUnix(qv::plat::GetClock().UtcSeconds(), 0);
}

bool QuorvaneI_FileTimeToSystemTime(uint64_t fileTime, QV_SYSTEMTIME* st) {
  if (fileTime >= (uint64_t{1} << 63)) return false;
  int64_t days = static_cast<int64_t>(fileTime / kTicksPerDay);
  uint64_t rest = fileTime % kTicksPerDay;
  // 1601-01-01 was a Monday.
  const auto dayOfWeek = static_cast<uint16_t>((days + 1) % 7);
  // Counted from 1601, a 400-year cycle is four centuries of 36524 days
  // with one more in the last, and a century is 4-year groups of 1461 days
  // with one fewer in the last; the leap day always ends a group.
  int64_t year = 1601 + 400 * (days / 146097);
  days %= 146097;
  const int64_t centuries = std::min<int64_t>(days / 36524, 3);
  days -= centuries * 36524;
  const int64_t groups = std::min<int64_t>(days / 1461, 24);
  days -= groups * 1461;
  const int64_t years = std::min<int64_t>(days / 365, 3);
  days -= years * 365;
  year += centuries * 100 + groups * 4 + years;
  int month = 1;
  while (days >= DaysInMonth(year, month)) days -= DaysInMonth(year, month++);
  st->wYear = static_cast<uint16_t>(year);
  st->wMonth = static_cast<uint16_t>(month);
  st->wDayOfWeek = dayOfWeek;
  st->wDay = static_cast<uint16_t>(days + 1);
  st->wHour = static_cast<uint16_t>(rest / (3600 * kTicksPerSecond));
  rest %= 3600 * kTicksPerSecond;
  st->wMinute = static_cast<uint16_t>(rest / (60 * kTicksPerSecond));
  rest %= 60 * kTicksPerSecond;
  st->wSecond = static_cast<uint16_t>(rest / kTicksPerSecond);
  st->wMilliseconds = static_cast<uint16_t>(rest % kTicksPerSecond / 10000);
  return true;
}

bool QuorvaneI_FileTimeToLocalSystemTime(uint64_t fileTime, QV_SYSTEMTIME* st) {
  if (fileTime >= (uint64_t{1} << 63)) return false;
  const int64_t utcSeconds = static_cast<int64_t>(fileTime / kTicksPerSecond) - kSecondsFrom1601To1970;
  const int64_t shift = static_cast<int64_t>(qv::plat::GetClock().UtcOffsetMinutes(utcSeconds)) * 60 *
                        static_cast<int64_t>(kTicksPerSecond);
  const int64_t local = static_cast<int64_t>(fileTime) + shift;
  if (local < 0) return false;
  return QuorvaneI_FileTimeToSystemTime(static_cast<uint64_t>(local), st);
}

bool QuorvaneI_SystemTimeToFileTime(const QV_SYSTEMTIME& st, uint64_t* fileTime) {
  if (st.wYear < 1601 || st.wYear > 30827 || st.wMonth < 1 || st.wMonth > 12 || st.wDay < 1 ||
      st.wDay > DaysInMonth(st.wYear, st.wMonth) || st.wHour > 23 || st.wMinute > 59 || st.wSecond > 59 ||
      st.wMilliseconds > 999)
    return false;
  const int64_t days = DaysFrom1601(st.wYear, st.wMonth, st.wDay);
  *fileTime = static_cast<uint64_t>(days) * kTicksPerDay +
              ((st.wHour * 60u + st.wMinute) * 60u + st.wSecond) * kTicksPerSecond + st.wMilliseconds * 10000u;
  return true;
}
