// burn --cue: cue sheets of other tools onto virtual CD-Rs, session at
// once or raw, with CD-Text from the sheet (then from the drive's exported
// CDTEXTFILE burnt again) and from the options; the drive's BIN/CUE judged
// by cd-info, cdrdao, xorriso and vcd-info, and the tracks' bytes equal to
// their sources.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <regex>

#include "support/cli_fixture.h"
#include "support/tiny_mpeg.h"

namespace {

class CueCli : public qvtest::CliTest {
 protected:
  void Sh(const std::string& command) {
    std::string text;
    ASSERT_EQ(InHome(command, &text), 0) << command << "\n" << text;
  }
  // The drive's BIN/CUE as cd-info reads it.
  std::string Export(const std::string& drive) {
    EXPECT_EQ(Run("vdrive export " + drive + " --out " + At(drive + ".bin") + " --cue " + At(drive + ".cue")), 0) << out;
    return CdInfo(drive + ".cue");
  }
  // Frames [first, first + count) of drive cd's export.
  std::string Frames(size_t first, size_t count) { return File("cd.bin").substr(first * 2352, count * 2352); }
  void BurnAndExport(const std::string& cue) {
    ASSERT_EQ(Run("vdrive create cd --media cd-r"), 0) << out;
    ASSERT_EQ(Run("--json burn --drive cd --cue " + At(cue)), 0) << out;
    EXPECT_TRUE(Json().is_object() && Json().value("sessionAtOnce", false)) << out;
    ASSERT_EQ(Run("vdrive export cd --out " + At("cd.bin") + " --cue " + At("cd.cue")), 0) << out;
  }
  static void ExpectAll(const std::string& info, std::initializer_list<const char*> wants) {
    for (const char* want : wants) EXPECT_NE(info.find(want), std::string::npos) << want << " in\n" << info;
  }
};

// A sheet's CD-Text, burnt raw. (Session at once with a sheet's CD-Text is
// OptionsOverrideOrExtendTheSheet's; both ways from options, RawCli's.)
TEST_F(CueCli, SheetWithCdTextRaw) {
  QVTEST_REQUIRE_PROGRAM("sox");
  QVTEST_REQUIRE_PROGRAM("cd-info");
  // a.bin: track 1 (5 s) with index 2, track 2's stored one-second pause,
  // track 2 (4 s); d.wav: track 3 (5 s) after a one-second PREGAP.
  Sh("sox -n -r 44100 -c 2 -b 16 -t raw a.bin synth 10 sine 300");
  Sh("sox -n -r 44100 -c 2 -b 16 d.wav synth 5 sine 700 && sox d.wav -t raw d.raw");
  home.Write("in.cue",
        "CATALOG 4006381333931\nTITLE \"Cue Album\"\nPERFORMER \"The Cuers\"\nFILE \"a.bin\" BINARY\n"
        "  TRACK 01 AUDIO\n    TITLE \"First\"\n    PERFORMER \"Ann\"\n    SONGWRITER \"Sam\"\n"
        "    INDEX 01 00:00:00\n    INDEX 02 00:02:00\n"
        "  TRACK 02 AUDIO\n    TITLE \"Second\"\n    ISRC USABC9900002\n    INDEX 00 00:05:00\n    INDEX 01 00:06:00\n"
        "FILE \"d.wav\" WAVE\n  TRACK 03 AUDIO\n    TITLE \"Third\"\n    PREGAP 00:01:00\n    INDEX 01 00:00:00\n");
  const size_t starts[] = {0, 450, 825};
  const std::string mode = "raw", flag = " --raw";
  ASSERT_EQ(Run("vdrive create " + mode + " --media cd-r"), 0) << out;
  ASSERT_EQ(Run("--json burn --drive " + mode + " --cue " + At("in.cue") + flag), 0) << out;
  EXPECT_TRUE(Json().value("raw", false) && Json().value("cdText", false)) << out;
  // The drive's own READ TOC answer, as `info` decodes it, songwriter included.
  ASSERT_EQ(Run("--json info --drive " + mode), 0) << out;
  const auto text = Json()["disc"]["cdText"];
  ASSERT_EQ(text["tracks"].size(), 3u) << out;
  EXPECT_EQ(text["tracks"][0].value("songwriter", ""), "Sam") << out;
  EXPECT_EQ(text["tracks"][1].value("title", ""), "Second") << out;
  ASSERT_EQ(Run("info --drive " + mode), 0) << out;
  EXPECT_NE(out.find("\"First\" by \"Ann\", written by \"Sam\""), std::string::npos) << out;
  std::string info = Export(mode);
  ExpectAll(info, {"Cue Album", "The Cuers", "First", "Ann", "Sam", "Second", "Third",
                   "Media Catalog Number (MCN): 4006381333931"});
  for (int i = 0; i < 3; ++i) EXPECT_NE(info.find(qvtest::CdInfoAudioRow(i + 1, starts[i])), std::string::npos) << info;
  const std::string bin = File(mode + ".bin");
  ASSERT_GE(bin.size(), 1200u * 2352);
  EXPECT_TRUE(bin.compare(0, 750 * 2352, File("a.bin")) == 0) << "tracks 1 and 2 with the stored pause";
  EXPECT_EQ(bin.substr(750 * 2352, 75 * 2352).find_first_not_of('\0'), std::string::npos) << "the PREGAP";
  EXPECT_TRUE(bin.compare(825 * 2352, 375 * 2352, File("d.raw")) == 0) << "track 3";

  // The export burnt again with its CDTEXTFILE alone: the same disc.
  const std::string again = mode + "2";
  home.Write(again + ".cue", std::regex_replace(File(mode + ".cue"), std::regex("[ \\t]*(TITLE|PERFORMER|SONGWRITER) [^\\n]*\\n"), ""));
  ASSERT_EQ(File(again + ".cue").find("TITLE"), std::string::npos);
  ASSERT_EQ(Run("vdrive create " + again + " --media cd-r"), 0) << out;
  ASSERT_EQ(Run("burn --drive " + again + " --cue " + At(again + ".cue") + flag), 0) << out;
  info = Export(again);
  ExpectAll(info, {"Cue Album", "The Cuers", "First", "Ann", "Sam", "Second", "Third"});
  EXPECT_TRUE(File(again + ".bin") == bin);
}

// A Mode 1 data track, an audio track after a PREGAP, and a big-endian
// audio file whose track permits copies: each track's bytes are its
// file's, and xorriso extracts the data track's files.
TEST_F(CueCli, MixedModeBigEndianAndCopyPermittedTracksByteForByte) {
  for (const char* tool : {"sox", "xorriso", "genisoimage", "cdrdao"}) QVTEST_REQUIRE_PROGRAM(tool);
  Sh("mkdir -p src/sub && head -c 300000 /dev/urandom > src/sub/r.dat && echo hello > src/a.txt && "
     "genisoimage -quiet -r -o data.iso src");
  ASSERT_EQ(Run("image bin --out " + At("data.bin") + " " + At("data.iso")), 0) << out;
  Sh("sox -n -r 44100 -c 2 -b 16 -t raw music.bin synth 5 sine 440");
  Sh("sox -n -r 44100 -c 2 -b 16 -L -t raw t3.raw synth 6 sine 500 && dd status=none conv=swab if=t3.raw of=b.bin");
  home.Write("mixed.cue", "FILE \"data.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n"
                          "FILE \"music.bin\" BINARY\n  TRACK 02 AUDIO\n    PREGAP 00:02:00\n    INDEX 01 00:00:00\n"
                          "FILE \"b.bin\" MOTOROLA\n  TRACK 03 AUDIO\n    FLAGS DCP\n    INDEX 01 00:00:00\n");
  BurnAndExport("mixed.cue");
  EXPECT_NE(File("cd.cue").find("TRACK 01 MODE1/2352"), std::string::npos) << File("cd.cue");
  std::string toc;
  ASSERT_EQ(InHome("cdrdao show-toc cd.cue", &toc), 0) << toc;
  const size_t copy = toc.find("COPY PERMITTED");
  EXPECT_TRUE(copy != std::string::npos && copy == toc.rfind("COPY PERMITTED") && copy > toc.find("TRACK  3"))
      << "track 3 only\n" << toc;
  // The data track's user data is the ISO; xorriso extracts its files.
  const std::string iso = File("data.iso");
  const size_t blocks = iso.size() / 2048;
  std::string user;
  for (size_t b = 0; b < blocks; ++b) user += Frames(b, 1).substr(16, 2048);
  EXPECT_TRUE(user == iso);
  EXPECT_TRUE(Frames(0, blocks) == File("data.bin"));
  home.Write("back.iso", user);
  Sh("timeout 60 xorriso -osirrox on -indev back.iso -extract / out >/dev/null && diff -r src out");
  EXPECT_TRUE(Frames(blocks + 150, 375) == File("music.bin"));
  EXPECT_TRUE(Frames(blocks + 525, 450) == File("t3.raw")) << "the big-endian file, swapped";
}

TEST_F(CueCli, VideoCdOfVcdimagerBurnsAsItWasMade) {
  QVTEST_REQUIRE_PROGRAM("vcdimager");
  QVTEST_REQUIRE_PROGRAM("vcd-info");
  home.Write("in.mpg", qvtest::TinyMpeg());
  Sh("vcdimager -t vcd2 -c vcd.cue -b vcd.bin in.mpg >/dev/null");
  BurnAndExport("vcd.cue");
  const std::string made = File("vcd.bin");
  EXPECT_EQ(File("cd.bin").size(), made.size());
  EXPECT_TRUE(File("cd.bin") == made);
  std::string info;
  EXPECT_EQ(qvtest::RunCommand("vcd-info --no-banner -i " + At("cd.cue") + " 2>&1", &info), 0) << info;
}

// What cannot be recorded, or recorded raw, CD-Text beside data and a
// track the sheet lacks, is refused before the drive is written, naming
// the sheet's line where there is one. (One sheet the reader refuses:
// fuzz_cue_sheet holds every refusal to naming its line.)
TEST_F(CueCli, SheetsThatCannotBeRecordedAreRefusedNamingTheLine) {
  home.Write("short.bin", std::string(2352 * 10, '\1'));
  home.Write("tone.bin", std::string(2352 * 400, '\1'));
  const struct {
    const char* sheet;
    const char* flags;
    const char* says;
  } cases[] = {
      {"FILE \"tone.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\nFILE \"gone.bin\" BINARY\n"
       "  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n", "", "line 4"},
      {"FILE \"tone.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\nFILE \"short.bin\" BINARY\n"
       "  TRACK 02 MODE1/2048\n    INDEX 01 00:00:00\n", "", "line 5"},
      {"FILE \"tone.bin\" BINARY\n  TRACK 01 MODE2/2352\n    INDEX 01 00:00:00\n", " --raw", "line 2"},
      {"FILE \"tone.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n    POSTGAP 00:01:00\n", " --raw", "line 2"},
      {"FILE \"tone.bin\" BINARY\n  TRACK 01 AUDIO\n    PREGAP 00:03:00\n    INDEX 01 00:00:00\n", " --raw", "line 2"},
      {"FILE \"tone.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 00 00:00:00\n    INDEX 01 00:01:00\n", " --raw", "line 2"},
      {"FILE \"tone.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n    INDEX 01 00:03:00\n",
       " --raw", "line 2"},
      {"TITLE \"T\"\nFILE \"tone.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n", "", "CD-Text"},
      {"FILE \"tone.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n", " --title X", "CD-Text"},
  };
  ASSERT_EQ(Run("vdrive create cd --media cd-r"), 0) << out;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sheet);
    home.Write("bad.cue", c.sheet);
    EXPECT_EQ(Run("burn --drive cd --cue " + At("bad.cue") + c.flags), 7) << out;
    EXPECT_NE(out.find(c.says), std::string::npos) << out;
    EXPECT_EQ(Disc("cd")["status"], "blank");
  }
  home.Write("good.cue", "FILE \"tone.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
  EXPECT_EQ(Run("burn --drive cd --cue " + At("good.cue") + " --track-title 2=X"), 2) << out;
  EXPECT_NE(out.find("does not name a track from 1 to 1"), std::string::npos) << out;
  EXPECT_EQ(Disc("cd")["status"], "blank");
}

// The command line's texts win over the sheet's string by string and fill
// in what it lacks.
TEST_F(CueCli, OptionsOverrideOrExtendTheSheet) {
  QVTEST_REQUIRE_PROGRAM("sox");
  QVTEST_REQUIRE_PROGRAM("cd-info");
  Sh("sox -n -r 44100 -c 2 -b 16 -t raw tone.bin synth 5 sine 500");
  const std::string track = "FILE \"tone.bin\" BINARY\n  TRACK 01 AUDIO\n    TITLE \"T1\"\n    INDEX 01 00:00:00\n";
  const struct {
    std::string sheet, options, shows;
  } cases[] = {
      {"TITLE \"A\"\nPERFORMER \"P\"\n", " --title B", "Disc:\n\tTITLE: B\n\tPERFORMER: P\nCD-TEXT for Track  1:\n\tTITLE: T1"},
      {"", " --title C --performer D --track-performer 1=Ann",
       "Disc:\n\tTITLE: C\n\tPERFORMER: D\nCD-TEXT for Track  1:\n\tTITLE: T1\n\tPERFORMER: Ann"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    home.Write("in.cue", c.sheet + track);
    const std::string drive = "cd" + std::to_string(&c - cases);
    ASSERT_EQ(Run("vdrive create " + drive + " --media cd-r"), 0) << out;
    ASSERT_EQ(Run("burn --drive " + drive + " --cue " + At("in.cue") + c.options), 0) << out;
    const std::string info = Export(drive);
    EXPECT_NE(info.find("CD-TEXT for " + c.shows), std::string::npos) << info;
    EXPECT_EQ(info.find("TITLE: A\n"), std::string::npos) << info;
  }
}

}  // namespace
