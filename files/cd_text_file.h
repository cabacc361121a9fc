// Binary CD-Text files (CDTEXTFILE of a cue sheet): the 18-byte packs of
// the lead-in's R-W subchannel, optionally preceded by the 4-byte header of
// a READ TOC format 5 answer (length, two reserved bytes) and followed by a
// NUL, as recorders write them. Only the first block (language) with
// single-byte characters is read; title, performer and songwriter strings
// are kept.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The strings of the disc (entry 0) or of one track.
struct QuorvaneI_CdTextStrings {
  std::string title, performer, songwriter;
  bool Empty() const { return title.empty() && performer.empty() && songwriter.empty(); }
};

inline constexpr size_t kQuorvaneCdTextPackSize = 18;

// Fills *text (index 0: the disc, n: track n; sized to the highest track
// named). False with *error when a pack's CRC is wrong, the size is no
// whole number of packs, or the packs contradict one another.
bool QuorvaneI_ParseCdTextPacks(const uint8_t* data, size_t size, std::vector<QuorvaneI_CdTextStrings>* text,
                                std::string* error);

// The same, for a file on disk.
bool QuorvaneI_ReadCdTextFile(const std::string& path, std::vector<QuorvaneI_CdTextStrings>* text,
                              std::string* error);
