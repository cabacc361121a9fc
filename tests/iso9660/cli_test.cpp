// quorvane image iso, run as a user runs it.
#include <filesystem>

#include "iso_support.h"

namespace {

namespace fs = std::filesystem;
const std::string kQuorvane = std::string(QUORVANE_BINARY_DIR) + "/cli/quorvane";

int RunCli(const std::string& arguments, std::string* output) {
  return qvtest::RunCommand(kQuorvane + " " + arguments, output);
}

std::string Q(const fs::path& p) { return "'" + p.string() + "'"; }

TEST(IsoCli, BuildsAnImageOfFoldersContentsAndFiles) {
  QVTEST_REQUIRE_PROGRAM("bsdtar");
  QVTEST_REQUIRE_PROGRAM("isoinfo");
  qvtest::TempDir dir;
  dir.Write("photos/holiday_2023_beach.jpg", "beach");
  dir.Write("photos/holiday_2023_beach_2.jpg", "beach 2");  // same 12-character short name
  dir.Write("photos/trip/map.png", "map");
  dir.Write("notes.txt", "notes");
  const fs::path out = dir / "out.iso";
  std::string output;
  ASSERT_EQ(RunCli("image iso --label HOLIDAY --out " + Q(out) + " " + Q(dir / "photos") + " " + Q(dir / "notes.txt"),
                &output),
            0)
      << output;
  EXPECT_NE(output.find("sectors"), std::string::npos) << output;
  EXPECT_NE(output.find("1 names renamed"), std::string::npos) << output;
  std::string listing;
  ASSERT_EQ(qvtest::RunCommand("bsdtar -tf " + Q(out) + " | grep -vx '\\.' | sort", &listing), 0);
  EXPECT_EQ(listing, "holiday_2023_beach.jpg\nholiday_2023_beach_2.jpg\nnotes.txt\ntrip\ntrip/map.png\n")
      << "a folder's contents and a file, both at the root";
  std::string volume;
  ASSERT_EQ(qvtest::RunCommand("isoinfo -d -i " + Q(out), &volume), 0) << volume;
  EXPECT_NE(volume.find("Volume id: HOLIDAY"), std::string::npos) << volume;
  EXPECT_THAT(qviso::StructureProblems(qvtest::ReadFile(out)), testing::IsEmpty());
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 3) << "no temporary file left";

  std::string json;
  ASSERT_EQ(RunCli("--json image iso --no-joliet --out /dev/null " + Q(dir / "photos"), &json), 0) << json;
  EXPECT_NE(json.find("\"joliet\": false"), std::string::npos) << json;
  EXPECT_NE(json.find("\"out\": \"/dev/null\""), std::string::npos) << json;
}

}  // namespace
