// The unit commands: load, eject and test unit ready, in virtual time,
// with the drive workarounds and an empty tray. (Lock and release are the
// tray's, in vdrive_media_test.cpp.)
#include "drive_rig.h"

namespace devtest {
namespace {

// A second of pause before the command, then 5 s between failed polls.
TEST_F(DeviceTest, LoadClosesTheTrayAndWaitsAsTheMediumWants) {
  const struct {
    const char* media;
    bool waitForMedia;
    std::vector<uint8_t> opcodes;  // after the disc type query
    uint64_t ms;                   // virtual time it takes
  } cases[] = {{"cd-r", false, {0x46, 0x1B, 0x51, 0x00}, 1000},
               // DVD-RAM answers READ DISC INFORMATION late: only TEST UNIT READY is polled.
               {"dvd-ram", false, {0x46, 0x1B, 0x00}, 1000},
               // No profile: one TEST UNIT READY tells a disc spinning up
               // from an empty tray. An empty tray ends each phase at once...
               {nullptr, false, {0x46, 0x00, 0x1B, 0x51, 0x00}, 1000},
               // ...unless the caller waits for a disc: two attempts per phase.
               {nullptr, true, {0x46, 0x00, 0x1B, 0x51, 0x51, 0x00, 0x00}, 1000 + 2 * 5000}};
  for (const auto& c : cases) {
    auto& g = Create(c.media);
    const size_t before = Opcodes().size();
    const uint64_t start = home.clock().NowMs();
    g.LoadEx(c.waitForMedia);
    const std::vector<uint8_t> all = Opcodes();
    EXPECT_EQ(std::vector<uint8_t>(all.begin() + static_cast<long>(before), all.end()), c.opcodes);
    EXPECT_EQ(Cdb(0x1B), (Bytes{0x1B, 0x01, 0, 0, 0x03, 0}));
    EXPECT_EQ(home.clock().NowMs() - start, c.ms);
  }
}

TEST_F(DeviceTest, LoadFailsWhenStartStopUnitFails) {
  auto& g = Create("cd-r", nullptr, {Refuse(0x1B, 2, 0x53, 0x02)});  // removal prevented
  auto e = Fails(8, [&] { g.Load(); });
  EXPECT_EQ(e->FailureInformation()->m__UCHAR__Sense[12], 0x53);
}

TEST_F(DeviceTest, EjectUsesTheImmediateEjectOnlyOnTheBrokenDrive) {
  for (const auto& [model, broken] : {std::pair{"MITSUMI:CR-4802TE", true}, {"MITSUMI:CR-4804TE", false}}) {
    auto& g = Create("cd-r", model);
    g.SetWriteParameters(2, 8, 4, false, false, 0, 0, 0, 0, 0, false);  // session-at-once: not track-at-once
    const size_t selects = Count(0x55);
    g.Eject();
    EXPECT_EQ(Cdb(0x1B), (Bytes{0x1B, static_cast<uint8_t>(broken ? 0x01 : 0x00), 0, 0, 0x02, 0}));
    ASSERT_EQ(Count(0x55) - selects, broken ? 1u : 0u);
    if (broken) { EXPECT_EQ(Out(0x55, selects).at(8 + 2) & 0x0F, 1) << "track-at-once again"; }
  }
}

// An empty tray: with fast exit the failure comes at once; without, after
// two phases of polling the given seconds, one attempt a second.
TEST_F(DeviceTest, TestUnitReadyOnAnEmptyTrayFailsWithNoMedium) {
  auto& g = Create(nullptr);
  const struct {
    uint32_t seconds;
    bool fast;
    uint64_t ms;
    size_t discInformations;
  } cases[] = {{30, true, 0, 1}, {5, false, 2 * 4 * 1000, 5}};
  for (const auto& c : cases) {
    const uint64_t start = home.clock().NowMs();
    const size_t before = Count(0x51);
    auto e = Fails(8, [&] { g.TestUnitReady(c.seconds, c.fast); });
    EXPECT_EQ(home.clock().NowMs() - start, c.ms) << c.seconds;
    EXPECT_EQ(Count(0x51) - before, c.discInformations) << c.seconds;
    EXPECT_EQ(e->FailureInformation()->m__UCHAR__Sense[2] & 0x0F, 2);
    EXPECT_EQ(e->FailureInformation()->m__UCHAR__Sense[12], 0x3A);
  }
}

TEST_F(DeviceTest, TestUnitReadySucceedsOnceTheDriveBecomesReady) {
  auto& g = Create("cd-r", nullptr, {Refuse(0x00, 2, 0x04, 0x01, {{"times", 2}})});  // becoming ready
  EXPECT_EQ(Catch([&] { g.TestUnitReady(10, true); }), nullptr);
  EXPECT_GE(Count(0x00), 3u);
}

TEST_F(DeviceTest, ExecuteCdbPassesTheCallersCommandAndData) {
  auto& g = Create("cd-r", nullptr, {Garble(0xAC, 0, {1, 2, 3, 4, 5}), Cut(0xAC, 5)});
  const uint8_t cdb[12] = {0xAC, 0, 0, 0, 0, 0, 0, 0, 0, 1, 3, 0};
  uint8_t buffer[8] = {};
  g.ExecuteCDB(cdb, 12, buffer, sizeof buffer, 0);
  EXPECT_EQ(Cdb(0xAC), Bytes(cdb, cdb + 12));
  EXPECT_EQ(Bytes(buffer, buffer + 8), (Bytes{1, 2, 3, 4, 5, 0, 0, 0}));
  // Four bytes for a block: the drive refuses it, but they went out.
  const uint8_t write[10] = {0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0};
  uint8_t data[4] = {9, 8, 7, 6};
  Catch([&] { g.ExecuteCDB(write, 10, data, 4, 1); });
  EXPECT_EQ(Out(0x2A), (Bytes{9, 8, 7, 6}));
}

}  // namespace
}  // namespace devtest
