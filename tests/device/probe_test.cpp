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

struct WriteModeCase {
  const char* name;
  const char* media;
  std::vector<json> rules;
  Bytes modes;  // TAO, SAO, DAO raw + PQ, DAO raw + raw P-W
};

using WriteModes = DeviceCases<WriteModeCase>;

TEST_P(WriteModes, FollowWhatPage05hAccepts) {
  const WriteModeCase& c = GetParam();
  uint8_t m[4] = {9, 9, 9, 9};
  Create(c.media, nullptr, c.rules).ProbeSupportedWriteModes(m, m + 1, m + 2, m + 3);
  EXPECT_EQ(Bytes(m, m + 4), c.modes);
}

INSTANTIATE_TEST_SUITE_P(
    Drives, WriteModes,
    // A drive taking every mode, and a reader refusing them all on a DVD-R,
    // are in vdrive_media_test.cpp.
    ::testing::Values(WriteModeCase{"NoRawWriteType", "cd-r", {RefuseAll(0x55, PageByte(2, 3, 0x0F))}, {1, 1, 0, 0}},
                      WriteModeCase{"NoRawPWBlocks", "cd-rw", {RefuseAll(0x55, PageByte(4, 3, 0x0F))}, {1, 1, 1, 0}},
                      WriteModeCase{"RefusesAllOnCdr", "cd-r", {RefuseAll(0x55)}, {0, 0, 0, 0}},
                      // DVD-R drives refuse track-at-once in page 05h yet record incrementally.
                      WriteModeCase{"NoPage05OnDvdR", "dvd-r",
                                    {RefuseAll(0x5A, {{"cdb", {2, 0x05, 0x3F}}}), RefuseAll(0x55)}, {1, 0, 0, 0}},
                      WriteModeCase{"NoPage05OnDvdPlusR", "dvd+r",
                                    {RefuseAll(0x5A, {{"cdb", {2, 0x05, 0x3F}}}), RefuseAll(0x55)}, {0, 0, 0, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

// READ CD selections: sync, header codes, user data and EDC/ECC in byte 9,
// the sub-channel in byte 10.
struct ReadModeCase {
  const char* name;
  std::vector<json> rules;
  Bytes modes;  // cooked, raw, raw + PQ, raw + raw P-W, PQ, raw P-W
};

using ReadModes = DeviceCases<ReadModeCase>;

TEST_P(ReadModes, FollowWhatReadCdAccepts) {
  const ReadModeCase& c = GetParam();
  auto& g = Create("cd-rom", nullptr, c.rules);
  const size_t before = Count(0xBE);
  uint8_t m[6] = {0, 9, 9, 9, 9, 9};
  g.ProbeSupportedReadModes(m, m + 1, m + 2, m + 3, m + 4, m + 5);
  EXPECT_EQ(Bytes(m, m + 6), c.modes);
  // The five probes, after the reads of the TOC's own, read block 0, one
  // block, any sector type.
  const size_t n = Count(0xBE);
  ASSERT_GE(n - before, 5u);
  const Bytes expected[5] = {{0xBE, 0, 0, 0, 0, 0, 0, 0, 1, 0xF8, 0, 0}, {0xBE, 0, 0, 0, 0, 0, 0, 0, 1, 0xF8, 2, 0},
                             {0xBE, 0, 0, 0, 0, 0, 0, 0, 1, 0xF8, 1, 0}, {0xBE, 0, 0, 0, 0, 0, 0, 0, 1, 0x00, 2, 0},
                             {0xBE, 0, 0, 0, 0, 0, 0, 0, 1, 0x00, 1, 0}};
  for (size_t i = 0; i < 5; ++i) EXPECT_EQ(Cdb(0xBE, n - 5 + i), expected[i]) << "probe " << i;
}


INSTANTIATE_TEST_SUITE_P(
    Drives, ReadModes,
    // Reading everything, and no READ CD at all, are in vdrive_media_test.cpp.
    ::testing::Values(ReadModeCase{"NoSubChannel", {RefuseAll(0xBE, CdbByte(10, 1)), RefuseAll(0xBE, CdbByte(10, 2))},
                                   {1, 1, 0, 0, 0, 0}},
                      ReadModeCase{"QOnly", {RefuseAll(0xBE, CdbByte(10, 1))}, {1, 1, 1, 0, 1, 0}},
                      ReadModeCase{"SubChannelOnlyWithData", {RefuseAll(0xBE, CdbByte(9, 0))}, {1, 1, 1, 1, 0, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DeviceTest, ReadModesOnAnEmptyTrayFailWithTheTestUnitReadyFailure) {
  auto& g = Create(nullptr);
  uint8_t m[6];
  auto e = Fails(8, [&] { g.ProbeSupportedReadModes(m, m + 1, m + 2, m + 3, m + 4, m + 5); });
  EXPECT_EQ(e->FailureInformation()->m__UCHAR__Sense[12], 0x3A);
  EXPECT_EQ(Count(0xBE), 0u);
}

// DVD+ formats: feature 002Ah, 002Bh and 003Bh asked one by one.
struct PlusCase {
  const char* name;
  const char* model;
  std::vector<json> rules;
  Bytes flags;  // read +RW, +R, +R DL, write +RW, +R, +R DL
};

using PlusFormats = DeviceCases<PlusCase>;

TEST_P(PlusFormats, ComeFromTheOneFeatureAsked) {
  const PlusCase& c = GetParam();
  auto& g = Create("dvd+rw", c.model);
  Arm(c.rules);
  const size_t before = Count(0x46);
  uint8_t r[6] = {9, 9, 9, 9, 9, 9};
  g.GetSupportedMediaFormatsEx(&r[0], &r[1], &r[2], &r[3], &r[4], &r[5]);
  EXPECT_EQ(Bytes(r, r + 6), c.flags);
  // One GET CONFIGURATION per feature, request type 2.
  const Bytes asked[3] = {{0x46, 0x02, 0x00, 0x2A}, {0x46, 0x02, 0x00, 0x2B}, {0x46, 0x02, 0x00, 0x3B}};
  ASSERT_EQ(Count(0x46) - before, 3u);
  for (size_t i = 0; i < 3; ++i) {
    const Bytes cdb = Cdb(0x46, before + i);
    EXPECT_EQ(Bytes(cdb.begin(), cdb.begin() + 4), asked[i]);
  }
}

// A header, feature 0000h listing DVD+RW, then feature 002Ah: what a drive
// that ignores the one-feature request answers.
const Bytes kWholeList{0, 0, 0, 20, 0, 0, 0, 0x1A, 0, 0, 0x03, 4, 0, 0x1A, 1, 0, 0, 0x2A, 0x01, 4, 0x01, 0, 0, 0};

INSTANTIATE_TEST_SUITE_P(
    Drives, PlusFormats,
    ::testing::Values(
        PlusCase{"DvdWriter", "SONY:DVD RW DW-U18A", {}, {1, 1, 0, 1, 1, 0}},
        PlusCase{"ComboReadsBoth", "SAMSUNG:CDRW/DVD SM-348B", {}, {1, 1, 0, 0, 0, 0}},
        PlusCase{"CdWriter", "TEAC:CD-W56S", {}, Bytes(6, 0)},
        PlusCase{"Refused", nullptr, {RefuseAll(0x46)}, Bytes(6, 0)},
        PlusCase{"IgnoresRequestType", nullptr,
                 {Garble(0x46, 0, kWholeList, {{"times", 0}}), Cut(0x46, 24, {{"times", 0}})}, Bytes(6, 0)},
        // The answer declares a feature but stops before its flags.
        PlusCase{"Truncated", nullptr, {Cut(0x46, 12, {{"times", 0}})}, Bytes(6, 0)}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace devtest
