// The library's start-up, debug settings and log destinations, and its
// start-up with the engine.
#include "audio_support.h"
#include "core/startup.h"
#include "platform/settings.h"

namespace {

constexpr const char* kBanner =
    "\nSonvex  Media Streaming Toolkit for Windows 95/98/Me/NT/2000/XP/2003  Version 6.6.30 ( 0x20060630 )\n";

class SonvexSettings : public ::testing::Test {
 protected:
  void TearDown() override {
    qv::plat::SetSettingsReader({});
    SonvexI_ResetDebugSettings();
  }
  static void Use(std::map<std::string, std::string> values) {
    qv::plat::SetSettingsReader([values](const std::string& product) {
      qv::plat::SettingsKey key;
      if (product == "Sonvex") {
        key.exists = true;
        key.values = values;
      }
      return key;
    });
  }
};

TEST_F(SonvexSettings, FacilityChoosesWhereLinesGo) {
  qvtest::TempDir dir;
  const std::string file = (dir / "s.log").string();
  const struct {
    const char* facility;
    bool toFile;
    bool toStdout;
  } cases[] = {{"0", false, false}, {"1", true, false}, {"2", true, true}};
  for (const auto& c : cases) {
    std::filesystem::remove(file);
    Use({{"DebugFacility", c.facility}, {"DebugFileName", file}, {"DebugLevel", "0"}});
    qvtest::LogCapture debugger;
    testing::internal::CaptureStdout();
    EXPECT_EQ(Sonvex_UpStart(), 0u);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(debugger.Count(kBanner), 1u);  // always to the debugger
    EXPECT_EQ(std::filesystem::exists(file) ? qvtest::ReadFile(file) : "", c.toFile ? kBanner : "") << c.facility;
    EXPECT_EQ(out, c.toStdout ? kBanner : "") << c.facility;
  }
}

TEST_F(SonvexSettings, LevelAddsDecoderDetails) {
  size_t lines[2] = {};
  for (const char* level : {"0", "1"}) {
    Use({{"DebugLevel", level}});
    ASSERT_EQ(Sonvex_InitDebugSettings(), 0u);
    qvtest::LogCapture log;
    ASSERT_EQ(Sonvex_CompressedFileSupportedIs(qvaudio::Fixture("tone.flac").c_str()), 0u);
    lines[level[0] - '0'] = log.Count("\n");
  }
  EXPECT_GT(lines[1], lines[0]);
}

TEST(SonvexStartup, EngineStartsAndStopsTheLibrary) {
  Quorvane_DownShut();
  QuorvaneI_ResetStarted();
  qvtest::LogCapture log;
  ASSERT_EQ(Quorvane_UpStartEx(), 0u);
  EXPECT_EQ(log.Count(kBanner), 1u);
  EXPECT_EQ(Quorvane_DownShut(), 0u);
  QuorvaneI_ResetStarted();
}

}  // namespace
