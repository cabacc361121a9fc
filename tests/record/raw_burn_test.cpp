// Raw disc-at-once: the virtual drive refuses a wrong raw disc with each
// sense a recorder gives (the raw burn tests rely on it; fuzz_vdrive_raw_write
// feeds it any disc), and a raw burn that fails at each of its commands.
#include <gtest/gtest.h>

#include <cstring>

#include "../vdrive/door_client.h"
#include "burn_support.h"
#include "record/raw_areas.h"

namespace qvtest {
namespace {

constexpr int32_t kLeadIn = -11634;  // a blank CD-R's ATIP lead-in start
constexpr uint32_t kTrack = 300;

std::vector<uint8_t> Write10(int32_t lba, uint16_t blocks) {
  const auto a = static_cast<uint32_t>(lba);
  return {0x2A, 0, uint8_t(a >> 24), uint8_t(a >> 16), uint8_t(a >> 8), uint8_t(a), 0, uint8_t(blocks >> 8),
          uint8_t(blocks), 0};
}

constexpr size_t kSize = 2368;  // P-Q sectors

// A whole audio disc of one track (without its lead-out) in P-Q sectors
// from the lead-in start.
std::vector<uint8_t> RawDisc() {
  const QuorvaneI_LeadInContents contents{false, false, 1, {0}, static_cast<int32_t>(kTrack)};
  CQuorvane_ISO9660FileTreeLeadInRawPQ leadIn(kLeadIn, static_cast<uint32_t>(-150 - kLeadIn), contents);
  CQuorvane_ISO9660FileTreePreGapRawPQ preGap(-150, 150, 1, false, false);
  CQuorvane_MemoryFile file(std::unique_ptr<uint8_t[]>(new uint8_t[kTrack * 2352]), kTrack * 2352);
  auto* pcm = const_cast<uint8_t*>(file.GetBlock());
  for (size_t i = 0; i < kTrack * 2352; ++i) pcm[i] = static_cast<uint8_t>(i * 7);
  CQuorvane_FileChain cooked;
  cooked.AddChainTail(&file);
  cooked.SeekToBegin();
  CQuorvane_RawTrackFile track(&cooked, QuorvaneI_SubchannelForm::PQ, true);
  CQuorvane_FileChain chain;
  chain.AddChainTail(&track);
  chain.SeekToBegin();
  std::vector<uint8_t> disc;
  for (CQuorvane_RawAreaChain* area : std::initializer_list<CQuorvane_RawAreaChain*>{&leadIn, &preGap})
    disc.insert(disc.end(), area->GetSectors(), area->GetSectors() + area->GetSectorCount() * kSize);
  disc.resize(disc.size() + kTrack * kSize);
  chain.Read(kTrack * kSize, disc.data() + disc.size() - kTrack * kSize);
  return disc;
}

// Sends the sectors from start in writes of 16; the first outcome that is
// not GOOD, with where it came.
std::string SendAll(DoorClient& d, const std::vector<uint8_t>& disc, int32_t start) {
  const size_t count = disc.size() / kSize;
  for (size_t at = 0; at < count; at += 16) {
    const auto blocks = static_cast<uint16_t>(std::min<size_t>(16, count - at));
    const Reply r = d.Out(Write10(start + static_cast<int32_t>(at), blocks),
                          std::vector<uint8_t>(disc.begin() + at * kSize, disc.begin() + (at + blocks) * kSize));
    if (!r.Good()) return r.Outcome() + " at " + std::to_string(start + static_cast<int32_t>(at));
  }
  return "GOOD";
}

// Raw writing (write type 3) of P-Q sectors (data block type 1).
void SetRaw(DoorClient& d) {
  std::vector<uint8_t> list = ModeList(d, 0x05);
  list[10] = uint8_t((list[10] & 0x40) | 3);
  list[11] = 0x00;
  list[12] = 1;
  ASSERT_TRUE(Select(d, list).Good());
}

class RawWrite : public BurnFixture {};

TEST_F(RawWrite, DriveRefusesWhatARecorderWould) {
  struct Case {
    const char* name;
    int32_t start;
    size_t badQSector;  // 0: none; else the sector (from the lead-in start) whose Q is damaged
    const char* outcome;
  };
  const uint32_t preGap = static_cast<uint32_t>(-150 - kLeadIn);
  const Case cases[] = {
      {"not at the lead-in start", kLeadIn + 1, 0, "05/21/02 at -11633"},
      {"bad Q CRC in the track", kLeadIn, preGap + 150 + 20, "05/64/00 at 14"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Make("cd-r");
    {
      DoorClient d("CdRom0");
      d.UntilReady();
      SetRaw(d);
      std::vector<uint8_t> disc = RawDisc();
      if (c.badQSector) disc[c.badQSector * kSize + 2352 + 2] ^= 0x01;
      EXPECT_EQ(SendAll(d, disc, c.start), c.outcome);
    }
    ASSERT_EQ(QvDrive_Delete("CdRom0"), 0u);
  }
}

// A command that fails mid-burn ends the burn with its exception, the
// drive flushed once something reached it.
TEST_F(RawWrite, FailureAtEachCommand) {
  struct Case {
    const char* name;
    const char* rule;
    QV_ULONG expected;
    bool written;
  } cases[] = {
      {"mode select", R"({"kind": "sense", "opcode": 85, "sense": [5, 38, 0]})", EN_CDB_CALL_FAILED, false},
      // Without the ATIP there is no lead-in start: refused before a write.
      {"ATIP", R"({"kind": "sense", "opcode": 67, "sense": [5, 36, 0]})", 0, false},
      {"lead-in write", R"({"kind": "sense", "opcode": 42, "nth": 2, "sense": [3, 12, 0]})", EN_CDB_CALL_FAILED, true},
      {"flush", R"({"kind": "sense", "opcode": 53, "times": 0, "sense": [3, 12, 0]})", EN_CDB_CALL_FAILED, true},
  };
  const auto file = WriteAll(home.path() / "track.dat", std::vector<uint8_t>(kTrack * 2048, 0x11));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Make("cd-r");
    ASSERT_EQ(Open(), 0u) << s.text;
    Arm(c.rule, {0x35});
    const QV_ULONG result = Quorvane_CdvdBurnerGrabber_DiscAtOncePQFromFile(handle, QV_STATUS(s), file.c_str(),
                                                                            QVX_TRACK_FROM_FILE_DATA, 0, 0, 0);
    if (c.expected == 0) EXPECT_NE(result, EN_SUCCESS);
    else EXPECT_EQ(result, c.expected) << s.text;
    EXPECT_EQ(Seen(0x35) > 0, c.written);
    Quorvane_CdvdBurnerGrabber_Destroy(&handle);
    ASSERT_EQ(QvDrive_Delete("CdRom0"), 0u);
  }
}

}  // namespace
}  // namespace qvtest
