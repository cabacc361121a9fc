// Burning images onto every medium of the virtual drive, then reading the
// disc back through the engine (what outside tools read of each medium is
// the burn command's test); CD-ROM XA; the drive models' closes; DVD
// padding; sources that are not whole blocks; erasing.
#include <algorithm>

#include "burn_support.h"

namespace qvtest {
namespace {

struct MediumCase {
  const char* media;
  QV_ULONG discType;
  uint8_t closedStatus;  // READ DISC INFORMATION's disc status after closing; random access media stay at 1
  QV_UCHAR mode = 0;     // 1: CD-ROM XA, the image as Mode 2 Form 1 sectors
};

class BurnMedium : public BurnFixture, public ::testing::WithParamInterface<MediumCase> {};

TEST_P(BurnMedium, ImageReadsBackThroughTheEngine) {
  Make(GetParam().media);
  ASSERT_EQ(Open(), 0u) << s.text;
  ASSERT_EQ(Quorvane_CdvdBurnerGrabber_GetInsertedDiscType(handle), GetParam().discType);
  const Files files = SampleFiles(1, 300000);
  const auto iso = Master(files, "one");
  ASSERT_EQ(Burn(iso, false, false, GetParam().mode), 0u) << s.text;
  ASSERT_EQ(Quorvane_CdvdBurnerGrabber_CloseSession(handle, QV_STATUS(s)), 0u) << s.text;
  if (GetParam().mode == 1) {
    EXPECT_EQ(Describe()["disc"]["sessions"][0]["tracks"][0]["mode"], "mode2-form1");
  }

  QUORVANE_DISC_INFORMATION disc{};
  ASSERT_EQ(Quorvane_CdvdBurnerGrabber_GetDiscInformation(handle, QV_STATUS(s), &disc), 0u) << s.text;
  EXPECT_EQ(disc.m__UCHAR__DiscStatus, GetParam().closedStatus);

  const std::vector<uint8_t> image = ReadAll(iso);
  ASSERT_EQ(image.size() % 2048, 0u);
  EXPECT_TRUE(ReadBack(static_cast<uint32_t>(image.size() / 2048)) == image) << "the engine reads other bytes back";
  // The engine's own view of the track it made.
  QUORVANE_TOC_INFORMATION toc{};
  ASSERT_EQ(Quorvane_CdvdBurnerGrabber_GetTOCInformation(handle, QV_STATUS(s), &toc), 0u) << s.text;
  ASSERT_GE(toc.m__UCHAR__NumberOfTracks, 1);
  EXPECT_EQ(toc.m__TRACK__Tracks[0].m__LONG__StartAddress, 0);
  // DVD-R(W) tracks are reserved in whole ECC blocks of 16.
  const auto blocks = static_cast<QV_LONG>(image.size() / 2048);
  EXPECT_GE(toc.m__TRACK__Tracks[0].m__LONG__EndAddress + 1, blocks);
  EXPECT_LT(toc.m__TRACK__Tracks[0].m__LONG__EndAddress + 1, (blocks + 16) / 16 * 16 + 1);
}

INSTANTIATE_TEST_SUITE_P(Media, BurnMedium,
                         ::testing::Values(MediumCase{"cd-r", DISC_TYPE_CDR, 2}, MediumCase{"cd-rw", DISC_TYPE_CDRW, 2},
                                           MediumCase{"cd-r", DISC_TYPE_CDR, 2, 1},
                                           MediumCase{"dvd-r", DISC_TYPE_DVDR, 2},
                                           MediumCase{"dvd-rw", DISC_TYPE_DVDRW_SR, 2},
                                           MediumCase{"dvd+r", DISC_TYPE_DVDPLUSR, 2},
                                           MediumCase{"dvd+r-dl", DISC_TYPE_DVDPLUSR_DL, 2},
                                           MediumCase{"dvd+rw", DISC_TYPE_DVDPLUSRW, 1},
                                           MediumCase{"dvd-ram", DISC_TYPE_DVDRAM, 1}),
                         [](const auto& info) {
                           return MediaName({info.param.media, info.index}) + (info.param.mode ? "_xa" : "");
                         });

// The closes and flushes of particular drives, on the drive models: a
// close refused once is sent again only where the drive is known for that,
// a synchronous close has no second try, forced multisession leaves the
// disc open, and the slow flushes end.
struct ModelCase {
  const char* name;
  const char* model;
  const char* media;
  bool multisession;
  const char* fault;  // armed before the close
  QV_ULONG closed;
  uint8_t discStatus;
};

class DriveModel : public BurnFixture, public ::testing::WithParamInterface<ModelCase> {};

TEST_P(DriveModel, ClosesAsTheDriveNeeds) {
  QVTEST_REQUIRE_PROGRAM("xorriso");
  QVTEST_REQUIRE_PROGRAM("bsdtar");
  const ModelCase& c = GetParam();
  Make(c.media, c.model);
  ASSERT_EQ(Open(), 0u) << s.text;
  const Files files = SampleFiles(4, 50000);
  ASSERT_EQ(Burn(Master(files, "model"), c.multisession), 0u) << s.text;
  Arm(c.fault);
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_CloseSession(handle, QV_STATUS(s)), c.closed) << s.text;
  QUORVANE_DISC_INFORMATION disc{};
  ASSERT_EQ(Quorvane_CdvdBurnerGrabber_GetDiscInformation(handle, QV_STATUS(s), &disc), 0u) << s.text;
  EXPECT_EQ(disc.m__UCHAR__DiscStatus, c.discStatus);
  ExpectDiscHolds(files);
}

constexpr const char* kRefused = R"({"kind": "sense", "opcode": 91, "sense": [5, 44, 0]})";
constexpr const char* kSessionRefused = R"({"kind": "sense", "opcode": 91, "nth": 2, "sense": [5, 44, 0]})";
constexpr QV_ULONG kFails = EN_CDB_CALL_FAILED;

INSTANTIATE_TEST_SUITE_P(
    Models, DriveModel,
    ::testing::Values(ModelCase{"PioneerClosesAgain", "PIONEER:DVD-RW DVR-110D", "dvd+r", false, kSessionRefused, 0, 2},
                      ModelCase{"PioneerMultisession", "PIONEER:DVD-RW DVR-111D", "dvd+r", true, "", 0, 1},
                      ModelCase{"DvdPlusRClosesOnce", nullptr, "dvd+r", false, kSessionRefused, kFails, 1},
                      ModelCase{"CdClosesAgainSynchronously", nullptr, "cd-r", false, kRefused, 0, 2},
                      ModelCase{"Hp9100ClosesOnce", "HP:CD-Writer+ 9100", "cd-r", false, kRefused, kFails, 1},
                      ModelCase{"QsiClosesCdROnce", "QSI:CDRW/DVD SBW-241", "cd-r", false, kRefused, kFails, 1},
                      ModelCase{"QsiClosesCdRwAgain", "QSI:CDRW/DVD SBW-241", "cd-rw", false, kRefused, 0, 2},
                      ModelCase{"TeacFlushesWithoutImmed", "TEAC:CD-W56S", "cd-r", false, "", 0, 2},
                      ModelCase{"PhilipsFlushesWithoutDiscInfo", "PHILIPS:CDD5301", "cd-r", false, "", 0, 2},
                      ModelCase{"Dvd8701ForcesMultisession", "PHILIPS:DVD8701", "dvd+r", false, "", 0, 1},
                      ModelCase{"Dvd640vForcesMultisession", "HP:DVD Writer 640v", "dvd+r", false, "", 0, 1}),
    [](const auto& info) { return std::string(info.param.name); });

// DVD padding fills a small track to 1 GB with zero blocks, 16 at a time,
// then the rest (here 11). It costs the 32000 writes of a gigabyte; DVD-R
// reserves the padded track first.
struct PaddingCalls {
  uint64_t blocks = 0, padding = 0;
  int phases = 0;
};

void QUORVANE_CALL RecordPadding(QV_ULONG reason, void* context, void* p1, void* p2) {
  auto* c = static_cast<PaddingCalls*>(context);
  if (reason == CN_DVD_PADDING_SIZE) c->blocks = reinterpret_cast<uintptr_t>(p1), c->padding = reinterpret_cast<uintptr_t>(p2);
  c->phases += reason == CN_DVD_PADDING_BEGIN || reason == CN_DVD_PADDING_END;
}

TEST_F(BurnFixture, DvdPaddingEndsWithAShortPacket) {
  constexpr uint32_t kPadded = 524288, kBlocks = 4096 + 5;
  Make("dvd-r");
  PaddingCalls calls;
  ASSERT_EQ(Open(1, &RecordPadding, &calls), 0u) << s.text;
  Quorvane_SetPadding(1);
  std::vector<uint8_t> data(uint64_t{kBlocks} * 2048);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i / 2048 + 1);
  ASSERT_EQ(Burn(WriteAll(home.path() / "data.dat", data)), 0u) << s.text;
  ASSERT_EQ(Quorvane_CdvdBurnerGrabber_CloseSession(handle, QV_STATUS(s)), 0u) << s.text;
  EXPECT_EQ(calls.blocks, kBlocks);
  EXPECT_EQ(calls.padding, kPadded - kBlocks);
  EXPECT_EQ(calls.phases, 2);
  EXPECT_EQ(Describe()["disc"]["sessions"][0]["tracks"][0]["blocks"], kPadded);
  EXPECT_TRUE(ReadBack(kBlocks) == data);
  std::vector<uint8_t> last(16 * 2048, 0xEE);
  const uint32_t at = kPadded - 16;
  const QV_UCHAR cdb[10] = {0x28, 0, QV_UCHAR(at >> 24), QV_UCHAR(at >> 16), QV_UCHAR(at >> 8), QV_UCHAR(at), 0, 0, 16, 0};
  ASSERT_EQ(Quorvane_CdvdBurnerGrabber_ExecuteCDB(handle, QV_STATUS(s), cdb, 10, last.data(), 16 * 2048, 0), 0u);
  EXPECT_TRUE(std::all_of(last.begin(), last.end(), [](uint8_t b) { return b == 0; })) << "the last packet";
}

// Sources that are not a whole number of blocks: the last block is padded
// with zeros, never cut off. (That a test write leaves every disc as it was
// is the command's test.)
struct SizeCase {
  uint64_t bytes;
  QV_ULONG expected;
  uint32_t blocks;  // the track's size afterwards
};

class SourceSize : public BurnFixture, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(SourceSize, WholeBlocksOnly) {
  Make("cd-r");
  ASSERT_EQ(Open(), 0u) << s.text;
  const auto file = home.path() / "source.dat";
  std::vector<uint8_t> bytes(GetParam().bytes);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 1);
  WriteAll(file, bytes);
  EXPECT_EQ(Burn(file), GetParam().expected) << s.text;
  const auto d = Describe();
  ASSERT_EQ(d["disc"]["sessions"].size(), 1u);
  EXPECT_EQ(d["disc"]["sessions"][0]["tracks"][0]["blocks"], GetParam().blocks);
  bytes.resize(GetParam().blocks * 2048);
  EXPECT_TRUE(ReadBack(GetParam().blocks) == bytes);
}

INSTANTIATE_TEST_SUITE_P(Sizes, SourceSize,
                         ::testing::Values(SizeCase{100, EN_SUCCESS, 1},                  // less than a block
                                           SizeCase{2048, EN_SUCCESS, 1},                 // one block
                                           SizeCase{61440, EN_SUCCESS, 30},               // exactly one transfer
                                           SizeCase{61440 + 2047, EN_SUCCESS, 31},        // a transfer and a part
                                           SizeCase{5 * 61440 + 4096 + 5, EN_SUCCESS, 153}));

// DVD-RW in multisession: a quick format, then a quick grow, and every
// session's last packet goes out as 16 whole blocks. The blocks past the
// data are zeros, never what an earlier burn left in the cache buffer.
TEST_F(BurnFixture, DashRwMultisessionPadsTheLastPacketWithZeros) {
  QVTEST_REQUIRE_PROGRAM("xorriso");
  Make("dvd-rw");
  ASSERT_EQ(Open(), 0u) << s.text;
  ASSERT_EQ(Burn(Source("first.dat", 256 * 2048, 0xAA), true), 0u) << s.text;
  EXPECT_GT(log.Count("Setting FORMAT_TYPE_DVDRW_QUICK\n"), 0u);
  ASSERT_EQ(Quorvane_CdvdBurnerGrabber_CloseSession(handle, QV_STATUS(s)), 0u) << s.text;

  const uint32_t nwa = NextWritable();
  ASSERT_EQ(nwa, 256u);
  const auto iso = Master(SampleFiles(3, 5000), "second");
  const auto image = ReadAll(iso);
  const auto blocks = static_cast<uint32_t>(image.size() / 2048);
  ASSERT_NE(blocks % 16, 0u) << "the test needs a partial last packet";
  ASSERT_LT(blocks, 256u) << "the last packet's buffer must have held the first burn's data";
  ASSERT_EQ(Burn(iso, true), 0u) << s.text;
  EXPECT_GT(log.Count("Setting FORMAT_TYPE_DVDRW_QUICK_GROW_LAST_SESSION"), 0u);

  const uint32_t end = (blocks + 15) / 16 * 16;
  const std::vector<uint8_t> disc = ReadBack(nwa + end);
  ASSERT_EQ(disc.size(), uint64_t{nwa + end} * 2048);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), disc.begin() + uint64_t{nwa} * 2048)) << "the second session";
  EXPECT_TRUE(std::all_of(disc.begin() + uint64_t{nwa + blocks} * 2048, disc.end(), [](uint8_t b) { return b == 0; }))
      << "the rest of the last packet";
  // The new volume descriptors sit at the disc's start.
  EXPECT_TRUE(std::equal(image.begin() + 16 * 2048, image.begin() + 17 * 2048, disc.begin() + 16 * 2048));
}

// Erasing: a written CD-RW and DVD-RW, blanked quick or full, read blank
// with their whole capacity free; a DVD-RAM that starts unformatted is
// formatted; a written DVD+RW is formatted anew and holds no volume. The
// format callbacks come in pairs.
TEST_F(BurnFixture, ErasedDiscsReadBlankWithTheirWholeCapacity) {
  QVTEST_REQUIRE_PROGRAM("xorriso");
  struct Case {
    const char* media;
    QV_LONG blankingType;
    std::vector<QV_ULONG> callbacks;
  };
  const Case cases[] = {
      {"cd-rw", 1, {}}, {"cd-rw", 0, {}}, {"dvd-rw", 1, {}}, {"dvd-rw", 0, {}},
      {"dvd-ram", 0, {CN_DVDRAM_FORMAT_BEGIN, CN_DVDRAM_FORMAT_END}},
      {"dvd+rw", 1, {CN_DVDPLUSRW_FORMAT_BEGIN, CN_DVDPLUSRW_FORMAT_END}},
  };
  const auto iso = Master(SampleFiles(1, 100000), "one");
  Make("cd-rw");
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.media << " " << c.blankingType);
    if (handle) Quorvane_CdvdBurnerGrabber_Destroy(&handle);
    const bool ram = std::string(c.media) == "dvd-ram";
    std::ofstream(home.path() / "ram.json") << R"({"media": "dvd-ram", "formatted": false})";
    ASSERT_EQ(ram ? QvDrive_InsertDisc("CdRom0", (home.path() / "ram.json").c_str()) : QvDrive_InsertMedia("CdRom0", c.media), 0u);
    std::vector<QV_ULONG> seen;
    // The drive's progress reports come as often as it is polled.
    ASSERT_EQ(Open(0, [](QV_ULONG reason, void* seen, void*, void*) {
      if (reason != CN_BLANK_FORMAT_PROGRESS) static_cast<std::vector<QV_ULONG>*>(seen)->push_back(reason);
    }, &seen), 0u) << s.text;
    // A disc just loaded is becoming ready for a few commands.
    for (int i = 0; i < 10 && Quorvane_CdvdBurnerGrabber_TestUnitReady(handle, QV_STATUS(s)) != 0; ++i) {
    }
    const bool sequential = !ram && std::string(c.media) != "dvd+rw";
    const uint32_t blankFree = sequential ? FreeBlocks() : 0;
    if (!ram) {
      ASSERT_EQ(Burn(iso), 0u) << s.text;
      ASSERT_EQ(Quorvane_CdvdBurnerGrabber_CloseSession(handle, QV_STATUS(s)), 0u) << s.text;
    }
    seen.clear();
    ASSERT_EQ(Quorvane_CdvdBurnerGrabber_Blank(handle, QV_STATUS(s), c.blankingType), 0u) << s.text;
    EXPECT_EQ(seen, c.callbacks);
    const auto disc = Describe()["disc"];
    if (sequential) {
      EXPECT_EQ(disc["status"], "blank");
      EXPECT_EQ(FreeBlocks(), blankFree);
    } else {
      EXPECT_TRUE(disc["formatted"].get<bool>());
      const auto exported = home.path() / "erased.iso";
      EXPECT_NE(QvDrive_Export("CdRom0", exported.c_str()), 0u) << "no volume is left to read";
    }
  }
}

}  // namespace
}  // namespace qvtest
