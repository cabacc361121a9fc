// The drive's states: no disc, tray open, spinning up after a load, the
// unit attention that follows, medium removal prevention and the checks
// every command meets before it runs. (The engine takes the sense with each
// command's status and never sends REQUEST SENSE.)
#include <nlohmann/json.hpp>

#include "door_client.h"
#include "platform/clock.h"

namespace qvtest {
namespace {

class States : public ::testing::Test {
 protected:
  VirtualDriveHome home;
};

// After a load: NOT READY 04/01 until the model's spin-up time has passed,
// then UNIT ATTENTION 28/00 once, letting INQUIRY, GET CONFIGURATION and
// GET EVENT STATUS NOTIFICATION through.
TEST_F(States, TheDiscSpinsUpInTime) {
  MakeDrive("d", nullptr);
  DoorClient d("d");
  EXPECT_EQ(d.In(TestUnitReady()).Outcome(), "02/3A/01");
  ASSERT_EQ(QvDrive_InsertMedia("d", "dvd-rom"), 0u);
  EXPECT_TRUE(d.In(Inquiry(), 96).Good());
  EXPECT_EQ(d.In(GetConfiguration(0), 64).Be16At(6), 0u) << "no current profile while spinning up";
  qv::plat::SleepMs(999);
  EXPECT_EQ(d.In(Read10(0, 1), 2048).Outcome(), "02/04/01");
  qv::plat::SleepMs(1);
  EXPECT_EQ(d.In(GetConfiguration(0), 64).Be16At(6), 0x10u);
  EXPECT_TRUE(d.In(GetEventStatus(0x10), 8).Good());
  EXPECT_EQ(d.In(ModeSense10(0x2A), 256).Outcome(), "06/28/00");
  EXPECT_TRUE(d.In(TestUnitReady()).Good());
}

// The lock refuses both the host's eject and a person's; the media event's
// status byte (bit 1 present, bit 0 tray open) follows the tray.
TEST_F(States, TrayLoadEjectAndPrevention) {
  MakeDrive("d", "cd-rom");
  EditModel(home, "d", {{"becomingReadyMs", DoorClient::kSpinUpStepMs}});
  DoorClient d("d");
  ASSERT_TRUE(d.In(TestUnitReady()).Good());
  auto locked = [&] { return d.In(ModeSense10(0x2A), 64).data.at(8 + 6) & 0x02; };  // in the capabilities page
  auto media = [&] { return d.In(GetEventStatus(0x10), 8).data.at(5); };
  EXPECT_EQ(media(), 0x02);
  ASSERT_TRUE(d.In(Prevent(1)).Good());
  EXPECT_EQ(locked(), 0x02);
  EXPECT_EQ(d.In(StartStop(true, false)).Outcome(), "05/53/02");
  EXPECT_EQ(QvDrive_Eject("d"), 5u) << "a person cannot take it out either";
  ASSERT_TRUE(d.In(Prevent(0)).Good());
  EXPECT_EQ(locked(), 0);
  ASSERT_TRUE(d.In(StartStop(true, false)).Good());
  EXPECT_EQ(d.In(TestUnitReady()).Outcome(), "02/3A/02") << "the disc lies on the open tray";
  EXPECT_EQ(media(), 0x01);
  ASSERT_TRUE(d.In(StartStop(true, true)).Good());
  EXPECT_EQ(d.UntilReady(), (std::vector<std::string>{"02/04/01", "06/28/00", "GOOD"}));
}

// A prevention ends with its host: once no one has the drive open, a
// person takes the disc out.
TEST_F(States, ALockGoesWithItsHost) {
  MakeDrive("d", "cd-rom");
  {
    DoorClient d("d");
    ASSERT_TRUE(d.In(Prevent(1)).Good());
  }
  EXPECT_EQ(QvDrive_Eject("d"), 0u) << VdriveErrorText();
}

TEST_F(States, DiscTheModelCannotRead) {
  MakeDrive("d", nullptr);
  EditModel(home, "d", {{"reads", {"cd-rom", "cd-r", "cd-rw"}}, {"writes", {"cd-r"}}, {"becomingReadyMs", 0}});
  DoorClient d("d");
  ASSERT_EQ(QvDrive_InsertMedia("d", "dvd-r"), 0u);
  EXPECT_EQ(d.UntilReady(3), (std::vector<std::string>{"06/28/00", "02/30/00", "02/30/00"}));
  EXPECT_EQ(d.In(GetConfiguration(0), 64).Be16At(6), 0u);
}

// What the drive refuses before it runs anything: an unknown command, and
// requests the door cannot carry out (the CDB fuzzer tries every other
// shape of them).
TEST_F(States, MalformedCommandsAndRequests) {
  MakeDrive("d", "cd-rom");
  DoorClient d("d");
  EXPECT_EQ(d.In({0xFF, 0, 0, 0, 0, 0}, 64).Outcome(), "05/20/00");
  EXPECT_EQ(d.In({0x28, 0, 0, 0, 0, 0}, 64).Outcome(), "door 87");
  QVDRIVE_REQUEST r{};
  r.cdbLength = 6;
  PassThrough lib;
  EXPECT_EQ(lib.send(reinterpret_cast<void*>(0x1234), &r), 6u) << "not a handle";
}

}  // namespace
}  // namespace qvtest
