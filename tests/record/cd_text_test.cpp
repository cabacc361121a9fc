// CD-Text: the packs of a disc's titles and performers, their CRCs against
// values worked out apart from the engine, the R-W groups they make and
// the lead-in that carries them.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "record/cd_text.h"
#include "record/raw_areas.h"

namespace {

struct Text {
  int track;
  std::string title, performer;
};

std::vector<uint8_t> Packs(CQuorvane_CDText& text) {
  EXPECT_EQ(text.GetData(), 0u);
  return text.Packs();
}

// The 72 bytes of four packs back from the 96 six-bit symbols of a group.
std::vector<uint8_t> Unspread(const uint8_t* group) {
  std::vector<uint8_t> bytes;
  for (int i = 0; i < 96; i += 4) {
    const uint32_t v = uint32_t(group[i]) << 18 | uint32_t(group[i + 1]) << 12 | uint32_t(group[i + 2]) << 6 | group[i + 3];
    bytes.insert(bytes.end(), {uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
  }
  return bytes;
}

TEST(CDText, PacksSequenceCountsAndGroups) {
  struct Case {
    const char* name;
    std::vector<Text> texts;
    std::vector<uint8_t> types, tracks, positions;
    int groups;
  } cases[] = {
      // Strings run on across packs: a pack names the track and position of its first byte.
      {"disc and one track", {{0, "Hello", ""}, {1, "World", ""}},
       {0x80, 0x81, 0x8F, 0x8F, 0x8F}, {0, 0, 0, 1, 2}, {0, 0, 0, 0, 0}, 5},
      // Twelve characters: the NUL starts a second pack. Six packs: 3 groups.
      {"twelve characters", {{0, "ABCDEFGHIJKL", ""}}, {0x80, 0x80, 0x81, 0x8F, 0x8F, 0x8F}, {0, 0, 0, 0, 1, 2},
       {0, 12, 0, 0, 0, 0}, 3},
      // Packs that start inside track 1's title and at track 3's NUL;
      // track 2 has only its NUL.
      {"run on", {{0, "Disc", "P"}, {1, "Sixteen chars xx", "Q"}, {3, "C", "R"}},
       {0x80, 0x80, 0x80, 0x81, 0x8F, 0x8F, 0x8F}, {0, 1, 3, 0, 0, 1, 2}, {0, 7, 1, 0, 0, 0, 0}, 7},
      // 31 bytes and then 2: three packs; the position stops at 15.
      {"long", {{0, std::string(30, 'x'), "P"}, {1, "T", "Q"}},
       {0x80, 0x80, 0x80, 0x81, 0x8F, 0x8F, 0x8F}, {0, 0, 0, 0, 0, 1, 2},
       {0, 12, 15, 0, 0, 0, 0}, 7},
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

    ASSERT_EQ(text.PrepareSubChannels(), 0u);
    ASSERT_EQ(text.GetSubChannelGroupCount(), c.groups);
    for (int g = 0; g < c.groups; ++g) {
      const std::vector<uint8_t> bytes = Unspread(text.GetSubChannelsData() + 96 * g);
      for (size_t k = 0; k < 4; ++k)
        EXPECT_TRUE(std::equal(bytes.begin() + 18 * k, bytes.begin() + 18 * (k + 1),
                               packs.begin() + 18 * ((4 * g + k) % n)))
            << "group " << g << " pack " << k;
    }
  }
}

// CRCs from a bit-at-a-time x^16 + x^12 + x^5 + 1 worked out apart from
// the engine (inverted, most significant byte first).
TEST(CDText, PackCrcsMatchIndependentValues) {
  CQuorvane_CDText text;
  text.AddTrackInfo(0, "Hello", "");
  text.AddTrackInfo(1, "World", "");
  const std::vector<uint8_t> packs = Packs(text);
  const std::vector<uint8_t> title{0x80, 0, 0, 0, 'H', 'e', 'l', 'l', 'o', 0, 'W', 'o', 'r', 'l', 'd', 0, 0xA1, 0xE8};
  const std::vector<uint8_t> size{0x8F, 0, 2, 0, 0, 1, 1, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0x30, 0xE8};
  EXPECT_EQ(std::vector<uint8_t>(packs.begin(), packs.begin() + 18), title);
  EXPECT_EQ(std::vector<uint8_t>(packs.begin() + 2 * 18, packs.begin() + 3 * 18), size);
}

TEST(CDText, RefusesWhatItCannotCarry) {
  CQuorvane_CDText text;
  EXPECT_FALSE(text.IsCDTextPresent());
  EXPECT_EQ(text.AddTrackInfo(101, "x", "y"), 87u);
  EXPECT_EQ(text.AddTrackInfo(-1, "x", "y"), 87u);
  EXPECT_EQ(text.AddTrackInfo(1, std::string(161, 'x').c_str(), ""), 87u);
  EXPECT_FALSE(text.IsCDTextPresent());
  // 99 tracks of 160 characters each overflow the 256 packs of a block.
  for (int t = 1; t <= 99; ++t) ASSERT_EQ(text.AddTrackInfo(t, std::string(160, 'x').c_str(), ""), 0u);
  EXPECT_EQ(text.GetData(), 87u);
  EXPECT_NE(text.PrepareSubChannels(), 0u);
}

// The groups go into R-W of the lead-in, one per sector, cycling, beside
// data tracks too; Q stays as it was.
TEST(CDText, LeadInCarriesGroupsWithAndWithoutData) {
  CQuorvane_CDText text;
  text.AddTrackInfo(0, "Album", "Band");
  text.AddTrackInfo(1, "Song", "Band");
  for (bool data : {false, true}) {
    QuorvaneI_LeadInContents contents{data, false, 1, {0}, 1000};
    contents.cdText = &text;
    CQuorvane_ISO9660FileTreeLeadInRawRawPW in(-300, 20, contents);
    QuorvaneI_LeadInContents bare = contents;
    bare.cdText = nullptr;
    CQuorvane_ISO9660FileTreeLeadInRawRawPW plain(-300, 20, bare);
    const int groups = text.GetSubChannelGroupCount();
    for (int n = 0; n < 20; ++n) {
      const uint8_t* sub = in.GetSectors() + n * 2448 + 2352;
      const uint8_t* ref = plain.GetSectors() + n * 2448 + 2352;
      for (int i = 0; i < 96; ++i) {
        ASSERT_EQ(sub[i] & 0xC0, ref[i] & 0xC0) << n;
        const uint8_t rw = text.GetSubChannelsData()[n % groups * 96 + i];
        ASSERT_EQ(sub[i] & 0x3F, rw) << "data " << data << " sector " << n << " byte " << i;
      }
    }
  }
}

}  // namespace
