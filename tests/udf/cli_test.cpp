// A user's files through the command onto every writable virtual DVD, as
// UDF and as DVD-Video, exported and compared byte for byte with what the
// disc should hold; and the image commands' refusals.
#include <algorithm>
#include <filesystem>

#include "support/cli_fixture.h"
#include "../iso9660/iso_support.h"

namespace {

namespace fs = std::filesystem;

// The committed VIDEO_TS folder: two title sets, the first of two chapters.
std::string VideoTs() { return qvtest::SourceDir() + "/tests/udf/fixtures/video_ts"; }

class UdfCli : public qvtest::CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    QVTEST_REQUIRE_PROGRAM("udfinfo");
    QVTEST_REQUIRE_PROGRAM("7z");
    QVTEST_REQUIRE_PROGRAM("lsdvd");
  }
  // lsdvd's titles (libdvdread reads the UDF side) and dvd_check.py's exit
  // status: whether the addresses inside the IFO and BUP files match the
  // files' places, which only --patch-ifo makes them do (the authoring tool
  // left a gap we do not).
  void ExpectDvdVideo(const std::string& image, int addressesWrong) {
    std::string titles;
    ASSERT_EQ(qvtest::RunCommand("lsdvd -x " + At(image) + " 2>/dev/null | grep -E '^Title'", &titles), 0) << titles;
    EXPECT_EQ(titles,
              "Title: 01, Length: 00:00:02.000 Chapters: 02, Cells: 02, Audio streams: 01, Subpictures: 00\n"
              "Title: 02, Length: 00:00:03.000 Chapters: 01, Cells: 01, Audio streams: 01, Subpictures: 00\n");
    EXPECT_EQ(qvtest::RunCommand("/usr/bin/python3 " + qvtest::SourceDir() + "/tests/udf/dvd_check.py " + At(image), &titles),
              addressesWrong)
        << titles;
  }
};

TEST_F(UdfCli, BurnsUdfAndDvdVideoOnEveryWritableDvd) {
  home.Write("files/docs/Grüße.txt", "umlauts\n");
  home.Write("files/docs/empty", "");
  home.Write("files/big.bin", std::string(300000, 'b'));
  for (const char* media : {"dvd-r", "dvd-rw", "dvd+r", "dvd+r-dl", "dvd+rw", "dvd-ram"}) {
    SCOPED_TRACE(media);
    std::string drive = media;
    std::replace(drive.begin(), drive.end(), '+', 'p');
    ASSERT_EQ(Run("vdrive create " + drive + " --media " + media), 0) << out;
    ASSERT_EQ(Run("burn --drive " + drive + " --udf --label MINE " + At("files")), 0) << out;
    ASSERT_EQ(Run("vdrive export " + drive + " --out " + At(drive + ".udf")), 0) << out;
    EXPECT_EQ(qviso::UdfProblems((home.path() / (drive + ".udf")).string(), (home.path() / "files").string()), "");
  }
  ASSERT_EQ(Run("vdrive create video --media dvd+r"), 0) << out;
  ASSERT_EQ(Run("burn --drive video --dvd-video '" + VideoTs() + "'"), 0) << out;
  ASSERT_EQ(Run("vdrive export video --out " + At("video.iso")), 0) << out;
  fs::create_directories(home.path() / "expected/AUDIO_TS");
  fs::copy(VideoTs(), home.path() / "expected/VIDEO_TS");
  EXPECT_EQ(qviso::UdfProblems((home.path() / "video.iso").string(), (home.path() / "expected").string()), "");
  ExpectDvdVideo("video.iso", 1);
  ASSERT_EQ(Run("image dvd-video --patch-ifo --out " + At("patched.iso") + " '" + VideoTs() + "'"), 0) << out;
  ExpectDvdVideo("patched.iso", 0);
}

TEST_F(UdfCli, ImagesAndTheirRefusals) {
  home.Write("src/a.txt", "a");
  ASSERT_EQ(Run("--json image udf --bridge --out " + At("a.udf") + " " + At("src")), 0) << out;
  EXPECT_NE(out.find("\"bridge\": true"), std::string::npos) << out;
  EXPECT_EQ(qviso::UdfProblems((home.path() / "a.udf").string(), (home.path() / "src").string()), "");
  // An empty root, pure and bridged: 7z refuses any tag whose CRC is wrong.
  fs::create_directories(home.path() / "empty");
  for (const std::string bridge : {"", "--bridge "}) {
    ASSERT_EQ(Run("image udf -q " + bridge + "--out " + At("e.udf") + " " + At("empty")), 0) << out;
    EXPECT_EQ(qviso::UdfProblems((home.path() / "e.udf").string(), (home.path() / "empty").string()), "") << bridge;
  }
  home.Write("not_video/readme.txt", "x");
  // The files of a VIDEO_TS folder in the order players expect: title sets
  // up to the first gap, each set's IFO, its VOBs by number, its BUP; names
  // in any case. A set without its BUP is refused.
  for (const char* f : {"video_ts.ifo", "VIDEO_TS.VOB", "VIDEO_TS.BUP", "VTS_01_3.VOB", "VTS_01_0.IFO", "VTS_01_1.VOB",
                        "VTS_01_0.BUP", "VTS_02_0.IFO", "VTS_02_0.BUP", "VTS_04_0.IFO", "VTS_04_0.BUP"})
    home.Write(std::string("sets/VIDEO_TS/") + f, std::string(3000, f[0]));
  ASSERT_EQ(Run("image dvd-video -q --out " + At("sets.iso") + " " + At("sets/VIDEO_TS")), 0) << out;
  ASSERT_EQ(qvtest::RunCommand("/usr/bin/python3 " + qvtest::SourceDir() + "/tests/udf/dvd_check.py --order " + At("sets.iso"), &out), 0);
  EXPECT_EQ(out, "VIDEO_TS.IFO VIDEO_TS.VOB VIDEO_TS.BUP VTS_01_0.IFO VTS_01_1.VOB VTS_01_3.VOB VTS_01_0.BUP VTS_02_0.IFO "
                 "VTS_02_0.BUP\n");
  fs::remove(home.path() / "sets/VIDEO_TS/VTS_02_0.BUP");
  struct Case {
    std::string arguments;
    int code;
    const char* message;
  } cases[] = {
      {"image udf --out " + At("x.udf") + " " + At("missing"), 3, "no such file or folder"},
      {"image dvd-video --out " + At("x.iso") + " " + At("not_video"), 3, "VIDEO_TS.IFO"},
      {"image dvd-video --out " + At("x.iso") + " " + At("missing"), 3, "no such folder"},
      {"image dvd-video --out " + At("x.iso") + " " + At("sets/VIDEO_TS"), 3, "VTS_02_0.BUP is missing"},
      {"burn --dvd-video " + At("sets/VIDEO_TS"), 3, "VTS_02_0.BUP is missing"},
      {"image dvd-video --out " + At("x.iso") + " " + At("src") + " " + At("src"), 2, "one VIDEO_TS folder"},
      {"burn --dvd-video " + At("src") + " " + At("src"), 2, "one of them"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Run(c.arguments), c.code) << c.arguments << "\n" << out;
    EXPECT_NE(out.find(c.message), std::string::npos) << out;
  }
  EXPECT_FALSE(fs::exists(home.path() / "x.iso"));
}

}  // namespace
