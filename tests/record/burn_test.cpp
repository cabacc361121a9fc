// Burning through the engine where the command cannot reach: CD-ROM XA,
// DVD-R(W) reservations, the drive models' closes, DVD padding. (Every
// medium, read by outside tools, is the burn command's test.)
#include <algorithm>

#include "burn_support.h"

namespace qvtest {
namespace {

struct MediumCase {
  const char* media;
  uint8_t closedStatus;  // READ DISC INFORMATION's disc status after closing; random access media stay at 1
  QV_UCHAR mode = 0;     // 1: CD-ROM XA, the image as Mode 2 Form 1 sectors
};

class BurnMedium : public BurnFixture, public ::testing::WithParamInterface<MediumCase> {};

TEST_P(BurnMedium, ImageReadsBackThroughTheEngine) {
  Make(GetParam().media);
  ASSERT_EQ(Open(), 0u) << s.text;
  const auto iso = Master(SampleFiles(1, 300000), "one");
  ASSERT_EQ(Burn(iso, false, false, GetParam().mode), 0u) << s.text;
  ASSERT_EQ(Quorvane_CdvdBurnerGrabber_CloseSession(handle, QV_STATUS(s)), 0u) << s.text;
  if (GetParam().mode) {
    EXPECT_EQ(Describe()["disc"]["sessions"][0]["tracks"][0]["mode"], "mode2-form1");
  }
  QUORVANE_DISC_INFORMATION disc{};
  ASSERT_EQ(Quorvane_CdvdBurnerGrabber_GetDiscInformation(handle, QV_STATUS(s), &disc), 0u) << s.text;
  EXPECT_EQ(disc.m__UCHAR__DiscStatus, GetParam().closedStatus);
  const std::vector<uint8_t> image = ReadAll(iso);
  const auto blocks = static_cast<QV_LONG>(image.size() / 2048);
  EXPECT_TRUE(ReadBack(blocks) == image);
  // DVD-R(W) tracks are reserved in whole ECC blocks of 16.
  QUORVANE_TOC_INFORMATION toc{};
  ASSERT_EQ(Quorvane_CdvdBurnerGrabber_GetTOCInformation(handle, QV_STATUS(s), &toc), 0u) << s.text;
  EXPECT_EQ(toc.m__TRACK__Tracks[0].m__LONG__StartAddress, 0);
  EXPECT_GE(toc.m__TRACK__Tracks[0].m__LONG__EndAddress + 1, blocks);
  EXPECT_LT(toc.m__TRACK__Tracks[0].m__LONG__EndAddress + 1, (blocks + 16) / 16 * 16 + 1);
}

INSTANTIATE_TEST_SUITE_P(Media, BurnMedium,
                         ::testing::Values(MediumCase{"cd-r", 2, 1}, MediumCase{"dvd-rw", 2},
                                           MediumCase{"dvd+rw", 1}),
                         [](const auto& info) { return MediaName({info.param.media, info.index}); });

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
                      ModelCase{"Dvd8701ForcesMultisession", "PHILIPS:DVD8701", "dvd+r", false, "", 0, 1}),
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

// DVD-RW in multisession: every session's last packet goes out as 16 whole
// blocks, those past the data zeros, never what an earlier burn left in
// the cache buffer.
TEST_F(BurnFixture, DashRwMultisessionPadsTheLastPacketWithZeros) {
  QVTEST_REQUIRE_PROGRAM("xorriso");
  Make("dvd-rw");
  ASSERT_EQ(Open(), 0u) << s.text;
  ASSERT_EQ(Burn(Source("first.dat", 256 * 2048, 0xAA), true), 0u) << s.text;
  ASSERT_EQ(Quorvane_CdvdBurnerGrabber_CloseSession(handle, QV_STATUS(s)), 0u) << s.text;

  const uint32_t nwa = NextWritable();
  ASSERT_EQ(nwa, 256u);
  const auto iso = Master(SampleFiles(3, 5000), "second");
  const auto image = ReadAll(iso);
  const auto blocks = static_cast<uint32_t>(image.size() / 2048);
  ASSERT_NE(blocks % 16, 0u) << "the test needs a partial last packet";
  ASSERT_LT(blocks, 256u) << "the last packet's buffer must have held the first burn's data";
  ASSERT_EQ(Burn(iso, true), 0u) << s.text;

  const uint32_t end = (blocks + 15) / 16 * 16;
  const std::vector<uint8_t> disc = ReadBack(nwa + end);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), disc.begin() + uint64_t{nwa} * 2048)) << "the second session";
  EXPECT_TRUE(std::all_of(disc.begin() + uint64_t{nwa + blocks} * 2048, disc.end(), [](uint8_t b) { return b == 0; }))
      << "the rest of the last packet";
  // The new volume descriptors sit at the disc's start.
  EXPECT_TRUE(std::equal(image.begin() + 16 * 2048, image.begin() + 17 * 2048, disc.begin() + 16 * 2048));
}

}  // namespace
}  // namespace qvtest
