// GET CONFIGURATION as the engine sends it (one feature at a time; the
// current profile of each medium is what the engine reports in
// device_vdrive's Described tests) and GET EVENT STATUS NOTIFICATION, against
// the MMC-5 feature and event layouts.
#include <nlohmann/json.hpp>

#include "door_client.h"
#include "platform/clock.h"

namespace qvtest {
namespace {

using Configuration = VdriveTest;

// One feature: the DVD+ formats the engine asks for. 12 bytes of data
// length say the drive reads the format; byte 12 bit 0 that it writes it.
TEST_F(Configuration, RequestTypesAndLengths) {
  MakeDrive("d", "dvd+rw");
  MakeDrive("reader", nullptr);
  EditModel(home, "reader", {{"writes", {"cd-r", "cd-rw"}}});
  for (const auto& [drive, writes] : {std::pair<const char*, int>{"d", 1}, {"reader", 0}}) {
    DoorClient d(drive);
    for (uint16_t code : {0x002A, 0x002B, 0x003B}) {
      const Reply r = d.In(GetConfiguration(2, code), 4096);
      ASSERT_EQ(r.data.size(), 16u) << code;
      EXPECT_EQ(r.Be32At(0), 12u);
      EXPECT_EQ(r.Be16At(8), code);
      EXPECT_EQ(r.data[12] & 1, writes) << drive << " " << code;
    }
  }
  DoorClient d("d");
  // A feature the drive lacks: the header alone.
  const Reply none = d.In(GetConfiguration(2, 0x0040), 4096);
  EXPECT_EQ(none.data.size(), 8u);
  EXPECT_EQ(none.Be16At(6), 0x001Au);
  // A short allocation cuts the answer, not the data length.
  const Reply cut = d.In(GetConfiguration(0, 0, 20), 4096);
  EXPECT_EQ(cut.data.size(), 20u);
  EXPECT_GT(cut.Be32At(0), 16u);
}

TEST_F(Configuration, MediaEvents) {
  MakeDrive("d", nullptr);
  EditModel(home, "d", {{"becomingReadyMs", 500}});
  DoorClient d("d");
  // event code, media status (bit 1 present, bit 0 tray open)
  auto poll = [&] {
    const Reply r = d.In(GetEventStatus(0x10), 8);
    EXPECT_EQ((std::vector<uint8_t>(r.data.begin(), r.data.begin() + 4)), (std::vector<uint8_t>{0, 6, 0x04, 0x10}));
    return std::pair<int, int>(r.data.at(4) & 0x0F, r.data.at(5));
  };
  using P = std::pair<int, int>;
  EXPECT_EQ(poll(), P(0, 0));
  ASSERT_EQ(QvDrive_InsertMedia("d", "cd-r"), 0u);
  EXPECT_EQ(poll(), P(0, 2)) << "present, not yet recognised";
  EXPECT_EQ(d.In(TestUnitReady()).Outcome(), "02/04/01");
  qv::plat::SleepMs(500);
  EXPECT_EQ(poll(), P(2, 2)) << "new media, once";
  EXPECT_EQ(poll(), P(0, 2));
  EXPECT_EQ(d.In(TestUnitReady()).Outcome(), "06/28/00");
  ASSERT_TRUE(d.In(Prevent(1)).Good());
  EXPECT_EQ(QvDrive_Eject("d"), 5u);
  EXPECT_EQ(poll(), P(1, 2)) << "the user asked for the disc";
  ASSERT_TRUE(d.In(Prevent(0)).Good());
  ASSERT_TRUE(d.In(StartStop(true, false)).Good());
  EXPECT_EQ(poll(), P(3, 1)) << "removal, tray open";
  // Classes the drive does not support: the header, no event available.
  EXPECT_EQ(d.In(GetEventStatus(0x42), 8).data, (std::vector<uint8_t>{0, 2, 0x80, 0x10}));
}

}  // namespace
}  // namespace qvtest
