// What the drive says it is: INQUIRY, the capabilities page 2Ah and MODE
// SENSE(10), checked byte by byte against the SPC-3 and MMC tables.
#include <nlohmann/json.hpp>

#include "door_client.h"
#include "support/test_support.h"

namespace qvtest {
namespace {

using Bytes = std::vector<uint8_t>;

using Identity = VdriveTest;

TEST_F(Identity, InquiryStandardData) {
  MakeDrive("custom", nullptr, "PLEXTOR:DVDR PX-716A:1.11");
  // Standard data: a removable CD/DVD device, format 2, the model's names.
  const Reply r = DoorClient("custom").In(Inquiry(96), 96);
  ASSERT_EQ(r.data.size(), 96u) << r.Outcome();
  EXPECT_EQ((Bytes{r.data[0], r.data[1], uint8_t(r.data[3] & 0x0F), r.data[4]}), (Bytes{0x05, 0x80, 0x02, 91}));
  EXPECT_EQ(std::string(r.data.begin() + 8, r.data.begin() + 36), "PLEXTOR DVDR PX-716A    1.11");
}

// The capabilities page as the engine reads it: after the 8-byte header,
// read bits in byte 2, write bits in byte 3, buffer size in bytes 12-13.
TEST_F(Identity, CapabilitiesPageFollowsModelAndDisc) {
  MakeDrive("dvd", "dvd+r");
  MakeDrive("cd", nullptr);
  MakeDrive("cdonly", "cd-r");
  EditModel(home, "cdonly", {{"reads", {"cd-rom", "cd-r", "cd-rw"}},
                             {"writes", {"cd-r"}},
                             {"testWrite", false},
                             {"bufferUnderrunFree", false},
                             {"bufferKiB", 512},
                             {"cdWriteSpeeds", {2822, 1411}}});
  struct Case {
    const char* drive;
    uint8_t readBits, writeBits, byte4;
    uint32_t buffer, maxRead, maxWrite, descriptors;
  } cases[] = {
      {"cd", 0x3F, 0x37, 0xF1, 2048, 8467, 8467, 7},      // no disc: CD speeds
      {"dvd", 0x3F, 0x37, 0xF1, 2048, 22160, 22160, 4},   // a DVD: DVD speeds
      {"cdonly", 0x07, 0x01, 0x71, 512, 8467, 2822, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.drive);
    DoorClient d(c.drive);
    const Reply r = d.In(ModeSense10(0x2A), 4096);
    ASSERT_TRUE(r.Good()) << r.Outcome();
    ASSERT_GE(r.data.size(), 40u);
    EXPECT_EQ(r.Be16At(0), r.data.size() - 2) << "mode data length";
    EXPECT_EQ(r.Be16At(6), 0u) << "no block descriptors";
    const size_t p = 8;
    EXPECT_EQ(r.data[p] & 0x3F, 0x2A);
    EXPECT_EQ(r.data[p + 1], 30 + 4 * c.descriptors) << "page length";
    EXPECT_EQ(r.data[p + 2], c.readBits);
    EXPECT_EQ(r.data[p + 3], c.writeBits);
    EXPECT_EQ(r.data[p + 4], c.byte4);
    EXPECT_EQ(r.Be16At(p + 12) * 1024u, c.buffer * 1024u);
    EXPECT_EQ(r.Be16At(p + 8), c.maxRead);
    EXPECT_EQ(r.Be16At(p + 18), c.maxWrite);
    EXPECT_EQ(r.Be16At(p + 30), c.descriptors);
    EXPECT_EQ(r.Be16At(p + 34), c.maxWrite) << "fastest descriptor first";
    EXPECT_EQ(r.data.size(), p + 32 + 4 * c.descriptors);
  }
}

// A page the drive lacks is refused: a reader has no write parameters page.
TEST_F(Identity, ModeSenseOfOnePage) {
  MakeDrive("rw", nullptr);
  MakeDrive("ro", nullptr);
  EditModel(home, "ro", {{"writes", nlohmann::json::array()}});
  DoorClient rw("rw"), ro("ro");
  EXPECT_EQ(ro.In(ModeSense10(0x05), 4096).Outcome(), "05/24/00");
  EXPECT_EQ(rw.In(ModeSense10(0x1A), 4096).Outcome(), "05/24/00") << "no such page";

  // A short allocation cuts the data, not the mode data length.
  const Reply cut = rw.In(ModeSense10(0x2A, 0, 12), 4096);
  ASSERT_EQ(cut.data.size(), 12u);
  EXPECT_GT(cut.Be16At(0), 12u);
}

}  // namespace
}  // namespace qvtest
