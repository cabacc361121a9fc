// A user's MPEG files through quorvane burn --vcd / --svcd, track by track
// and session at once, onto a virtual CD-R, exported as BIN/CUE and read by
// vcdimager's tools; the data track through the ISO 9660 checkers.
#include "support/cli_fixture.h"

namespace {

struct Kind {
  const char* flag;
  const char* target;  // ffmpeg's
  const char* detected;
  const char* folder;
  const char* mpegFile;
  const char* info;
};
const Kind kKinds[] = {
    {"--vcd", "ntsc-vcd", "VCD 2.0 detected", "VCD", "/MPEGAV/AVSEQ01.DAT", "VCD/INFO.VCD"},
    {"--svcd", "ntsc-svcd", "SVCD detected", "SVCD", "/MPEG2/AVSEQ01.MPG", "SVCD/INFO.SVD"},
};

// Track by track or with --sao: the same disc either way.
class VideoCdCli : public qvtest::CliTest, public ::testing::WithParamInterface<std::tuple<Kind, bool>> {
 protected:
  int Tool(const std::string& command) { return InHome(command, &out); }
  // One second of test picture and tone, as ffmpeg makes it for the disc.
  std::string Movie(const Kind& k, const std::string& name) {
    EXPECT_EQ(Tool(std::string("ffmpeg -nostdin -loglevel error -f lavfi -i testsrc=rate=29.97 -f lavfi -i ") +
                   "sine=sample_rate=44100 -t 1 -target " + k.target + " " + name),
              0) << out;
    return name;
  }
};

TEST_P(VideoCdCli, BurntDiscReadsBackWithTheOutsideTools) {
  const Kind& k = std::get<0>(GetParam());
  const bool sao = std::get<1>(GetParam());
  for (const char* tool : {"ffmpeg", "vcd-info", "vcdxrip", "xorriso", "isoinfo", "7z"}) QVTEST_REQUIRE_PROGRAM(tool);
  const std::string movie = Movie(k, "movie.mpg");
  ASSERT_EQ(Run("vdrive create cd --media cd-r"), 0) << out;
  ASSERT_EQ(Run(std::string("burn --drive cd ") + k.flag + (sao ? " --sao" : "") + " --album 'Summer 2026' " + At(movie)),
            0) << out;
  ASSERT_EQ(Run("vdrive export cd --out " + At("disc.bin") + " --cue " + At("disc.cue")), 0) << out;
  const std::string cue = File("disc.cue");
  EXPECT_NE(cue.find("TRACK 01 MODE2/2352"), std::string::npos) << cue;
  EXPECT_NE(cue.find("TRACK 02 MODE2/2352"), std::string::npos) << cue;
  if (sao) {
    // The pause before the stream: Mode 2 sectors whose subheaders say
    // Form 2, as the Video CD layout has them, not Form 1 zeros.
    const std::string bin = File("disc.bin");
    ASSERT_GT(bin.size(), 748u * 2352);
    for (const size_t lba : {598u, 747u})
      EXPECT_EQ(bin.substr(lba * 2352 + 15, 9), std::string("\2\0\0\x20\0\0\0\x20\0", 9)) << lba;
  }

  // Info, entries and tracks as a player's software reads them.
  ASSERT_EQ(Tool("vcd-info --no-banner -c disc.cue"), 0) << out;
  for (const std::string& want : {std::string(k.detected), std::string("album id: `Summer 2026'"),
                                 std::string("volume count: 1"), std::string("entries: 1"),
                                 std::string("ENTRY[00]: track#  1 (SEQUENCE[0]), LSN    748"),
                                 std::string("2: 00:11:73  000748  XA")})
    EXPECT_NE(out.find(want), std::string::npos) << want << "\n" << out;
  EXPECT_EQ(out.find("WARN"), std::string::npos) << out;
  EXPECT_EQ(out.find("ERROR"), std::string::npos) << out;

  // The stream comes back as it went in.
  ASSERT_EQ(Tool("mkdir rip && cd rip && vcdxrip --cue-file=../disc.cue"), 0) << out;
  const std::string source = qvtest::ReadFile(home.path() / movie);
  const std::string ripped = qvtest::ReadFile(home.path() / "rip" / "avseq01.mpg");
  EXPECT_EQ(ripped.size(), source.size());
  EXPECT_TRUE(ripped == source);

  // The file system is an ISO 9660 volume the checkers take, with the
  // control files where readers look. It is read over the whole disc: the
  // MPEG file's extent lies in the second track, past the volume's own
  // space as the format lays it out (so bsdtar, which refuses that, is left
  // out: it refuses vcdimager's discs the same way).
  ASSERT_EQ(Run("vdrive export cd --out " + At("disc.iso")), 0) << out;
  ASSERT_EQ(Tool("timeout 60 xorriso -abort_on NEVER -return_with WARNING 32 -indev disc.iso -find / -exec lsdl"), 0)
      << out;
  EXPECT_NE(out.find(k.mpegFile), std::string::npos) << out;
  ASSERT_EQ(Tool("7z t disc.iso"), 0) << out;
  ASSERT_EQ(Tool("isoinfo -d -i disc.iso"), 0) << out;
  EXPECT_NE(out.find("Volume id: Summer 2026"), std::string::npos) << out;
  ASSERT_EQ(Tool(std::string("/usr/bin/python3 -c \"import pycdlib, sys; p = pycdlib.PyCdlib(); p.open('disc.iso'); "
                             "p.get_file_from_iso('info', iso_path='/") + k.info + ";1')\""),
            0) << out;
  const std::string info = File("info");
  ASSERT_EQ(info.size(), 2048u);
  EXPECT_EQ(info.substr(10, 20), std::string("Summer 2026     \0\1\0\1", 20));
}

// Each format and each way of writing once.
INSTANTIATE_TEST_SUITE_P(Formats, VideoCdCli, ::testing::Values(std::tuple{kKinds[0], false}, std::tuple{kKinds[1], true}),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).flag + 2) + (std::get<1>(info.param) ? "Sao" : "");
                         });

// A wrong stream is refused with its exit code before the drive is opened,
// the disc left blank. (The kinds of wrong stream are the engine's test.)
class VideoCdCliRefusal : public qvtest::CliTest {};

TEST_F(VideoCdCliRefusal, AWrongStreamLeavesTheDiscBlank) {
  home.Write("m.mp4", std::string("\0\0\0\x20" "ftypisom", 12) + std::string(4636, '\0'));
  ASSERT_EQ(Run("vdrive create cd --media cd-r"), 0) << out;
  EXPECT_EQ(Run("burn --drive cd --vcd " + At("m.mp4")), 7) << out;
  EXPECT_NE(out.find("not an MPEG-1 system stream"), std::string::npos) << out;
  EXPECT_EQ(Disc("cd")["status"], "blank");
  // A good stream, but the disc cannot take a Video CD, either way.
  const std::string mpeg = qvtest::SourceDir() + "/tests/files/fuzz/seeds/vcd-two-packs.mpg";
  ASSERT_EQ(Run("vdrive create dvd --media dvd-r"), 0) << out;
  for (const char* mode : {"", " --sao"}) EXPECT_EQ(Run(std::string("burn --drive dvd --vcd") + mode + " " + mpeg), 7) << out;
}

}  // namespace
