// A DVD whose data the drive makes (each block its address over and over):
// what the drive exports, whole or as its track, is what READ(10) gives a
// grab.
#include <gtest/gtest.h>

#include "support/cli_fixture.h"

namespace {

using GeneratedDvd = qvtest::CliTest;

TEST_F(GeneratedDvd, ExportIsWhatReadGives) {
  const std::string at = home.path().string() + "/";
  home.Write("dvd.json", R"({"media": "dvd-rom", "sessions": [{"closed": true, "tracks": [{"blocks": 700, "source": "counter"}]}]})");
  ASSERT_EQ(Run("vdrive create d --media dvd-rom"), 0) << out;
  ASSERT_EQ(Run("vdrive insert d --disc '" + at + "dvd.json'"), 0) << out;
  ASSERT_EQ(Run("grab --drive d --track 1 --out '" + at + "grab.iso'"), 0) << out;
  const std::string grabbed = qvtest::ReadFile(home / "grab.iso");
  ASSERT_EQ(grabbed.size(), 700u * 2048);
  EXPECT_EQ(grabbed.substr(699 * 2048, 4), std::string("\0\0\x02\xBB", 4)) << "block 699 holds its address";
  for (const char* how : {"", " --track 1"}) {
    SCOPED_TRACE(how);
    ASSERT_EQ(Run(std::string("vdrive export d") + how + " --out '" + at + "export.iso'"), 0) << out;
    EXPECT_TRUE(qvtest::ReadFile(home / "export.iso") == grabbed);
  }
}

}  // namespace
