// Benchmarks of the lookup functions: a full recalculation of 1,000 VLookups over a
// 10,000-row table, exact and approximate.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "formula/Compiler.h"
#include "formula/Evaluator.h"
#include "formula/Recalc.h"
#include "functions/Engine.h"
#include "model/Sheet.h"
#include "model/Workbook.h"
#include "platform/Text.h"

namespace kelp {
namespace {

constexpr int TableRows = 10000;
constexpr int Lookups = 1000;

std::u16string decimal(int64_t n) { return utf8ToUtf16(std::to_string(n)); }

// A1:B10000 holds the keys 2, 4, 6, ... and a text beside each; column D holds 1,000
// formulas looking up keys spread over the table. An exact search stops at its key,
// half way down on average; an approximate one looks for an odd key, which no cell
// equals, so it walks the whole column.
std::unique_ptr<Workbook> lookupWorkbook(bool sorted, bool textKeys) {
  startEngine();
  auto book = newWorkbook(1);
  setEvalWorkbook(book.get());
  Sheet& sheet = *book->sheetAt(0);
  for (int row = 0; row < TableRows; ++row) {
    CellValue key = numberValue(2.0 * (row + 1));
    if (textKeys) makeText(key, u"key" + decimal(100000 + row));
    sheet.setCell(0, row, {key, 0});
    CellValue label;
    makeText(label, u"row " + decimal(row + 1));
    sheet.setCell(1, row, {label, 0});
  }
  for (int i = 0; i < Lookups; ++i) {
    int row = (i * 7919) % TableRows;  // spread over the table in no order
    std::u16string key = textKeys ? u"\"key" + decimal(100000 + row) + u"\"" : decimal(2 * (row + 1) + (sorted ? 1 : 0));
    std::u16string text = u"=VLookup(" + key + u",$A$1:$B$" + decimal(TableRows) + u",2," + (sorted ? u"TRUE" : u"FALSE") + u")";
    CellValue v = emptyValue();
    compileToValue(*book, text, CellPosition{3, static_cast<uint16_t>(i), 0}, v);
    sheet.setCell(3, i, {v, 0});
  }
  return book;
}

void recalculateLookups(benchmark::State& state, bool sorted, bool textKeys) {
  auto book = lookupWorkbook(sorted, textKeys);
  recalculateAll(*book);  // the first pass also orders the formulas
  for (auto _ : state) recalculateAll(*book);
  state.SetItemsProcessed(state.iterations() * Lookups);
  // Every lookup must have found its row, or the benchmark measures errors.
  int found = 0;
  for (int i = 0; i < Lookups; ++i) found += book->sheetAt(0)->cellValue(3, i).kind == ValueKind::Text;
  state.counters["found"] = found;
}

void BM_VLookupExact(benchmark::State& state) { recalculateLookups(state, false, false); }
void BM_VLookupSorted(benchmark::State& state) { recalculateLookups(state, true, false); }
void BM_VLookupExactText(benchmark::State& state) { recalculateLookups(state, false, true); }
BENCHMARK(BM_VLookupExact)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VLookupSorted)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VLookupExactText)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kelp
