// The table of contents: CD full TOCs with pauses, sessions and sector
// formats; DVD tracks bounded by their file systems; malformed answers.
#include <cstring>

#include "core/settings.h"
#include "fake_drive.h"

namespace devtest {
namespace {

struct Msf {
  uint8_t m, s, f;
};
Msf MsfOf(int32_t lba) {
  const int32_t x = lba + 150;
  return {static_cast<uint8_t>(x / 4500), static_cast<uint8_t>(x / 75 % 60), static_cast<uint8_t>(x % 75)};
}

// An entry pointing at an address: POINT's PMIN/PSEC/PFRAME.
Bytes At(uint8_t session, uint8_t adrControl, uint8_t point, int32_t lba) {
  const Msf a = MsfOf(lba);
  return TocEntry(session, adrControl, point, a.m, a.s, a.f);
}

// A CD as the drive sees it: the full TOC and, per block, its Q index
// and sector header.
struct Cd {
  std::vector<Bytes> entries;
  std::function<uint8_t(int32_t lba)> qIndex = [](int32_t) { return uint8_t{1}; };
  std::function<Bytes(int32_t lba)> header;  // bytes 12-23 of the raw sector; nullptr: refuse
};

void Serve(FakeDrive& d, const Cd& cd) {
  d.On(0x43, [&cd](const Bytes& cdb, const Bytes&) {
    if ((cdb[2] & 0x0F) != 2 || !(cdb[1] & 0x02)) return Reply::InvalidField();
    uint8_t last = 1;
    for (const Bytes& e : cd.entries) last = std::max(last, e[0]);
    return Reply::Good(FullToc(1, last, cd.entries));
  });
  d.On(0xBE, [&cd](const Bytes& cdb, const Bytes&) {
    const auto lba = static_cast<int32_t>(uint32_t{cdb[2]} << 24 | uint32_t{cdb[3]} << 16 | cdb[4] << 8 | cdb[5]);
    Bytes b(2352 + (cdb[10] == 2 ? 16 : 0), 0);
    if (cdb[10] == 2) {
      b[2352] = 0x01;  // ADR 1: a position frame
      b[2352 + 2] = cd.qIndex(lba);
    } else {
      if (!cd.header) return Reply::Sense(5, 0x64, 0x00);
      const Bytes h = cd.header(lba);
      std::copy(h.begin(), h.end(), b.begin() + 12);
    }
    return Reply::Good(b);
  });
}

class TocTest : public DeviceTest {
 protected:
  void TearDown() override { QuorvaneI_ResetSettings(); }
  QUORVANE_TOC_INFORMATION Read() {
    QUORVANE_TOC_INFORMATION toc;
    std::memset(&toc, 0xEE, sizeof toc);
    rig.Create().GetTOCInformation(&toc);
    return toc;
  }
};

// Two audio tracks; track 2's two-second pause (index 0) is 15000-15149.
struct PauseCase {
  bool fast, fastLast;
  int32_t end1, end2, area2;
  size_t readCds;
};

class Pauses : public TocTest, public ::testing::WithParamInterface<PauseCase> {};

TEST_P(Pauses, TrackEndsExcludeTheNextPauseUnlessFastTocIsOn) {
  const PauseCase& c = GetParam();
  Quorvane_SetFastReadTOC(c.fast);
  Quorvane_SetFastReadTOCLastTrack(c.fastLast);
  Cd cd;
  cd.entries = {TocEntry(1, 0x10, 0xA0, 1, 0, 0), TocEntry(1, 0x10, 0xA1, 2, 0, 0), At(1, 0x10, 0xA2, 30000),
                At(1, 0x10, 1, 0), At(1, 0x10, 2, 15150)};
  cd.qIndex = [](int32_t lba) { return static_cast<uint8_t>(lba >= 15000 && lba < 15150 ? 0 : 1); };
  Serve(rig.drive, cd);
  const QUORVANE_TOC_INFORMATION toc = Read();
  ASSERT_EQ(toc.m__UCHAR__IsValid, 1);
  EXPECT_EQ(toc.m__UCHAR__IsDVD, 0);
  EXPECT_EQ(toc.m__UCHAR__NumberOfTracks, 2);
  EXPECT_EQ(toc.m__UCHAR__NumberOfEntries, 5);
  EXPECT_EQ(toc.m__UCHAR__LastSession, 1);
  const QUORVANE_TOC_TRACK& t1 = toc.m__TRACK__Tracks[0];
  const QUORVANE_TOC_TRACK& t2 = toc.m__TRACK__Tracks[1];
  EXPECT_EQ(t1.m__LONG__StartAddress, 0);
  EXPECT_EQ(t1.m__LONG__EndAddress, c.end1);
  EXPECT_EQ(t1.m__LONG__AreaStartAddress, -150);
  EXPECT_EQ(t2.m__LONG__StartAddress, 15150);
  EXPECT_EQ(t2.m__LONG__EndAddress, c.end2);
  EXPECT_EQ(t2.m__LONG__AreaStartAddress, c.area2);
  const Msf e1 = MsfOf(c.end1);
  EXPECT_EQ(Bytes(t1.m__UCHAR__EndMSF, t1.m__UCHAR__EndMSF + 3), (Bytes{e1.m, e1.s, e1.f}));
  EXPECT_EQ(Bytes(t2.m__UCHAR__StartMSF, t2.m__UCHAR__StartMSF + 3), (Bytes{3, 24, 0}));
  for (const QUORVANE_TOC_TRACK* t : {&t1, &t2}) {
    EXPECT_EQ(t->m__UCHAR__IsAudio, 1);
    EXPECT_EQ(t->m__UCHAR__IsData, 0);
    EXPECT_EQ(t->m__UCHAR__TrackMode, 0);
    EXPECT_EQ(t->m__ULONG__BlockSize, 2352u);
  }
  EXPECT_EQ(rig.drive.Count(0xBE), c.readCds);
  // The TOC is read in MSF form, format 2, into 16384 bytes.
  EXPECT_EQ(rig.drive.Cdb(0x43), (Bytes{0x43, 0x02, 0x02, 0, 0, 0, 0, 0x40, 0x00, 0}));
}

INSTANTIATE_TEST_SUITE_P(FastReadToc, Pauses,
                         ::testing::Values(PauseCase{false, false, 14999, 29999, 15000, 1 + 150},
                                           PauseCase{true, false, 15149, 29999, 15150, 0},
                                           PauseCase{false, true, 14999, 29999, 15000, 1}));

// The first block of a data track names its mode and form.
struct ModeCase {
  const char* name;
  std::function<Bytes(int32_t)> header;
  uint8_t mode, form;
  uint32_t blockSize;
};

class DataTrack : public TocTest, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(DataTrack, TakesModeAndFormFromTheSectorHeader) {
  Quorvane_SetFastReadTOC(true);
  Cd cd;
  cd.entries = {TocEntry(1, 0x14, 0xA0, 1, 0x20, 0), TocEntry(1, 0x14, 0xA1, 1, 0, 0), At(1, 0x14, 0xA2, 3000),
                At(1, 0x14, 1, 0)};
  cd.header = GetParam().header;
  Serve(rig.drive, cd);
  const QUORVANE_TOC_INFORMATION toc = Read();
  const QUORVANE_TOC_TRACK& t = toc.m__TRACK__Tracks[0];
  EXPECT_EQ(t.m__UCHAR__IsData, 1);
  EXPECT_EQ(t.m__UCHAR__IsAudio, 0);
  EXPECT_EQ(t.m__UCHAR__IsFourChannel, 0);
  EXPECT_EQ(t.m__UCHAR__TrackMode, GetParam().mode);
  EXPECT_EQ(t.m__UCHAR__Form, GetParam().form);
  EXPECT_EQ(t.m__ULONG__BlockSize, GetParam().blockSize);
  EXPECT_EQ(t.m__LONG__EndAddress, 2999);
  // One READ CD of the first block: sync, headers, user data, EDC/ECC.
  EXPECT_EQ(rig.drive.Cdb(0xBE), (Bytes{0xBE, 0, 0, 0, 0, 0, 0, 0, 1, 0xF8, 0, 0}));
}

Bytes Header(uint8_t mode, uint8_t submode) { return {0, 0x02, 0x00, mode, 0, 0, submode, 0, 0, 0, submode, 0}; }

INSTANTIATE_TEST_SUITE_P(
    Sectors, DataTrack,
    ::testing::Values(ModeCase{"Mode1", [](int32_t) { return Header(1, 0); }, 1, 0, 2048},
                      ModeCase{"Mode2Form1", [](int32_t) { return Header(2, 0x08); }, 2, 1, 2048},
                      ModeCase{"Mode2Form2", [](int32_t) { return Header(2, 0x20); }, 2, 2, 2324},
                      ModeCase{"ModeZeroCountsAsOne", [](int32_t) { return Header(0, 0); }, 1, 0, 2048},
                      ModeCase{"UnreadableCountsAsMode1", nullptr, 1, 0, 2048}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TocTest, ControlBitsOfAudioTracks) {
  Quorvane_SetFastReadTOC(true);
  Cd cd;
  cd.entries = {At(1, 0x10, 0xA2, 9000), At(1, 0x1B, 1, 0), At(1, 0x22, 2, 3000), At(1, 0x30, 3, 6000)};
  Serve(rig.drive, cd);
  const QUORVANE_TOC_INFORMATION toc = Read();
  ASSERT_EQ(toc.m__UCHAR__NumberOfTracks, 3);
  const auto& t = toc.m__TRACK__Tracks;
  // 0x1B: four channels, copy permitted, pre-emphasis.
  EXPECT_EQ((Bytes{t[0].m__UCHAR__IsFourChannel, t[0].m__UCHAR__IsDigitalCopyPermitted, t[0].m__UCHAR__IsPreEmphasis,
                   t[0].m__UCHAR__IsAdr2, t[0].m__UCHAR__IsAdr3}),
            (Bytes{1, 1, 1, 0, 0}));
  EXPECT_EQ((Bytes{t[1].m__UCHAR__IsFourChannel, t[1].m__UCHAR__IsDigitalCopyPermitted, t[1].m__UCHAR__IsPreEmphasis,
                   t[1].m__UCHAR__IsAdr2}),
            (Bytes{0, 1, 0, 1}));
  EXPECT_EQ(t[2].m__UCHAR__IsAdr3, 1);
  EXPECT_EQ(t[2].m__LONG__EndAddress, 8999);
}

TEST_F(TocTest, KeepsAtMostOneHundredEntries) {
  Quorvane_SetFastReadTOC(true);
  Cd cd;
  cd.entries = {TocEntry(1, 0x10, 0xA0, 1, 0, 0), TocEntry(1, 0x10, 0xA1, 99, 0, 0), At(1, 0x10, 0xA2, 99 * 300)};
  for (int i = 1; i <= 99; ++i) cd.entries.push_back(At(1, 0x10, static_cast<uint8_t>(i), (i - 1) * 300));
  Serve(rig.drive, cd);
  const QUORVANE_TOC_INFORMATION toc = Read();
  EXPECT_EQ(toc.m__UCHAR__NumberOfEntries, 102);
  EXPECT_EQ(toc.m__UCHAR__NumberOfTracks, 99);
  EXPECT_EQ(toc.m__TRACK__Tracks[98].m__LONG__EndAddress, 99 * 300 - 1);
  EXPECT_EQ(0, std::memcmp(&toc.m__ENTRY__Entries[99], cd.entries[99].data(), 11));
}

// Answers no parser may trust.
struct BadTocCase {
  const char* name;
  std::function<Reply()> reply;
  const char* text;  // part of the exception text
};

class BadToc : public TocTest, public ::testing::WithParamInterface<BadTocCase> {};

TEST_P(BadToc, FailsWithTen) {
  rig.drive.On(0x43, [&](const Bytes&, const Bytes&) { return GetParam().reply(); });
  auto e = Fails(10, [&] { Read(); });
  EXPECT_NE(std::string(e->Text()).find(GetParam().text), std::string::npos) << e->Text();
}

Reply Toc(std::vector<Bytes> entries) { return Reply::Good(FullToc(1, 1, entries)); }

INSTANTIATE_TEST_SUITE_P(
    Answers, BadToc,
    ::testing::Values(
        BadTocCase{"TooShort", [] { return Reply::Good(Bytes{0, 4, 1, 1, 0, 0}); },
                   "ReadTOCForCD(): TOC size 4 UCHARs, expected at least 6 UCHARs"},
        BadTocCase{"ZeroEntry", [] { return Toc({At(1, 0x10, 0xA2, 9000), Bytes(11, 0)}); },
                   "ReadTOCForCD(): Entry 1 all zeroes"},
        BadTocCase{"Truncated",
                   [] { return Reply::Cut(FullToc(1, 1, {At(1, 0x10, 0xA2, 9000), At(1, 0x10, 1, 0)}), 20); },
                   "declares 26 byte(s), only 20 came"},
        // Fewer bytes than one entry although the length passes the minimum.
        BadTocCase{"PartialEntry", [] { return Reply::Good(Bytes{0, 8, 1, 1, 1, 0x10, 0, 1, 0, 0}); },
                   "bytes 4 to 14 are missing"},
        // A format 0 answer given for format 2 (a drive that ignores byte 2).
        BadTocCase{"FormatZeroAnswer",
                   [] { return Reply::Good(Bytes{0, 18, 1, 1, 0, 0x14, 1, 0, 0, 0, 2, 0, 0, 0x14, 0xAA, 0, 0, 3, 1, 0}); },
                   "names session 0 outside 1-1"},
        BadTocCase{"NoLeadOut", [] { return Toc({At(1, 0x10, 1, 0)}); }, "no lead-out entry (A2h) for session 1"}),
    [](const auto& info) { return std::string(info.param.name); });

// DVD media: the tracks the drive reports, bounded by the file system on
// random-access media.
struct DvdDisc {
  uint16_t profile = 0x0010;
  uint8_t sessions = 1;
  std::vector<std::pair<uint32_t, uint32_t>> tracks;  // start, size
  bool trackInformation = true;
  uint32_t lastLba = 0;
  std::map<uint32_t, Bytes> blocks;
};

void ServeDvd(FakeDrive& d, const DvdDisc& disc) {
  d.profile = disc.profile;
  d.On(0xAD, [](const Bytes&, const Bytes&) { return Reply::Good(Bytes(2052, 0)); });
  d.On(0x51, [&disc](const Bytes&, const Bytes&) {
    return Reply::Good(DiscInformation(0x0E, 1, disc.sessions, disc.sessions, disc.sessions));
  });
  if (disc.trackInformation) {
    d.On(0x52, [&disc](const Bytes& cdb, const Bytes&) {
      const uint8_t n = cdb[5];
      if (n < 1 || n > disc.tracks.size()) return Reply::InvalidField();
      TrackInfo t;
      t.track = t.session = n;
      t.start = disc.tracks[n - 1].first;
      t.size = disc.tracks[n - 1].second;
      return Reply::Good(TrackInformation(t));
    });
  }
  d.On(0x25, [&disc](const Bytes&, const Bytes&) {
    Bytes b(8);
    Put32(b, 0, disc.lastLba);
    Put32(b, 4, 2048);
    return Reply::Good(b);
  });
  d.On(0x28, [&disc](const Bytes& cdb, const Bytes&) {
    const uint32_t lba = uint32_t{cdb[2]} << 24 | uint32_t{cdb[3]} << 16 | cdb[4] << 8 | cdb[5];
    auto b = disc.blocks.find(lba);
    return Reply::Good(b == disc.blocks.end() ? Bytes(2048, 0) : b->second);
  });
}

Bytes Descriptor(const char* id) {
  Bytes b(2048, 0);
  std::memcpy(&b[1], id, 5);
  b[6] = 1;
  return b;
}

Bytes PartitionDescriptor(uint16_t tag, uint32_t length) {
  Bytes b(2048, 0);
  b[0] = static_cast<uint8_t>(tag);
  b[1] = static_cast<uint8_t>(tag >> 8);
  PutLe32(b, 192, length);
  return b;
}

struct DvdCase {
  const char* name;
  DvdDisc disc;
  std::vector<std::pair<int32_t, int32_t>> expected;  // start, end
  const char* logged;
};

class DvdToc : public TocTest, public ::testing::WithParamInterface<DvdCase> {};

TEST_P(DvdToc, ReportsTheTracksTheMediumHolds) {
  const DvdCase& c = GetParam();
  ServeDvd(rig.drive, c.disc);
  const QUORVANE_TOC_INFORMATION toc = Read();
  EXPECT_EQ(toc.m__UCHAR__IsValid, 1);
  EXPECT_EQ(toc.m__UCHAR__IsDVD, 1);
  ASSERT_EQ(toc.m__UCHAR__NumberOfTracks, c.expected.size());
  for (size_t i = 0; i < c.expected.size(); ++i) {
    const QUORVANE_TOC_TRACK& t = toc.m__TRACK__Tracks[i];
    EXPECT_EQ(t.m__UCHAR__TrackNumber, i + 1);
    EXPECT_EQ(t.m__UCHAR__SessionNumber, i + 1);
    EXPECT_EQ(t.m__LONG__StartAddress, c.expected[i].first);
    EXPECT_EQ(t.m__LONG__AreaStartAddress, c.expected[i].first);
    EXPECT_EQ(t.m__LONG__EndAddress, c.expected[i].second);
    EXPECT_EQ((Bytes{t.m__UCHAR__IsData, t.m__UCHAR__IsAudio, t.m__UCHAR__IsDigitalCopyPermitted,
                     t.m__UCHAR__TrackMode, t.m__UCHAR__Form}),
              (Bytes{1, 0, 1, 1, 0}));
    EXPECT_EQ(t.m__ULONG__BlockSize, 2048u);
    const QUORVANE_TOC_ENTRY& e = toc.m__ENTRY__TrackEntries[i];
    EXPECT_EQ((Bytes{e.m__UCHAR__SessionNumber, e.m__UCHAR__AdrControl, e.m__UCHAR__TNO, e.m__UCHAR__POINT}),
              (Bytes{static_cast<uint8_t>(i + 1), 0x14, 0, static_cast<uint8_t>(i + 1)}));
    EXPECT_EQ(0, std::memcmp(&e, &toc.m__ENTRY__Entries[i], sizeof e));
  }
  if (c.logged) {
    EXPECT_EQ(log.Count(c.logged), 1u);
  }
}

DvdDisc Disc(uint16_t profile, std::vector<std::pair<uint32_t, uint32_t>> tracks, std::map<uint32_t, Bytes> blocks = {},
             bool trackInformation = true) {
  DvdDisc d;
  d.profile = profile;
  d.sessions = static_cast<uint8_t>(tracks.size());
  d.tracks = tracks;
  d.blocks = blocks;
  d.trackInformation = trackInformation;
  d.lastLba = 2295103;
  return d;
}

INSTANTIATE_TEST_SUITE_P(
    Media, DvdToc,
    ::testing::Values(
        DvdCase{"DvdRTwoSessions", Disc(0x0011, {{0, 1000}, {1200, 500}}), {{0, 999}, {1200, 1699}}, nullptr},
        DvdCase{"DvdRamUdf",
                Disc(0x0012, {{0, 2236704}},
                     {{16, Descriptor("BEA01")}, {17, Descriptor("NSR02")}, {18, Descriptor("TEA01")},
                      {34, PartitionDescriptor(5, 5000)}}),
                {{0, 4999}},
                "ReadTOCForDVD(): UDF track size corrected to 5000"},
        // A descriptor at 34 that is not a partition descriptor: no UDF limit.
        DvdCase{"DvdRamBadPartitionTag",
                Disc(0x0012, {{0, 2236704}},
                     {{16, Descriptor("BEA01")}, {17, Descriptor("NSR02")}, {18, Descriptor("TEA01")},
                      {34, PartitionDescriptor(7, 5000)}}),
                {{0, 2236703}},
                "UDF partition descriptor tag identifier 0x07 is bad"},
        // NSR02 outside a recognition sequence means nothing.
        DvdCase{"DvdPlusRwNsrWithoutSequence",
                Disc(0x001A, {{0, 2295104}}, {{16, Descriptor("NSR02")}, {34, PartitionDescriptor(5, 10)}}),
                {{0, 2295103}},
                "PVD signature 0x4E 0x53 0x52 0x30 0x32 is bad"},
        // A DVD-ROM is never bounded by its file system.
        DvdCase{"DvdRomIsoIgnored", Disc(0x0010, {{0, 2000}}, {{16, IsoPrimaryVolumeDescriptor(10)}}),
                {{0, 1999}},
                nullptr},
        // Without READ TRACK INFORMATION the capacity is one track.
        DvdCase{"CapacityMode", Disc(0x0010, {{0, 1}}, {}, false), {{0, 2295103}}, nullptr},
        DvdCase{"CapacityModeIso",
                Disc(0x001A, {{0, 1}}, {{16, IsoPrimaryVolumeDescriptor(1000)}}, false),
                {{0, 999}},
                "ISO9660 track size corrected to 1000"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TocTest, ADvdTrackAnswerTooShortFailsTheToc) {
  const DvdDisc disc = Disc(0x0011, {{0, 1000}});
  ServeDvd(rig.drive, disc);
  Reply r = Reply::Good(TrackInformation({}));
  r.data[1] = 22;  // 24 bytes: no track size
  rig.drive.Returns(0x52, r);
  Fails(10, [&] { Read(); });
}

}  // namespace
}  // namespace devtest
