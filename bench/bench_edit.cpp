// Benchmark of inserting a whole row at the top of a full sheet whose workbook holds
// 100,000 formulas, with its undo.
#include <benchmark/benchmark.h>

#include <memory>

#include "edit/Commands.h"
#include "formula/Compiler.h"
#include "formula/Recalc.h"
#include "model/Sheet.h"
#include "model/Workbook.h"

namespace kelp {
namespace {

// A sheet holds 65,536 rows; the last stays empty so that the insert drops nothing.
constexpr int Rows = 65535;

// Column A holds numbers; B and C of the first rows hold formulas reading the row, the
// next one down and a window of ten cells, 100,000 formulas in all.
std::unique_ptr<Workbook> filledBook() {
  startEditing();
  auto book = newWorkbook(1);
  Sheet& sheet = *book->sheetAt(0);
  for (int r = 0; r < Rows; ++r) sheet.setCell(0, r, {numberValue(r), 0});
  int formulas = 0;
  for (int r = 0; r < Rows && formulas < 100000; ++r) {
    for (int c = 1; c <= 2 && formulas < 100000; ++c, ++formulas) {
      CellValue v = emptyValue();
      compileToValue(*book, c == 1 ? u"=A1*2+A2" : u"=Sum(A1:A10)",
                     CellPosition{static_cast<uint16_t>(c), static_cast<uint16_t>(r), 0}, v);
      sheet.setCell(c, r, {v, 0});
    }
  }
  recalculateAll(*book);
  return book;
}

void BM_InsertRowAtTopWithUndo(benchmark::State& state) {
  auto book = filledBook();
  UndoList undo;
  Selection& s = book->activeSheet()->selection;
  s.firstColumn = s.activeColumn = s.endColumn = 0;
  s.lastColumn = 0;
  s.firstRow = s.lastRow = s.activeRow = s.endRow = 0;
  for (auto _ : state) {
    if (!insertCells(*book, undo, false) || !undo.undo(*book)) {
      state.SkipWithError("the insert or its undo failed");
      return;
    }
    undo.clear();
  }
  state.counters["formulas"] = book->formulas().count();
}
BENCHMARK(BM_InsertRowAtTopWithUndo)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kelp
