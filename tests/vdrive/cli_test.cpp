// The quorvane vdrive commands, run as a user runs them.
#include <nlohmann/json.hpp>
#include <set>

#include "door_client.h"
#include "support/cli_fixture.h"

namespace qvtest {
namespace {

// The command's own home (a work folder here) gives way to the drives'
// home, which has virtual time and the doors built in.
class VdriveCommand : public CliTest {
 protected:
  VirtualDriveHome drives;
};

TEST_F(VdriveCommand, CreateListInsertEject) {
  ASSERT_EQ(Run("vdrive list"), 0);
  EXPECT_NE(out.find("No virtual drives"), std::string::npos) << out;
  ASSERT_EQ(Run("vdrive create burner --media dvd+rw --model PIONEER:DVD-RW_DVR-108"), 0) << out;
  EXPECT_NE(out.find("CdRom0"), std::string::npos) << out;
  ASSERT_EQ(Run("vdrive create reader"), 0) << out;
  ASSERT_EQ(Run("vdrive list"), 0);
  EXPECT_NE(out.find("burner           CdRom0   PIONEER DVD-RW_DVR-108     dvd+rw blank"), std::string::npos) << out;
  EXPECT_NE(out.find("reader           CdRom1   QUORVANE Virtual Recorder  (empty)"), std::string::npos) << out;

  ASSERT_EQ(Run("vdrive insert reader --media cd-rw"), 0) << out;
  ASSERT_EQ(Run("--json vdrive list"), 0);
  const auto list = Json();
  EXPECT_EQ(list["home"], drives.path().string());
  EXPECT_EQ(list["drives"][1]["disc"]["type"], "cd-rw");
  ASSERT_EQ(Run("vdrive models"), 0) << out;
  EXPECT_NE(out.find("PHILIPS:CDD5301\n"), std::string::npos) << out;
  ASSERT_EQ(Run("vdrive eject reader --json"), 0) << out;
  EXPECT_TRUE(Json()["disc"].is_null());
  ASSERT_EQ(Run("vdrive delete reader"), 0) << out;
  ASSERT_EQ(Run("vdrive list --json"), 0);
  EXPECT_EQ(Json()["drives"].size(), 1u);
}

// Drives made at once by separate processes each get a device name and a
// SCSI address of their own.
TEST_F(VdriveCommand, ConcurrentCreatesGetNamesOfTheirOwn) {
  std::string command;
  for (int i = 0; i < 10; ++i) command += "quorvane vdrive create d" + std::to_string(i) + " >/dev/null & ";
  ASSERT_EQ(RunCommand("export PATH=" + qvtest::BinaryDir() + "/cli:$PATH QUORVANE_VDRIVE_HOME=" + drives.path().string() +
                       "; " + command + "wait"), 0);
  ASSERT_EQ(Run("vdrive list --json"), 0) << out;
  std::set<std::string> names, addresses;
  const auto list = Json();
  for (const auto& d : list.at("drives")) {
    names.insert(d["deviceName"].get<std::string>());
    addresses.insert(d["model"]["address"].dump());
  }
  EXPECT_EQ(names.size(), 10u) << out;
  EXPECT_EQ(addresses.size(), 10u) << out;
}

TEST_F(VdriveCommand, FailuresHaveMessagesAndExitCodes) {
  ASSERT_EQ(Run("vdrive create d --media cd-r"), 0);
  const auto image = home.Write("small.iso", std::string(4096, 'i'));
  struct Case {
    std::string args;
    int code;
    const char* says;
  } cases[] = {
      {"vdrive create d", 2, "exists"},
      {"vdrive create bad/name", 2, "not a drive name"},
      {"vdrive create e --media floppy", 2, "unknown media type 'floppy'; use one of cd-rom, cd-r"},
      {"vdrive create e --model NOCOLON", 2, "VENDOR:PRODUCT"},
      {"vdrive insert nothere --media cd-r", 3, "no virtual drive named 'nothere'"},
      {"vdrive insert d", 2, "--media, --image or --disc"},
      {"vdrive insert d --media cd-r --disc " + std::string(QUORVANE_DISCS_DIR) + "/data-cd.json", 2, "excludes"},
      {"vdrive insert d --disc " + image.string(), 1, "not valid JSON"},
      {"vdrive insert d --image " + (home / "none.iso").string(), 2, "does not exist"},
      {"vdrive", 2, ""},
  };
  for (const auto& c : cases) {
      EXPECT_EQ(Run(c.args), c.code) << c.args << "\n" << out;
    EXPECT_NE(out.find(c.says), std::string::npos) << c.args << "\n" << out;
  }
  // A locked tray keeps the disc: the drive is busy.
  DoorClient d("d");
  ASSERT_TRUE(d.In(Prevent(1)).Good());
  EXPECT_EQ(Run("vdrive insert d --image " + image.string()), 4) << out;
  EXPECT_NE(out.find("locked"), std::string::npos) << out;
  EXPECT_EQ(Run("vdrive eject d"), 4) << out;
  EXPECT_EQ(Run("vdrive delete d"), 4) << "in use: " << out;
}

// Another process (the quorvane command) changes the disc under an open
// handle; the handle sees the change as a real drive would show it.
TEST_F(VdriveCommand, ASecondProcessChangesTheDisc) {
  std::string image(20 * 2048, '\0');
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 7 + i / 2048);
  const auto iso = home.Write("x.iso", image);
  MakeDrive("d", nullptr);
  DoorClient d("d");
  EXPECT_EQ(d.In(TestUnitReady()).Outcome(), "02/3A/01");
  ASSERT_EQ(Run("vdrive insert d --image " + iso.string()), 0) << out;
  // Its spin-up was stamped on the machine's clock, long past this test's virtual one.
  EXPECT_EQ(d.UntilReady(), (std::vector<std::string>{"06/28/00", "GOOD"}));
  const Reply r = d.In(Read10(0, static_cast<uint16_t>(image.size() / 2048)), 1 << 20);
  ASSERT_TRUE(r.Good());
  EXPECT_TRUE(std::string(r.data.begin(), r.data.end()) == image);
  ASSERT_EQ(Run("vdrive eject d"), 0) << out;
  EXPECT_EQ(d.In(TestUnitReady()).Outcome(), "02/3A/01");
  // A drive removed under an open handle is a device that is gone.
  ASSERT_EQ(RunCommand("rm -rf " + (drives.path() / "d").string()), 0);
  EXPECT_EQ(d.In(TestUnitReady()).Outcome(), "door 1167");
}

TEST_F(VdriveCommand, ListsADamagedDriveWithTheReason) {
  ASSERT_EQ(Run("vdrive create good"), 0);
  ASSERT_EQ(Run("vdrive create bad"), 0);
  std::ofstream(drives.path() / "bad" / "state.json") << "{";
  EXPECT_EQ(Run("vdrive list"), 0);
  EXPECT_NE(out.find("damaged: virtual drive 'bad': state.json: not valid JSON"), std::string::npos) << out;
  EXPECT_NE(out.find("good             CdRom0"), std::string::npos) << out;
  EXPECT_EQ(Run("vdrive insert bad --media cd-r"), 1) << out;
}

}  // namespace
}  // namespace qvtest
