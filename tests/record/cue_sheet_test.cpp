// The cue sheet sent with SEND CUE SHEET, entry by entry.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "record/cue_sheet.h"

namespace {

using Entry = std::array<uint8_t, 8>;

std::vector<Entry> Compile(const std::vector<QuorvaneI_CueTrack>& tracks, bool xa, bool rawPW) {
  uint8_t out[kQuorvaneCueSheetBytes];
  const size_t length = QuorvaneI_CompileCueSheet(tracks.data(), static_cast<int32_t>(tracks.size()), xa, rawPW, out);
  std::vector<Entry> entries(length / 8);
  for (size_t i = 0; i < entries.size(); ++i) std::copy(out + 8 * i, out + 8 * i + 8, entries[i].begin());
  return entries;
}

QuorvaneI_CueTrack Track(bool audio, bool mode2, int32_t size, int32_t extra = 0, int32_t post = 0) {
  QuorvaneI_CueTrack t;
  t.audio = audio;
  t.mode2 = mode2;
  t.sizeInBlocks = size;
  t.pregapExtraBlocks = extra;
  t.postgapBlocks = post;
  return t;
}

// The forms the burn command's discs do not show (a post-gap, Mode 2
// outside CD-ROM XA), and the track counts refused (no entries). Times:
// 150 + 1000 + a post-gap of 150 = 1300 blocks, 00:17:25; + 150 + a longer
// pre-gap of 75 = 1525, 00:20:25.
TEST(CueSheet, EntriesForEveryKindOfLayout) {
  const struct {
    const char* name;
    std::vector<QuorvaneI_CueTrack> tracks;
    bool xa, rawPW;
    std::vector<Entry> expected;
  } cases[] = {
      {"data, then audio with a longer pre-gap and a post-gap",
       {Track(false, false, 1000, 0, 150), Track(true, false, 7500, 75)}, false, false,
       {{0x41, 0, 0, 0x14, 0, 0, 0, 0}, {0x41, 1, 0, 0x10, 0, 0, 0, 0}, {0x41, 1, 1, 0x10, 0, 0, 2, 0},
        {0x01, 2, 0, 0x00, 0, 0, 17, 25}, {0x01, 2, 1, 0x00, 0, 0, 20, 25}, {0x01, 0xAA, 1, 0x01, 0, 2, 0, 25}}},
      // Mode 2 outside a CD-ROM XA session is MMC's Mode 2 form (30h), not the XA form (20h).
      {"Mode 2 outside XA", {Track(false, true, 500)}, false, false,
       {{0x41, 0, 0, 0x34, 0, 0, 0, 0}, {0x41, 1, 0, 0x30, 0, 0, 0, 0}, {0x41, 1, 1, 0x30, 0, 0, 2, 0},
        {0x41, 0xAA, 1, 0x34, 0, 0, 8, 50}}},
      {"no track", {}, false, false, {}},
      {"101 tracks", std::vector<QuorvaneI_CueTrack>(101, Track(true, false, 75)), false, false, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Compile(c.tracks, c.xa, c.rawPW), c.expected);
  }
  EXPECT_EQ(Compile(std::vector<QuorvaneI_CueTrack>(100, Track(true, false, 75)), false, false).size(), 202u);
}

}  // namespace
