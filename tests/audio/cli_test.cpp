// quorvane audio decode, run as a user runs it.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

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

TEST(AudioCli, FailuresHaveMeaningfulExitCodes) {
  qvtest::TempDir dir;
  const struct {
    std::string arguments;
    int code;
    const char* message;
  } cases[] = {
      {"audio decode '" + (dir / "missing.mp3").string() + "' --out '" + (dir / "x.wav").string() + "'", 3,
       "no such file"},
      {"audio decode '" + qvaudio::Fixture("tone-48k.wav") + "' --out '" + (dir / "x.wav").string() + "'", 7,
       "not a supported audio format"},
      {"audio decode '" + qvaudio::Fixture("mono.ogg") + "' --out '" + (dir / "x.wav").string() + "'", 7,
       "only 2 channels at 44100 Hz"},
      {"audio decode '" + qvaudio::Fixture("tone.ogg") + "'", 2, "--out"},
  };
  for (const auto& c : cases) {
    std::string output;
    EXPECT_EQ(RunQuorvane(c.arguments, &output), c.code) << c.arguments << "\n" << output;
    EXPECT_NE(output.find(c.message), std::string::npos) << output;
  }
  EXPECT_TRUE(fs::is_empty(dir.path()));
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

TEST(AudioCli, CtrlCCancelsAndLeavesNothingBehind) {
  qvtest::TempDir dir;
  // A sparse raw file: a long decode that costs no disk space to set up.
  const fs::path source = dir / "long.raw";
  { std::ofstream(source) << "x"; }
  fs::resize_file(source, 2ull << 30);
  const fs::path out = dir / "long.wav";
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    execl(kQuorvane.c_str(), kQuorvane.c_str(), "audio", "decode", "-q", source.c_str(), "--out", out.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  // Wait until the decode has begun writing, then interrupt it.
  for (int i = 0; i < 500; ++i) {
    bool writing = false;
    for (const auto& e : fs::directory_iterator(dir.path()))
      if (e.path().filename().string().rfind("long.wav.part", 0) == 0) writing = true;
    if (writing) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(child, SIGINT);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 130);
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir.path())) names.push_back(e.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"long.raw"});
}

}  // namespace
