// quorvane check FILE.cue, run as a user runs it.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/cli_fixture.h"

namespace {

using CueCli = qvtest::CliTest;

// A sheet toc2cue wrote, the tracks as JSON, and the same from cueconvert's
// copy of it (which writes INDEX 00 equal to INDEX 01); a sheet it cannot
// honour is refused with its line and exit 7, and --repair is no option.
TEST_F(CueCli, PrintsTheTracksOrTheLineItCannotHonour) {
  QVTEST_REQUIRE_PROGRAM("toc2cue");
  QVTEST_REQUIRE_PROGRAM("cueconvert");
  home.Write("disc.bin", std::string(1500 * 2352, '\0'));
  home.Write("disc.toc", "CD_DA\nTRACK AUDIO\nFILE \"disc.bin\" 0 00:06:00\nTRACK AUDIO\nFILE \"disc.bin\" #1058400 0 00:10:00\n"
                         "START 00:02:00\nTRACK AUDIO\nPREGAP 00:01:00\nFILE \"disc.bin\" #2822400 0 00:04:00\n");
  ASSERT_EQ(InHome("toc2cue disc.toc disc.cue && mkdir o && cueconvert -i cue -o cue disc.cue o/disc.cue && "
                   "ln -s ../disc.bin o/disc.bin", &out), 0) << out;
  for (const char* cue : {"disc.cue", "o/disc.cue"}) {
    ASSERT_EQ(Run("--json check " + At(cue)), 0) << out;
    const nlohmann::json tracks = Json()["tracks"];
    ASSERT_EQ(tracks.size(), 3u) << cue;
    EXPECT_EQ(tracks[1]["offset"], 1058400) << cue;
    EXPECT_EQ(tracks[1]["blocks"], 750) << cue;
    EXPECT_EQ(tracks[1]["indexes"][1]["block"], 150) << cue;
    EXPECT_EQ(tracks[2]["offset"], 2822400) << cue;
    EXPECT_EQ(tracks[2]["pregapBlocks"], 75) << cue;
    EXPECT_EQ(tracks[2]["indexes"].size(), 1u) << cue << ": its INDEX 00 is its INDEX 01";
  }

  home.Write("bad.cue", "FILE disc.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 00 00:00:00\n");
  EXPECT_EQ(Run("check " + At("bad.cue")), 7) << out;
  EXPECT_NE(out.find("line 5"), std::string::npos) << out;
  EXPECT_EQ(Run("check --repair " + At("disc.cue")), 2) << out;
}

}  // namespace
