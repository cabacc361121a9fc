// The cue sheet of a session-at-once recording, as SEND CUE SHEET takes
// it (MMC): 8-byte entries, binary numbers, addresses as absolute M:S:F.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// One track of a session-at-once layout as the cue sheet needs it.
struct QuorvaneI_CueTrack {
  bool audio = false;
  bool mode2 = false;
  bool rawPW = false;          // raw sectors with raw P-W subchannel
  // A data track sent as whole 2352-byte sectors (sync, header, data,
  // EDC/ECC made by the host), not as user data the drive completes.
  bool rawData = false;
  // CONTROL bits beyond data/audio: copy permitted, four channels, pre-emphasis.
  bool copyPermitted = false, fourChannel = false, preEmphasis = false;
  int32_t sizeInBlocks = 0;
  int32_t pregapExtraBlocks = 0;  // beyond the 150 of every pre-gap
  int32_t postgapBlocks = 0;
  // The pause before index 1 is pregapBlocks + pregapExtraBlocks; 0 for
  // a track that follows the one before without a pause (never the first).
  int32_t pregapBlocks = 150;
  // The first blocks of the source that lie before index 1 (a pause stored
  // with the track's data); they follow the pause of zeros.
  int32_t pregapInSourceBlocks = 0;
  std::vector<int32_t> indexes;  // index 2, 3, ...: blocks from index 1, rising
  char isrc[13] = {};            // 12 characters, or empty
};

inline constexpr size_t kQuorvaneCueSheetBytes = 1616;  // room for 100 tracks
inline constexpr int32_t kQuorvaneCueSheetTracks = 100;

// Writes the cue sheet of count tracks into out (zeroed first); xa: the
// session is CD-ROM XA; rawPW: raw P-W mode requested. Returns its length
// in bytes, 0 for a count outside 1-100.
// The same cue sheet of any length, with the catalogue number (13 digits,
// or nullptr / empty) and each track's ISRC and further indexes. Empty for
// a count outside 1-99. leadInText: the host sends the lead-in's R-W (the
// CD-Text), 96 bytes a block from the lead-in's start: the lead-in entry's
// sub-channel form is 01b (41h for audio).
std::vector<uint8_t> QuorvaneI_BuildCueSheet(const QuorvaneI_CueTrack* tracks, int32_t count, bool xa, bool rawPW,
                                             const char* catalog, bool leadInText = false);
size_t QuorvaneI_CompileCueSheet(const QuorvaneI_CueTrack* tracks, int32_t count, bool xa, bool rawPW,
                                 uint8_t out[kQuorvaneCueSheetBytes]);
