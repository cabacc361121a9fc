// CD-Text in session-at-once and raw disc-at-once, from a cue sheet (its
// strings, then the drive's exported CDTEXTFILE burnt again) and from the
// options; cue sheets burnt raw. Onto virtual CD-Rs through the CLI, the
// drive's BIN/CUE judged by cd-info and the samples equal to the sources.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <nlohmann/json.hpp>

#include "support/cli_fixture.h"

namespace {

class CueTextCli : public qvtest::CliTest {
 protected:
  void Write(const std::string& name, const std::string& text) {
    std::ofstream(home.path() / name, std::ios::binary) << text;
  }
  std::string Bytes(const std::string& name) { return qvtest::ReadFile(home.path() / name); }
  void Sh(const std::string& command) {
    std::string text;
    ASSERT_EQ(qvtest::RunCommand("cd " + At("") + " && " + command + " 2>&1", &text), 0) << command << "\n" << text;
  }
  nlohmann::json Json() { return nlohmann::json::parse(out.substr(std::min(out.find('{'), out.size())), nullptr, false); }
  // The drive's BIN/CUE as cd-info reads it.
  std::string Export(const std::string& drive) {
    EXPECT_EQ(Run("vdrive export " + drive + " --out " + At(drive + ".bin") + " --cue " + At(drive + ".cue")), 0) << out;
    std::string info;
    EXPECT_EQ(qvtest::RunCommand("cd-info --no-header --no-device-info --no-cddb --cue-file " + At(drive + ".cue") +
                                     " 2>&1", &info), 0) << info;
    return info;
  }
  static void ExpectAll(const std::string& info, std::initializer_list<const char*> wants) {
    for (const char* want : wants) EXPECT_NE(info.find(want), std::string::npos) << want << " in\n" << info;
  }
  std::string Status(const std::string& drive) {
    return Run("--json info --drive " + drive) == 0 ? Json()["disc"].value("status", "?") : "?";
  }
};

TEST_F(CueTextCli, SheetWithCdTextInSessionAtOnceAndRaw) {
  QVTEST_REQUIRE_PROGRAM("sox");
  QVTEST_REQUIRE_PROGRAM("cd-info");
  // a.bin: track 1 (5 s) with index 2, track 2's stored one-second pause,
  // track 2 (4 s); d.wav: track 3 (5 s) after a one-second PREGAP.
  Sh("sox -n -r 44100 -c 2 -b 16 -t raw a.bin synth 10 sine 300");
  Sh("sox -n -r 44100 -c 2 -b 16 d.wav synth 5 sine 700 && sox d.wav -t raw d.raw");
  Write("in.cue",
        "CATALOG 4006381333931\nTITLE \"Cue Album\"\nPERFORMER \"The Cuers\"\nFILE \"a.bin\" BINARY\n"
        "  TRACK 01 AUDIO\n    TITLE \"First\"\n    PERFORMER \"Ann\"\n    SONGWRITER \"Sam\"\n"
        "    INDEX 01 00:00:00\n    INDEX 02 00:02:00\n"
        "  TRACK 02 AUDIO\n    TITLE \"Second\"\n    ISRC USABC9900002\n    INDEX 00 00:05:00\n    INDEX 01 00:06:00\n"
        "FILE \"d.wav\" WAVE\n  TRACK 03 AUDIO\n    TITLE \"Third\"\n    PREGAP 00:01:00\n    INDEX 01 00:00:00\n");
  const size_t starts[] = {0, 450, 825};
  for (const std::string mode : {"sao", "raw"}) {
    SCOPED_TRACE(mode);
    const std::string flag = mode == "raw" ? " --raw" : "";
    ASSERT_EQ(Run("vdrive create " + mode + " --media cd-r"), 0) << out;
    ASSERT_EQ(Run("--json burn --drive " + mode + " --cue " + At("in.cue") + flag), 0) << out;
    EXPECT_EQ(Json().value("raw", mode != "raw"), mode == "raw") << out;
    EXPECT_TRUE(Json().value("cdText", false)) << out;
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
    const std::string bin = Bytes(mode + ".bin");
    ASSERT_GE(bin.size(), 1200u * 2352);
    EXPECT_TRUE(bin.compare(0, 750 * 2352, Bytes("a.bin")) == 0) << "tracks 1 and 2 with the stored pause";
    EXPECT_EQ(bin.substr(750 * 2352, 75 * 2352).find_first_not_of('\0'), std::string::npos) << "the PREGAP";
    EXPECT_TRUE(bin.compare(825 * 2352, 375 * 2352, Bytes("d.raw")) == 0) << "track 3";

    // The export burnt again with its CDTEXTFILE alone: the same disc.
    const std::string again = mode + "2";
    Write(again + ".cue", std::regex_replace(Bytes(mode + ".cue"), std::regex("[ \\t]*(TITLE|PERFORMER|SONGWRITER) [^\\n]*\\n"), ""));
    ASSERT_EQ(Bytes(again + ".cue").find("TITLE"), std::string::npos);
    ASSERT_EQ(Run("vdrive create " + again + " --media cd-r"), 0) << out;
    ASSERT_EQ(Run("burn --drive " + again + " --cue " + At(again + ".cue") + flag), 0) << out;
    info = Export(again);
    ExpectAll(info, {"Cue Album", "The Cuers", "First", "Ann", "Sam", "Second", "Third"});
    EXPECT_TRUE(Bytes(again + ".bin") == bin);
  }
}

TEST_F(CueTextCli, AudioFilesWithCdTextInSessionAtOnce) {
  QVTEST_REQUIRE_PROGRAM("sox");
  QVTEST_REQUIRE_PROGRAM("cd-info");
  Sh("sox -n -r 44100 -c 2 -b 16 t1.wav synth 4 sine 300 && sox t1.wav -t raw t1.raw");
  Sh("sox -n -r 44100 -c 2 -b 16 t2.wav synth 5 sine 500 && sox t2.wav -t raw t2.raw");
  ASSERT_EQ(Run("vdrive create cd --media cd-r"), 0) << out;
  ASSERT_EQ(Run("--json burn --drive cd --audio --sao --title 'Sao Album' --performer Sal --track-title 2=Two " +
                At("t1.wav") + " " + At("t2.wav")), 0) << out;
  EXPECT_TRUE(Json().value("cdText", false)) << out;
  const std::string info = Export("cd");
  ExpectAll(info, {"Sao Album", "Sal", "Two"});
  const std::string bin = Bytes("cd.bin");
  EXPECT_TRUE(bin.compare(0, 300 * 2352, Bytes("t1.raw")) == 0);
  EXPECT_TRUE(bin.compare(450 * 2352, 375 * 2352, Bytes("t2.raw")) == 0);
}

// What a raw recording cannot carry is refused before the drive is
// written, naming the sheet's line.
TEST_F(CueTextCli, SheetsARawRecordingCannotCarryAreRefused) {
  Write("tone.bin", std::string(2352 * 400, '\1'));
  const struct {
    const char* sheet;
    const char* flags;
    const char* says;
  } cases[] = {
      {"FILE \"tone.bin\" BINARY\n  TRACK 01 MODE2/2352\n    INDEX 01 00:00:00\n", " --raw", "line 2"},
      {"FILE \"tone.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n    POSTGAP 00:01:00\n", " --raw", "line 2"},
      {"FILE \"tone.bin\" BINARY\n  TRACK 01 AUDIO\n    PREGAP 00:03:00\n    INDEX 01 00:00:00\n", " --raw", "line 2"},
      {"FILE \"tone.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 00 00:00:00\n    INDEX 01 00:01:00\n", " --raw", "line 2"},
      {"FILE \"tone.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n    INDEX 01 00:03:00\n",
       " --raw", "line 2"},
  };
  ASSERT_EQ(Run("vdrive create cd --media cd-r"), 0) << out;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sheet);
    Write("bad.cue", c.sheet);
    EXPECT_EQ(Run("burn --drive cd --cue " + At("bad.cue") + c.flags), 7) << out;
    EXPECT_NE(out.find(c.says), std::string::npos) << out;
    EXPECT_EQ(Status("cd"), "blank");
  }
}

}  // namespace
