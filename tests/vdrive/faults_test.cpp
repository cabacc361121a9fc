// Fault injection: each kind, by opcode and by nth command, by block range,
// and armed from outside through the drive folder.
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

// A slow drive answers as ever, late by the rule's time on the clock.
TEST_F(Faults, ASlowDriveTakesItsTime) {
  FaultRule r = Rule(0x28, 1, 0, FaultKind::Slow);
  r.delayMs = 1500;
  ASSERT_EQ(qv::vdrive::AddFault("d", r), 0u);
  DoorClient d("d");
  const uint64_t before = home.clock().NowMs();
  const Reply reply = d.In(Read10(0, 1), 2048, QVDRIVE_FLAG_TIMING);
  EXPECT_TRUE(reply.Good());
  EXPECT_GE(home.clock().NowMs() - before, 1500u);
  EXPECT_GE(reply.timing2, 1500000u);
  const uint64_t after = home.clock().NowMs();
  EXPECT_TRUE(d.In(TestUnitReady()).Good());
  EXPECT_EQ(home.clock().NowMs(), after) << "other commands are not slowed";
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

// Answers cut short or garbled, picked by a CDB byte under a mask; each
// row is the rules, then MODE SENSE of page 2Ah and of page 05h.
TEST_F(Faults, DataRulesAlterTheAnswerOfTheCommandsTheyPick) {
  DoorClient d("d");
  const Reply page2A = d.In(ModeSense10(0x2A), 4096), page05 = d.In(ModeSense10(0x05), 4096);
  ASSERT_TRUE(page2A.Good() && page05.Good());
  struct Case {
    const char* what;
    const char* rules;
    size_t size2A;
    std::vector<std::pair<size_t, uint8_t>> bytes2A;  // offset, value
    bool page05Intact;
  } cases[] = {
      {"cut to 9 bytes", R"([{"kind": "short", "opcode": 90, "cdb": [2, 42, 63], "length": 9}])", 9, {}, true},
      {"a page control of defaults does not match",
       R"([{"kind": "short", "opcode": 90, "cdb": [2, 170], "length": 9}])", page2A.data.size(), {}, true},
      {"garbled bytes", R"([{"kind": "corrupt", "cdb": [2, 42, 63], "offset": 10, "bytes": [1, 2]}])",
       page2A.data.size(), {{10, 1}, {11, 2}}, true},
      {"garbled past the end lengthens the answer",
       R"([{"kind": "corrupt", "opcode": 90, "offset": 3000, "bytes": [7], "times": 0}])", 3001, {{3000, 7}}, false},
      {"both apply, with the shortest length",
       R"([{"kind": "corrupt", "opcode": 90, "bytes": [0, 4]}, {"kind": "short", "opcode": 90, "length": 12},
           {"kind": "short", "opcode": 90, "length": 30, "times": 0}])", 12, {{0, 0}, {1, 4}}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(QvDrive_SetFaults("d", (std::string(R"({"rules": )") + c.rules + "}").c_str()), 0u) << VdriveErrorText();
    const Reply r = d.In(ModeSense10(0x2A), 4096);
    ASSERT_TRUE(r.Good());
    ASSERT_EQ(r.data.size(), c.size2A);
    // What lies between the answer's end and a patch past it is undefined.
    std::vector<uint8_t> expected = page2A.data;
    expected.resize(c.size2A);
    std::copy(r.data.begin() + static_cast<long>(std::min(c.size2A, page2A.data.size())), r.data.end(),
              expected.begin() + static_cast<long>(std::min(c.size2A, page2A.data.size())));
    for (const auto& [at, value] : c.bytes2A) expected[at] = value;
    EXPECT_EQ(r.data, expected);
    EXPECT_EQ(d.In(ModeSense10(0x05), 4096).data == page05.data, c.page05Intact);
  }
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
