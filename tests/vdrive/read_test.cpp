// READ CAPACITY and READ(10) at the edges of discs loaded from images.
// (An image's bytes read whole through both doors in the transports' tests
// (tests/scsi); each medium's capacity is what the engine reports in
// device_vdrive's Described, its readable area what grab and export give
// back in GrabDisc and BurnCli.)
#include <fstream>

#include "door_client.h"

namespace qvtest {
namespace {

class Reading : public ::testing::Test {
 protected:
  VirtualDriveHome home;
  TempDir work;
};

// Past the end, or wrapping round the address space: the first block out
// in the information field.
TEST_F(Reading, ReadsStopAtTheEdges) {
  const uint32_t blocks = 40;
  MakeDrive("d", nullptr);
  ASSERT_EQ(QvDrive_InsertImage("d", work.Write("small.iso", std::string(blocks * 2048, 'i')).c_str(), nullptr), 0u);
  DoorClient d("d");
  ASSERT_EQ(d.UntilReady().back(), "GOOD");
  EXPECT_EQ(d.In(GetConfiguration(0), 8).Be16At(6), 0x0008u) << "a small image is a CD-ROM";
  for (const uint32_t lba : {blocks - 1, 0xFFFFFFFFu}) {
    const Reply r = d.In(Read10(lba, 2), 4096);
    EXPECT_EQ(r.Outcome(), "05/21/00") << lba;
    ASSERT_EQ(r.sense.size(), 18u);
    EXPECT_EQ(r.sense[0], 0xF0) << "information valid";
    EXPECT_EQ(uint32_t{r.sense[3]} << 24 | r.sense[4] << 16 | r.sense[5] << 8 | r.sense[6], std::max(lba, blocks));
  }
}

TEST_F(Reading, ImagesThatDoNotFit) {
  MakeDrive("d", nullptr);
  // 400000 blocks, sparse: more than a CD holds.
  const auto big = work / "big.img";
  { std::ofstream(big, std::ios::binary).seekp(400000LL * 2048 - 1).put('x'); }
  ASSERT_EQ(QvDrive_InsertImage("d", big.c_str(), "cd-r"), 223u);
  EXPECT_NE(VdriveErrorText().find("does not fit"), std::string::npos) << VdriveErrorText();
  ASSERT_EQ(QvDrive_InsertImage("d", big.c_str(), nullptr), 0u) << "a DVD-ROM then";
  DoorClient d("d");
  d.UntilReady();
  EXPECT_EQ(d.In(GetConfiguration(0), 8).Be16At(6), 0x0010u);
  const Reply last = d.In(Read10(399999, 1), 2048);
  ASSERT_TRUE(last.Good());
  EXPECT_EQ(last.data[2047], 'x');
  // An image that ends inside a block reads with the block's rest as zeros.
  work.Write("odd.img", std::string(3000, 'a'));
  ASSERT_EQ(QvDrive_InsertImage("d", (work / "odd.img").c_str(), nullptr), 0u);
  d.UntilReady();
  EXPECT_EQ(d.In(ReadCapacity(), 8).Be32At(0), 1u);
  const Reply tail = d.In(Read10(1, 1), 2048);
  EXPECT_EQ(tail.data[3000 - 2048 - 1], 'a');
  EXPECT_EQ(tail.data[3000 - 2048], 0);
  work.Write("empty.img", "");
  EXPECT_EQ(QvDrive_InsertImage("d", (work / "empty.img").c_str(), nullptr), 87u);
}

}  // namespace
}  // namespace qvtest
