// The answers of READ TOC/PMA/ATIP, computed from the disc's layout as a
// drive computes them from what its lead-in holds (MMC-5 6.26; ECMA-130
// 22.3.4 for the lead-in's Q pointers A0h, A1h, A2h, B0h and C0h).
#pragma once
#include <cstdint>
#include <optional>
#include <vector>

#include "vdrive/disc_layout.h"

namespace qv::vdrive {

// Format 0: the tracks of the closed sessions from firstTrack on, then the
// lead-out (AAh). nullopt when there is no such track or no closed session.
std::optional<std::vector<uint8_t>> TocTracks(const DiscLayout& layout, bool msf, uint8_t firstTrack);
// Format 1: the first track of the last closed session.
std::optional<std::vector<uint8_t>> TocSessionInfo(const DiscLayout& layout, bool msf);
// Format 2: the full TOC of a CD from a session on, as 11-byte Q entries.
std::optional<std::vector<uint8_t>> TocFull(const DiscLayout& layout, uint8_t firstSession);
// Format 4: the ATIP of a CD-R or CD-RW.
std::optional<std::vector<uint8_t>> TocAtip(const DiscLayout& layout);

}  // namespace qv::vdrive
