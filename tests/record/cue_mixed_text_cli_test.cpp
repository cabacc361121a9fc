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
  // Burns in.cue with the options onto a new drive; its export as cd-info reads it must hold every one of wants.
  std::string Burn(const std::string& drive, const std::string& options, const std::vector<std::string>& wants) {
    EXPECT_EQ(Run("vdrive create " + drive + " --media cd-r"), 0) << out;
    EXPECT_EQ(Run("burn --drive " + drive + " --cue " + At("in.cue") + options), 0) << out;
    EXPECT_EQ(Run("vdrive export " + drive + " --out " + At(drive + ".bin") + " --cue " + At(drive + ".cue")), 0) << out;
    const std::string info = CdInfo(drive + ".cue");
    for (const std::string& want : wants) EXPECT_NE(info.find(want), std::string::npos) << want << " in\n" << info;
    return info;
  }
};

TEST_F(CueMixedTextCli, DataTrackThenAudioCarriesCdTextInBothModes) {
  for (const char* tool : {"sox", "cd-info", "cdrdao", "genisoimage", "xorriso"}) QVTEST_REQUIRE_PROGRAM(tool);
  Sh("mkdir -p src/docs && head -c 700000 /dev/urandom > src/docs/big.dat && echo hello > src/readme.txt && "
     "genisoimage -quiet -J -o data.iso src && sox -n -r 44100 -c 2 -b 16 -t raw a.bin synth 5 sine 400 && "
     "sox -n -r 44100 -c 2 -b 16 b.wav synth 5 sine 600 && sox b.wav -t raw b.raw");
  const size_t blocks = Bytes("data.iso").size() / 2048, second = blocks + 150, third = second + 375 + 150;
  std::ofstream(home.path() / "in.cue")
      << "TITLE \"Mixed Album\"\nPERFORMER \"The Band\"\nFILE \"data.iso\" BINARY\n  TRACK 01 MODE1/2048\n"
         "    TITLE \"Data\"\n    INDEX 01 00:00:00\nFILE \"a.bin\" BINARY\n  TRACK 02 AUDIO\n    TITLE \"Song\"\n"
         "    PERFORMER \"Singer\"\n    PREGAP 00:02:00\n    INDEX 01 00:00:00\nFILE \"b.wav\" WAVE\n  TRACK 03 AUDIO\n"
         "    TITLE \"Tune\"\n    PREGAP 00:02:00\n    INDEX 01 00:00:00\n";
  for (const std::string mode : {"sao", "raw"}) {
    SCOPED_TRACE(mode);
    Burn(mode, mode == "raw" ? " --raw" : "",
         {"CD-TEXT for Disc:\n\tTITLE: Mixed Album\n\tPERFORMER: The Band", "CD-TEXT for Track  1:\n\tTITLE: Data",
          "CD-TEXT for Track  2:\n\tTITLE: Song\n\tPERFORMER: Singer", "CD-TEXT for Track  3:\n\tTITLE: Tune",
          "  1: 00:02:00  000000 data", qvtest::CdInfoAudioRow(2, static_cast<uint16_t>(second)),
          qvtest::CdInfoAudioRow(3, static_cast<uint16_t>(third))});
    std::string toc;
    ASSERT_EQ(InHome("cdrdao show-toc " + mode + ".cue", &toc), 0) << toc;
    for (const char* want : {"TRACK  1  Mode MODE1", "TRACK  2  Mode AUDIO", "TRACK  3  Mode AUDIO"})
      EXPECT_NE(toc.find(want), std::string::npos) << want << " in\n" << toc;
    // The data track's user data as an image, whose files xorriso reads back.
    const std::string bin = Bytes(mode + ".bin");
    ASSERT_GE(bin.size(), (third + 375) * 2352);
    std::ofstream iso(home.path() / "disc.iso", std::ios::binary);
    for (size_t b = 0; b < blocks; ++b) iso << bin.substr(b * 2352 + 16, 2048);
    iso.close();
    Sh("rm -rf out && xorriso -osirrox on -indev disc.iso -extract / out >/dev/null 2>&1 && diff -r src out");
    EXPECT_TRUE(bin.compare(second * 2352, 375 * 2352, Bytes("a.bin")) == 0) << "track 2";
    EXPECT_TRUE(bin.compare(third * 2352, 375 * 2352, Bytes("b.raw")) == 0) << "track 3";
  }
}

// The command line's texts win over the sheet's string by string and fill
// in what it lacks; a track the sheet lacks is refused before the drive is opened.
TEST_F(CueMixedTextCli, OptionsOverrideOrExtendTheSheet) {
  QVTEST_REQUIRE_PROGRAM("sox");
  QVTEST_REQUIRE_PROGRAM("cd-info");
  Sh("sox -n -r 44100 -c 2 -b 16 -t raw tone.bin synth 5 sine 500");
  const std::string track = "FILE \"tone.bin\" BINARY\n  TRACK 01 AUDIO\n    TITLE \"T1\"\n    INDEX 01 00:00:00\n";
  const struct {
    std::string sheet, options;
    int exit;
    std::string shows;
  } cases[] = {
      {"TITLE \"A\"\nPERFORMER \"P\"\n", " --title B", 0, "Disc:\n\tTITLE: B\n\tPERFORMER: P\nCD-TEXT for Track  1:\n\tTITLE: T1"},
      {"", " --title C --performer D --track-performer 1=Ann", 0,
       "Disc:\n\tTITLE: C\n\tPERFORMER: D\nCD-TEXT for Track  1:\n\tTITLE: T1\n\tPERFORMER: Ann"},
      {"TITLE \"A\"\n", " --track-title 2=X", 2, "--track-title '2=X' does not name a track from 1 to 1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    std::ofstream(home.path() / "in.cue") << c.sheet + track;
    const std::string drive = "cd" + std::to_string(&c - cases);
    if (c.exit == 0) {
      EXPECT_EQ(Burn(drive, c.options, {"CD-TEXT for " + c.shows}).find("TITLE: A\n"), std::string::npos);
      continue;
    }
    ASSERT_EQ(Run("vdrive create " + drive + " --media cd-r"), 0) << out;
    EXPECT_EQ(Run("burn --drive " + drive + " --cue " + At("in.cue") + c.options), c.exit) << out;
    EXPECT_NE(out.find(c.shows), std::string::npos) << out;
    EXPECT_EQ(Run("--json info --drive " + drive) == 0 ? Json()["disc"].value("status", "?") : out, "blank");
  }
}

}  // namespace
