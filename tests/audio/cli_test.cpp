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

// A cut file that announces its length (FLAC, an MP3 with its LAME tag)
// fails instead of ending in silence; a cut Ogg Vorbis file gives the
// samples of its whole pages, as sox does.
TEST(AudioCli, CutFilesFailOrGiveWhatTheyHold) {
  QVTEST_REQUIRE_PROGRAM("sox");
  qvtest::TempDir dir;
  std::string output;
  for (const char* name : {"tone.flac", "tone.mp3"}) {
    const std::string whole = qvtest::ReadFile(qvaudio::Fixture(name));
    const fs::path cut = dir.Write(std::string("cut-") + name, whole.substr(0, whole.size() / 2));
    EXPECT_NE(RunQuorvane("audio decode '" + cut.string() + "' --out '" + (dir / "x.wav").string() + "'", &output), 0);
    EXPECT_NE(output.find("damaged"), std::string::npos) << output;
    EXPECT_FALSE(fs::exists(dir / "x.wav"));
  }
  const fs::path ogg = dir / "long.ogg", cut = dir / "cut.ogg", ref = dir / "ref.raw";
  ASSERT_EQ(qvtest::RunCommand("sox -n -r 44100 -c 2 '" + ogg.string() + "' synth 5 sine 440 sine 880", &output), 0);
  const std::string whole = qvtest::ReadFile(ogg);
  dir.Write("cut.ogg", whole.substr(0, whole.size() * 3 / 5));
  ASSERT_EQ(RunQuorvane("audio decode '" + cut.string() + "' --out '" + (dir / "ogg.wav").string() + "'", &output), 0)
      << output;
  ASSERT_EQ(qvtest::RunCommand("sox '" + cut.string() + "' -t raw -e signed -b 16 '" + ref.string() + "'", &output), 0);
  const std::string pcm = qvtest::ReadFile(dir / "ogg.wav").substr(44);
  EXPECT_GT(pcm.size(), 176400u * 2);
  EXPECT_TRUE(pcm == qvtest::ReadFile(ref));
}

}  // namespace
