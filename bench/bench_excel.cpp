// Opening an Excel 97 workbook of 20,000 rows (40,000 numbers, 60,000 shared formulas),
// saving it in Kelp's format and writing it back as Excel 97; the figures are time and the
// heap high-water mark.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <string>

#include "files/DocStream.h"
#include "files/Document.h"
#include "files/ExcelWriter.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/Text.h"

namespace kelp {
namespace {

const std::string kInput = std::string(KELP_BENCH_DATA) + "/bench_20000x5.xls";

double peakMegabytes() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

// The program's own high-water mark, taken as it starts, before any workbook exists.
const double g_startPeak = peakMegabytes();

void BM_OpenExcelSaveNative(benchmark::State& state) {
  const std::u16string output = utf8ToUtf16("/tmp/kelp-bench-excel-" + std::to_string(::getpid()) + ".kp");
  int32_t formulas = 0;
  for (auto _ : state) {
    clearError();
    Document document;
    if (!OpenDocument(document, utf8ToUtf16(kInput))) state.SkipWithError("open failed");
    formulas = document.workbook().formulas().count();
    if (!SaveDocument(document, output, DocFileType::Native)) state.SkipWithError("save failed");
  }
  state.counters["formulas"] = formulas;
  state.counters["peak_MB_added"] = peakMegabytes() - g_startPeak;
  ::unlink(utf16ToUtf8(output).c_str());
}

void BM_OpenExcel(benchmark::State& state) {
  for (auto _ : state) {
    clearError();
    Document document;
    if (!OpenDocument(document, utf8ToUtf16(kInput))) state.SkipWithError("open failed");
  }
}

// The writer alone: the workbook stream and its compound file, into memory.
void BM_WriteExcel97(benchmark::State& state) {
  clearError();
  Document document;
  if (!OpenDocument(document, utf8ToUtf16(kInput))) state.SkipWithError("open failed");
  size_t bytes = 0;
  for (auto _ : state) {
    MemoryDocStream stream;
    stream.allocateBuffer();
    if (!writeExcelFile(document.workbook(), stream, true)) state.SkipWithError("write failed");
    stream.Flush();
    bytes = stream.size();
  }
  state.counters["bytes"] = static_cast<double>(bytes);
}

// Save As Excel 97 through the document: a temporary file, written, synced and renamed.
void BM_SaveExcel97(benchmark::State& state) {
  clearError();
  Document document;
  if (!OpenDocument(document, utf8ToUtf16(kInput))) state.SkipWithError("open failed");
  const std::u16string output = utf8ToUtf16("/tmp/kelp-bench-excel-" + std::to_string(::getpid()) + ".xls");
  for (auto _ : state)
    if (!SaveCopy(document, output)) state.SkipWithError("save failed");
  ::unlink(utf16ToUtf8(output).c_str());
}

BENCHMARK(BM_WriteExcel97)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SaveExcel97)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OpenExcelSaveNative)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OpenExcel)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace kelp
