// DiscInfo's properties computed from crafted engine records.
#include <cstring>
#include <string>
#include <vector>

#include "control/disc_info_records.h"
#include "support/test_support.h"

// Cases name only the fields they set; the rest keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using qv::control::DiscInfoRecords;

// A disc as the three records describe it.
struct Disc {
  uint8_t status = 0, lastSession = 0, erasable = 0;
  uint32_t type = 0;
  bool trackValid = false;
  uint8_t trackNumber = 0, blank = 0, nwaValid = 0;
  uint32_t nwa = 0, free = 0;
  bool tocValid = false;
  uint8_t lastTrack = 0;
  std::vector<uint32_t> ends;  // ending address of tracks 1, 2, ...
};

void Put32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

DiscInfoRecords Records(const Disc& d) {
  DiscInfoRecords r;
  r.disc[0] = 1;
  r.disc[1] = d.status;
  r.disc[2] = d.lastSession;
  r.disc[3] = d.erasable;
  r.discType = d.type;
  r.trackValid = d.trackValid;
  r.track[0] = d.trackValid;
  r.track[1] = d.trackNumber;
  r.track[9] = d.blank;
  r.track[11] = d.nwaValid;
  Put32(r.track + 16, d.nwa);
  Put32(r.track + 20, d.free);
  r.tocValid = d.tocValid;
  r.toc[0] = d.tocValid;
  r.toc[10] = d.lastTrack;
  for (size_t k = 0; k < d.ends.size(); ++k) {
    uint8_t* entry = r.toc + 12 + k * 34;
    entry[0] = 1;
    entry[1] = static_cast<uint8_t>(k + 1);
    Put32(entry + 3, k == 0 ? 0 : d.ends[k - 1] + 1);  // start: not what the sizes read
    Put32(entry + 10, d.ends[k]);
  }
  return r;
}

struct Case {
  const char* name;
  Disc disc;
  bool blank;
  int32_t trackNumber;
  uint32_t used, total;
};

constexpr uint32_t kCdrFree = 359849;        // an 80-minute CD-R
constexpr uint32_t kDvdFree = 2295104;       // a single-layer DVD
constexpr uint8_t kBlank = 0, kIncomplete = 1, kComplete = 2;

const Case kCases[] = {
    // A DiscInfo a client made itself: everything zero.
    {"ClientMade", {}, false, 0, 0, 0},
    {"BlankCdr", {.status = kBlank, .type = 2, .trackValid = true, .trackNumber = 1, .blank = 1, .nwaValid = 1,
                  .free = kCdrFree},
     true, 1, 0, kCdrFree},
    // Closed: the used part is the last track's end, free blocks are not added.
    {"ClosedCdr", {.status = kComplete, .type = 2, .trackValid = true, .trackNumber = 3, .free = 77,
                   .tocValid = true, .lastTrack = 2, .ends = {10000, 20000}},
     false, 3, 20000, 20000},
    {"ClosedCdromWithoutTrackInformation", {.status = kComplete, .type = 1, .tocValid = true, .lastTrack = 3,
                                            .ends = {100, 200, 333000}},
     false, 3, 333000, 333000},
    {"AppendableCdr", {.status = kIncomplete, .type = 2, .trackValid = true, .trackNumber = 2, .nwaValid = 1,
                       .nwa = 30150, .free = 300000, .tocValid = true, .lastTrack = 1, .ends = {30000}},
     false, 2, 30000, 330000},
    // DVD+R and DVD-R list the open track last: the one before it counts.
    {"AppendableDvdPlusR", {.status = kIncomplete, .type = 13, .trackValid = true, .trackNumber = 2,
                            .nwaValid = 1, .nwa = 50016, .free = 2000000, .tocValid = true, .lastTrack = 2,
                            .ends = {50000, 2295103}},
     false, 2, 50000, 2050000},
    {"AppendableDvdRWithOneEntry", {.status = kIncomplete, .type = 5, .trackValid = true, .trackNumber = 1,
                                    .nwaValid = 1, .nwa = 16, .free = 1000, .tocValid = true, .lastTrack = 1,
                                    .ends = {2295103}},
     false, 1, 0, 1000},
    // The TOC call failed: the next writable address stands for the used part.
    {"AppendableWithoutToc", {.status = kIncomplete, .type = 2, .trackValid = true, .trackNumber = 4,
                              .nwaValid = 1, .nwa = 123456, .free = 200000},
     false, 4, 123456, 323456},
    {"AppendableWithNeitherRecord", {.status = kIncomplete, .type = 2}, false, 0, 0, 0},
    // DVD-RW counts as appendable whatever its status says.
    {"CompleteDvdRwRestrictedOverwrite", {.status = kComplete, .type = 7, .trackValid = true, .trackNumber = 1,
                                          .nwaValid = 1, .nwa = 60000, .free = 100, .tocValid = true,
                                          .lastTrack = 1, .ends = {59999}},
     false, 1, 59999, 60099},
    {"CompleteDvdRwSequential", {.status = kComplete, .type = 8, .trackValid = true, .trackNumber = 2,
                                 .nwaValid = 1, .nwa = 70000, .free = 5, .tocValid = true, .lastTrack = 2,
                                 .ends = {100, 69999}},
     false, 2, 69999, 70004},
    // A formatted blank rewritable reports incomplete: the total is the
    // free space alone, the used part still comes from the TOC.
    {"BlankDvdPlusRwReportedIncomplete", {.status = kIncomplete, .type = 9, .trackValid = true, .trackNumber = 1,
                                          .blank = 1, .nwaValid = 1, .free = kDvdFree, .tocValid = true,
                                          .lastTrack = 1, .ends = {kDvdFree - 1}},
     true, 1, kDvdFree - 1, kDvdFree},
    // 0xFFFFFFFF means nothing.
    {"UsedAllOnes", {.status = kComplete, .type = 2, .tocValid = true, .lastTrack = 1, .ends = {0xFFFFFFFF}},
     false, 1, 0, 0},
    {"TotalAllOnes", {.status = kIncomplete, .type = 2, .trackValid = true, .trackNumber = 2, .nwaValid = 1,
                      .nwa = 10, .free = 0xFFFFFFFF - 100, .tocValid = true, .lastTrack = 1, .ends = {100}},
     false, 2, 100, 0},
    // The blank flag is the track record's blank bit, not its
    // next-writable-address-valid bit.
    {"BlankBitWithoutAddressValid", {.status = kBlank, .type = 2, .trackValid = true, .trackNumber = 1,
                                     .blank = 1, .nwaValid = 0, .free = 10},
     true, 1, 0, 10},
    {"AddressValidWithoutBlankBit", {.status = kBlank, .type = 2, .trackValid = true, .trackNumber = 1,
                                     .blank = 0, .nwaValid = 1, .free = 10},
     false, 1, 0, 10},
    {"BlankBitButAddressNotZero", {.status = kIncomplete, .type = 2, .trackValid = true, .trackNumber = 2,
                                   .blank = 1, .nwaValid = 1, .nwa = 500, .free = 10},
     false, 2, 500, 510},
};

class DiscInfoSizes : public ::testing::TestWithParam<Case> {};

TEST_P(DiscInfoSizes, FromTheRecords) {
  const Case& c = GetParam();
  const DiscInfoRecords r = Records(c.disc);
  EXPECT_EQ(qv::control::DiscIsBlank(r), c.blank);
  EXPECT_EQ(qv::control::DiscTrackNumber(r), c.trackNumber);
  EXPECT_EQ(qv::control::DiscUsedSize(r), c.used);
  EXPECT_EQ(qv::control::DiscTotalSize(r), c.total);
  EXPECT_EQ(qv::control::DiscFreeBlocks(r), c.disc.trackValid ? static_cast<int32_t>(c.disc.free) : 0);
  EXPECT_EQ(qv::control::DiscNextWritableAddress(r), c.disc.trackValid ? static_cast<int32_t>(c.disc.nwa) : 0);
  EXPECT_EQ(qv::control::DiscStatusByte(r), c.disc.status);
}

INSTANTIATE_TEST_SUITE_P(Discs, DiscInfoSizes, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Entries the record does not hold read as 0, never as neighbouring bytes:
// the track record sits right before the TOC copy and the TOC keeps more
// than its 100 track entries.
TEST(DiscInfoRecordBytes, EntriesOutsideTheTableAreZero) {
  Disc d{.status = kComplete, .type = 2, .trackValid = true, .trackNumber = 1, .nwa = 0xAAAAAAAA,
         .free = 0x55555555, .tocValid = true};
  DiscInfoRecords r = Records(d);
  std::memset(r.toc + 12 + 100 * 34, 0x77, sizeof r.toc - (12 + 100 * 34));
  for (int k : {-1, 100, 254}) EXPECT_EQ(qv::control::TocTrackEnd(r, k), 0u) << k;
  for (uint8_t n : {0, 101}) {
    r.toc[10] = n;
    EXPECT_EQ(qv::control::DiscUsedSize(r), 0u) << int(n);
  }
  Put32(r.toc + 12 + 99 * 34 + 10, 4242);
  r.toc[10] = 100;
  EXPECT_EQ(qv::control::DiscUsedSize(r), 4242u) << "entry 100 is the last one held";
}

}  // namespace
