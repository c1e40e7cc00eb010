// Sheet storage: slots, rows, columns, scans, merged areas and ownership on writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <tuple>
#include <vector>

#include "model/FormulaTable.h"
#include "model/HandlePool.h"
#include "model/ModelHeap.h"
#include "model/Sheet.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"

namespace kelp {
namespace {

CellRecord cell(CellValue value, int16_t style = -1) { return CellRecord{value, style}; }

CellRecord styledBlank(int16_t style) { return cell(emptyValue(), style); }

CellRecord textCell(std::u16string_view text) {
  CellValue v;
  makeText(v, text);
  return cell(v);
}

CellRecord formulaCell(uint16_t row, uint16_t column, uint16_t sheet) {
  const uint8_t tokens[] = {5, 0, 0, 0, 4, 1, 0, 0};
  uint32_t handle = formulaPool().add(tokens, sizeof tokens, 1);
  return cell(newFormulaValue(handle, CellPosition{column, row, sheet}));
}

// Every row and slot the sheet stores: (row, -1, first column, cell count) for a row,
// then (row, column, kind, payload bits, style) for each of its slots.
using Stored = std::tuple<int32_t, int32_t, int32_t, uint64_t, int32_t>;
std::vector<Stored> stored(const Sheet& sheet) {
  std::vector<Stored> out;
  for (int32_t r = sheet.nextRow(-1); r != NoRow; r = sheet.nextRow(r)) {
    out.emplace_back(r, -1, sheet.firstColumnOf(r), sheet.cellCountOf(r), 0);
    for (int32_t c = 0; c < sheet.cellCountOf(r); ++c) {
      const CellRecord* slot = sheet.cellPtr(c, r);
      if (!slot) continue;
      uint64_t bits;
      std::memcpy(&bits, slot->value.payload, 8);
      out.emplace_back(r, c, static_cast<int32_t>(slot->value.kind), bits, slot->style);
    }
  }
  return out;
}

TEST(Sheet, BlankWritesCreateNothingStyledBlanksCreateSlots) {
  Sheet sheet;
  EXPECT_TRUE(sheet.setCell(4, 7, blankCell()));
  EXPECT_FALSE(sheet.rowExists(7));
  EXPECT_TRUE(sheet.setCell(4, 7, styledBlank(0)));
  EXPECT_TRUE(sheet.rowExists(7));
  ASSERT_NE(sheet.cellPtr(4, 7), nullptr);
  EXPECT_FALSE(sheet.isUsed(4, 7));  // style 0 is not a style of its own
  EXPECT_TRUE(sheet.setCell(5, 7, styledBlank(5)));
  EXPECT_TRUE(sheet.isUsed(5, 7));
  EXPECT_FALSE(sheet.hasValue(5, 7));
  CellRecord absent;
  sheet.getCell(200, 9000, absent);
  EXPECT_EQ(absent.value.kind, ValueKind::Empty);
  EXPECT_EQ(absent.style, -1);
}

TEST(Sheet, FirstColumnIsLoweredAndGapsReadBlank) {
  Sheet sheet;
  ASSERT_TRUE(sheet.setCell(10, 0, cell(numberValue(1))));
  ASSERT_TRUE(sheet.setCell(3, 0, cell(numberValue(2))));
  EXPECT_EQ(sheet.firstColumnOf(0), 3);
  EXPECT_EQ(sheet.cellCountOf(0), 11);
  for (int c = 4; c <= 9; ++c) {
    CellRecord r;
    sheet.getCell(c, 0, r);
    EXPECT_EQ(r.value.kind, ValueKind::Empty);
    EXPECT_EQ(r.style, -1);
  }
  EXPECT_EQ(sheet.nextValueInRow(0, -1), 3);
  EXPECT_EQ(sheet.nextValueInRow(0, 3), 10);
  EXPECT_EQ(sheet.nextValueInRow(0, 10), NoColumn);
  EXPECT_EQ(sheet.lastValueInRow(0, NoColumn), 10);
  EXPECT_EQ(sheet.lastValueInRow(0, 10), 3);
  EXPECT_EQ(sheet.lastValueInRow(0, 3), -1);
  EXPECT_EQ(sheet.nextValueInRow(1, -1), NoColumn);
  EXPECT_EQ(sheet.lastValueInRow(1, NoColumn), -1);
  EXPECT_EQ(sheet.firstColumnOf(1), -1);
}

TEST(Sheet, RowHeightsHiddenAndDefault) {
  Sheet sheet;
  ASSERT_TRUE(sheet.setCell(0, 3, cell(numberValue(1))));
  ASSERT_TRUE(sheet.setCell(0, 9, cell(numberValue(1))));
  // The default height on an absent row creates nothing.
  ASSERT_TRUE(sheet.setRowHeight(20, 255, true));
  EXPECT_FALSE(sheet.rowExists(20));
  ASSERT_TRUE(sheet.setRowHeight(3, 400, true));
  EXPECT_TRUE(sheet.isRowHeightExplicit(3));
  EXPECT_EQ(sheet.rowHeight(3), 400);
  EXPECT_EQ(sheet.rowHeightPixels(3), 26);
  ASSERT_TRUE(sheet.setRowHidden(3, true));
  EXPECT_EQ(sheet.visibleRowHeight(3), 0);
  EXPECT_EQ(sheet.rowHeight(3), 400);
  EXPECT_EQ(sheet.rowHeightDevicePixels(9, 96), 255 * 96 / 20 / 72);
  EXPECT_EQ(sheet.rowHeight(40000), 255);
  EXPECT_FALSE(sheet.isRowHidden(40000));
}

TEST(Sheet, ColumnTableSettersAndRuns) {
  ColumnTable columns;
  columns.setDefaultWidth(100);
  EXPECT_EQ(columns.defaultWidth(), ColumnTable::MinimumDefaultWidth);
  columns.setDefaultWidth(2300);
  EXPECT_EQ(columns.columnWidth(200), 2300);
  ASSERT_TRUE(columns.setColumnWidths(2, 4, 3000));
  ASSERT_TRUE(columns.setColumnsHidden(4, 4, true));
  ASSERT_TRUE(columns.setColumnOutlineLevel(6, 7, 3));
  EXPECT_TRUE(columns.setColumnWidths(5, 4, 1));  // empty range: nothing happens
  EXPECT_EQ(columns.columnWidth(5), 2300);
  EXPECT_EQ(columns.visibleColumnWidth(4), 0);
  EXPECT_EQ(columns.columnOutlineLevel(7), 3);
  EXPECT_EQ(columns.columnWidthPixels(2, 0.01), 31);  // 3000 * 0.01 + 1.5 truncated
  EXPECT_EQ(columns.visibleColumnWidthPixels(4, 0.01), 0);

  int32_t first, last;
  ColumnRecord record;
  ASSERT_TRUE(columns.nextColumnRun(0, first, last, record));
  EXPECT_EQ(first, 2);
  EXPECT_EQ(last, 3);
  EXPECT_EQ(record.width, 3000);
  ASSERT_TRUE(columns.nextColumnRun(last + 1, first, last, record));
  EXPECT_EQ(first, 4);
  EXPECT_EQ(last, 4);
  ASSERT_TRUE(columns.nextColumnRun(last + 1, first, last, record));
  EXPECT_EQ(first, 6);
  EXPECT_EQ(last, 7);
  EXPECT_EQ(record.width, 2300);  // a default width reported as the default
  EXPECT_FALSE(columns.nextColumnRun(last + 1, first, last, record));

  // Width 0 only hides; the default width on a plain record resets it.
  ASSERT_TRUE(columns.applyColumnWidth(2, 2, 0));
  EXPECT_TRUE(columns.isColumnHidden(2));
  EXPECT_EQ(columns.record(2).width, 3000);
  ASSERT_TRUE(columns.applyColumnWidth(3, 3, 2300));
  EXPECT_EQ(columns.record(3), defaultColumnRecord());
  ASSERT_TRUE(columns.applyColumnWidth(2, 2, 1200));
  EXPECT_FALSE(columns.isColumnHidden(2));
  EXPECT_EQ(columns.columnWidth(2), 1200);
  columns.resetColumns(0, 255);
  EXPECT_FALSE(columns.nextColumnRun(0, first, last, record));
}

TEST(Sheet, EffectiveStyleFallsBackToRowThenColumn) {
  Sheet sheet;
  ASSERT_TRUE(sheet.columns.setColumnStyles(1, 1, 3));
  EXPECT_EQ(sheet.effectiveStyle(1, 5), 3);
  ASSERT_TRUE(sheet.setRowStyle(5, 4));
  EXPECT_EQ(sheet.effectiveStyle(1, 5), 4);
  ASSERT_TRUE(sheet.setCell(1, 5, cell(numberValue(1), 6)));
  EXPECT_EQ(sheet.effectiveStyle(1, 5), 6);
  CellRecord r;
  sheet.getCellWithStyle(1, 6, r);
  EXPECT_EQ(r.style, 3);
  // Setting a style keeps the content.
  ASSERT_TRUE(sheet.setCellStyle(1, 5, 7));
  sheet.getCell(1, 5, r);
  EXPECT_EQ(r.style, 7);
  EXPECT_EQ(r.value.number(), 1);
  ASSERT_NE(sheet.ensureCellPtr(9, 9), nullptr);
  sheet.getCell(9, 9, r);
  EXPECT_EQ(r.style, -1);
}

TEST(Sheet, OverwritingReleasesTheOldTextAndClearingKeepsTheSlot) {
  Sheet sheet;
  CellRecord text = textCell(u"owned");
  uint32_t handle = text.value.u32();
  ASSERT_TRUE(sheet.setCell(2, 2, text));
  ASSERT_TRUE(sheet.setCell(2, 2, cell(numberValue(3))));
  EXPECT_FALSE(textPool().isLive(handle));
  ASSERT_TRUE(sheet.setCell(2, 2, blankCell()));
  EXPECT_NE(sheet.cellPtr(2, 2), nullptr);
  EXPECT_FALSE(sheet.isUsed(2, 2));
  EXPECT_EQ(sheet.lastUsedColumn(), -1);
}

TEST(Sheet, UsedRangeIgnoresStylesAlone) {
  Sheet sheet;
  ASSERT_TRUE(sheet.setCell(7, 30, styledBlank(5)));
  EXPECT_EQ(sheet.lastUsedColumn(), -1);
  EXPECT_EQ(sheet.lastUsedRow(-1), -1);
  ASSERT_TRUE(sheet.setCell(2, 12, cell(numberValue(1))));
  ASSERT_TRUE(sheet.setCell(5, 4, cell(logicalValue(true))));
  EXPECT_EQ(sheet.lastUsedColumn(), 5);
  EXPECT_EQ(sheet.lastUsedRow(-1), 12);
  EXPECT_EQ(sheet.lastUsedRow(5), 4);
  EXPECT_EQ(sheet.lastUsedRow(6), -1);
  EXPECT_EQ(sheet.lastUsedInRow(30, NoColumn), 7);
  EXPECT_EQ(sheet.nextUsedInRow(30, -1), 7);
}

TEST(Sheet, VisibilityNeedsAValueOrAStyleThatDraws) {
  auto book = newWorkbook(1);
  Sheet& sheet = *book->sheetAt(0);
  StyleRecord plain = newStyleRecord();
  StyleRecord bordered = plain;
  bordered.setBorderStyle(Edge::Bottom, 1);
  StyleRecord filled = plain;
  filled.setFillForeground(12);
  int16_t plainIndex = static_cast<int16_t>(book->findOrAddStyle(plain));
  int16_t borderIndex = static_cast<int16_t>(book->findOrAddStyle(bordered));
  int16_t fillIndex = static_cast<int16_t>(book->findOrAddStyle(filled));
  ASSERT_TRUE(sheet.setCell(0, 0, styledBlank(plainIndex)));
  ASSERT_TRUE(sheet.setCell(1, 0, styledBlank(borderIndex)));
  ASSERT_TRUE(sheet.setCell(2, 0, styledBlank(fillIndex)));
  ASSERT_TRUE(sheet.setCell(3, 0, cell(numberValue(0))));
  EXPECT_FALSE(sheet.isVisible(0, 0));
  EXPECT_TRUE(sheet.isVisible(1, 0));
  EXPECT_TRUE(sheet.isVisible(2, 0));
  EXPECT_TRUE(sheet.isVisible(3, 0));
  EXPECT_EQ(sheet.lastVisibleInRow(0, 3), 2);
  EXPECT_EQ(sheet.lastVisibleInRow(0, 1), -1);
  // Style 0 has no fill pattern, so a blank made bold from it draws nothing, whatever
  // its automatic fill colour, as the grid paints it.
  StyleRecord bold = book->style(0);
  bold.font = 1;
  ASSERT_TRUE(sheet.setCell(4, 0, styledBlank(static_cast<int16_t>(book->findOrAddStyle(bold)))));
  EXPECT_FALSE(sheet.isVisible(4, 0));
}

TEST(Sheet, MergedAreasSearchesAndExpansion) {
  Sheet sheet;
  ASSERT_TRUE(sheet.mergedAreas.append(Area{0, 0, 1, 1}));    // A1:B2
  ASSERT_TRUE(sheet.mergedAreas.append(Area{1, 2, 3, 3}));    // C2:D4
  ASSERT_TRUE(sheet.mergedAreas.append(Area{10, 10, 10, 12}));
  Area found{};
  EXPECT_EQ(sheet.findMergedAt(1, 1, &found), 0);
  EXPECT_EQ(found, (Area{0, 0, 1, 1}));
  EXPECT_EQ(sheet.findMergedAt(5, 5), -1);
  EXPECT_EQ(sheet.findMergedEqual(Area{1, 2, 3, 3}), 1);
  EXPECT_EQ(sheet.findMergedInside(Area{0, 0, 5, 5}), 0);
  EXPECT_TRUE(sheet.anyMergedOverlap(Area{3, 3, 3, 3}));
  EXPECT_FALSE(sheet.anyMergedOverlap(Area{5, 0, 9, 9}));
  // B2 touches A1:B2, whose box touches C2:D4 in turn.
  EXPECT_EQ(sheet.expandToMerged(Area{1, 1, 1, 2}), (Area{0, 0, 3, 3}));
  EXPECT_TRUE(sheet.unmergeWithin(Area{0, 0, 9, 9}));
  EXPECT_EQ(sheet.mergedAreas.size(), 1);
  EXPECT_FALSE(sheet.unmergeWithin(Area{0, 0, 9, 9}));
}

TEST(Sheet, OwnedFormulasMoveIntoTheWorkbooksTable) {
  auto book = newWorkbook(2);
  Sheet& sheet = *book->sheetAt(1);
  FormulaTable& table = book->formulas();
  const int32_t detached = FormulaTable::detached().count();
  // Made for another cell: the write puts it where it lands.
  ASSERT_TRUE(sheet.setCell(0, 0, formulaCell(9, 9, 0)));
  const CellValue& first = sheet.cellPtr(0, 0)->value;
  EXPECT_EQ(&formulaTableOf(first), &table);
  EXPECT_EQ(formulaPosition(first).row, 0);
  EXPECT_EQ(formulaPosition(first).column, 0);
  EXPECT_EQ(formulaPosition(first).sheet, 1);
  EXPECT_EQ(FormulaTable::detached().count(), detached) << "the detached entry was given back";
  EXPECT_TRUE(table.needsOrdering);
  ASSERT_TRUE(sheet.setCell(0, 1, formulaCell(1, 0, 1)));
  // Moving bytes with ownership off adds nothing and tells the entry its new cell.
  CellRecord moved;
  sheet.getCell(0, 1, moved);
  ASSERT_TRUE(sheet.setCellOwned(5, 5, moved, false));
  ASSERT_TRUE(sheet.setCellOwned(0, 1, blankCell(), false));
  EXPECT_EQ(table.count(), 2);
  EXPECT_EQ(formulaPosition(sheet.cellPtr(5, 5)->value).row, 5);
  ASSERT_TRUE(sheet.setCell(5, 5, blankCell()));
  EXPECT_EQ(table.count(), 1);
  // Removing the sheet before moves the formula's sheet down with its own.
  book->deleteSheet(0);
  EXPECT_EQ(formulaPosition(book->sheetAt(0)->cellPtr(0, 0)->value).sheet, 0);
  EXPECT_EQ(table.count(), 1);

  // A sheet on its own leaves its formulas detached.
  Sheet alone;
  ASSERT_TRUE(alone.setCell(0, 0, formulaCell(0, 0, 0)));
  EXPECT_EQ(formulaTableNumber(alone.cellPtr(0, 0)->value), DetachedTable);
}

TEST(Sheet, OutOfMemoryLeavesTheCellAndSkipsLaterWrites) {
  clearError();
  Sheet sheet;
  ASSERT_TRUE(sheet.setCell(0, 0, cell(numberValue(1))));
  size_t liveTexts = textPool().liveCount();
  CellRecord text = textCell(u"dropped");
  heapFailAfter(0);
  EXPECT_FALSE(sheet.setCell(100, 0, text));  // the row must grow
  heapFailAfter(-1);
  EXPECT_EQ(pendingError(), 15u);
  EXPECT_EQ(sheet.cellCountOf(0), 1);
  EXPECT_EQ(textPool().liveCount(), liveTexts);  // the refused text was released
  // While the code stays 15 even writes that need no memory are skipped.
  EXPECT_FALSE(sheet.setCell(0, 0, cell(numberValue(2))));
  EXPECT_EQ(sheet.cellValue(0, 0).number(), 1);
  clearError();
  EXPECT_TRUE(sheet.setCell(0, 0, cell(numberValue(2))));
  EXPECT_EQ(sheet.cellValue(0, 0).number(), 2);

  heapFailAfter(0);
  EXPECT_FALSE(sheet.setCell(0, 500, cell(numberValue(3))));  // a new row
  heapFailAfter(-1);
  EXPECT_FALSE(sheet.rowExists(500));
  clearError();
}

TEST(Sheet, RowsAcrossGroupsAreFoundBothWaysAndNeverMove) {
  Sheet sheet;
  std::set<int32_t> rows{0, 15, 16, 17, 31, 32, 47, 1000, 65519, 65520, 65535};
  std::mt19937 random(7);
  while (rows.size() < 400) rows.insert(static_cast<int32_t>(random() % 65536));
  std::vector<int32_t> order(rows.begin(), rows.end());
  std::shuffle(order.begin(), order.end(), random);
  ASSERT_TRUE(sheet.setCell(3, 16, cell(numberValue(16))));
  const Row* kept = sheet.rowAt(16);
  for (int32_t r : order) ASSERT_TRUE(sheet.setCell(r % 7 + 3 * (r == 16), r, cell(numberValue(r))));
  EXPECT_EQ(sheet.rowAt(16), kept);  // rows made later did not move it
  EXPECT_EQ(sheet.rowArraySize(), 65536);
  EXPECT_EQ(sheet.lastRowIndex(), 65535);

  std::vector<int32_t> forward, backward;
  // Bounded, so that a walk that stalls fails instead of hanging.
  for (int32_t r = sheet.nextRow(-1); r != NoRow && forward.size() <= rows.size(); r = sheet.nextRow(r))
    forward.push_back(r);
  for (int32_t r = sheet.prevRow(NoRow); r >= 0 && backward.size() <= rows.size(); r = sheet.prevRow(r))
    backward.push_back(r);
  EXPECT_EQ(forward, std::vector<int32_t>(rows.begin(), rows.end()));
  EXPECT_EQ(backward, std::vector<int32_t>(rows.rbegin(), rows.rend()));
  for (int32_t r = -2; r <= NoRow; ++r) {
    auto after = rows.upper_bound(r);
    auto from = rows.lower_bound(r);
    ASSERT_EQ(sheet.nextRow(r), after == rows.end() ? NoRow : *after) << r;
    ASSERT_EQ(sheet.prevRow(r), from == rows.begin() ? -1 : *std::prev(from)) << r;
    ASSERT_EQ(sheet.rowExists(r), rows.count(r) == 1) << r;
  }
  for (int32_t r : rows) ASSERT_EQ(sheet.cellValue(r % 7 + 3 * (r == 16), r).number(), r);
  EXPECT_EQ(sheet.lastUsedRow(-1), 65535);
  EXPECT_EQ(sheet.lastUsedColumn(), 6);

  Sheet empty;
  EXPECT_EQ(empty.nextRow(-1), NoRow);
  EXPECT_EQ(empty.prevRow(NoRow), -1);
  EXPECT_EQ(empty.rowArraySize(), 0);
}

TEST(Sheet, WideNarrowAndClearedRowsKeepTheirOwnSlots) {
  Sheet sheet;
  for (int32_t c = 0; c < MaxColumns; ++c) ASSERT_TRUE(sheet.setCell(c, 0, cell(numberValue(c))));
  ASSERT_TRUE(sheet.setCell(200, 1, cell(numberValue(-1))));
  for (int32_t c = MaxColumns - 1; c >= 0; c -= 2) ASSERT_TRUE(sheet.setCell(c, 2, cell(numberValue(c + 0.5))));
  ASSERT_TRUE(sheet.setCell(10, 3, cell(numberValue(10))));
  ASSERT_TRUE(sheet.setCell(250, 3, cell(numberValue(250))));
  ASSERT_TRUE(sheet.setCell(0, 3, cell(numberValue(0))));

  EXPECT_EQ(sheet.firstColumnOf(0), 0);
  EXPECT_EQ(sheet.cellCountOf(0), 256);
  EXPECT_EQ(sheet.firstColumnOf(1), 200);
  EXPECT_EQ(sheet.cellCountOf(1), 201);
  EXPECT_EQ(sheet.cellPtr(199, 1), nullptr);
  EXPECT_EQ(sheet.nextValueInRow(1, -1), 200);
  EXPECT_EQ(sheet.lastValueInRow(1, 200), -1);
  EXPECT_EQ(sheet.firstColumnOf(2), 1);
  EXPECT_EQ(sheet.firstColumnOf(3), 0);
  EXPECT_EQ(sheet.cellCountOf(3), 251);
  for (int32_t c = 0; c < MaxColumns; ++c) {
    ASSERT_EQ(sheet.cellValue(c, 0).number(), c);
    ASSERT_EQ(sheet.hasValue(c, 1), c == 200);
    ASSERT_EQ(sheet.hasValue(c, 2), c % 2 == 1);
    if (c % 2 == 1) {
      ASSERT_EQ(sheet.cellValue(c, 2).number(), c + 0.5);
    }
    ASSERT_EQ(sheet.hasValue(c, 3), c == 0 || c == 10 || c == 250);
  }
  EXPECT_EQ(sheet.lastValueInRow(3, 250), 10);
  EXPECT_EQ(sheet.nextValueInRow(3, 0), 10);

  // Clearing all but one cell of the wide row keeps its slots and never raises its
  // first column; scans skip the cleared slots.
  for (int32_t c = 0; c < MaxColumns; ++c) {
    if (c == 100) continue;
    ASSERT_TRUE(sheet.setCell(c, 0, blankCell()));
  }
  EXPECT_EQ(sheet.firstColumnOf(0), 0);
  EXPECT_EQ(sheet.cellCountOf(0), 256);
  EXPECT_EQ(sheet.nextValueInRow(0, -1), 100);
  EXPECT_EQ(sheet.lastValueInRow(0, NoColumn), 100);
  ASSERT_TRUE(sheet.setCell(100, 0, blankCell()));
  EXPECT_EQ(sheet.nextValueInRow(0, -1), NoColumn);
  EXPECT_TRUE(sheet.rowExists(0));
  ASSERT_TRUE(sheet.setCell(37, 0, cell(numberValue(37))));
  EXPECT_EQ(sheet.lastValueInRow(0, NoColumn), 37);

  // A row made by its height alone has no slots until a cell is written.
  ASSERT_TRUE(sheet.setRowHeight(9, 500, true));
  EXPECT_EQ(sheet.cellCountOf(9), 0);
  EXPECT_EQ(sheet.nextValueInRow(9, -1), NoColumn);
  ASSERT_TRUE(sheet.setCell(7, 9, cell(numberValue(7))));
  EXPECT_LE(sheet.firstColumnOf(9), 7);
  EXPECT_EQ(sheet.cellCountOf(9), 8);
  EXPECT_EQ(sheet.rowHeight(9), 500);
  EXPECT_EQ(sheet.cellValue(7, 9).number(), 7);
}

TEST(Sheet, OutOfMemoryMidGrowthLeavesTheSheetUnchanged) {
  clearError();
  const size_t liveTexts = textPool().liveCount();
  int refused = 0;
  {
    Sheet sheet;
    std::mt19937 random(99);
    std::map<std::pair<int32_t, int32_t>, int> model;  // (row, column): the number last written
    for (int i = 0; i < 800; ++i) {
      // Mostly rows of a few groups, growing both ways, and now and then a far new row.
      const int32_t row = static_cast<int32_t>(i % 5 == 0 ? random() % MaxRows : random() % 40);
      const int32_t col = static_cast<int32_t>(i % 3 == 0 ? random() % MaxColumns : 120 + random() % 9 - 4);
      for (int64_t allowed : {0, 1}) {
        const std::vector<Stored> before = stored(sheet);
        const int32_t rowEnd = sheet.rowArraySize();
        CellRecord text = textCell(u"maybe");
        heapFailAfter(allowed);
        const bool written = sheet.setCell(col, row, text);
        heapFailAfter(-1);
        if (!written) {
          ++refused;
          ASSERT_EQ(pendingError(), 15u);
          ASSERT_EQ(stored(sheet), before) << "row " << row << " column " << col;
          ASSERT_EQ(sheet.rowArraySize(), rowEnd);
          clearError();
        }
      }
      ASSERT_TRUE(sheet.setCell(col, row, cell(numberValue(i))));
      model[{row, col}] = i;
    }
    // Rows made after refused ones took places of their own.
    for (const auto& [at, n] : model) ASSERT_EQ(sheet.cellValue(at.second, at.first).number(), n);
    EXPECT_EQ(sheet.lastUsedRow(-1), model.rbegin()->first.first);
  }
  EXPECT_GT(refused, 100);  // the walk did reach growths that need memory
  EXPECT_EQ(textPool().liveCount(), liveTexts);  // refused and overwritten texts were released
}

TEST(Sheet, ColumnWalkVisitsTheColumnsSlotsInRowOrder) {
  Sheet sheet;
  // Rows made bottom-up, so that their places in the row groups run against row order;
  // row 3 has slots from column 2 on only, row 5 none at all, row 6 a wide row.
  for (int32_t row : {40, 20, 6, 3, 1, 0}) ASSERT_TRUE(sheet.setCell(row == 3 ? 2 : 1, row, cell(numberValue(row))));
  ASSERT_TRUE(sheet.setCell(0, 6, cell(numberValue(-6))));
  ASSERT_TRUE(sheet.setCell(5, 6, cell(numberValue(-60))));
  ASSERT_TRUE(sheet.setCell(7, 7, cell(numberValue(-7))));  // a row that starts right of column 1
  auto walk = [&](int32_t col, int32_t first, int32_t last) {
    std::vector<double> seen;
    sheet.forEachInColumn(col, first, last, [&](const CellRecord& c) { seen.push_back(c.value.number()); });
    return seen;
  };
  EXPECT_EQ(walk(1, 0, 65535), (std::vector<double>{0, 1, 6, 20, 40}));
  EXPECT_EQ(walk(1, 2, 20), (std::vector<double>{6, 20}));
  EXPECT_EQ(walk(1, 41, 65535), std::vector<double>{});
  EXPECT_EQ(walk(1, 100, 200), std::vector<double>{});
  EXPECT_EQ(walk(0, 0, 65535), std::vector<double>{-6});
  EXPECT_EQ(walk(2, 0, 65535), (std::vector<double>{3, 0}));  // row 7's blank slot comes too
  EXPECT_EQ(walk(5, 0, 10), std::vector<double>{-60});
  EXPECT_EQ(walk(7, 0, 10), std::vector<double>{-7});
  // A blank slot inside a row is still a slot: the walk passes it, kind 0.
  std::vector<ValueKind> kinds;
  sheet.forEachInColumn(3, 6, 6, [&](const CellRecord& c) { kinds.push_back(c.value.kind); });
  EXPECT_EQ(kinds, std::vector<ValueKind>{ValueKind::Empty});
}

}  // namespace
}  // namespace kelp
