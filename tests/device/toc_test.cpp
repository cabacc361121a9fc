// The table of contents: CD full TOCs with pauses, sessions and sector
// formats; DVD tracks bounded by their file systems; malformed answers.
#include <cstring>

#include "core/settings.h"
#include "drive_rig.h"

namespace devtest {
namespace {

const json kFullToc = CdbByte(2, 2, 0x0F);

struct Msf {
  uint8_t m, s, f;
};
Msf MsfOf(int32_t lba) {
  const int32_t x = lba + 150;
  return {static_cast<uint8_t>(x / 4500), static_cast<uint8_t>(x / 75 % 60), static_cast<uint8_t>(x % 75)};
}
// A full TOC entry pointing at an address: POINT's PMIN/PSEC/PFRAME.
Bytes At(uint8_t session, uint8_t adrControl, uint8_t point, int32_t lba) {
  const Msf a = MsfOf(lba);
  return {session, adrControl, 0, point, 0, 0, 0, 0, a.m, a.s, a.f};
}
// A READ TOC format 2 answer of one session.
Bytes FullToc(const std::vector<Bytes>& entries) {
  Bytes b(4, 0);
  for (const Bytes& e : entries) b.insert(b.end(), e.begin(), e.end());
  b[0] = static_cast<uint8_t>((b.size() - 2) >> 8);
  b[1] = static_cast<uint8_t>(b.size() - 2);
  b[2] = b[3] = 1;
  return b;
}

json Disc(const char* media, json tracks) {
  return {{"media", media}, {"sessions", {{{"closed", true}, {"tracks", tracks}}}}};
}

class TocTest : public DeviceTest {
 protected:
  void TearDown() override {
    QuorvaneI_ResetSettings();
    DeviceTest::TearDown();
  }
  QUORVANE_TOC_INFORMATION Read(CQuorvane_CdvdBurnerGrabber& g) {
    QUORVANE_TOC_INFORMATION toc;
    std::memset(&toc, 0xEE, sizeof toc);
    g.GetTOCInformation(&toc);
    return toc;
  }
};

// Two audio tracks; track 2's two-second pause (index 0) is 15000-15149.
// The pause is searched with READ CD unless the fast TOC settings say not
// to (the pause ends as such: vdrive_media_test's AudioCd). The search
// reads 25 blocks a command (60 KiB, the system's limit being unknown
// here); a stretch that fails goes again block by block, up to the first
// block that fails.
TEST_F(TocTest, TrackEndsExcludeTheNextPauseUnlessFastTocIsOn) {
  const struct {
    bool fast, fastLast;
    int32_t end1, area2;
    size_t readCds;
    int32_t damaged;
  } cases[] = {{false, false, 14999, 15000, 1 + 6, -1}, {true, false, 15149, 15150, 0, -1},
               {false, true, 14999, 15000, 1, -1},      {false, true, 14999, 15000, 2, 15010},
               {false, true, 15149, 15150, 2, 15000}};
  for (const auto& c : cases) {
    Quorvane_SetFastReadTOC(c.fast);
    Quorvane_SetFastReadTOCLastTrack(c.fastLast);
    std::vector<json> rules;
    if (c.damaged >= 0) rules.push_back(Refuse(0xBE, 3, 0x11, 0, Always({{"lba", {c.damaged, c.damaged}}})));
    auto& g = CreateWith(Disc("cd-rom", {{{"mode", "audio"}, {"blocks", 15000}},
                                         {{"mode", "audio"}, {"pregap", 150}, {"blocks", 14850}}}),
                         rules);
    const size_t readCds = Count(0xBE);
    const QUORVANE_TOC_INFORMATION toc = Read(g);
    ASSERT_EQ(toc.m__UCHAR__NumberOfTracks, 2);
    const QUORVANE_TOC_TRACK& t1 = toc.m__TRACK__Tracks[0];
    const QUORVANE_TOC_TRACK& t2 = toc.m__TRACK__Tracks[1];
    EXPECT_EQ((std::vector<int32_t>{t1.m__LONG__EndAddress, t2.m__LONG__StartAddress, t2.m__LONG__EndAddress,
                                    t2.m__LONG__AreaStartAddress}),
              (std::vector<int32_t>{c.end1, 15150, 29999, c.area2}));
    const Msf e1 = MsfOf(c.end1);
    EXPECT_EQ(Bytes(t1.m__UCHAR__EndMSF, t1.m__UCHAR__EndMSF + 3), (Bytes{e1.m, e1.s, e1.f}));
    EXPECT_EQ(Count(0xBE) - readCds, c.readCds);
  }
}

// The first block of a data track names its mode and form; mode 2 form 2
// is vdrive_media_test's Mode2Form2Cd.
TEST_F(TocTest, DataTracksTakeModeAndFormFromTheSectorHeader) {
  const struct {
    const char* mode;
    std::vector<json> rules;
    uint8_t trackMode, form;
  } cases[] = {{"mode2-form1", {}, 2, 1},
               {"mode1", {Garble(0xBE, 15, {0}, Always())}, 1, 0},                // mode 0 counts as 1
               {"mode2-form2", {Refuse(0xBE, 5, 0x64, 0, Always())}, 1, 0}};  // unreadable: mode 1
  Quorvane_SetFastReadTOC(true);
  for (const auto& c : cases) {
    const QUORVANE_TOC_INFORMATION toc = Read(CreateWith(Disc("cd-rom", {{{"mode", c.mode}, {"blocks", 3000}}}), c.rules));
    const QUORVANE_TOC_TRACK& t = toc.m__TRACK__Tracks[0];
    EXPECT_EQ((Bytes{t.m__UCHAR__IsData, t.m__UCHAR__TrackMode, t.m__UCHAR__Form}), (Bytes{1, c.trackMode, c.form}));
    // A READ CD of the first block: sync, headers, user data, EDC/ECC.
    EXPECT_EQ(Cdb(0xBE), (Bytes{0xBE, 0, 0, 0, 0, 0, 0, 0, 1, 0xF8, 0, 0}));
  }
}

TEST_F(TocTest, ControlBitsOfAudioTracks) {
  Quorvane_SetFastReadTOC(true);
  auto& g = Create("cd-rom", nullptr,
                   Answer(0x43, FullToc({At(1, 0x10, 0xA2, 9000), At(1, 0x1B, 1, 0), At(1, 0x22, 2, 3000),
                                         At(1, 0x30, 3, 6000)}),
                          kFullToc));
  const QUORVANE_TOC_INFORMATION toc = Read(g);
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
  std::vector<Bytes> entries = {{1, 0x10, 0, 0xA0, 0, 0, 0, 0, 1, 0, 0}, {1, 0x10, 0, 0xA1, 0, 0, 0, 0, 99, 0, 0},
                                At(1, 0x10, 0xA2, 99 * 300)};
  for (int i = 1; i <= 99; ++i) entries.push_back(At(1, 0x10, static_cast<uint8_t>(i), (i - 1) * 300));
  auto& g = Create("cd-rom", nullptr, Answer(0x43, FullToc(entries), kFullToc));
  const QUORVANE_TOC_INFORMATION toc = Read(g);
  EXPECT_EQ(toc.m__UCHAR__NumberOfEntries, 102);
  EXPECT_EQ(toc.m__UCHAR__NumberOfTracks, 99);
  EXPECT_EQ(toc.m__TRACK__Tracks[98].m__LONG__EndAddress, 99 * 300 - 1);
  EXPECT_EQ(0, std::memcmp(&toc.m__ENTRY__Entries[99], entries[99].data(), 11));
}

// A full TOC without a lead-out cannot be trusted.
TEST_F(TocTest, AFullTocWithoutALeadOutFailsWithTen) {
  auto& g = Create("cd-rom", nullptr, Answer(0x43, FullToc({At(1, 0x10, 1, 0)}), kFullToc));
  Fails(10, [&] { Read(g); });
}

// DVD media: the tracks the drive reports, bounded by the file system on
// random-access media. Blocks of the file system are answers to READ(10)
// of their address: a volume descriptor's identifier, or a UDF partition
// descriptor's tag and length.
json Block(uint8_t lba, const Bytes& bytes) { return Garble(0x28, 0, bytes, Always({{"cdb", {5, lba}}})); }
Bytes Descriptor(const char* id) {
  Bytes b{0, 0, 0, 0, 0, 0, 1};
  std::memcpy(&b[1], id, 5);
  return b;
}
Bytes Partition(uint8_t tag, uint32_t length) {
  Bytes b(196, 0);
  b[0] = tag;
  for (int i = 0; i < 4; ++i) b[192 + static_cast<size_t>(i)] = static_cast<uint8_t>(length >> (8 * i));
  return b;
}
Bytes IsoVolume(uint32_t blocks) {
  Bytes b = Descriptor("CD001");
  b[0] = 1;
  b.resize(88);
  for (int i = 0; i < 4; ++i) {
    b[80 + static_cast<size_t>(i)] = static_cast<uint8_t>(blocks >> (8 * i));
    b[87 - static_cast<size_t>(i)] = static_cast<uint8_t>(blocks >> (8 * i));
  }
  return b;
}
const std::vector<json> kUdfSequence = {Block(16, Descriptor("BEA01")), Block(17, Descriptor("NSR02")),
                                        Block(18, Descriptor("TEA01"))};

TEST_F(TocTest, ADvdTrackIsWhatTheMediumHolds) {
  const json dvdRam{{"media", "dvd-ram"}, {"formatted", true}}, dvdPlusRw{{"media", "dvd+rw"}, {"formatted", true}};
  const json dvdRom = Disc("dvd-rom", {{{"mode", "mode1"}, {"blocks", 2000}}});
  const json noTrackInformation = Refuse(0x52, 5, 0x20, 0, Always());
  const struct {
    json disc;
    std::vector<json> rules;
    int32_t end;  // of the one track
  } cases[] = {
      {dvdRam, With(kUdfSequence, {Block(34, Partition(5, 5000))}), 4999},
      // A descriptor at 34 that is not a partition descriptor: no UDF limit.
      {dvdRam, With(kUdfSequence, {Block(34, Partition(7, 5000))}), 2236703},
      // NSR02 outside a recognition sequence means nothing.
      {dvdPlusRw, {Block(16, Descriptor("NSR02")), Block(34, Partition(5, 10))}, 2295103},
      // A DVD-ROM is never bounded by its file system.
      {dvdRom, {Block(16, IsoVolume(10))}, 1999},
      // Without READ TRACK INFORMATION the capacity is one track.
      {dvdRom, {noTrackInformation}, 1999},
      {dvdPlusRw, {noTrackInformation, Block(16, IsoVolume(1000))}, 999}};
  for (const auto& c : cases) {
    const QUORVANE_TOC_INFORMATION toc = Read(CreateWith(c.disc, c.rules));
    EXPECT_EQ(toc.m__UCHAR__IsDVD, 1);
    ASSERT_EQ(toc.m__UCHAR__NumberOfTracks, 1);
    const QUORVANE_TOC_TRACK& t = toc.m__TRACK__Tracks[0];
    EXPECT_EQ((std::vector<int32_t>{t.m__UCHAR__TrackNumber, t.m__UCHAR__SessionNumber, t.m__LONG__StartAddress,
                                    t.m__LONG__AreaStartAddress, t.m__LONG__EndAddress}),
              (std::vector<int32_t>{1, 1, 0, 0, c.end}));
    EXPECT_EQ((Bytes{t.m__UCHAR__IsData, t.m__UCHAR__IsDigitalCopyPermitted, t.m__UCHAR__TrackMode}), (Bytes{1, 1, 1}));
    const QUORVANE_TOC_ENTRY& e = toc.m__ENTRY__TrackEntries[0];
    EXPECT_EQ((Bytes{e.m__UCHAR__AdrControl, e.m__UCHAR__POINT}), (Bytes{0x14, 1}));
  }
}

}  // namespace
}  // namespace devtest
