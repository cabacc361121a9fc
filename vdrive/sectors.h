// The contents of a disc's sectors as the drive reads them: user data for
// READ(10), whole 2352-byte sectors with sync, header, subheader, EDC/ECC
// for READ CD, and the Q subchannel of each position.
#pragma once
#include <cstdint>

#include "vdrive/disc_layout.h"
#include "vdrive/store.h"
#include "vdrive/subchannel.h"

namespace qv::vdrive {

// What a sector is (READ CD's expected sector types 1, 2, 4 and 5).
enum class SectorKind : uint8_t { CdDa = 1, Mode1 = 2, Mode2Form1 = 4, Mode2Form2 = 5 };

struct SectorSpot {
  const TrackRef* ref = nullptr;
  int64_t lba = 0;
};

class SectorReader {
 public:
  SectorReader(const DiscLayout& layout, DiscData& data) : layout_(layout), data_(data) {}

  // The track holding a readable CD sector, or nullptr for addresses
  // outside every track (between sessions, before LBA 0, past the end).
  const TrackRef* Find(int64_t lba) const;
  // The sector's kind; reads the subheader of XA sectors.
  uint32_t Kind(const TrackRef& ref, int64_t lba, SectorKind* kind);
  // The whole sector: audio samples, or a data sector completed with sync,
  // header and EDC/ECC as the drive's encoder writes it. 0 or a system error.
  uint32_t Raw(const TrackRef& ref, int64_t lba, uint8_t* sector2352);
  // The 2048 bytes READ(10) returns from a DVD or a Mode 1 / Form 1 CD sector.
  uint32_t UserBlock(int64_t lba, uint8_t* out2048);
  // The Q subchannel's position for a sector.
  QPosition Position(const TrackRef& ref, int64_t lba) const;

 private:
  // The stored bytes of a CD sector (its storedSectorBytes), zeros for holes.
  uint32_t Stored(const TrackRef& ref, int64_t lba, uint8_t* out);

  const DiscLayout& layout_;
  DiscData& data_;
};

}  // namespace qv::vdrive
