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
