// Series, names and category labels from a range of cells.
#include "chart/ChartData.h"

#include <cmath>
#include <limits>

#include "format/ValueText.h"
#include "model/CellTaskText.h"
#include "model/CellValue.h"
#include "model/Workbook.h"
#include "platform/StringTable.h"
#include "platform/Text.h"

namespace kelp {

namespace {

constexpr int SeriesPrefixString = 2571;
constexpr double Missing = std::numeric_limits<double>::quiet_NaN();

// The range is read as a grid of (line, position): a line is one series' cells.
struct Orientation {
  const Area& area;
  bool rows;
  int32_t lines() const { return rows ? area.lastRow - area.firstRow + 1 : area.lastColumn - area.firstColumn + 1; }
  int32_t positions() const {
    return rows ? area.lastColumn - area.firstColumn + 1 : area.lastRow - area.firstRow + 1;
  }
  int32_t column(int32_t line, int32_t position) const {
    return area.firstColumn + (rows ? position : line);
  }
  int32_t row(int32_t line, int32_t position) const { return area.firstRow + (rows ? line : position); }
};

bool isNumber(const CellValue& value) { return value.isNumeric(); }

// The text a header cell shows: a cell task's text without its task, a number or date
// under the cell's format.
std::u16string shownText(const Workbook& book, const Sheet& sheet, int32_t column, int32_t row) {
  if (column < 0 || row < 0 || column >= MaxColumns || row >= MaxRows) return {};
  return cellShownText(book, sheet, column, row);
}

std::u16string seriesName(std::u16string text, int32_t number) {
  if (!text.empty() && text.back() == u':') text.pop_back();
  return text.empty() ? defaultSeriesName(number) : text;
}

// A header line holds no number in any cell past the corner one.
bool isHeader(const Sheet& sheet, const Orientation& o, bool alongLines, int32_t skip) {
  if ((alongLines ? o.lines() : o.positions()) < 2) return false;
  const int32_t count = alongLines ? o.positions() : o.lines();
  for (int32_t k = skip; k < count; ++k) {
    int32_t column = alongLines ? o.column(0, k) : o.column(k, 0);
    int32_t row = alongLines ? o.row(0, k) : o.row(k, 0);
    if (isNumber(sheet.cellValue(column, row))) return false;
  }
  return true;
}

}  // namespace

bool ChartData::hasValue() const {
  for (const ChartSeries& s : series)
    for (double v : s.values)
      if (std::isfinite(v)) return true;
  return false;
}

size_t ChartData::pointCount() const {
  size_t count = 0;
  for (const ChartSeries& s : series) count = std::max(count, s.values.size());
  return count;
}

std::u16string defaultSeriesName(int32_t number) {
  std::u16string prefix(loadString(SeriesPrefixString));
  if (prefix.empty()) prefix = u"Ser";
  return prefix + decimalText(number);
}

ChartData chartDataFromSheet(const Workbook& book, const ChartOptions& options) {
  ChartData data;
  const Sheet* sheet = book.sheetAt(options.range.sheet);
  if (!options.range.valid() || !sheet) return data;
  const Orientation o{options.range.area, options.seriesInRows};
  // The line of category labels runs along the series; the name column crosses them.
  const bool labelLine = isHeader(*sheet, o, true, 1);
  const bool nameLine = isHeader(*sheet, o, false, labelLine ? 1 : 0);
  const int32_t firstLine = labelLine ? 1 : 0;
  const int32_t firstPosition = nameLine ? 1 : 0;
  const int32_t positions = o.positions() - firstPosition;
  for (int32_t p = 0; p < positions; ++p) {
    std::u16string label;
    if (labelLine) label = shownText(book, *sheet, o.column(0, firstPosition + p), o.row(0, firstPosition + p));
    data.categories.push_back(label.empty() ? decimalText(p + 1) : label);
  }
  int32_t number = 0;
  for (int32_t line = firstLine; line < o.lines(); ++line) {
    ChartSeries series;
    series.values.reserve(static_cast<size_t>(positions));
    for (int32_t p = 0; p < positions; ++p) {
      const CellValue& value = sheet->cellValue(o.column(line, firstPosition + p), o.row(line, firstPosition + p));
      series.values.push_back(isNumber(value) ? value.number() : Missing);
    }
    std::u16string header;
    if (nameLine) {
      header = shownText(book, *sheet, o.column(line, 0), o.row(line, 0));
    } else {
      // A series selected without its header takes the text just before it on the sheet.
      const int32_t column = o.rows ? o.column(line, 0) - 1 : o.column(line, 0);
      const int32_t row = o.rows ? o.row(line, 0) : o.row(line, 0) - 1;
      if (column >= 0 && row >= 0 && sheet->cellValue(column, row).kind == ValueKind::Text)
        header = shownText(book, *sheet, column, row);
    }
    // The X values are the range's first series, so the Y series keep their place in
    // the range: the first Y series without a header is "Ser2".
    ++number;
    if (isXYChart(options.type) && line == firstLine && o.lines() - firstLine > 1) {
      data.x = std::move(series.values);
      continue;
    }
    series.name = seriesName(std::move(header), number);
    data.series.push_back(std::move(series));
  }
  return data;
}

}  // namespace kelp
