// The probes: write modes through page 05h, read modes through READ CD, and
// the DVD+ formats through GET CONFIGURATION, each against drives that
// accept or refuse parts of them.
#include "fake_drive.h"

namespace devtest {
namespace {

struct WriteModeCase {
  const char* name;
  uint16_t profile;
  std::function<bool(const Bytes& page)> reject;  // nullptr: accept all
  bool withoutPage05;
  Bytes modes;  // TAO, SAO, DAO raw + PQ, DAO raw + raw P-W
};

using WriteModes = DeviceCases<WriteModeCase>;

TEST_P(WriteModes, FollowWhatPage05hAccepts) {
  const WriteModeCase& c = GetParam();
  rig.drive.profile = c.profile;
  rig.drive.rejectWriteParameters = c.reject;
  if (c.withoutPage05) rig.drive.currentPages.erase(0x05);
  auto& g = rig.Create();
  uint8_t m[4] = {9, 9, 9, 9};
  g.ProbeSupportedWriteModes(m, m + 1, m + 2, m + 3);
  EXPECT_EQ(Bytes(m, m + 4), c.modes);
  EXPECT_EQ(log.Count("ProbeSupportedWriteModes(): SetWriteParameters( SAO ) failed"), c.modes[1] ? 0u : 1u);
  EXPECT_EQ(log.Count("ProbeSupportedWriteModes(): SetWriteParameters( DAO_RAW_PW ) failed"), c.modes[3] ? 0u : 1u);
}

bool RawWriteType(const Bytes& p) { return (p[2] & 0x0F) == 3; }
bool RawPWBlocks(const Bytes& p) { return (p[4] & 0x0F) == 3; }
bool Everything(const Bytes&) { return true; }

INSTANTIATE_TEST_SUITE_P(
    Drives, WriteModes,
    // A drive taking every mode, and a reader refusing them all on a DVD-R,
    // are the virtual drive's (tests/device/vdrive_media_test.cpp).
    ::testing::Values(WriteModeCase{"NoRawWriteType", 0x0009, RawWriteType, false, {1, 1, 0, 0}},
                      WriteModeCase{"NoRawPWBlocks", 0x000A, RawPWBlocks, false, {1, 1, 1, 0}},
                      WriteModeCase{"RefusesAllOnCdr", 0x0009, Everything, false, {0, 0, 0, 0}},
                      // DVD-R drives refuse track-at-once in page 05h yet record incrementally.
                      WriteModeCase{"NoPage05OnDvdR", 0x0011, nullptr, true, {1, 0, 0, 0}},
                      WriteModeCase{"NoPage05OnDvdPlusR", 0x001B, nullptr, true, {0, 0, 0, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

// READ CD selections: sync, header codes, user data and EDC/ECC in byte 9,
// the sub-channel in byte 10.
struct ReadModeCase {
  const char* name;
  std::function<bool(const Bytes& cdb)> reads;
  Bytes modes;  // cooked, raw, raw + PQ, raw + raw P-W, PQ, raw P-W
};

using ReadModes = DeviceCases<ReadModeCase>;

TEST_P(ReadModes, FollowWhatReadCdAccepts) {
  const ReadModeCase& c = GetParam();
  rig.drive.On(0xBE, [&](const Bytes& cdb, const Bytes&) {
    return c.reads(cdb) ? Reply::Good(Bytes(2448, 0x11)) : Reply::InvalidField();
  });
  auto& g = rig.Create();
  uint8_t m[6] = {0, 9, 9, 9, 9, 9};
  g.ProbeSupportedReadModes(m, m + 1, m + 2, m + 3, m + 4, m + 5);
  EXPECT_EQ(Bytes(m, m + 6), c.modes);
  // The five probes read block 0, one block, any sector type.
  ASSERT_EQ(rig.drive.Count(0xBE), 5u);
  const Bytes expected[5] = {{0xBE, 0, 0, 0, 0, 0, 0, 0, 1, 0xF8, 0, 0}, {0xBE, 0, 0, 0, 0, 0, 0, 0, 1, 0xF8, 2, 0},
                             {0xBE, 0, 0, 0, 0, 0, 0, 0, 1, 0xF8, 1, 0}, {0xBE, 0, 0, 0, 0, 0, 0, 0, 1, 0x00, 2, 0},
                             {0xBE, 0, 0, 0, 0, 0, 0, 0, 1, 0x00, 1, 0}};
  for (size_t i = 0; i < 5; ++i) EXPECT_EQ(rig.drive.Cdb(0xBE, i), expected[i]) << "probe " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Drives, ReadModes,
    // Reading everything, and no READ CD at all, are the virtual drive's.
    ::testing::Values(ReadModeCase{"NoSubChannel", [](const Bytes& c) { return c[10] == 0; }, {1, 1, 0, 0, 0, 0}},
                      ReadModeCase{"QOnly", [](const Bytes& c) { return c[10] != 1; }, {1, 1, 1, 0, 1, 0}},
                      ReadModeCase{"SubChannelOnlyWithData", [](const Bytes& c) { return c[9] != 0; }, {1, 1, 1, 1, 0, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

using ReadModesNoDisc = DeviceTest;

TEST_F(ReadModesNoDisc, FailWithTheTestUnitReadyFailure) {
  auto& g = rig.Create();
  rig.drive.Returns(0x00, Reply::NoMedium());
  uint8_t m[6];
  auto e = Fails(8, [&] { g.ProbeSupportedReadModes(m, m + 1, m + 2, m + 3, m + 4, m + 5); });
  EXPECT_EQ(e->FailureInformation()->m__UCHAR__Sense[12], 0x3A);
  EXPECT_EQ(rig.drive.Count(0xBE), 0u);
}

// DVD+ formats: feature 002Ah, 002Bh and 003Bh asked one by one.
struct PlusCase {
  const char* name;
  std::function<void(FakeDrive&)> set;
  Bytes flags;  // read +RW, +R, +R DL, write +RW, +R, +R DL
};

using PlusFormats = DeviceCases<PlusCase>;

TEST_P(PlusFormats, ComeFromTheOneFeatureAsked) {
  const PlusCase& c = GetParam();
  auto& g = rig.Create();
  c.set(rig.drive);
  uint8_t r[6] = {9, 9, 9, 9, 9, 9};
  g.GetSupportedMediaFormatsEx(&r[0], &r[1], &r[2], &r[3], &r[4], &r[5]);
  EXPECT_EQ(Bytes(r, r + 6), c.flags);
  // One GET CONFIGURATION per feature, request type 2.
  const Bytes asked[3] = {{0x46, 0x02, 0x00, 0x2A}, {0x46, 0x02, 0x00, 0x2B}, {0x46, 0x02, 0x00, 0x3B}};
  const size_t before = rig.drive.Count(0x46) - 3;
  for (size_t i = 0; i < 3; ++i) {
    const Bytes cdb = rig.drive.Cdb(0x46, before + i);
    EXPECT_EQ(Bytes(cdb.begin(), cdb.begin() + 4), asked[i]);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Drives, PlusFormats,
    ::testing::Values(
        PlusCase{"ReadsAndWritesPlusRWReadsPlusR",
                 [](FakeDrive& d) {
                   d.features[0x002A] = {0x01, 0, 0, 0};
                   d.features[0x002B] = {0x00, 0, 0, 0};
                 },
                 {1, 1, 0, 1, 0, 0}},
        PlusCase{"NoFeatures", [](FakeDrive&) {}, Bytes(6, 0)},
        PlusCase{"Refused", [](FakeDrive& d) { d.Off(0x46); }, Bytes(6, 0)},
        // A drive that ignores the one-feature request lists feature 0000h first.
        PlusCase{"IgnoresRequestType",
                 [](FakeDrive& d) {
                   d.Returns(0x46, Reply::Good(Bytes{0, 0, 0, 20, 0, 0, 0, 0x1A,          // header
                                                     0, 0, 0x03, 4, 0, 0x1A, 1, 0,        // 0000h: profiles
                                                     0, 0x2A, 0x01, 4, 0x01, 0, 0, 0}));  // 002Ah
                 },
                 Bytes(6, 0)},
        // The answer declares a feature but stops before its flags.
        PlusCase{"Truncated",
                 [](FakeDrive& d) {
                   d.On(0x46, [](const Bytes& cdb, const Bytes&) {
                     return Reply::Cut(Bytes{0, 0, 0, 12, 0, 0, 0, 0x1A, 0, cdb[3], 1, 4, 1, 0, 0, 0}, 12);
                   });
                 },
                 Bytes(6, 0)}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace devtest
