// Saving and opening a native workbook of a million cells: MB/s written and read.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "bench/BenchDocuments.h"
#include "files/Document.h"
#include "files/NativeFormat.h"
#include "formula/Tokens.h"
#include "model/HandlePool.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/Text.h"

namespace kelp {
namespace {

constexpr int32_t Rows = 4000;
constexpr int32_t Columns = 250;  // 1,000,000 cells

using bench::benchFile;
using bench::fileSize;

// Numbers, 100,000 texts and 100,000 formulas.
std::unique_ptr<Document> millionCells() { return bench::filledDocument(Rows, Columns); }

void BM_SaveNative(benchmark::State& state) {
  auto doc = millionCells();
  std::u16string name = benchFile(".kp");
  for (auto _ : state) {
    clearError();
    if (!SaveDocument(*doc, name, DocFileType::Native)) state.SkipWithError("save failed");
  }
  state.SetBytesProcessed(state.iterations() * fileSize(name));
  state.counters["file_MB"] = static_cast<double>(fileSize(name)) / 1e6;
  doc.reset();
  ::unlink(utf16ToUtf8(name).c_str());
}

void BM_OpenNative(benchmark::State& state) {
  std::u16string name = benchFile(".kp");
  {
    auto doc = millionCells();
    clearError();
    SaveDocument(*doc, name, DocFileType::Native);
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

BENCHMARK(BM_SaveNative)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OpenNative)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace kelp
