// quorvane check FILE.cue, run as a user runs it.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/test_support.h"

namespace {

const std::string kQuorvane = std::string(qvtest::BinaryDir()) + "/cli/quorvane";

// A sheet toc2cue wrote, the tracks as JSON; a sheet it cannot honour is
// refused with its line and exit 7, and --repair is no option for it.
TEST(CueCli, PrintsTheTracksOrTheLineItCannotHonour) {
  QVTEST_REQUIRE_PROGRAM("toc2cue");
  qvtest::TempDir dir;
  dir.Write("disc.bin", std::string(1200 * 2352, '\0'));
  dir.Write("disc.toc", "CD_DA\nTRACK AUDIO\nFILE \"disc.bin\" 0 00:06:00\nTRACK AUDIO\nFILE \"disc.bin\" #1058400 0 00:10:00\n"
                        "START 00:02:00\n");
  std::string out;
  ASSERT_EQ(qvtest::RunCommand("cd '" + dir.path().string() + "' && toc2cue disc.toc disc.cue 2>&1", &out), 0) << out;
  ASSERT_EQ(qvtest::RunCommand(kQuorvane + " --json check '" + (dir / "disc.cue").string() + "'", &out), 0) << out;
  const nlohmann::json tracks = nlohmann::json::parse(out)["tracks"];
  ASSERT_EQ(tracks.size(), 2u);
  EXPECT_EQ(tracks[1]["offset"], 1058400);
  EXPECT_EQ(tracks[1]["blocks"], 750);
  EXPECT_EQ(tracks[1]["indexes"][1]["block"], 150);

  dir.Write("bad.cue", "FILE disc.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 00 00:00:00\n");
  EXPECT_EQ(qvtest::RunCommand(kQuorvane + " check '" + (dir / "bad.cue").string() + "' 2>&1", &out), 7) << out;
  EXPECT_NE(out.find("line 5"), std::string::npos) << out;
  EXPECT_EQ(qvtest::RunCommand(kQuorvane + " check --repair '" + (dir / "disc.cue").string() + "' 2>&1", &out), 2) << out;
}

}  // namespace
