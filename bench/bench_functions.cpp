// Benchmarks of worksheet functions: a full recalculation of a sheet of distribution
// formulas, and single calls of the costlier inverses.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "formula/Compiler.h"
#include "formula/Evaluator.h"
#include "formula/Recalc.h"
#include "functions/Engine.h"
#include "model/HandlePool.h"
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

std::u16string number(double d) {
  std::u16string text;
  valueToText(numberValue(d), text);
  return text;
}

// `cells` formulas, each calling Normsdist, Tdist, Chiinv and Binomdist with
// arguments that change from row to row.
std::unique_ptr<Workbook> distributionWorkbook(int cells) {
  startEngine();
  auto book = newWorkbook(1);
  setEvalWorkbook(book.get());
  for (int row = 0; row < cells; ++row) {
    double z = -4 + 8.0 * (row % 997) / 997;
    double t = 0.05 + 6.0 * (row % 101) / 101;
    int df = 1 + row % 60;
    double p = 0.001 + 0.998 * (row % 499) / 499;
    int trials = 1 + row % 80;
    int k = row % (trials + 1);
    double q = 0.02 + 0.96 * (row % 89) / 89;
    enter(*book, 0, row,
          u"=Normsdist(" + number(z) + u")+Tdist(" + number(t) + u"," + number(df) + u",2)+Chiinv(" + number(p) +
              u"," + number(df) + u")+Binomdist(" + number(k) + u"," + number(trials) + u"," + number(q) + u",1)");
  }
  return book;
}

void BM_DistributionRecalculation(benchmark::State& state) {
  auto book = distributionWorkbook(static_cast<int>(state.range(0)));
  recalculateAll(*book);
  for (auto _ : state) recalculateAll(*book);
  state.SetItemsProcessed(state.iterations() * state.range(0));
  // Every formula must have produced a number, or the benchmark measures errors.
  int numbers = 0;
  for (int row = 0; row < state.range(0); ++row) numbers += book->sheetAt(0)->cellValue(0, row).kind == ValueKind::Number;
  state.counters["numbers"] = numbers;
}
BENCHMARK(BM_DistributionRecalculation)->Arg(10000)->Unit(benchmark::kMillisecond);

// One formula evaluated repeatedly, to see the cost of each function alone.
void evaluateRepeatedly(benchmark::State& state, const std::u16string& formula) {
  startEngine();
  auto book = newWorkbook(1);
  uint32_t handle = compileToHandle(*book, formula, CellPosition{1, 1, 0}, false);
  const uint8_t* tokens = static_cast<const uint8_t*>(formulaPool().data(handle));
  CellValue out = emptyValue();
  for (auto _ : state) {
    evaluateTokens(tokens, *book, CellPosition{1, 1, 0}, true, out);
    benchmark::DoNotOptimize(out);
  }
  state.SetItemsProcessed(state.iterations());
  formulaPool().release(handle);
}

void BM_Normsdist(benchmark::State& state) { evaluateRepeatedly(state, u"=Normsdist(1.3)"); }
void BM_Tdist(benchmark::State& state) { evaluateRepeatedly(state, u"=Tdist(2.1,17,2)"); }
void BM_Chiinv(benchmark::State& state) { evaluateRepeatedly(state, u"=Chiinv(0.05,23)"); }
void BM_Binomdist(benchmark::State& state) { evaluateRepeatedly(state, u"=Binomdist(31,70,0.45,1)"); }
void BM_Tinv(benchmark::State& state) { evaluateRepeatedly(state, u"=Tinv(0.01,4)"); }
void BM_Finv(benchmark::State& state) { evaluateRepeatedly(state, u"=Finv(0.01,3,40)"); }
void BM_Betainv(benchmark::State& state) { evaluateRepeatedly(state, u"=Betainv(0.3,2.5,8)"); }
BENCHMARK(BM_Normsdist);
BENCHMARK(BM_Tdist);
BENCHMARK(BM_Chiinv);
BENCHMARK(BM_Binomdist);
BENCHMARK(BM_Tinv);
BENCHMARK(BM_Finv);
BENCHMARK(BM_Betainv);

}  // namespace
}  // namespace kelp
