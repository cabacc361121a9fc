#include "record/drive_quirks.h"

#include "device/drive.h"

namespace {

struct QuirkRow {
  QuorvaneI_DriveMatch model;
  uint32_t flags;
};

constexpr QuirkRow kQuirks[] = {
    {{"PHILIPS", "DVD8701"}, kQuirkForcedMultisession},
    {{"HP", "DVD Writer 640v"}, kQuirkForcedMultisession},
    {{"SAMSUNG", "CD-R/RW SW-240B"}, kQuirkStaleTrackState},
    {{"HP", "9100"}, kQuirkSynchronousClose},
    {{"QSI", "CDRW/DVD"}, kQuirkSynchronousCloseOnCdR | kQuirkSlowSynchronizeCache},
    {{"PIONEER", "DVR-110D"}, kQuirkCloseRetried},
    {{"PIONEER", "DVR-111D"}, kQuirkCloseRetried},
    {{"TEAC", "56S"}, kQuirkSlowSynchronizeCache},
    {{"MITSUMI", "4802"}, kQuirkSlowSynchronizeCache},
    {{"Memorex", "Twelve MAXX"}, kQuirkSlowSynchronizeCache},
    {{"GENERIC", "CRD-BP4"}, kQuirkSlowSynchronizeCache},
    {{"SAMSUNG", "CDRW/DVD SM-348B"}, kQuirkSlowSynchronizeCache},
    {{"PHILIPS", "CDD5301"}, kQuirkEarlyDiscInformation},
    {{"HL-DT-ST", "GCE-8160B"}, kQuirkEarlyDiscInformation},
};

}  // namespace

QuorvaneI_DriveQuirks QuorvaneI_QuirksOf(const CQuorvane_CdvdDrive& drive) {
  QuorvaneI_DriveQuirks quirks;
  for (const QuirkRow& row : kQuirks)
    if (drive.IsDrive(&row.model, 1)) quirks.flags |= row.flags;
  return quirks;
}
