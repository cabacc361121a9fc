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
  // The last track's volume on a drive's disc, extracted by xorriso.
  std::filesystem::path LastSession(const std::string& drive) {
    EXPECT_EQ(Run("--json info --drive " + drive), 0) << out;
    const int start = nlohmann::json::parse(out)["disc"]["tracks"].back()["start"];
    EXPECT_EQ(Run("vdrive export " + drive + " --out " + At("last.iso")), 0) << out;
    EXPECT_EQ(qvtest::RunCommand("xorriso -indev stdio:" + At("last.iso") + " -load sbsector " +
                                     std::to_string(start) + " -osirrox on -extract / " + At("last") + " 2>&1", &out),
              0) << out;
    return home.path() / "last";
  }
  // The command in the background, held by a fault rule of the drive's
  // until Ctrl-C; the rule then goes. Returns the exit code, out the output.
  int Interrupted(const std::string& drive, const std::string& rule, const std::string& args) {
    EXPECT_EQ(QvDrive_SetFaults(drive.c_str(), ("{\"rules\": [" + rule + "]}").c_str()), 0u);
    const pid_t child = fork();
    if (child == 0) {
      const int log = ::open((home.path() / "out.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(log, 1);
      dup2(log, 2);
      execl((std::string(QUORVANE_BINARY_DIR) + "/cli/quorvane").c_str(), "quorvane", "burn", "--drive", drive.c_str(),
            "--multisession", args.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    for (int i = 0; i < 6000 && nlohmann::json::parse(qvtest::ReadFile(home.path() / drive / "faults.json"))["rules"][0]
                                        ["fired"] == 0;
         ++i)
      usleep(10000);
    kill(child, SIGINT);
    EXPECT_EQ(QvDrive_SetFaults(drive.c_str(), nullptr), 0u);
    int status = 0;
    waitpid(child, &status, 0);
    out = qvtest::ReadFile(home.path() / "out.txt");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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

// Folders mastered on the fly onto the default drive's DVD+RW.
TEST_F(BurnCli, FoldersMasteredOnTheFly) {
  QVTEST_REQUIRE_PROGRAM("xorriso");
  QVTEST_REQUIRE_PROGRAM("bsdtar");
  home.Write("one/sub/hello.txt", "first session\n");
  home.Write("loose.txt", "a file at the root\n");
  // The folder's contents and the file land at the root, under the label.
  ASSERT_EQ(Run("burn --label MY_FOLDERS " + At("one") + " " + At("loose.txt")), 0) << out;
  ASSERT_EQ(Run("vdrive export default --out " + At("plus.iso")), 0) << out;
  EXPECT_EQ(Extract("plus.iso", "sub/hello.txt"), "first session\n");
  EXPECT_EQ(Extract("plus.iso", "loose.txt"), "a file at the root\n");
  ASSERT_EQ(qvtest::RunCommand("xorriso -indev stdio:" + At("plus.iso") + " -pvd_info 2>&1", &out), 0) << out;
  EXPECT_NE(out.find("Volume Id    : MY_FOLDERS"), std::string::npos) << out;

}


// Every burn on a DVD+RW, multisession or not, is what readers find. An
// image made for block 0 would be read over the volume there: refused.
TEST_F(BurnCli, EachBurnOnADvdPlusRwIsWhatReadersSee) {
  QVTEST_REQUIRE_PROGRAM("xorriso");
  QVTEST_REQUIRE_PROGRAM("bsdtar");
  ASSERT_EQ(Run("vdrive create plus --media dvd+rw"), 0) << out;
  for (const std::string name : {"one", "two", "three"}) {
    home.Write(name + "/" + name + ".txt", name);
    ASSERT_EQ(Run("burn --drive plus " + std::string(name == "three" ? "" : "--multisession ") + At(name)), 0) << out;
  }
  ASSERT_EQ(Run("vdrive export plus --out " + At("plus.iso")), 0) << out;
  EXPECT_EQ(Extract("plus.iso", "three.txt"), "three");
  ASSERT_EQ(qvtest::RunCommand("xorriso -indev stdio:" + At("plus.iso") + " -ls / 2>&1", &out), 0) << out;
  EXPECT_EQ(out.find("'two.txt'"), std::string::npos) << out;
  EXPECT_EQ(Run("burn --drive plus --image " + At("plus.iso")), 7) << out;
}

// A test burn writes nothing on any disc: where the disc cannot simulate,
// it is refused. A DVD-R's next real burn works.
TEST_F(BurnCli, TestBurnsNeverWrite) {
  QVTEST_REQUIRE_PROGRAM("bsdtar");
  home.Write("src/file.txt", "real");
  const std::pair<const char*, int> cases[] = {{"cd-r", 0},     {"cd-rw", 0},    {"dvd-r", 0},  {"dvd-rw", 0},
                                               {"dvd+r", 7},    {"dvd+r-dl", 7}, {"dvd+rw", 7}, {"dvd-ram", 7}};
  for (const auto& [media, expected] : cases) {
    SCOPED_TRACE(media);
    ASSERT_EQ(Run("vdrive create d --media " + std::string(media)), 0) << out;
    ASSERT_EQ(Run("--json info --drive d"), 0) << out;
    const auto before = nlohmann::json::parse(out)["disc"];
    EXPECT_EQ(Run("burn --test --drive d " + At("src")), expected) << out;
    ASSERT_EQ(Run("--json info --drive d"), 0) << out;
    EXPECT_EQ(nlohmann::json::parse(out)["disc"], before);
    ASSERT_EQ(Run("burn --drive d " + At("src")), 0) << out;
    ASSERT_EQ(Run("vdrive export d --out " + At("d.iso")), 0) << out;
    EXPECT_EQ(Extract("d.iso", "file.txt"), "real");
    ASSERT_EQ(Run("vdrive delete d"), 0) << out;
  }
}

// Data larger than the free space is refused with both numbers, the
// write-once disc still blank.
TEST_F(BurnCli, WhatDoesNotFitIsRefused) {
  std::filesystem::resize_file(home.Write("big.iso", ""), uint64_t{800} << 20);
  for (int i = 0; i < 3; ++i) std::filesystem::resize_file(home.Write("many/" + std::to_string(i), ""), 2ull << 30);
  const char* cases[][3] = {{"cd-r", "big.iso", "409600 blocks"}, {"dvd+r", "many", "2295104 free"}};
  for (const auto& [media, source, number] : cases) {
    ASSERT_EQ(Run("vdrive create d --media " + std::string(media)), 0) << out;
    EXPECT_EQ(Run("burn --drive d " + std::string(source[0] == 'b' ? "--image " : "") + At(source)), 7) << out;
    EXPECT_NE(out.find(number), std::string::npos) << out;
    ASSERT_EQ(Run("--json info --drive d"), 0) << out;
    EXPECT_EQ(nlohmann::json::parse(out)["disc"]["status"], "blank") << media;
    ASSERT_EQ(Run("vdrive delete d"), 0) << out;
  }
}

// Ctrl-C while a burn writes, or while it closes its session: the command
// says it was cancelled, the session is closed, and the next burn is the
// session readers find.
TEST_F(BurnCli, AfterACancelTheNextBurnIsFound) {
  QVTEST_REQUIRE_PROGRAM("xorriso");
  home.Write("one/big.bin", std::string(3 << 20, 'x'));
  home.Write("two/two.txt", "closed while cancelled");
  home.Write("three/three.txt", "after the cancels");
  ASSERT_EQ(Run("vdrive create cd --media cd-r"), 0) << out;
  EXPECT_EQ(Interrupted("cd", R"({"kind": "long-write-in-progress", "opcode": 42, "nth": 5, "times": 0})",
                        (home.path() / "one").string()),
            130) << out;
  EXPECT_EQ(Interrupted("cd", R"({"kind": "busy", "opcode": 91, "times": 0})", (home.path() / "two").string()),
            130) << out;
  ASSERT_EQ(Run("burn --drive cd --multisession " + At("three")), 0) << out;
  EXPECT_EQ(qvtest::ReadFile(LastSession("cd") / "three.txt"), "after the cancels");
  // Three sessions of a track each, and the empty one after them.
  ASSERT_EQ(Run("--json info --drive cd"), 0) << out;
  const auto disc = nlohmann::json::parse(out)["disc"];
  EXPECT_EQ(disc["sessions"], 4) << out;
  EXPECT_EQ(disc["tracks"].size(), 3u) << out;
}

}  // namespace
