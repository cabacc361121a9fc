// The files the command writes: a regular file appears whole or not at
// all, a device or FIFO is written in place, a link is never followed.
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <thread>

#include "support/cli_fixture.h"

namespace {

namespace fs = std::filesystem;
const std::string kQuorvane = qvtest::QuorvaneCommand();
const std::string kFlac = std::string(qvtest::SourceDir()) + "/tests/audio/fixtures/tone.flac";

class CliOutput : public qvtest::CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    home.Write("src/a.txt", "a file on the disc\n");
    ASSERT_EQ(Run("vdrive create d --media dvd+rw"), 0) << out;
    ASSERT_EQ(Run("burn --drive d " + (home / "src").string()), 0) << out;
  }
  // The commands that write a file, each into target (image udf and
  // dvd-video write as image iso does).
  std::vector<std::string> Writers(const std::string& target) {
    return {"image iso -q --out " + target + " " + (home / "src").string(), "audio decode -q " + kFlac + " --out " + target,
            "vdrive export d --out " + target};
  }
  std::set<std::string> Names(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename().string());
    return names;
  }
};

TEST_F(CliOutput, DevicesAreWrittenInPlaceAndEveryWriteErrorCounts) {
  // As root a private null device, so that a fault cannot replace the
  // machine's /dev/null.
  fs::path null = "/dev/null";
  if (getuid() == 0) {
    null = home / "dev/null";
    fs::create_directories(null.parent_path());
    ASSERT_EQ(mknod(null.c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
  }
  for (const std::string& writer : Writers(null.string())) {
    EXPECT_EQ(Run(writer), 0) << writer << "\n" << out;
    struct stat st {};
    ASSERT_EQ(stat(null.c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode)) << writer;
    if (getuid() == 0) {
      EXPECT_EQ(Names(null.parent_path()), std::set<std::string>{"null"}) << writer;
    }
  }
  for (const std::string& writer : Writers("/dev/full")) {
    EXPECT_EQ(Run(writer), 6) << writer << "\n" << out;
    EXPECT_NE(out.find("no space left on the device"), std::string::npos) << out;
  }
}

TEST_F(CliOutput, AFifoGetsWhatAFileGets) {
  const fs::path fifo = home / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& command : {std::string("audio decode -q ") + kFlac + " --out ", std::string("vdrive export d --out ")}) {
    std::string received;
    std::thread reader([&] { received = qvtest::ReadFile(fifo); });
    EXPECT_EQ(Run(command + fifo.string()), 0) << out;
    reader.join();
    ASSERT_EQ(Run(command + (home / "file").string()), 0) << out;
    EXPECT_TRUE(received == qvtest::ReadFile(home / "file")) << command;
    EXPECT_EQ(fs::status(fifo).type(), fs::file_type::fifo);
  }
}

TEST_F(CliOutput, ALeftoverPartLinkIsNotFollowed) {
  const fs::path victim = home.Write("victim.txt", "keep me\n");
  fs::create_symlink(victim, home / "x.iso.part");
  ASSERT_EQ(Run("image iso -q --out " + (home / "x.iso").string() + " " + (home / "src").string()), 0) << out;
  EXPECT_EQ(qvtest::ReadFile(victim), "keep me\n");
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(home / "x.iso")));
  EXPECT_EQ(Run("vdrive export d --out " + (home / "x.iso.part").string()), 0) << out;
  EXPECT_EQ(qvtest::ReadFile(victim), "keep me\n") << "a link at the name itself is replaced";
}

// Ctrl-C and SIGTERM in the middle of writing: the earlier file stays, no
// part of the new one is left.
TEST_F(CliOutput, SignalsKeepAnEarlierFileAndLeaveNoPart) {
  const fs::path work = home / "work";
  home.Write("work/big/zeros", "");
  fs::resize_file(work / "big/zeros", uint64_t{3} << 30);  // sparse: read fast, written slowly
  home.Write("work/long.raw", "");
  fs::resize_file(work / "long.raw", uint64_t{2} << 30);
  const struct {
    std::vector<std::string> args;
    std::string out;
  } commands[] = {
      {{"image", "iso", "--quiet", "--out", (work / "out.iso").string(), (work / "big").string()}, "out.iso"},
      {{"audio", "decode", "-q", (work / "long.raw").string(), "--out", (work / "out.wav").string()}, "out.wav"},
  };
  for (int signal : {SIGINT, SIGTERM}) {
    for (const auto& c : commands) {
      home.Write("work/" + c.out, "an earlier file");
      const std::set<std::string> before = Names(work);
      const pid_t child = fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        std::vector<char*> argv{const_cast<char*>(kQuorvane.c_str())};
        for (const std::string& a : c.args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        freopen("/dev/null", "w", stderr);
        execv(kQuorvane.c_str(), argv.data());
        _exit(127);
      }
      for (int i = 0; i < 1000 && Names(work).size() == before.size(); ++i) usleep(10000);
      kill(child, signal);
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      ASSERT_TRUE(WIFEXITED(status)) << c.out << " " << signal;
      EXPECT_EQ(WEXITSTATUS(status), 130) << c.out << " " << signal;
      EXPECT_EQ(Names(work), before) << c.out << " " << signal;
      EXPECT_EQ(qvtest::ReadFile(work / c.out), "an earlier file");
    }
  }
}

}  // namespace
