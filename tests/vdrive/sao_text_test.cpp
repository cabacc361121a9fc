// Session-at-once with the lead-in's R-W from the host, as raw CDBs: the
// lead-in entry's sub-channel form asks for it, the host must then send
// 96-byte blocks from the ATIP's lead-in start up to -150 and no further,
// and only the lead-in may ask. The CD-Text the drive decodes from them
// is read by cd-info in the burn command's test.
#include <nlohmann/json.hpp>

#include "door_client.h"

namespace qvtest {
namespace {

constexpr int32_t kLeadInStart = -11634;  // a blank CD-R's ATIP: 97:26:66

std::vector<uint8_t> Sheet(uint8_t leadInForm, uint8_t trackForm) {
  // One audio track from 0, lead-out at 300.
  return {0x01, 0, 0, leadInForm, 0, 0, 0, 0, 0x01, 1, 0, trackForm, 0, 0, 0, 0,
          0x01, 1, 1, trackForm,  0, 0, 2, 0, 0x01, 0xAA, 1, 0x01, 0, 0, 6, 0};
}
class SessionAtOnceLeadIn : public ::testing::Test {
 protected:
  VirtualDriveHome home;
  void SetUp() override { MakeDrive("CdRom0", "cd-r"); }
};

TEST_F(SessionAtOnceLeadIn, TheWholeLeadInIn96ByteBlocksThenTheSession) {
  DoorClient d("CdRom0");
  SetPage05(d, 2, 8);
  // Only the lead-in takes R-W, and only in sub-channel form 01b.
  for (const auto& [leadIn, track] : {std::pair<uint8_t, uint8_t>{0x01, 0x40}, {0x81, 0x00}, {0x40, 0x00}})
    EXPECT_EQ(d.Out(SendCue(32), Sheet(leadIn, track)).Outcome(), "05/26/00") << int(leadIn) << "/" << int(track);
  const std::vector<uint8_t> sheet = Sheet(0x41, 0x00);
  ASSERT_TRUE(d.Out(SendCue(sheet.size()), sheet).Good());
  const int32_t rest = -150 - (kLeadInStart + 11000);
  const struct {
    int32_t lba;
    uint16_t blocks;
    size_t bytesPerBlock;
    const char* outcome;
  } steps[] = {
      {-150, 150, 2352, "05/21/02"},               // the lead-in comes first
      {kLeadInStart + 1, 10, 96, "05/21/02"},      // from its start
      {kLeadInStart, 10, 2352, "05/64/00"},        // as R-W alone
      {kLeadInStart, 11000, 96, "GOOD"},
      {kLeadInStart + 11000, uint16_t(rest + 1), 96, "05/64/00"},  // not past -150
      {kLeadInStart + 11000, uint16_t(rest), 96, "GOOD"},
      {-150, 10, 96, "05/64/00"},                  // the pre-gap is audio again
      {-150, 450, 2352, "GOOD"},
  };
  for (const auto& s : steps) {
    EXPECT_EQ(d.Out(Write10(s.lba, s.blocks), std::vector<uint8_t>(s.blocks * s.bytesPerBlock)).Outcome(), s.outcome)
        << "WRITE at " << s.lba;
  }
  ASSERT_TRUE(d.In(SyncCache()).Good());
  EXPECT_EQ(DiscOf("CdRom0")["status"], "complete");
}

}  // namespace
}  // namespace qvtest
