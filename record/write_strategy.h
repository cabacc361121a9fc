// How one kind of medium is recorded: what it needs before the data, its
// mode page 05h, its padding and its close. The session recorder
// (record/session_recorder.h) picks one by the disc's profile and follows
// it; the per-medium knowledge of recording lives here and nowhere else.
#pragma once
#include <cstdint>
#include <memory>

#include "device/drive.h"

class CQuorvane_SessionRecorder;

// A track as the medium will hold it.
struct QuorvaneI_TrackKind {
  int32_t blockSize;
  uint8_t dataBlockType, trackMode, sessionFormat;
  const char* log;
};

// What READ TRACK INFORMATION says of the invisible track.
struct QuorvaneI_TrackState {
  bool blank = false;
  bool nwaValid = false;
  uint32_t freeBlocks = 0;
  uint32_t nwa = 0;
};

// The recording modes as the drive remembers the last one.
enum QuorvaneI_WriteMode : uint8_t {
  kWriteModeNone = 0,
  kWriteModeTrackAtOnce = 1,
  kWriteModeSessionAtOnce = 2,
  kWriteModeRawDiscAtOnce = 3,
};

class QuorvaneI_WriteStrategy {
 public:
  virtual ~QuorvaneI_WriteStrategy() = default;
  virtual const char* Name() const = 0;
  virtual bool IsCd() const { return false; }
  // Bytes per WRITE command.
  virtual uint32_t TransferSize() const { return 32768; }

  // Before the write parameters: a used rewritable medium is formatted
  // and the track read again.
  virtual void Reopen(CQuorvane_SessionRecorder&, QuorvaneI_TrackState&) {}
  // A recording needs the drive's next writable address.
  virtual bool NeedsValidNwa() const { return true; }
  // A disc that holds data already is continued in multisession: the log
  // line that says so (disc type, NWA), or nullptr for media that are not.
  virtual const char* ContinuesRecordedDisc() const { return nullptr; }
  virtual QuorvaneI_WriteParameters Parameters(const QuorvaneI_TrackKind& kind, bool testWrite,
                                               bool nextSession) const = 0;
  // The medium cannot simulate: test write is forced off.
  virtual bool ForcesTestWriteOff() const { return false; }
  // Blocks of zeros after the data.
  virtual uint64_t PaddingBlocks(uint64_t blocks, bool nextSession) const;
  // After the write parameters, before the data: a reserved track, a
  // format, a layer break.
  virtual void Prepare(CQuorvane_SessionRecorder&, uint32_t /*nwa*/, uint64_t /*blocks*/) {}
  // READ BUFFER CAPACITY between writes.
  virtual bool ReadsBufferCapacity() const { return true; }
  // The last packet of the data is written whole, padded with zeros.
  virtual bool FillsLastPacket() const { return false; }
  // A later volume is found only after the disc's start is rewritten.
  virtual bool RewritesVolumeStart() const { return false; }
  virtual void Close(CQuorvane_SessionRecorder& recorder) = 0;
};

// The strategy for the disc in the drive. nextSession: the session stays
// open for another (it decides between DVD-RW sequential and restricted
// overwrite); lastWriteMode: how the session was recorded, for the close.
std::unique_ptr<QuorvaneI_WriteStrategy> QuorvaneI_ChooseStrategy(uint32_t discType, bool nextSession,
                                                                  uint8_t lastWriteMode = kWriteModeTrackAtOnce);
