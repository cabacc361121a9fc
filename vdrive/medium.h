// The disc in the drive: its type, current profile, status, sessions and
// tracks. Stored user data lives in the drive folder's disc data file,
// sparse; some tracks generate theirs from a pattern instead.
//
// Addresses are logical block addresses. On a CD a track's start is its
// index 1; its pause (index 0) lies before it, and its blocks run from the
// start to the next track's pause or to the lead-out. On a DVD a track is
// a block range that may be reserved and only partly recorded; the next
// writable address follows the recorded part.
#pragma once
#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <vector>

#include "vdrive/media_types.h"

namespace qv::vdrive {

// Disc status as READ DISC INFORMATION reports it.
enum class DiscStatus : uint8_t { Blank = 0, Appendable = 1, Complete = 2 };

// How a track's sectors are laid out (ECMA-130 14, and the CD-ROM XA
// forms). Mode2 is an XA track whose sectors are Form 1 or Form 2 as each
// one's subheader says.
enum class TrackMode : uint8_t { Audio, Mode1, Mode2, Mode2Form1, Mode2Form2 };

// Where a track's data comes from: the disc data file, or a pattern the
// drive generates (costing no space).
enum class Pattern : uint8_t {
  Stored,   // the disc data file, holes reading as zeros
  Counter,  // audio: left sample = sample number, right = its complement; data: the block address
  Tone,     // audio: a triangle wave of 441 Hz in both channels
};

struct Track {
  uint32_t start = 0;   // first block: index 1 on a CD
  uint32_t blocks = 0;  // the track's size in blocks (its pause not counted)
  uint32_t pregap = 0;  // CD: blocks of index 0 before start
  std::vector<uint32_t> indexes;  // CD: where index 2, 3, ... begin, in blocks from start
  TrackMode mode = TrackMode::Mode1;
  bool copy = false;         // CONTROL bit 1: digital copy permitted
  bool preemphasis = false;  // audio, CONTROL bit 0
  bool incremental = false;  // data recorded incrementally, CONTROL bit 0
  uint32_t recorded = 0;     // blocks recorded from start; blocks for a finished track
  bool reserved = false;     // DVD: a reserved track (RT)
  Pattern pattern = Pattern::Stored;
  uint64_t dataOffset = 0;   // where the first stored sector (its pause included) lies in disc.img
  std::string isrc;          // CD: the track's ISRC (12 characters), empty when none

  bool data() const { return mode != TrackMode::Audio; }
  uint32_t end() const { return start + blocks; }
  // The first block of the track's pause, which may lie before LBA 0.
  int64_t areaStart() const { return int64_t{start} - pregap; }
  bool finished() const { return recorded >= blocks; }
  // CONTROL nibble (MMC's ADR/CONTROL, the Q subchannel's CONTROL).
  uint8_t control() const;
  // Bytes each of its sectors takes in disc.img.
  uint32_t storedSectorBytes() const;
};

struct Session {
  std::vector<Track> tracks;
  bool closed = true;
};

struct Medium {
  const MediaType* type = nullptr;
  uint16_t profile = kProfileNone;  // current profile
  DiscStatus status = DiscStatus::Blank;
  uint32_t capacity = 0;            // user blocks the disc can hold; on a CD the last possible lead-out
  bool formatted = false;           // random-access media carry a format
  std::vector<Session> sessions;
  std::string image;                // where the content came from, for people
  std::string mcn;                  // CD: the catalogue number (13 digits), empty when none
  // CD-R/RW ATIP: the lead-in start the manufacturer wrote (a negative LBA).
  int32_t leadInStart = -11634;     // 97:26:66
  // DVD+R DL: the blocks of layer 0, and whether the layer break is final.
  uint32_t layerBreak = 0;
  bool layerBreakFixed = false;
  // DVD copyright information: protection system, regions it may not play in.
  uint8_t protection = 0;
  uint8_t regionMask = 0;
  // CD: the CD-Text packs read from the lead-in's R-W (18 bytes each, CRC
  // good), in sequence order; empty when there is none.
  std::vector<uint8_t> cdText;
  // CD written raw: the sectors whose Q carried the catalogue number (ADR
  // 2) or the ISRC (ADR 3) instead of the position, so that READ CD gives
  // back the Q that was written. Runs of sectors step blocks apart.
  struct CodeRun {
    int32_t first = 0;
    uint32_t step = 1, count = 1;
    uint8_t adr = 2;
  };
  std::vector<CodeRun> codeFrames;
  void AddCodeFrame(int32_t lba, uint8_t adr);
  // ADR 2 or 3 for such a sector, else 1.
  uint8_t QModeAt(int64_t lba) const;
  // CD written raw: where the program area's recorded (interleaved) R-W
  // lies in disc.img, 96 bytes a sector from LBA -150, past every place
  // the sectors themselves can take; sectors with no R-W stay holes. 0
  // when the disc has none.
  uint64_t rwOffset = 0;
  uint64_t RwOffsetOf(int64_t lba) const { return rwOffset + uint64_t(lba + 150) * 96; }
  // The write speed of the last power calibration, 0 when none ran.
  uint16_t opcSpeed = 0;

  // A new disc of a type: blank, or for the ROM types pressed, holding
  // zeros over its whole capacity.
  static Medium New(const MediaType& type);
  // A disc holding an image of this many blocks from its first block: a
  // pressed disc for the ROM types, a closed single-session disc for the
  // write-once and sequential types, a formatted disc for DVD+RW and
  // DVD-RAM.
  static Medium WithImage(const MediaType& type, uint32_t blocks, const std::string& image);

  bool IsCd() const { return type != nullptr && type->family == MediaFamily::Cd; }
  bool IsDvd() const { return type != nullptr && type->family == MediaFamily::Dvd; }
  // DVD+RW, DVD-RAM and DVD-RW in restricted overwrite: written anywhere.
  bool RandomAccess() const;
  // Blocks of a random-access disc's format (0 when unformatted).
  uint32_t FormattedBlocks() const;
  // Blocks from 0 that READ(10) may reach.
  uint32_t ReadableBlocks() const;
  // The answer of READ CAPACITY: the last block of the last closed
  // session (the whole format of random-access media), 0 when there is none.
  uint32_t LastCapacityBlock() const;
  bool Writable() const;  // something can still be recorded
  size_t TrackCount() const;
};

const char* DiscStatusName(DiscStatus status);
const char* TrackModeName(TrackMode mode);

nlohmann::json MediumToJson(const Medium& medium);
// Throws BadJson.
Medium MediumFromJson(const nlohmann::json& json);
// One track's keys, "start" aside. Throws BadJson.
Track TrackFromJson(const nlohmann::json& json);
// Checks that sessions and tracks describe a disc that can exist; throws
// BadJson naming what is wrong.
void CheckLayout(const Medium& medium);

}  // namespace qv::vdrive
