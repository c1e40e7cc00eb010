// GrowArray growth, initialisation and failure behaviour.
#include <gtest/gtest.h>

#include "model/CellValue.h"
#include "model/GrowArray.h"
#include "model/ModelHeap.h"
#include "platform/ErrorState.h"

namespace kelp {
namespace {

TEST(GrowArray, GrowthKeepsContentsAndShrinkingKeepsStorage) {
  GrowArray<int32_t> a;
  for (int32_t i = 0; i < 20001; ++i) ASSERT_TRUE(a.append(i));
  EXPECT_EQ(a.size(), 20001);
  EXPECT_GE(a.capacity(), a.size());
  for (int32_t i = 0; i < a.size(); ++i) ASSERT_EQ(a[i], i);
  ASSERT_TRUE(a.setSize(30000));  // one jump past any step
  EXPECT_EQ(a[20000], 20000);
  EXPECT_EQ(a[29999], 0);

  // A fixed step also keeps what is there.
  GrowArray<int32_t> fixedStep(3);
  for (int32_t i = 0; i < 10; ++i) ASSERT_TRUE(fixedStep.append(i * 7));
  for (int32_t i = 0; i < 10; ++i) EXPECT_EQ(fixedStep[i], i * 7);

  // Shrinking keeps the storage: growing back needs no memory, and regrown elements
  // start blank again.
  GrowArray<int32_t> b;
  ASSERT_TRUE(b.setSize(10));
  for (int i = 0; i < 10; ++i) b[i] = i + 1;
  ASSERT_TRUE(b.setSize(3));
  EXPECT_EQ(b.size(), 3);
  heapFailAfter(0);
  bool regrown = b.setSize(10);
  heapFailAfter(-1);
  ASSERT_TRUE(regrown);
  EXPECT_EQ(b[2], 3);
  EXPECT_EQ(b[4], 0);
  ASSERT_TRUE(b.setSize(0));
  EXPECT_EQ(b.capacity(), 0);
  EXPECT_EQ(b.data(), nullptr);
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
  const int32_t capacity = a.capacity();
  const int32_t* data = a.data();
  heapFailAfter(0);
  EXPECT_FALSE(a.setSize(1000));
  heapFailAfter(-1);
  EXPECT_EQ(pendingError(), 15u);
  EXPECT_EQ(a.size(), 4);
  EXPECT_EQ(a.capacity(), capacity);
  EXPECT_EQ(a.data(), data);
  EXPECT_EQ(a[3], 33);
  clearError();
}

}  // namespace
}  // namespace kelp
