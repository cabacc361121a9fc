// Start-up and shut-down: the banner, the version gate, the debug settings
// and the audio library hook.
#include "core/engine_fixture.h"
#include "core/status.h"
#include "quorvane.h"

namespace {

constexpr const char* kBanner =
    "Quorvane  CD/DVD Burning, Grabbing and Mastering Toolkit for Windows 95/98/Me/NT/2000/XP/2003  Version 6.6.30 "
    "( 0x20060630 )\n";

int g_audioStarts = 0, g_audioStops = 0;
uint32_t AudioStart() { return ++g_audioStarts, 0; }
uint32_t AudioStop() { return ++g_audioStops, 0; }
const QuorvaneI_AudioHooks kCountingAudio{&AudioStart, &AudioStop};

class Startup : public EngineState {
 protected:
  const QuorvaneI_AudioHooks* previous = nullptr;
  void SetUp() override {
    EngineState::SetUp();
    g_audioStarts = g_audioStops = 0;
    previous = QuorvaneI_SetAudioHooks(&kCountingAudio);
  }
  void TearDown() override {
    EngineState::TearDown();
    QuorvaneI_SetAudioHooks(previous);
  }
  static void UseSettings(std::map<std::string, std::string> values) {
    qv::plat::SetSettingsReader([values](const std::string& product) {
      qv::plat::SettingsKey key;
      if (product == "Quorvane") {
        key.exists = true;
        key.values = values;
      }
      return key;
    });
  }
};

// The banner once for two start-ups; the audio library is stopped by a
// shut-down after a start-up only, and started again by the next.
TEST_F(Startup, TwiceWritesTheBannerOnce) {
  qvtest::TempDir dir;
  const std::string file = (dir / "q.log").string();
  UseSettings({{"DebugFacility", "1"}, {"DebugFileName", file}});
  qvtest::LogCapture debugger;
  EXPECT_EQ(Quorvane_UpStartEx(), 0u);
  EXPECT_EQ(Quorvane_UpStartEx(), 0u);
  EXPECT_EQ(debugger.Count(kBanner), 1u);
  EXPECT_EQ(qvtest::ReadFile(file), qvtest::TextModeBytes(kBanner));
  EXPECT_EQ(g_audioStarts, 1);
  EXPECT_STREQ(Quorvane_GetBanner(), kBanner);
  EXPECT_EQ(Quorvane_DownShut(), 0u);
  EXPECT_EQ(Quorvane_DownShut(), 0u);
  EXPECT_EQ(g_audioStops, 1);
  EXPECT_FALSE(QuorvaneI_IsStarted());
  ASSERT_EQ(Quorvane_UpStartEx(), 0u);
  EXPECT_EQ(g_audioStarts, 2);
}

// Settings are read at start-up; missing or bad values keep the defaults.
TEST_F(Startup, ReadsTheDebugSettings) {
  const std::string defaultFile = QuorvaneI_GetDebugFileName();
  const struct {
    std::map<std::string, std::string> values;
    uint32_t facility;
    std::string file;
  } cases[] = {{{{"DebugFacility", "0x2"}, {"DebugFileName", "/tmp/elsewhere.log"}}, 2, "/tmp/elsewhere.log"},
               {{{"DebugFacility", "lots"}}, 0, defaultFile}};
  for (const auto& c : cases) {
    Reset();
    UseSettings(c.values);
    ASSERT_EQ(Quorvane_UpStartEx(), 0u);
    EXPECT_EQ(Quorvane_GetDebugFacility(), c.facility);
    EXPECT_EQ(std::string(Quorvane_GetDebugFileName()), c.file);
  }
}

// Old systems are refused; the obsolete start starts nothing.
TEST_F(Startup, OldSystemsAndTheObsoleteStartStartNothing) {
  EXPECT_EQ(Quorvane_UpStart(), 36u);
  qv::plat::SetOsVersionOverride(qv::plat::OsVersion{4, 10, 1998, 1});
  EXPECT_EQ(Quorvane_UpStartEx(), 37u);
  EXPECT_EQ(g_audioStarts, 0);
  EXPECT_FALSE(QuorvaneI_IsStarted());
}

}  // namespace
