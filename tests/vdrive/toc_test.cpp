// READ TOC of the prepared CDs, byte by byte against the MMC tables and
// the session areas of the Orange Book (lead-out 6750 blocks after the
// first session, 2250 after later ones, lead-in 4500, pause 150). What the
// engine makes of the TOC, the disc and the track information of the same
// discs is device_vdrive's Described.Prepared; the engine reads only the
// full TOC (format 2), the ATIP and CD-Text, so these are what is checked.

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

struct DiscCase {
  const char* file;  // nullptr: a blank CD-R
  Bytes fullToc;     // empty: 05/24/00
  bool atip;
};

const DiscCase kCases[] = {
    {"audio-cd.json",
     FullToc(1, 1, {Points(1, 0x10, 0x11, 1, 0x00, 3, 1, 12, 0),
                    {{1, 0x10, 0x01, 0, 0, 0, 0, 0, 2, 0},
                     {1, 0x12, 0x02, 0, 0, 0, 0, 0, 24, 0},
                     {1, 0x11, 0x03, 0, 0, 0, 0, 0, 42, 0}}}),
     false},
    {"multisession-cd.json",
     FullToc(1, 2, {Points(1, 0x14, 0x14, 1, 0x20, 1, 2, 2, 0),
                    {{1, 0x14, 0x01, 0, 0, 0, 0, 0, 2, 0},
                     {1, 0x54, 0xB0, 4, 32, 0, 2, 79, 59, 74},
                     {1, 0x54, 0xC0, 0, 0, 0, 0, 97, 26, 66}},
                    Points(2, 0x14, 0x14, 2, 0x20, 2, 5, 14, 0),
                    {{2, 0x14, 0x02, 0, 0, 0, 0, 4, 34, 0}, {2, 0x54, 0xB0, 6, 44, 0, 1, 79, 59, 74}}}),
     true},
    {"cd-r-open-session.json",
     FullToc(1, 1, {Points(1, 0x14, 0x14, 1, 0x00, 1, 1, 8, 50),
                    {{1, 0x14, 0x01, 0, 0, 0, 0, 0, 2, 0},
                     {1, 0x54, 0xB0, 3, 38, 50, 2, 79, 59, 74},
                     {1, 0x54, 0xC0, 0, 0, 0, 0, 97, 26, 66}}}),
     true},
    {nullptr, {}, true},
};

using CdInformation = VdriveTest;

TEST_F(CdInformation, PreparedDiscs) {
  for (const DiscCase& c : kCases) {
    SCOPED_TRACE(c.file ? c.file : "blank cd-r");
    DoorClient& d = Ready(c.file ? nullptr : "cd-r", c.file);
    const Reply full = d.In(ReadToc(2, true), 4096);
    if (c.fullToc.empty()) {
      EXPECT_EQ(full.Outcome(), "05/24/00") << "no TOC on a blank disc";
    } else {
      EXPECT_EQ(full.data, c.fullToc);
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
  }
}

// A short allocation cuts the answer; the full TOC from session 2 on is
// still numbered from 1; a disc without CD-Text has an empty list.
TEST_F(CdInformation, ShortAllocationsAndLaterSessions) {
  DoorClient& d = Ready(nullptr, "multisession-cd.json");
  EXPECT_EQ(d.In(ReadToc(2, true, 0, 7), 4096).data.size(), 7u);
  const Reply second = d.In(ReadToc(2, true, 2), 4096);
  EXPECT_EQ(second.data[2], 1);
  EXPECT_EQ(second.Be16At(0), 2u + 5 * 11);
  EXPECT_EQ(d.In(ReadToc(5, false), 4096).data, (Bytes{0, 2, 0, 0}));
}

}  // namespace
}  // namespace qvtest
