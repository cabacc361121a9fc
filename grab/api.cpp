// The C entry points of reading and grabbing.
#include <cstring>

#include "core/log.h"
#include "core/status.h"
#include "device/api_checks.h"
#include "grab/grabber.h"

namespace {

// The object a handle names. Every handle is a burner-grabber, which reads.
CQuorvane_CdvdGrabber& GrabberOf(const char* entryPoint, QV_HANDLE handle) {
  return static_cast<CQuorvane_CdvdGrabber&>(QuorvaneI_DriveOf(entryPoint, handle));
}

// A grab: a disc just loaded is waited for first.
template <class Body>
QV_ULONG OnGrab(const char* entryPoint, QV_HANDLE handle, char* text, QV_ULONG textSize, QV_ULONG* systemError,
                CDB_FAILURE_INFORMATION* failure, Body&& body) {
  return QuorvaneI_Call(entryPoint, text, textSize, systemError, failure, [&] {
    CQuorvane_CdvdGrabber& g = GrabberOf(entryPoint, handle);
    g.WaitForSpinUp();
    body(g);
  });
}

// A sector read: its number becomes the result, with the read's failure
// text and the failed command in the status record.
template <class Read>
QV_ULONG OnRead(const char* entryPoint, QV_HANDLE handle, char* text, QV_ULONG textSize, QV_ULONG* systemError,
                CDB_FAILURE_INFORMATION* failure, const void* buffer, Read&& read) {
  CQuorvane_CdvdGrabber* grabber = nullptr;
  const QV_ULONG status = QuorvaneI_Call(entryPoint, text, textSize, systemError, failure, [&] {
    grabber = &GrabberOf(entryPoint, handle);
    QuorvaneI_Require(entryPoint, buffer, "buffer");
    if (const uint32_t n = read(*grabber); n != EN_SUCCESS)
      QuorvaneI_Throw(entryPoint, n, 0, "%s", grabber->LastReadFailureText());
  });
  if (status != EN_SUCCESS && grabber != nullptr && failure != nullptr && !failure->m__UCHAR__IsValid)
    *failure = grabber->LastReadFailure();
  return status;
}

CQuorvane_CdvdGrabber::TrackPlace Place(QV_LONG trackStart, QV_UCHAR trackNumber, QV_ULONG trackType) {
  CQuorvane_CdvdGrabber::TrackPlace place;
  place.start = trackStart;
  place.number = trackNumber;
  place.type = trackType >= QVX_READ_TRACK_AUDIO && trackType <= QVX_READ_TRACK_MODE2_FORM2 ? trackType
                                                                                             : QV_ULONG{QVX_READ_TRACK_AUDIO};
  return place;
}

CQuorvane_CdvdGrabber::GrabPolicy Policy(QV_LONG maxRetries, QV_BOOLEAN ignoreBadBlocks, QV_BOOLEAN forceSingle,
                                         QV_ULONG progressInterval) {
  CQuorvane_CdvdGrabber::GrabPolicy policy;
  policy.maxRetries = maxRetries < 0 ? 0 : maxRetries;
  policy.ignoreBadBlocks = ignoreBadBlocks != 0;
  policy.forceSingle = forceSingle != 0;
  policy.progressInterval = progressInterval;
  return policy;
}

}  // namespace

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_GrabTrack(
    QV_HANDLE handle, char* text, QV_ULONG textSize, QV_ULONG* systemError, CDB_FAILURE_INFORMATION* failure,
    QV_UCHAR track, const char* fileName, QV_LONG maxRetries, QV_BOOLEAN ignoreBadBlocks, QV_BOOLEAN forceSingle,
    QV_ULONG progressInterval) {
  constexpr const char* kEntry = "Quorvane_CdvdBurnerGrabber_GrabTrack";
  return OnGrab(kEntry, handle, text, textSize, systemError, failure, [&](CQuorvane_CdvdGrabber& g) {
    QuorvaneI_Require(kEntry, fileName, "fileName");
    g.GrabTrack(track, fileName, Policy(maxRetries, ignoreBadBlocks, forceSingle, progressInterval));
  });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_GrabRange(
    QV_HANDLE handle, char* text, QV_ULONG textSize, QV_ULONG* systemError, CDB_FAILURE_INFORMATION* failure,
    QV_LONG firstLBA, QV_LONG lastLBA, const char* fileName, QV_LONG maxRetries, QV_BOOLEAN ignoreBadBlocks,
    QV_BOOLEAN forceSingle, QV_ULONG progressInterval) {
  constexpr const char* kEntry = "Quorvane_CdvdBurnerGrabber_GrabRange";
  return OnGrab(kEntry, handle, text, textSize, systemError, failure, [&](CQuorvane_CdvdGrabber& g) {
    QuorvaneI_Require(kEntry, fileName, "fileName");
    g.GrabRange(firstLBA, lastLBA, fileName, Policy(maxRetries, ignoreBadBlocks, forceSingle, progressInterval));
  });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_GrabDisc(
    QV_HANDLE handle, char* text, QV_ULONG textSize, QV_ULONG* systemError, CDB_FAILURE_INFORMATION* failure,
    const char* baseName, QV_ULONG readMode, QV_LONG maxRetries, QV_BOOLEAN ignoreBadBlocks, QV_BOOLEAN forceSingle,
    QV_ULONG progressInterval, QV_BOOLEAN keepDriveRecovery) {
  constexpr const char* kEntry = "Quorvane_CdvdBurnerGrabber_GrabDisc";
  return OnGrab(kEntry, handle, text, textSize, systemError, failure, [&](CQuorvane_CdvdGrabber& g) {
    QuorvaneI_Require(kEntry, baseName, "baseName");
    g.GrabDisc(baseName, static_cast<int>(readMode), Policy(maxRetries, ignoreBadBlocks, forceSingle, progressInterval),
               keepDriveRecovery != 0);
  });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_GrabDVD(
    QV_HANDLE handle, char* text, QV_ULONG textSize, QV_ULONG* systemError, CDB_FAILURE_INFORMATION* failure,
    const char* baseName, QV_ULONG splitSizeMB, QV_LONG maxRetries, QV_BOOLEAN ignoreBadBlocks, QV_BOOLEAN forceSingle,
    QV_ULONG progressInterval) {
  constexpr const char* kEntry = "Quorvane_CdvdBurnerGrabber_GrabDVD";
  // Parts below this size make too many files for too little.
  constexpr QV_ULONG kMinimumSplitMB = 200;
  return OnGrab(kEntry, handle, text, textSize, systemError, failure, [&](CQuorvane_CdvdGrabber& g) {
    QuorvaneI_Require(kEntry, baseName, "baseName");
    if (splitSizeMB < kMinimumSplitMB) {
      QuorvaneI_Log("\nQuorvane:Quorvane_CdvdBurnerGrabber_GrabDVD(): Split file size in MBs ( %d ) is less then minimum "
                    "allowed ( %d ), updating...\n",
                    static_cast<int>(splitSizeMB), static_cast<int>(kMinimumSplitMB));
      splitSizeMB = kMinimumSplitMB;
    }
    g.GrabDiscSplit(baseName, splitSizeMB, Policy(maxRetries, ignoreBadBlocks, forceSingle, progressInterval));
  });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_Read10(QV_HANDLE handle, char* text, QV_ULONG textSize,
                                                                    QV_ULONG* systemError,
                                                                    CDB_FAILURE_INFORMATION* failure, void* buffer,
                                                                    QV_LONG lba, QV_ULONG blocks,
                                                                    QV_BOOLEAN forceUnitAccess) {
  return OnRead("Quorvane_CdvdBurnerGrabber_Read10", handle, text, textSize, systemError, failure, buffer,
                [&](CQuorvane_CdvdGrabber& g) { return g.Read10(buffer, lba, blocks, forceUnitAccess != 0); });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_ReadCD(QV_HANDLE handle, char* text, QV_ULONG textSize,
                                                                    QV_ULONG* systemError,
                                                                    CDB_FAILURE_INFORMATION* failure, QV_LONG lba,
                                                                    QV_ULONG blocks, void* buffer, QV_ULONG readFlags,
                                                                    QV_LONG trackStart, QV_UCHAR trackNumber,
                                                                    QV_ULONG trackType) {
  return OnRead("Quorvane_CdvdBurnerGrabber_ReadCD", handle, text, textSize, systemError, failure, buffer,
                [&](CQuorvane_CdvdGrabber& g) {
                  return g.ReadCD(buffer, lba, blocks, readFlags, Place(trackStart, trackNumber, trackType));
                });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_ReadEx(QV_HANDLE handle, char* text, QV_ULONG textSize,
                                                                    QV_ULONG* systemError,
                                                                    CDB_FAILURE_INFORMATION* failure, void* buffer,
                                                                    QV_LONG lba, QV_LONG trackStart,
                                                                    QV_UCHAR trackNumber, QV_ULONG trackType,
                                                                    QV_ULONG readFlags) {
  return OnRead("Quorvane_CdvdBurnerGrabber_ReadEx", handle, text, textSize, systemError, failure, buffer,
                [&](CQuorvane_CdvdGrabber& g) {
                  return g.ReadEx(buffer, lba, readFlags, Place(trackStart, trackNumber, trackType));
                });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_Read(QV_HANDLE handle, char* text, QV_ULONG textSize,
                                                                  QV_ULONG* systemError,
                                                                  CDB_FAILURE_INFORMATION* failure, void* buffer,
                                                                  QV_LONG lba, QV_ULONG blocks, QV_LONG trackStart,
                                                                  QV_UCHAR trackNumber, QV_ULONG trackType,
                                                                  QV_ULONG readFlags, QV_ULONG, QV_ULONG) {
  return OnRead("Quorvane_CdvdBurnerGrabber_Read", handle, text, textSize, systemError, failure, buffer,
                [&](CQuorvane_CdvdGrabber& g) {
                  return g.Read(buffer, lba, blocks, readFlags, Place(trackStart, trackNumber, trackType));
                });
}
