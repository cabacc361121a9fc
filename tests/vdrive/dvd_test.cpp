// The prepared DVDs: where reading stops on a disc recorded in part, the
// physical format and layer boundary of READ DVD STRUCTURE, and the RPC
// state of REPORT KEY. (Their disc and track information, capacities and
// formats are what the engine reports in device_vdrive's Described.Prepared.)
#include "door_client.h"

namespace qvtest {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadDvdStructure(uint8_t format, uint8_t layer = 0, uint16_t allocation = 4096) {
  return {0xAD, 0, 0, 0, 0, 0, layer, format, uint8_t(allocation >> 8), uint8_t(allocation), 0, 0};
}

using DvdInformation = VdriveTest;

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
    EXPECT_EQ(pf.data[4] >> 4, 0xE);
    EXPECT_EQ(pf.data[6], 0x32);
    EXPECT_EQ(pf.Be32At(8), 0x030000u);
    EXPECT_EQ(pf.Be32At(12), 0xFCFFFFu);
    EXPECT_EQ(pf.Be32At(16), 0x22D7FFu);
  }

  // A pressed single-layer disc with copy protection for region 2 only.
  const Reply pf = rom.In(ReadDvdStructure(0x00), 4096);
  EXPECT_EQ(pf.data[4] >> 4, 0x0) << "DVD-ROM book";
  EXPECT_EQ(pf.data[6], 0x01) << "one embossed layer";
  EXPECT_EQ(pf.Be32At(12), 0x030000u + 2000000 - 1);
  EXPECT_EQ(pf.Be32At(16), 0u);
  EXPECT_EQ(rom.In(ReadDvdStructure(0x01), 4096).data, (Bytes{0, 6, 0, 0, 1, 0xFD, 0, 0}));
  EXPECT_EQ(rom.In(ReadDvdStructure(0x20), 4096).Outcome(), "05/24/00") << "no layer boundary on one layer";
  EXPECT_EQ(cd.In(ReadDvdStructure(0x00), 4096).Outcome(), "05/30/02") << "a CD";
  EXPECT_EQ(empty.In(ReadDvdStructure(0x00), 4096).Outcome(), "02/3A/01");

  // The RPC state is the drive's: no disc needed.
  EXPECT_EQ(empty.In({0xA4, 0, 0, 0, 0, 0, 0, 0, 0, 8, 0x08, 0}, 8).data, (Bytes{0, 6, 0, 0, 0x25, 0xFF, 1, 0}));
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
