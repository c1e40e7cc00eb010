// Sheet storage: slots, rows, columns, scans, merged areas and ownership on writes.
#include <gtest/gtest.h>

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
  return cell(newFormulaValue(handle, CellPosition{row, column, sheet}));
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

TEST(Sheet, RowNavigationAndHeights) {
  Sheet sheet;
  ASSERT_TRUE(sheet.setCell(0, 3, cell(numberValue(1))));
  ASSERT_TRUE(sheet.setCell(0, 9, cell(numberValue(1))));
  EXPECT_EQ(sheet.nextRow(-1), 3);
  EXPECT_EQ(sheet.nextRow(3), 9);
  EXPECT_EQ(sheet.nextRow(9), NoRow);
  EXPECT_EQ(sheet.prevRow(9), 3);
  EXPECT_EQ(sheet.prevRow(3), -1);
  EXPECT_EQ(sheet.lastRowIndex(), 9);

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

}  // namespace
}  // namespace kelp
