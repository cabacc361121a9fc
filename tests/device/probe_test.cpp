// The probes: write modes through page 05h, read modes through READ CD, and
// the DVD+ formats through GET CONFIGURATION, each against drives that
// accept or refuse parts of them.
#include "drive_rig.h"

namespace devtest {
namespace {

// Refuses every command of the opcode, or those picked by a byte.
json RefuseAll(int opcode, json more = json::object()) {
  more["times"] = 0;
  return Refuse(opcode, 5, 0x24, 0, more);
}
// MODE SELECT of a page 05h whose byte (from the page code on) is value under mask.
json PageByte(uint32_t at, uint8_t value, uint8_t mask) { return {{"out", {8 + at, value, mask}}}; }

// A drive taking every mode, and a reader refusing them all on a DVD-R,
// are in vdrive_media_test.cpp.
TEST_F(DeviceTest, WriteModesFollowWhatPage05hAccepts) {
  const struct {
    const char* media;
    std::vector<json> rules;
    Bytes modes;  // TAO, SAO, DAO raw + PQ, DAO raw + raw P-W
  } cases[] = {{"cd-r", {RefuseAll(0x55, PageByte(2, 3, 0x0F))}, {1, 1, 0, 0}},
               {"cd-rw", {RefuseAll(0x55, PageByte(4, 3, 0x0F))}, {1, 1, 1, 0}},
               {"cd-r", {RefuseAll(0x55)}, {0, 0, 0, 0}},
               // DVD-R drives refuse track-at-once in page 05h yet record incrementally.
               {"dvd-r", {RefuseAll(0x5A, {{"cdb", {2, 0x05, 0x3F}}}), RefuseAll(0x55)}, {1, 0, 0, 0}},
               {"dvd+r", {RefuseAll(0x5A, {{"cdb", {2, 0x05, 0x3F}}}), RefuseAll(0x55)}, {0, 0, 0, 0}}};
  for (const auto& c : cases) {
    Bytes m(4, 9);
    Create(c.media, nullptr, c.rules).ProbeSupportedWriteModes(&m[0], &m[1], &m[2], &m[3]);
    EXPECT_EQ(m, c.modes) << c.media;
  }
}

// READ CD selections: sync, header codes, user data and EDC/ECC in byte 9,
// the sub-channel in byte 10.
// Reading everything, and no READ CD at all, are in vdrive_media_test.cpp.
TEST_F(DeviceTest, ReadModesFollowWhatReadCdAccepts) {
  const struct {
    std::vector<json> rules;
    Bytes modes;  // cooked, raw, raw + PQ, raw + raw P-W, PQ, raw P-W
  } cases[] = {{{RefuseAll(0xBE, CdbByte(10, 1)), RefuseAll(0xBE, CdbByte(10, 2))}, {1, 1, 0, 0, 0, 0}},
               {{RefuseAll(0xBE, CdbByte(10, 1))}, {1, 1, 1, 0, 1, 0}},
               {{RefuseAll(0xBE, CdbByte(9, 0))}, {1, 1, 1, 1, 0, 0}}};
  for (const auto& c : cases) {
    Bytes m{0, 9, 9, 9, 9, 9};
    Create("cd-rom", nullptr, c.rules).ProbeSupportedReadModes(&m[0], &m[1], &m[2], &m[3], &m[4], &m[5]);
    EXPECT_EQ(m, c.modes);
  }
  // The five probes read block 0, one block, any sector type: the
  // selections, then the sub-channels.
  const size_t n = Count(0xBE);
  ASSERT_GE(n, 5u);
  Bytes selections;
  for (size_t i = n - 5; i < n; ++i) {
    const Bytes cdb = Cdb(0xBE, i);
    EXPECT_EQ(Bytes(cdb.begin(), cdb.begin() + 9), (Bytes{0xBE, 0, 0, 0, 0, 0, 0, 0, 1}));
    selections.insert(selections.end(), {cdb[9], cdb[10]});
  }
  EXPECT_EQ(selections, (Bytes{0xF8, 0, 0xF8, 2, 0xF8, 1, 0, 2, 0, 1}));
}

TEST_F(DeviceTest, ReadModesOnAnEmptyTrayFailWithTheTestUnitReadyFailure) {
  auto& g = Create(nullptr);
  uint8_t m[6];
  auto e = Fails(8, [&] { g.ProbeSupportedReadModes(m, m + 1, m + 2, m + 3, m + 4, m + 5); });
  EXPECT_EQ(e->FailureInformation()->m__UCHAR__Sense[12], 0x3A);
  EXPECT_EQ(Count(0xBE), 0u);
}

// DVD+ formats: feature 002Ah, 002Bh and 003Bh asked one by one.
// A header, feature 0000h listing DVD+RW, then feature 002Ah: what a drive
// that ignores the one-feature request answers.
const Bytes kWholeList{0, 0, 0, 20, 0, 0, 0, 0x1A, 0, 0, 0x03, 4, 0, 0x1A, 1, 0, 0, 0x2A, 0x01, 4, 0x01, 0, 0, 0};

// DVD+ formats: features 002Ah, 002Bh and 003Bh asked one by one.
TEST_F(DeviceTest, PlusFormatsComeFromTheOneFeatureAsked) {
  const struct {
    const char* model;
    std::vector<json> rules;
    Bytes flags;  // read +RW, +R, +R DL, write +RW, +R, +R DL
  } cases[] = {{"SONY:DVD RW DW-U18A", {}, {1, 1, 0, 1, 1, 0}},
               {"SAMSUNG:CDRW/DVD SM-348B", {}, {1, 1, 0, 0, 0, 0}},
               {nullptr, {Garble(0x46, 0, kWholeList, {{"times", 0}}), Cut(0x46, 24, {{"times", 0}})}, Bytes(6, 0)}};
  for (const auto& c : cases) {
    auto& g = Create("dvd+rw", c.model);
    Arm(c.rules);
    const size_t before = Count(0x46);
    Bytes r(6, 9);
    g.GetSupportedMediaFormatsEx(&r[0], &r[1], &r[2], &r[3], &r[4], &r[5]);
    EXPECT_EQ(r, c.flags);
    // One GET CONFIGURATION per feature, request type 2.
    ASSERT_EQ(Count(0x46) - before, 3u);
    for (size_t i = 0; i < 3; ++i) {
      const Bytes cdb = Cdb(0x46, before + i);
      EXPECT_EQ(Bytes(cdb.begin(), cdb.begin() + 4), (Bytes{0x46, 0x02, 0x00, std::array<uint8_t, 3>{0x2A, 0x2B, 0x3B}[i]}));
    }
  }
}

}  // namespace
}  // namespace devtest
