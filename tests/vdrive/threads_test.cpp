// Several threads on one drive: handles of their own and one shared, while
// discs go in and out. Every answer must be one a drive could give.
#include <atomic>
#include <set>
#include <thread>

#include "door_client.h"

namespace qvtest {
namespace {

TEST(VdriveThreads, CommandsAndDiscChangesInterleave) {
  VirtualDriveHome home;
  MakeDrive("d", "cd-rom");
  DoorClient shared("d");
  std::atomic<int> running{4};
  std::atomic<int> bad{0};
  const std::set<std::string> allowed = {"GOOD", "02/3A/01", "02/3A/02", "02/04/01", "06/28/00"};
  auto worker = [&](bool own) {
    std::unique_ptr<DoorClient> mine;
    if (own) mine = std::make_unique<DoorClient>("d");
    DoorClient& d = own ? *mine : shared;
    for (int i = 0; i < 150; ++i) {
      for (const auto& cdb : {TestUnitReady(), Read10(16, 4), GetEventStatus(0x10), ModeSense10(0x2A), ReadCapacity()}) {
        const Reply r = d.In(cdb, 8192);
        if (!allowed.count(r.Outcome())) ++bad;
      }
    }
    --running;
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) threads.emplace_back(worker, t % 2 == 0);
  int changes = 0;
  for (int i = 0; running > 0; ++i, ++changes) {
    EXPECT_EQ(QvDrive_InsertMedia("d", i % 2 ? "cd-rom" : "dvd-rom"), 0u);
    if (i % 3 == 0) {
      EXPECT_EQ(QvDrive_Eject("d"), 0u);
    }
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_GT(changes, 0);
}

}  // namespace
}  // namespace qvtest
