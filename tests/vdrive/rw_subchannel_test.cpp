// Raw recordings with R-W in the program area, as raw CDBs: which data
// block types write type 3 takes, and what READ CD gives back of the R-W
// (001b raw with P and Q, 100b de-interleaved); a pause sector carrying the
// catalogue number keeps its main data.
#include <algorithm>
#include <array>
#include <memory>

#include "door_client.h"
#include "support/q_crc.h"

namespace qvtest {
namespace {

// Two audio tracks: 1 at 0, 2 with a two-second pause from 300 and its
// start at 450; lead-out at 750. The lead-in lasts ten sectors.
constexpr int32_t kLeadIn = -160, kLeadOut = 750, kCatalogueAt = 350;
using Rw = std::vector<std::array<uint8_t, 96>>;  // by LBA from -150

uint8_t Bcd(int v) { return uint8_t(v / 10 << 4 | v % 10); }

std::array<uint8_t, 12> QAt(int32_t lba) {
  std::array<uint8_t, 12> q{};
  const int f = lba + 150;
  if (lba < -150) {  // the TOC: A0, A1, A2, 01, 02
    const int i = (lba - kLeadIn) % 5, at[] = {0, 0, kLeadOut + 150, 150, 600};
    q = {0x01, 0, uint8_t(i == 0 ? 0xA0 : i == 1 ? 0xA1 : i == 2 ? 0xA2 : i - 2), 0, 0, 0, 0, 0, 0, 0};
    if (i < 2) q[7] = uint8_t(i + 1);
    else q[7] = Bcd(at[i] / 4500), q[8] = Bcd(at[i] / 75 % 60), q[9] = Bcd(at[i] % 75);
  } else if (lba == kCatalogueAt) {
    q = {0x02, 0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x30, 0, Bcd(f % 75)};
  } else {
    const uint8_t track = lba >= kLeadOut ? 0xAA : lba < 300 ? 1 : 2;
    const bool pause = lba < 0 || (lba >= 300 && lba < 450);
    q = {0x01, track, uint8_t(pause ? 0 : 1), 0, 0, 0, 0, Bcd(f / 4500), Bcd(f / 75 % 60), Bcd(f % 75)};
  }
  const uint16_t crc = QCrc(q.data());
  q[10] = uint8_t(crc >> 8), q[11] = uint8_t(crc);
  return q;
}

// The whole recording with data block type `type`; rw gives the R-W as sent.
void Burn(DoorClient& d, uint8_t type, const Rw& rw, const char* selectOutcome = "GOOD") {
  std::vector<uint8_t> list = ModeList(d, 0x05);
  list[10] = uint8_t((list[10] & 0x40) | 3);
  list[12] = type;
  ASSERT_EQ(Select(d, list).Outcome(), selectOutcome);
  if (type == 0) return;
  const size_t size = type == 1 ? 2368 : 2448;
  for (int32_t first = kLeadIn; first < kLeadOut + 2; first += 16) {
    std::vector<uint8_t> data;
    for (int32_t lba = first; lba < std::min(first + 16, kLeadOut + 2); ++lba) {
      const size_t at = data.size();
      data.resize(at + size);
      for (size_t k = 0; k < 2352; ++k) data[at + k] = uint8_t(lba * 7 + k);
      const auto q = QAt(lba);
      for (int i = 0; type != 1 && i < 96; ++i)
        data[at + 2352 + i] = uint8_t((q[i / 8] >> (7 - i % 8) & 1) << 6 |
                                      (lba >= -150 && lba < kLeadOut ? rw[lba + 150][i] : 0));
      if (type == 1) std::copy(q.begin(), q.end(), data.begin() + at + 2352);
    }
    const auto a = uint32_t(first);
    const uint16_t n = uint16_t(data.size() / size);
    const Reply r = d.Out({0x2A, 0, uint8_t(a >> 24), uint8_t(a >> 16), uint8_t(a >> 8), uint8_t(a), 0, 0, uint8_t(n), 0}, data);
    ASSERT_TRUE(r.Good()) << int(type) << " at " << first << " " << r.Outcome();
  }
  ASSERT_TRUE(d.In({0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}).Good());
}

// READ CD of the program area from LBA 0: main data, then the sub-channel.
std::vector<std::array<uint8_t, 2448>> ReadBack(DoorClient& d, uint8_t sub) {
  std::vector<std::array<uint8_t, 2448>> sectors(kLeadOut);
  for (int32_t lba = 0; lba < kLeadOut; lba += 25) {
    const Reply r = d.In(ReadCd(lba, 25, 0x10, sub), 25 * 2448);
    EXPECT_TRUE(r.Good()) << r.Outcome();
    for (int i = 0; r.Good() && i < 25; ++i) std::copy_n(r.data.begin() + i * 2448, 2448, sectors[lba + i].begin());
  }
  return sectors;
}

class RwSubchannel : public ::testing::Test {
 protected:
  VirtualDriveHome home;
  TempDir dir;
  DoorClient& Blank() {
    const std::string name = NewDrive("cd-r");
    InsertDescription(name, dir.path(), R"({"media": "cd-r", "leadIn": "99:59:65", "lastLeadOut": "00:30:00"})");
    drives.push_back(std::make_unique<DoorClient>(name));
    EXPECT_EQ(drives.back()->UntilReady().back(), "GOOD");
    return *drives.back();
  }
  std::vector<std::unique_ptr<DoorClient>> drives;
};

TEST_F(RwSubchannel, BlockTypesAndReadCdSelections) {
  // Packed R-W from LBA 0 on: a symbol that tells sector and place apart.
  Rw packed(kLeadOut + 150);
  for (int32_t lba = 0; lba < kLeadOut; ++lba)
    for (int i = 0; i < 96; ++i) packed[lba + 150][i] = uint8_t((lba * 5 + i * 3) % 63 + 1);
  Burn(Blank(), 0, packed, "05/26/00");  // raw writing needs a sub-channel to write

  DoorClient& pq = Blank();
  Burn(pq, 1, packed);
  for (const auto& s : ReadBack(pq, 4)) ASSERT_TRUE(std::all_of(s.begin() + 2352, s.end(), [](uint8_t b) { return b == 0; }));

  // Packed (2): the drive interleaves; a type 3 burn of what it recorded
  // reads back the same, and de-interleaved gives the packs sent.
  DoorClient& two = Blank();
  Burn(two, 2, packed);
  const auto raw2 = ReadBack(two, 1);
  Rw recorded(kLeadOut + 150);
  for (int32_t lba = 0; lba < kLeadOut; ++lba)
    for (int i = 0; i < 96; ++i) recorded[lba + 150][i] = raw2[lba][2352 + i] & 0x3F;
  // Symbol 1 of pack 0 goes to place 18, two packs (48 bytes) on.
  EXPECT_EQ(recorded[400 + 150][48 + 18], packed[400 + 150][1]);
  EXPECT_NE(recorded, packed);
  DoorClient& three = Blank();
  Burn(three, 3, recorded);
  const auto raw3 = ReadBack(three, 1), cooked3 = ReadBack(three, 4);
  for (int32_t lba = 0; lba < kLeadOut; ++lba) {
    SCOPED_TRACE(lba);
    ASSERT_EQ(raw3[lba], raw2[lba]);
    for (int i = 0; i < 2352; ++i) ASSERT_EQ(raw3[lba][i], uint8_t(lba * 7 + i));
    // P in the pause, Q as written (its running time aside); 100b has neither.
    std::array<uint8_t, 12> q{};
    for (int i = 0; i < 96; ++i) {
      q[i / 8] |= uint8_t((raw3[lba][2352 + i] >> 6 & 1) << (7 - i % 8));
      ASSERT_EQ(raw3[lba][2352 + i] >> 7, int(lba >= 300 && lba < 450));
      // The last two sectors' packs run on into the lead-out.
      if (lba < kLeadOut - 2) {
        ASSERT_EQ(cooked3[lba][2352 + i], packed[lba + 150][i]);
      }
    }
    for (int b : {0, 1, 2, 6, 7, 8, 9}) ASSERT_EQ(q[b], QAt(lba)[b]) << b;
  }
}

}  // namespace
}  // namespace qvtest
