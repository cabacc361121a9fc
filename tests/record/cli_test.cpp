// The quorvane command's burn, erase, format and vdrive export against
// virtual drives, checked with outside tools.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

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
  EXPECT_EQ(Run("burn --drive plus " + home.path().string(), &out), 7) << out;
  EXPECT_NE(out.find("--image"), std::string::npos) << out;
}

}  // namespace
