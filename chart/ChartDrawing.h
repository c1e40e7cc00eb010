// Drawing a chart onto a canvas, with a record of where everything went.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "chart/ChartData.h"
#include "chart/ChartOptions.h"
#include "platform/ui/Canvas.h"

namespace kelp {

/// A value axis: `base` and `step` as the scaling chose them, `low` and `high` the ends
/// the axis is drawn between (the base and the far end rounded out to steps).
struct AxisScale {
  double base = 0;
  double step = 1;
  double low = 0;
  double high = 1;
  /// The multiples of the step from low to high, where gridlines and labels go.
  std::vector<double> ticks() const;
};

/// Scales a value axis for values from `smallest` to `largest`. Bars stand one step lower.
AxisScale scaleValueAxis(double smallest, double largest, bool fixedScale, bool bars);

/// The text of an axis label: fixed decimals enough for the step with the locale's
/// decimal symbol, or "%.5g" for numbers too large or too small for that.
std::u16string axisLabelText(double value, double step);

/// A pie slice: the point it shows and its angles in degrees, measured from nine o'clock
/// through the bottom.
struct PieSlice {
  int32_t point = 0;
  double start = 0;
  double end = 0;
};
/// The slices of a series: absolute values, none for a zero or a missing value.
std::vector<PieSlice> pieSlices(const std::vector<double>& values);

/// The parts of a chart in the order they are drawn.
enum class ChartPart { Background, Title, Legend, Gridlines, Axes, Data, AxisLabels, AxisTitles };

/// A tappable point, a bar or a slice: `series` -1 for a pie's slices.
struct ChartHit {
  Rect box;
  Point centre;
  int32_t series = 0;
  int32_t point = 0;
};

struct ChartGeometry {
  std::vector<ChartPart> drawn;
  Rect plot;
  Rect legend;                       // empty without a legend
  std::vector<Rect> legendEntries;   // one per series (per slice for a pie)
  AxisScale valueAxis;               // Y
  AxisScale xAxis;                   // the X values of the XY types
  std::vector<std::u16string> valueLabels;     // the Y labels drawn, bottom up
  std::vector<std::u16string> categoryLabels;  // the X labels drawn, left to right
  std::vector<PieSlice> slices;
  std::vector<size_t> sliceRimPoints;  // rim points of each slice's polygon
  std::vector<ChartHit> hits;          // series by series, point by point
  bool drew(ChartPart part) const;
};

/// Draws the chart of `data` into `area` of the canvas.
ChartGeometry drawChart(Canvas& canvas, const Rect& area, const ChartOptions& options, const ChartData& data);

/// The line shown for a tap at `at`: a series' name in the legend, a point's series,
/// category and value, an XY point's coordinates or a slice's value and share. Empty
/// when nothing is there.
std::u16string chartTapText(const ChartGeometry& geometry, const ChartOptions& options, const ChartData& data, Point at);
/// The same for hit `index` of the geometry, as the arrow keys step through them.
std::u16string chartHitText(const ChartGeometry& geometry, const ChartOptions& options, const ChartData& data,
                            size_t index);

}  // namespace kelp
