// Burning through the engine where the command cannot reach: CD-ROM XA,
// DVD-R(W) reservations, the drive models' closes, DVD padding. (Every
// medium, read by outside tools, is the burn command's test.)
#include <algorithm>

#include "burn_support.h"

namespace qvtest {
namespace {

// A CD-ROM XA image goes out as Mode 2 Form 1 sectors; a DVD-RW track is
// reserved in whole ECC blocks of 16. Both closed, both read back whole.
TEST_F(BurnFixture, XaAndReservedTracksReadBackThroughTheEngine) {
  for (const auto& [media, mode] : {std::pair{"cd-r", QV_UCHAR{1}}, std::pair{"dvd-rw", QV_UCHAR{0}}}) {
    SCOPED_TRACE(media);
    Make(media);
    ASSERT_EQ(Open(), 0u) << s.text;
    const auto iso = Master(SampleFiles(1, 300000), "one");
    ASSERT_EQ(Burn(iso, false, mode), 0u) << s.text;
    ASSERT_EQ(Quorvane_CdvdBurnerGrabber_CloseSession(handle, QV_STATUS(s)), 0u) << s.text;
    const auto disc = Describe()["disc"];
    EXPECT_EQ(disc["status"], "complete");
    EXPECT_EQ(disc["sessions"][0]["tracks"][0]["mode"], mode ? "mode2-form1" : "mode1");
    const std::vector<uint8_t> image = ReadAll(iso);
    const auto blocks = static_cast<QV_LONG>(image.size() / 2048);
    EXPECT_TRUE(ReadBack(blocks) == image);
    QUORVANE_TOC_INFORMATION toc{};
    ASSERT_EQ(Quorvane_CdvdBurnerGrabber_GetTOCInformation(handle, QV_STATUS(s), &toc), 0u) << s.text;
    const QV_LONG end = toc.m__TRACK__Tracks[0].m__LONG__EndAddress + 1;
    EXPECT_TRUE(end >= blocks && end <= (blocks + 15) / 16 * 16) << end;
    Quorvane_CdvdBurnerGrabber_Destroy(&handle);
    ASSERT_EQ(QvDrive_Delete("CdRom0"), 0u);
  }
}

// The closes and flushes of particular drives, one per quirk: a close
// refused once is sent again only where the drive is known for that, a
// synchronous close has no second try, forced multisession leaves the disc
// open, and the slow flushes end.
struct ModelCase {
  const char* name;
  const char* model;
  const char* media;
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
  ASSERT_EQ(Burn(Master(files, "model")), 0u) << s.text;
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
    ::testing::Values(ModelCase{"PioneerClosesAgain", "PIONEER:DVD-RW DVR-110D", "dvd+r", kSessionRefused, 0, 2},
                      ModelCase{"DvdPlusRClosesOnce", nullptr, "dvd+r", kSessionRefused, kFails, 1},
                      ModelCase{"CdClosesAgainSynchronously", nullptr, "cd-r", kRefused, 0, 2},
                      ModelCase{"Hp9100ClosesOnce", "HP:CD-Writer+ 9100", "cd-r", kRefused, kFails, 1},
                      ModelCase{"QsiClosesCdROnce", "QSI:CDRW/DVD SBW-241", "cd-r", kRefused, kFails, 1},
                      ModelCase{"TeacFlushesWithoutImmed", "TEAC:CD-W56S", "cd-r", "", 0, 2},
                      ModelCase{"PhilipsFlushesWithoutDiscInfo", "PHILIPS:CDD5301", "cd-r", "", 0, 2},
                      ModelCase{"Dvd8701ForcesMultisession", "PHILIPS:DVD8701", "dvd+r", "", 0, 1}),
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

bool AllZero(const std::vector<uint8_t>& v) {
  return std::all_of(v.begin(), v.end(), [](uint8_t b) { return b == 0; });
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
  EXPECT_TRUE(AllZero(ReadBack(16, kPadded - 16))) << "the last packet";
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
  const auto image = ReadAll(Master(SampleFiles(3, 5000), "second"));
  const auto blocks = static_cast<uint32_t>(image.size() / 2048);
  ASSERT_TRUE(blocks % 16 != 0 && blocks < 256) << "a partial last packet, its buffer once the first burn's";
  ASSERT_EQ(Burn(home.path() / "second.iso", true), 0u) << s.text;
  const std::vector<uint8_t> session = ReadBack(blocks, 256), rest = ReadBack(16 - blocks % 16, 256 + blocks);
  EXPECT_TRUE(session == image) << "the second session, after the first's 256 blocks";
  EXPECT_TRUE(AllZero(rest)) << "the rest of the last packet";
  // The new volume descriptors sit at the disc's start.
  EXPECT_TRUE(std::equal(image.begin() + 16 * 2048, image.begin() + 17 * 2048, ReadBack(1, 16).begin()));
}

}  // namespace
}  // namespace qvtest
