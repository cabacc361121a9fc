// Raw recordings with R-W in the program area, as raw CDBs: packed P-W
// (data block type 2) recorded interleaved, raw P-W (3) as sent, READ CD
// giving them back raw (001b) and de-interleaved (100b); a pause sector
// carrying the catalogue number keeps its main data.
#include <algorithm>
#include <array>
#include <memory>

#include "door_client.h"
#include "support/q_crc.h"

namespace qvtest {
namespace {

// Two audio tracks: 1 at 0, 2 with a pause from 300 and its start at 450;
// lead-out at 750. The lead-in lasts ten sectors and repeats the TOC.
constexpr int32_t kLeadIn = -160, kLeadOut = 750;
using Rw = std::vector<std::array<uint8_t, 96>>;  // by LBA from -150
using Sectors = std::vector<std::array<uint8_t, 2448>>;

uint8_t Bcd(int v) { return uint8_t(v / 10 << 4 | v % 10); }

std::array<uint8_t, 12> QAt(int32_t lba) {
  const int i = (lba - kLeadIn) % 5, f = lba < -150 ? std::array{1, 2, kLeadOut + 150, 150, 600}[i] : lba + 150;
  const uint8_t point = uint8_t(std::array{0xA0, 0xA1, 0xA2, 1, 2}[i]);
  std::array<uint8_t, 12> q{0x01, lba < -150 ? uint8_t(0) : lba >= kLeadOut ? uint8_t(0xAA) : uint8_t(lba < 300 ? 1 : 2),
                            lba < -150 ? point : uint8_t(lba >= 0 && (lba < 300 || lba >= 450)), 0, 0, 0, 0,
                            Bcd(f / 4500), Bcd(f / 75 % 60), Bcd(f % 75)};
  if (lba < -150 && i < 2) q[7] = uint8_t(f), q[8] = q[9] = 0;  // first and last track
  if (lba == 350) q = {0x02, 0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x30, 0, Bcd(f % 75)};  // the catalogue number
  const uint16_t crc = QCrc(q.data());
  q[10] = uint8_t(crc >> 8), q[11] = uint8_t(crc);
  return q;
}

class RwSubchannel : public ::testing::Test {
 protected:
  DoorClient& Blank() {
    const std::string name = NewDrive("cd-r");
    InsertDescription(name, dir.path(), R"({"media": "cd-r", "leadIn": "99:59:65", "lastLeadOut": "00:30:00"})");
    drives.push_back(std::make_unique<DoorClient>(name));
    EXPECT_EQ(drives.back()->UntilReady().back(), "GOOD");
    return *drives.back();
  }
  // The whole recording with data block type `type`, rw the R-W as sent;
  // then READ CD of the program area with sub-channel selections `reads`.
  std::vector<Sectors> Burn(uint8_t type, const Rw& rw, std::vector<uint8_t> reads, const char* select = "GOOD") {
    DoorClient& d = Blank();
    std::vector<uint8_t> list = ModeList(d, 0x05);
    list[10] = uint8_t((list[10] & 0x40) | 3), list[12] = type;
    EXPECT_EQ(Select(d, list).Outcome(), select);
    for (int32_t first = kLeadIn; type != 0 && first < kLeadOut + 2; first += 8) {
      std::vector<uint8_t> data(8 * 2448);
      for (size_t k = 0; k < data.size(); ++k) {
        const int32_t lba = first + int32_t(k / 2448), i = int32_t(k % 2448) - 2352;
        data[k] = i < 0 ? uint8_t(lba * 7 + k % 2448)
                        : uint8_t((QAt(lba)[i / 8] >> (7 - i % 8) & 1) << 6 | (lba >= -150 && lba < kLeadOut ? rw[lba + 150][i] : 0));
      }
      const auto a = uint32_t(first);
      EXPECT_TRUE(d.Out({0x2A, 0, uint8_t(a >> 24), uint8_t(a >> 16), uint8_t(a >> 8), uint8_t(a), 0, 0, 8, 0}, data).Good());
    }
    EXPECT_TRUE(d.In({0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}).Good());
    std::vector<Sectors> got;
    for (uint8_t sub : reads) {
      got.emplace_back(kLeadOut);
      for (int32_t lba = 0; lba < kLeadOut; lba += 25) {
        const Reply r = d.In(ReadCd(lba, 25, 0x10, sub), 25 * 2448);
        EXPECT_TRUE(r.Good()) << r.Outcome();
        for (int k = 0; r.Good() && k < 25; ++k) std::copy_n(r.data.begin() + k * 2448, 2448, got.back()[lba + k].begin());
      }
    }
    return got;
  }
  VirtualDriveHome home;
  TempDir dir;
  std::vector<std::unique_ptr<DoorClient>> drives;
};

TEST_F(RwSubchannel, PackedAndRawPwReadBackRawAndDeinterleaved) {
  Rw packed(kLeadOut + 150);  // from LBA 0: symbols that tell sector and place apart
  for (int32_t lba = 0; lba < kLeadOut; ++lba)
    for (int i = 0; i < 96; ++i) packed[lba + 150][i] = uint8_t((lba * 5 + i * 3) % 63 + 1);
  Burn(0, packed, {}, "05/26/00");  // raw writing needs a sub-channel to write

  // Type 2: the drive interleaves. A type 3 burn of what it recorded reads
  // back the same, and de-interleaved gives the packs sent.
  const Sectors raw2 = Burn(2, packed, {1}).at(0);
  Rw recorded(kLeadOut + 150);
  for (int32_t lba = 0; lba < kLeadOut; ++lba)
    for (int i = 0; i < 96; ++i) recorded[lba + 150][i] = raw2[lba][2352 + i] & 0x3F;
  EXPECT_EQ(recorded[400 + 150][48 + 18], packed[400 + 150][1]) << "symbol 1 goes to place 18, two packs on";
  const auto three = Burn(3, recorded, {1, 4});
  for (int32_t lba = 0; lba < kLeadOut; ++lba) {
    SCOPED_TRACE(lba);
    ASSERT_EQ(three[0][lba], raw2[lba]);
    for (int i = 0; i < 2352; ++i) ASSERT_EQ(raw2[lba][i], uint8_t(lba * 7 + i));
    // 100b: no P or Q; the last two sectors' packs run on into the lead-out.
    for (int i = 0; lba < kLeadOut - 2 && i < 96; ++i) ASSERT_EQ(three[1][lba][2352 + i], packed[lba + 150][i]);
  }
}

}  // namespace
}  // namespace qvtest
