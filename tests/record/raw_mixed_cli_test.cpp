// A mixed-mode CD (a Mode 1 data track, then two audio tracks after
// pauses) grabbed raw and burnt back raw with burn --mds: cdrdao and
// cd-info read each track's kind from the drive's export, and the copy
// grabbed raw again equals the original sector for sector, subchannel
// included.
#include <gtest/gtest.h>

#include "support/cli_fixture.h"

namespace {

using RawMixedCli = qvtest::CliTest;

TEST_F(RawMixedCli, DataThenAudioKeepsEachTracksKind) {
  QVTEST_REQUIRE_PROGRAM("cd-info");
  QVTEST_REQUIRE_PROGRAM("cdrdao");
  ASSERT_EQ(Run("vdrive create a --media cd-r"), 0) << out;
  ASSERT_EQ(Run("vdrive insert a --disc " + std::string(qvtest::SourceDir()) + "/vdrive/discs/mixed-mode-cd.json"), 0)
      << out;
  ASSERT_EQ(Run("vdrive create b --media cd-r"), 0) << out;
  ASSERT_EQ(Run("grab --drive a --disc --raw --out " + At("A")), 0) << out;
  ASSERT_EQ(Run("burn --drive b --mds " + At("A.mds")), 0) << out;
  ASSERT_EQ(Run("vdrive export b --out " + At("b.bin") + " --cue " + At("b.cue")), 0) << out;

  std::string toc, info;
  ASSERT_EQ(qvtest::RunCommand("cd " + At("") + " && cdrdao show-toc b.cue 2>&1", &toc), 0) << toc;
  ASSERT_EQ(qvtest::RunCommand("cd-info --no-header --no-device-info --no-cddb --cue-file " + At("b.cue") + " 2>&1",
                               &info), 0) << info;
  // Track starts: 6000 data blocks, 1500 audio, each audio track after 150.
  const struct {
    const char* cdrdao;
    std::string cdInfo;
  } tracks[] = {
      {"TRACK  1  Mode MODE1_RAW", "  1: 00:02:00  000000 data"},
      {"TRACK  2  Mode AUDIO", qvtest::CdInfoAudioRow(2, 6150)},
      {"TRACK  3  Mode AUDIO", qvtest::CdInfoAudioRow(3, 7800)},
  };
  for (const auto& t : tracks) {
    EXPECT_NE(toc.find(t.cdrdao), std::string::npos) << t.cdrdao << " in\n" << toc;
    EXPECT_NE(info.find(t.cdInfo), std::string::npos) << t.cdInfo << " in\n" << info;
  }
  EXPECT_NE(info.find("170: 01:56:00  008550 leadout"), std::string::npos) << info;

  ASSERT_EQ(Run("grab --drive b --disc --raw --out " + At("B")), 0) << out;
  const std::string a = qvtest::ReadFile(home.path() / "A.xmf"), b = qvtest::ReadFile(home.path() / "B.xmf");
  ASSERT_EQ(a.size(), 8250u * 2448);
  EXPECT_TRUE(a == b) << "the copy's sectors or subchannel differ";
}

}  // namespace
