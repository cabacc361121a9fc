// Session-at-once through the engine: a mixed-mode CD (data, then audio)
// on a closed disc, and a burn that fails at each of its commands. (What
// the disc holds is judged by cd-info and cdrdao in the command's tests.)
#include <cstring>

#include "burn_support.h"

namespace qvtest {
namespace {

constexpr int kSendCueSheet = 0x5D, kWrite = 0x2A, kSynchronize = 0x35;

class SaoBurn : public BurnFixture {
 protected:
  // A data track of 400 blocks of 0x5A, then the audio fixture with a
  // one-second post-gap and an index 2 at one second.
  QV_ULONG BurnMixed() {
    data = Source("data.iso", 400 * 2048, 0x5A);
    audio = std::string(qvtest::SourceDir()) + "/tests/audio/fixtures/tone-cd.wav";
    QUORVANE_SAO_TRACK t[2] = {};
    t[0].m__PCHAR__FileName = data.c_str();
    t[0].m__LONG__PregapBlocks = 150;
    t[1].m__PCHAR__FileName = audio.c_str();
    t[1].m__BOOLEAN__IsAudio = 1;
    t[1].m__LONG__PregapBlocks = 150;
    t[1].m__LONG__PostgapBlocks = 75;
    t[1].m__LONG__IndexCount = 1;
    t[1].m__LONG__Indexes[0] = 75;
    std::memcpy(t[1].m__CHAR__Isrc, "USABC9900002", 12);
    return Quorvane_CdvdBurnerGrabber_SessionAtOnce(handle, QV_STATUS(s), t, 2, "4006381333931", 0, 0, 0, 1, 1);
  }
  std::filesystem::path data;
  std::string audio;
};

// A closed disc takes no session at once, and keeps what it holds.
TEST_F(SaoBurn, AClosedDiscTakesNoSecondSession) {
  Make("cd-r");
  ASSERT_EQ(Open(), 0u) << s.text;
  ASSERT_EQ(BurnMixed(), 0u) << s.text;
  const auto disc = Describe()["disc"];
  EXPECT_EQ(disc["status"], "complete");
  EXPECT_NE(BurnMixed(), 0u);
  EXPECT_EQ(Describe()["disc"], disc);
}

struct SaoFault {
  const char* name;
  const char* rule;
  bool written;  // the drive is told to flush
};

class SaoFaults : public SaoBurn, public ::testing::WithParamInterface<SaoFault> {};

TEST_P(SaoFaults, FailsCleanly) {
  Make("cd-r");
  ASSERT_EQ(Open(), 0u) << s.text;
  Arm(GetParam().rule, {kSynchronize});
  EXPECT_EQ(BurnMixed(), QV_ULONG{EN_CDB_CALL_FAILED}) << s.text;
  EXPECT_EQ(Seen(kSynchronize) > 0, GetParam().written);
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_TestUnitReady(handle, QV_STATUS(s)), 0u) << s.text;
}

INSTANTIATE_TEST_SUITE_P(
    Commands, SaoFaults,
    ::testing::Values(SaoFault{"ReadTrackInformation", R"({"kind": "sense", "opcode": 82, "sense": [5, 36, 0]})", false},
                      SaoFault{"SendCueSheet", R"({"kind": "sense", "opcode": 93, "sense": [5, 38, 0]})", false},
                      SaoFault{"FirstWrite", R"({"kind": "sense", "opcode": 42, "sense": [3, 12, 0]})", false},
                      SaoFault{"DataWrite", R"({"kind": "sense", "opcode": 42, "nth": 20, "sense": [3, 12, 0]})", true},
                      SaoFault{"AudioTrackWrite", R"({"kind": "sense", "opcode": 42, "lba": [560, 600], "sense": [3, 12, 0]})", true},
                      SaoFault{"SynchronizeCache", R"({"kind": "sense", "opcode": 53, "times": 0, "sense": [3, 12, 0]})", true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qvtest
