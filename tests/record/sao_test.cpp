// Session-at-once through the engine: a mixed-mode CD (data, then audio)
// on a closed disc, and a burn that fails at each of its commands. (What
// the disc holds is judged by cd-info and cdrdao in the command's tests.)
#include <cstring>

#include "burn_support.h"
#include "core/exception.h"
#include "files/file.h"
#include "files/file_chain.h"
#include "record/burner_grabber.h"
#include "record/session_at_once.h"

namespace qvtest {
namespace {

constexpr int kSendCueSheet = 0x5D, kWrite = 0x2A, kSynchronize = 0x35;

class SaoBurn : public BurnFixture {
 protected:
  // A data track of 400 blocks of 0x5A, then the audio fixture with a
  // one-second post-gap and an index 2 at one second.
  QV_ULONG BurnMixed(bool oneReader = false) {
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
    return (oneReader ? Quorvane_CdvdBurnerGrabber_SessionAtOnceEx : Quorvane_CdvdBurnerGrabber_SessionAtOnce)(
        handle, QV_STATUS(s), t, 2, "4006381333931", 0, 0, 0, 1, 1);
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
  bool oneReader = false;  // SessionAtOnceEx
};

class SaoFaults : public SaoBurn, public ::testing::WithParamInterface<SaoFault> {};

TEST_P(SaoFaults, FailsCleanly) {
  Make("cd-r");
  ASSERT_EQ(Open(), 0u) << s.text;
  Arm(GetParam().rule, {kSynchronize});
  EXPECT_EQ(BurnMixed(GetParam().oneReader), QV_ULONG{EN_CDB_CALL_FAILED}) << s.text;
  EXPECT_EQ(Seen(kSynchronize) > 0, GetParam().written);
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_TestUnitReady(handle, QV_STATUS(s)), 0u) << s.text;
}

// One row per way the burn ends: refused before a write, a write failing
// with each kind of reader feeding it, a flush that fails.
INSTANTIATE_TEST_SUITE_P(
    Commands, SaoFaults,
    ::testing::Values(SaoFault{"SendCueSheet", R"({"kind": "sense", "opcode": 93, "sense": [5, 38, 0]})", false},
                      SaoFault{"DataWrite", R"({"kind": "sense", "opcode": 42, "nth": 20, "sense": [3, 12, 0]})", true},
                      SaoFault{"SynchronizeCache", R"({"kind": "sense", "opcode": 53, "times": 0, "sense": [3, 12, 0]})", true},
                      SaoFault{"ExAudioPregapWrite", R"({"kind": "sense", "opcode": 42, "lba": [400, 410], "sense": [3, 12, 0]})", true, true}),
    [](const auto& info) { return std::string(info.param.name); });

// One reader feeds both tracks; the second track's source fails after a
// cache's worth of the first was written: the writer throws what the reader
// caught, flushes what it wrote, and the drive and the object burn again.
TEST_F(SaoBurn, ExSourceFailingMidBurnStopsTheReader) {
  struct FailsAfter : CQuorvane_File {
    explicit FailsAfter(uint64_t size) : CQuorvane_File(size) {}
    void RealRead(uint64_t length, uint8_t* buffer) override {
      if ((done += length) > size / 2)
        QuorvaneI_Throw("FailsAfter::RealRead", EN_SYSTEM_CALL_FAILED, 5, "FailsAfter::RealRead(): data error!!!");
      std::memset(buffer, 0x5A, length);
    }
    uint64_t size = 0, done = 0;
  };
  Make("cd-r");
  ASSERT_EQ(Open(1), 0u) << s.text;
  CQuorvane_DiskFile first(Source("first.iso", 4 << 20, 0x11).c_str());
  FailsAfter second(4 << 20);
  second.size = 4 << 20;
  CQuorvane_FileChain chains[2];
  chains[0].AddChainTail(&first);
  chains[1].AddChainTail(&second);
  QuorvaneI_SaoLayout layout;
  layout.tracks.resize(2);
  for (int i = 0; i < 2; ++i) layout.tracks[i].source = &chains[i];
  Arm("", {kSynchronize, kWrite});
  QV_ULONG number = EN_SUCCESS;
  try {
    static_cast<CQuorvane_CdvdBurnerGrabber*>(handle)->SessionAtOnceEx(layout, QuorvaneI_SaoRequest{});
  } catch (CQuorvane_Exception* e) {
    QuorvaneI_Caught owned(e);
    number = e->Number();
  }
  EXPECT_EQ(number, QV_ULONG{EN_SYSTEM_CALL_FAILED});
  EXPECT_GT(Seen(kWrite), 0u);
  EXPECT_GT(Seen(kSynchronize), 0u);
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_TestUnitReady(handle, QV_STATUS(s)), 0u) << s.text;
}

}  // namespace
}  // namespace qvtest
