// The quorvane command's burn, erase, format and vdrive export against
// virtual drives, checked with outside tools.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "support/test_support.h"
#include "vdrive/qvdrive.h"

namespace {

class BurnCli : public ::testing::Test {
 protected:
  void SetUp() override { setenv("QUORVANE_VDRIVE_HOME", home.path().c_str(), 1); }
  void TearDown() override { unsetenv("QUORVANE_VDRIVE_HOME"); }
  int Run(const std::string& args) {
    return qvtest::RunCommand(std::string(QUORVANE_BINARY_DIR) + "/cli/quorvane " + args + " 2>&1", &out);
  }
  // A path under the home, quoted for the shell.
  std::string At(const std::string& name) { return "'" + (home.path() / name).string() + "'"; }
  // One file of an image, as bsdtar extracts it.
  std::string Extract(const std::string& image, const std::string& file) {
    std::string text;
    EXPECT_EQ(qvtest::RunCommand("bsdtar -xOf " + At(image) + " " + file, &text), 0) << text;
    return text;
  }
  // The files of the last session on a drive's disc, as xorriso extracts
  // them into a folder of the home.
  std::filesystem::path LastSession(const std::string& drive) {
    EXPECT_EQ(Run("--json info --drive " + drive), 0) << out;
    const auto tracks = nlohmann::json::parse(out)["disc"]["tracks"];
    EXPECT_EQ(Run("vdrive export " + drive + " --out " + At(drive + ".iso")), 0) << out;
    const auto folder = home.path() / (drive + "-last");
    EXPECT_EQ(qvtest::RunCommand("xorriso -indev stdio:" + At(drive + ".iso") + " -load sbsector " +
                                     std::to_string(tracks.back()["start"].get<int>()) + " -osirrox on -extract / '" +
                                     folder.string() + "' 2>&1",
                                 &out),
              0)
        << out;
    return folder;
  }
  // The quorvane command in the background, its output in out.txt.
  pid_t Start(const std::string& args) {
    const pid_t child = fork();
    if (child == 0) {
      const int log = ::open((home.path() / "out.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(log, 1);
      dup2(log, 2);
      const std::string command = "exec " + std::string(QUORVANE_BINARY_DIR) + "/cli/quorvane " + args;
      execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    return child;
  }
  int Finish(pid_t child) {
    int status = 0;
    waitpid(child, &status, 0);
    out = qvtest::ReadFile(home.path() / "out.txt");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  // Waits until the drive's fault rule has fired: the command is held
  // there, in the phase the rule picked.
  bool Held(const std::string& drive) {
    for (int i = 0; i < 6000; ++i) {
      const std::string text = qvtest::ReadFile(home.path() / drive / "faults.json");
      if (!text.empty() && nlohmann::json::parse(text)["rules"][0]["fired"].get<int>() > 0) return true;
      usleep(10000);
    }
    return false;
  }
  qvtest::TempDir home;
  std::string out;
};

TEST_F(BurnCli, BurnExportAndExtractOnTheDefaultDrive) {
  QVTEST_REQUIRE_PROGRAM("xorriso");
  QVTEST_REQUIRE_PROGRAM("bsdtar");
  home.Write("src/sub/hello.txt", "hello from the disc\n");
  ASSERT_EQ(qvtest::RunCommand("xorriso -as mkisofs -quiet -J -r -o " + At("in.iso") + " " + At("src"), &out), 0) << out;
  // No drive named: the default one is made with a blank DVD+RW.
  ASSERT_EQ(Run("burn --image " + At("in.iso")), 0) << out;
  EXPECT_NE(out.find("blank dvd+rw"), std::string::npos) << out;
  ASSERT_EQ(Run("vdrive export default --out " + At("out.iso")), 0) << out;
  EXPECT_EQ(Extract("out.iso", "sub/hello.txt"), "hello from the disc\n");
}

TEST_F(BurnCli, EraseFormatAndRefusals) {
  ASSERT_EQ(Run("vdrive create rw --media cd-rw"), 0) << out;
  EXPECT_EQ(Run("erase --drive rw"), 0) << out;
  EXPECT_EQ(Run("format --drive rw"), 2) << out;  // a CD-RW has no format to make
  ASSERT_EQ(Run("vdrive create plus --media dvd+rw"), 0) << out;
  EXPECT_EQ(Run("format --drive plus"), 0) << out;
  EXPECT_EQ(Run("vdrive export plus --out " + At("x.iso")), 1) << out;
  EXPECT_NE(out.find("no data track"), std::string::npos) << out;
  EXPECT_EQ(Run("burn --drive plus"), 2) << out;  // nothing to burn
  EXPECT_EQ(Run("burn --drive plus " + At("missing")), 3) << out;
  EXPECT_NE(out.find("no such file or folder"), std::string::npos) << out;
}

// Folders mastered on the fly: the default drive's DVD+RW, then two
// sessions on a CD-R, the second built where it lands.
TEST_F(BurnCli, FoldersMasteredOnTheFly) {
  QVTEST_REQUIRE_PROGRAM("xorriso");
  QVTEST_REQUIRE_PROGRAM("bsdtar");
  home.Write("one/sub/hello.txt", "first session\n");
  home.Write("loose.txt", "a file at the root\n");
  home.Write("two/later.txt", "second session\n");
  // The folder's contents and the file land at the root, under the label.
  ASSERT_EQ(Run("burn --label MY_FOLDERS " + At("one") + " " + At("loose.txt")), 0) << out;
  ASSERT_EQ(Run("vdrive export default --out " + At("plus.iso")), 0) << out;
  EXPECT_EQ(Extract("plus.iso", "sub/hello.txt"), "first session\n");
  EXPECT_EQ(Extract("plus.iso", "loose.txt"), "a file at the root\n");
  ASSERT_EQ(qvtest::RunCommand("xorriso -indev stdio:" + At("plus.iso") + " -pvd_info 2>&1", &out), 0) << out;
  EXPECT_NE(out.find("Volume Id    : MY_FOLDERS"), std::string::npos) << out;

  ASSERT_EQ(Run("vdrive create cdr --media cd-r"), 0) << out;
  ASSERT_EQ(Run("burn --drive cdr --multisession " + At("one")), 0) << out;
  ASSERT_EQ(Run("burn --drive cdr --multisession " + At("two")), 0) << out;
  ASSERT_EQ(Run("--json info --drive cdr"), 0) << out;
  const auto tracks = nlohmann::json::parse(out)["disc"]["tracks"];
  ASSERT_EQ(tracks.size(), 2u) << out;
  ASSERT_EQ(Run("vdrive export cdr --out " + At("cd.iso")), 0) << out;
  // The first session as it was; the second read where it starts.
  EXPECT_EQ(Extract("cd.iso", "sub/hello.txt"), "first session\n");
  ASSERT_EQ(qvtest::RunCommand("xorriso -indev stdio:" + At("cd.iso") + " -load sbsector " +
                                   std::to_string(tracks[1]["start"].get<int>()) + " -osirrox on -extract / " +
                                   At("second") + " 2>&1",
                               &out),
            0)
      << out;
  EXPECT_EQ(qvtest::ReadFile(home.path() / "second" / "later.txt"), "second session\n");
}

}  // namespace

namespace {

// Every burn on a DVD+RW, multisession or not, is what readers find.
TEST_F(BurnCli, EachBurnOnADvdPlusRwIsWhatReadersSee) {
  QVTEST_REQUIRE_PROGRAM("xorriso");
  QVTEST_REQUIRE_PROGRAM("bsdtar");
  ASSERT_EQ(Run("vdrive create plus --media dvd+rw"), 0) << out;
  const char* names[] = {"one", "two", "three"};
  for (const char* name : names) {
    home.Write(std::string(name) + "/" + name + ".txt", std::string(3000, name[1]));
    ASSERT_EQ(Run("burn --drive plus --multisession " + At(name)), 0) << out;
  }
  home.Write("four/four.txt", "not a multisession burn\n");
  ASSERT_EQ(Run("burn --drive plus " + At("four")), 0) << out;
  ASSERT_EQ(Run("vdrive export plus --out " + At("plus.iso")), 0) << out;
  EXPECT_EQ(Extract("plus.iso", "four.txt"), "not a multisession burn\n");
  EXPECT_NE(qvtest::RunCommand("bsdtar -tf " + At("plus.iso") + " one.txt 2>&1", &out), 0) << out;
  ASSERT_EQ(qvtest::RunCommand("xorriso -indev stdio:" + At("plus.iso") + " -ls / 2>&1", &out), 0) << out;
  EXPECT_NE(out.find("'four.txt'"), std::string::npos) << out;
  EXPECT_EQ(out.find("'three.txt'"), std::string::npos) << out;
  // An image made for block 0 would be read from there, over the volume:
  // refused, the disc as it was.
  home.Write("x/x.txt", "x");
  ASSERT_EQ(qvtest::RunCommand("xorriso -as mkisofs -quiet -o " + At("x.iso") + " " + At("x"), &out), 0) << out;
  EXPECT_EQ(Run("burn --drive plus --image " + At("x.iso")), 7) << out;
  EXPECT_NE(out.find("nothing was written"), std::string::npos) << out;
}

// A test burn writes nothing, on any disc: where the disc cannot simulate
// it is refused before anything is sent. A DVD-R's next real burn works.
TEST_F(BurnCli, TestBurnsNeverWrite) {
  QVTEST_REQUIRE_PROGRAM("bsdtar");
  home.Write("src/file.txt", "real\n");
  const std::pair<const char*, int> cases[] = {{"cd-r", 0},     {"cd-rw", 0},   {"dvd-r", 0},  {"dvd-rw", 0},
                                               {"dvd+r", 7},    {"dvd+r-dl", 7}, {"dvd+rw", 7}, {"dvd-ram", 7}};
  for (const auto& [media, expected] : cases) {
    SCOPED_TRACE(media);
    ASSERT_EQ(Run("vdrive create d --media " + std::string(media)), 0) << out;
    ASSERT_EQ(Run("--json info --drive d"), 0) << out;
    const auto before = nlohmann::json::parse(out)["disc"];
    EXPECT_EQ(Run("burn --test --drive d " + At("src")), expected) << out;
    ASSERT_EQ(Run("--json info --drive d"), 0) << out;
    EXPECT_EQ(nlohmann::json::parse(out)["disc"], before);
    if (expected == 0) {
      ASSERT_EQ(Run("burn --drive d " + At("src")), 0) << out;
      ASSERT_EQ(Run("vdrive export d --out " + At("d.iso")), 0) << out;
      EXPECT_EQ(Extract("d.iso", "file.txt"), "real\n");
    }
    ASSERT_EQ(Run("vdrive delete d"), 0) << out;
  }
}

// Data larger than the free space is refused with both numbers before a
// write-once disc is spent.
TEST_F(BurnCli, WhatDoesNotFitIsRefused) {
  ASSERT_EQ(Run("vdrive create cd --media cd-r"), 0) << out;
  ASSERT_EQ(Run("vdrive create plus --media dvd+r"), 0) << out;
  std::filesystem::resize_file(home.Write("big.iso", ""), uint64_t{800} << 20);
  for (int i = 0; i < 3; ++i) std::filesystem::resize_file(home.Write("many/" + std::to_string(i), ""), 2ull << 30);
  const std::pair<std::string, std::string> cases[] = {{"--drive cd --image " + At("big.iso"), "409600 blocks"},
                                                       {"--drive plus " + At("many"), "2295104 free"}};
  for (const auto& [args, number] : cases) {
    EXPECT_EQ(Run("burn " + args), 7) << out;
    EXPECT_NE(out.find(number), std::string::npos) << out;
  }
  for (const char* drive : {"cd", "plus"}) {
    ASSERT_EQ(Run("--json info --drive " + std::string(drive)), 0) << out;
    EXPECT_EQ(nlohmann::json::parse(out)["disc"]["status"], "blank") << drive;
  }
}

// Ctrl-C while a burn writes, or while it closes its session: the command
// says it was cancelled, and the next burn is the session readers find.
TEST_F(BurnCli, AfterACancelTheNextBurnIsFound) {
  QVTEST_REQUIRE_PROGRAM("xorriso");
  std::string big(3 << 20, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 31 / 7);
  home.Write("one/big.bin", big);
  home.Write("two/two.txt", "after the cancel\n");
  home.Write("three/three.txt", "after the second cancel\n");
  ASSERT_EQ(Run("vdrive create cd --media cd-r"), 0) << out;
  // The fifth WRITE, then the session's close, keep the drive busy until
  // the rule goes.
  const char* holds[] = {R"({"kind": "long-write-in-progress", "opcode": 42, "nth": 5, "times": 0})",
                         R"({"kind": "busy", "opcode": 91, "times": 0})"};
  const char* sources[] = {"one", "two"};
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(QvDrive_SetFaults("cd", (std::string("{\"rules\": [") + holds[i] + "]}").c_str()), 0u);
    const pid_t child = Start("burn --multisession --drive cd " + At(sources[i]));
    ASSERT_GT(child, 0);
    ASSERT_TRUE(Held("cd"));
    kill(child, SIGINT);
    ASSERT_EQ(QvDrive_SetFaults("cd", nullptr), 0u);
    EXPECT_EQ(Finish(child), 130) << out;
    EXPECT_NE(out.find("cancelled"), std::string::npos) << out;
  }
  ASSERT_EQ(Run("burn --drive cd --multisession " + At("three")), 0) << out;
  const auto last = LastSession("cd");
  EXPECT_EQ(qvtest::ReadFile(last / "three.txt"), "after the second cancel\n");
  EXPECT_FALSE(std::filesystem::exists(last / "big.bin"));
  // Three sessions of one track each, and the empty one that comes next:
  // the one cancelled while it closed was recorded whole.
  ASSERT_EQ(Run("--json info --drive cd"), 0) << out;
  const auto disc = nlohmann::json::parse(out)["disc"];
  EXPECT_EQ(disc["sessions"], 4) << out;
  EXPECT_EQ(disc["tracks"].size(), 3u) << out;
}

}  // namespace
