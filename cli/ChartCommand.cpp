// kelpcli chart: a chart of a range, or the one a chart cell saved, drawn to a PNG.
#include <cstdio>
#include <string>
#include <vector>

#include "chart/ChartOptions.h"
#include "chart/ChartPicture.h"
#include "cli/Book.h"
#include "cli/Cli.h"
#include "formula/Recalc.h"
#include "model/CellTaskText.h"
#include "model/CellValue.h"
#include "model/Sheet.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/Text.h"

namespace kelp::cli {

namespace {

constexpr int DefaultWidth = 480;
constexpr int DefaultHeight = 360;
constexpr int SmallestSide = 16;
constexpr int LargestSide = 4096;

struct ChartCommandOptions {
  std::vector<std::string> positional;  // FILE, then REF unless --cell, then the items
  std::string output;
  std::string sheet;
  std::string cell;
  std::string password;
  int width = DefaultWidth;
  int height = DefaultHeight;
};

bool parseSize(const std::string& text, int& width, int& height) {
  int w = 0;
  int h = 0;
  char rest = 0;
  if (std::sscanf(text.c_str(), "%dx%d%c", &w, &h, &rest) != 2) return false;
  if (w < SmallestSide || h < SmallestSide || w > LargestSide || h > LargestSide) return false;
  width = w;
  height = h;
  return true;
}

int parseOptions(Args& args, ChartCommandOptions& options) {
  while (!args.done()) {
    const std::string item(args.take());
    std::string value;
    if (item == "-o" || item == "--output") {
      if (!args.takeValue(item, options.output)) return 2;
    } else if (item == "--sheet") {
      if (!args.takeValue(item, options.sheet)) return 2;
    } else if (item == "--cell") {
      if (!args.takeValue(item, options.cell)) return 2;
    } else if (item == "--password") {
      if (!args.takeValue(item, options.password)) return 2;
    } else if (item == "--size") {
      if (!args.takeValue(item, value)) return 2;
      if (!parseSize(value, options.width, options.height))
        return usageError("--size takes WxH, such as 480x360, each from 16 to 4096");
    } else {
      options.positional.push_back(item);
    }
  }
  if (options.output.empty()) return usageError("chart needs -o OUT.png");
  if (options.positional.empty()) return usageError("chart takes FILE and REF, or FILE --cell REF");
  if (options.cell.empty() && options.positional.size() < 2) return usageError("chart takes FILE and REF");
  return 0;
}

// The items of the Chart call a chart cell saved, as its cell task or as its text.
bool savedChartItems(const Workbook& book, int32_t sheet, const std::string& ref, std::vector<std::u16string>& items) {
  CellName cell;
  if (!parseCellName(book, utf8ToUtf16(ref), sheet, cell)) return false;
  const CellValue& value = book.sheetAt(cell.sheet)->cellValue(cell.column, cell.row);
  const std::u16string_view stored = value.kind == ValueKind::Text ? textOf(value) : std::u16string_view();
  const CellTaskParts parts = splitCellTaskText(stored);
  if (parseChartCall(parts.hasTask ? parts.definition : stored, items)) return true;
  std::fprintf(stderr, "kelpcli: %s holds no Chart(...) task\n", ref.c_str());
  return false;
}

}  // namespace

int runChart(Args& args) {
  ChartCommandOptions options;
  if (int status = parseOptions(args, options)) return status;
  const std::string& path = options.positional[0];
  Document document;
  if (!readBook(document, path, options.password)) return 1;
  Workbook& book = document.workbook();
  const int32_t sheet = chosenSheet(book, path, options.sheet);
  if (sheet < 0) return 1;
  recalculateAll(book);

  ChartOptions& chart = chartOptions();
  chart.resetKeepingRange();
  std::vector<std::u16string> items;
  size_t firstItem = 2;
  if (!options.cell.empty()) {
    if (!savedChartItems(book, sheet, options.cell, items)) return 1;
    // The saved chart is drawn from REF when one is given, else from the cells the file
    // has selected, as running the cell in the window draws the current selection.
    firstItem = options.positional.size() >= 2 ? 2 : 1;
    if (options.positional.size() > 2) return usageError("--cell takes the items from the cell, not the command line");
  }
  for (size_t i = firstItem; i < options.positional.size(); ++i) items.push_back(utf8ToUtf16(options.positional[i]));
  applyChartItems(chart, items);

  if (firstItem == 2 && !selectCells(book, sheet, options.positional[1])) return 2;
  clearError();
  if (!chooseChartRange(chart, sheet, book.sheetAt(sheet)->selection.area()) ||
      !writeChartPng(book, chart, options.width, options.height, options.output)) {
    std::fprintf(stderr, "kelpcli: %s\n", takeErrorText().c_str());
    return 1;
  }
  return 0;
}

}  // namespace kelp::cli
