// burn --audio --sao: four tracks with pauses, an index 2, an ISRC and the
// catalogue number onto a virtual CD-R; the drive's BIN/CUE read by
// cd-info and cdrdao, and every track's samples equal to its file's.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/cli_fixture.h"

namespace {

using SaoCli = qvtest::CliTest;

TEST_F(SaoCli, AudioSessionReadBackByOutsideTools) {
  QVTEST_REQUIRE_PROGRAM("sox");
  QVTEST_REQUIRE_PROGRAM("cd-info");
  QVTEST_REQUIRE_PROGRAM("cdrdao");
  // Lengths in seconds: whole frames, and 4.5 s, which ends mid-frame.
  const char* lengths[] = {"5", "4.5", "6", "4"};
  std::string files;
  for (int i = 0; i < 4; ++i) {
    const std::string name = "t" + std::to_string(i + 1);
    ASSERT_EQ(qvtest::RunCommand("sox -n -r 44100 -c 2 -b 16 " + At(name + ".wav") + " synth " + lengths[i] +
                                     " sine " + std::to_string(300 + 100 * i) + " 2>&1", &out), 0) << out;
    ASSERT_EQ(qvtest::RunCommand("sox " + At(name + ".wav") + " -t raw " + At(name + ".raw") + " 2>&1", &out), 0);
    files += " " + At(name + ".wav");
  }
  ASSERT_EQ(Run("vdrive create cd --media cd-r"), 0) << out;
  ASSERT_EQ(Run("--json burn --drive cd --audio --sao --gap 1 --index 1=00:01:00 --isrc 2=USABC9900002 "
                "--catalog 4006381333931" + files), 0) << out;
  EXPECT_TRUE(Json().is_object() && Json().value("sessionAtOnce", false)) << out;
  ASSERT_EQ(Run("vdrive export cd --out " + At("disc.bin") + " --cue " + At("disc.cue")), 0) << out;
  const std::string cue = qvtest::ReadFile(home.path() / "disc.cue");
  for (const char* line : {"CATALOG 4006381333931", "ISRC USABC9900002", "INDEX 02 00:01:00"})
    EXPECT_NE(cue.find(line), std::string::npos) << line << " in\n" << cue;

  // Track starts: 0, then each after the one before and a pause of 75.
  const size_t frames[] = {375, 338, 450, 300};
  size_t starts[4] = {0};
  for (int i = 1; i < 4; ++i) starts[i] = starts[i - 1] + frames[i - 1] + 75;
  const std::string info = CdInfo("disc.cue");
  for (int i = 0; i < 4; ++i) {
    const std::string row = qvtest::CdInfoAudioRow(i + 1, starts[i]);
    EXPECT_NE(info.find(row), std::string::npos) << row << " in\n" << info;
  }
  EXPECT_NE(info.find("Media Catalog Number (MCN): 4006381333931"), std::string::npos) << info;
  std::string toc;
  ASSERT_EQ(InHome("cdrdao show-toc disc.cue", &toc), 0) << toc;
  for (const char* line : {"CATALOG NUMBER: 4006381333931", "ISRC US ABC 99 00002", "INDEX  2 00:01:00(    75)",
                           "PREGAP 00:01:00(    75)"})
    EXPECT_NE(toc.find(line), std::string::npos) << line << " in\n" << toc;

  // Every track holds its file's samples, then zeros to its frame's end.
  const std::string bin = qvtest::ReadFile(home.path() / "disc.bin");
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i + 1);
    const std::string raw = qvtest::ReadFile(home.path() / ("t" + std::to_string(i + 1) + ".raw"));
    ASSERT_GE(bin.size(), (starts[i] + frames[i]) * 2352);
    const std::string track = bin.substr(starts[i] * 2352, frames[i] * 2352);
    EXPECT_TRUE(track.compare(0, raw.size(), raw) == 0);
    EXPECT_EQ(track.find_first_not_of('\0', raw.size()), std::string::npos);
  }
}

}  // namespace
