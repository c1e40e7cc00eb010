// Chart drawing: a 10,000-point XY chart with lines and markers, read from a sheet and
// drawn at the command line's default size, and its series read alone.
#include <benchmark/benchmark.h>

#include <cmath>

#include "chart/ChartData.h"
#include "chart/ChartDrawing.h"
#include "model/CellValue.h"
#include "model/Workbook.h"

namespace kelp {
namespace {

constexpr int32_t Points = 10000;

// Two columns: x and a wave over it, under a header row.
std::unique_ptr<Workbook> waveBook(ChartOptions& options) {
  auto book = newWorkbook(1);
  Sheet& sheet = *book->sheetAt(0);
  for (const auto& [col, name] : {std::pair{0, u"x"}, std::pair{1, u"Sin(x)"}}) {
    CellRecord header{emptyValue(), -1};
    makeText(header.value, name);
    sheet.setCell(col, 0, header);
  }
  for (int32_t i = 1; i <= Points; ++i) {
    const double x = i / 100.0;
    sheet.setCell(0, i, CellRecord{numberValue(x), -1});
    sheet.setCell(1, i, CellRecord{numberValue(std::sin(x) * 100 + x), -1});
  }
  options.type = ChartType::XYLinesMarkers;
  options.seriesInRows = false;
  options.legend = true;
  options.xGrid = true;
  options.range = {0, Area{0, 0, static_cast<uint16_t>(Points), 1}};
  return book;
}

void BM_DrawXYChart(benchmark::State& state) {
  ChartOptions options;
  auto book = waveBook(options);
  FrameBuffer image(480, 360);
  Canvas canvas(image);
  for (auto _ : state) {
    const ChartData data = chartDataFromSheet(*book, options);
    ChartGeometry geometry = drawChart(canvas, image.bounds(), options, data);
    benchmark::DoNotOptimize(geometry.hits.data());
  }
}
BENCHMARK(BM_DrawXYChart)->Unit(benchmark::kMillisecond);

void BM_ReadSeries(benchmark::State& state) {
  ChartOptions options;
  auto book = waveBook(options);
  for (auto _ : state) {
    ChartData data = chartDataFromSheet(*book, options);
    benchmark::DoNotOptimize(data.series.data());
  }
}
BENCHMARK(BM_ReadSeries)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kelp
