// burn --cue: cue sheets of other tools onto a virtual CD-R, session at
// once; the drive's BIN/CUE read back by cd-info, cdrdao, xorriso and
// vcd-info, and the tracks' bytes equal to their sources.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "support/cli_fixture.h"
#include "support/tiny_mpeg.h"

namespace {

class CueCli : public qvtest::CliTest {
 protected:
  void Write(const std::string& name, const std::string& text) { std::ofstream(home.path() / name) << text; }
  std::string Bytes(const std::string& name) { return qvtest::ReadFile(home.path() / name); }
  void Sh(const std::string& command) {
    std::string text;
    ASSERT_EQ(InHome(command, &text), 0) << command << "\n" << text;
  }
  // Frames [first, first + count) of the exported disc.
  std::string Frames(size_t first, size_t count) { return Bytes("disc.bin").substr(first * 2352, count * 2352); }
  void BurnAndExport(const std::string& cue) {
    ASSERT_EQ(Run("vdrive create cd --media cd-r"), 0) << out;
    ASSERT_EQ(Run("--json burn --drive cd --cue " + At(cue)), 0) << out;
    EXPECT_TRUE(Json().is_object() && Json().value("sessionAtOnce", false)) << out;
    ASSERT_EQ(Run("vdrive export cd --out " + At("disc.bin") + " --cue " + At("disc.cue")), 0) << out;
  }
};

TEST_F(CueCli, AudioSheetWithStoredAndSilentPregapsIndexesAndCodes) {
  QVTEST_REQUIRE_PROGRAM("sox");
  QVTEST_REQUIRE_PROGRAM("cd-info");
  QVTEST_REQUIRE_PROGRAM("cdrdao");
  // a.bin: track 1 (5 s), track 2's stored one-second pre-gap, track 2 (4 s);
  // b.bin: track 3 big-endian (6 s); d.wav: track 4 (4 s). (cdrdao 1.2.4
  // misreads an INDEX 02 in a track after one with a pre-gap, so index 2
  // is in track 1.)
  Sh("sox -n -r 44100 -c 2 -b 16 -t raw a.bin synth 10 sine 300");
  Sh("sox -n -r 44100 -c 2 -b 16 -L -t raw t3.raw synth 6 sine 500 && dd status=none conv=swab if=t3.raw of=b.bin");
  Sh("sox -n -r 44100 -c 2 -b 16 d.wav synth 4 sine 700 && sox d.wav -t raw t4.raw");
  Write("in.cue",
        "CATALOG 4006381333931\nFILE \"a.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n    INDEX 02 00:02:00\n"
        "  TRACK 02 AUDIO\n    ISRC USABC9900002\n    INDEX 00 00:05:00\n    INDEX 01 00:06:00\n"
        "FILE \"b.bin\" MOTOROLA\n  TRACK 03 AUDIO\n    FLAGS DCP\n    PREGAP 00:01:00\n    INDEX 01 00:00:00\n"
        "FILE \"d.wav\" WAVE\n  TRACK 04 AUDIO\n    INDEX 01 00:00:00\n");
  BurnAndExport("in.cue");

  const size_t starts[] = {0, 450, 825, 1275};
  const std::string info = CdInfo("disc.cue");
  for (int i = 0; i < 4; ++i) {
    const std::string row = qvtest::CdInfoAudioRow(i + 1, starts[i]);
    EXPECT_NE(info.find(row), std::string::npos) << row << " in\n" << info;
  }
  EXPECT_NE(info.find("Media Catalog Number (MCN): 4006381333931"), std::string::npos) << info;
  std::string toc;
  ASSERT_EQ(InHome("cdrdao show-toc disc.cue", &toc), 0) << toc;
  for (const char* line : {"CATALOG NUMBER: 4006381333931", "ISRC US ABC 99 00002", "INDEX  2 00:02:00(   150)",
                           "PREGAP 00:01:00(    75)", "COPY PERMITTED"})
    EXPECT_NE(toc.find(line), std::string::npos) << line << " in\n" << toc;
  EXPECT_TRUE(Frames(750, 75) == std::string(75 * 2352, '\0')) << "the PREGAP's silence";
  EXPECT_TRUE(Frames(0, 750) == Bytes("a.bin")) << "tracks 1 and 2, with the pre-gap stored between them";
  EXPECT_TRUE(Frames(825, 450) == Bytes("t3.raw"));
  EXPECT_TRUE(Frames(1275, 300) == Bytes("t4.raw"));
}

TEST_F(CueCli, MixedModeDataTrackExtractsByteForByte) {
  QVTEST_REQUIRE_PROGRAM("sox");
  QVTEST_REQUIRE_PROGRAM("xorriso");
  QVTEST_REQUIRE_PROGRAM("genisoimage");
  Sh("mkdir -p src/sub && head -c 300000 /dev/urandom > src/sub/r.dat && echo hello > src/a.txt && "
     "genisoimage -quiet -r -o data.iso src");
  ASSERT_EQ(Run("image bin --out " + At("data.bin") + " " + At("data.iso")), 0) << out;
  Sh("sox -n -r 44100 -c 2 -b 16 -t raw music.bin synth 5 sine 440");
  Write("mixed.cue", "FILE \"data.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n"
                     "FILE \"music.bin\" BINARY\n  TRACK 02 AUDIO\n    PREGAP 00:02:00\n    INDEX 01 00:00:00\n");
  BurnAndExport("mixed.cue");
  EXPECT_NE(Bytes("disc.cue").find("TRACK 01 MODE1/2352"), std::string::npos) << Bytes("disc.cue");
  // The data track's user data is the ISO; xorriso extracts its files.
  const std::string iso = Bytes("data.iso");
  const size_t blocks = iso.size() / 2048;
  std::string user;
  for (size_t b = 0; b < blocks; ++b) user += Frames(b, 1).substr(16, 2048);
  EXPECT_TRUE(user == iso);
  EXPECT_TRUE(Frames(0, blocks) == Bytes("data.bin"));
  std::ofstream(home.path() / "back.iso", std::ios::binary) << user;
  Sh("timeout 60 xorriso -osirrox on -indev back.iso -extract / out >/dev/null && diff -r src out");
  EXPECT_TRUE(Frames(blocks + 150, 375) == Bytes("music.bin"));
}

TEST_F(CueCli, VideoCdOfVcdimagerBurnsAsItWasMade) {
  QVTEST_REQUIRE_PROGRAM("vcdimager");
  QVTEST_REQUIRE_PROGRAM("vcd-info");
  Write("in.mpg", qvtest::TinyMpeg());
  Sh("vcdimager -t vcd2 -c vcd.cue -b vcd.bin in.mpg >/dev/null");
  BurnAndExport("vcd.cue");
  const std::string made = Bytes("vcd.bin");
  EXPECT_EQ(Bytes("disc.bin").size(), made.size());
  EXPECT_TRUE(Bytes("disc.bin") == made);
  std::string info;
  EXPECT_EQ(qvtest::RunCommand("vcd-info --no-banner -i " + At("disc.cue") + " 2>&1", &info), 0) << info;
}

TEST_F(CueCli, SheetsThatCannotBeRecordedAreRefusedNamingTheLine) {
  Write("short.bin", std::string(2352 * 10, '\1'));
  Write("fine.bin", std::string(2352 * 400, '\1'));
  const struct {
    const char* sheet;
    const char* line;
  } cases[] = {
      {"FILE \"fine.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\nFILE \"gone.bin\" BINARY\n"
       "  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n", "line 4"},
      {"FILE \"short.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n"
       "    INDEX 01 00:05:00\n", "line 2"},
      {"FILE \"fine.bin\" BINARY\n  TRACK 01 CDG\n    INDEX 01 00:00:00\n", "line 2"},
      {"FILE \"fine.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\nFILE \"short.bin\" BINARY\n"
       "  TRACK 02 MODE1/2048\n    INDEX 01 00:00:00\n", "line 5"},
  };
  ASSERT_EQ(Run("vdrive create cd --media cd-r"), 0) << out;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sheet);
    Write("bad.cue", c.sheet);
    EXPECT_EQ(Run("burn --drive cd --cue " + At("bad.cue")), 7) << out;
    EXPECT_NE(out.find(c.line), std::string::npos) << out;
    ASSERT_EQ(Run("--json info --drive cd"), 0) << out;
    EXPECT_EQ(nlohmann::json::parse(out, nullptr, false)["disc"]["status"], "blank") << out;
  }
}

}  // namespace
