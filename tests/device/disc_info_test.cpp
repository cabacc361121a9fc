// Disc type, disc information and track information, one table per
// medium, with the malformed answers each parser must refuse.
#include <cstring>

#include "fake_drive.h"
#include "platform/sysinfo.h"

namespace devtest {
namespace {

struct ProfileCase {
  uint16_t profile;
  uint32_t type;
};

using DiscType = DeviceCases<ProfileCase>;

TEST_P(DiscType, MapsTheCurrentProfile) {
  rig.drive.profile = GetParam().profile;
  EXPECT_EQ(rig.Create().GetInsertedDiscType(), GetParam().type);
}

// The virtual drive's media cover the known profiles; these are the edges:
// DVD-R DL, HD DVD, BD and "no current profile" are unknown here.
INSTANTIATE_TEST_SUITE_P(Profiles, DiscType,
                         ::testing::Values(ProfileCase{0x0015, 0}, ProfileCase{0x0051, 0}, ProfileCase{0x0041, 0},
                                           ProfileCase{0x0000, 0}, ProfileCase{0xFFFF, 0}));

using DiscTypeAnswers = DeviceTest;

TEST_F(DiscTypeAnswers, AShortOrRefusedConfigurationGivesUnknownWithoutThrowing) {
  auto& g = rig.Create();
  const std::vector<Reply> replies = {
      Reply::Invalid(),
      Reply::Good(Bytes{0, 0, 0, 4, 0, 0}),                    // stops before the current profile
      Reply::Cut(Bytes{0, 0, 0, 4, 0, 0, 0, 0x09}, 3),
      Reply::Good(Bytes{0, 0, 0, 2, 0, 0, 0, 0x09}),           // declares less than the header
  };
  for (const Reply& reply : replies) {
    rig.drive.Returns(0x46, reply);
    EXPECT_EQ(g.GetInsertedDiscType(), 0u);
  }
}

TEST_F(DiscTypeAnswers, PhilipsCdd5301IsAlwaysACdrWithoutAsking) {
  rig.drive.vendor = "PHILIPS";
  rig.drive.product = "CDD5301";
  rig.drive.profile = 0x0010;
  EXPECT_EQ(rig.Create().GetInsertedDiscType(), 2u);
  EXPECT_EQ(rig.drive.Count(0x46), 0u);
  EXPECT_EQ(log.Count("GetDiscTypeSafe(): Broken 'get configuration', returning CD-R"), 1u);
}

// READ DISC INFORMATION into the 33-byte record.
using DiscInfo = DeviceTest;

TEST_F(DiscInfo, FillsEveryFieldFromItsBits) {
  Bytes answer = DiscInformation(0x1D, 1, 3, 5, 7);  // erasable, session state 3 (complete), disc status 1
  answer[7] = 0xE0;  // id, bar code, unrestricted use valid
  answer[8] = 0x20;  // CD-ROM XA
  for (int i = 12; i < 32; ++i) answer[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
  answer[33] = 4;
  rig.drive.Returns(0x51, Reply::Good(answer));
  QUORVANE_DISC_INFORMATION r;
  std::memset(&r, 0xEE, sizeof r);
  rig.Create().GetDiscInformation(&r);
  const uint8_t* b = reinterpret_cast<const uint8_t*>(&r);
  const Bytes expected = {1, 1, 3, 1, 1, 3, 5, 7, 1, 1, 1, 0x20, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23,
                          24, 25, 26, 27, 28, 29, 30, 31, 4};
  EXPECT_EQ(Bytes(b, b + 33), expected);
}

TEST_F(DiscInfo, ShortTruncatedOrRefusedAnswersFailAndLeaveAnEmptyRecord) {
  auto& g = rig.Create();
  struct Bad {
    Reply reply;
    uint32_t number;
  };
  Reply declaredShort = Reply::Good(DiscInformation(0x0E, 1, 1, 1, 1));
  declaredShort.data[1] = 10;  // a 12-byte answer: no bar code, no OPC count
  Reply absurd = Reply::Good(DiscInformation(0x0E, 1, 1, 1, 1));
  absurd.data[0] = 0xFF;  // declares 65K
  const Bad bad[] = {
      {declaredShort, 10}, {Reply::Cut(DiscInformation(0x0E, 1, 1, 1, 1), 20), 10}, {absurd, 10}, {Reply::NoMedium(), 8}};
  for (const Bad& b : bad) {
    rig.drive.Returns(0x51, b.reply);
    QUORVANE_DISC_INFORMATION r;
    std::memset(&r, 0xEE, sizeof r);
    Fails(b.number, [&] { g.GetDiscInformation(&r); });
    EXPECT_EQ(r.m__UCHAR__IsValid, 0);
    EXPECT_EQ(r.m__UCHAR__DiscStatus, 0);
  }
}

// Random-access media are always incomplete, whatever the drive says.
TEST_F(DiscInfo, DvdRamAndDvdPlusRwAreAlwaysIncomplete) {
  const struct {
    uint16_t profile;
    uint8_t reported, expected;
  } cases[] = {{0x0012, 2, 1}, {0x001A, 0, 1}, {0x001A, 2, 1}, {0x0009, 2, 2}, {0x0011, 0, 0}};
  for (const auto& c : cases) {
    Rig r;
    r.drive.profile = c.profile;
    r.drive.Returns(0x51, Reply::Good(DiscInformation(c.reported, 1, 1, 1, 1)));
    QUORVANE_DISC_INFORMATION d;
    r.Create().GetDiscInformation(&d);
    EXPECT_EQ(d.m__UCHAR__DiscStatus, c.expected) << "profile " << c.profile;
  }
}

// Track information: the record from an answer, and a failure that is
// only a record with IsValid 0.
using TrackInformationTest = DeviceTest;

TEST_F(TrackInformationTest, FillsTheRecordInHostOrder) {
  rig.drive.profile = 0x0009;
  TrackInfo t;
  t.track = 3;
  t.session = 2;
  t.trackMode = 7;
  t.copy = t.damage = true;
  t.dataMode = 2;
  t.fixedPacket = t.packet = t.blank = t.reserved = t.nwaValid = true;
  t.start = 0x01020304;
  t.nwa = 0x05060708;
  t.free = 0x090A0B0C;
  t.packetSize = 16;
  rig.drive.Returns(0x52, Reply::Good(TrackInformation(t)));
  QUORVANE_TRACK_INFORMATION r;
  rig.Create().GetTrackInformation(3, &r);
  EXPECT_EQ(rig.drive.Cdb(0x52), (Bytes{0x52, 0x01, 0, 0, 0, 3, 0, 0x10, 0x00, 0}));
  const uint8_t* b = reinterpret_cast<const uint8_t*>(&r);
  EXPECT_EQ(Bytes(b, b + 12), (Bytes{1, 3, 2, 7, 1, 1, 2, 1, 1, 1, 1, 1}));
  EXPECT_EQ(r.m__LONG__TrackStartAddress, 0x01020304);
  EXPECT_EQ(r.m__LONG__NextWritableAddress, 0x05060708);
  EXPECT_EQ(r.m__ULONG__FreeBlocks, 0x090A0B0Cu);
  EXPECT_EQ(r.m__ULONG__FixedPacketSize, 16u);
}

TEST_F(TrackInformationTest, FailuresGiveAnInvalidRecordNotAnError) {
  rig.drive.profile = 0x0009;
  auto& g = rig.Create();
  Reply shortAnswer = Reply::Good(TrackInformation({}));
  shortAnswer.data[1] = 20;  // 22 bytes: no free blocks
  for (const Reply& reply : {Reply::InvalidField(), shortAnswer, Reply::Cut(TrackInformation({}), 27)}) {
    rig.drive.Returns(0x52, reply);
    QUORVANE_TRACK_INFORMATION r;
    std::memset(&r, 0xEE, sizeof r);
    EXPECT_EQ(Catch([&] { g.GetTrackInformation(1, &r); }), nullptr);
    const uint8_t* b = reinterpret_cast<const uint8_t*>(&r);
    EXPECT_EQ(Bytes(b, b + sizeof r), Bytes(sizeof r, 0));
  }
}

// ReadTrackInformation per medium: the command it sends and the answer it
// hands back, with its corrections. The virtual drive's discs cover the
// plain cases; these are the answers it does not give.
struct TrackCase {
  const char* name;
  uint16_t profile;
  uint8_t asked;
  std::function<void(FakeDrive&)> set;
  TrackInfo expect;
  uint32_t expectSize;
  uint8_t expectCdbNumber;  // 0: no READ TRACK INFORMATION sent
};

using ReadTrack = DeviceCases<TrackCase>;

TrackInfo Blank(uint8_t track, uint32_t start, uint32_t free) {
  TrackInfo t;
  t.track = t.session = track;
  t.blank = t.nwaValid = true;
  t.start = t.nwa = start;
  t.free = free;
  t.trackMode = 0;
  return t;
}

uint32_t Be32At(const uint8_t* b) { return uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3]; }

TEST_P(ReadTrack, AnswersPerMedium) {
  const TrackCase& c = GetParam();
  rig.drive.profile = c.profile;
  c.set(rig.drive);
  uint8_t b[4096];
  rig.Create().ReadTrackInformation(c.asked, b, sizeof b, 0);
  const TrackInfo& t = c.expect;
  EXPECT_EQ(b[2], t.track);
  EXPECT_EQ(b[3], t.session);
  EXPECT_EQ((b[6] >> 6) & 1, t.blank ? 1 : 0);
  EXPECT_EQ((b[6] >> 4) & 3, (t.packet ? 2 : 0) | (t.fixedPacket ? 1 : 0));
  EXPECT_EQ(b[7] & 1, t.nwaValid ? 1 : 0);
  EXPECT_EQ(Be32At(b + 8), t.start);
  EXPECT_EQ(Be32At(b + 12), t.nwa);
  EXPECT_EQ(Be32At(b + 16), t.free);
  EXPECT_EQ(Be32At(b + 24), c.expectSize);
  EXPECT_EQ(rig.drive.Count(0x52), c.expectCdbNumber == 0 ? 0u : 1u);
  if (c.expectCdbNumber != 0) {
    EXPECT_EQ(rig.drive.Cdb(0x52)[5], c.expectCdbNumber);
  }
  // Page 05h is set to track-at-once first: the NWA depends on it.
  EXPECT_GE(rig.drive.Count(0x55), 1u);
}

// READ FORMAT CAPACITIES: the header and descriptors as given.
Reply Capacities(const Bytes& descriptors) {
  Bytes b{0, 0, 0, static_cast<uint8_t>(descriptors.size())};
  b.insert(b.end(), descriptors.begin(), descriptors.end());
  return Reply::Good(b);
}

void DvdPlusRw(FakeDrive& d, uint32_t lastLba, const Bytes& block16) {
  Bytes capacity(8);
  Put32(capacity, 0, lastLba);
  Put32(capacity, 4, 2048);
  d.Returns(0x25, Reply::Good(capacity));
  d.Returns(0x23, Capacities({0, 0x23, 0x05, 0x40, 0x03, 0, 0x08, 0}));  // 2295104 unformatted
  d.On(0x28, [=](const Bytes& cdb, const Bytes&) { return Reply::Good(cdb[5] == 16 ? block16 : Bytes(2048, 0)); });
}

// A packet-written track of size blocks.
Reply PacketTrack(uint32_t size) {
  TrackInfo t;
  t.packet = true;
  t.size = size;
  return Reply::Good(TrackInformation(t));
}

TrackInfo Written(uint32_t blocks, uint32_t capacity) {
  TrackInfo t = Blank(1, 0, capacity - blocks);
  t.nwa = blocks;
  return t;
}

INSTANTIATE_TEST_SUITE_P(
    Media, ReadTrack,
    ::testing::Values(
        // A formatted DVD-RW's data opens one blank track over the whole
        // capacity, which comes from the second descriptor when there is one.
        TrackCase{"FormattedDvdRwTwoCapacities", 0x0014, 1,
                  [](FakeDrive& d) {
                    d.Returns(0x52, PacketTrack(100));
                    d.Returns(0x23, Capacities({0, 0, 0x10, 0, 0x02, 0, 0x08, 0, 0, 0, 0x20, 0, 0x10 << 2, 0, 0, 0x10}));
                  },
                  Written(100, 0x2000), 0x2000, 1},
        // DVD+RW with an ISO9660 volume of 1000 blocks: track 1 is the volume.
        TrackCase{"DvdPlusRwVolumeFirst", 0x001A, 1,
                  [](FakeDrive& d) { DvdPlusRw(d, 2295103, IsoPrimaryVolumeDescriptor(1000)); },
                  [] {
                    TrackInfo t;
                    t.trackMode = 0;
                    return t;
                  }(),
                  0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

using ReadTrackErrors = DeviceTest;

TEST_F(ReadTrackErrors, BadTrackNumbersOnRandomAccessMediaFailWithSeventeen) {
  rig.drive.profile = 0x001A;
  DvdPlusRw(rig.drive, 2295103, IsoPrimaryVolumeDescriptor(1000));
  auto& g = rig.Create();
  uint8_t b[4096];
  auto e = Fails(17, [&] { g.ReadTrackInformation(3, b, sizeof b, 0); });
  EXPECT_STREQ(e->Text(), "CQuorvane_CdvdBurnerGrabber::ReadTrackInformationForDVDPLUSRWOrDVDRAM(): EXITing with "
                          "failure, track number 3 is bad");
  // Without a volume only track 1 (or the invisible one) exists.
  DvdPlusRw(rig.drive, 2295103, Bytes(2048, 0));
  Fails(17, [&] { g.ReadTrackInformation(2, b, sizeof b, 0); });
}

TEST_F(ReadTrackErrors, AFormattedDvdRwWhoseCapacityIsBelowItsTrackIsRefused) {
  rig.drive.profile = 0x0013;
  rig.drive.Returns(0x52, PacketTrack(5000));
  rig.drive.Returns(0x23, Capacities({0, 0, 0x03, 0xE8, 2, 0, 8, 0}));
  uint8_t b[4096];
  Fails(10, [&] { rig.Create().ReadTrackInformation(1, b, sizeof b, 0); });
}

struct MatshitaCase {
  const char* product;
  uint32_t major, minor;
  uint32_t free, expected;
};

class Matshita : public DeviceCases<MatshitaCase> {
 protected:
  void TearDown() override { qv::plat::SetOsVersionOverride(std::nullopt); }
};

TEST_P(Matshita, LosesTenThousandBlocksOnlyUnderWindows2000) {
  const MatshitaCase& c = GetParam();
  qv::plat::SetOsVersionOverride(qv::plat::OsVersion{c.major, c.minor, 2195, 2});
  rig.drive.vendor = "MATSHITA";
  rig.drive.product = c.product;
  rig.drive.profile = 0x0009;
  rig.drive.Returns(0x52, Reply::Good(TrackInformation(Blank(1, 0, c.free))));
  uint8_t b[4096];
  rig.Create().ReadTrackInformation(1, b, sizeof b, 0);
  EXPECT_EQ(Be32At(b + 16), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Drives, Matshita,
                         ::testing::Values(MatshitaCase{"CW-9585", 5, 0, 359849, 359849 - 10240},
                                           MatshitaCase{"UJDA-9583S", 5, 0, 359849, 359849 - 10240},
                                           MatshitaCase{"CW-9585", 5, 0, 10240, 10240},
                                           MatshitaCase{"CW-9585", 5, 1, 359849, 359849},
                                           MatshitaCase{"CW-8571", 5, 0, 359849, 359849}));

using Boundary = DeviceTest;

TEST_F(Boundary, ReadsTheLayerZeroCapacityAndItsFlag) {
  rig.drive.On(0xAD, [](const Bytes& cdb, const Bytes&) {
    if (cdb[7] != 0x20) return Reply::InvalidField();
    return Reply::Good(Bytes{0, 10, 0, 0, 0x80, 0, 0, 0, 0x00, 0x1E, 0x84, 0x80});
  });
  auto& g = rig.Create();
  uint32_t capacity = 0;
  uint8_t flag = 0;
  g.ReadDVDPLUSRDLBoundaryInformation(&capacity, &flag);
  EXPECT_EQ(capacity, 0x1E8480u);
  EXPECT_EQ(flag, 1);
  EXPECT_EQ(rig.drive.Cdb(0xAD), (Bytes{0xAD, 0, 0, 0, 0, 0, 0, 0x20, 0, 12, 0, 0}));
  rig.drive.Returns(0xAD, Reply::Good(Bytes{0, 6, 0, 0, 0x80, 0, 0, 0}));
  auto e = Fails(10, [&] { g.ReadDVDPLUSRDLBoundaryInformation(&capacity, &flag); });
  EXPECT_STREQ(e->Text(), "CQuorvane_CdvdBurnerGrabber::ReadDVDPLUSRDLBoundaryInformation(): EXITing with failure, "
                          "response size in UCHARs ( 6 ) is less then expected ( 10 )");
  rig.drive.Returns(0xAD, Reply::Cut(Bytes{0, 10, 0, 0, 0x80, 0, 0, 0, 0, 0, 0, 1}, 10));
  Fails(10, [&] { g.ReadDVDPLUSRDLBoundaryInformation(&capacity, &flag); });
}

TEST(SystemDescriptors, CountsTheBlocksThatNameIso9660) {
  qvtest::LogCapture log;
  Bytes area(30 * 2048, 0);
  for (int block : {0, 1, 2, 29}) std::memcpy(&area[size_t(block) * 2048 + 1], "CD001", 5);
  std::memcpy(&area[3 * 2048], "CD001", 5);  // at byte 0: not a descriptor
  std::memcpy(&area[4 * 2048 + 1], "BEA01", 5);
  EXPECT_EQ(CQuorvane_CdvdBurnerGrabber::GetNumberOfSystemDescriptors(area.data(), 30), 4);
  EXPECT_EQ(CQuorvane_CdvdBurnerGrabber::GetNumberOfSystemDescriptors(area.data(), 2), 2);
  EXPECT_EQ(log.Count("GetNumberOfSystemDescriptors(): EXITing with success, descriptor(s): 4"), 1u);
}

}  // namespace
}  // namespace devtest
