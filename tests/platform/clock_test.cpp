// The virtual clock under concurrent sleepers.
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "support/test_support.h"

TEST(VirtualClock, ConcurrentSleepsAllAdvanceTime) {
  qvtest::VirtualTime time;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([] {
      for (int i = 0; i < 1000; ++i) qv::plat::SleepMs(100);
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(time.clock().NowMs(), 400000u);
  EXPECT_EQ(time.clock().SleepCount(), 4000u);
}
