// Filling a sheet with numbers: cells written per second and heap bytes per cell.
#include <benchmark/benchmark.h>

#include "model/ModelHeap.h"
#include "model/Sheet.h"

namespace kelp {
namespace {

void fill(benchmark::State& state, int32_t columns, int32_t rows) {
  double bytesPerCell = 0;
  for (auto _ : state) {
    size_t before = heapBytesInUse();
    {
      Sheet sheet;
      double x = 0.5;
      for (int32_t r = 0; r < rows; ++r)
        for (int32_t c = 0; c < columns; ++c) {
          sheet.setCell(c, r, CellRecord{numberValue(x), -1});
          x += 1.0;
        }
      benchmark::DoNotOptimize(sheet.cellPtr(columns - 1, rows - 1));
      bytesPerCell = static_cast<double>(heapBytesInUse() - before) / (static_cast<double>(columns) * rows);
      state.PauseTiming();  // freeing the sheet is not part of filling it
    }
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(columns) * rows);
  state.counters["heap_bytes_per_cell"] = bytesPerCell;
}

void BM_FillRowsOf256Columns(benchmark::State& state) { fill(state, 256, 3907); }
void BM_FillOneColumn(benchmark::State& state) { fill(state, 1, 65536); }
// The common tall, narrow table.
void BM_FillRowsOf5Columns(benchmark::State& state) { fill(state, 5, 20000); }

BENCHMARK(BM_FillRowsOf256Columns)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FillOneColumn)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FillRowsOf5Columns)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kelp
