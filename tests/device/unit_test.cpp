// The unit commands: load, eject and test unit ready, in virtual time,
// with the drive workarounds and an empty tray. (Lock and release are the
// tray's, against the virtual drive.)
#include "fake_drive.h"

namespace devtest {
namespace {

using Unit = DeviceTest;

std::vector<uint8_t> After(const std::vector<uint8_t>& all, size_t from) {
  return std::vector<uint8_t>(all.begin() + static_cast<long>(from), all.end());
}

struct LoadCase {
  const char* name;
  uint16_t profile;
  bool waitForMedia;
  bool discPresent;
  std::vector<uint8_t> opcodes;  // after the disc type query
};

using Load = DeviceCases<LoadCase>;

TEST_P(Load, ClosesTheTrayAndWaitsAsTheMediumWants) {
  const LoadCase& c = GetParam();
  rig.drive.profile = c.profile;
  rig.drive.Returns(0x1B, Reply::Good());
  rig.drive.On(0x51, [&](const Bytes&, const Bytes&) {
    return c.discPresent ? Reply::Good(DiscInformation(0x0E, 1, 1, 1, 1)) : Reply::NoMedium();
  });
  if (!c.discPresent) rig.drive.Returns(0x00, Reply::NoMedium());
  auto& g = rig.Create();
  const size_t before = rig.drive.sent.size();
  const uint64_t start = time.clock().NowMs();
  g.LoadEx(c.waitForMedia);
  EXPECT_EQ(After(rig.drive.Opcodes(), before), c.opcodes);
  EXPECT_EQ(rig.drive.Cdb(0x1B), (Bytes{0x1B, 0x01, 0, 0, 0x03, 0}));
  // A second of pause before the command, then 5 s between failed polls.
  const uint64_t expectedPauses = c.discPresent || !c.waitForMedia ? 1000 : 1000 + 5000 * (c.profile == 0x12 ? 1 : 2);
  EXPECT_EQ(time.clock().NowMs() - start, expectedPauses);
}

INSTANTIATE_TEST_SUITE_P(
    Media, Load,
    ::testing::Values(LoadCase{"CdR", 0x0009, false, true, {0x46, 0x1B, 0x51, 0x00}},
                      // DVD-RAM answers READ DISC INFORMATION late: only TEST UNIT READY is polled.
                      LoadCase{"DvdRam", 0x0012, false, true, {0x46, 0x1B, 0x00}},
                      // No profile: one TEST UNIT READY tells a disc spinning up
                      // from an empty tray. An empty tray ends each phase at once...
                      LoadCase{"EmptyFastExit", 0x0000, false, false, {0x46, 0x00, 0x1B, 0x51, 0x00}},
                      // ...unless the caller waits for a disc: two attempts per phase.
                      LoadCase{"EmptyWaitingForMedia", 0x0000, true, false, {0x46, 0x00, 0x1B, 0x51, 0x51, 0x00, 0x00}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Unit, LoadFailsWhenStartStopUnitFails) {
  auto& g = rig.Create();
  rig.drive.Returns(0x1B, Reply::Sense(2, 0x53, 0x02));  // removal prevented
  auto e = Fails(8, [&] { g.Load(); });
  EXPECT_EQ(e->FailureInformation()->m__UCHAR__Sense[12], 0x53);
  EXPECT_EQ(log.Count("CQuorvane_CdvdBurnerGrabber::Load(): EXITing with failure"), 1u);
}

struct EjectCase {
  const char* vendor;
  const char* product;
  bool broken;
};

using Eject = DeviceCases<EjectCase>;

TEST_P(Eject, UsesTheImmediateEjectOnlyOnTheBrokenDrive) {
  const EjectCase& c = GetParam();
  rig.drive.vendor = c.vendor;
  rig.drive.product = c.product;
  rig.drive.Returns(0x1B, Reply::Good());
  auto& g = rig.Create();
  rig.drive.currentPages[0x05][2] = 0x00;  // not track-at-once
  const size_t selects = rig.drive.Count(0x55);
  g.Eject();
  ASSERT_EQ(rig.drive.Count(0x1B), 1u);
  EXPECT_EQ(rig.drive.Cdb(0x1B), (Bytes{0x1B, static_cast<uint8_t>(c.broken ? 0x01 : 0x00), 0, 0, 0x02, 0}));
  EXPECT_EQ(rig.drive.Count(0x55) - selects, c.broken ? 1u : 0u);
  if (c.broken) {
    EXPECT_EQ(rig.drive.currentPages[0x05][2] & 0x0F, 1);  // track-at-once again
  }
  EXPECT_EQ(log.Count("Eject(): Broken 'start stop unit'"), c.broken ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Drives, Eject,
                         ::testing::Values(EjectCase{"MITSUMI", "CR-4802TE", true},
                                           EjectCase{"MITSUMI", "CR-4804TE", false},
                                           EjectCase{"ACME", "4802", false}));

// An empty tray: with fast exit the failure comes at once; without, after
// two phases of polling the given seconds, one attempt a second.
TEST_F(Unit, TestUnitReadyOnAnEmptyTrayFailsWithNoMedium) {
  auto& g = rig.Create();
  rig.drive.Returns(0x00, Reply::NoMedium());
  rig.drive.Returns(0x51, Reply::NoMedium());
  const struct {
    uint32_t seconds;
    bool fast;
    uint64_t ms;
    size_t discInformations;
  } cases[] = {{30, true, 0, 1}, {5, false, 2 * 4 * 1000, 5}};
  for (const auto& c : cases) {
    const uint64_t start = time.clock().NowMs();
    const size_t before = rig.drive.Count(0x51);
    auto e = Fails(8, [&] { g.TestUnitReady(c.seconds, c.fast); });
    EXPECT_EQ(time.clock().NowMs() - start, c.ms) << c.seconds;
    EXPECT_EQ(rig.drive.Count(0x51) - before, c.discInformations) << c.seconds;
    EXPECT_EQ(e->FailureInformation()->m__UCHAR__Sense[2] & 0x0F, 2);
    EXPECT_EQ(e->FailureInformation()->m__UCHAR__Sense[12], 0x3A);
    EXPECT_EQ(log.Count("TestUnitReady(): ENTERed for " + std::to_string(c.seconds) +
                        " second(s), is fast exit: " + (c.fast ? "1" : "0")),
              1u);
  }
}

TEST_F(Unit, TestUnitReadySucceedsOnceTheDriveBecomesReady) {
  auto& g = rig.Create();
  int calls = 0;
  rig.drive.On(0x00, [&](const Bytes&, const Bytes&) {
    return ++calls < 3 ? Reply::Sense(2, 0x04, 0x01) : Reply::Good();  // becoming ready
  });
  rig.drive.Returns(0x51, Reply::Good(DiscInformation(0x0E, 1, 1, 1, 1)));
  EXPECT_EQ(Catch([&] { g.TestUnitReady(10, true); }), nullptr);
}

TEST_F(Unit, ExecuteCdbPassesTheCallersCommandAndData) {
  rig.drive.Returns(0xAC, Reply::Good(Bytes{1, 2, 3, 4, 5}));
  auto& g = rig.Create();
  const uint8_t cdb[12] = {0xAC, 0, 0, 0, 0, 0, 0, 0, 0, 1, 3, 0};
  uint8_t buffer[8] = {};
  g.ExecuteCDB(cdb, 12, buffer, sizeof buffer, 0);
  EXPECT_EQ(rig.drive.Cdb(0xAC), Bytes(cdb, cdb + 12));
  EXPECT_EQ(Bytes(buffer, buffer + 8), (Bytes{1, 2, 3, 4, 5, 0, 0, 0}));
  const uint8_t write[10] = {0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0};
  rig.drive.Returns(0x2A, Reply::Good());
  uint8_t data[4] = {9, 8, 7, 6};
  g.ExecuteCDB(write, 10, data, 4, 1);
  EXPECT_EQ(rig.drive.Out(0x2A), (Bytes{9, 8, 7, 6}));
}

}  // namespace
}  // namespace devtest
