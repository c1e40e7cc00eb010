// Chart drawing: the axis scaling, pie slices, labels, the drawing order and what a tap
// shows, checked on the recorded geometry and on the pixels of a phone-sized screen.
#include "chart/ChartDrawing.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "platform/Locale.h"
#include "platform/Text.h"

namespace kelp {
namespace {

TEST(ChartScale, BaseStepAndTicksFollowTheData) {
  AxisScale line = scaleValueAxis(12, 18, false, false);  // 12 is 0.67 of 18: the axis stays near the data
  EXPECT_EQ(line.base, 12);
  EXPECT_EQ(line.step, 2);
  EXPECT_EQ(line.ticks(), (std::vector<double>{12, 14, 16, 18}));
  AxisScale bar = scaleValueAxis(12, 18, false, true);
  EXPECT_EQ(bar.base, 10);  // one step lower for bars
  EXPECT_EQ(bar.low, 10);
  AxisScale fixed = scaleValueAxis(12, 18, true, false);
  EXPECT_EQ(fixed.base, 0);
  EXPECT_EQ(fixed.step, 5);  // 18 / 3 = 6 rounds to 5
  EXPECT_EQ(fixed.ticks(), (std::vector<double>{0, 5, 10, 15, 20}));
  AxisScale mixed = scaleValueAxis(-3, 5, false, false);
  EXPECT_EQ(mixed.base, 0);
  EXPECT_EQ(mixed.step, 1);
  EXPECT_EQ(mixed.low, -3);
  EXPECT_EQ(mixed.high, 5);
  EXPECT_EQ(scaleValueAxis(3, 18, false, false).base, 0);  // 3 / 18 is below 0.2
  EXPECT_EQ(scaleValueAxis(1, 10, false, true).base, 0);   // never past zero
  EXPECT_EQ(scaleValueAxis(4, 18, false, true).base, 0);
  AxisScale negative = scaleValueAxis(-18, -12, false, true);
  EXPECT_EQ(negative.base, -10);
  EXPECT_EQ(negative.low, -18);
  EXPECT_EQ(negative.high, -10);
  // Mantissas: 2 stays, 8 and 9 become 10, 3, 4, 6 and 7 become 5.
  EXPECT_EQ(scaleValueAxis(0, 600, false, false).step, 200);
  EXPECT_EQ(scaleValueAxis(0, 24, false, false).step, 10);
  EXPECT_EQ(scaleValueAxis(0, 9.3, false, false).step, 5);
  EXPECT_DOUBLE_EQ(scaleValueAxis(0, 0.21, false, false).step, 0.05);
  EXPECT_EQ(scaleValueAxis(7, 7, false, false).ticks().size() >= 2, true);
}

TEST(ChartScale, LabelsUseTheLocaleDecimalSymbol) {
  ASSERT_TRUE(selectLocale("de_DE"));
  EXPECT_EQ(axisLabelText(0.5, 0.5), u"0,5");
  EXPECT_EQ(axisLabelText(0.15, 0.05), u"0,15");
  EXPECT_EQ(axisLabelText(12, 2), u"12");
  EXPECT_EQ(axisLabelText(-1e-17, 0.1), u"0,0");
  EXPECT_EQ(axisLabelText(2.5e8, 5e7), u"2.5e+08");
  ASSERT_TRUE(selectLocale("en_US"));
  EXPECT_EQ(axisLabelText(0.5, 0.5), u"0.5");
}

TEST(ChartPie, SlicesEndAtTheirCumulativeShares) {
  auto ends = [](std::vector<double> values) {
    std::vector<double> out;
    for (const PieSlice& s : pieSlices(values)) out.push_back(s.end);
    return out;
  };
  EXPECT_EQ(ends({1, 1, 2}), (std::vector<double>{90, 180, 360}));
  EXPECT_EQ(ends({-1, 1, 2}), (std::vector<double>{90, 180, 360}));
  const std::vector<PieSlice> withZero = pieSlices({1, 0, 1, 2});
  ASSERT_EQ(withZero.size(), 3u);
  EXPECT_EQ(withZero[1].point, 2);
  EXPECT_EQ(withZero[1].start, 90);
  EXPECT_TRUE(pieSlices({0, 0}).empty());
}

// A 240x320 screen, the size of the phone the chart is read on.
struct Screen {
  FrameBuffer image{240, 320};
  Canvas canvas{image};
  TextLog log;
  Screen() { canvas.setTextLog(&log); }
  ChartGeometry draw(const ChartOptions& options, const ChartData& data) {
    return drawChart(canvas, image.bounds(), options, data);
  }
  // The colour most pixels of `r` have.
  Color mainColour(const Rect& r) const {
    std::map<Color, int> counts;
    for (int y = r.top; y < r.bottom; ++y)
      for (int x = r.left; x < r.right; ++x) ++counts[image.pixel(x, y)];
    Color best = 0;
    int most = -1;
    for (auto [c, n] : counts)
      if (n > most) most = n, best = c;
    return best;
  }
};

ChartData seriesOf(std::vector<std::vector<double>> rows) {
  ChartData data;
  for (size_t i = 0; i < rows.size(); ++i) data.series.push_back({u"S" + decimalText(int64_t(i + 1)), rows[i]});
  for (size_t p = 0; p < data.pointCount(); ++p) data.categories.push_back(u"C" + decimalText(int64_t(p + 1)));
  return data;
}

bool overlapping(const std::vector<const DrawnText*>& texts) {
  for (size_t i = 0; i < texts.size(); ++i)
    for (size_t j = i + 1; j < texts.size(); ++j)
      if (texts[i]->visible.intersects(texts[j]->visible)) return true;
  return false;
}

TEST(ChartDrawing, PartsAreDrawnInOrderAndAPieLeavesOutGridAndAxes) {
  ChartOptions options;
  options.title = u"Budget";
  options.legend = true;
  options.xGrid = true;
  options.xTitle = u"Month";
  const ChartData data = seriesOf({{12, 15, 18}});
  Screen bars;
  ChartGeometry g = bars.draw(options, data);
  EXPECT_EQ(g.drawn, (std::vector<ChartPart>{ChartPart::Background, ChartPart::Title, ChartPart::Legend,
                                             ChartPart::Gridlines, ChartPart::Axes, ChartPart::Data,
                                             ChartPart::AxisLabels, ChartPart::AxisTitles}));
  EXPECT_EQ(g.valueAxis.base, 10);
  EXPECT_EQ(g.valueLabels, (std::vector<std::u16string>{u"10", u"12", u"14", u"16", u"18"}));
  EXPECT_EQ(g.categoryLabels, (std::vector<std::u16string>{u"C1", u"C2", u"C3"}));
  ASSERT_EQ(g.hits.size(), 3u);
  EXPECT_LT(g.hits[0].box.height(), g.hits[2].box.height());  // 12 stands lower than 18
  EXPECT_NE(bars.log.find(u"Budget"), nullptr);

  options.type = ChartType::Pie;
  options.yTitle = u"Euro";
  Screen pie;
  g = pie.draw(options, seriesOf({{1, 1, 2}}));
  EXPECT_EQ(g.drawn, (std::vector<ChartPart>{ChartPart::Background, ChartPart::Title, ChartPart::Legend, ChartPart::Data}));
  ASSERT_EQ(g.slices.size(), 3u);
  EXPECT_EQ(g.slices[2].end, 360);
  EXPECT_EQ(g.sliceRimPoints[0], 10u);  // 0, 8 steps of 3 percent, and 90 degrees
  EXPECT_EQ(pie.log.find(u"Euro"), nullptr);
  EXPECT_EQ(pie.log.find(u"Month"), nullptr);
  // The first slice runs from nine o'clock down: just below the left rim is slice 1,
  // just above it the last slice.
  const Point centre{(g.plot.left + g.plot.right) / 2, (g.plot.top + g.plot.bottom) / 2};
  const int r = g.plot.width() / 2;
  const Color first = pie.image.pixel(centre.x - r / 2, centre.y + 4);
  const Color last = pie.image.pixel(centre.x - r / 2, centre.y - 4);
  const Color second = pie.image.pixel(centre.x + 4, centre.y + r / 2);
  EXPECT_NE(first, last);
  EXPECT_NE(first, second);
  EXPECT_NE(first, Colors::White);

  Screen nothing;
  g = nothing.draw(options, seriesOf({{0, 0}}));
  EXPECT_TRUE(g.slices.empty());
  EXPECT_EQ(nothing.mainColour(nothing.image.bounds()), Colors::White);
  g = nothing.draw(ChartOptions{}, ChartData{});
  EXPECT_EQ(g.drawn, std::vector<ChartPart>{ChartPart::Background});
}

TEST(ChartDrawing, ReadableOnAPhoneScreen) {
  // Thirty categories and twelve series, as a year by month would give.
  std::vector<std::vector<double>> rows(8, std::vector<double>(30));
  for (size_t s = 0; s < rows.size(); ++s)
    for (size_t p = 0; p < 30; ++p) rows[s][p] = double((s + 1) * 100 + p * 7 % 13);
  ChartData data = seriesOf(rows);
  for (auto& c : data.categories) c = u"Month " + c;
  ChartOptions options;
  options.legend = true;
  options.type = ChartType::LineMarkers;
  Screen screen;
  const ChartGeometry g = screen.draw(options, data);
  EXPECT_LT(g.categoryLabels.size(), 30u);  // thinned
  EXPECT_GE(g.categoryLabels.size(), 3u);
  EXPECT_FALSE(overlapping(screen.log.within({0, g.plot.bottom, 240, g.legend.top})));
  EXPECT_FALSE(overlapping(screen.log.within({0, 0, g.plot.left, g.plot.bottom})));
  ASSERT_EQ(g.legendEntries.size(), 8u);
  for (size_t i = 0; i < g.legendEntries.size(); ++i)
    for (size_t j = i + 1; j < g.legendEntries.size(); ++j) EXPECT_FALSE(g.legendEntries[i].intersects(g.legendEntries[j]));
  for (const ChartHit& hit : g.hits) EXPECT_GE(hit.box.width(), 16);  // a fingertip

  // Bar swatches of the eight series print as eight different greys.
  options.type = ChartType::Bar;
  Screen bars;
  const ChartGeometry b = bars.draw(options, data);
  std::vector<int> greys;
  for (const Rect& e : b.legendEntries) {
    const Color c = bars.mainColour({e.left, e.top + 2, e.left + 10, e.bottom - 2});
    greys.push_back((redOf(c) * 30 + greenOf(c) * 59 + blueOf(c) * 11) / 100);
  }
  for (size_t i = 0; i < greys.size(); ++i)
    for (size_t j = i + 1; j < greys.size(); ++j) EXPECT_GE(std::abs(greys[i] - greys[j]), 15) << i << " " << j;
}

TEST(ChartDrawing, TapsNameTheSeriesPointOrSlice) {
  ChartOptions options;
  options.legend = true;
  options.type = ChartType::XY;
  ChartData data = seriesOf({{2, 4}});
  data.x = {1, 3};
  Screen xy;
  ChartGeometry g = xy.draw(options, data);
  ASSERT_EQ(g.hits.size(), 2u);
  EXPECT_EQ(chartTapText(g, options, data, g.hits[1].centre), u"S1: x=3.00 y=4.00");
  EXPECT_EQ(chartTapText(g, options, data, {g.legendEntries[0].left + 1, g.legendEntries[0].top + 1}), u"S1");
  EXPECT_EQ(chartTapText(g, options, data, {g.plot.right - 1, g.plot.bottom - 1}), u"");

  options.type = ChartType::Pie;
  data = seriesOf({{1, 1, 2}});
  Screen pie;
  g = pie.draw(options, data);
  const Point centre{(g.plot.left + g.plot.right) / 2, (g.plot.top + g.plot.bottom) / 2};
  EXPECT_EQ(chartTapText(g, options, data, {centre.x + 10, centre.y - 10}), u"C3: 2.00 (50.00%)");
  EXPECT_EQ(chartTapText(g, options, data, {centre.x - 10, centre.y + 5}), u"C1: 1.00 (25.00%)");
  ASSERT_TRUE(selectLocale("de_DE"));
  EXPECT_EQ(chartHitText(g, options, data, 1), u"C2: 1,00 (25,00%)");
  ASSERT_TRUE(selectLocale("en_US"));

  options.type = ChartType::Bar;
  Screen bar;
  g = bar.draw(options, seriesOf({{5, 7}}));
  EXPECT_EQ(chartHitText(g, options, seriesOf({{5, 7}}), 1), u"S1: C2 7.00");
}

}  // namespace
}  // namespace kelp
