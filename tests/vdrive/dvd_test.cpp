// The prepared DVDs: track and disc information of sequential discs with
// reserved and open tracks, random-access discs, format capacities, the
// physical format and layer boundary of READ DVD STRUCTURE, and the RPC
// state of REPORT KEY.
#include "door_client.h"

namespace qvtest {
namespace {

using Bytes = std::vector<uint8_t>;

struct DvdCase {
  const char* file;
  uint16_t profile;
  DiscInfo info;
  uint32_t lastBlock;  // READ CAPACITY
  std::vector<TrackInfo> tracks;
  // READ FORMAT CAPACITIES: current blocks and descriptor type, then the format types
  uint32_t currentBlocks;
  uint8_t currentType;
  Bytes formats;
};

constexpr uint32_t kDashCapacity = 2298496, kPlusCapacity = 2295104;

const DvdCase kCases[] = {
    {"dvd-r-open.json", 0x11, {0x05, 2, 2, 3, 300000, kDashCapacity, 0}, 199999,
     {{1, 1, 1, 1, 0x21, 0x02, 0, 0, 0, 200000},
      {1, 2, 2, 2, 0xA1, 0x03, 200000, 240000, 60000, 100000},  // reserved, recorded to 240000
      {0, 250000, 2, 2, 0xA1, 0x03, 200000, 240000, 60000, 100000},
      {1, 0xFF, 3, 2, 0x61, 0x01, 300000, 300000, kDashCapacity - 300000, kDashCapacity - 300000},
      {1, 4, 0, 0, 0, 0, 0, 0, 0, 0}},
     200000, 2, {}},
    {"dvd-r-closed.json", 0x11, {0x0E, 1, 1, 1, 0xFFFFFFFF, 0xFFFFFFFF, 0}, 1499999,
     {{1, 1, 1, 1, 0x21, 0x02, 0, 0, 0, 1500000}, {1, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0}}, 1500000, 2, {}},
    {"dvd+r-open.json", 0x1B, {0x01, 2, 2, 2, 300000, kPlusCapacity, 0}, 299999,
     {{1, 1, 1, 1, 0x01, 0x02, 0, 0, 0, 300000},
      {1, 0xFF, 2, 2, 0x41, 0x01, 300000, 300000, kPlusCapacity - 300000, kPlusCapacity - 300000},
      {2, 2, 2, 2, 0x41, 0x01, 300000, 300000, kPlusCapacity - 300000, kPlusCapacity - 300000}},
     300000, 2, {}},
    {"dvd-rw-sequential.json", 0x14, {0x11, 2, 2, 2, 50000, kDashCapacity, 0}, 49999,
     {{1, 0xFF, 2, 2, 0x61, 0x01, 50000, 50000, kDashCapacity - 50000, kDashCapacity - 50000}},
     kDashCapacity, 2, {0x00, 0x10, 0x15}},
    // A DVD-RW formatted for restricted overwrite over 5000 blocks: the
    // engine turns this into a blank track at 5000 with the rest free.
    {"dvd-rw-restricted.json", 0x13, {0x1E, 1, 1, 1, 0xFFFFFFFF, 0xFFFFFFFF, 0}, 4999,
     {{1, 1, 1, 1, 0x31, 0x00, 0, 0, 0, 5000}, {1, 0xFF, 1, 1, 0x31, 0x00, 0, 0, 0, 5000}},
     5000, 2, {0x00, 0x10, 0x13, 0x15}},
    {"dvd+rw-formatted.json", 0x1A, {0x1E, 1, 1, 1, 0xFFFFFFFF, 0xFFFFFFFF, 0x03}, kPlusCapacity - 1,
     {{1, 1, 1, 1, 0x01, 0x00, 0, 0, 0, kPlusCapacity}, {1, 2, 0, 0, 0, 0, 0, 0, 0, 0}}, kPlusCapacity, 2, {0x26}},
    {"dvd+rw-unformatted.json", 0x1A, {0x10, 1, 1, 1, 0xFFFFFFFF, 0xFFFFFFFF, 0}, 0,
     {{1, 1, 1, 1, 0x41, 0x01, 0, 0, kPlusCapacity, kPlusCapacity}}, kPlusCapacity, 1, {0x26}},
    {"dvd-ram.json", 0x12, {0x1F, 1, 1, 1, 0xFFFFFFFF, 0xFFFFFFFF, 0}, 2236703,
     {{1, 1, 1, 1, 0x01, 0x00, 0, 0, 0, 2236704}}, 2236704, 2, {0x00}},
    {"dvd+r-dl.json", 0x2B, {0x0E, 1, 1, 1, 0xFFFFFFFF, 0xFFFFFFFF, 0}, 2999999,
     {{1, 1, 1, 1, 0x01, 0x02, 0, 0, 0, 3000000}}, 3000000, 2, {}},
};

using DvdInformation = VdriveTest;

TEST_F(DvdInformation, PreparedDiscs) {
  for (const DvdCase& c : kCases) {
    SCOPED_TRACE(c.file);
    DoorClient& d = Ready(nullptr, c.file);
    EXPECT_EQ(d.In(GetConfiguration(0, 0), 8).Be16At(6), c.profile);
    ExpectDiscInfo(d, c.info);
    EXPECT_EQ(d.In(ReadCapacity(), 8).Be32At(0), c.lastBlock);
    for (const TrackInfo& t : c.tracks) {
      const Reply r = ExpectTrackInfo(d, t);
      if (t.track != 0 && r.data.size() == 48) {
        EXPECT_EQ(r.Be32At(20), 16u) << "blocking factor: one ECC block";
      }
    }
    const Reply fc = d.In(ReadFormatCapacities(), 252);
    ASSERT_TRUE(fc.Good()) << fc.Outcome();
    ASSERT_EQ(fc.data[3], 8 * (1 + c.formats.size()));
    EXPECT_EQ(fc.Be32At(4), c.currentBlocks);
    EXPECT_EQ(fc.data[8] & 3, c.currentType);
    EXPECT_EQ(fc.Be32At(8) & 0xFFFFFF, 2048u);
    for (size_t i = 0; i < c.formats.size(); ++i) EXPECT_EQ(fc.data[12 + 8 * i + 4] >> 2, c.formats[i]) << i;
    if (!c.formats.empty() && c.formats[0] != 0x26) {
      EXPECT_EQ(fc.Be32At(12), c.profile == 0x12 ? 2236704u : kDashCapacity) << "a full format covers the disc";
    }
  }
}

TEST_F(DvdInformation, ReadingStopsWhereRecordingStops) {
  DoorClient& d = Ready(nullptr, "dvd-r-open.json");
  const Reply last = d.In(Read10(239999, 1), 2048);
  ASSERT_TRUE(last.Good());
  EXPECT_EQ(last.Be32At(0), 239999u) << "the counter pattern";
  EXPECT_EQ(last.Be32At(2044), 239999u);
  EXPECT_EQ(d.In(Read10(240000, 1), 2048).Outcome(), "05/21/00");
  EXPECT_EQ(d.In(ReadToc(0, false), 4096).data,
            (Bytes{0, 18, 1, 1, 0, 0x14, 1, 0, 0, 0, 0, 0, 0, 0x14, 0xAA, 0, 0, 0x03, 0x0D, 0x40}))
      << "the TOC a drive makes up for a DVD: the closed session";
  EXPECT_EQ(d.In(ReadToc(2, false), 4096).Outcome(), "05/24/00") << "no full TOC on a DVD";
  EXPECT_EQ(d.In(ReadCd(0, 1, 0x10), 4096).Outcome(), "05/30/02") << "no READ CD on a DVD";
}

TEST_F(DvdInformation, Structures) {
  DoorClient &dl = Ready(nullptr, "dvd+r-dl.json"), &rom = Ready(nullptr, "dvd-rom-region2.json"), &cd = Ready("cd-rom");
  MakeDrive("empty", nullptr);
  DoorClient empty("empty");

  // Layer boundary: 12 bytes, L0 data zone capacity, final.
  const Reply lb = dl.In(ReadDvdStructure(0x20, 0, 12), 12);
  ASSERT_TRUE(lb.Good()) << lb.Outcome();
  EXPECT_EQ(lb.data, (Bytes{0, 10, 0, 0, 0x80, 0, 0, 0, 0x00, 0x1F, 0xD8, 0x00}));
  // Physical format, both layers: DVD+R DL book, two layers, opposite
  // track path, recordable; data zone from 30000h; layer 1 ends at the
  // complement of layer 0's start.
  for (uint8_t layer : {0, 1}) {
    const Reply pf = dl.In(ReadDvdStructure(0x00, layer), 4096);
    ASSERT_TRUE(pf.Good()) << pf.Outcome();
    ASSERT_EQ(pf.data.size(), 2052u);
    EXPECT_EQ(pf.Be16At(0), 2050u);
    EXPECT_EQ(pf.data[4] >> 4, 0xE);
    EXPECT_EQ(pf.data[6], 0x32);
    EXPECT_EQ(pf.Be32At(8), 0x030000u);
    EXPECT_EQ(pf.Be32At(12), 0xFCFFFFu);
    EXPECT_EQ(pf.Be32At(16), 0x22D7FFu);
  }
  EXPECT_EQ(dl.In(ReadDvdStructure(0x00, 2), 4096).Outcome(), "05/24/00");
  const Reply list = dl.In(ReadDvdStructure(0xFF), 4096);
  ASSERT_TRUE(list.Good());
  EXPECT_EQ(list.Be16At(0), 2u + 4 * 4);
  EXPECT_EQ(list.data[4 + 8], 0x20);

  // A pressed single-layer disc with copy protection for region 2 only.
  const Reply pf = rom.In(ReadDvdStructure(0x00), 4096);
  EXPECT_EQ(pf.data[4] >> 4, 0x0) << "DVD-ROM book";
  EXPECT_EQ(pf.data[6], 0x01) << "one embossed layer";
  EXPECT_EQ(pf.Be32At(12), 0x030000u + 2000000 - 1);
  EXPECT_EQ(pf.Be32At(16), 0u);
  EXPECT_EQ(rom.In(ReadDvdStructure(0x01), 4096).data, (Bytes{0, 6, 0, 0, 1, 0xFD, 0, 0}));
  EXPECT_EQ(rom.In(ReadDvdStructure(0x20), 4096).Outcome(), "05/24/00") << "no layer boundary on one layer";
  EXPECT_EQ(rom.In(ReadDvdStructure(0x04), 4096).Outcome(), "05/24/00");
  EXPECT_EQ(cd.In(ReadDvdStructure(0x00), 4096).Outcome(), "05/30/02") << "a CD";
  EXPECT_EQ(empty.In(ReadDvdStructure(0x00), 4096).Outcome(), "02/3A/01");

  // The RPC state is the drive's: no disc needed.
  EXPECT_EQ(empty.In(ReportKey(0x08), 8).data, (Bytes{0, 6, 0, 0, 0x25, 0xFF, 1, 0}));
  EXPECT_EQ(empty.In(ReportKey(0x00), 8).Outcome(), "05/24/00") << "no authentication";
  EXPECT_EQ(empty.In(ReportKey(0x08, 1), 8).Outcome(), "05/24/00") << "key class";
}

TEST_F(DvdInformation, PressedDualLayerImage) {
  TempDir work;
  const auto big = work / "big.img";
  { std::ofstream(big, std::ios::binary).seekp(3000000LL * 2048 - 1).put('x'); }
  MakeDrive("d", nullptr);
  ASSERT_EQ(QvDrive_InsertImage("d", big.c_str(), "dvd-rom"), 0u) << VdriveErrorText();
  DoorClient d("d");
  d.UntilReady();
  const Reply pf = d.In(ReadDvdStructure(0x00, 1), 4096);
  ASSERT_TRUE(pf.Good()) << pf.Outcome();
  EXPECT_EQ(pf.data[6] & 0x60, 0x20) << "two layers";
  EXPECT_EQ(pf.Be32At(16), 0x030000u + 1500000 - 1) << "layer 0 holds half";
}

}  // namespace
}  // namespace qvtest
