// Disc type, disc information and track information, with the malformed
// answers each parser must refuse and the drives that need a workaround.
#include <cstring>

#include "drive_rig.h"
#include "platform/sysinfo.h"

namespace devtest {
namespace {

// The virtual drive's media cover the known profiles; an unknown one,
// "no current profile" (asked again after a wait) and an answer that stops
// before the current profile give 0, without throwing.
TEST_F(DeviceTest, UnknownOrUnreadableProfilesGiveZero) {
  for (const auto& rules : std::vector<std::vector<json>>{{Garble(0x46, 6, Be16(0x0015), Always())},
                                                          {Garble(0x46, 6, Be16(0x0000), Always())},
                                                          Answer(0x46, {0, 0, 0, 4, 0, 0})})
    EXPECT_EQ(Create("cd-r", nullptr, rules).GetInsertedDiscType(), 0u) << json(rules).dump();
}

TEST_F(DeviceTest, PhilipsCdd5301IsAlwaysACdrWithoutAsking) {
  EXPECT_EQ(Create("dvd-rom", "PHILIPS:CDD5301").GetInsertedDiscType(), 2u);
  EXPECT_EQ(Count(0x46), 0u);
}

// READ DISC INFORMATION: 34 bytes, status byte, first track, sessions and
// the last session's first and last track.
Bytes DiscInformation(uint8_t status, uint8_t sessions = 1) {
  Bytes b(34, 0);
  b[1] = 32;
  b[2] = status;
  b[3] = 1;
  b[4] = b[5] = b[6] = sessions;
  return b;
}

TEST_F(DeviceTest, DiscInformationFillsEveryFieldFromItsBits) {
  Bytes answer = DiscInformation(0x1D);  // erasable, session state 3 (complete), disc status 1
  answer[4] = 3;
  answer[5] = 5;
  answer[6] = 7;
  answer[7] = 0xE0;  // id, bar code, unrestricted use valid
  answer[8] = 0x20;  // CD-ROM XA
  for (int i = 12; i < 32; ++i) answer[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
  answer[33] = 4;
  QUORVANE_DISC_INFORMATION r;
  std::memset(&r, 0xEE, sizeof r);
  Create("cd-rw", nullptr, Answer(0x51, answer)).GetDiscInformation(&r);
  const uint8_t* b = reinterpret_cast<const uint8_t*>(&r);
  const Bytes expected = {1, 1, 3, 1, 1, 3, 5, 7, 1, 1, 1, 0x20, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23,
                          24, 25, 26, 27, 28, 29, 30, 31, 4};
  EXPECT_EQ(Bytes(b, b + 33), expected);
}

TEST_F(DeviceTest, ShortTruncatedOrRefusedDiscInformationFailsAndLeavesAnEmptyRecord) {
  auto& g = Create("cd-r");
  const struct {
    std::vector<json> rules;
    uint32_t number;
  } bad[] = {
      {{Garble(0x51, 1, {10}, Always())}, 10},  // a 12-byte answer: no bar code, no OPC count
      {{Refuse(0x51, 2, 0x3A, 0, Always())}, 8},
  };
  for (const auto& b : bad) {
    Arm(b.rules);
    QUORVANE_DISC_INFORMATION r;
    std::memset(&r, 0xEE, sizeof r);
    Fails(b.number, [&] { g.GetDiscInformation(&r); });
    EXPECT_EQ(r.m__UCHAR__IsValid, 0);
    EXPECT_EQ(r.m__UCHAR__DiscStatus, 0);
  }
}

// Random-access media are always incomplete, whatever the drive says.
TEST_F(DeviceTest, DvdRamAndDvdPlusRwAreAlwaysIncomplete) {
  const struct {
    const char* media;
    uint8_t reported, expected;
  } cases[] = {{"dvd+rw", 0, 1}, {"cd-r", 2, 2}};
  for (const auto& c : cases) {
    QUORVANE_DISC_INFORMATION d;
    Create(c.media, nullptr, {Garble(0x51, 2, {c.reported}, Always())}).GetDiscInformation(&d);
    EXPECT_EQ(d.m__UCHAR__DiscStatus, c.expected) << c.media;
  }
}

// READ TRACK INFORMATION: 36 bytes.
struct TrackInfo {
  uint8_t track = 1, session = 1, byte5 = 4, byte6 = 1, byte7 = 0;
  uint32_t start = 0, nwa = 0, free = 0, packetSize = 0, size = 0;
  Bytes Answer() const {
    Bytes b{0, 34, track, session, 0, byte5, byte6, byte7};
    for (uint32_t v : {start, nwa, free, packetSize, size}) {
      const Bytes x = Be32(v);
      b.insert(b.end(), x.begin(), x.end());
    }
    b.resize(36);
    return b;
  }
};

TEST_F(DeviceTest, TrackInformationFillsTheRecordInHostOrder) {
  // Track mode 7 with copy and damage; data mode 2 with fixed packet,
  // packet, blank and reserved; NWA valid.
  const TrackInfo t{3, 2, 0x37, 0xF2, 0x01, 0x01020304, 0x05060708, 0x090A0B0C, 16, 0};
  const json track{{"mode", "mode1"}, {"blocks", 300}};
  const json disc{{"media", "cd-rom"}, {"sessions", {{{"closed", true}, {"tracks", {track, track, track}}}}}};
  QUORVANE_TRACK_INFORMATION r;
  CreateWith(disc, Answer(0x52, t.Answer())).GetTrackInformation(3, &r);
  EXPECT_EQ(Cdb(0x52), (Bytes{0x52, 0x01, 0, 0, 0, 3, 0, 0x10, 0x00, 0}));
  const uint8_t* b = reinterpret_cast<const uint8_t*>(&r);
  EXPECT_EQ(Bytes(b, b + 12), (Bytes{1, 3, 2, 7, 1, 1, 2, 1, 1, 1, 1, 1}));
  EXPECT_EQ(r.m__LONG__TrackStartAddress, 0x01020304);
  EXPECT_EQ(r.m__LONG__NextWritableAddress, 0x05060708);
  EXPECT_EQ(r.m__ULONG__FreeBlocks, 0x090A0B0Cu);
  EXPECT_EQ(r.m__ULONG__FixedPacketSize, 16u);
}

// 22 bytes: no free blocks.
TEST_F(DeviceTest, AShortTrackInformationGivesAnInvalidRecordNotAnError) {
  auto& g = Create("cd-r", nullptr, {Garble(0x52, 1, {20}, Always())});
  QUORVANE_TRACK_INFORMATION r;
  std::memset(&r, 0xEE, sizeof r);
  EXPECT_EQ(Catch([&] { g.GetTrackInformation(1, &r); }), nullptr);
  const uint8_t* b = reinterpret_cast<const uint8_t*>(&r);
  EXPECT_EQ(Bytes(b, b + sizeof r), Bytes(sizeof r, 0));
}

uint32_t Be32At(const uint8_t* b) { return uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3]; }

// A packet-written track of 100 blocks on a formatted DVD-RW: one blank
// track over the whole capacity, which comes from the second capacity
// descriptor when there is one.
TEST_F(DeviceTest, AFormattedDvdRwOpensOneBlankTrackOverItsCapacity) {
  TrackInfo packet;
  packet.byte6 = 0x21;
  packet.size = 100;
  const Bytes capacities{0, 0, 0, 16, 0, 0, 0x10, 0, 0x02, 0, 0x08, 0, 0, 0, 0x20, 0, 0x10 << 2, 0, 0, 0x10};
  std::vector<json> rules = Answer(0x52, packet.Answer());
  rules = With(rules, Answer(0x23, capacities));
  uint8_t b[4096];
  Create("dvd-rw", nullptr, rules).ReadTrackInformation(1, b, sizeof b, 0);
  EXPECT_EQ((b[6] >> 6) & 1, 1) << "blank";
  EXPECT_EQ(b[7] & 1, 1) << "NWA valid";
  EXPECT_EQ((std::vector<uint32_t>{Be32At(b + 8), Be32At(b + 12), Be32At(b + 16), Be32At(b + 24)}),
            (std::vector<uint32_t>{0, 100, 0x2000 - 100, 0x2000}));
  EXPECT_EQ(Count(0x52), 1u);
  // Page 05h is set to track-at-once first: the NWA depends on it.
  EXPECT_GE(Count(0x55), 1u);
}

TEST_F(DeviceTest, AFormattedDvdRwWhoseCapacityIsBelowItsTrackIsRefused) {
  TrackInfo packet;
  packet.byte6 = 0x21;
  packet.size = 5000;
  std::vector<json> rules = Answer(0x52, packet.Answer());
  rules = With(rules, Answer(0x23, {0, 0, 0, 8, 0, 0, 0x03, 0xE8, 2, 0, 8, 0}));
  rules.push_back(Garble(0x46, 6, {0x00, 0x13}, Always()));  // restricted overwrite
  uint8_t b[4096];
  Fails(10, [&] { Create("dvd-rw", nullptr, rules).ReadTrackInformation(1, b, sizeof b, 0); });
}

TEST_F(DeviceTest, BadTrackNumbersOnRandomAccessMediaFailWithSeventeen) {
  // Block 16 holds an ISO9660 volume descriptor of 1000 blocks.
  Bytes pvd(88, 0);
  std::memcpy(pvd.data(), "\x01" "CD001\x01", 7);
  pvd[80] = 0xE8;
  pvd[81] = 0x03;
  pvd[86] = 0x03;
  pvd[87] = 0xE8;
  auto& g = Create("dvd+rw", nullptr, {Garble(0x28, 0, pvd, Always({{"cdb", {5, 16}}}))});
  uint8_t b[4096];
  Fails(17, [&] { g.ReadTrackInformation(3, b, sizeof b, 0); });
  // Without a volume only track 1 (or the invisible one) exists.
  Arm({});
  Fails(17, [&] { g.ReadTrackInformation(2, b, sizeof b, 0); });
}

// The drive's free blocks overstated by 10240, only under Windows 2000.
TEST_F(DeviceTest, MatshitaLosesTenThousandBlocksOnlyUnderWindows2000) {
  const struct {
    const char* model;
    uint32_t minor, free, expected;
  } cases[] = {{"MATSHITA:CW-9585", 0, 359849, 359849 - 10240},
               {"MATSHITA:CW-9585", 0, 10240, 10240},
               {"MATSHITA:CW-9585", 1, 359849, 359849}};
  for (const auto& c : cases) {
    qv::plat::SetOsVersionOverride(qv::plat::OsVersion{5, c.minor, 2195, 2});
    uint8_t b[4096];
    Create("cd-r", c.model, {Garble(0x52, 16, Be32(c.free), Always())}).ReadTrackInformation(1, b, sizeof b, 0);
    EXPECT_EQ(Be32At(b + 16), c.expected) << c.model << " " << c.minor << " " << c.free;
  }
  qv::plat::SetOsVersionOverride(std::nullopt);
}

TEST_F(DeviceTest, ReadsTheLayerZeroCapacityAndItsFlag) {
  const json boundary = CdbByte(7, 0x20);
  auto& g = Create("dvd+r-dl", nullptr, Answer(0xAD, {0, 10, 0, 0, 0x80, 0, 0, 0, 0x00, 0x1E, 0x84, 0x80}, boundary));
  uint32_t capacity = 0;
  uint8_t flag = 0;
  g.ReadDVDPLUSRDLBoundaryInformation(&capacity, &flag);
  EXPECT_EQ(capacity, 0x1E8480u);
  EXPECT_EQ(flag, 1);
  EXPECT_EQ(Cdb(0xAD), (Bytes{0xAD, 0, 0, 0, 0, 0, 0, 0x20, 0, 12, 0, 0}));
  Arm({Cut(0xAD, 10, Always(boundary))});
  Fails(10, [&] { g.ReadDVDPLUSRDLBoundaryInformation(&capacity, &flag); });
}

}  // namespace
}  // namespace devtest
