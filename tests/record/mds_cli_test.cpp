// burn --mds of a grabbed DVD: its parts, in order, onto a blank DVD-R,
// grabbed again the same and read by xorriso. (A grabbed CD of two
// sessions, refused, is among raw_cli's refusals.)
#include <gtest/gtest.h>

#include "support/cli_fixture.h"

namespace {

namespace fs = std::filesystem;

class MdsBurnCli : public qvtest::CliTest {
 protected:
  // Whether grabs a and b left the same parts, byte for byte (cmp: the
  // parts are hundreds of megabytes).
  bool SameParts(const std::string& a, const std::string& b, size_t parts) {
    for (size_t i = 0; i < parts; ++i) {
      const std::string ext = i == 0 ? ".xmf" : ".xm" + std::to_string(i);
      if (qvtest::RunCommand("cmp -s " + At(a + ext) + " " + At(b + ext)) != 0) return false;
    }
    return !fs::exists(home / (b + ".xm" + std::to_string(parts)));
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
      {"a DVD-R burnt with files", "dvd-r", "burn --drive a1 " + At("files"), 1},
      {"a DVD-ROM of two parts", "dvd-rom", "vdrive insert a2 --disc " + At("two-parts.json"), 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string a = "a" + std::to_string(c.parts), b = "b" + std::to_string(c.parts);
    ASSERT_EQ(Run("vdrive create " + a + " --media " + c.media), 0) << out;
    ASSERT_EQ(Run(c.make), 0) << out;
    ASSERT_EQ(Run("grab --drive " + a + " --disc --part-size 200 --out " + At(a)), 0) << out;
    EXPECT_EQ(fs::exists(home / (a + ".xm1")), c.parts == 2);
    ASSERT_EQ(Run("vdrive create " + b + " --media dvd-r"), 0) << out;
    ASSERT_EQ(Run("burn --drive " + b + " --mds " + At(a + ".mds")), 0) << out;
    ASSERT_EQ(Run("grab --drive " + b + " --disc --part-size 200 --out " + At(b)), 0) << out;
    EXPECT_TRUE(SameParts(a, b, c.parts)) << "the grabs differ";
  }
  // What a reader finds on the new DVD-R: the user's files.
  ASSERT_EQ(Run("vdrive export b1 --out " + At("b1.iso")), 0) << out;
  std::string x;
  ASSERT_EQ(qvtest::RunCommand("xorriso -osirrox on -indev " + At("b1.iso") + " -extract / " + At("x") + " 2>&1", &x), 0) << x;
  EXPECT_EQ(File("x/deep/b.bin"), std::string(300000, 'b'));
  EXPECT_EQ(File("x/a.txt"), "alpha\n");
}

}  // namespace
