// Recording commands as raw CDBs: what the drive refuses, the buffer's fill
// and drain, and the layer break. (What a burn leaves on the disc, sessions
// appended after the lead-out included, is judged from the disc in the
// burn, erase and multi-session commands' tests; blanking and formatting
// as long operations with the drive's progress in
// CliProgress.EraseAndFormatReportTheDrivesProgress.)
#include "door_client.h"

namespace qvtest {
namespace {

std::vector<uint8_t> BufferCapacity() { return {0x5C, 0, 0, 0, 0, 0, 0, 0, 12, 0}; }

class Recording : public ::testing::Test {
 protected:
  VirtualDriveHome home;
};

TEST_F(Recording, SequentialAddressesAndBlockSizes) {
  MakeDrive("CdRom0", "cd-r");
  DoorClient d("CdRom0");
  SetPage05(d, 1, 8);
  struct Step {
    uint32_t lba;
    uint16_t blocks;
    uint32_t bytesPerBlock;
    const char* outcome;
  };
  const Step steps[] = {
      {5, 1, 2048, "05/21/02"},   // not the next writable address
      {0, 2, 2048, "GOOD"},
      {2, 2, 2352, "05/24/00"},   // data of another block size than page 05 asks
      {2, 3, 2048, "GOOD"},
  };
  for (const Step& s : steps) {
    Reply r = d.Out(Write10(s.lba, s.blocks), std::vector<uint8_t>(size_t{s.blocks} * s.bytesPerBlock, 0x42));
    EXPECT_EQ(r.Outcome(), s.outcome) << "WRITE at " << s.lba;
  }
  // A closed session without the multi-session field takes no more writes.
  ASSERT_TRUE(d.In(SyncCache()).Good());
  ASSERT_TRUE(d.In(CloseSession()).Good());
  EXPECT_EQ(d.Out(Write10(6725 + 150, 1), std::vector<uint8_t>(2048)).Outcome(), "05/30/05");
}

TEST_F(Recording, BufferFillsAndDrainsAtTheWriteSpeed) {
  MakeDrive("CdRom0", "dvd+r");
  DoorClient d("CdRom0");
  SetPage05(d, 2, 8);
  Reply empty = d.In(BufferCapacity(), 12);
  ASSERT_TRUE(empty.Good());
  const uint32_t size = empty.Be32At(4);
  EXPECT_EQ(empty.Be32At(8), size);
  uint32_t lba = 0;
  Reply r;
  // Without time passing the buffer fills until the drive asks to wait.
  for (int i = 0; i < 1000; ++i, lba += 16) {
    r = d.Out(Write10(lba, 16), std::vector<uint8_t>(32768, 1));
    if (!r.Good()) break;
  }
  EXPECT_EQ(r.Outcome(), "02/04/08");
  EXPECT_LT(d.In(BufferCapacity(), 12).Be32At(8), 32768u);
  home.clock().Advance(1000);  // a second at any DVD speed empties 2 MB
  EXPECT_EQ(d.In(BufferCapacity(), 12).Be32At(8), size);
  EXPECT_TRUE(d.Out(Write10(lba, 16), std::vector<uint8_t>(32768, 1)).Good());
}

TEST_F(Recording, LayerBreakIsSetUntilTheFirstWrite) {
  MakeDrive("CdRom0", "dvd+r-dl");
  DoorClient d("CdRom0");
  SetPage05(d, 2, 8);
  auto boundary = [](uint32_t l0) {
    return std::vector<uint8_t>{0, 10, 0, 0, 0, 0, 0, 0, uint8_t(l0 >> 24), uint8_t(l0 >> 16), uint8_t(l0 >> 8),
                                uint8_t(l0)};
  };
  const std::vector<uint8_t> send = {0xBF, 0, 0, 0, 0, 0, 0, 0x20, 0, 12, 0, 0};
  EXPECT_EQ(d.Out(send, boundary(1001)).Outcome(), "05/26/00");  // not a multiple of 16
  ASSERT_TRUE(d.Out(send, boundary(1000000)).Good());
  Reply r = d.In({0xAD, 0, 0, 0, 0, 0, 0, 0x20, 0, 12, 0, 0}, 12);
  ASSERT_TRUE(r.Good());
  EXPECT_EQ(r.Be32At(8), 1000000u);
  EXPECT_EQ(r.data[4] & 0x80, 0);
  ASSERT_TRUE(d.Out(Write10(0, 16), std::vector<uint8_t>(32768, 3)).Good());
  EXPECT_EQ(d.In({0xAD, 0, 0, 0, 0, 0, 0, 0x20, 0, 12, 0, 0}, 12).data[4] & 0x80, 0x80) << "fixed by the write";
  EXPECT_EQ(d.Out(send, boundary(999984)).Outcome(), "05/2C/00");
}

}  // namespace
}  // namespace qvtest
