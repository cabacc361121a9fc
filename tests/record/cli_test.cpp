// The quorvane command's burn, erase, format and vdrive export against
// virtual drives, checked with outside tools.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "support/test_support.h"

namespace {

class BurnCli : public ::testing::Test {
 protected:
  void SetUp() override { setenv("QUORVANE_VDRIVE_HOME", home.path().c_str(), 1); }
  void TearDown() override { unsetenv("QUORVANE_VDRIVE_HOME"); }
  int Run(const std::string& args, std::string* out = nullptr) {
    std::string text;
    const int rc = qvtest::RunCommand(std::string(QUORVANE_BINARY_DIR) + "/cli/quorvane " + args + " 2>&1", &text);
    if (out) *out = text;
    return rc;
  }
  qvtest::TempDir home;
};

TEST_F(BurnCli, BurnExportAndExtractOnTheDefaultDrive) {
  QVTEST_REQUIRE_PROGRAM("xorriso");
  QVTEST_REQUIRE_PROGRAM("bsdtar");
  const auto folder = home.path() / "src";
  std::filesystem::create_directories(folder / "sub");
  std::ofstream(folder / "sub" / "hello.txt") << "hello from the disc\n";
  std::string out;
  const auto iso = home.path() / "in.iso";
  ASSERT_EQ(qvtest::RunCommand("xorriso -as mkisofs -quiet -J -r -o '" + iso.string() + "' '" + folder.string() + "'",
                               &out),
            0)
      << out;
  // No drive named: the default one is made with a blank DVD+RW.
  ASSERT_EQ(Run("burn --image '" + iso.string() + "'", &out), 0) << out;
  EXPECT_NE(out.find("blank dvd+rw"), std::string::npos) << out;
  const auto exported = home.path() / "out.iso";
  ASSERT_EQ(Run("vdrive export default --out '" + exported.string() + "'", &out), 0) << out;
  ASSERT_EQ(qvtest::RunCommand("bsdtar -xOf '" + exported.string() + "' sub/hello.txt", &out), 0) << out;
  EXPECT_EQ(out, "hello from the disc\n");
}

TEST_F(BurnCli, EraseFormatAndRefusals) {
  std::string out;
  ASSERT_EQ(Run("vdrive create rw --media cd-rw", &out), 0) << out;
  EXPECT_EQ(Run("erase --drive rw", &out), 0) << out;
  EXPECT_EQ(Run("format --drive rw", &out), 2) << out;  // a CD-RW has no format to make
  ASSERT_EQ(Run("vdrive create plus --media dvd+rw", &out), 0) << out;
  EXPECT_EQ(Run("format --drive plus", &out), 0) << out;
  EXPECT_EQ(Run("vdrive export plus --out '" + (home.path() / "x.iso").string() + "'", &out), 1) << out;
  EXPECT_NE(out.find("no data track"), std::string::npos) << out;
  EXPECT_EQ(Run("burn --drive plus", &out), 2) << out;  // nothing to burn
  EXPECT_EQ(Run("burn --drive plus '" + (home.path() / "missing").string() + "'", &out), 3) << out;
  EXPECT_NE(out.find("no such file or folder"), std::string::npos) << out;
}

// Folders mastered on the fly: the default drive's DVD+RW, then two
// sessions on a CD-R, the second built where it lands.
TEST_F(BurnCli, FoldersMasteredOnTheFly) {
  QVTEST_REQUIRE_PROGRAM("xorriso");
  QVTEST_REQUIRE_PROGRAM("bsdtar");
  std::filesystem::create_directories(home.path() / "one" / "sub");
  std::ofstream(home.path() / "one" / "sub" / "hello.txt") << "first session\n";
  std::ofstream(home.path() / "loose.txt") << "a file at the root\n";
  std::filesystem::create_directories(home.path() / "two");
  std::ofstream(home.path() / "two" / "later.txt") << "second session\n";
  std::string out;
  // The folder's contents and the file land at the root, under the label.
  ASSERT_EQ(Run("burn --label MY_FOLDERS '" + (home.path() / "one").string() + "' '" +
                    (home.path() / "loose.txt").string() + "'",
                &out),
            0)
      << out;
  const auto plus = home.path() / "plus.iso";
  ASSERT_EQ(Run("vdrive export default --out '" + plus.string() + "'", &out), 0) << out;
  ASSERT_EQ(qvtest::RunCommand("bsdtar -xOf '" + plus.string() + "' sub/hello.txt", &out), 0) << out;
  EXPECT_EQ(out, "first session\n");
  ASSERT_EQ(qvtest::RunCommand("bsdtar -xOf '" + plus.string() + "' loose.txt", &out), 0) << out;
  EXPECT_EQ(out, "a file at the root\n");
  ASSERT_EQ(qvtest::RunCommand("xorriso -indev stdio:'" + plus.string() + "' -pvd_info 2>&1", &out), 0) << out;
  EXPECT_NE(out.find("Volume Id    : MY_FOLDERS"), std::string::npos) << out;

  ASSERT_EQ(Run("vdrive create cdr --media cd-r", &out), 0) << out;
  ASSERT_EQ(Run("burn --drive cdr --multisession '" + (home.path() / "one").string() + "'", &out), 0) << out;
  ASSERT_EQ(Run("burn --drive cdr --multisession '" + (home.path() / "two").string() + "'", &out), 0) << out;
  ASSERT_EQ(Run("--json info --drive cdr", &out), 0) << out;
  const auto tracks = nlohmann::json::parse(out)["disc"]["tracks"];
  ASSERT_EQ(tracks.size(), 2u) << out;
  const auto cd = home.path() / "cd.iso";
  ASSERT_EQ(Run("vdrive export cdr --out '" + cd.string() + "'", &out), 0) << out;
  // The first session as it was; the second read where it starts.
  ASSERT_EQ(qvtest::RunCommand("bsdtar -xOf '" + cd.string() + "' sub/hello.txt", &out), 0) << out;
  EXPECT_EQ(out, "first session\n");
  const auto second = home.path() / "second";
  ASSERT_EQ(qvtest::RunCommand("xorriso -indev stdio:'" + cd.string() + "' -load sbsector " +
                                   std::to_string(tracks[1]["start"].get<int>()) + " -osirrox on -extract / '" +
                                   second.string() + "' 2>&1",
                               &out),
            0)
      << out;
  std::ifstream later(second / "later.txt");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(later), {}), "second session\n");
}

}  // namespace
