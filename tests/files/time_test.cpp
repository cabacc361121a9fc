// File times and calendar times. The tick counts were worked out apart from
// this code (days between the dates, times 864000000000).
#include "files/file_time.h"
#include "platform/filesystem.h"
#include "support/test_support.h"

namespace {

struct Known {
  uint64_t ticks;
  QV_SYSTEMTIME time;  // year, month, weekday, day, hour, minute, second, ms
};

// The day-by-day walk below covers the calendar from 1601 on; these pin
// the epoch, the time of day and the far end.
const Known kKnown[] = {
    {0, {1601, 1, 1, 1, 0, 0, 0, 0}},
    {125963423999990000, {2000, 2, 2, 29, 23, 59, 59, 999}},
    {2650467743990000000, {9999, 12, 5, 31, 23, 59, 59, 0}},
    {0x7FFFFFFFFFFFFFFF, {30828, 9, 4, 14, 2, 48, 5, 477}},
};

bool Same(const QV_SYSTEMTIME& a, const QV_SYSTEMTIME& b) {
  return a.wYear == b.wYear && a.wMonth == b.wMonth && a.wDayOfWeek == b.wDayOfWeek && a.wDay == b.wDay &&
         a.wHour == b.wHour && a.wMinute == b.wMinute && a.wSecond == b.wSecond && a.wMilliseconds == b.wMilliseconds;
}

TEST(FileTime, ConvertsBothWaysAtKnownInstants) {
  for (const auto& k : kKnown) {
    QV_SYSTEMTIME st{};
    ASSERT_TRUE(QuorvaneI_FileTimeToSystemTime(k.ticks, &st)) << k.ticks;
    EXPECT_TRUE(Same(st, k.time)) << k.ticks;
    uint64_t back = 0;
    if (k.time.wYear <= 30827) {
      ASSERT_TRUE(QuorvaneI_SystemTimeToFileTime(k.time, &back));
      EXPECT_EQ(back, k.ticks - k.ticks % 10000) << "back to ticks, to the millisecond";
    }
  }
  QV_SYSTEMTIME st{};
  EXPECT_FALSE(QuorvaneI_FileTimeToSystemTime(0x8000000000000000ull, &st));
}

TEST(FileTime, EveryDayOfFourCenturiesRoundTrips) {
  // Walks day by day from 1601 to 2401, so every leap rule is crossed.
  uint64_t ticks = 0;
  const uint64_t day = 864000000000ull;
  QV_SYSTEMTIME previous{};
  for (int i = 0; i < 146097 * 2 + 5; ++i, ticks += day) {
    QV_SYSTEMTIME st{};
    ASSERT_TRUE(QuorvaneI_FileTimeToSystemTime(ticks, &st));
    uint64_t back = 0;
    ASSERT_TRUE(QuorvaneI_SystemTimeToFileTime(st, &back));
    ASSERT_EQ(back, ticks) << st.wYear << "-" << st.wMonth << "-" << st.wDay;
    if (i > 0) {
      ASSERT_EQ(st.wDayOfWeek, (previous.wDayOfWeek + 1) % 7);
      const bool nextDay = st.wDay == previous.wDay + 1 && st.wMonth == previous.wMonth;
      const bool nextMonth = st.wDay == 1 && (st.wMonth == previous.wMonth + 1 || (st.wMonth == 1 && previous.wMonth == 12));
      ASSERT_TRUE(nextDay || nextMonth) << st.wYear << "-" << st.wMonth << "-" << st.wDay;
    }
    previous = st;
  }
}

TEST(FileTime, RejectsImpossibleCalendarTimes) {
  const QV_SYSTEMTIME bad[] = {
      {1900, 2, 0, 29, 0, 0, 0, 0}, {2001, 2, 0, 29, 0, 0, 0, 0}, {2000, 13, 0, 1, 0, 0, 0, 0},
      {2000, 4, 0, 31, 0, 0, 0, 0}, {2000, 1, 0, 0, 0, 0, 0, 0},  {1600, 12, 0, 31, 0, 0, 0, 0},
      {2000, 1, 0, 1, 24, 0, 0, 0}, {2000, 1, 0, 1, 0, 60, 0, 0}, {2000, 1, 0, 1, 0, 0, 0, 1000},
  };
  for (const auto& st : bad) {
    uint64_t ticks = 1;
    EXPECT_FALSE(QuorvaneI_SystemTimeToFileTime(st, &ticks)) << st.wYear << "-" << st.wMonth << "-" << st.wDay;
  }
}

TEST(FileTime, LocalTimeFollowsTheClocksZone) {
  qvtest::VirtualTime time;
  time.clock().SetUtc(1151670896, 120);  // 2006-06-30 12:34:56 UTC, two hours east
  QV_SYSTEMTIME st{};
  ASSERT_TRUE(QuorvaneI_FileTimeToLocalSystemTime(127961444960000000, &st));
  EXPECT_EQ(st.wHour, 14);
  EXPECT_EQ(QuorvaneI_FileTimeNow(), 127961444960000000ull);
  time.clock().SetUtc(1151670896, -780);  // thirteen hours west: the day before
  ASSERT_TRUE(QuorvaneI_FileTimeToLocalSystemTime(127961444960000000, &st));
  EXPECT_EQ(st.wDay, 29);
  EXPECT_EQ(st.wHour, 23);
  EXPECT_FALSE(QuorvaneI_FileTimeToLocalSystemTime(0, &st)) << "west of 1601-01-01 00:00 UTC there is nothing";
  EXPECT_EQ(qv::plat::FileTimeFromUnix(0, 999), 116444736000000009ull);
  EXPECT_EQ(qv::plat::FileTimeFromUnix(-11644473601, 0), 0u);
}

}  // namespace
