// quorvane audio decode, run as a user runs it.
#include "audio_support.h"
#include "support/cli_fixture.h"

namespace {

namespace fs = std::filesystem;

class AudioCli : public qvtest::CliTest {};

// The wave's header is soxi's to judge; its samples are those a reader
// hands out (a wave source comes out as sox wrote it).
TEST_F(AudioCli, DecodesEachFormatToACdWaveThatSoxReads) {
  QVTEST_REQUIRE_PROGRAM("soxi");
  for (const char* file : {"tone-cd.wav", "tone.ogg", "tone-48k.mp3", "tone.flac"}) {
    const fs::path wave = home / (std::string(file) + ".wav");
    ASSERT_EQ(Run("--json audio decode '" + qvaudio::Fixture(file) + "' --out '" + wave.string() + "'"), 0) << out;
    const std::vector<uint8_t> pcm = qvaudio::DecodeAll(qvaudio::Fixture(file)).pcm;
    EXPECT_NE(out.find("\"bytes\": " + std::to_string(pcm.size())), std::string::npos) << out;
    const std::string bytes = qvtest::ReadFile(wave);
    EXPECT_TRUE(std::vector<uint8_t>(bytes.begin() + 44, bytes.end()) == pcm) << file;
    if (file == std::string("tone-cd.wav")) { EXPECT_TRUE(bytes == qvtest::ReadFile(qvaudio::Fixture(file))); }
    std::string info;
    ASSERT_EQ(qvtest::RunCommand("for o in t r c b s; do soxi -$o '" + wave.string() + "'; done", &info), 0) << info;
    EXPECT_EQ(info, "wav\n44100\n2\n16\n" + std::to_string(pcm.size() / 4) + "\n") << file;
  }
}

// A cut file that announces its length (FLAC, an MP3 with its LAME tag)
// fails instead of ending in silence; a cut Ogg Vorbis file gives the
// samples of its whole pages, as sox does.
TEST_F(AudioCli, CutFilesFailOrGiveWhatTheyHold) {
  QVTEST_REQUIRE_PROGRAM("sox");
  for (const char* name : {"tone.flac", "tone.mp3"}) {
    const std::string whole = qvtest::ReadFile(qvaudio::Fixture(name));
    home.Write(std::string("cut-") + name, whole.substr(0, whole.size() / 2));
    EXPECT_NE(Run("audio decode " + At(std::string("cut-") + name) + " --out " + At("x.wav")), 0);
    EXPECT_NE(out.find("damaged"), std::string::npos) << out;
    EXPECT_FALSE(fs::exists(home / "x.wav"));
  }
  ASSERT_EQ(qvtest::RunCommand("sox -n -r 44100 -c 2 " + At("long.ogg") + " synth 5 sine 440 sine 880", &out), 0);
  const std::string whole = File("long.ogg");
  home.Write("cut.ogg", whole.substr(0, whole.size() * 3 / 5));
  ASSERT_EQ(Run("audio decode " + At("cut.ogg") + " --out " + At("ogg.wav")), 0) << out;
  ASSERT_EQ(qvtest::RunCommand("sox " + At("cut.ogg") + " -t raw -e signed -b 16 " + At("ref.raw"), &out), 0);
  const std::string pcm = File("ogg.wav").substr(44);
  EXPECT_GT(pcm.size(), 176400u * 2);
  EXPECT_TRUE(pcm == File("ref.raw"));
}

}  // namespace
