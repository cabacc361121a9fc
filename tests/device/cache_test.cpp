// The write pipeline's pool: its limits, its refill and release.
#include <cstdint>

#include "record/cache.h"
#include "support/test_support.h"

namespace {

// Counts are bounded to 0..4096 (a negative one asks for the most), objects page-aligned.
TEST(Pool, CountsAreBoundedAndObjectsPageAligned) {
  for (const auto& [asked, made] : {std::pair{0, 0}, {4096, 4096}, {5000, 4096}, {-1, 4096}}) {
    SCOPED_TRACE(asked);
    CQuorvane_CacheManager pool(asked, 4096);
    EXPECT_EQ(pool.GetCount(), made);
    for (int32_t i = 0; i < pool.GetCount(); ++i) {
      const CQuorvane_CacheObject* o = pool.GetObject(i);
      ASSERT_NE(o, nullptr);
      EXPECT_EQ(reinterpret_cast<uintptr_t>(o->m__PUCHAR__Buffer) % 4096, 0u);
    }
    EXPECT_TRUE(pool.IsEmpty()) << "made, not queued";
  }
}

TEST(PoolUse, RefillQueuesEveryObjectInIndexOrderOnce) {
  CQuorvane_CacheManager pool(4, 65536);
  CQuorvane_CacheObject* taken = CQuorvane_CacheObject::FromLink(pool.RemoveHead());
  EXPECT_EQ(taken, nullptr);
  pool.Refill();
  taken = CQuorvane_CacheObject::FromLink(pool.RemoveHead());
  ASSERT_NE(taken, nullptr);
  EXPECT_EQ(taken->m__LONG__Index, 0);
  // A refill while an object is out still holds each object once.
  pool.Refill();
  std::vector<int32_t> order;
  while (CQuorvane_CacheObject* o = CQuorvane_CacheObject::FromLink(pool.RemoveHead())) order.push_back(o->m__LONG__Index);
  EXPECT_EQ(order, (std::vector<int32_t>{0, 1, 2, 3}));
}

// A released object is free again, behind the ones still free, its
// markers cleared: a stale end marker would end the next burn early.
TEST(PoolUse, ReleaseFreesTheObjectAtTheTail) {
  CQuorvane_CacheManager pool(2, 65536);
  pool.Refill();
  CQuorvane_CacheObject* o = CQuorvane_CacheObject::FromLink(pool.RemoveHead());
  ASSERT_NE(o, nullptr);
  o->m__BOOLEAN__IsEndMarker = true;
  o->m__ULONG__DataBytes = 61440;
  pool.Release(o);
  EXPECT_FALSE(o->m__BOOLEAN__IsEndMarker);
  EXPECT_EQ(o->m__ULONG__DataBytes, 0u);
  EXPECT_EQ(CQuorvane_CacheObject::FromLink(pool.RemoveHead())->m__LONG__Index, 1);
  EXPECT_EQ(CQuorvane_CacheObject::FromLink(pool.RemoveHead()), o);
}

}  // namespace
