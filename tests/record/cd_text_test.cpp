// CD-Text: the packs' boundaries and what cannot be carried. (Strings run
// on across packs and tracks, and the packs' CRCs, which the virtual drive
// checks apart from the engine, are read by cd-info and cdrskin in the
// burn command's tests.)
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "record/cd_text.h"

namespace {

struct Text {
  int track;
  std::string title, performer;
};

std::vector<uint8_t> Packs(CQuorvane_CDText& text) {
  EXPECT_EQ(text.GetData(), 0u);
  return text.Packs();
}

TEST(CDText, PacksSequenceAndSizeInformation) {
  struct Case {
    const char* name;
    std::vector<Text> texts;
    std::vector<uint8_t> types, tracks, positions;
  } cases[] = {
      // Strings run on across packs: a pack names the track and position of
      // its first byte. Twelve characters: the NUL starts a second pack.
      {"twelve characters", {{0, "ABCDEFGHIJKL", ""}}, {0x80, 0x80, 0x81, 0x8F, 0x8F, 0x8F}, {0, 0, 0, 0, 1, 2},
       {0, 12, 0, 0, 0, 0}},
      // 31 bytes and then 2: three packs; the position stops at 15.
      {"long", {{0, std::string(30, 'x'), "P"}, {1, "T", "Q"}},
       {0x80, 0x80, 0x80, 0x81, 0x8F, 0x8F, 0x8F}, {0, 0, 0, 0, 0, 1, 2},
       {0, 12, 15, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CQuorvane_CDText text;
    for (const Text& t : c.texts) ASSERT_EQ(text.AddTrackInfo(t.track, t.title.c_str(), t.performer.c_str()), 0u);
    const std::vector<uint8_t> packs = Packs(text);
    const size_t n = packs.size() / 18;
    ASSERT_EQ(n, c.types.size());
    for (size_t i = 0; i < n; ++i) {
      const uint8_t* p = &packs[18 * i];
      EXPECT_EQ(p[0], c.types[i]) << i;
      EXPECT_EQ(p[1], c.tracks[i]) << i;
      EXPECT_EQ(p[2], i) << i;
      EXPECT_EQ(p[3], c.positions[i]) << i;
    }
    // Size information: pack counts per type and the last sequence number.
    const uint8_t* size = &packs[18 * (n - 3) + 4];
    const uint8_t titles = static_cast<uint8_t>(std::count(c.types.begin(), c.types.end(), 0x80));
    EXPECT_EQ(size[4], titles);
    EXPECT_EQ(size[5], n - 3 - titles);
    EXPECT_EQ(packs[18 * (n - 2) + 4 + 7], 3);      // byte 19: three size packs
    EXPECT_EQ(packs[18 * (n - 2) + 4 + 8], n - 1);  // byte 20: last sequence number
    EXPECT_EQ(packs[18 * (n - 1) + 4 + 4], 0x09);   // byte 28: English
  }
}

TEST(CDText, RefusesWhatItCannotCarry) {
  CQuorvane_CDText text;
  EXPECT_FALSE(text.IsCDTextPresent());
  EXPECT_EQ(text.AddTrackInfo(101, "x", "y"), 87u);
  EXPECT_EQ(text.AddTrackInfo(-1, "x", "y"), 87u);
  EXPECT_FALSE(text.IsCDTextPresent());
  // 99 tracks of 160 characters each overflow the 256 packs of a block.
  for (int t = 1; t <= 99; ++t) ASSERT_EQ(text.AddTrackInfo(t, std::string(160, 'x').c_str(), ""), 0u);
  EXPECT_EQ(text.GetData(), 87u);
  EXPECT_NE(text.PrepareSubChannels(), 0u);
}

}  // namespace
