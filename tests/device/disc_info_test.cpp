// Disc type, disc information and track information, one table per
// medium, with the malformed answers each parser must refuse.
#include <cstring>

#include "fake_drive.h"
#include "platform/sysinfo.h"

namespace {

using devtest::Bytes;
using devtest::Catch;
using devtest::Reply;
using devtest::Rig;
using devtest::TrackInfo;

struct ProfileCase {
  uint16_t profile;
  uint32_t type;
};

class DiscType : public ::testing::TestWithParam<ProfileCase> {
 protected:
  qvtest::VirtualTime time;
};

TEST_P(DiscType, MapsTheCurrentProfile) {
  Rig rig;
  rig.drive.profile = GetParam().profile;
  EXPECT_EQ(rig.Create().GetInsertedDiscType(), GetParam().type);
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, DiscType,
    ::testing::Values(ProfileCase{0x0008, 1}, ProfileCase{0x0009, 2}, ProfileCase{0x000A, 3}, ProfileCase{0x0010, 4},
                      ProfileCase{0x0011, 5}, ProfileCase{0x0012, 6}, ProfileCase{0x0013, 7}, ProfileCase{0x0014, 8},
                      ProfileCase{0x001A, 9}, ProfileCase{0x001B, 13}, ProfileCase{0x0020, 10},
                      ProfileCase{0x0021, 11}, ProfileCase{0x0022, 12}, ProfileCase{0x002B, 15},
                      // DVD-R DL, HD DVD, BD and "no current profile" are unknown here.
                      ProfileCase{0x0015, 0}, ProfileCase{0x0051, 0}, ProfileCase{0x0041, 0}, ProfileCase{0x0000, 0},
                      ProfileCase{0xFFFF, 0}));

TEST(DiscTypeAnswers, AShortOrRefusedConfigurationGivesUnknownWithoutThrowing) {
  qvtest::VirtualTime time;
  qvtest::LogCapture log;
  Rig rig;
  auto& g = rig.Create();
  const std::vector<Reply> replies = {
      Reply::Invalid(),
      Reply::Good(Bytes{0, 0, 0, 4, 0, 0}),                    // stops before the current profile
      [] { Reply r = Reply::Good(Bytes{0, 0, 0, 4, 0, 0, 0, 0x09}); r.transferred = 3; return r; }(),
      Reply::Good(Bytes{0, 0, 0, 2, 0, 0, 0, 0x09}),           // declares less than the header
  };
  for (const Reply& reply : replies) {
    rig.drive.On(0x46, [&](const Bytes&, const Bytes&) { return reply; });
    EXPECT_EQ(g.GetInsertedDiscType(), 0u);
  }
}

TEST(DiscTypeAnswers, PhilipsCdd5301IsAlwaysACdrWithoutAsking) {
  qvtest::VirtualTime time;
  qvtest::LogCapture log;
  Rig rig;
  rig.drive.vendor = "PHILIPS";
  rig.drive.product = "CDD5301";
  rig.drive.profile = 0x0010;
  auto& g = rig.Create();
  EXPECT_EQ(g.GetInsertedDiscType(), 2u);
  EXPECT_EQ(rig.drive.Count(0x46), 0u);
  EXPECT_EQ(log.Count("GetDiscTypeSafe(): Broken 'get configuration', returning CD-R"), 1u);
}

// READ DISC INFORMATION into the 33-byte record.
TEST(DiscInformation, FillsEveryFieldFromItsBits) {
  qvtest::VirtualTime time;
  Rig rig;
  Bytes answer = devtest::DiscInformation(0x1E, 1, 3, 5, 7);  // erasable, last session complete, incomplete disc
  answer[2] = 0x1D;  // erasable, session state 3 (complete), disc status 1
  answer[7] = 0xE0;  // id, bar code, unrestricted use valid
  answer[8] = 0x20;  // CD-ROM XA
  for (int i = 12; i < 32; ++i) answer[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
  answer[33] = 4;
  rig.drive.On(0x51, [&](const Bytes&, const Bytes&) { return Reply::Good(answer); });
  auto& g = rig.Create();
  QUORVANE_DISC_INFORMATION r;
  std::memset(&r, 0xEE, sizeof r);
  g.GetDiscInformation(&r);
  const uint8_t* b = reinterpret_cast<const uint8_t*>(&r);
  const Bytes expected = {1, 1, 3, 1, 1, 3, 5, 7, 1, 1, 1, 0x20, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23,
                          24, 25, 26, 27, 28, 29, 30, 31, 4};
  EXPECT_EQ(Bytes(b, b + 33), expected);
}

struct StatusCase {
  uint16_t profile;
  uint8_t reported, expected;
};

class RandomAccessStatus : public ::testing::TestWithParam<StatusCase> {
 protected:
  qvtest::VirtualTime time;
};

TEST_P(RandomAccessStatus, DvdRamAndDvdPlusRwAreAlwaysIncomplete) {
  Rig rig;
  rig.drive.profile = GetParam().profile;
  rig.drive.On(0x51, [&](const Bytes&, const Bytes&) {
    return Reply::Good(devtest::DiscInformation(GetParam().reported, 1, 1, 1, 1));
  });
  QUORVANE_DISC_INFORMATION r;
  rig.Create().GetDiscInformation(&r);
  EXPECT_EQ(r.m__UCHAR__DiscStatus, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Media, RandomAccessStatus,
                         ::testing::Values(StatusCase{0x0012, 2, 1}, StatusCase{0x001A, 0, 1},
                                           StatusCase{0x001A, 2, 1}, StatusCase{0x0009, 2, 2},
                                           StatusCase{0x0011, 0, 0}, StatusCase{0x0014, 1, 1}));

TEST(DiscInformation, ShortTruncatedOrRefusedAnswersFailAndLeaveAnEmptyRecord) {
  qvtest::VirtualTime time;
  qvtest::LogCapture log;
  Rig rig;
  auto& g = rig.Create();
  struct Bad {
    Reply reply;
    uint32_t number;
  };
  Reply declaredShort = Reply::Good(devtest::DiscInformation(0x0E, 1, 1, 1, 1));
  declaredShort.data[1] = 10;  // a 12-byte answer: no bar code, no OPC count
  Reply cut = Reply::Good(devtest::DiscInformation(0x0E, 1, 1, 1, 1));
  cut.transferred = 20;
  Reply absurd = Reply::Good(devtest::DiscInformation(0x0E, 1, 1, 1, 1));
  absurd.data[0] = 0xFF;  // declares 65K
  const Bad bad[] = {{declaredShort, 10}, {cut, 10}, {absurd, 10}, {Reply::NoMedium(), 8}};
  for (const Bad& b : bad) {
    rig.drive.On(0x51, [&](const Bytes&, const Bytes&) { return b.reply; });
    QUORVANE_DISC_INFORMATION r;
    std::memset(&r, 0xEE, sizeof r);
    auto e = Catch([&] { g.GetDiscInformation(&r); });
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->Number(), b.number);
    EXPECT_EQ(r.m__UCHAR__IsValid, 0);
    EXPECT_EQ(r.m__UCHAR__DiscStatus, 0);
  }
}

// Track information: the record from an answer, and a failure that is
// only a record with IsValid 0.
TEST(TrackInformation, FillsTheRecordInHostOrder) {
  qvtest::VirtualTime time;
  Rig rig;
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
  rig.drive.On(0x52, [&](const Bytes&, const Bytes&) { return Reply::Good(devtest::TrackInformation(t)); });
  QUORVANE_TRACK_INFORMATION r;
  rig.Create().GetTrackInformation(3, &r);
  EXPECT_EQ(rig.drive.Cdb(0x52), (Bytes{0x52, 0x01, 0, 0, 0, 3, 0, 0x10, 0x00, 0}));
  const uint8_t* b = reinterpret_cast<const uint8_t*>(&r);
  EXPECT_EQ(Bytes(b, b + 12), (Bytes{1, 3, 2, 7, 1, 1, 2, 1, 1, 1, 1, 1}));
  EXPECT_EQ(r.m__LONG__TrackStartAddress, 0x01020304);
  EXPECT_EQ(r.m__LONG__NextWritableAddress, 0x05060708);
  EXPECT_EQ(r.m__ULONG__FreeBlocks, 0x090A0B0Cu);
  EXPECT_EQ(r.m__ULONG__FixedPacketSize, 16u);
  uint32_t nwa;
  std::memcpy(&nwa, b + 16, 4);  // where the automation layer reads it
  EXPECT_EQ(nwa, 0x05060708u);
}

TEST(TrackInformation, FailuresGiveAnInvalidRecordNotAnError) {
  qvtest::VirtualTime time;
  qvtest::LogCapture log;
  Rig rig;
  rig.drive.profile = 0x0009;
  auto& g = rig.Create();
  Reply shortAnswer = Reply::Good(devtest::TrackInformation({}));
  shortAnswer.data[1] = 20;  // 22 bytes: no free blocks
  Reply cut = Reply::Good(devtest::TrackInformation({}));
  cut.transferred = 27;
  for (const Reply& reply : {Reply::InvalidField(), shortAnswer, cut}) {
    rig.drive.On(0x52, [&](const Bytes&, const Bytes&) { return reply; });
    QUORVANE_TRACK_INFORMATION r;
    std::memset(&r, 0xEE, sizeof r);
    EXPECT_EQ(Catch([&] { g.GetTrackInformation(1, &r); }), nullptr);
    const uint8_t* b = reinterpret_cast<const uint8_t*>(&r);
    EXPECT_EQ(Bytes(b, b + sizeof r), Bytes(sizeof r, 0));
  }
}

// ReadTrackInformation per medium: the command it sends and the answer it
// hands back, with its corrections.
struct TrackCase {
  const char* name;
  uint16_t profile;
  uint8_t asked;
  std::function<void(devtest::FakeDrive&)> set;
  TrackInfo expect;
  uint32_t expectSize;
  uint8_t expectCdbNumber;  // 0: no READ TRACK INFORMATION sent
};

class ReadTrack : public ::testing::TestWithParam<TrackCase> {
 protected:
  qvtest::VirtualTime time;
  qvtest::LogCapture log;
};

TrackInfo Blank(uint8_t track, uint32_t start, uint32_t free) {
  TrackInfo t;
  t.track = t.session = track;
  t.blank = t.nwaValid = true;
  t.start = t.nwa = start;
  t.free = free;
  t.trackMode = 0;
  return t;
}

TEST_P(ReadTrack, AnswersPerMedium) {
  const TrackCase& c = GetParam();
  Rig rig;
  rig.drive.profile = c.profile;
  c.set(rig.drive);
  auto& g = rig.Create();
  uint8_t b[4096];
  g.ReadTrackInformation(c.asked, b, sizeof b, 0);
  const TrackInfo& t = c.expect;
  EXPECT_EQ(b[2], t.track);
  EXPECT_EQ(b[3], t.session);
  EXPECT_EQ((b[6] >> 6) & 1, t.blank ? 1 : 0);
  EXPECT_EQ((b[6] >> 4) & 3, (t.packet ? 2 : 0) | (t.fixedPacket ? 1 : 0));
  EXPECT_EQ(b[7] & 1, t.nwaValid ? 1 : 0);
  auto be32 = [&](int at) { return uint32_t{b[at]} << 24 | uint32_t{b[at + 1]} << 16 | uint32_t{b[at + 2]} << 8 | b[at + 3]; };
  EXPECT_EQ(be32(8), t.start);
  EXPECT_EQ(be32(12), t.nwa);
  EXPECT_EQ(be32(16), t.free);
  EXPECT_EQ(be32(24), c.expectSize);
  if (c.expectCdbNumber == 0) {
    EXPECT_EQ(rig.drive.Count(0x52), 0u);
  } else {
    ASSERT_EQ(rig.drive.Count(0x52), 1u);
    EXPECT_EQ(rig.drive.Cdb(0x52)[5], c.expectCdbNumber);
  }
  // Page 05h is set to track-at-once first: the NWA depends on it.
  EXPECT_GE(rig.drive.Count(0x55), 1u);
}

void DvdPlusRw(devtest::FakeDrive& d, uint32_t lastLba, const Bytes& block16) {
  d.On(0x25, [=](const Bytes&, const Bytes&) {
    Bytes b(8);
    devtest::Put32(b, 0, lastLba);
    devtest::Put32(b, 4, 2048);
    return Reply::Good(b);
  });
  d.On(0x23, [](const Bytes&, const Bytes&) {
    return Reply::Good(Bytes{0, 0, 0, 8, 0, 0x23, 0x05, 0x40, 0x03, 0, 0x08, 0});  // 2295104 unformatted
  });
  d.On(0x28, [=](const Bytes& cdb, const Bytes&) {
    if (cdb[5] != 16) return Reply::Good(Bytes(2048, 0));
    return Reply::Good(block16);
  });
}

INSTANTIATE_TEST_SUITE_P(
    Media, ReadTrack,
    ::testing::Values(
        // CD-R: the number as given.
        TrackCase{"CdrInvisible", 0x0009, 0xFF,
                  [](devtest::FakeDrive& d) {
                    d.On(0x52, [](const Bytes&, const Bytes&) {
                      return Reply::Good(devtest::TrackInformation(Blank(2, 30150, 329700)));
                    });
                  },
                  Blank(2, 30150, 329700), 0, 0xFF},
        // DVD-R: the invisible track is the last track of the last session.
        TrackCase{"DvdRInvisible", 0x0011, 0xFF,
                  [](devtest::FakeDrive& d) {
                    d.On(0x51, [](const Bytes&, const Bytes&) {
                      return Reply::Good(devtest::DiscInformation(0x01, 1, 1, 1, 2));
                    });
                    d.On(0x52, [](const Bytes&, const Bytes&) {
                      return Reply::Good(devtest::TrackInformation(Blank(2, 5008, 2290000)));
                    });
                  },
                  Blank(2, 5008, 2290000), 0, 2},
        // A formatted DVD-RW holding a 5000-block track: that data opens one
        // blank track over the whole capacity.
        TrackCase{"FormattedDvdRw", 0x0013, 1,
                  [](devtest::FakeDrive& d) {
                    d.On(0x52, [](const Bytes&, const Bytes&) {
                      TrackInfo t;
                      t.packet = t.fixedPacket = true;
                      t.packetSize = 16;
                      t.size = 5000;
                      return Reply::Good(devtest::TrackInformation(t));
                    });
                    d.On(0x23, [](const Bytes&, const Bytes&) {
                      return Reply::Good(Bytes{0, 0, 0, 8, 0, 0x23, 0x05, 0x40, 0x02, 0, 0x08, 0});
                    });
                  },
                  [] {
                    TrackInfo t = Blank(1, 0, 2295104 - 5000);
                    t.nwa = 5000;
                    return t;
                  }(),
                  2295104, 1},
        // The capacity comes from the second descriptor when there is one.
        TrackCase{"FormattedDvdRwTwoCapacities", 0x0014, 1,
                  [](devtest::FakeDrive& d) {
                    d.On(0x52, [](const Bytes&, const Bytes&) {
                      TrackInfo t;
                      t.packet = true;
                      t.size = 100;
                      return Reply::Good(devtest::TrackInformation(t));
                    });
                    d.On(0x23, [](const Bytes&, const Bytes&) {
                      return Reply::Good(Bytes{0, 0, 0, 16, 0, 0, 0x10, 0, 0x02, 0, 0x08, 0, 0, 0, 0x20, 0,
                                               0x10 << 2, 0, 0, 0x10});
                    });
                  },
                  [] {
                    TrackInfo t = Blank(1, 0, 0x2000 - 100);
                    t.nwa = 100;
                    return t;
                  }(),
                  0x2000, 1},
        // DVD+RW with an ISO9660 volume of 1000 blocks: track 1 is the
        // volume, the invisible track 2 the rest.
        TrackCase{"DvdPlusRwVolumeInvisible", 0x001A, 0xFF,
                  [](devtest::FakeDrive& d) { DvdPlusRw(d, 2295103, devtest::IsoPrimaryVolumeDescriptor(1000)); },
                  Blank(2, 1000, 2295104 - 1000), 0, 0},
        TrackCase{"DvdPlusRwVolumeFirst", 0x001A, 1,
                  [](devtest::FakeDrive& d) { DvdPlusRw(d, 2295103, devtest::IsoPrimaryVolumeDescriptor(1000)); },
                  [] {
                    TrackInfo t;
                    t.trackMode = 0;
                    return t;
                  }(),
                  0, 0},
        TrackCase{"DvdRamEmpty", 0x0012, 1,
                  [](devtest::FakeDrive& d) { DvdPlusRw(d, 2236703, Bytes(2048, 0)); }, Blank(1, 0, 2236704), 0, 0},
        TrackCase{"DvdPlusRwUnformatted", 0x001A, 0xFF, [](devtest::FakeDrive& d) { DvdPlusRw(d, 0, {}); },
                  [] {
                    TrackInfo t = Blank(1, 0, 2295104);
                    t.blank = false;
                    return t;
                  }(),
                  0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReadTrackErrors, BadTrackNumbersOnRandomAccessMediaFailWithSeventeen) {
  qvtest::VirtualTime time;
  qvtest::LogCapture log;
  Rig rig;
  rig.drive.profile = 0x001A;
  DvdPlusRw(rig.drive, 2295103, devtest::IsoPrimaryVolumeDescriptor(1000));
  auto& g = rig.Create();
  uint8_t b[4096];
  auto e = Catch([&] { g.ReadTrackInformation(3, b, sizeof b, 0); });
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->Number(), 17u);
  EXPECT_STREQ(e->Text(), "CQuorvane_CdvdBurnerGrabber::ReadTrackInformationForDVDPLUSRWOrDVDRAM(): EXITing with "
                          "failure, track number 3 is bad");
  // Without a volume only track 1 (or the invisible one) exists.
  DvdPlusRw(rig.drive, 2295103, Bytes(2048, 0));
  e = Catch([&] { g.ReadTrackInformation(2, b, sizeof b, 0); });
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->Number(), 17u);
}

TEST(ReadTrackErrors, AFormattedDvdRwWhoseCapacityIsBelowItsTrackIsRefused) {
  qvtest::VirtualTime time;
  qvtest::LogCapture log;
  Rig rig;
  rig.drive.profile = 0x0013;
  rig.drive.On(0x52, [](const Bytes&, const Bytes&) {
    TrackInfo t;
    t.packet = true;
    t.size = 5000;
    return Reply::Good(devtest::TrackInformation(t));
  });
  rig.drive.On(0x23, [](const Bytes&, const Bytes&) { return Reply::Good(Bytes{0, 0, 0, 8, 0, 0, 0x03, 0xE8, 2, 0, 8, 0}); });
  uint8_t b[4096];
  auto e = Catch([&] { rig.Create().ReadTrackInformation(1, b, sizeof b, 0); });
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->Number(), 10u);
}

struct MatshitaCase {
  const char* product;
  uint32_t major, minor;
  uint32_t free, expected;
};

class Matshita : public ::testing::TestWithParam<MatshitaCase> {
 protected:
  void TearDown() override { qv::plat::SetOsVersionOverride(std::nullopt); }
  qvtest::VirtualTime time;
  qvtest::LogCapture log;
};

TEST_P(Matshita, LosesTenThousandBlocksOnlyUnderWindows2000) {
  const MatshitaCase& c = GetParam();
  qv::plat::SetOsVersionOverride(qv::plat::OsVersion{c.major, c.minor, 2195, 2});
  Rig rig;
  rig.drive.vendor = "MATSHITA";
  rig.drive.product = c.product;
  rig.drive.profile = 0x0009;
  rig.drive.On(0x52, [&](const Bytes&, const Bytes&) { return Reply::Good(devtest::TrackInformation(Blank(1, 0, c.free))); });
  uint8_t b[4096];
  rig.Create().ReadTrackInformation(1, b, sizeof b, 0);
  EXPECT_EQ(uint32_t{b[16]} << 24 | uint32_t{b[17]} << 16 | uint32_t{b[18]} << 8 | b[19], c.expected);
}

INSTANTIATE_TEST_SUITE_P(Drives, Matshita,
                         ::testing::Values(MatshitaCase{"CW-9585", 5, 0, 359849, 359849 - 10240},
                                           MatshitaCase{"UJDA-9583S", 5, 0, 359849, 359849 - 10240},
                                           MatshitaCase{"CW-9585", 5, 0, 10240, 10240},
                                           MatshitaCase{"CW-9585", 5, 1, 359849, 359849},
                                           MatshitaCase{"CW-8571", 5, 0, 359849, 359849}));

TEST(Boundary, ReadsTheLayerZeroCapacityAndItsFlag) {
  qvtest::VirtualTime time;
  qvtest::LogCapture log;
  Rig rig;
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
  rig.drive.On(0xAD, [](const Bytes&, const Bytes&) { return Reply::Good(Bytes{0, 6, 0, 0, 0x80, 0, 0, 0}); });
  auto e = Catch([&] { g.ReadDVDPLUSRDLBoundaryInformation(&capacity, &flag); });
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->Number(), 10u);
  EXPECT_STREQ(e->Text(), "CQuorvane_CdvdBurnerGrabber::ReadDVDPLUSRDLBoundaryInformation(): EXITing with failure, "
                          "response size in UCHARs ( 6 ) is less then expected ( 10 )");
  rig.drive.On(0xAD, [](const Bytes&, const Bytes&) {
    Reply r = Reply::Good(Bytes{0, 10, 0, 0, 0x80, 0, 0, 0, 0, 0, 0, 1});
    r.transferred = 10;
    return r;
  });
  e = Catch([&] { g.ReadDVDPLUSRDLBoundaryInformation(&capacity, &flag); });
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->Number(), 10u);
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
