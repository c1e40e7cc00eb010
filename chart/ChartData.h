// The series of a chart, read from the cells of its range.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "chart/ChartOptions.h"

namespace kelp {

class Workbook;

struct ChartSeries {
  std::u16string name;
  std::vector<double> values;  // NaN where a cell holds no number
};

/// What a chart is drawn from. For the XY types `x` holds the first series of the range
/// and `series` the others.
struct ChartData {
  std::vector<ChartSeries> series;
  std::vector<double> x;
  std::vector<std::u16string> categories;  // one per point; "1", "2", ... without a header
  /// Whether any series holds a number: a chart without one draws only its background.
  bool hasValue() const;
  size_t pointCount() const;
};

/// "Ser" and the series number from 1, the name of a series without a header text.
std::u16string defaultSeriesName(int32_t number);

/// Reads the options' range on its sheet. A leading row or column that holds no number
/// is the header: it names the series and labels the categories. Without a header a
/// series is named by the text cell just before it on the sheet, else "Ser" and its
/// number; one trailing ":" is removed from a name.
ChartData chartDataFromSheet(const Workbook& book, const ChartOptions& options);

}  // namespace kelp
