// quorvane image iso, run as a user runs it. (A folder's contents and a
// file at the root, under a label, and renamed clashes: the burn tests'.)
#include <filesystem>
#include <fstream>
#include <map>

#include "iso_support.h"
#include "support/cli_fixture.h"

namespace {

namespace fs = std::filesystem;

using IsoCli = qvtest::CliTest;

// Without Joliet: the checkers' verdicts, and no temporary file left.
TEST_F(IsoCli, BuildsAnImageWithoutJoliet) {
  QVTEST_REQUIRE_PROGRAM("isoinfo");
  home.Write("photos/trip/map.png", "map");
  ASSERT_EQ(Run("image iso --no-joliet --label HOLIDAY --out " + At("out.iso") + " " + At("photos")), 0) << out;
  ASSERT_EQ(qvtest::RunCommand("isoinfo -d -i " + At("out.iso"), &out), 0) << out;
  EXPECT_NE(out.find("Volume id: HOLIDAY"), std::string::npos) << out;
  EXPECT_NE(out.find("NO Joliet present"), std::string::npos) << out;
  EXPECT_EQ(qviso::StructureProblems((home / "out.iso").string()), "");
  EXPECT_EQ(std::distance(fs::directory_iterator(home.path()), {}), 2) << "no temporary file left";
}

// Images of genisoimage and xorriso (Joliet and Rock Ridge names, a deep
// tree, an empty file, an El Torito boot image) imported and followed by a
// session of our own: xorriso reads every old file, at its old place, and
// the new one from that session, and the session carries the old boot
// record.
TEST_F(IsoCli, ASessionFollowsImagesOfOtherTools) {
  QVTEST_REQUIRE_PROGRAM("genisoimage");
  QVTEST_REQUIRE_PROGRAM("xorriso");
  const std::map<std::string, std::string> old = {{"a/b/c/d/e/f/g/deep file.txt", "deep"},
                                                  {"A Long Name, Mixed Case.txt", "long"},
                                                  {"boot.img", std::string(2048, 'B')},
                                                  {"empty", ""},
                                                  {"big.bin", std::string(1 << 20, 'b')}};
  for (const auto& [name, bytes] : old) home.Write("old/" + name, bytes);
  home.Write("new/added.txt", "added");
  const struct {
    const char* tool;
    std::string command;
  } tools[] = {
      {"genisoimage", "genisoimage -quiet -J -R -b boot.img -no-emul-boot -boot-load-size 4 -o " + At("t.iso") +
                          " " + At("old")},
      {"xorriso", "xorriso -outdev " + At("t.iso") + " -joliet on -map " + At("old") +
                      " / -boot_image any bin_path=/boot.img -boot_image any emul_type=no_emulation"},
  };
  for (const auto& t : tools) {
    SCOPED_TRACE(t.tool);
    fs::remove(home / "t.iso");
    fs::remove_all(home / "x");
    ASSERT_EQ(qvtest::RunCommand(t.command + " 2>&1", &out), 0) << out;
    ASSERT_EQ(Run("--json image iso --import " + At("t.iso") + " --out " + At("s.iso") + " " + At("new")), 0) << out;
    const unsigned start = Json()["start"];
    const std::string first = File("t.iso"), both = first + File("s.iso");
    EXPECT_EQ(start * 2048, first.size());
    std::ofstream(home / "both.iso", std::ios::binary) << both;
    ASSERT_EQ(qvtest::RunCommand("xorriso -indev stdio:" + At("both.iso") + " -load sbsector " + std::to_string(start) +
                                     " -osirrox on -extract / " + At("x") + " 2>&1", &out), 0) << out;
    const auto back = Tree(home / "x");
    for (const auto& [name, bytes] : old) EXPECT_TRUE(back.contains(name) && back.at(name) == bytes) << name;
    EXPECT_LT(fs::file_size(home / "s.iso"), 1u << 20) << "the old data is not written again";
    EXPECT_EQ(File("x/added.txt"), "added");
    // The boot record, as the tool wrote it, in the new session.
    const size_t at = (size_t{start} + 17) * 2048;
    ASSERT_GE(both.size(), at + 2048);
    EXPECT_EQ(both.compare(at + 7, 23, "EL TORITO SPECIFICATION"), 0);
    EXPECT_EQ(both.substr(at, 2048), both.substr(17 * 2048, 2048));
  }
}

}  // namespace
