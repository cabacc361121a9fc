// Fault injection: each kind, by opcode and by nth command, by block range,
// and armed from outside through the drive folder. (Answers cut short or
// garbled are what the device tests arm for every answer they make up; a
// slow drive's delay on the clock is GrabRead's progress each second.)
#include <nlohmann/json.hpp>

#include "door_client.h"
#include "vdrive/faults.h"

namespace qvtest {
namespace {

using qv::vdrive::FaultKind;
using qv::vdrive::FaultRule;

class Faults : public ::testing::Test {
 protected:
  VirtualDriveHome home;
  void SetUp() override { MakeDrive("d", "cd-rom"); }
};

FaultRule Rule(int opcode, uint32_t nth, uint32_t times, FaultKind kind, uint8_t key = 0, uint8_t asc = 0,
               uint8_t ascq = 0) {
  FaultRule r;
  r.opcode = opcode;
  r.nth = nth;
  r.times = times;
  r.kind = kind;
  if (kind == FaultKind::UnitAttention) r.code = {0x28, 0x00};
  if (asc != 0) {
    r.key = key;
    r.code = {asc, ascq};
  }
  return r;
}

TEST_F(Faults, EachKindAtTheNthCommandOfAnOpcode) {
  struct Case {
    const char* what;
    FaultRule rule;
    std::vector<uint8_t> cdb;
    std::vector<std::string> outcomes;  // of five commands in a row
  } cases[] = {
      {"sense on the 3rd READ(10)", Rule(0x28, 3, 1, FaultKind::Sense, 3, 0x11, 0), Read10(20, 1),
       {"GOOD", "GOOD", "03/11/00", "GOOD", "GOOD"}},
      {"busy twice", Rule(0x00, 1, 2, FaultKind::Busy), TestUnitReady(), {"BUSY", "BUSY", "GOOD", "GOOD", "GOOD"}},
      {"long write in progress", Rule(0x00, 2, 1, FaultKind::LongWriteInProgress), TestUnitReady(),
       {"GOOD", "02/04/08", "GOOD", "GOOD", "GOOD"}},
      {"unit attention, power on", Rule(0x25, 1, 1, FaultKind::UnitAttention, 6, 0x29, 0), ReadCapacity(),
       {"06/29/00", "GOOD", "GOOD", "GOOD", "GOOD"}},
      {"unit attention by default 28/00", Rule(-1, 4, 1, FaultKind::UnitAttention), TestUnitReady(),
       {"GOOD", "GOOD", "GOOD", "06/28/00", "GOOD"}},
      {"every time from the 2nd", Rule(0x00, 2, 0, FaultKind::Sense, 4, 0x44, 0), TestUnitReady(),
       {"GOOD", "04/44/00", "04/44/00", "04/44/00", "04/44/00"}},
      {"another opcode is not counted", Rule(0x28, 1, 0, FaultKind::Busy), TestUnitReady(),
       {"GOOD", "GOOD", "GOOD", "GOOD", "GOOD"}},
      {"the disc pulled out at the 2nd, for good", Rule(0x00, 2, 1, FaultKind::Pull), TestUnitReady(),
       {"GOOD", "02/3A/02", "02/3A/02", "02/3A/02", "02/3A/02"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(qv::vdrive::ClearFaults("d"), 0u);
    ASSERT_EQ(qv::vdrive::AddFault("d", c.rule), 0u);
    DoorClient d("d");
    std::vector<std::string> outcomes;
    for (int i = 0; i < 5; ++i) outcomes.push_back(d.In(c.cdb, 2048).Outcome());
    EXPECT_EQ(outcomes, c.outcomes);
  }
}

TEST_F(Faults, MediumErrorOnABlockRange) {
  FaultRule r = Rule(0x28, 1, 0, FaultKind::Sense, 3, 0x11, 0);
  r.firstLba = 100;
  r.lastLba = 101;
  ASSERT_EQ(qv::vdrive::AddFault("d", r), 0u);
  DoorClient d("d");
  EXPECT_TRUE(d.In(Read10(90, 10), 20480).Good());
  EXPECT_TRUE(d.In(Read10(102, 5), 10240).Good());
  EXPECT_TRUE(d.In(TestUnitReady()).Good());
  const Reply bad = d.In(Read10(95, 10), 20480);
  EXPECT_EQ(bad.Outcome(), "03/11/00");
  EXPECT_EQ(bad.sense.at(0), 0xF0);
  EXPECT_EQ(bad.sense.at(6), 100) << "the first bad block";
  EXPECT_EQ(d.In(Read10(101, 1), 2048).Outcome(), "03/11/00");
  // READ CD MSF names its blocks by time: 00:03:26 is block 101.
  r.opcode = 0xB9;
  ASSERT_EQ(qv::vdrive::AddFault("d", r), 0u);
  EXPECT_TRUE(d.In({0xB9, 0, 0, 0, 3, 27, 0, 3, 30, 0x10, 0, 0}, 3 * 2352).Good());
  EXPECT_EQ(d.In({0xB9, 0, 0, 0, 3, 20, 0, 3, 27, 0x10, 0, 0}, 7 * 2352).Outcome(), "03/11/00");
}

TEST_F(Faults, ADeviceThatVanishes) {
  ASSERT_EQ(qv::vdrive::AddFault("d", Rule(-1, 2, 1, FaultKind::Vanish)), 0u);
  {
    DoorClient d("d");
    EXPECT_TRUE(d.In(TestUnitReady()).Good());
    EXPECT_EQ(d.In(Inquiry(), 96).Outcome(), "door 1167");
    EXPECT_EQ(d.In(TestUnitReady()).Outcome(), "door 1167") << "and stays gone";
    DoorClient again("d");
    EXPECT_EQ(again.openError(), 2u) << "no longer found";
    PassThrough lib;
    uint32_t count = 7;
    void* list = nullptr;
    ASSERT_EQ(lib.enumerate(2, 0, &count, &list, nullptr), 0u);
    EXPECT_EQ(count, 0u) << "nor listed";
    EXPECT_EQ(lib.free(list), 0u);
  }
  ASSERT_EQ(qv::vdrive::Reattach("d"), 0u);
  DoorClient d("d");
  EXPECT_TRUE(d.In(TestUnitReady()).Good());
}

TEST_F(Faults, ArmedThroughTheDriveFolder) {
  DoorClient d("d");
  // Another process writes the rules; this one's open handle obeys them.
  ASSERT_EQ(QvDrive_SetFaults("d", R"({"rules": [{"kind": "sense", "opcode": 37, "sense": [5, 36, 0]}]})"), 0u)
      << VdriveErrorText();
  EXPECT_EQ(d.In(ReadCapacity(), 8).Outcome(), "05/24/00");
  EXPECT_TRUE(d.In(ReadCapacity(), 8).Good());
  // The rule's progress is kept with it.
  const auto saved = nlohmann::json::parse(ReadFile(home.path() / "d" / "faults.json"));
  EXPECT_EQ(saved["rules"][0]["fired"], 1);
  ASSERT_EQ(QvDrive_SetFaults("d", nullptr), 0u);
  EXPECT_FALSE(std::filesystem::exists(home.path() / "d" / "faults.json"));

  // Rejected whole, as text or as a rule (the JSON fuzzer tries the rest).
  for (const char* bad : {"{", R"({"rules": [{"kind": "busy"}, {"kind": "slow", "ms": 0}]})"}) {
    EXPECT_EQ(QvDrive_SetFaults("d", bad), 87u) << bad;
    EXPECT_NE(VdriveErrorText().find("bad fault rules"), std::string::npos);
  }
  EXPECT_TRUE(d.In(TestUnitReady()).Good()) << "rejected rules change nothing";
}

}  // namespace
}  // namespace qvtest
