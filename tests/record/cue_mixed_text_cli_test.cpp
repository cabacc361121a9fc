// CD-Text beside a data track, and the CD-Text options over a cue sheet's:
// a user's sheets burnt through the CLI onto virtual CD-Rs, the drive's
// export read by cd-info and cdrdao, the data track's files extracted by
// xorriso and the samples compared with the sources.
#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "support/cli_fixture.h"

namespace {

class CueMixedTextCli : public qvtest::CliTest {
 protected:
  void Sh(const std::string& command) {
    std::string text;
    ASSERT_EQ(InHome(command, &text), 0) << command << "\n" << text;
  }
  std::string Bytes(const std::string& name) { return qvtest::ReadFile(home.path() / name); }
  // The drive's BIN/CUE as cd-info reads it, holding every one of wants.
  std::string Export(const std::string& drive, const std::vector<std::string>& wants) {
    EXPECT_EQ(Run("vdrive export " + drive + " --out " + At(drive + ".bin") + " --cue " + At(drive + ".cue")), 0) << out;
    const std::string info = CdInfo(drive + ".cue");
    for (const std::string& want : wants) EXPECT_NE(info.find(want), std::string::npos) << want << " in\n" << info;
    return info;
  }
};

TEST_F(CueMixedTextCli, DataTrackThenAudioCarriesCdTextInBothModes) {
  for (const char* tool : {"sox", "cd-info", "cdrdao", "genisoimage", "xorriso"}) QVTEST_REQUIRE_PROGRAM(tool);
  Sh("mkdir -p src/docs && head -c 700000 /dev/urandom > src/docs/big.dat && echo hello > src/readme.txt");
  Sh("genisoimage -quiet -J -o data.iso src");
  Sh("sox -n -r 44100 -c 2 -b 16 -t raw a.bin synth 5 sine 400");
  Sh("sox -n -r 44100 -c 2 -b 16 b.wav synth 5 sine 600 && sox b.wav -t raw b.raw");
  const std::string iso = Bytes("data.iso");
  ASSERT_EQ(iso.size() % 2048, 0u);
  const size_t blocks = iso.size() / 2048, second = blocks + 150, third = second + 375 + 150;
  std::ofstream(home.path() / "in.cue") << ("TITLE \"Mixed Album\"\nPERFORMER \"The Band\"\nFILE \"data.iso\" BINARY\n"
     "  TRACK 01 MODE1/2048\n    TITLE \"Data\"\n    INDEX 01 00:00:00\n"
     "FILE \"a.bin\" BINARY\n  TRACK 02 AUDIO\n    TITLE \"Song\"\n    PERFORMER \"Singer\"\n"
     "    PREGAP 00:02:00\n    INDEX 01 00:00:00\n"
     "FILE \"b.wav\" WAVE\n  TRACK 03 AUDIO\n    TITLE \"Tune\"\n    PREGAP 00:02:00\n    INDEX 01 00:00:00\n");
  for (const std::string mode : {"sao", "raw"}) {
    SCOPED_TRACE(mode);
    ASSERT_EQ(Run("vdrive create " + mode + " --media cd-r"), 0) << out;
    ASSERT_EQ(Run("--json burn --drive " + mode + " --cue " + At("in.cue") + (mode == "raw" ? " --raw" : "")), 0) << out;
    EXPECT_TRUE(Json().value("cdText", false)) << out;
    Export(mode, {"CD-TEXT for Disc:\n\tTITLE: Mixed Album\n\tPERFORMER: The Band",
                             "CD-TEXT for Track  1:\n\tTITLE: Data", "CD-TEXT for Track  2:\n\tTITLE: Song\n\tPERFORMER: Singer",
                             "CD-TEXT for Track  3:\n\tTITLE: Tune", "  1: 00:02:00  000000 data",
                             qvtest::CdInfoAudioRow(2, second), qvtest::CdInfoAudioRow(3, third)});
    std::string toc;
    ASSERT_EQ(InHome("cdrdao show-toc " + mode + ".cue", &toc), 0) << toc;
    for (const char* want : {"TRACK  1  Mode MODE1", "TRACK  2  Mode AUDIO", "TRACK  3  Mode AUDIO"})
      EXPECT_NE(toc.find(want), std::string::npos) << want << " in\n" << toc;

    // The data track's user data as an image: xorriso reads the files back.
    const std::string bin = Bytes(mode + ".bin");
    ASSERT_GE(bin.size(), (third + 375) * 2352);
    std::string user;
    for (size_t b = 0; b < blocks; ++b) user += bin.substr(b * 2352 + 16, 2048);
    std::ofstream(home.path() / "disc.iso", std::ios::binary) << user;
    Sh("rm -rf out && xorriso -osirrox on -indev disc.iso -extract / out >/dev/null 2>&1 && diff -r src out");
    EXPECT_TRUE(bin.compare(second * 2352, 375 * 2352, Bytes("a.bin")) == 0) << "track 2";
    EXPECT_TRUE(bin.compare(third * 2352, 375 * 2352, Bytes("b.raw")) == 0) << "track 3";
  }
}

// The command line's texts win over the sheet's string by string and fill
// in what it lacks; a track the sheet does not have is refused before the
// drive is opened.
TEST_F(CueMixedTextCli, OptionsOverrideOrExtendTheSheet) {
  QVTEST_REQUIRE_PROGRAM("sox");
  QVTEST_REQUIRE_PROGRAM("cd-info");
  Sh("sox -n -r 44100 -c 2 -b 16 -t raw tone.bin synth 5 sine 500");
  const std::string track = "FILE \"tone.bin\" BINARY\n  TRACK 01 AUDIO\n    TITLE \"T1\"\n    INDEX 01 00:00:00\n";
  const struct {
    std::string sheet, options, shows;
    int exit;
  } cases[] = {
      {"TITLE \"A\"\nPERFORMER \"P\"\n" + track, "--title B", "Disc:\n\tTITLE: B\n\tPERFORMER: P\nCD-TEXT for Track  1:\n\tTITLE: T1", 0},
      {track, "--title C --track-performer 1=Ann", "Disc:\n\tTITLE: C\nCD-TEXT for Track  1:\n\tTITLE: T1\n\tPERFORMER: Ann", 0},
      {"TITLE \"A\"\n" + track, "--track-title 2=X", "--track-title '2=X' does not name a track from 1 to 1", 2},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    const std::string drive = "cd" + std::to_string(n++);
    std::ofstream(home.path() / "in.cue") << c.sheet;
    ASSERT_EQ(Run("vdrive create " + drive + " --media cd-r"), 0) << out;
    ASSERT_EQ(Run("burn --drive " + drive + " --cue " + At("in.cue") + " " + c.options), c.exit) << out;
    if (c.exit == 0) {
      EXPECT_EQ(Export(drive, {"CD-TEXT for " + c.shows}).find("TITLE: A\n"), std::string::npos);
    } else {
      EXPECT_NE(out.find(c.shows), std::string::npos) << out;
      ASSERT_EQ(Run("--json info --drive " + drive), 0) << out;
      EXPECT_EQ(Json()["disc"].value("status", "?"), "blank") << out;
    }
  }
}

}  // namespace
