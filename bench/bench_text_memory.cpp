// Opening text files far larger than a sheet: each file is opened in a child process,
// whose peak resident memory (getrusage) is set against what the sheet it made holds.
// Counters: seconds (wall) and cpu_seconds (user and system, less swayed by other
// programs on the machine), peak_MB, sheet_MB (resident memory the open added and kept),
// over_MB (peak beyond that: the reader's own), rows kept and the file's size.
// The files are made in $TMPDIR (or /tmp) and removed afterwards.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "files/Document.h"
#include "files/TextFiles.h"
#include "functions/Engine.h"
#include "model/Sheet.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/Text.h"

namespace kelp {
namespace {

std::string scratchName(const char* name) {
  const char* folder = std::getenv("TMPDIR");
  return std::string(folder && *folder ? folder : "/tmp") + "/kelp-bench-" + std::to_string(::getpid()) + "-" + name;
}

double residentMB() {
  long pages = 0, resident = 0;
  if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(statm);
  }
  return static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE)) / 1e6;
}

struct OpenRun {
  double seconds = 0;
  double cpuSeconds = 0;
  double beforeMB = 0;
  double afterMB = 0;
  double peakMB = 0;
  int32_t rows = 0;
  uint32_t error = 0;
  bool done = false;
};

// The open runs in a child, so that each file's peak is its own and a runaway read
// cannot take the benchmark down with it.
OpenRun openInChild(const std::string& path) {
  OpenRun run;
  int channel[2];
  if (::pipe(channel) != 0) return run;
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(channel[0]);
    OpenRun mine;
    mine.beforeMB = residentMB();
    const auto start = std::chrono::steady_clock::now();
    Document document;
    clearError();
    const bool opened = OpenDocument(document, utf8ToUtf16(path));
    mine.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    mine.error = opened ? 0 : pendingError();
    mine.rows = document.workbook().sheetAt(0) ? document.workbook().sheetAt(0)->lastUsedRow(-1) + 1 : 0;
    mine.afterMB = residentMB();
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    mine.peakMB = static_cast<double>(usage.ru_maxrss) * 1024 / 1e6;
    mine.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                      static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    mine.done = true;
    if (::write(channel[1], &mine, sizeof mine) != static_cast<ssize_t>(sizeof mine)) ::_exit(1);
    ::_exit(0);
  }
  ::close(channel[1]);
  if (child > 0) {
    if (::read(channel[0], &run, sizeof run) != static_cast<ssize_t>(sizeof run)) run = OpenRun{};
    int status = 0;
    ::waitpid(child, &status, 0);
  }
  ::close(channel[0]);
  return run;
}

void report(benchmark::State& state, const std::string& path, off_t fileBytes) {
  OpenRun run;
  for (auto _ : state) {
    run = openInChild(path);
    if (!run.done) {
      state.SkipWithError("the open did not finish");
      break;
    }
    state.SetIterationTime(run.seconds);
  }
  const double sheetMB = run.afterMB - run.beforeMB;
  state.counters["file_MB"] = static_cast<double>(fileBytes) / 1e6;
  state.counters["seconds"] = run.seconds;
  state.counters["cpu_seconds"] = run.cpuSeconds;
  state.counters["peak_MB"] = run.peakMB;
  state.counters["sheet_MB"] = sheetMB;
  state.counters["over_MB"] = run.peakMB - run.beforeMB - sheetMB;
  state.counters["rows"] = run.rows;
  state.counters["error"] = run.error;
}

/// Writes `rows` lines of `line(row)` to a new file; its size.
template <typename Line>
off_t writeLines(const std::string& path, int32_t rows, Line line) {
  FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) return 0;
  std::string text;
  for (int32_t r = 0; r < rows; ++r) {
    line(r, text);
    std::fwrite(text.data(), 1, text.size(), out);
  }
  const off_t size = std::ftell(out);
  std::fclose(out);
  return size;
}

// About 270 MB in 72,500 rows of 26 fields, nearly all of it in the sheet's 65,536
// rows: 20 numbers, 5 texts of 100 characters and one of 3,000, which is cut at 1,000.
void BM_OpenWideCsv(benchmark::State& state) {
  startEngine();
  installTextFormats();
  const std::string path = scratchName("wide.csv");
  const std::string text100(100, 't');
  const std::string text3000(3000, 'L');
  const off_t size = writeLines(path, 72500, [&](int32_t r, std::string& line) {
    line.clear();
    for (int c = 0; c < 20; ++c) line += std::to_string(r * 20 + c) + "." + std::to_string(c * 37 % 1000) + ",";
    for (int c = 0; c < 5; ++c) line += text100 + ",";
    line += text3000 + "\r\n";
  });
  report(state, path, size);
  std::remove(path.c_str());
}

// About 270 MB in 2,700,000 short rows: reading stops at the sheet's last row.
void BM_OpenLongCsv(benchmark::State& state) {
  startEngine();
  installTextFormats();
  const std::string path = scratchName("long.csv");
  const off_t size = writeLines(path, 2700000, [](int32_t r, std::string& line) {
    line = std::to_string(r) + ",item " + std::to_string(r) + "," + std::to_string(r % 1000) +
           ".25,\"last, first\",a text of some length to fill the line up to ninety bytes\r\n";
  });
  report(state, path, size);
  std::remove(path.c_str());
}

// A 3 GB sparse file: a few rows, then nothing but NUL bytes and no line break.
void BM_OpenSparseCsv(benchmark::State& state) {
  startEngine();
  installTextFormats();
  const std::string path = scratchName("sparse.csv");
  const off_t size = writeLines(path, 10, [](int32_t r, std::string& line) { line = std::to_string(r) + ",x\n"; });
  if (::truncate(path.c_str(), off_t{3} << 30) != 0) state.SkipWithError("no sparse file");
  report(state, path, off_t{3} << 30);
  (void)size;
  std::remove(path.c_str());
}

// A .csv that is a link to /dev/zero: NUL bytes without end.
void BM_OpenDevZeroCsv(benchmark::State& state) {
  startEngine();
  installTextFormats();
  const std::string path = scratchName("zero.csv");
  if (::symlink("/dev/zero", path.c_str()) != 0) state.SkipWithError("no link");
  report(state, path, 0);
  std::remove(path.c_str());
}

// A 3 GB sparse .xls, more than the container of any Excel workbook holds.
void BM_OpenHugeXls(benchmark::State& state) {
  startEngine();
  const std::string path = scratchName("huge.xls");
  if (FILE* out = std::fopen(path.c_str(), "wb")) std::fclose(out);
  if (::truncate(path.c_str(), off_t{3} << 30) != 0) state.SkipWithError("no sparse file");
  report(state, path, off_t{3} << 30);
  std::remove(path.c_str());
}

BENCHMARK(BM_OpenWideCsv)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenLongCsv)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenSparseCsv)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenDevZeroCsv)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenHugeXls)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kelp
