// quorvane audio decode, run as a user runs it.
#include "audio_support.h"

namespace {

namespace fs = std::filesystem;
const std::string kQuorvane = std::string(QUORVANE_BINARY_DIR) + "/cli/quorvane";

int RunQuorvane(const std::string& arguments, std::string* output) {
  const int status = qvtest::RunCommand(kQuorvane + " " + arguments + " 2>&1", output);
  return status;
}

TEST(AudioCli, DecodesEachFormatToACdWave) {
  qvtest::TempDir dir;
  for (const char* file : {"tone.ogg", "tone-48k.mp3", "tone.flac"}) {
    const fs::path out = dir / (std::string(file) + ".wav");
    std::string output;
    ASSERT_EQ(RunQuorvane("audio decode '" + qvaudio::Fixture(file) + "' --out '" + out.string() + "'", &output), 0) << output;
    EXPECT_NE(output.find("bytes of CD audio"), std::string::npos) << output;
    EXPECT_EQ(Sonvex_UncompressedFileSupportedIs(out.c_str()), 0u) << file;
    EXPECT_TRUE(qvaudio::DecodeAll(out.string()).pcm == qvaudio::DecodeAll(qvaudio::Fixture(file)).pcm) << file;
  }
  std::string json;
  ASSERT_EQ(RunQuorvane("--json audio decode '" + qvaudio::Fixture("tone.flac") + "' --out '" + (dir / "j.wav").string() + "'",
                &json),
            0)
      << json;
  EXPECT_NE(json.find("\"bytes\": 88200"), std::string::npos) << json;
}

}  // namespace
