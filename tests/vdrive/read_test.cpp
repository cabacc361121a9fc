// READ CAPACITY and READ(10) of discs loaded from images that genisoimage
// made: the drive must hand back the image's own bytes.
#include <cstring>
#include <fstream>
#include <random>

#include "door_client.h"

namespace qvtest {
namespace {

class Reading : public ::testing::Test {
 protected:
  VirtualDriveHome home;
  TempDir work;

  // An ISO of a few files of random bytes; returns its path and contents.
  std::filesystem::path MakeIso(std::string* bytes) {
    std::mt19937 rng(7);
    for (int i = 0; i < 3; ++i) {
      std::string data(100000 + i * 77777, '\0');
      for (auto& c : data) c = static_cast<char>(rng());
      work.Write("tree/file" + std::to_string(i) + ".bin", data);
    }
    const auto iso = work / "image.iso";
    std::string out;
    EXPECT_EQ(RunCommand("genisoimage -quiet -R -J -V READTEST -o " + iso.string() + " " + (work / "tree").string(), &out), 0)
        << out;
    *bytes = ReadFile(iso);
    return iso;
  }
};

// The image's bytes read whole through both doors in the transports'
// tests (tests/scsi); each medium's capacity is what the engine reports in
// device_vdrive's Described, its readable area what grab and export give
// back in GrabDisc and BurnCli; here, the edges of the disc and of the
// host's buffer.
TEST_F(Reading, ReadsStopAtTheEdges) {
  QVTEST_REQUIRE_PROGRAM("genisoimage");
  std::string iso;
  const auto path = MakeIso(&iso);
  const uint32_t blocks = static_cast<uint32_t>(iso.size() / 2048);
  MakeDrive("d", nullptr);
  ASSERT_EQ(QvDrive_InsertImage("d", path.c_str(), nullptr), 0u) << VdriveErrorText();
  DoorClient d("d");
  ASSERT_EQ(d.UntilReady().back(), "GOOD");
  EXPECT_EQ(d.In(GetConfiguration(0, 0), 8).Be16At(6), 0x0008u) << "a small image is a CD-ROM";

  // Past the end, or wrapping round the address space.
  struct Case {
    uint32_t lba;
    uint16_t blocks;
    uint32_t information;
  } beyond[] = {{blocks - 1, 2, blocks}, {0xFFFFFFFFu, 2, 0xFFFFFFFFu}};  // the first block out
  for (const auto& c : beyond) {
    const Reply r = d.In(Read10(c.lba, c.blocks), 4096);
    EXPECT_EQ(r.Outcome(), "05/21/00") << c.lba;
    ASSERT_EQ(r.sense.size(), 18u);
    EXPECT_EQ(r.sense[0], 0xF0) << "information valid";
    EXPECT_EQ(uint32_t{r.sense[3]} << 24 | r.sense[4] << 16 | r.sense[5] << 8 | r.sense[6], c.information);
  }
  // A buffer smaller than the blocks asked for: filled, never overrun.
  std::vector<uint8_t> buffer(3000 + 16, 0xEE);
  QVDRIVE_REQUEST r{};
  const auto cdb = Read10(16, 2);
  std::copy(cdb.begin(), cdb.end(), r.cdb);
  r.cdbLength = 10;
  r.direction = QVDRIVE_DIR_IN;
  r.buffer = buffer.data();
  r.bufferSize = 3000;
  EXPECT_TRUE(d.Raw(r).Good());
  EXPECT_EQ(r.transferred, 3000u);
  EXPECT_EQ(std::memcmp(buffer.data(), iso.data() + 16 * 2048, 3000), 0);
  EXPECT_TRUE(std::all_of(buffer.begin() + 3000, buffer.end(), [](uint8_t b) { return b == 0xEE; }));
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
  EXPECT_EQ(d.In(GetConfiguration(0, 0), 8).Be16At(6), 0x0010u);
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
  EXPECT_EQ(QvDrive_InsertImage("d", (work / "missing.img").c_str(), nullptr), 2u);
}

}  // namespace
}  // namespace qvtest
