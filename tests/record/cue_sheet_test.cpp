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

TEST(CueSheet, EntriesForEveryKindOfLayout) {
  struct Case {
    const char* name;
    std::vector<QuorvaneI_CueTrack> tracks;
    bool xa;
    std::vector<Entry> expected;
  };
  const std::vector<Case> cases = {
      {"one audio track of 4 minutes",
       {Track(true, false, 18000)},
       false,
       {{0x01, 0, 0, 0x01, 0, 0, 0, 0},
        {0x01, 1, 0, 0x00, 0, 0, 0, 0},
        {0x01, 1, 1, 0x00, 0, 0, 2, 0},
        {0x01, 0xAA, 1, 0x01, 0, 4, 2, 0}}},
      {"data, then audio with a longer pre-gap and a post-gap",
       {Track(false, false, 1000, 0, 150), Track(true, false, 7500, 75)},
       false,
       {{0x41, 0, 0, 0x14, 0, 0, 0, 0},
        {0x41, 1, 0, 0x10, 0, 0, 0, 0},
        {0x41, 1, 1, 0x10, 0, 0, 2, 0},
        // 150 + 1000 + 150 post-gap = 1300 blocks: 00:17:25
        {0x01, 2, 0, 0x00, 0, 0, 17, 25},
        // + 150 + 75 = 1525: 00:20:25
        {0x01, 2, 1, 0x00, 0, 0, 20, 25},
        {0x01, 0xAA, 1, 0x01, 0, 2, 0, 25}}},
      {"a CD-ROM XA session ending in audio",
       {Track(false, false, 300), Track(true, false, 75)},
       true,
       {{0x41, 0, 0, 0x24, 0, 0, 0, 0},
        {0x41, 1, 0, 0x20, 0, 0, 0, 0},
        {0x41, 1, 1, 0x20, 0, 0, 2, 0},
        {0x01, 2, 0, 0x00, 0, 0, 6, 0},
        {0x01, 2, 1, 0x00, 0, 0, 8, 0},
        {0x01, 0xAA, 1, 0x01, 0, 0, 9, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Compile(c.tracks, c.xa, false), c.expected);
  }
}

TEST(CueSheet, RawPWAndMode2Forms) {
  QuorvaneI_CueTrack raw = Track(false, false, 500);
  raw.rawPW = true;
  std::vector<Entry> e = Compile({raw}, false, true);
  ASSERT_EQ(e.size(), 4u);
  EXPECT_EQ(e[0][3], 0x41);  // lead-in with raw P-W
  EXPECT_EQ(e[1][3], 0x40);
  EXPECT_EQ(e[3][3], 0x14);
  e = Compile({raw}, true, true);
  EXPECT_EQ(e[3][3], 0x24);
  // Mode 2 outside a CD-ROM XA session is MMC's Mode 2 form (30h), not
  // the XA form (20h).
  e = Compile({Track(false, true, 500)}, false, false);
  EXPECT_EQ(e[0][3], 0x34);
  EXPECT_EQ(e[1][3], 0x30);
  EXPECT_EQ(e[3][3], 0x34);
  e = Compile({Track(false, true, 500)}, true, false);
  EXPECT_EQ(e[1][3], 0x20);
}

TEST(CueSheet, RefusesNoTracksAndMoreThanAHundred) {
  uint8_t out[kQuorvaneCueSheetBytes];
  std::vector<QuorvaneI_CueTrack> tracks(101, Track(true, false, 75));
  EXPECT_EQ(QuorvaneI_CompileCueSheet(tracks.data(), 0, false, false, out), 0u);
  EXPECT_EQ(QuorvaneI_CompileCueSheet(tracks.data(), 101, false, false, out), 0u);
  EXPECT_EQ(QuorvaneI_CompileCueSheet(tracks.data(), 100, false, false, out), kQuorvaneCueSheetBytes);
}

}  // namespace
