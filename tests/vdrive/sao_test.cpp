// Session-at-once as raw CDBs: cue sheets MMC accepts and refuses, the
// WRITE sequence they set, and the TOC and Q the drive answers with after.
#include <nlohmann/json.hpp>

#include "door_client.h"

namespace qvtest {
namespace {

using Entry = std::array<uint8_t, 8>;

// Two audio tracks: 1 from 0 with index 2 at 75 and an ISRC, 2 with a
// one-second pause from 300, index 1 at 375; lead-out at 525. A catalogue
// number first.
std::vector<Entry> GoodSheet() {
  return {{0x02, '1', '2', '3', '4', '5', '6', '7'}, {0x02, '8', '9', '0', '1', '2', '3', 0},
          {0x01, 0, 0, 0x01, 0, 0, 0, 0},            {0x03, 1, 'U', 'S', 'A', 'B', 'C', '9'},
          {0x03, 1, '9', '0', '0', '0', '0', '1'},   {0x01, 1, 0, 0x00, 0, 0, 0, 0},
          {0x01, 1, 1, 0x00, 0, 0, 2, 0},            {0x01, 1, 2, 0x00, 0, 0, 3, 0},
          {0x01, 2, 0, 0x00, 0, 0, 6, 0},            {0x01, 2, 1, 0x00, 0, 0, 7, 0},
          {0x01, 0xAA, 1, 0x01, 0, 0, 9, 0}};
}

std::vector<uint8_t> Bytes(const std::vector<Entry>& sheet) {
  std::vector<uint8_t> b;
  for (const Entry& e : sheet) b.insert(b.end(), e.begin(), e.end());
  return b;
}
class SessionAtOnce : public ::testing::Test {
 protected:
  VirtualDriveHome home;
  void SetUp() override { MakeDrive("CdRom0", "cd-r"); }
};

// One sheet per kind of rule: structure, addresses, the Red Book pause and
// the codes (the CDB fuzzer sends the rest).
TEST_F(SessionAtOnce, CueSheetsCheckedAsMmcSays) {
  struct Case {
    const char* name;
    void (*edit)(std::vector<Entry>&);
    const char* outcome;
  };
  const Case cases[] = {
      {"good", [](std::vector<Entry>&) {}, "GOOD"},
      {"lead-in not first", [](std::vector<Entry>& s) { s.erase(s.begin() + 2); }, "05/26/00"},
      {"address going back", [](std::vector<Entry>& s) { s[8][6] = 2; }, "05/26/00"},
      {"first pause under two seconds", [](std::vector<Entry>& s) { s[6][6] = 1; }, "05/26/00"},
      {"ISRC in lower case", [](std::vector<Entry>& s) { s[3][2] = 'u'; }, "05/26/00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DoorClient d("CdRom0");
    SetPage05(d, 2, 8);
    std::vector<Entry> sheet = GoodSheet();
    c.edit(sheet);
    EXPECT_EQ(d.Out(SendCue(sheet.size() * 8), Bytes(sheet)).Outcome(), c.outcome);
  }
  DoorClient d("CdRom0");
  const std::vector<uint8_t> good = Bytes(GoodSheet());
  EXPECT_EQ(d.Out(SendCue(good.size() - 4), std::vector<uint8_t>(good.begin(), good.end() - 4)).Outcome(), "05/24/00");
  SetPage05(d, 1, 8);  // track-at-once takes no cue sheet
  EXPECT_EQ(d.Out(SendCue(good.size()), good).Outcome(), "05/2C/00");
}

TEST_F(SessionAtOnce, WritesFollowTheCueSheetAndTheFlushClosesTheSession) {
  DoorClient d("CdRom0");
  SetPage05(d, 2, 8);
  EXPECT_EQ(d.Out(Write10(-150, 1), std::vector<uint8_t>(2352)).Outcome(), "05/2C/00") << "no cue sheet yet";
  const std::vector<uint8_t> sheet = Bytes(GoodSheet());
  ASSERT_TRUE(d.Out(SendCue(sheet.size()), sheet).Good());
  const auto audio = [](int32_t first, uint16_t blocks) {
    std::vector<uint8_t> data(size_t{blocks} * 2352);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(first + int32_t(i / 2352));
    return data;
  };
  struct Step {
    int32_t lba;
    uint16_t blocks;
    size_t bytesPerBlock;
    const char* outcome;
  };
  const Step steps[] = {
      {-149, 1, 2352, "05/21/02"},  // not where the session begins
      {-150, 10, 2048, "05/64/00"},  // audio blocks are 2352 bytes
      {-150, 150, 2352, "GOOD"},
      {0, 300, 2352, "GOOD"},
      {300, 200, 2352, "GOOD"},      // the pause and the start of track 2
      {600, 1, 2352, "05/21/02"},
      {500, 26, 2352, "05/21/00"},  // beyond the lead-out
      {500, 25, 2352, "GOOD"},
  };
  for (const Step& s : steps) {
    std::vector<uint8_t> data = audio(s.lba, s.blocks);
    data.resize(s.blocks * s.bytesPerBlock);
    EXPECT_EQ(d.Out(Write10(s.lba, s.blocks), data).Outcome(), s.outcome) << "WRITE at " << s.lba;
  }
  // The flush closes the session. What the disc then holds (track starts,
  // pauses, indexes, ISRC, catalogue number) is read by cd-info and cdrdao
  // in the session-at-once burn command's test; its Q by the sector test.
  ASSERT_TRUE(d.In(SyncCache()).Good());
  EXPECT_EQ(DiscOf("CdRom0")["status"], "complete");
}

}  // namespace
}  // namespace qvtest
