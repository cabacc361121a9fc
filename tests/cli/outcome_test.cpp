// Every failure a user can meet, through the command against virtual
// drives: its exit code, its words, said once, and nothing sent to the
// drive that would change it.
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "support/test_support.h"
#include "vdrive/qvdrive.h"

namespace {

namespace fs = std::filesystem;

class CliOutcomes : public ::testing::Test {
 protected:
  void SetUp() override {
    // An unprivileged user must reach the drives and files (a root user
    // reads any file, so the unreadable one is tried as nobody).
    fs::permissions(home.path(), fs::perms::all);
    qvtest::SetEnvironment("QUORVANE_VDRIVE_HOME", home.path().c_str());
    env_ = "H='" + home.path().string() + "' W='" + (home / "w").string() + "' D='" + QUORVANE_DISCS_DIR + "' Q='" +
           qvtest::BinaryDir() + "/cli/quorvane' F='" + qvtest::SourceDir() + "/tests/audio/fixtures' QUORVANE_VDRIVE_HOME='" +
           home.path().string() + "' ";
    home.Write("w/src/a.txt", "a file\n");
    home.Write("w/src/secret.txt", "not for nobody\n");
  }
  void TearDown() override { qvtest::SetEnvironment("QUORVANE_VDRIVE_HOME", nullptr); }
  int Shell(const std::string& command, std::string* out) {
    return qvtest::RunCommand(env_ + "sh -c '" + command + "' 2>&1", out);
  }
  qvtest::TempDir home;
  std::string env_;
};

struct Row {
  const char* setup;  // shell: $Q the command, $H the drives, $W the files, $D disc descriptions, $F audio files
  const char* args;
  int exit;
  const char* says;
};

void Expect(const Row& r, int exit, const std::string& out) {
  EXPECT_EQ(exit, r.exit) << r.args << "\n" << out;
  EXPECT_NE(out.find(r.says), std::string::npos) << r.args << "\n" << out;
  size_t headlines = 0;  // the detail line is indented
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) headlines += line.rfind("quorvane: ", 0) == 0 && line[10] != ' ';
  EXPECT_EQ(headlines, 1u) << "one message for " << r.args << "\n" << out;
}

TEST_F(CliOutcomes, EachFailureHasItsCodeAndWords) {
  const std::string nobody = getuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
  const Row rows[] = {
      {"", "info --drive nothere", 3, "no drive named nothere"},
      {"$Q vdrive create s && echo { > $H/s/state.json", "info --drive s", 1, "state.json: not valid JSON"},
      {"", "burn --drive s $W/src", 1, "state.json: not valid JSON"},
      {"$Q vdrive create m && echo { > $H/m/model.json", "info --drive m", 1, "model.json: not valid JSON"},
      {"", "burn --drive e $W/src", 4, "no disc in the drive"},
      {"", "erase --drive e", 4, "no disc in the drive"},
      {"", "format --drive e", 4, "no disc in the drive"},
      {"$Q vdrive insert e --disc $D/data-cd.json", "burn --drive e $W/src", 7,
       "the disc is not writable (complete)"},
      {"$Q vdrive insert e --disc $D/dvd+r-closed.json", "burn --drive e --image $W/src/a.txt", 7,
       "the disc is not writable (complete)"},
      {"$Q vdrive insert e --media dvd-rom", "burn --drive e $W/src", 7,
       "the disc is not writable (read-only)"},
      {"$Q vdrive insert e --media cd-r", "erase --drive e", 7, "this disc cannot be erased"},
      {"$Q vdrive insert e --media dvd-r", "erase --drive e --full", 7, "this disc cannot be erased"},
      {"$Q vdrive insert e --media cd-rom", "erase --drive e", 7, "this disc cannot be erased"},
      {"$Q vdrive insert e --media cd-rw", "format --drive e", 7, "this disc cannot be formatted"},
      {"ln -s $W/gone $W/src/dangling && $Q vdrive create p --media dvd+rw", "burn --drive p $W/src", 3,
       "src/dangling: a link to"},
      {"", "image iso --out $W/x.iso $W/src", 3, "src/dangling: a link to"},
      {"rm $W/src/dangling", "image iso --out $W/x.iso --boot $W/nothere $W/src", 3, "nothere: no such file"},
      {"", "burn --drive p --image $W/nothere", 3, "nothere: no such file"},
      {"", "burn --drive p /dev/zero", 2, "/dev/zero is a character device"},
      {"", "burn --drive p --image /dev/zero", 2, "/dev/zero is a character device"},
      {"echo an earlier file > $W/out.iso && truncate -s 5G $W/big", "image iso --out $W/out.iso $W/big", 7,
       "smaller than 4 GiB"},
      {"", "image iso --out $W/out.iso --boot $W/src/a.txt --boot-emulation floppy $W/src", 2, "must hold 1474560"},
      {"", "image iso --out $W/no/such/folder.iso $W/src", 3, "cannot write"},
      {"", "audio decode $F/missing.mp3 --out $W/out.iso", 3, "no such file"},
      {"", "audio decode $F/tone-48k.wav --out $W/out.iso", 7, "not a supported audio format"},
      {"", "audio decode $F/mono.ogg --out $W/out.iso", 7, "only 2 channels at 44100 Hz"},
      {"chmod 000 $W/src/secret.txt", "image iso --out /dev/null $W/src", 6, "secret.txt: permission denied"},
  };
  // Rules that count and never fire: a command that would change the disc
  // in e (BLANK, FORMAT UNIT, WRITE, RESERVE or CLOSE TRACK) is seen by
  // them.
  std::string out;
  ASSERT_EQ(Shell("$Q vdrive create e", &out), 0) << out;
  nlohmann::json rules = nlohmann::json::array();
  for (int opcode : {0xA1, 0x04, 0x2A, 0x53, 0x5B})
    rules.push_back({{"kind", "busy"}, {"opcode", opcode}, {"nth", 4000000000u}});
  ASSERT_EQ(QvDrive_SetFaults("e", nlohmann::json{{"rules", rules}}.dump().c_str()), 0u);
  for (const Row& r : rows) {
    if (*r.setup) {
      ASSERT_EQ(Shell(r.setup, &out), 0) << r.setup << "\n" << out;
    }
    const std::string prefix = std::string(r.args).rfind("image", 0) == 0 ? nobody : "";
    Expect(r, Shell(prefix + "$Q " + r.args, &out), out);
  }
  EXPECT_EQ(qvtest::ReadFile(home / "w/out.iso"), "an earlier file\n");
  for (const auto& e : fs::directory_iterator(home / "w")) EXPECT_EQ(e.path().string().find(".part"), std::string::npos);
  // Nothing that changes a drive was sent to the refused one.
  const auto faults = nlohmann::json::parse(qvtest::ReadFile(home / "e" / "faults.json"));
  for (const auto& rule : faults["rules"]) EXPECT_EQ(rule["seen"], 0) << rule.dump();
}

// A drive another program holds, as the first of two burns holds it.
TEST_F(CliOutcomes, ADriveInUseIsBusy) {
  std::string out;
  ASSERT_EQ(Shell("$Q vdrive create d --media cd-r", &out), 0) << out;
  const std::u16string device = u"CdRom0";
  void* held = nullptr;
  ASSERT_EQ(QvSptd_Ordinal45(device.c_str(), 0x10000000, &held), 0u);
  for (const Row& r : {Row{"", "burn --drive d $W/src", 4, "the drive d is busy"},
                       Row{"", "erase --drive d", 4, "the drive d is busy"},
                       Row{"", "info --drive d", 4, "the drive d is busy"}})
    Expect(r, Shell("$Q " + std::string(r.args), &out), out);
  QvSptd_Ordinal46(held);
  EXPECT_EQ(Shell("$Q burn --drive d $W/src", &out), 0) << out;
}

}  // namespace
