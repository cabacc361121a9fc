// What some drive models need done differently, as one table of flags per
// model (device/drive_quirks.cpp). The drive, the grabber, the write
// strategies and the pipeline read the flags; no algorithm names a drive.
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
  // GET CONFIGURATION cannot be trusted: the disc is taken for a CD-R.
  kQuirkProfileUnknown = 1u << 7,
  // Under Windows 2000, overstates the free blocks of a track by 10240.
  kQuirkFreeBlocksOverstated = 1u << 8,
  // Its capabilities page gives the true DVD speeds except for writing.
  kQuirkCdStyleDvdSpeeds = 1u << 9,
  // The BURN-Proof bit must stay cleared.
  kQuirkBurnProofBroken = 1u << 10,
  // Ejects only after page 05h was set and with an immediate START STOP UNIT.
  kQuirkEjectAfterWriteParameters = 1u << 11,
  // Reports write type 0 for CD media after a DVD recording and must be
  // given track-at-once back.
  kQuirkLosesTrackAtOnce = 1u << 12,
  // Page 01h must not be reset before a grab.
  kQuirkKeepsRecoveryPage = 1u << 13,
  // Takes DCR alone badly: its error correction goes off with 00h instead.
  kQuirkPlainErrorRecovery = 1u << 14,
};

struct QuorvaneI_DriveQuirks {
  uint32_t flags = 0;
  bool Has(QuorvaneI_Quirk quirk) const { return (flags & quirk) != 0; }
};

// The flags of every table row whose vendor and product (none: any
// product of the vendor) the inquiry strings contain.
QuorvaneI_DriveQuirks QuorvaneI_QuirksOf(const char* vendor, const char* product);
QuorvaneI_DriveQuirks QuorvaneI_QuirksOf(const CQuorvane_CdvdDrive& drive);
