// Benchmarks of the conditional aggregates: Sumif and Countif over 100,000 cells with
// a number and a wildcard criterion, and Dsum over a table of 10,000 records.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "formula/Compiler.h"
#include "formula/Evaluator.h"
#include "functions/Engine.h"
#include "model/HandlePool.h"
#include "model/Sheet.h"
#include "model/Workbook.h"

namespace kelp {
namespace {

// 100,000 cells: two columns of 50,000 rows, numbered 1 … 100,000 row by row.
constexpr int Rows = 50000;
constexpr int Cells = 2 * Rows;

void putText(Sheet& sheet, int col, int row, std::u16string_view text) {
  CellValue v;
  makeText(v, text);
  sheet.setCell(col, row, {v, 0});
}

const char16_t* const Names[] = {u"apple", u"apricot", u"banana", u"cherry", u"abacus", u"date", u"fig"};

// Keys in A2:B50001 (numbers, every tenth cell a text), the numbers to add in D2:E50001
// and names drawn from a short list in G2:H50001; row 1 holds titles, and J1:K2 the
// criteria of the database benchmark.
std::unique_ptr<Workbook> table() {
  startEngine();
  auto book = newWorkbook(1);
  setEvalWorkbook(book.get());
  Sheet& sheet = *book->sheetAt(0);
  putText(sheet, 0, 0, u"Key");
  putText(sheet, 3, 0, u"Amount");
  putText(sheet, 6, 0, u"Name");
  for (int i = 1; i <= Cells; ++i) {
    int row = (i - 1) / 2 + 1, col = (i - 1) % 2;
    if (i % 10 == 0)
      putText(sheet, col, row, u"n/a");
    else
      sheet.setCell(col, row, {numberValue(i % 1000), 0});
    sheet.setCell(3 + col, row, {numberValue(i % 7), 0});
    putText(sheet, 6 + col, row, Names[i % 7]);
  }
  putText(sheet, 9, 0, u"name");
  putText(sheet, 9, 1, u"ap*");
  putText(sheet, 10, 0, u"KEY");
  putText(sheet, 10, 1, u">500");
  return book;
}

// Evaluates one formula over the table repeatedly; `cells` is what one call walks.
void evaluateRepeatedly(benchmark::State& state, const std::u16string& formula, double cells, double expected) {
  auto book = table();
  uint32_t handle = compileToHandle(*book, formula, CellPosition{12, 10, 0}, false);
  if (handle == NoHandle) {
    state.SkipWithError("the formula does not compile");
    return;
  }
  const uint8_t* tokens = static_cast<const uint8_t*>(formulaPool().data(handle));
  CellValue out = emptyValue();
  for (auto _ : state) {
    evaluateTokens(tokens, *book, CellPosition{12, 10, 0}, true, out);
    benchmark::DoNotOptimize(out);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * cells));
  // A wrong result would make the figure worthless.
  if (out.kind != ValueKind::Number || out.number() != expected) state.SkipWithError("unexpected result");
  releaseValue(out);
  formulaPool().release(handle);
}

// The expected results, counted the plain way.
double sumOverKeys(bool (*holds)(int i), int cells = Cells) {
  double sum = 0;
  for (int i = 1; i <= cells; ++i)
    if (holds(i)) sum += i % 7;
  return sum;
}

// ">500" holds for numbers only, so the "n/a" keys never count.
bool keyAbove500(int i) { return i % 10 != 0 && i % 1000 > 500; }
bool nameStartsAp(int i) { return i % 7 == 0 || i % 7 == 1; }

void BM_SumifNumberCriterion(benchmark::State& state) {
  evaluateRepeatedly(state, u"=Sumif(A2:B50001,\">500\",D2)", Cells, sumOverKeys(keyAbove500));
}
void BM_SumifWildcardCriterion(benchmark::State& state) {
  evaluateRepeatedly(state, u"=Sumif(G2:H50001,\"ap*\",D2:E50001)", Cells, sumOverKeys(nameStartsAp));
}
void BM_SumifWithoutSumRange(benchmark::State& state) {
  double sum = 0;
  for (int i = 1; i <= Cells; ++i)
    if (i % 10 != 0 && i % 1000 > 500) sum += i % 1000;
  evaluateRepeatedly(state, u"=Sumif(A2:B50001,\">500\")", Cells, sum);
}
void BM_CountifWildcard(benchmark::State& state) {
  double count = 0;
  for (int i = 1; i <= Cells; ++i) count += nameStartsAp(i);
  evaluateRepeatedly(state, u"=Countif(G2:H50001,\"ap*\")", Cells, count);
}
// Two conditions in one criteria row over 10,000 records: the first column of keys,
// amounts and names, whose cells are the odd-numbered ones.
void BM_DsumTwoConditions(benchmark::State& state) {
  double sum = 0;
  for (int i = 1; i <= 20000; i += 2)
    if (nameStartsAp(i) && keyAbove500(i)) sum += i % 7;
  evaluateRepeatedly(state, u"=Dsum(A1:G10001,\"amount\",J1:K2)", 10000, sum);
}
BENCHMARK(BM_SumifNumberCriterion)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SumifWildcardCriterion)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SumifWithoutSumRange)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CountifWildcard)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DsumTwoConditions)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kelp
