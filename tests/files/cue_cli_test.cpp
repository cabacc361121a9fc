// quorvane check FILE.cue, run as a user runs it.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/test_support.h"

namespace {

const std::string kQuorvane = std::string(qvtest::BinaryDir()) + "/cli/quorvane";

// A sheet toc2cue wrote, the tracks as JSON, and the same from cueconvert's
// copy of it (which writes INDEX 00 equal to INDEX 01); a sheet it cannot
// honour is refused with its line and exit 7, and --repair is no option.
TEST(CueCli, PrintsTheTracksOrTheLineItCannotHonour) {
  QVTEST_REQUIRE_PROGRAM("toc2cue");
  QVTEST_REQUIRE_PROGRAM("cueconvert");
  qvtest::TempDir dir;
  dir.Write("disc.bin", std::string(1500 * 2352, '\0'));
  dir.Write("disc.toc", "CD_DA\nTRACK AUDIO\nFILE \"disc.bin\" 0 00:06:00\nTRACK AUDIO\nFILE \"disc.bin\" #1058400 0 00:10:00\n"
                        "START 00:02:00\nTRACK AUDIO\nPREGAP 00:01:00\nFILE \"disc.bin\" #2822400 0 00:04:00\n");
  std::string out;
  ASSERT_EQ(qvtest::RunCommand("cd '" + dir.path().string() + "' && toc2cue disc.toc disc.cue && mkdir o && cueconvert "
                               "-i cue -o cue disc.cue o/disc.cue && ln -s ../disc.bin o/disc.bin 2>&1", &out), 0) << out;
  for (const char* cue : {"disc.cue", "o/disc.cue"}) {
    ASSERT_EQ(qvtest::RunCommand(kQuorvane + " --json check '" + (dir / cue).string() + "'", &out), 0) << out;
    const nlohmann::json tracks = nlohmann::json::parse(out)["tracks"];
    ASSERT_EQ(tracks.size(), 3u) << cue;
    EXPECT_EQ(tracks[1]["offset"], 1058400) << cue;
    EXPECT_EQ(tracks[1]["blocks"], 750) << cue;
    EXPECT_EQ(tracks[1]["indexes"][1]["block"], 150) << cue;
    EXPECT_EQ(tracks[2]["offset"], 2822400) << cue;
    EXPECT_EQ(tracks[2]["pregapBlocks"], 75) << cue;
    EXPECT_EQ(tracks[2]["indexes"].size(), 1u) << cue << ": its INDEX 00 is its INDEX 01";
  }

  dir.Write("bad.cue", "FILE disc.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 00 00:00:00\n");
  EXPECT_EQ(qvtest::RunCommand(kQuorvane + " check '" + (dir / "bad.cue").string() + "' 2>&1", &out), 7) << out;
  EXPECT_NE(out.find("line 5"), std::string::npos) << out;
  EXPECT_EQ(qvtest::RunCommand(kQuorvane + " check --repair '" + (dir / "disc.cue").string() + "' 2>&1", &out), 2) << out;
}

}  // namespace
