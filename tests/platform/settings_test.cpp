// Debug settings from the environment over a config file.
#include <cstdlib>

#include "platform/settings.h"
#include "support/test_support.h"

namespace {

const char* const kVariables[] = {"QUORVANE_DEBUG_FACILITY", "QUORVANE_DEBUG_FILE_NAME", "SONVEX_DEBUG_LEVEL"};

class SettingsSource : public ::testing::Test {
 protected:
  qvtest::TempDir dir;
  void SetUp() override {
    for (const char* v : kVariables) unsetenv(v);
    setenv("QUORVANE_CONFIG", (dir / "q.conf").c_str(), 1);
  }
  void TearDown() override {
    for (const char* v : kVariables) unsetenv(v);
    unsetenv("QUORVANE_CONFIG");
  }
};

// One section per product; the environment wins over the file.
TEST_F(SettingsSource, ConfigFileSectionsUnderTheEnvironment) {
  EXPECT_FALSE(qv::plat::ReadSettingsKey("Quorvane").exists) << "nothing configured";
  dir.Write("q.conf",
            "# comment\n[Sonvex]\nDebugLevel = 3\n\n[Quorvane]\n DebugFacility=0x1 \nDebugFileName = /var/tmp/q.log\n"
            "garbage line\n");
  auto q = qv::plat::ReadSettingsKey("Quorvane");
  ASSERT_TRUE(q.exists);
  EXPECT_EQ(qv::plat::SettingAsNumber(q, "DebugFacility"), 1u);
  EXPECT_EQ(q.values.at("DebugFileName"), "/var/tmp/q.log");
  EXPECT_EQ(q.values.count("DebugLevel"), 0u);
  EXPECT_EQ(qv::plat::SettingAsNumber(qv::plat::ReadSettingsKey("Sonvex"), "DebugLevel"), 3u);

  setenv("QUORVANE_DEBUG_FACILITY", "2", 1);
  setenv("SONVEX_DEBUG_LEVEL", "4", 1);
  q = qv::plat::ReadSettingsKey("Quorvane");
  EXPECT_EQ(qv::plat::SettingAsNumber(q, "DebugFacility"), 2u);
  EXPECT_EQ(q.values.at("DebugFileName"), "/var/tmp/q.log");
  EXPECT_EQ(qv::plat::SettingAsNumber(qv::plat::ReadSettingsKey("Sonvex"), "DebugLevel"), 4u);
}

TEST(SettingAsNumber, ParsesDecimalAndHexOnly) {
  qv::plat::SettingsKey k;
  k.values = {{"a", "17"}, {"b", "0x1F"}, {"d", "12abc"}, {"e", ""}, {"f", "4294967296"}};
  EXPECT_EQ(qv::plat::SettingAsNumber(k, "a"), 17u);
  EXPECT_EQ(qv::plat::SettingAsNumber(k, "b"), 31u);
  for (const char* bad : {"d", "e", "f", "missing"}) EXPECT_FALSE(qv::plat::SettingAsNumber(k, bad)) << bad;
}

}  // namespace
