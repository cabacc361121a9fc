// quorvane grab --disc as a user meets it: every kind of disc comes back
// whole, its blocks matching the drive's own export, its description
// saying where each track lies, and an outside tool reads the raw image.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <cstring>
#include <random>

#include "support/cli_fixture.h"
#include "vdrive/qvdrive.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

uint32_t Le32(const std::string& b, size_t at) {
  return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 | uint32_t(uint8_t(b[at + 2])) << 16 |
         uint32_t(uint8_t(b[at + 3])) << 24;
}
int FromBcd(uint8_t v) { return (v >> 4) * 10 + (v & 15); }

class GrabDisc : public qvtest::CliTest {
 protected:
  void Insert(const std::string& description) {
    ASSERT_EQ(Run("vdrive create d --media cd-rom"), 0) << out;
    home.Write("disc.json", description);
    ASSERT_EQ(Run("vdrive insert d --disc " + At("disc.json")), 0) << out;
  }
  json Tracks() {
    EXPECT_EQ(Run("--json info --drive d"), 0) << out;
    return json::parse(out, nullptr, false)["disc"]["tracks"];
  }
};

// Every kind of CD: the image holds each track's blocks where the
// description says, each the drive's sector for its address, with a Q
// subchannel telling that address; the data and samples are the export's.
TEST_F(GrabDisc, EveryKindOfCdComesBackWhole) {
  for (const char* disc : {"mixed-mode-cd", "multisession-cd"}) {  // audio and data; two sessions
    for (const char* raw : {"", " --raw"}) {
      SCOPED_TRACE(std::string(disc) + raw);
      Insert(qvtest::ReadFile(fs::path(QUORVANE_DISCS_DIR) / (std::string(disc) + ".json")));
      const json tracks = Tracks();
      ASSERT_EQ(Run("--json grab --disc --drive d --out " + At("g") + raw), 0) << out;
      const std::string image = qvtest::ReadFile(home / "g.xmf"), mds = qvtest::ReadFile(home / "g.mds");
      ASSERT_EQ(mds.substr(0, 16), "MEDIA DESCRIPTOR");
      EXPECT_EQ(mds[20], char(tracks.back()["session"].get<int>())) << "sessions";
      size_t blocks = 0, k = 0;
      for (const json& t : tracks) blocks += t["length"].get<size_t>();
      EXPECT_EQ(image.size(), blocks * 2448);
      EXPECT_EQ(json::parse(out, nullptr, false)["blocks"], blocks);
      // Track descriptors of tracks, as an outside reader walks them.
      const uint32_t sessions = uint8_t(mds[20]);
      for (uint32_t s = 0; s < sessions; ++s) {
        const size_t session = Le32(mds, 80) + 24 * s, first = Le32(mds, session + 20);
        for (size_t e = 0; e < uint8_t(mds[session + 10]); ++e) {
          const size_t d = first + 80 * e;
          if ((mds[d] & 7) == 0) continue;
          const json& t = tracks[k++];
          SCOPED_TRACE("track " + std::to_string(k));
          EXPECT_EQ(uint8_t(mds[d + 1]), 0x08);
          EXPECT_EQ(int32_t(Le32(mds, d + 36)), t["start"].get<int32_t>());
          EXPECT_EQ(mds[d] & 7, t["type"] == "audio" ? 1 : t["mode"] == 1 ? 2 : 4);
          const uint64_t offset = Le32(mds, d + 40) | uint64_t(Le32(mds, d + 44)) << 32;
          const size_t file = Le32(mds, d + 52);
          EXPECT_EQ(Le32(mds, file + 8), t["length"].get<uint32_t>());
          EXPECT_EQ(std::string(mds.c_str() + Le32(mds, file)), "g.xmf");
          // The export's blocks lead the track (its end may hold the next
          // track's pre-gap or run-out blocks).
          ASSERT_EQ(Run("vdrive export d --track " + std::to_string(k) + " --out " + At("ref")), 0) << out;
          std::string ref = qvtest::ReadFile(home / "ref");
          const bool audio = t["type"] == "audio";
          if (audio) ref.erase(0, 44);
          const size_t user = audio ? 2352 : 2048, at = audio ? 0 : t["mode"] == 1 ? 16 : 24;
          ASSERT_LE(ref.size() / user, t["length"].get<size_t>());
          bool same = true;
          for (size_t b = 0; b < ref.size() / user && same; ++b)
            same = image.compare(offset + b * 2448 + at, user, ref, b * user, user) == 0;
          EXPECT_TRUE(same) << "a block differs from the export";
          for (size_t b = 0; b < t["length"].get<size_t>(); b += 97) {
            const size_t sector = offset + b * 2448;
            uint8_t q[12] = {};
            for (int i = 0; i < 96; ++i) q[i / 8] |= ((uint8_t(image[sector + 2352 + i]) >> 6) & 1) << (7 - i % 8);
            const int lba = t["start"].get<int>() + int(b);
            EXPECT_EQ(q[0] & 0x0F, 1) << "ADR of block " << lba;
            EXPECT_EQ((FromBcd(q[7]) * 60 + FromBcd(q[8])) * 75 + FromBcd(q[9]), lba + 150) << "Q time of block " << lba;
            if (!audio) {
              const int header = (FromBcd(uint8_t(image[sector + 12])) * 60 + FromBcd(uint8_t(image[sector + 13]))) * 75 +
                                 FromBcd(uint8_t(image[sector + 14]));
              EXPECT_EQ(header, lba + 150) << "header of block " << lba;
            }
          }
        }
      }
      EXPECT_EQ(k, tracks.size()) << "every track described";
      ASSERT_EQ(Run("vdrive delete d"), 0) << out;
    }
  }
}

// Files burnt onto a CD-R come back through an outside converter: iat
// turns the raw image into an ISO that bsdtar reads the files from.
TEST_F(GrabDisc, OutsideToolsReadTheRawImage) {
  QVTEST_REQUIRE_PROGRAM("iat");
  QVTEST_REQUIRE_PROGRAM("bsdtar");
  std::mt19937 rng(3);
  std::string data(900000, '\0');
  for (auto& c : data) c = static_cast<char>(rng());
  home.Write("src/data.bin", data);
  ASSERT_EQ(Run("vdrive create d --media cd-r"), 0) << out;
  ASSERT_EQ(Run("burn --drive d " + At("src")), 0) << out;
  ASSERT_EQ(Run("grab --disc --drive d --out " + At("g")), 0) << out;
  ASSERT_EQ(qvtest::RunCommand("iat " + At("g.xmf") + " " + At("g.iso"), &out), 0) << out;
  fs::create_directories(home / "x");
  ASSERT_EQ(qvtest::RunCommand("bsdtar -xf " + At("g.iso") + " -C " + At("x"), &out), 0) << out;
  EXPECT_TRUE(qvtest::ReadFile(home / "x/data.bin") == data);
}

// DVDs come back as the data written on them, in parts when asked. (The
// description naming each part: record's MdsBurnCli burns from it.)
TEST_F(GrabDisc, DvdsComeBackInParts) {
  struct Case {
    const char* media;
    int blocks, partMB;
    std::vector<std::string> parts;
  } cases[] = {{"dvd+r", 2500, 200, {"g.xmf"}}, {"dvd-rom", 102400 + 300, 200, {"g.xmf", "g.xm1"}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.media) + " " + std::to_string(c.blocks));
    // Each block stamped with its address, the rest random.
    std::mt19937 rng(c.blocks);
    std::string data(size_t(c.blocks) * 2048, '\0');
    for (size_t i = 0; i < data.size(); i += 4) {
      const uint32_t v = i % 2048 == 0 ? uint32_t(i / 2048) : rng();
      std::memcpy(&data[i], &v, 4);
    }
    const std::string source = home.Write("dvd.bin", data).string();
    data.clear();
    Insert(std::string("{\"media\": \"") + c.media + "\", \"sessions\": [{\"closed\": true, \"tracks\": [{\"blocks\": " +
           std::to_string(c.blocks) + ", \"source\": {\"file\": \"" + source + "\"}}]}]}");
    ASSERT_EQ(Run("--json grab --disc --drive d --part-size " + std::to_string(c.partMB) + " --out " + At("g")), 0)
        << out;
    std::string parts;
    for (const auto& p : c.parts) parts += " " + At(p);
    EXPECT_EQ(qvtest::RunCommand("cat" + parts + " | cmp - " + At("dvd.bin"), &out), 0) << out;
    EXPECT_FALSE(fs::exists(home / ("g.xm" + std::to_string(c.parts.size()))));
    for (const auto& p : c.parts) fs::remove(home / p);
    ASSERT_EQ(Run("vdrive delete d"), 0) << out;
  }
}

// An unreadable block: the grab fails and leaves no file, or with
// --skip-errors the block is rebuilt for its address and reported; a
// disc pulled out ends the grab and leaves nothing either.
TEST_F(GrabDisc, UnreadableBlocksAndAPulledDisc) {
  Insert(qvtest::ReadFile(fs::path(QUORVANE_DISCS_DIR) / "data-cd.json"));
  const int bad = 5000;
  ASSERT_EQ(QvDrive_SetFaults("d", ("{\"rules\": [{\"kind\": \"sense\", \"lba\": [" + std::to_string(bad) + ", " +
                                    std::to_string(bad) + "], \"times\": 0}]}").c_str()), 0u);
  EXPECT_EQ(Run("grab --disc --drive d --retries 1 --out " + At("g")), 5) << out;
  EXPECT_NE(out.find("--skip-errors"), std::string::npos) << out;
  EXPECT_FALSE(fs::exists(home / "g.xmf") || fs::exists(home / "g.mds"));
  ASSERT_EQ(Run("--json grab --disc --drive d --retries 1 --skip-errors --out " + At("g")), 0) << out;
  EXPECT_EQ(json::parse(out, nullptr, false)["replaced"], json::array({{{"lba", bad}, {"blocks", 1}}})) << out;
  const std::string image = qvtest::ReadFile(home / "g.xmf");
  const std::string sector = image.substr(size_t(bad) * 2448, 2352);
  EXPECT_EQ(sector.substr(0, 12), std::string("\0\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\0", 12));
  EXPECT_EQ(sector.substr(12, 4), std::string("\x01\x08\x50\x01", 4)) << "01:08:50, mode 1: block 5000";
  EXPECT_EQ(sector.substr(16, 2048), std::string(2048, '\0'));
  fs::remove(home / "g.xmf");
  fs::remove(home / "g.mds");
  ASSERT_EQ(QvDrive_SetFaults("d", "{\"rules\": [{\"kind\": \"pull\", \"lba\": [3000, 3000]}]}"), 0u);
  EXPECT_EQ(Run("grab --disc --drive d --out " + At("g")), 4) << out;
  EXPECT_NE(out.find("no disc"), std::string::npos) << out;
  EXPECT_FALSE(fs::exists(home / "g.xmf") || fs::exists(home / "g.mds"));
}

}  // namespace
