// The formula table: ids and their reuse, renumbering, sheets and workbooks going away,
// several workbooks at once, and running out of memory.
#include "model/FormulaTable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "model/HandlePool.h"
#include "model/ModelHeap.h"
#include "model/Sheet.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"

namespace kelp {
namespace {

// A token string of its own, so that its handle tells one formula from another.
uint32_t newTokens() {
  const uint8_t tokens[] = {4, 0, 0, 0, 4, 7, 0, 0};
  return formulaPool().add(tokens, sizeof tokens, 1);
}

/// Writes a new formula into a cell; its token handle (NoHandle when nothing could be
/// written) names it.
uint32_t putFormula(Workbook& book, int32_t sheet, int32_t column, int32_t row, double result = 0) {
  uint32_t tokens = newTokens();
  if (tokens == NoHandle) return NoHandle;
  CellValue value = newFormulaValue(tokens, CellPosition{0, 0, 0});
  if (value.kind != ValueKind::Formula) {
    formulaPool().release(tokens);
    return NoHandle;
  }
  formulaResult(value) = numberValue(result);
  return book.sheetAt(sheet)->setCell(column, row, CellRecord{value, -1}) ? tokens : NoHandle;
}

void clearCell(Workbook& book, int32_t sheet, int32_t column, int32_t row) {
  ASSERT_TRUE(book.sheetAt(sheet)->setCell(column, row, blankCell()));
}

const CellValue& valueAt(Workbook& book, int32_t sheet, int32_t column, int32_t row) {
  return book.sheetAt(sheet)->cellPtr(column, row)->value;
}

/// Checks that every formula cell names a live entry of the workbook's table standing
/// at that very cell, and that the table holds nothing else; gives the formula cells.
int32_t checkCells(Workbook& book) {
  FormulaTable& table = book.formulas();
  int32_t formulas = 0;
  for (int32_t s = 0; s < book.sheetCount(); ++s) {
    const Sheet& sheet = *book.sheetAt(s);
    for (int32_t r = sheet.nextRow(-1); r < NoRow; r = sheet.nextRow(r))
      for (int32_t c = sheet.nextValueInRow(r, -1); c < NoColumn; c = sheet.nextValueInRow(r, c)) {
        const CellValue& value = sheet.cellPtr(c, r)->value;
        if (value.kind != ValueKind::Formula) continue;
        ++formulas;
        EXPECT_EQ(formulaTableNumber(value), table.number()) << s << ":" << c << "," << r;
        EXPECT_TRUE(table.isLive(formulaId(value))) << s << ":" << c << "," << r;
        CellPosition at = formulaPosition(value);
        EXPECT_TRUE(at.sheet == s && at.column == c && at.row == r) << s << ":" << c << "," << r;
      }
  }
  EXPECT_EQ(formulas, table.count());
  return formulas;
}

/// The cells in the table's current order, as (column, row) on sheet 0.
std::vector<std::pair<int, int>> orderedCells(FormulaTable& table) {
  std::vector<uint32_t> order;
  table.currentOrder(order);
  std::vector<std::pair<int, int>> cells;
  for (uint32_t id : order) cells.emplace_back(table.position(id).column, table.position(id).row);
  return cells;
}

void renumberInCurrentOrder(FormulaTable& table) {
  std::vector<uint32_t> order;
  table.currentOrder(order);
  table.renumber(order);
}

TEST(FormulaTable, RemovedIdsAreReusedAndEveryCellKeepsItsOwnFormula) {
  auto book = newWorkbook(1);
  std::vector<uint32_t> tokens;
  for (int32_t r = 0; r < 10; ++r) tokens.push_back(putFormula(*book, 0, 0, r, r));
  const uint32_t freed3 = formulaId(valueAt(*book, 0, 0, 3));
  const uint32_t freed7 = formulaId(valueAt(*book, 0, 0, 7));
  clearCell(*book, 0, 0, 3);
  clearCell(*book, 0, 0, 7);
  EXPECT_EQ(book->formulas().count(), 8);
  EXPECT_FALSE(formulaPool().isLive(tokens[3])) << "a removed formula gives its tokens back";
  const uint32_t limit = book->formulas().idLimit();

  uint32_t b1 = putFormula(*book, 0, 1, 0, 100);
  uint32_t b2 = putFormula(*book, 0, 1, 1, 101);
  std::vector<uint32_t> reused = {formulaId(valueAt(*book, 0, 1, 0)), formulaId(valueAt(*book, 0, 1, 1))};
  std::sort(reused.begin(), reused.end());
  EXPECT_EQ(reused, (std::vector<uint32_t>{std::min(freed3, freed7), std::max(freed3, freed7)}));
  EXPECT_EQ(book->formulas().idLimit(), limit) << "free ids are used before the table grows";

  EXPECT_EQ(checkCells(*book), 10);
  for (int32_t r = 0; r < 10; ++r) {
    if (r == 3 || r == 7) continue;
    EXPECT_EQ(formulaTokens(valueAt(*book, 0, 0, r)), tokens[r]);
    EXPECT_EQ(effectiveValue(valueAt(*book, 0, 0, r)).number(), r);
  }
  EXPECT_EQ(formulaTokens(valueAt(*book, 0, 1, 0)), b1);
  EXPECT_EQ(formulaTokens(valueAt(*book, 0, 1, 1)), b2);
  EXPECT_EQ(effectiveValue(valueAt(*book, 0, 1, 1)).number(), 101);
}

// Growing moves the later columns of the table to new places inside the block; every
// cell must still find its tokens, position and result, through growth and a reserve.
TEST(FormulaTable, GrowingAndReservingKeepEveryEntry) {
  auto book = newWorkbook(1);
  std::vector<uint32_t> tokens;
  for (int32_t r = 0; r < 3000; ++r) tokens.push_back(putFormula(*book, 0, r % 3, r, r + 0.5));
  ASSERT_TRUE(book->formulas().reserve(5000));
  for (int32_t r = 3000; r < 8000; ++r) tokens.push_back(putFormula(*book, 0, r % 3, r, r + 0.5));
  EXPECT_EQ(checkCells(*book), 8000);
  for (int32_t r = 0; r < 8000; ++r) {
    const CellValue& value = valueAt(*book, 0, r % 3, r);
    ASSERT_EQ(formulaTokens(value), tokens[static_cast<size_t>(r)]) << r;
    ASSERT_EQ(effectiveValue(value).number(), r + 0.5) << r;
  }
}

TEST(FormulaTable, RenumberingMovesEntriesAndRewritesEveryCell) {
  auto book = newWorkbook(2);
  for (int32_t i = 0; i < 60; ++i) putFormula(*book, i % 2, i % 7, i * 3, i);
  for (int32_t i = 0; i < 60; i += 9) clearCell(*book, i % 2, i % 7, i * 3);
  FormulaTable& table = book->formulas();
  ASSERT_LT(static_cast<int32_t>(table.idLimit()), 61);
  ASSERT_GT(table.idLimit(), static_cast<uint32_t>(table.count())) << "removals left free ids";

  std::vector<uint32_t> order;
  table.currentOrder(order);
  std::reverse(order.begin(), order.end());
  std::vector<uint32_t> oldIds;
  for (int32_t i = 0; i < 60; ++i)
    if (i % 9 != 0) oldIds.push_back(formulaId(valueAt(*book, i % 2, i % 7, i * 3)));
  table.renumber(order);

  EXPECT_EQ(table.idLimit(), static_cast<uint32_t>(table.count())) << "renumbering leaves no gaps";
  size_t k = 0;
  for (int32_t i = 0; i < 60; ++i) {
    if (i % 9 == 0) continue;
    const CellValue& value = valueAt(*book, i % 2, i % 7, i * 3);
    const uint32_t expected = static_cast<uint32_t>(std::find(order.begin(), order.end(), oldIds[k++]) - order.begin());
    EXPECT_EQ(formulaId(value), expected) << i;
    EXPECT_EQ(effectiveValue(value).number(), i) << "the cell still shows its own result";
  }
  EXPECT_EQ(checkCells(*book), table.count());
  // With no free id left a new formula takes the next one.
  putFormula(*book, 0, 20, 0);
  EXPECT_EQ(formulaId(valueAt(*book, 0, 20, 0)), table.idLimit() - 1);
}

TEST(FormulaTable, CurrentOrderIsThePlacedEntriesThenTheAdditionsInTurn) {
  auto book = newWorkbook(1);
  FormulaTable& table = book->formulas();
  for (int32_t r = 0; r < 5; ++r) putFormula(*book, 0, 0, r);
  EXPECT_EQ(orderedCells(table), (std::vector<std::pair<int, int>>{{0, 0}, {0, 1}, {0, 2}, {0, 3}, {0, 4}}));
  renumberInCurrentOrder(table);

  clearCell(*book, 0, 0, 1);
  putFormula(*book, 0, 1, 0);  // takes A2's id
  putFormula(*book, 0, 1, 1);
  putFormula(*book, 0, 0, 3);  // a new formula over A4: A4 leaves its place for the end
  clearCell(*book, 0, 1, 0);
  putFormula(*book, 0, 2, 0);  // may take B1's id: only its latest addition counts
  // A formula written again and again before any ordering is listed once, last.
  for (int i = 0; i < 300; ++i) {
    putFormula(*book, 0, 3, 0);
    if (i % 2) clearCell(*book, 0, 3, 0);
  }
  putFormula(*book, 0, 3, 0);
  EXPECT_EQ(orderedCells(table),
            (std::vector<std::pair<int, int>>{{0, 0}, {0, 2}, {0, 4}, {1, 1}, {0, 3}, {2, 0}, {3, 0}}));
  renumberInCurrentOrder(table);
  EXPECT_EQ(checkCells(*book), 7);
  EXPECT_EQ(orderedCells(table),
            (std::vector<std::pair<int, int>>{{0, 0}, {0, 2}, {0, 4}, {1, 1}, {0, 3}, {2, 0}, {3, 0}}));
}

TEST(FormulaTable, SheetsRemovedAndInsertedKeepEveryEntryOnItsCell) {
  auto book = newWorkbook(3);
  std::vector<uint32_t> tokens;
  for (int32_t s = 0; s < 3; ++s)
    for (int32_t r = 0; r < 4; ++r) tokens.push_back(putFormula(*book, s, s, r, s * 10 + r));
  book->deleteSheet(1);
  EXPECT_EQ(book->formulas().count(), 8);
  for (int32_t r = 0; r < 4; ++r) EXPECT_FALSE(formulaPool().isLive(tokens[4 + r])) << "sheet 1's formulas are gone";
  EXPECT_EQ(checkCells(*book), 8) << "the last sheet's formulas moved down with it";
  EXPECT_EQ(effectiveValue(valueAt(*book, 1, 2, 3)).number(), 23);

  ASSERT_NE(book->insertSheet(u"First", 0), nullptr);
  EXPECT_EQ(checkCells(*book), 8);
  renumberInCurrentOrder(book->formulas());
  EXPECT_EQ(checkCells(*book), 8);
  EXPECT_EQ(effectiveValue(valueAt(*book, 2, 2, 3)).number(), 23);
  EXPECT_EQ(effectiveValue(valueAt(*book, 1, 0, 1)).number(), 1);
}

TEST(FormulaTable, DetachedCopiesOutliveTheirWorkbook) {
  const uint32_t liveTokens = formulaPool().liveCount();
  const int32_t detached = FormulaTable::detached().count();
  auto book = newWorkbook(1);
  uint32_t tokens = putFormula(*book, 0, 2, 5, 42);
  // What an undo program keeps of a cell.
  CellValue copy;
  copyFormulaValue(valueAt(*book, 0, 2, 5), copy);
  ASSERT_EQ(copy.kind, ValueKind::Formula);
  book.reset();

  EXPECT_EQ(formulaWorkbook(copy), nullptr);
  EXPECT_EQ(formulaTokens(copy), tokens);
  EXPECT_EQ(effectiveValue(copy).number(), 42);
  EXPECT_EQ(formulaPosition(copy).column, 2);
  EXPECT_EQ(formulaPosition(copy).row, 5);
  // Put back into another workbook, as an undo run would.
  auto other = newWorkbook(1);
  ASSERT_TRUE(other->sheetAt(0)->setCell(2, 5, CellRecord{copy, -1}));
  EXPECT_EQ(effectiveValue(valueAt(*other, 0, 2, 5)).number(), 42);
  EXPECT_EQ(checkCells(*other), 1);
  other.reset();
  EXPECT_EQ(formulaPool().liveCount(), liveTokens);
  EXPECT_EQ(FormulaTable::detached().count(), detached);
}

TEST(FormulaTable, TwoWorkbooksKeepTheirFormulasApart) {
  auto first = newWorkbook(1);
  auto second = newWorkbook(1);
  ASSERT_NE(first->formulas().number(), second->formulas().number());
  for (int32_t r = 0; r < 20; ++r) {
    putFormula(*first, 0, 0, r, r);
    putFormula(*second, 0, 0, r, 1000 + r);
  }
  EXPECT_EQ(formulaId(valueAt(*first, 0, 0, 4)), formulaId(valueAt(*second, 0, 0, 4)))
      << "the same id names a different formula in each";
  for (int32_t r = 0; r < 20; r += 3) clearCell(*second, 0, 0, r);
  std::vector<uint32_t> order;
  second->formulas().currentOrder(order);
  std::reverse(order.begin(), order.end());
  second->formulas().renumber(order);
  EXPECT_EQ(first->formulas().count(), 20);
  EXPECT_EQ(checkCells(*first), 20);
  EXPECT_EQ(checkCells(*second), 13);
  first.reset();
  EXPECT_EQ(checkCells(*second), 13);
  for (int32_t r = 1; r < 20; r += 3) EXPECT_EQ(effectiveValue(valueAt(*second, 0, 0, r)).number(), 1000 + r);
}

TEST(FormulaTable, OutOfMemoryWhileAddingLeavesNothingBehind) {
  clearError();
  const uint32_t liveTokens = formulaPool().liveCount();
  const int32_t detached = FormulaTable::detached().count();
  bool failed = true;
  for (int64_t allowed = 0; failed; ++allowed) {
    auto book = newWorkbook(1);
    heapFailAfter(allowed);
    for (int32_t i = 0; i < 150; ++i) {
      putFormula(*book, 0, i % 3, i / 3);
      if (i % 4 == 3) book->sheetAt(0)->setCell(i % 3, i / 6, blankCell());
    }
    heapFailAfter(-1);
    failed = hasError(Err::OutOfMemory);
    clearError();
    const int32_t formulas = checkCells(*book);
    renumberInCurrentOrder(book->formulas());
    EXPECT_EQ(checkCells(*book), formulas) << allowed;
    book.reset();
    ASSERT_EQ(formulaPool().liveCount(), liveTokens) << "after " << allowed << " allocations";
    ASSERT_EQ(FormulaTable::detached().count(), detached) << "after " << allowed << " allocations";
  }
}

TEST(FormulaTable, WithEveryTableNumberTakenFormulasAreRefused) {
  clearError();
  const uint32_t liveTokens = formulaPool().liveCount();
  std::vector<std::unique_ptr<Workbook>> books;
  while (books.size() <= static_cast<size_t>(MaxFormulaTables)) {
    books.push_back(newWorkbook(1));
    if (books.back()->formulas().number() >= MaxFormulaTables) break;
  }
  Workbook& unnumbered = *books.back();
  ASSERT_GE(unnumbered.formulas().number(), MaxFormulaTables);
  EXPECT_EQ(putFormula(unnumbered, 0, 0, 0), NoHandle);
  EXPECT_EQ(pendingError(), 15u);
  clearError();
  EXPECT_FALSE(unnumbered.sheetAt(0)->hasValue(0, 0));
  EXPECT_EQ(formulaPool().liveCount(), liveTokens);

  // A closed workbook's number serves the next one.
  books[3].reset();
  auto next = newWorkbook(1);
  EXPECT_LT(next->formulas().number(), MaxFormulaTables);
  EXPECT_NE(putFormula(*next, 0, 0, 0, 5), NoHandle);
  EXPECT_EQ(effectiveValue(valueAt(*next, 0, 0, 0)).number(), 5);
}

}  // namespace
}  // namespace kelp
