// Saving and opening a Pocket Excel workbook of 100,000 cells: MB/s written and read.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "files/DocStream.h"
#include "bench/BenchDocuments.h"
#include "files/Document.h"
#include "files/PocketExcel.h"
#include "formula/Tokens.h"
#include "model/HandlePool.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/Text.h"

namespace kelp {
namespace {

constexpr int32_t Rows = 400;
constexpr int32_t Columns = 250;  // 100,000 cells

using bench::benchFile;
using bench::fileSize;

// Numbers, 10,000 texts and 10,000 formulas, as the native format's benchmark mixes them.
std::unique_ptr<Document> hundredThousandCells() {
  installPocketExcelFormat();
  return bench::filledDocument(Rows, Columns);
}

void BM_SavePocketExcel(benchmark::State& state) {
  auto doc = hundredThousandCells();
  const std::u16string name = benchFile(".pxl");
  for (auto _ : state) {
    clearError();
    if (!SaveDocument(*doc, name, DocFileType::PocketExcel)) state.SkipWithError("save failed");
  }
  state.SetBytesProcessed(state.iterations() * fileSize(name));
  state.counters["file_MB"] = static_cast<double>(fileSize(name)) / 1e6;
  doc.reset();
  ::unlink(utf16ToUtf8(name).c_str());
}

void BM_OpenPocketExcel(benchmark::State& state) {
  const std::u16string name = benchFile(".pxl");
  {
    auto doc = hundredThousandCells();
    clearError();
    SaveDocument(*doc, name, DocFileType::PocketExcel);
  }
  for (auto _ : state) {
    Document doc;
    clearError();
    if (!OpenDocument(doc, name)) state.SkipWithError("open failed");
    benchmark::DoNotOptimize(doc.workbook().sheetAt(0));
    state.PauseTiming();  // freeing the workbook is not part of opening it
    ReleaseDocumentFile(doc);
    doc.replaceWorkbook(nullptr);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(state.iterations() * fileSize(name));
  ::unlink(utf16ToUtf8(name).c_str());
}

// The writer alone, into memory: the save above adds the file's sync to the disk.
void BM_WritePocketExcel(benchmark::State& state) {
  auto doc = hundredThousandCells();
  size_t bytes = 0;
  for (auto _ : state) {
    clearError();
    MemoryDocStream stream;
    stream.allocateBuffer();
    if (!WritePocketExcel(doc->workbook(), stream)) state.SkipWithError("write failed");
    stream.Flush();
    bytes = stream.size();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

BENCHMARK(BM_WritePocketExcel)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SavePocketExcel)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OpenPocketExcel)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace kelp
