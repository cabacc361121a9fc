// Handing out 32-bit numbers for engine objects.
#include <cstdint>
#include <set>

#include "control/handle_table.h"
#include "support/test_support.h"

namespace {

using qv::control::HandleTable;

TEST(HandleTable, NumbersStandForObjectsUntilRemoved) {
  HandleTable t;
  int a = 0, b = 0;
  EXPECT_EQ(t.Add(nullptr), 0);
  const int32_t ha = t.Add(&a), hb = t.Add(&b);
  EXPECT_GT(ha, 0);
  EXPECT_GT(hb, 0);
  EXPECT_NE(ha, hb);
  EXPECT_EQ(t.Add(&a), ha) << "the same object keeps its number";
  EXPECT_EQ(t.Find(ha), &a);
  EXPECT_EQ(t.Find(hb), &b);
  EXPECT_EQ(t.Size(), 2u);
  t.Remove(&a);
  EXPECT_EQ(t.Find(hb), &b);
  t.Remove(&a);  // twice: nothing happens
  EXPECT_EQ(t.Size(), 1u);
  for (int32_t h : {0, -1, ha, hb + 1, INT32_MAX, INT32_MIN}) EXPECT_EQ(t.Find(h), nullptr) << h;
  EXPECT_NE(t.Add(&a), ha) << "a removed number is not handed out again at once";
}

// Addresses above 4 GiB are the reason for the table: they come back whole.
TEST(HandleTable, HighAddressesRoundTrip) {
  HandleTable t;
  std::set<int32_t> seen;
  for (uintptr_t i = 1; i <= 64; ++i) {
    void* p = reinterpret_cast<void*>((uintptr_t{0x7FF0} << 32) | (i << 4));
    const int32_t h = t.Add(p);
    EXPECT_TRUE(seen.insert(h).second);
    EXPECT_EQ(t.Find(h), p);
  }
}

}  // namespace
