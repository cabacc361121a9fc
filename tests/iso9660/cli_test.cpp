// quorvane image iso, run as a user runs it.
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>

#include "iso_support.h"

namespace {

namespace fs = std::filesystem;
const std::string kQuorvane = std::string(qvtest::BinaryDir()) + "/cli/quorvane";

int RunCli(const std::string& arguments, std::string* output) {
  return qvtest::RunCommand(kQuorvane + " " + arguments, output);
}

std::string Q(const fs::path& p) { return "'" + p.string() + "'"; }

TEST(IsoCli, BuildsAnImageOfFoldersContentsAndFiles) {
  QVTEST_REQUIRE_PROGRAM("bsdtar");
  QVTEST_REQUIRE_PROGRAM("isoinfo");
  qvtest::TempDir dir;
  dir.Write("photos/holiday_2023_beach.jpg", "beach");
  dir.Write("photos/holiday_2023_beach_2.jpg", "beach 2");  // same 12-character short name: renamed
  dir.Write("photos/trip/map.png", "map");
  dir.Write("notes.txt", "notes");
  const fs::path out = dir / "out.iso";
  std::string output;
  ASSERT_EQ(RunCli("image iso --label HOLIDAY --out " + Q(out) + " " + Q(dir / "photos") + " " + Q(dir / "notes.txt"),
                &output),
            0)
      << output;
  std::string listing;
  ASSERT_EQ(qvtest::RunCommand("bsdtar -tf " + Q(out) + " | grep -vx '\\.' | sort", &listing), 0);
  EXPECT_EQ(listing, "holiday_2023_beach.jpg\nholiday_2023_beach_2.jpg\nnotes.txt\ntrip\ntrip/map.png\n")
      << "a folder's contents and a file, both at the root";
  std::string volume;
  ASSERT_EQ(qvtest::RunCommand("isoinfo -d -i " + Q(out), &volume), 0) << volume;
  EXPECT_NE(volume.find("Volume id: HOLIDAY"), std::string::npos) << volume;
  EXPECT_EQ(qviso::StructureProblems(out.string()), "");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 3) << "no temporary file left";

  std::string json;
  ASSERT_EQ(RunCli("--json image iso --no-joliet --out /dev/null " + Q(dir / "photos"), &json), 0) << json;
  EXPECT_NE(json.find("\"joliet\": false"), std::string::npos) << json;
  EXPECT_NE(json.find("\"out\": \"/dev/null\""), std::string::npos) << json;
}

// Images of genisoimage and xorriso (Joliet and Rock Ridge names, a deep
// tree, an empty file, an El Torito boot image) imported and followed by a
// session of our own: xorriso reads every old file, at its old place, and
// the new one from that session, and the session carries the old boot
// record.
TEST(IsoCli, ASessionFollowsImagesOfOtherTools) {
  QVTEST_REQUIRE_PROGRAM("genisoimage");
  QVTEST_REQUIRE_PROGRAM("xorriso");
  qvtest::TempDir dir;
  const std::map<std::string, std::string> old = {{"a/b/c/d/e/f/g/deep file.txt", "deep"},
                                                  {"A Long Name, Mixed Case.txt", "long"},
                                                  {"boot.img", std::string(2048, 'B')},
                                                  {"empty", ""},
                                                  {"big.bin", std::string(1 << 20, 'b')}};
  for (const auto& [name, bytes] : old) dir.Write("old/" + name, bytes);
  dir.Write("new/added.txt", "added");
  const struct {
    const char* tool;
    std::string command;
  } tools[] = {
      {"genisoimage", "genisoimage -quiet -J -R -b boot.img -no-emul-boot -boot-load-size 4 -o " + Q(dir / "t.iso") +
                          " " + Q(dir / "old")},
      {"xorriso", "xorriso -outdev " + Q(dir / "t.iso") + " -joliet on -map " + Q(dir / "old") +
                      " / -boot_image any bin_path=/boot.img -boot_image any emul_type=no_emulation"},
  };
  for (const auto& t : tools) {
    SCOPED_TRACE(t.tool);
    fs::remove(dir / "t.iso");
    fs::remove_all(dir / "x");
    std::string output;
    ASSERT_EQ(qvtest::RunCommand(t.command + " 2>&1", &output), 0) << output;
    ASSERT_EQ(RunCli("--json image iso --import " + Q(dir / "t.iso") + " --out " + Q(dir / "s.iso") + " " +
                         Q(dir / "new"), &output), 0) << output;
    const unsigned start = nlohmann::json::parse(output)["start"];
    const std::string first = qvtest::ReadFile(dir / "t.iso"), both = first + qvtest::ReadFile(dir / "s.iso");
    EXPECT_EQ(start * 2048, first.size());
    std::ofstream(dir / "both.iso", std::ios::binary) << both;
    ASSERT_EQ(qvtest::RunCommand("xorriso -indev stdio:" + Q(dir / "both.iso") + " -load sbsector " +
                                     std::to_string(start) + " -osirrox on -extract / " + Q(dir / "x") + " 2>&1",
                                 &output), 0) << output;
    for (const auto& [name, bytes] : old) EXPECT_TRUE(fs::exists(dir / "x" / name) && qvtest::ReadFile(dir / "x" / name) == bytes) << name;
    EXPECT_LT(fs::file_size(dir / "s.iso"), 1u << 20) << "the old data is not written again";
    EXPECT_EQ(qvtest::ReadFile(dir / "x/added.txt"), "added");
    // The boot record, as the tool wrote it, in the new session.
    const size_t at = (size_t{start} + 17) * 2048;
    ASSERT_GE(both.size(), at + 2048);
    EXPECT_EQ(both.compare(at + 7, 23, "EL TORITO SPECIFICATION"), 0);
    const size_t oldAt = 17 * 2048;
    EXPECT_EQ(both.substr(at, 2048), both.substr(oldAt, 2048));
  }
}

}  // namespace
