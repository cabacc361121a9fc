// What some drive models need done differently when they record, as one
// table of flags per model (record/drive_quirks.cpp). The write strategies
// and the pipeline read the flags; no algorithm names a drive.
#pragma once
#include <cstdint>

class CQuorvane_CdvdDrive;

enum QuorvaneI_Quirk : uint32_t {
  // DVD recordings must stay open for another session.
  kQuirkForcedMultisession = 1u << 0,
  // Reports a stale invisible track for Mode 2 Form 2 until stopped and
  // asked again.
  kQuirkStaleTrackState = 1u << 1,
  // Closes the session only without Immed.
  kQuirkSynchronousClose = 1u << 2,
  // The same, on CD-R only.
  kQuirkSynchronousCloseOnCdR = 1u << 3,
  // Refuses the close of a DVD+R session now and then; takes it when asked again.
  kQuirkCloseRetried = 1u << 4,
  // SYNCHRONIZE CACHE must run without Immed and be left alone for a while.
  kQuirkSlowSynchronizeCache = 1u << 5,
  // Answers READ DISC INFORMATION before the flush is done.
  kQuirkEarlyDiscInformation = 1u << 6,
};

struct QuorvaneI_DriveQuirks {
  uint32_t flags = 0;
  bool Has(QuorvaneI_Quirk quirk) const { return (flags & quirk) != 0; }
};

// The flags of every table row whose vendor and product the drive's
// inquiry strings contain.
QuorvaneI_DriveQuirks QuorvaneI_QuirksOf(const CQuorvane_CdvdDrive& drive);
