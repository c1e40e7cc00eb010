// The chart options record, the item language that sets it and its text form.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "model/Sheet.h"

namespace kelp {

/// Chart types by the numbers the options record stores (frozen: saved charts name them).
enum class ChartType : int32_t { Bar = 0, Line = 1, LineMarkers = 2, Pie = 3, XY = 4, XYLines = 5, XYLinesMarkers = 6 };
constexpr int32_t ChartTypeCount = 7;

/// "Bar", "Line", ... as items and the text form write them.
std::u16string_view chartTypeName(ChartType type);
/// The type a name stands for, compared without regard to case; false for no type.
bool chartTypeFromName(std::u16string_view name, ChartType& out);
inline bool isXYChart(ChartType type) { return type >= ChartType::XY; }

/// Titles hold at most this many characters; a longer title item is ignored.
constexpr size_t MaxChartTitle = 49;

/// The cells a chart is drawn from; sheet -1 until a chart was shown.
struct ChartRange {
  int32_t sheet = -1;
  Area area{};
  bool valid() const { return sheet >= 0; }
  bool operator==(const ChartRange&) const = default;
};

struct ChartOptions {
  ChartRange range;
  ChartType type = ChartType::Bar;
  bool seriesInRows = true;
  bool legend = false;
  std::u16string title;
  std::u16string xTitle;
  std::u16string yTitle;
  bool xAxis = true;
  bool yAxis = true;
  bool xGrid = false;
  bool yGrid = true;
  bool fixedScale = false;  // "Auto Scale" off: the value axis starts at zero

  bool operator==(const ChartOptions&) const = default;
  /// Everything but the range back to the defaults; the range stays so that a chart run
  /// from a cell inside it can redraw it.
  void resetKeepingRange();
};

/// Applies one item; false when it was skipped (items are never refused with a message).
bool applyChartItem(ChartOptions& options, std::u16string_view item);
/// Applies the items last first, so that of two items on one field the leftmost wins.
void applyChartItems(ChartOptions& options, std::span<const std::u16string> items);

/// The items that differ from the defaults, each quoted, joined by ",", in the fixed
/// order: titles, type, series, legend, axes, gridlines, Auto Scale. Empty for the defaults.
std::u16string chartItemsText(const ChartOptions& options);
/// The cell task text that redraws the chart: "Chart(" items ")".
std::u16string chartCallText(const ChartOptions& options);
/// The quoted arguments of a task text that is one Chart call, such as chartCallText
/// writes; false for any other text.
bool parseChartCall(std::u16string_view text, std::vector<std::u16string>& items);

/// The one application-wide record the dialogs, the Chart function and kelpcli share.
ChartOptions& chartOptions();

/// Makes `selection` on sheet `sheet` the options' range before a chart is shown: error 36
/// past 10,000 cells; a single cell redraws the previous range when it lies inside it and
/// is error 37 otherwise. False with the error set.
bool chooseChartRange(ChartOptions& options, int32_t sheet, const Area& selection);

/// Cells a chart may be drawn from, at most.
constexpr int64_t MaxChartCells = 10000;

}  // namespace kelp
