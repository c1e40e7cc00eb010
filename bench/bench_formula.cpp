// Benchmarks of the formula engine: full recalculation of a large workbook and the
// evaluation of simple operator formulas.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "formula/Compiler.h"
#include "formula/EntryReader.h"
#include "formula/Evaluator.h"
#include "formula/Recalc.h"
#include "functions/Engine.h"
#include "model/HandlePool.h"
#include "model/ModelHeap.h"
#include "model/Sheet.h"
#include "model/Workbook.h"
#include "platform/Text.h"

namespace kelp {
namespace {

void enter(Workbook& book, int col, int row, const std::u16string& text) {
  CellValue v = emptyValue();
  compileToValue(book, text, CellPosition{static_cast<uint16_t>(col), static_cast<uint16_t>(row), 0}, v);
  book.sheetAt(0)->setCell(col, row, {v, 0});
}

std::u16string rowText(int row) { return decimalText(row + 1); }

// 100,000 formulas: a chain of +1 in column A, 100-cell Sum windows over it in
// column B, and If tests in column C, entered bottom-up so the first pass orders.
std::unique_ptr<Workbook> bigWorkbook(int rows) {
  startEngine();
  auto book = newWorkbook(1);
  setEvalWorkbook(book.get());
  for (int row = rows - 1; row >= 0; --row) {
    std::u16string r = rowText(row);
    enter(*book, 0, row, row == 0 ? u"=1" : u"=A" + rowText(row - 1) + u"+1");
    std::u16string first = rowText(row < 99 ? 0 : row - 99);
    enter(*book, 1, row, u"=Sum(A" + first + u":A" + r + u")");
    enter(*book, 2, row, u"=If(A" + r + u">B" + r + u",1,A" + r + u"*2)");
  }
  return book;
}

void BM_FullRecalculation(benchmark::State& state) {
  startEngine();
  size_t before = heapBytesInUse();
  auto book = bigWorkbook(static_cast<int>(state.range(0)) / 3);
  recalculateAll(*book);  // the first pass also orders the formulas
  // Everything the workbook holds (rows, cells, token strings, formula storage) over
  // its formula cells, as the model heap counts it.
  double bytesPerFormula = static_cast<double>(heapBytesInUse() - before) / book->formulas().count();
  for (auto _ : state) recalculateAll(*book);
  state.SetItemsProcessed(state.iterations() * book->formulas().count());
  state.counters["formulas"] = book->formulas().count();
  state.counters["heap_bytes_per_formula"] = bytesPerFormula;
}
BENCHMARK(BM_FullRecalculation)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_FirstRecalculationWithOrdering(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto book = bigWorkbook(static_cast<int>(state.range(0)) / 3);
    state.ResumeTiming();
    recalculateAll(*book);
    state.PauseTiming();
    book.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_FirstRecalculationWithOrdering)->Arg(30000)->Unit(benchmark::kMillisecond)->Iterations(3);

// Clearing and typing back 10,000 formulas of the 100,000-formula workbook (the Sum and
// If columns of 5,000 rows in the middle), as a clear and then typing each entry write
// the cells, with the one recalculation that orders and evaluates the result.
void BM_ClearAndReenter10000(benchmark::State& state) {
  constexpr int Rows = 100000 / 3, First = 15000, Count = 5000;
  auto book = bigWorkbook(Rows);
  recalculateAll(*book);
  Sheet& sheet = *book->sheetAt(0);
  std::vector<std::u16string> texts;
  for (int row = First; row < First + Count; ++row) {
    std::u16string r = rowText(row);
    texts.push_back(u"=Sum(A" + rowText(row - 99) + u":A" + r + u")");
    texts.push_back(u"=If(A" + r + u">B" + r + u",1,A" + r + u"*2)");
  }
  for (auto _ : state) {
    for (int row = First; row < First + Count; ++row)
      for (int col = 1; col <= 2; ++col) sheet.setCell(col, row, CellRecord{emptyValue(), 0});
    for (int row = First; row < First + Count; ++row)
      for (int col = 1; col <= 2; ++col) {
        CellPosition at{static_cast<uint16_t>(col), static_cast<uint16_t>(row), 0};
        CellValue value = readEntry(book.get(), texts[static_cast<size_t>((row - First) * 2 + col - 1)], at,
                                    nullptr, false);
        sheet.setCell(col, row, CellRecord{value, 0});
      }
    recalculateAll(*book);
  }
  state.SetItemsProcessed(state.iterations() * Count * 2);
}
BENCHMARK(BM_ClearAndReenter10000)->Unit(benchmark::kMillisecond);

void BM_OperatorEvaluation(benchmark::State& state) {
  startEngine();
  auto book = newWorkbook(1);
  book->sheetAt(0)->setCell(0, 0, {numberValue(3), 0});
  uint32_t handle = compileToHandle(*book, u"=(A1+2)*3-4/2^2", CellPosition{1, 1, 0}, false);
  const uint8_t* tokens = static_cast<const uint8_t*>(formulaPool().data(handle));
  CellValue out = emptyValue();
  for (auto _ : state) {
    evaluateTokens(tokens, *book, CellPosition{1, 1, 0}, true, out);
    benchmark::DoNotOptimize(out);
  }
  // Five operators (+, *, -, /, ^) per evaluation; items are operator evaluations.
  state.SetItemsProcessed(state.iterations() * 5);
  formulaPool().release(handle);
}
BENCHMARK(BM_OperatorEvaluation);

// Compiling 100,000 typical formulas, as typing or loading text formulas does.
void BM_Compile100000(benchmark::State& state) {
  startEngine();
  auto book = newWorkbook(2);
  const std::u16string formulas[] = {
      u"=A1+1",          u"=Sum(A1:A100)",           u"=If(A1>B1,1,A1*2)", u"=Average(B2:D20)*1.5",
      u"=Sheet2!C3-$A$1", u"=Round(A1/3,2)&\" units\"", u"=Max(A1:A9,10)",   u"=(A1+2)*3-4/2^2",
  };
  for (auto _ : state) {
    for (int i = 0; i < 100000; ++i) {
      TokenSink sink;
      int32_t position = compileFormula(*book, formulas[i % 8], CellPosition{5, 5, 0}, sink, false);
      benchmark::DoNotOptimize(position);
    }
  }
  state.SetItemsProcessed(state.iterations() * 100000);
}
BENCHMARK(BM_Compile100000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kelp
