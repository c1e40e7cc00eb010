// RowCells: slots kept across growth both ways, out of memory, and the heap they hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <vector>

#include "model/ModelHeap.h"
#include "model/RowCells.h"
#include "platform/ErrorState.h"

namespace kelp {
namespace {

CellRecord numberCell(double n) { return CellRecord{numberValue(n), -1}; }

// Every slot holds the model's number, or is blank where the model has none.
::testing::AssertionResult matches(const RowCells& cells, const std::map<int32_t, double>& model) {
  if (model.empty()) {
    if (cells.size() == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "slots in a row never written";
  }
  if (cells.first() != model.begin()->first || cells.size() != model.rbegin()->first + 1)
    return ::testing::AssertionFailure() << "slots " << cells.first() << ".." << cells.size() << " for columns "
                                         << model.begin()->first << ".." << model.rbegin()->first;
  if (cells.capacity() < cells.size() - cells.first() || cells.capacity() > RowCells::MaxSlots)
    return ::testing::AssertionFailure() << "capacity " << cells.capacity();
  for (int32_t c = cells.first(); c < cells.size(); ++c) {
    auto it = model.find(c);
    const CellRecord& slot = cells[c];
    if (it == model.end() ? slot.value.kind != ValueKind::Empty || slot.style != -1
                          : slot.value.kind != ValueKind::Number || slot.value.number() != it->second)
      return ::testing::AssertionFailure() << "column " << c;
  }
  return ::testing::AssertionSuccess();
}

TEST(RowCells, GrowsLeftAndRightKeepingEverySlot) {
  // Both edges of a row, from either side.
  for (auto [a, b] : {std::pair{255, 0}, std::pair{0, 255}, std::pair{128, 127}, std::pair{5, 4}}) {
    RowCells cells;
    std::map<int32_t, double> model;
    ASSERT_TRUE(cells.cover(a));
    cells[a] = numberCell(1);
    model[a] = 1;
    ASSERT_TRUE(cells.cover(b));
    cells[b] = numberCell(2);
    model[b] = 2;
    EXPECT_TRUE(matches(cells, model)) << a << " then " << b;
  }

  // Random writes in narrow windows and over the whole row, checked after every write.
  std::mt19937 random(20240);
  for (int row = 0; row < 400; ++row) {
    RowCells cells;
    std::map<int32_t, double> model;
    const int32_t width = row % 4 == 0 ? 256 : 1 + static_cast<int32_t>(random() % 12);
    const int32_t base = static_cast<int32_t>(random() % (257 - width));
    const int writes = 1 + static_cast<int>(random() % 40);
    for (int i = 0; i < writes; ++i) {
      const int32_t col = base + static_cast<int32_t>(random() % width);
      const double n = row * 1000.0 + i;
      ASSERT_TRUE(cells.cover(col));
      cells[col] = numberCell(n);
      model[col] = n;
      ASSERT_TRUE(matches(cells, model)) << "row " << row << " write " << i << " at " << col;
    }
  }
}

// Columns inserted and removed in random rows: every cell is where the model moved it
// and every other slot is blank (slots may stay wider than the cells after a move).
TEST(RowCells, InsertingAndRemovingColumnsMovesTheCells) {
  std::mt19937 random(7);
  for (int row = 0; row < 300; ++row) {
    RowCells cells;
    std::map<int32_t, double> model;
    for (int i = 0; i < 1 + static_cast<int>(random() % 6); ++i) {
      // Every third row crowds the last columns, which insertions push off.
      const int32_t col = static_cast<int32_t>(row % 3 == 0 ? 250 + random() % 6 : random() % 256);
      ASSERT_TRUE(cells.cover(col));
      cells[col] = numberCell(i);
      model[col] = i;
    }
    for (int step = 0; step < 6; ++step) {
      const int32_t at = static_cast<int32_t>(random() % 256);
      const int32_t count = 1 + static_cast<int32_t>(random() % std::min(8, 256 - at));
      std::map<int32_t, double> moved;
      if (random() % 2) {
        cells.truncate(RowCells::MaxSlots - count);
        ASSERT_TRUE(cells.insertSlots(at, count));
        for (auto [c, n] : model)
          if (c < at) moved[c] = n;
          else if (c + count < RowCells::MaxSlots) moved[c + count] = n;
      } else {
        cells.removeSlots(at, count);
        for (auto [c, n] : model)
          if (c < at) moved[c] = n;
          else if (c >= at + count) moved[c - count] = n;
      }
      model = moved;
      for (int32_t c = 0; c < RowCells::MaxSlots; ++c) {
        auto it = model.find(c);
        if (it == model.end()) {
          ASSERT_TRUE(!cells.has(c) || cells[c].value.kind == ValueKind::Empty) << "row " << row << " column " << c;
        } else {
          ASSERT_TRUE(cells.has(c)) << "row " << row << " column " << c;
          ASSERT_EQ(cells[c].value.number(), it->second) << "row " << row << " column " << c;
        }
      }
      ASSERT_LE(cells.size(), RowCells::MaxSlots);
    }
  }
}

TEST(RowCells, OutOfMemoryLeavesTheSlotsAsTheyWere) {
  clearError();
  // Out of the single slot to the right and to the left, then out of a full heap array
  // to the right and to the left.
  struct Step {
    std::vector<int32_t> written;
    int32_t col;
  };
  const Step steps[] = {{{50}, 51}, {{50}, 49}, {{50, 51, 52, 53}, 200}, {{50, 51, 52, 53}, 3}};
  for (const Step& step : steps) {
    RowCells cells;
    std::map<int32_t, double> model;
    for (int32_t col : step.written) {
      ASSERT_TRUE(cells.cover(col));
      cells[col] = numberCell(col);
      model[col] = col;
    }
    // Fill whatever room the array has, so that the step must grow it.
    while (cells.size() - cells.first() < cells.capacity()) {
      const int32_t col = cells.size();
      ASSERT_TRUE(cells.cover(col));
      cells[col] = numberCell(col);
      model[col] = col;
    }
    const int32_t first = cells.first(), size = cells.size(), capacity = cells.capacity();
    const CellRecord* data = cells.data();
    heapFailAfter(0);
    const bool covered = cells.cover(step.col);
    heapFailAfter(-1);
    EXPECT_FALSE(covered) << step.col;
    EXPECT_EQ(pendingError(), 15u);
    EXPECT_EQ(cells.first(), first);
    EXPECT_EQ(cells.size(), size);
    EXPECT_EQ(cells.capacity(), capacity);
    EXPECT_EQ(cells.data(), data);
    EXPECT_TRUE(matches(cells, model));
    clearError();

    // With memory back the same step keeps every slot; a slot already there, and room
    // already held to the right, then need no memory.
    ASSERT_TRUE(cells.cover(step.col));
    cells[step.col] = numberCell(step.col);
    model[step.col] = step.col;
    EXPECT_TRUE(matches(cells, model));
    const int32_t last = std::min(cells.first() + cells.capacity() - 1, RowCells::MaxSlots - 1);
    heapFailAfter(0);
    const bool again = cells.cover(50);
    const bool intoRoom = cells.cover(last);
    heapFailAfter(-1);
    EXPECT_TRUE(again);
    EXPECT_TRUE(intoRoom);
    EXPECT_EQ(pendingError(), 0u);
    cells[last] = numberCell(-1);
    model[last] = -1;
    EXPECT_TRUE(matches(cells, model));  // the slots between came blank
    clearError();
  }
}

TEST(RowCells, OneCellHoldsNoHeapAndWiderRowsGiveItBack) {
  const size_t before = heapBytesInUse();
  {
    RowCells one;
    ASSERT_TRUE(one.cover(17));
    one[17] = numberCell(4);
    EXPECT_EQ(heapBytesInUse(), before);
    EXPECT_EQ(one[17].value.number(), 4);

    RowCells wide;
    for (int32_t c = 255; c >= 0; c -= 3) ASSERT_TRUE(wide.cover(c));
    EXPECT_GT(heapBytesInUse(), before);
  }
  EXPECT_EQ(heapBytesInUse(), before);
}

}  // namespace
}  // namespace kelp
