// Descriptions of every session: a grabbed CD's description, read back,
// lays out the tracks and sessions the drive's table of contents shows;
// descriptions of more sessions or tracks than a CD can have are refused.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "grab/mds.h"
#include "support/cli_fixture.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

class MdsSessions : public qvtest::CliTest {
 protected:
  uint32_t Parse(const std::string& name) {
    return QuorvaneI_ParseMDS((home.path() / name).c_str(), &layout, &mode, &image, (home.path().string() + "/").c_str());
  }
  std::string image;
  QuorvaneI_MdsLayout layout;
  int mode = 0;
};

TEST_F(MdsSessions, GrabbedDescriptionMatchesTheTableOfContents) {
  for (const char* disc : {"multisession-cd", "mixed-mode-cd", "data-cd"}) {
    SCOPED_TRACE(disc);
    const std::string at = "'" + home.path().string() + "/";
    ASSERT_EQ(Run("vdrive create d --media cd-rom"), 0) << out;
    ASSERT_EQ(Run("vdrive insert d --disc '" + std::string(QUORVANE_DISCS_DIR) + "/" + disc + ".json'"), 0) << out;
    ASSERT_EQ(Run("--json info --drive d"), 0) << out;
    const json tracks = json::parse(out, nullptr, false)["disc"]["tracks"];
    ASSERT_EQ(Run("grab --disc --drive d --out " + at + "g'"), 0) << out;
    ASSERT_EQ(Parse("g.mds"), 0u);
    EXPECT_EQ(image, "g.xmf");
    ASSERT_EQ(layout.trackCount, int(tracks.size()));
    EXPECT_EQ(layout.sessionCount, tracks.back()["session"].get<int>());
    for (int k = 0; k < layout.trackCount; ++k) {
      SCOPED_TRACE("track " + std::to_string(k + 1));
      const json& t = tracks[k];
      EXPECT_EQ(layout.trackStarts[k], t["start"].get<int>());
      EXPECT_EQ(layout.rawTrackSizes[k], t["length"].get<int>());
      EXPECT_EQ(layout.trackNumbers[k], k + 1);
      EXPECT_EQ(layout.isAudio[k], t["type"] == "audio");
      const QuorvaneI_MdsSession& s = layout.sessions[t["session"].get<int>() - 1];
      EXPECT_TRUE(s.firstTrack <= k && k <= s.lastTrack) << "in its session";
    }
    uint64_t blocks = 0;
    for (int k = 0; k < layout.trackCount; ++k) blocks += uint64_t(layout.rawTrackSizes[k]);
    EXPECT_EQ(fs::file_size(home / "g.xmf"), blocks * kMdsImageBlockSize);
    ASSERT_EQ(Run("vdrive delete d"), 0) << out;
  }
}

void Put(std::string& b, size_t at, uint32_t v, int bytes = 4) {
  for (int i = 0; i < bytes; ++i) b[at + i] = char(v >> (8 * i));
}

// A description of `sessions` sessions of one track each, the last with
// `lastTracks`, every track 10 blocks long and 20 after the one before.
std::string Described(uint32_t sessions, uint32_t lastTracks) {
  const uint32_t tracks = sessions - 1 + lastTracks, trackAt = 88 + 24 * sessions, fileAt = trackAt + 80 * tracks,
                 nameAt = fileAt + 16 * tracks;
  std::string b(nameAt, '\0');
  b.replace(0, 16, "MEDIA DESCRIPTOR");
  b[16] = 1;
  b[22] = 2;
  Put(b, 20, sessions, 2);
  Put(b, 80, 88);
  for (uint32_t s = 0; s < sessions; ++s) {
    const size_t d = 88 + 24 * s;
    const uint32_t count = s + 1 == sessions ? lastTracks : 1;
    Put(b, d, s == 0 ? uint32_t(-150) : 20 * s);
    Put(b, d + 4, 20 * (s + count - 1) + 10);
    Put(b, d + 8, s + 1, 2);
    b[d + 10] = char(count);
    Put(b, d + 20, trackAt + 80 * s);
  }
  for (uint32_t k = 0; k < tracks; ++k) {
    const size_t d = trackAt + 80 * k;
    b[d] = char(0xEA);
    b[d + 1] = 0x08;
    b[d + 4] = char(k + 1);
    Put(b, d + 36, 20 * k);
    Put(b, d + 40, k * 10 * kMdsImageBlockSize);
    Put(b, d + 48, 1);
    Put(b, d + 52, fileAt + 16 * k);
    Put(b, fileAt + 16 * k, nameAt);
    Put(b, fileAt + 16 * k + 8, 10);
  }
  return b + std::string("i.xmf", 6);
}

TEST_F(MdsSessions, AsManySessionsAndTracksAsACdHoldsAndNoMore) {
  struct Case {
    const char* what;
    std::string bytes;
    uint32_t status;
  } cases[] = {
      {"99 sessions of a track each", Described(99, 1), 0},
      {"two sessions of 20 tracks", Described(2, 20), 0},
      {"100 tracks", Described(99, 2), 11},
      {"100 sessions", Described(100, 1), 11},
      {"no session", [] { std::string b = Described(1, 1); Put(b, 20, 0, 2); return b; }(), 11},
      {"a session record past the last", [] { std::string b = Described(2, 1); Put(b, 20, 3, 2); return b; }(), 11},
      {"a track before the one ahead ends", [] { std::string b = Described(2, 1); Put(b, 88 + 48 + 80 + 36, 5); return b; }(), 11},
      {"a track elsewhere in the image", [] { std::string b = Described(2, 1); Put(b, 88 + 48 + 80 + 40, 0); return b; }(), 11},
      {"a session ending inside its track", [] { std::string b = Described(2, 1); Put(b, 88 + 24 + 4, 25); return b; }(), 11},
      {"sessions out of order", [] { std::string b = Described(2, 1); Put(b, 88 + 24 + 8, 1, 2); return b; }(), 11},
      {"a session of no track", [] { std::string b = Described(2, 1); b[88 + 24 + 10] = 0; return b; }(), 11},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    home.Write("h.mds", c.bytes);
    ASSERT_EQ(Parse("h.mds"), c.status);
    if (c.status == 0) {
      EXPECT_EQ(layout.sessions[layout.sessionCount - 1].lastTrack + 1, layout.trackCount);
    }
  }
  home.Write("h.mds", Described(2, 20));
  ASSERT_EQ(Parse("h.mds"), 0u);
  EXPECT_EQ(layout.sessionCount, 2);
  EXPECT_EQ(layout.trackCount, 21);
  EXPECT_EQ(layout.sessions[1].firstTrack, 1);
  EXPECT_EQ(layout.trackStarts[20], 400);
}

}  // namespace
