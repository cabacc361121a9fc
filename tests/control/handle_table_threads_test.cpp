// The handle table under concurrent use.
#include <thread>
#include <vector>

#include "control/handle_table.h"
#include "support/test_support.h"

TEST(HandleTableThreads, ConcurrentAddFindRemove) {
  qv::control::HandleTable t;
  constexpr int kThreads = 4, kObjects = 500;
  std::vector<std::vector<int>> objects(kThreads, std::vector<int>(kObjects));
  std::vector<int> failures(kThreads, 0);
  std::vector<std::thread> threads;
  for (int th = 0; th < kThreads; ++th)
    threads.emplace_back([&, th] {
      for (int i = 0; i < kObjects; ++i) {
        void* p = &objects[th][i];
        const int32_t h = t.Add(p);
        if (h <= 0 || t.Find(h) != p) ++failures[th];
        if (i % 2) t.Remove(p);
      }
    });
  for (auto& th : threads) th.join();
  for (int f : failures) EXPECT_EQ(f, 0);
  EXPECT_EQ(t.Size(), static_cast<size_t>(kThreads * kObjects / 2));
}
