// Reading and writing a CSV of 100,000 rows by 5 columns: numbers, dates and texts. A
// sheet holds 65,536 rows, so the reader splits every line and stores the first 65,536.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "files/DocStream.h"
#include "files/TextFiles.h"
#include "functions/Engine.h"
#include "model/Sheet.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/Text.h"

namespace kelp {
namespace {

constexpr int Rows = 100000;

// Per row: an integer, a decimal, a date, a text and a text that needs quotes.
std::string generatedCsv() {
  std::string csv;
  csv.reserve(Rows * 48);
  for (int r = 0; r < Rows; ++r) {
    csv += std::to_string(r);
    csv += ',';
    csv += std::to_string(r % 1000) + "." + std::to_string(r % 97);
    csv += ',';
    csv += std::to_string(r % 12 + 1) + "/" + std::to_string(r % 28 + 1) + "/" + std::to_string(r % 30 + 2000);
    csv += ",item ";
    csv += std::to_string(r);
    csv += ",\"last, first\"\r\n";
  }
  return csv;
}

std::unique_ptr<Workbook> readCsv(const std::string& csv) {
  auto book = newWorkbook(1);
  MemoryDocStream stream(csv.data(), csv.size());
  stream.allocateBuffer();
  (void)ReadDelimitedText(*book, *book->sheetAt(0), stream, u',', 0, 0);
  return book;
}

void BM_ReadCsv(benchmark::State& state) {
  startEngine();
  const std::string csv = generatedCsv();
  for (auto _ : state) {
    clearError();
    auto book = readCsv(csv);
    if (pendingError() || book->sheetAt(0)->lastUsedRow(-1) != MaxRows - 1) {
      state.SkipWithError("read failed");
      break;
    }
    state.PauseTiming();
    book.reset();  // freeing half a million cells is not the reader's time
    state.ResumeTiming();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(csv.size()));
  state.counters["file_MB"] = static_cast<double>(csv.size()) / 1e6;
}

void BM_WriteCsv(benchmark::State& state) {
  startEngine();
  auto book = readCsv(generatedCsv());
  uint32_t written = 0;
  for (auto _ : state) {
    clearError();
    MemoryDocStream stream;
    WriteDelimitedText(*book, *book->sheetAt(0), stream, u',', TextEncoding::Utf16Le);
    written = stream.size();
    if (pendingError()) state.SkipWithError("write failed");
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(written));
  state.counters["file_MB"] = static_cast<double>(written) / 1e6;
}

BENCHMARK(BM_ReadCsv)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteCsv)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kelp
