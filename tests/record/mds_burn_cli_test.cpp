// burn --mds of a grabbed DVD: its parts, in order, onto a blank DVD-R,
// grabbed again the same and read by xorriso; a grabbed CD of two
// sessions is refused before the blank disc is touched.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/cli_fixture.h"

namespace {

namespace fs = std::filesystem;

class MdsBurnCli : public qvtest::CliTest {
 protected:
  // Whether two grabs left the same parts, byte for byte (cmp: the parts
  // are hundreds of megabytes).
  bool SameParts(size_t parts) {
    for (size_t i = 0; i < parts; ++i) {
      const std::string ext = i == 0 ? ".xmf" : ".xm" + std::to_string(i);
      if (qvtest::RunCommand("cmp -s " + At("A" + ext) + " " + At("B" + ext)) != 0) return false;
    }
    return !fs::exists(home / ("B.xm" + std::to_string(parts)));
  }
  std::string Status(const std::string& drive) {
    if (Run("--json info --drive " + drive) != 0) return "?";
    return nlohmann::json::parse(out.substr(std::min(out.find('{'), out.size())), nullptr, false)["disc"].value("status", "?");
  }
};

TEST_F(MdsBurnCli, GrabbedDvdBurnsBackIdentical) {
  QVTEST_REQUIRE_PROGRAM("xorriso");
  home.Write("files/a.txt", "alpha\n");
  home.Write("files/deep/b.bin", std::string(300000, 'b'));
  // Just over one part of 200 MB, each block holding its address: parts
  // read out of order would show. Whole ECC blocks of 16 sectors, which is
  // what a DVD-R holds.
  home.Write("two-parts.json", R"({"media": "dvd-rom", "sessions": [{"closed": true, "tracks": [{"blocks": 103008, "source": "counter"}]}]})");
  const struct {
    const char* what;
    const char* media;
    std::string make;
    size_t parts;
  } cases[] = {
      {"a DVD-R burnt with files", "dvd-r", "burn --drive src " + At("files"), 1},
      {"a DVD-ROM of two parts", "dvd-rom", "vdrive insert src --disc " + At("two-parts.json"), 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(Run(std::string("vdrive create src --media ") + c.media), 0) << out;
    ASSERT_EQ(Run(c.make), 0) << out;
    ASSERT_EQ(Run("grab --drive src --disc --part-size 200 --out " + At("A")), 0) << out;
    EXPECT_EQ(fs::exists(home / "A.xm1"), c.parts == 2);
    ASSERT_EQ(Run("vdrive create dst --media dvd-r"), 0) << out;
    ASSERT_EQ(Run("--json burn --drive dst --mds " + At("A.mds")), 0) << out;
    ASSERT_EQ(Run("grab --drive dst --disc --part-size 200 --out " + At("B")), 0) << out;
    EXPECT_TRUE(SameParts(c.parts)) << "the grabs differ";
    if (c.parts == 1) {
      // What a reader finds on the new disc: the user's files.
      ASSERT_EQ(Run("vdrive export dst --out " + At("dst.iso")), 0) << out;
      std::string x;
      ASSERT_EQ(qvtest::RunCommand("xorriso -osirrox on -indev " + At("dst.iso") + " -extract / " + At("x") + " 2>&1", &x), 0) << x;
      EXPECT_EQ(qvtest::ReadFile(home / "x/deep/b.bin"), std::string(300000, 'b'));
      EXPECT_EQ(qvtest::ReadFile(home / "x/a.txt"), "alpha\n");
    }
    for (const char* drive : {"src", "dst"}) ASSERT_EQ(Run(std::string("vdrive delete ") + drive), 0) << out;
    for (const auto& f : fs::directory_iterator(home.path()))
      if (f.path().stem() == "A" || f.path().stem() == "B") fs::remove(f.path());
  }
}

// Raw writing starts at the lead-in of a blank disc: the second session
// cannot be written so, and is not written otherwise.
TEST_F(MdsBurnCli, TwoSessionCdIsRefusedAndTheDiscStaysBlank) {
  ASSERT_EQ(Run("vdrive create src --media cd-rom"), 0) << out;
  ASSERT_EQ(Run("vdrive insert src --disc '" + std::string(QUORVANE_DISCS_DIR) + "/multisession-cd.json'"), 0) << out;
  ASSERT_EQ(Run("grab --drive src --disc --out " + At("M")), 0) << out;
  ASSERT_EQ(Run("vdrive create dst --media cd-r"), 0) << out;
  EXPECT_EQ(Run("burn --drive dst --mds " + At("M.mds")), 7) << out;
  EXPECT_NE(out.find("session"), std::string::npos) << out;
  EXPECT_EQ(Status("dst"), "blank");
}

}  // namespace
