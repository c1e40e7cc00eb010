// Reading a sheet of another workbook file for a formula: the first value of a 100,000-cell
// .kp and .xls sheet (the whole read-only load), and the cached values after it.
#include <benchmark/benchmark.h>

#include <string>
#include <unistd.h>

#include "files/Document.h"
#include "files/ExternalRefs.h"
#include "functions/Engine.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/File.h"
#include "platform/Text.h"

namespace kelp {
namespace {

constexpr int32_t Rows = 1000;
constexpr int32_t Columns = 100;  // 100,000 cells: numbers and one text in ten

std::string benchFile(const char* extension) {
  return "/tmp/kelp-bench-external-" + std::to_string(::getpid()) + extension;
}

void writeSource(const std::string& path, DocFileType type) {
  startEngine();
  Document document;
  Sheet& sheet = *document.workbook().sheetAt(0);
  for (int32_t r = 0; r < Rows; ++r)
    for (int32_t c = 0; c < Columns; ++c) {
      CellRecord cell{numberValue(r * Columns + c), -1};
      if (c % 10 == 1) makeText(cell.value, u"text " + decimalText(r * Columns + c));
      sheet.setCell(c, r, cell);
    }
  if (!SaveDocument(document, utf8ToUtf16(path), type)) std::abort();
}

// A new referring workbook each round, so that every round reads the file afresh.
void firstValue(benchmark::State& state, const char* extension, DocFileType type) {
  const std::string path = benchFile(extension);
  writeSource(path, type);
  installExternalReferences();
  for (auto _ : state) {
    std::unique_ptr<Workbook> book = newWorkbook(1);
    int32_t index = book->findOrAddExternalBook(u"", utf8ToUtf16(path));
    book->externalBook(index)->sheetNames = {u"Sheet1"};
    CellValue value = GetExternalValue(*book, index, 0, Columns - 1, Rows - 1);
    if (value.kind != ValueKind::Number) state.SkipWithError("no value");
    benchmark::DoNotOptimize(value);
  }
  (void)removeFile(path);
}

void BM_FirstValueOfNativeSheet(benchmark::State& state) { firstValue(state, ".kp", DocFileType::Native); }
void BM_FirstValueOfExcelSheet(benchmark::State& state) { firstValue(state, ".xls", DocFileType::Excel97); }

// Every cell of the sheet once it is cached, as a Sum over it reads them.
void BM_CachedValues(benchmark::State& state) {
  const std::string path = benchFile(".kp");
  writeSource(path, DocFileType::Native);
  installExternalReferences();
  std::unique_ptr<Workbook> book = newWorkbook(1);
  int32_t index = book->findOrAddExternalBook(u"", utf8ToUtf16(path));
  book->externalBook(index)->sheetNames = {u"Sheet1"};
  CellValue first = GetExternalValue(*book, index, 0, 0, 0);  // reads the sheet once
  releaseValue(first);
  for (auto _ : state) {
    double sum = 0;
    for (int32_t r = 0; r < Rows; ++r)
      for (int32_t c = 0; c < Columns; ++c) {
        CellValue value = GetExternalValue(*book, index, 0, c, r);
        if (value.kind == ValueKind::Number) sum += value.number();
        releaseValue(value);
      }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * Rows * Columns);
  (void)removeFile(path);
}

BENCHMARK(BM_FirstValueOfNativeSheet)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FirstValueOfExcelSheet)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CachedValues)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kelp
