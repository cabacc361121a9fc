// quorvane image bin and check as a user runs them: an ISO to raw sectors,
// judged by libcdio's cd-info and cd-read, cdrdao and iat; damaged sectors
// found and mended; and the Mode 2 sectors of vcdimager rebuilt byte for
// byte. (The sectors against the virtual drive's own encoder are the
// sector tests'.)
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "quorvane.h"
#include "support/cli_fixture.h"
#include "support/tiny_mpeg.h"

namespace qvtest {
namespace {

class SectorsCli : public CliTest {
 protected:
  // A small ISO of a user's files.
  std::string MakeIso(const std::string& name) {
    home.Write("src/readme.txt", "raw sectors, please\n");
    std::string big(300000, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 131 + i / 7);
    home.Write("src/sub/data.bin", big);
    EXPECT_EQ(RunCommand("xorriso -as mkisofs -quiet -J -r -o " + At(name) + " " + At("src") + " 2>&1", &out), 0) << out;
    return ReadFile(home / name);
  }
  void Patch(const std::string& name, size_t at, const std::string& bytes) {
    std::fstream f(home / name, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(at));
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
};

// Mode 1: the data as libcdio reads it from our cue sheet. Mode 2 Form 1:
// libcdio reads the cue sheet beside the image (it looks for the image
// under the sheet's own name there), cdrdao one elsewhere (by the image's
// full path), and iat strips the image back to the ISO.
TEST_F(SectorsCli, Mode1AndMode2ReadBackAsTheIso) {
  for (const char* tool : {"xorriso", "cd-info", "cd-read", "iat", "cdrdao"}) QVTEST_REQUIRE_PROGRAM(tool);
  const std::string iso = MakeIso("in.iso");
  const uint32_t sectors = static_cast<uint32_t>(iso.size() / 2048);
  ASSERT_EQ(Run("--json image bin --out " + At("x.bin") + " " + At("in.iso")), 0) << out;
  EXPECT_EQ(Json()["sectors"], sectors);
  ASSERT_EQ(File("x.bin").size(), sectors * 2352u);
  EXPECT_EQ(File("x.cue"), "FILE \"x.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n");
  EXPECT_FALSE(std::filesystem::exists(home / "x.bin.part"));
  EXPECT_NE(CdInfo("x.cue").find("data"), std::string::npos);
  ASSERT_EQ(RunCommand("cd-read --no-header -c " + At("x.cue") + " -m m1f1 -s 0 -n " + std::to_string(sectors) +
                           " -o " + At("back.iso") + " 2>&1", &out), 0) << out;
  EXPECT_TRUE(File("back.iso") == iso) << "cd-read gives back other data";

  ASSERT_EQ(Run("image bin --mode 2 --out " + At("y.bin") + " " + At("in.iso")), 0) << out;
  EXPECT_NE(CdInfo("y.cue").find("CD DATA (Mode 2)"), std::string::npos);
  std::filesystem::create_directories(home / "sheets");
  ASSERT_EQ(Run("image bin --mode 2 --cue " + At("sheets/z.cue") + " --out " + At("z.bin") + " " + At("in.iso")), 0)
      << out;
  ASSERT_EQ(RunCommand("cdrdao show-toc " + At("sheets/z.cue") + " 2>&1", &out), 0) << out;
  EXPECT_NE(out.find("MODE2_RAW"), std::string::npos) << out;
  EXPECT_EQ(File("z.bin"), File("y.bin"));
  ASSERT_EQ(RunCommand("iat " + At("y.bin") + " " + At("stripped.iso") + " 2>&1", &out), 0) << out;
  EXPECT_TRUE(File("stripped.iso") == iso) << out;
  for (const char* image : {"x.bin", "y.bin"}) EXPECT_EQ(Run("check " + At(image)), 0) << out;
}

// Damage within the parity's reach is mended in place; beyond it is named;
// the exit code says whether every sector is good.
TEST_F(SectorsCli, CheckFindsMendsAndNamesWhatStaysBad) {
  QVTEST_REQUIRE_PROGRAM("xorriso");
  MakeIso("in.iso");
  ASSERT_EQ(Run("image bin --out " + At("x.bin") + " " + At("in.iso")), 0) << out;
  const std::string good = File("x.bin");
  Patch("x.bin", 5 * 2352 + 100, "\x5A");                          // one byte of user data
  Patch("x.bin", 9 * 2352 + 12 + 86 * 4, std::string(172, '\xA5'));  // two rows of the P matrix
  ASSERT_EQ(Run("--json check " + At("x.bin")), 1) << out;
  auto report = nlohmann::json::parse(out);
  ASSERT_EQ(report["bad"].size(), 2u) << out;
  EXPECT_EQ(report["bad"][0]["sector"], 5);
  EXPECT_EQ(report["bad"][0]["fault"], "EDC");
  EXPECT_EQ(report["bad"][0]["address"], "00:02:05");
  EXPECT_EQ(report["bad"][1]["sector"], 9);
  ASSERT_EQ(Run("--json check --repair " + At("x.bin")), 1) << out;
  report = nlohmann::json::parse(out);
  EXPECT_EQ(report["repaired"], 1);
  EXPECT_EQ(report["unrecoverable"], 1);
  EXPECT_EQ(report["bad"][1]["repair"], "unrecoverable");
  const std::string mended = File("x.bin");
  EXPECT_EQ(mended.compare(5 * 2352, 2352, good, 5 * 2352, 2352), 0) << "sector 5 mended";
  EXPECT_NE(mended.compare(9 * 2352, 2352, good, 9 * 2352, 2352), 0) << "sector 9 left as it was";
  Patch("x.bin", 9 * 2352, good.substr(9 * 2352, 2352));
  ASSERT_EQ(Run("check " + At("x.bin")), 0) << out;
  EXPECT_NE(out.find("0 bad"), std::string::npos) << out;
}

TEST_F(SectorsCli, BadInputIsRefusedAndNothingIsWritten) {
  home.Write("odd.iso", std::string(3000, 'x'));
  EXPECT_EQ(Run("image bin --out " + At("odd.bin") + " " + At("odd.iso")), 7) << out;
  EXPECT_NE(out.find("not a cooked image"), std::string::npos) << out;
  EXPECT_EQ(Run("image bin --out " + At("none.bin") + " " + At("missing.iso")), 3) << out;
  EXPECT_EQ(Run("image bin --mode 3 --out " + At("z.bin") + " " + At("odd.iso")), 2) << out;
  EXPECT_EQ(Run("check " + At("odd.iso")), 7) << out;
  EXPECT_EQ(Run("check " + At("missing.bin")), 3) << out;
  for (const char* name : {"odd.bin", "odd.bin.part", "odd.cue", "odd.cue.part", "none.bin", "z.bin"})
    EXPECT_FALSE(std::filesystem::exists(home / name)) << name;
}

// vcdimager's Form 1 (ISO track) and Form 2 (MPEG track) sectors: each one
// rebuilt from its address, sub-header and user data is the same sector.
TEST_F(SectorsCli, Mode2SectorsEqualVcdimagers) {
  QVTEST_REQUIRE_PROGRAM("vcdimager");
  home.Write("in.mpg", TinyMpeg());
  ASSERT_EQ(RunCommand("cd " + home.path().string() + " && vcdimager -t vcd2 -c v.cue -b v.bin in.mpg 2>&1", &out), 0)
      << out;
  const std::string bin = File("v.bin");
  size_t forms[2] = {0, 0};
  for (size_t at = 0; at + 2352 <= bin.size(); at += 2352) {
    const auto* s = reinterpret_cast<const uint8_t*>(bin.data() + at);
    if (s[15] != 2) continue;  // the pause between the tracks
    const bool form2 = s[18] & 0x20;
    const int frames = (s[12] >> 4) * 10 * 4500 + (s[12] & 15) * 4500 + ((s[13] >> 4) * 10 + (s[13] & 15)) * 75 +
                       (s[14] >> 4) * 10 + (s[14] & 15);
    uint8_t rebuilt[2352];
    ASSERT_EQ(Quorvane_BuildRawSectors(form2 ? QVX_SECTOR_MODE2_FORM2 : QVX_SECTOR_MODE2_FORM1, frames - 150, 1, s + 24,
                                       s + 16, rebuilt),
              0u);
    ASSERT_EQ(0, std::memcmp(rebuilt, s, 2352)) << "sector " << at / 2352;
    ++forms[form2];
  }
  EXPECT_GT(forms[0], 100u);
  EXPECT_GT(forms[1], 100u);
  ASSERT_EQ(Run("check " + At("v.bin")), 0) << out;
}

}  // namespace
}  // namespace qvtest
