// GrowArray growth policy, initialisation and failure behaviour.
#include <gtest/gtest.h>

#include "model/CellValue.h"
#include "model/GrowArray.h"
#include "model/ModelHeap.h"
#include "platform/ErrorState.h"

namespace kelp {
namespace {

TEST(GrowArray, GrowsByAnEighthBetweenFourAnd1024) {
  GrowArray<int32_t> a;
  ASSERT_TRUE(a.setSize(1));
  EXPECT_EQ(a.capacity(), 4);  // size 0: step 4
  ASSERT_TRUE(a.setSize(5));
  EXPECT_EQ(a.capacity(), 8);
  ASSERT_TRUE(a.setSize(100));
  EXPECT_EQ(a.capacity(), 100);  // n beats capacity + step
  ASSERT_TRUE(a.setSize(101));
  EXPECT_EQ(a.capacity(), 112);  // step 100 / 8 = 12
  ASSERT_TRUE(a.setSize(20000));
  ASSERT_TRUE(a.setSize(20001));
  EXPECT_EQ(a.capacity(), 21024);  // step capped at 1024

  GrowArray<int32_t> fixedStep;
  ASSERT_TRUE(fixedStep.setSize(1, 50));
  EXPECT_EQ(fixedStep.capacity(), 50);
  EXPECT_EQ(fixedStep.growBy(), 50);
}

TEST(GrowArray, ShrinkingKeepsStorageAndZeroFrees) {
  GrowArray<int32_t> a;
  ASSERT_TRUE(a.setSize(10));
  for (int i = 0; i < 10; ++i) a[i] = i;
  ASSERT_TRUE(a.setSize(3));
  EXPECT_EQ(a.size(), 3);
  EXPECT_GE(a.capacity(), 10);
  ASSERT_TRUE(a.setSize(5));
  EXPECT_EQ(a[4], 0);  // regrown elements are initialised again
  ASSERT_TRUE(a.setSize(0));
  EXPECT_EQ(a.capacity(), 0);
  EXPECT_EQ(a.data(), nullptr);
}

TEST(GrowArray, NewCellsAreBlankWithNoStyle) {
  GrowArray<CellRecord> cells;
  ASSERT_TRUE(cells.setSize(3));
  for (const CellRecord& c : cells) {
    EXPECT_EQ(c.value.kind, ValueKind::Empty);
    EXPECT_EQ(c.style, -1);
  }
}

TEST(GrowArray, InsertAndRemoveKeepOrder) {
  GrowArray<int32_t> a;
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(a.append(i));
  ASSERT_TRUE(a.insertAt(0, 99));
  ASSERT_TRUE(a.insertAt(6, 77));
  a.removeAt(3);
  std::vector<int32_t> seen(a.begin(), a.end());
  EXPECT_EQ(seen, (std::vector<int32_t>{99, 0, 1, 3, 4, 77}));
}

TEST(GrowArray, OutOfMemoryLeavesTheArrayUnchanged) {
  clearError();
  GrowArray<int32_t> a;
  ASSERT_TRUE(a.setSize(4));
  a[3] = 33;
  heapFailAfter(0);
  EXPECT_FALSE(a.setSize(1000));
  heapFailAfter(-1);
  EXPECT_EQ(pendingError(), 15u);
  EXPECT_EQ(a.size(), 4);
  EXPECT_EQ(a.capacity(), 4);
  EXPECT_EQ(a[3], 33);
  clearError();
}

}  // namespace
}  // namespace kelp
