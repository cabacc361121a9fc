// CQuorvane_CdvdGrabber: the drive with reading and grabbing on top. It
// reads sectors in every form a caller asks for (cooked, raw, raw with
// either subchannel), and copies a track or an address range of one into a
// file: a plain file of user data, or a wave file for audio.
//
// Grabbing reads chunk by chunk. A chunk that fails is read again block by
// block, one recursion level per retry, down to a chosen depth; a block
// that still fails is fatal, or replaced by zeros when the caller said so.
// In the last 150 blocks of a track a chunk that fails is read again block
// by block, and the first block that fails there ends reading: a track
// recorded track-at-once ends in run-out blocks no drive reads, which the
// table of contents counts as the track's, so its true end lies somewhere
// before the end the disc states.
#pragma once
#include <cstdint>
#include <string>

#include "device/drive.h"
#include "device/edc_ecc.h"

namespace qv::plat {
class OutputFile;
}

// A read failure that is about the blocks read (a medium or hardware
// error, or a block the drive refuses), not a drive gone or a disc pulled.
bool QuorvaneI_IsBlockFailure(const CDB_FAILURE_INFORMATION* f);
// The drive refused the command as one it does not implement (5/20/00).
bool QuorvaneI_IsInvalidOpcode(const CDB_FAILURE_INFORMATION* f);

// The grab loops' shared terms: the bytes a raw grab reads at once (a
// cooked one asks QuorvaneI_ChunkBlocks); within kGapArea blocks of a
// track's end a failed read is the track's true end, not damage; closer
// than kForgivenArea an unreadable block is replaced even when the caller
// asked for failures.
inline constexpr uint32_t kQuorvaneGrabBufferSize = kQuorvaneScsiMaximumTransferLength;
inline constexpr int32_t kQuorvaneGapArea = 150;
inline constexpr int32_t kQuorvaneForgivenArea = 200;

// The grabbed files: opened under a temporary name, written block by
// block, made durable at the end. A failure of any step ends the grab.
void QuorvaneI_OpenGrabbed(const char* method, qv::plat::OutputFile& file, const std::string& name);
void QuorvaneI_WriteGrabbed(const char* method, qv::plat::OutputFile& file, const uint8_t* data, size_t bytes);
void QuorvaneI_CommitGrabbed(const char* method, qv::plat::OutputFile& file);

class CQuorvane_CdvdGrabber : public CQuorvane_CdvdDrive {
 public:
  using CQuorvane_CdvdDrive::CQuorvane_CdvdDrive;
  // The commands keep their names beside the sector readers below.
  using CQuorvane_ScsiDeviceGeneric::Read10;
  using CQuorvane_ScsiDeviceCdvdRomReader::ReadCD;

  // How a grab treats failing blocks and reports. maxRetries is the depth
  // of block-by-block retries; progressInterval is in seconds (0: none).
  struct GrabPolicy {
    int32_t maxRetries = 0;
    bool ignoreBadBlocks = false;  // replace what cannot be read instead of failing
    bool forceSingle = false;      // one block per command
    uint32_t progressInterval = 0;
  };

  // One track into fileName: user data, or a wave file for an audio track.
  // The file takes its name only when complete.
  void GrabTrack(uint8_t track, const char* fileName, const GrabPolicy& policy);
  // Blocks firstLBA..lastLBA of the track holding firstLBA, one per read.
  void GrabRange(int32_t firstLBA, int32_t lastLBA, const char* fileName, const GrabPolicy& policy);

  // A whole CD into "<baseName>.xmf", raw 2448-byte blocks (readMode 1:
  // raw, 2: raw P-Q, 3: raw P-W, the subchannel made where not read), and
  // its description "<baseName>.mds". Blocks of data tracks are checked
  // against their EDC/ECC; unreadable ones are rebuilt for their address.
  void GrabDisc(const char* baseName, int readMode, const GrabPolicy& policy, bool keepDriveRecovery);
  // A whole DVD into parts of splitSizeMB ("<baseName>.xmf", ".xm1", ...)
  // and its description "<baseName>.mds".
  void GrabDiscSplit(const char* baseName, uint32_t splitSizeMB, const GrabPolicy& policy);

  // Mode page 01h (read error recovery): the drive's defaults back, or
  // correction switched off for raw reads. Failures are logged and dropped.
  void RestoreReadErrorRecoverySafe();
  void DisableHardwareErrorCorrectionSafe();
  bool IsErrorCorrectionDisabled() const { return m__BOOLEAN__IsErrorCorrectionDisabled; }

  // ---- Sector readers: each returns an exception number, 0 on success ----
  // Read flags.
  enum : uint32_t {
    kReadStopAtFirstFailure = 1u << 0,
    kReadRepairSubchannel = 1u << 5,
    kReadCooked = 1u << 6,
    kReadRaw = 1u << 7,
    kReadRawPQ = 1u << 8,
    kReadRawPW = 1u << 9,
    kReadLightCheck = 1u << 10,
    kReadForceUnitAccess = 1u << 11,
  };
  // Track types of the readers.
  enum : uint32_t { kTrackAudio = 1, kTrackMode1 = 2, kTrackMode2 = 3, kTrackMode2Form1 = 4, kTrackMode2Form2 = 5 };
  // Where a block lies: its track's number and first block, and its type.
  struct TrackPlace {
    int32_t start = 0;
    uint8_t number = 1;
    uint32_t type = kTrackMode1;
  };
  // READ(10) of 2048-byte blocks; a failure comes back renumbered from
  // its sense (27 positioning, 28 unrecovered, 29 wrong kind of track).
  uint32_t Read10(void* buffer, int32_t lba, uint32_t blocks, bool forceUnitAccess);
  // 2448-byte blocks: the raw sector and raw P-W subchannel, whatever the
  // drive reads (flags pick cooked, raw, raw P-Q or raw P-W; a mode the
  // drive lacks is raised to the next). At most 65536 bytes per drive read.
  uint32_t ReadCD(void* buffer, int32_t lba, uint32_t blocks, uint32_t flags, const TrackPlace& place);
  // One block as Read reads a range: 2048 bytes for cooked reads, else
  // 2448, checked (and repaired) when raw.
  uint32_t ReadEx(void* buffer, int32_t lba, uint32_t flags, const TrackPlace& place);
  // A range: read at once, checked, and on failure block by block unless
  // told to stop; the number of the last block that still failed, or 0.
  uint32_t Read(void* buffer, int32_t lba, uint32_t blocks, uint32_t flags, const TrackPlace& place);

 protected:
  // One run of the grab loop: blocks [first, last] of a track.
  struct GrabRun {
    const QUORVANE_TOC_TRACK* track;
    bool dvd;
    qv::plat::OutputFile* file;
    int32_t maxDepth;
    bool ignoreBadBlocks, forceSingle, keepChunks;
    // Progress of a whole disc: blocks before this run, and in all (0: the
    // run's own range).
    uint64_t progressBase = 0, progressTotal = 0;
  };
  void GrabTrackCooked(const GrabRun& run, uint32_t progressInterval, int32_t depth, int32_t first, int32_t last);
  // Blocks done of a run, and when they were last reported.
  struct GrabCount {
    uint64_t total, done, lastReport;
  };
  static GrabCount StartCount(const GrabRun& run, int32_t first, int32_t last);
  // What every chunk of both loops ends with: its bytes written (offset
  // blocks into the run), a cancel honoured, the blocks counted and
  // reported at most every progressInterval seconds.
  void EndChunk(const char* method, const GrabRun& run, const uint8_t* data, size_t bytes, int32_t offset);
  void CountChunk(GrabCount& count, int32_t blocks, uint32_t progressInterval);
  void GrabTrackRaw(const GrabRun& run, int readMode, uint32_t progressInterval, int32_t depth, int32_t first,
                    int32_t last);
  // A block rebuilt for its address where the disc gave none: the sector of
  // its track's kind with zero user data, and its subchannel.
  void PatternBlock(uint8_t* block, int32_t lba, const TrackPlace& place) const;
  // The drive's raw read modes, asked once: raw, raw P-Q, raw P-W.
  void KnowReadModes();
  // A raw block (2448 bytes) checked as its track type; false when bad.
  bool CheckBlock(uint8_t* block, int32_t lba, uint32_t flags, const TrackPlace& place) const;

  // Runs one drive read: 0, or the number its failure is known by, the
  // failure kept for LastReadFailure.
  template <class Body>
  uint32_t Attempt(Body&& body);
  uint32_t Renumber(CQuorvane_Exception* e);

 public:
  // The last sector read that failed: its text and, for a command that
  // failed, the command and sense.
  const char* LastReadFailureText() const { return m__CHAR__LastReadFailure; }
  const CDB_FAILURE_INFORMATION& LastReadFailure() const { return m__CDB_FAILURE_INFORMATION__LastRead; }

 protected:
  CQuorvane_EDCECC m__EDCECC;
  char m__CHAR__LastReadFailure[QUORVANE_EXCEPTION_TEXT_SIZE] = {};
  CDB_FAILURE_INFORMATION m__CDB_FAILURE_INFORMATION__LastRead = {};
  bool m__BOOLEAN__IsErrorCorrectionDisabled = false;
  bool m__BOOLEAN__AreReadModesKnown = false;
  bool m__BOOLEAN__IsReadCDRefused = false;  // the drive has no READ CD: data tracks by READ(10)
  uint8_t m__UCHAR__ReadModes[4] = {1, 0, 0, 0};  // cooked, raw, raw P-Q, raw P-W
};
