// READ TOC, READ DISC INFORMATION and READ TRACK INFORMATION of the
// prepared CDs, byte by byte against the MMC tables and the session areas
// of the Orange Book (lead-out 6750 blocks after the first session, 2250
// after later ones, lead-in 4500, pause 150).
#include <array>

#include "door_client.h"

namespace qvtest {
namespace {

using Bytes = std::vector<uint8_t>;

// One full TOC entry: session, ADR/CONTROL, POINT, MIN SEC FRAME, ZERO,
// PMIN PSEC PFRAME (TNO is always 0 in the lead-in).
struct Entry {
  uint8_t session, adrControl, point, min, sec, frame, zero, pmin, psec, pframe;
};

Bytes FullToc(uint8_t firstSession, uint8_t lastSession, std::initializer_list<std::vector<Entry>> groups) {
  Bytes b = {0, 0, firstSession, lastSession};
  for (const auto& group : groups)
    for (const Entry& e : group) {
      const uint8_t bytes[] = {e.session, e.adrControl, 0, e.point, e.min, e.sec, e.frame, e.zero, e.pmin, e.psec, e.pframe};
      b.insert(b.end(), bytes, bytes + 11);
    }
  b[0] = static_cast<uint8_t>((b.size() - 2) >> 8);
  b[1] = static_cast<uint8_t>(b.size() - 2);
  return b;
}

// A session's A0 (first track, disc type), A1 (last track) and A2 (lead-out)
// points; A0 takes the first track's control, A1 and A2 the last's.
std::vector<Entry> Points(uint8_t session, uint8_t firstControl, uint8_t lastControl, uint8_t first, uint8_t discType,
                          uint8_t last, uint8_t m, uint8_t s, uint8_t f) {
  return {{session, firstControl, 0xA0, 0, 0, 0, 0, first, discType, 0},
          {session, lastControl, 0xA1, 0, 0, 0, 0, last, 0, 0},
          {session, lastControl, 0xA2, 0, 0, 0, 0, m, s, f}};
}

// Format 0 with LBA addresses: (ADR/CONTROL, track, address) descriptors.
Bytes Tracks(uint8_t first, uint8_t last, const std::vector<std::array<uint32_t, 3>>& descriptors) {
  Bytes b = {0, 0, first, last};
  for (const auto& [adrControl, track, lba] : descriptors) {
    const uint8_t bytes[] = {0, static_cast<uint8_t>(adrControl), static_cast<uint8_t>(track), 0,
                             static_cast<uint8_t>(lba >> 24), static_cast<uint8_t>(lba >> 16),
                             static_cast<uint8_t>(lba >> 8), static_cast<uint8_t>(lba)};
    b.insert(b.end(), bytes, bytes + 8);
  }
  b[1] = static_cast<uint8_t>(b.size() - 2);
  return b;
}

struct DiscCase {
  const char* file;  // nullptr: a blank CD-R
  Bytes format0;
  Bytes format1;
  Bytes format2;     // empty: 05/24/00
  DiscInfo info;
  std::vector<TrackInfo> tracks;
  bool atip;
};

const DiscCase kCases[] = {
    {"data-cd.json",
     Tracks(1, 1, {{0x14, 1, 0}, {0x14, 0xAA, 12000}}),
     Tracks(1, 1, {{0x14, 1, 0}}),
     FullToc(1, 1, {Points(1, 0x14, 0x14, 1, 0x00, 1, 2, 42, 0),
                    {{1, 0x14, 0x01, 0, 0, 0, 0, 0, 2, 0},
                     {1, 0x54, 0xC0, 0, 0, 0, 0, 97, 26, 66}}}),
     {0x0E, 1, 1, 1, 0xFFFFFFFF, 0xFFFFFFFF, -1, 0x00},
     {{1, 1, 1, 1, 0x01, 0x02, 0, 0, 0, 12000, 4}, {0, 11999, 1, 1, 0x01, 0x02, 0, 0, 0, 12000, 4}},
     true},
    {"audio-cd.json",
     Tracks(1, 3, {{0x10, 1, 0}, {0x12, 2, 1650}, {0x11, 3, 3000}, {0x11, 0xAA, 5250}}),
     Tracks(1, 1, {{0x10, 1, 0}}),
     FullToc(1, 1, {Points(1, 0x10, 0x11, 1, 0x00, 3, 1, 12, 0),
                    {{1, 0x10, 0x01, 0, 0, 0, 0, 0, 2, 0},
                     {1, 0x12, 0x02, 0, 0, 0, 0, 0, 24, 0},
                     {1, 0x11, 0x03, 0, 0, 0, 0, 0, 42, 0}}}),
     {0x0E, 1, 1, 3, 0xFFFFFFFF, 0xFFFFFFFF, -1, 0x00},
     // A pause belongs to the track after it.
     {{1, 2, 2, 1, 0x0F, 0x00, 1650, 0, 0, 1125, 2}, {0, 1500, 2, 1, 0x0F, 0x00, 1650, 0, 0, 1125, 2}},
     false},
    {"multisession-cd.json",
     Tracks(1, 2, {{0x14, 1, 0}, {0x14, 2, 20400}, {0x14, 0xAA, 23400}}),
     Tracks(1, 2, {{0x14, 2, 20400}}),
     FullToc(1, 2, {Points(1, 0x14, 0x14, 1, 0x20, 1, 2, 2, 0),
                    {{1, 0x14, 0x01, 0, 0, 0, 0, 0, 2, 0},
                     {1, 0x54, 0xB0, 4, 32, 0, 2, 79, 59, 74},
                     {1, 0x54, 0xC0, 0, 0, 0, 0, 97, 26, 66}},
                    Points(2, 0x14, 0x14, 2, 0x20, 2, 5, 14, 0),
                    {{2, 0x14, 0x02, 0, 0, 0, 0, 4, 34, 0}, {2, 0x54, 0xB0, 6, 44, 0, 1, 79, 59, 74}}}),
     {0x01, 3, 3, 3, 0x00052C00, 0x004F3B4A, -1, 0x20},
     {{1, 2, 2, 2, 0x02, 0x02, 20400, 0, 0, 3000, 4},
      {2, 2, 2, 2, 0x02, 0x02, 20400, 0, 0, 3000, 4},
      {2, 3, 3, 3, 0x41, 0x01, 30300, 30300, 359849 - 30300, 359849 - 30300, 4},
      {1, 0xFF, 3, 3, 0x41, 0x01, 30300, 30300, 359849 - 30300, 359849 - 30300, 4}},
     true},
    {"cd-r-open-session.json",
     Tracks(1, 1, {{0x14, 1, 0}, {0x14, 0xAA, 5000}}),
     Tracks(1, 1, {{0x14, 1, 0}}),
     FullToc(1, 1, {Points(1, 0x14, 0x14, 1, 0x00, 1, 1, 8, 50),
                    {{1, 0x14, 0x01, 0, 0, 0, 0, 0, 2, 0},
                     {1, 0x54, 0xB0, 3, 38, 50, 2, 79, 59, 74},
                     {1, 0x54, 0xC0, 0, 0, 0, 0, 97, 26, 66}}}),
     {0x05, 2, 2, 3, 0x00022632, 0x004F3B4A, -1, 0x00},
     {{1, 2, 2, 2, 0x21, 0x02, 16400, 0, 0, 2000, 5},
      {1, 3, 3, 2, 0x41, 0x01, 18550, 18550, 359849 - 18550, 359849 - 18550, 4},
      {2, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0}},  // no session 3: rejected
     true},
    {nullptr, {}, {}, {}, {0x00, 1, 1, 1, 0x00611A42, 0x004F3B4A, -1, 0x00},
     {{1, 1, 1, 1, 0x41, 0x01, 0, 0, 359849, 359849, 4}, {1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
     true},
};

using CdInformation = VdriveTest;

TEST_F(CdInformation, PreparedDiscs) {
  for (const DiscCase& c : kCases) {
    SCOPED_TRACE(c.file ? c.file : "blank cd-r");
    DoorClient& d = Ready(c.file ? nullptr : "cd-r", c.file);

    const Reply f0 = d.In(ReadToc(0, false), 4096);
    const Reply f1 = d.In(ReadToc(1, false), 4096);
    const Reply f2 = d.In(ReadToc(2, true), 4096);
    if (c.format0.empty()) {
      EXPECT_EQ(f0.Outcome(), "05/24/00") << "no TOC on a blank disc";
      EXPECT_EQ(f2.Outcome(), "05/24/00");
    } else {
      EXPECT_EQ(f0.data, c.format0);
      EXPECT_EQ(f1.data, c.format1);
      EXPECT_EQ(f2.data, c.format2);
      // The lead-out alone, and a first track past the last.
      const Reply leadOut = d.In(ReadToc(0, false, 0xAA), 4096);
      EXPECT_EQ(leadOut.data.size(), 12u);
      EXPECT_EQ(leadOut.data[6], 0xAA);
      EXPECT_EQ(d.In(ReadToc(0, false, c.format0[3] + 1), 4096).Outcome(), "05/24/00");
      // MSF addresses: LBA + 150 frames.
      const Reply msf = d.In(ReadToc(0, true), 4096);
      for (size_t at = 4; at + 8 <= msf.data.size(); at += 8) {
        const uint32_t lba = f0.Be32At(at + 4);
        EXPECT_EQ(msf.data[at + 5] * 4500u + msf.data[at + 6] * 75u + msf.data[at + 7], lba + 150);
      }
    }
    const Reply atip = d.In(ReadToc(4, false), 4096);
    if (c.atip) {
      ASSERT_TRUE(atip.Good()) << atip.Outcome();
      EXPECT_EQ(atip.data.size(), 28u);
      EXPECT_EQ(atip.Be16At(0), 26u);
      EXPECT_EQ(atip.data[6] & 0xC0, 0x80) << "CD-R";
    } else {
      EXPECT_EQ(atip.Outcome(), "05/24/00") << "a pressed disc has no ATIP";
    }

    EXPECT_EQ(ExpectDiscInfo(d, c.info).data.size(), 34u);
    for (const TrackInfo& t : c.tracks) ExpectTrackInfo(d, t);
  }
}

TEST_F(CdInformation, AtipOfARewritable) {
  DoorClient& d = Ready(nullptr, "cd-rw-complete.json");
  const Reply atip = d.In(ReadToc(4, false), 4096);
  ASSERT_TRUE(atip.Good());
  EXPECT_EQ(atip.data[6], 0xC0) << "CD-RW";
  EXPECT_EQ(Bytes(atip.data.begin() + 8, atip.data.begin() + 11), (Bytes{97, 22, 11}));
  EXPECT_EQ(Bytes(atip.data.begin() + 12, atip.data.begin() + 15), (Bytes{74, 59, 74}));
  const Reply di = d.In(ReadDiscInfo(), 4096);
  EXPECT_EQ(di.data[2], 0x1E) << "erasable, complete";
  // Formattable: a CD-RW lists a full format.
  const Reply fc = d.In(ReadFormatCapacities(), 252);
  ASSERT_TRUE(fc.Good());
  EXPECT_EQ(fc.data[3], 16);
  EXPECT_EQ(fc.data[8] & 3, 2) << "formatted";
  EXPECT_EQ(fc.data[12 + 4] >> 2, 0x00);
}

// Allocation lengths cut every answer, and never write past the buffer.
TEST_F(CdInformation, ShortAllocations) {
  DoorClient& d = Ready(nullptr, "multisession-cd.json");
  for (const auto& cdb : {ReadToc(2, true, 0, 7), ReadDiscInfo(7), ReadTrackInfo(1, 1, 7)}) {
    const Reply r = d.In(cdb, 4096);
    ASSERT_TRUE(r.Good()) << r.Outcome();
    EXPECT_EQ(r.data.size(), 7u);
  }
  EXPECT_EQ(d.In(ReadToc(2, true, 2), 4096).data[2], 1) << "from session 2 on: still numbered from 1";
  EXPECT_EQ(d.In(ReadToc(2, true, 2), 4096).Be16At(0), 2u + 5 * 11);
  EXPECT_EQ(d.In(ReadToc(2, true, 3), 4096).Outcome(), "05/24/00");
  EXPECT_EQ(d.In(ReadToc(3, false), 4096).Outcome(), "05/24/00") << "no PMA";
  EXPECT_EQ(d.In(ReadToc(5, false), 4096).data, (Bytes{0, 2, 0, 0})) << "no CD-Text";
}

}  // namespace
}  // namespace qvtest
