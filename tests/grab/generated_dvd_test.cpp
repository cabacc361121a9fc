// A DVD whose data the drive makes (each block its address over and over):
// what the drive exports, whole or as its track, is what READ(10) gives a
// grab.
#include <gtest/gtest.h>

#include "support/test_support.h"

namespace {

TEST(GeneratedDvd, ExportIsWhatReadGives) {
  qvtest::TempDir home;
  qvtest::SetEnvironment("QUORVANE_VDRIVE_HOME", home.path().c_str());
  std::string out;
  auto run = [&](const std::string& args) {
    return qvtest::RunCommand(std::string(qvtest::BinaryDir()) + "/cli/quorvane " + args + " 2>&1", &out);
  };
  const std::string at = home.path().string() + "/";
  home.Write("dvd.json", R"({"media": "dvd-rom", "sessions": [{"closed": true, "tracks": [{"blocks": 700, "source": "counter"}]}]})");
  ASSERT_EQ(run("vdrive create d --media dvd-rom"), 0) << out;
  ASSERT_EQ(run("vdrive insert d --disc '" + at + "dvd.json'"), 0) << out;
  ASSERT_EQ(run("grab --drive d --track 1 --out '" + at + "grab.iso'"), 0) << out;
  const std::string grabbed = qvtest::ReadFile(home / "grab.iso");
  ASSERT_EQ(grabbed.size(), 700u * 2048);
  EXPECT_EQ(grabbed.substr(699 * 2048, 4), std::string("\0\0\x02\xBB", 4)) << "block 699 holds its address";
  for (const char* how : {"", " --track 1"}) {
    SCOPED_TRACE(how);
    ASSERT_EQ(run(std::string("vdrive export d") + how + " --out '" + at + "export.iso'"), 0) << out;
    EXPECT_TRUE(qvtest::ReadFile(home / "export.iso") == grabbed);
  }
  qvtest::SetEnvironment("QUORVANE_VDRIVE_HOME", nullptr);
}

}  // namespace
