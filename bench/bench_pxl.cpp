// Saving and opening a Pocket Excel workbook of 100,000 cells: MB/s written and read.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "files/DocStream.h"
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

// "=<cell to the left> + 1", a relative reference as the compiler writes it.
uint32_t leftPlusOne() {
  uint8_t tokens[] = {static_cast<uint8_t>(Op::CellRef), 0, 0, 0xFF, 0xC0, static_cast<uint8_t>(Op::Number),
                      0, 0, 0, 0, 0, 0, 0xF0, 0x3F, static_cast<uint8_t>(Op::Add), static_cast<uint8_t>(Op::End)};
  uint8_t entry[4 + sizeof tokens];
  uint32_t length = sizeof tokens;
  std::memcpy(entry, &length, 4);
  std::memcpy(entry + 4, tokens, sizeof tokens);
  return formulaPool().add(entry, sizeof entry, 1);
}

// Numbers, 10,000 texts and 10,000 formulas, as the native format's benchmark mixes them.
std::unique_ptr<Document> hundredThousandCells() {
  installTokenHooks();
  installPocketExcelFormat();
  auto doc = std::make_unique<Document>();
  Sheet& sheet = *doc->workbook().sheetAt(0);
  for (int32_t r = 0; r < Rows; ++r)
    for (int32_t c = 0; c < Columns; ++c) {
      const int32_t n = r * Columns + c;
      CellRecord cell{numberValue(n * 0.25), -1};
      if (n % 10 == 1) {
        makeText(cell.value, u"text " + decimalText(n));
      } else if (n % 10 == 2) {
        cell.value = newFormulaValue(leftPlusOne(), CellPosition{static_cast<uint16_t>(c), static_cast<uint16_t>(r), 0});
        formulaResult(cell.value) = numberValue(n);
      }
      sheet.setCell(c, r, cell);
    }
  return doc;
}

std::u16string benchFile() { return utf8ToUtf16("/tmp/kelp-bench-" + std::to_string(::getpid()) + ".pxl"); }

off_t fileSize(const std::u16string& name) {
  struct stat info {};
  ::stat(utf16ToUtf8(name).c_str(), &info);
  return info.st_size;
}

void BM_SavePocketExcel(benchmark::State& state) {
  auto doc = hundredThousandCells();
  const std::u16string name = benchFile();
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
  const std::u16string name = benchFile();
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
