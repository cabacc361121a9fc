// Windows file times (100 ns ticks since 1601-01-01 UTC) and calendar
// times, as nodes and image dates keep them.
#pragma once
#include <cstdint>

#include "quorvane.h"

// The current time as a file time.
uint64_t QuorvaneI_FileTimeNow();
// False for times the calendar form cannot hold (at or past 2^63 ticks).
bool QuorvaneI_FileTimeToSystemTime(uint64_t fileTime, QV_SYSTEMTIME* systemTime);
// The same after moving the time into the local time zone.
bool QuorvaneI_FileTimeToLocalSystemTime(uint64_t fileTime, QV_SYSTEMTIME* systemTime);
// False for fields out of range (month 13, February 30, year before 1601).
bool QuorvaneI_SystemTimeToFileTime(const QV_SYSTEMTIME& systemTime, uint64_t* fileTime);
