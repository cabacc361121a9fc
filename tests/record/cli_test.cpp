// The quorvane command's burn, erase, format and vdrive export against
// virtual drives, checked with outside tools.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/test_support.h"

namespace {

class BurnCli : public ::testing::Test {
 protected:
  void SetUp() override { setenv("QUORVANE_VDRIVE_HOME", home.path().c_str(), 1); }
  void TearDown() override { unsetenv("QUORVANE_VDRIVE_HOME"); }
  int Run(const std::string& args) {
    return qvtest::RunCommand(std::string(QUORVANE_BINARY_DIR) + "/cli/quorvane " + args + " 2>&1", &out);
  }
  // A path under the home, quoted for the shell.
  std::string At(const std::string& name) { return "'" + (home.path() / name).string() + "'"; }
  // One file of an image, as bsdtar extracts it.
  std::string Extract(const std::string& image, const std::string& file) {
    std::string text;
    EXPECT_EQ(qvtest::RunCommand("bsdtar -xOf " + At(image) + " " + file, &text), 0) << text;
    return text;
  }
  qvtest::TempDir home;
  std::string out;
};

TEST_F(BurnCli, BurnExportAndExtractOnTheDefaultDrive) {
  QVTEST_REQUIRE_PROGRAM("xorriso");
  QVTEST_REQUIRE_PROGRAM("bsdtar");
  home.Write("src/sub/hello.txt", "hello from the disc\n");
  ASSERT_EQ(qvtest::RunCommand("xorriso -as mkisofs -quiet -J -r -o " + At("in.iso") + " " + At("src"), &out), 0) << out;
  // No drive named: the default one is made with a blank DVD+RW.
  ASSERT_EQ(Run("burn --image " + At("in.iso")), 0) << out;
  EXPECT_NE(out.find("blank dvd+rw"), std::string::npos) << out;
  ASSERT_EQ(Run("vdrive export default --out " + At("out.iso")), 0) << out;
  EXPECT_EQ(Extract("out.iso", "sub/hello.txt"), "hello from the disc\n");
}

// Each must change the disc: a written CD-RW reads blank and empty after
// erase, an unformatted DVD+RW reads formatted after format.
TEST_F(BurnCli, EraseAndFormatChangeTheDisc) {
  home.Write("src/a.txt", "on the disc\n");
  ASSERT_EQ(Run("vdrive create rw --media cd-rw"), 0) << out;
  ASSERT_EQ(Run("burn --drive rw " + At("src")), 0) << out;
  ASSERT_EQ(Run("erase --drive rw"), 0) << out;
  ASSERT_EQ(Run("--json info --drive rw"), 0) << out;
  const auto disc = nlohmann::json::parse(out)["disc"];
  EXPECT_EQ(disc["status"], "blank") << out;
  EXPECT_TRUE(disc["tracks"].empty()) << out;
  EXPECT_EQ(disc["free"]["blocks"], disc["atip"]["capacityBlocks"]) << out;

  ASSERT_EQ(Run("vdrive create plus --media dvd+rw"), 0) << out;
  ASSERT_EQ(Run("vdrive insert plus --disc " + std::string(QUORVANE_SOURCE_DIR) + "/vdrive/discs/dvd+rw-unformatted.json"), 0);
  ASSERT_EQ(Run("format --drive plus"), 0) << out;
  ASSERT_EQ(Run("--json vdrive list"), 0) << out;
  EXPECT_EQ(nlohmann::json::parse(out)["drives"][0]["disc"]["formatted"], true) << out;
  EXPECT_EQ(Run("burn --drive plus"), 2) << out;  // nothing to burn
}

// Folders mastered on the fly: the default drive's DVD+RW, then two
// sessions on a CD-R, the second built where it lands.
TEST_F(BurnCli, FoldersMasteredOnTheFly) {
  QVTEST_REQUIRE_PROGRAM("xorriso");
  QVTEST_REQUIRE_PROGRAM("bsdtar");
  home.Write("one/sub/hello.txt", "first session\n");
  home.Write("loose.txt", "a file at the root\n");
  home.Write("two/later.txt", "second session\n");
  // The folder's contents and the file land at the root, under the label.
  ASSERT_EQ(Run("burn --label MY_FOLDERS " + At("one") + " " + At("loose.txt")), 0) << out;
  ASSERT_EQ(Run("vdrive export default --out " + At("plus.iso")), 0) << out;
  EXPECT_EQ(Extract("plus.iso", "sub/hello.txt"), "first session\n");
  EXPECT_EQ(Extract("plus.iso", "loose.txt"), "a file at the root\n");
  ASSERT_EQ(qvtest::RunCommand("xorriso -indev stdio:" + At("plus.iso") + " -pvd_info 2>&1", &out), 0) << out;
  EXPECT_NE(out.find("Volume Id    : MY_FOLDERS"), std::string::npos) << out;

  ASSERT_EQ(Run("vdrive create cdr --media cd-r"), 0) << out;
  ASSERT_EQ(Run("burn --drive cdr --multisession " + At("one")), 0) << out;
  ASSERT_EQ(Run("burn --drive cdr --multisession " + At("two")), 0) << out;
  ASSERT_EQ(Run("--json info --drive cdr"), 0) << out;
  const auto tracks = nlohmann::json::parse(out)["disc"]["tracks"];
  ASSERT_EQ(tracks.size(), 2u) << out;
  ASSERT_EQ(Run("vdrive export cdr --out " + At("cd.iso")), 0) << out;
  // The first session as it was; the second read where it starts.
  EXPECT_EQ(Extract("cd.iso", "sub/hello.txt"), "first session\n");
  ASSERT_EQ(qvtest::RunCommand("xorriso -indev stdio:" + At("cd.iso") + " -load sbsector " +
                                   std::to_string(tracks[1]["start"].get<int>()) + " -osirrox on -extract / " +
                                   At("second") + " 2>&1",
                               &out),
            0)
      << out;
  EXPECT_EQ(qvtest::ReadFile(home.path() / "second" / "later.txt"), "second session\n");
}

}  // namespace
