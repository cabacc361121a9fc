// A user's MPEG files through quorvane burn --vcd / --svcd onto a virtual
// CD-R, exported as BIN/CUE and read by vcdimager's tools; the data track
// through the ISO 9660 checkers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "support/test_support.h"

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

class VideoCdCli : public ::testing::TestWithParam<Kind> {
 protected:
  void SetUp() override { setenv("QUORVANE_VDRIVE_HOME", home.path().c_str(), 1); }
  void TearDown() override { unsetenv("QUORVANE_VDRIVE_HOME"); }
  int Run(const std::string& args) {
    return qvtest::RunCommand(std::string(QUORVANE_BINARY_DIR) + "/cli/quorvane " + args + " 2>&1", &out);
  }
  std::string At(const std::string& name) { return "'" + (home.path() / name).string() + "'"; }
  int Tool(const std::string& command) { return qvtest::RunCommand("cd '" + home.path().string() + "' && " + command + " 2>&1", &out); }
  // One second of test picture and tone, as ffmpeg makes it for the disc.
  std::string Movie(const Kind& k, const std::string& name) {
    EXPECT_EQ(Tool(std::string("ffmpeg -nostdin -loglevel error -f lavfi -i testsrc=rate=29.97 -f lavfi -i ") +
                   "sine=sample_rate=44100 -t 1 -target " + k.target + " " + name),
              0) << out;
    return name;
  }

  qvtest::TempDir home;
  std::string out;
};

TEST_P(VideoCdCli, BurntDiscReadsBackWithTheOutsideTools) {
  const Kind& k = GetParam();
  for (const char* tool : {"ffmpeg", "vcd-info", "vcdxrip", "xorriso", "isoinfo", "7z"}) QVTEST_REQUIRE_PROGRAM(tool);
  const std::string movie = Movie(k, "movie.mpg");
  ASSERT_EQ(Run("vdrive create cd --media cd-r"), 0) << out;
  ASSERT_EQ(Run(std::string("burn --drive cd ") + k.flag + " --album 'Summer 2026' " + At(movie)), 0) << out;
  ASSERT_EQ(Run("vdrive export cd --out " + At("disc.bin") + " --cue " + At("disc.cue")), 0) << out;
  const std::string cue = qvtest::ReadFile(home.path() / "disc.cue");
  EXPECT_NE(cue.find("TRACK 01 MODE2/2352"), std::string::npos) << cue;
  EXPECT_NE(cue.find("TRACK 02 MODE2/2352"), std::string::npos) << cue;

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
  const std::string info = qvtest::ReadFile(home.path() / "info");
  ASSERT_EQ(info.size(), 2048u);
  EXPECT_EQ(info.substr(10, 20), std::string("Summer 2026     \0\1\0\1", 20));
}

INSTANTIATE_TEST_SUITE_P(Formats, VideoCdCli, ::testing::ValuesIn(kKinds),
                         [](const auto& info) { return std::string(info.param.flag + 2); });

// Wrong streams are refused before the drive is opened; the disc stays blank.
TEST(VideoCdCliRefusal, WrongStreamsLeaveTheDiscBlank) {
  QVTEST_REQUIRE_PROGRAM("ffmpeg");
  qvtest::TempDir home;
  setenv("QUORVANE_VDRIVE_HOME", home.path().c_str(), 1);
  std::string out;
  const std::string cli = std::string(QUORVANE_BINARY_DIR) + "/cli/quorvane ";
  const std::string in = "cd '" + home.path().string() + "' && ";
  ASSERT_EQ(qvtest::RunCommand(cli + "vdrive create cd --media cd-r 2>&1", &out), 0) << out;
  ASSERT_EQ(qvtest::RunCommand(in + "ffmpeg -nostdin -loglevel error -f lavfi -i testsrc=size=64x48:rate=25 -t 1 "
                                    "-pix_fmt yuv420p m.mp4 && ffmpeg -nostdin -loglevel error -f lavfi -i "
                                    "testsrc=rate=29.97 -t 1 -target ntsc-svcd s.mpg && head -c 5000 s.mpg > cut.mpg 2>&1",
                               &out),
            0) << out;
  const struct {
    const char* args;
    const char* why;
  } cases[] = {{"--vcd m.mp4", "not an MPEG-1 system stream"},
               {"--svcd cut.mpg", "no whole number of 2324-byte packs"},
               {"--vcd s.mpg", "an MPEG-2 program stream, where"}};
  for (const auto& c : cases) {
    EXPECT_EQ(qvtest::RunCommand(in + cli + "burn --drive cd " + c.args + " 2>&1", &out), 7) << out;
    EXPECT_NE(out.find(c.why), std::string::npos) << out;
  }
  ASSERT_EQ(qvtest::RunCommand(cli + "--json info --drive cd 2>&1", &out), 0) << out;
  EXPECT_NE(out.find("\"blank\""), std::string::npos) << out;
  unsetenv("QUORVANE_VDRIVE_HOME");
}

}  // namespace
