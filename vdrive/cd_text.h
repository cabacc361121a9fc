// CD-Text as a recorder finds it in the R-W subchannel of a lead-in (the
// Red Book's CD-Text format, MMC's READ TOC format 5): every lead-in
// sector's 96 six-bit R-W symbols hold four 18-byte packs; each pack
// carries its type, track number, sequence number, character position,
// twelve text bytes and a CRC (x^16 + x^12 + x^5 + 1, inverted) of the
// sixteen bytes before it. The lead-in repeats the packs, so a pack whose
// CRC is bad is dropped and its repetition used.
#pragma once
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace qv::vdrive {

inline constexpr size_t kCdTextPackBytes = 18;

class CdTextCollector {
 public:
  // One lead-in sector's 96 raw P-W bytes (R-W in bits 5-0).
  void AddSector(const uint8_t* raw96);
  // The good packs, each once, in sequence order (blocks in order).
  std::vector<uint8_t> Packs() const;
  uint32_t badPacks() const { return bad_; }

 private:
  std::map<uint16_t, std::array<uint8_t, kCdTextPackBytes>> packs_;  // by block and sequence number
  uint32_t bad_ = 0;
};

bool CdTextPackCrcGood(const uint8_t* pack);

// The single-byte strings of block 0 by pack type (80h title, 81h
// performer, ...) and track number (0 the disc).
using CdTextStrings = std::map<uint8_t, std::map<uint8_t, std::string>>;
CdTextStrings DecodeCdText(const std::vector<uint8_t>& packs);

}  // namespace qv::vdrive
