// quorvane devices and quorvane info, run as a user runs them against
// virtual drives: what they print, the JSON keys the README promises, and
// the exit codes.
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>

#include "support/cli_fixture.h"

namespace {

class DeviceCommands : public qvtest::CliTest {
 protected:
  // No ASPI library: only the virtual drives are listed.
  qvtest::ScopedEnv noAspi{"QUORVANE_LIB_WNASPI32", "/nonexistent"};
  static std::set<std::string> Keys(const nlohmann::json& j) {
    std::set<std::string> keys;
    for (const auto& [k, v] : j.items()) keys.insert(k);
    return keys;
  }
};

TEST_F(DeviceCommands, DevicesListsTheVirtualDrives) {
  ASSERT_EQ(Run("vdrive create burner --media cd-rw"), 0) << out;
  ASSERT_EQ(Run("vdrive create reader --model ACME:READER"), 0) << out;
  ASSERT_EQ(Run("devices"), 0) << out;
  EXPECT_NE(out.find("virtual  burner           CdRom0     16:0:0:0   QUORVANE Virtual Recorder 1.00     cd-rw blank"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("virtual  reader           CdRom1     16:0:1:0   ACME READER 1.00"),
            std::string::npos)
      << out;
  ASSERT_EQ(Run("devices --json"), 0) << out;
  const auto j = nlohmann::json::parse(out);
  ASSERT_EQ(j["devices"].size(), 2u);
  const auto& d = j["devices"][0];
  EXPECT_EQ(Keys(d), (std::set<std::string>{"kind", "name", "device", "address", "vendor", "product", "revision", "disc"}));
  EXPECT_EQ(d["kind"], "virtual");
  EXPECT_EQ(d["device"], "CdRom0");
  EXPECT_EQ(d["disc"], "cd-rw blank");
  EXPECT_TRUE(j["devices"][1]["disc"].is_null());
}

TEST_F(DeviceCommands, InfoDescribesADriveInJson) {
  ASSERT_EQ(Run("vdrive create burner --media dvd+r --model PLEXTOR:DVDR_PX-716A"), 0) << out;
  ASSERT_EQ(Run("info --drive burner --json"), 0) << out;
  const auto j = Json();
  const auto& d = j["drive"];
  EXPECT_EQ(Keys(d), (std::set<std::string>{"name", "device", "vendor", "product", "revision", "bufferSize", "reads",
                                            "writes", "testWrite", "writeModes", "readModes", "speeds",
                                            "bufferUnderrunProtection"}));
  EXPECT_EQ(d["device"], "CdRom0");
  EXPECT_EQ(d["vendor"], "PLEXTOR ");
  EXPECT_EQ(Keys(d["reads"]), (std::set<std::string>{"cdr", "cdrw", "dvdrom", "dvdr", "dvdram", "dvdplusrw",
                                                     "dvdplusr", "dvdplusrdl"}));
  EXPECT_EQ(d["writes"]["dvdplusr"], true);
  EXPECT_EQ(Keys(d["speeds"]), (std::set<std::string>{"currentRead", "maximumRead", "currentWrite", "maximumWrite"}));
  EXPECT_EQ(j["disc"]["type"], 13);
}

TEST_F(DeviceCommands, InfoReadsAsTextAtAGlance) {
  ASSERT_EQ(Run("vdrive create burner --media cd-r"), 0) << out;
  ASSERT_EQ(Run("info --drive burner"), 0) << out;
  for (const char* line : {"Drive burner (CdRom0): QUORVANE Virtual Recorder 1.00", "  Buffer        2048 KB",
                           "  Writes        CD-R CD-RW DVD-R DVD-RAM DVD+RW DVD+R DVD+R DL (test write)",
                           "  Write modes   TAO SAO DAO raw+PQ DAO raw+P-W", "Disc: CD-R"})
    EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
}

// info run right after a disc goes in meets the drive spinning it up; it
// waits, and tells the disc as it is.
TEST_F(DeviceCommands, TheFirstCommandAfterAnInsertSeesTheDisc) {
  ASSERT_EQ(Run("vdrive create d"), 0) << out;
  const auto model = home.path() / "d" / "model.json";
  nlohmann::json quick = nlohmann::json::parse(qvtest::ReadFile(model));
  quick["becomingReadyMs"] = 100;  // the wait matters, not its length
  std::ofstream(model) << quick.dump();
  // A CD, and DVDs of three write strategies.
  const std::pair<std::string, std::string> cases[] = {
      {"cd-rw", "CD-RW"}, {"dvd+r", "DVD+R"}, {"dvd-rw", "DVD-RW (sequential)"}, {"dvd-ram", "DVD-RAM"}};
  for (const auto& [media, typeName] : cases) {
    ASSERT_EQ(Run("vdrive insert d --media " + media), 0) << out;
    ASSERT_EQ(Run("--json info --drive d"), 0) << out;
    const auto j = Json();
    EXPECT_EQ(j["disc"]["typeName"], typeName);
    EXPECT_FALSE(j["drive"]["readModes"].is_null()) << media;
  }
}

}  // namespace
