// The chart options: defaults, items, the text form, series read from cells, and the
// range a chart is drawn from.
#include "chart/ChartOptions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "chart/ChartData.h"
#include "model/CellValue.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/Text.h"

namespace kelp {
namespace {

// The options as the Chart function leaves them for these arguments.
ChartOptions chartOf(std::vector<std::u16string> items) {
  ChartOptions options;
  applyChartItems(options, items);
  return options;
}

TEST(ChartOptions, ItemsApplyLastFirstSoTheLeftmostWins) {
  const ChartOptions defaults = chartOf({});
  EXPECT_EQ(defaults.type, ChartType::Bar);
  EXPECT_TRUE(defaults.seriesInRows && defaults.yGrid && defaults.xAxis && defaults.yAxis);
  EXPECT_FALSE(defaults.legend || defaults.xGrid || defaults.fixedScale);
  EXPECT_EQ(chartItemsText(defaults), u"");
  EXPECT_EQ(chartCallText(defaults), u"Chart()");

  EXPECT_FALSE(chartOf({u"Legend:No", u"Legend"}).legend);
  EXPECT_TRUE(chartOf({u"legend", u"LEGEND:no"}).legend);
  EXPECT_EQ(chartOf({u"TYPE:Donut"}), defaults);
  EXPECT_EQ(chartOf({u"Title:Yes"}), defaults);
  EXPECT_EQ(chartOf({u"Legend:Maybe", u"Ygrid:perhaps", u"Nonsense", u"Series:Sideways"}), defaults);

  const ChartOptions set = chartOf({u"type:xylines", u"Title:Sales: 2026", u"xtitle:Month", u"Series:COLUMNS",
                                    u"AutoScale:No", u"Xgrid", u"Yaxis:NO", u"Pie"});
  EXPECT_EQ(set.type, ChartType::XYLines);  // "Pie", further right, was applied first
  EXPECT_EQ(set.title, u"Sales: 2026");
  EXPECT_EQ(set.xTitle, u"Month");
  EXPECT_FALSE(set.seriesInRows);
  EXPECT_TRUE(set.fixedScale && set.xGrid);
  EXPECT_FALSE(set.yAxis);

  // A title of 49 characters is taken; one more, or an item of 65 characters, is not.
  const std::u16string longest(MaxChartTitle, u'x');
  EXPECT_EQ(chartOf({u"Title:" + longest}).title, longest);
  EXPECT_EQ(chartOf({u"Title:" + longest + u"x"}).title, u"");
  EXPECT_EQ(chartOf({u"XTitle:" + std::u16string(MaxChartTitle, u'x') + u"0123456789"}).xTitle, u"");
  EXPECT_EQ(chartOf({u"Type:Pie" + std::u16string(42, u' ')}).type, ChartType::Bar);
}

TEST(ChartOptions, TextFormWritesWhatDiffersInTheFixedOrderAndReadsBack) {
  ChartOptions options;
  options.fixedScale = true;
  options.yGrid = false;
  options.legend = true;
  options.type = ChartType::LineMarkers;
  options.seriesInRows = false;
  options.yTitle = u"Euro";
  options.title = u"Say \"hi\"";
  const std::u16string call = chartCallText(options);
  EXPECT_EQ(call, u"Chart(\"Title:Say \"\"hi\"\"\",\"YTitle:Euro\",\"LineMarkers\",\"Series:Columns\","
                  u"\"Legend\",\"Ygrid:No\",\"AutoScale:No\")");
  std::vector<std::u16string> items;
  ASSERT_TRUE(parseChartCall(u" =chart( " + call.substr(6), items));
  EXPECT_EQ(chartOf(items), options);
  EXPECT_TRUE(parseChartCall(u"Chart()", items) && items.empty());
  EXPECT_FALSE(parseChartCall(u"Chart(\"Pie\")+1", items));
  EXPECT_FALSE(parseChartCall(u"MsgBox(\"Pie\")", items));
  EXPECT_FALSE(parseChartCall(u"Chart(\"Pie\"", items));
}

TEST(ChartOptions, RangeNeedsTenThousandCellsAtMostAndASingleCellInsideThePreviousChart) {
  clearError();
  ChartOptions options;
  EXPECT_FALSE(chooseChartRange(options, 0, Area{0, 0, 0, 0}));
  EXPECT_EQ(pendingError(), 37u);
  clearError();
  EXPECT_FALSE(chooseChartRange(options, 0, Area{0, 0, 100, 99}));  // 101 rows of 100
  EXPECT_EQ(pendingError(), 36u);
  clearError();
  ASSERT_TRUE(chooseChartRange(options, 0, Area{0, 0, 99, 99}));
  EXPECT_TRUE(chooseChartRange(options, 0, Area{50, 50, 50, 50}));
  EXPECT_EQ(options.range.area, (Area{0, 0, 99, 99}));
  EXPECT_FALSE(chooseChartRange(options, 1, Area{5, 5, 5, 5}));  // inside, but on another sheet
  EXPECT_EQ(pendingError(), 37u);
  clearError();
  options.resetKeepingRange();
  EXPECT_EQ(options.range.area, (Area{0, 0, 99, 99}));
}

class ChartDataTest : public ::testing::Test {
 protected:
  void SetUp() override { book = newWorkbook(1); }
  Sheet& sheet() { return *book->sheetAt(0); }
  void number(int col, int row, double d) { ASSERT_TRUE(sheet().setCell(col, row, CellRecord{numberValue(d), -1})); }
  void text(int col, int row, std::u16string_view t) {
    CellValue value;
    makeText(value, t);
    ASSERT_TRUE(sheet().setCell(col, row, CellRecord{value, -1}));
  }
  ChartData read(Area area, bool rows, ChartType type = ChartType::Bar) {
    ChartOptions options;
    options.range = {0, area};
    options.seriesInRows = rows;
    options.type = type;
    return chartDataFromSheet(*book, options);
  }
  std::unique_ptr<Workbook> book;
};

TEST_F(ChartDataTest, HeadersNameSeriesAndLabelCategories) {
  // A1:C3 with headers: row 1 "", Jan, Feb; column A "Rent:", "".
  text(1, 0, u"Jan");
  text(2, 0, u"Feb");
  text(0, 1, u"Rent:");
  number(1, 1, 950);
  number(2, 1, 960);
  number(1, 2, 10);
  number(2, 2, 20);
  ChartData rows = read(Area{0, 0, 2, 2}, true);
  ASSERT_EQ(rows.series.size(), 2u);
  EXPECT_EQ(rows.series[0].name, u"Rent");
  EXPECT_EQ(rows.series[1].name, u"Ser2");
  EXPECT_EQ(rows.series[0].values, (std::vector<double>{950, 960}));
  EXPECT_EQ(rows.categories, (std::vector<std::u16string>{u"Jan", u"Feb"}));

  ChartData columns = read(Area{0, 0, 2, 2}, false);
  ASSERT_EQ(columns.series.size(), 2u);
  EXPECT_EQ(columns.series[0].name, u"Jan");
  EXPECT_EQ(columns.series[1].values, (std::vector<double>{960, 20}));
  EXPECT_EQ(columns.categories, (std::vector<std::u16string>{u"Rent:", u"2"}));

  // Numbers alone: the text before each row still names it; no header gives 1, 2, ...
  ChartData bare = read(Area{1, 1, 2, 2}, true);
  ASSERT_EQ(bare.series.size(), 2u);
  EXPECT_EQ(bare.series[0].name, u"Rent");
  EXPECT_EQ(bare.series[1].name, u"Ser2");
  EXPECT_EQ(bare.categories, (std::vector<std::u16string>{u"1", u"2"}));

  // The XY types take the first series as X; a Y series keeps its place among the
  // range's series, so it is named by its own line's header, else "Ser2" for the second.
  ChartData xy = read(Area{0, 0, 2, 2}, true, ChartType::XY);
  EXPECT_EQ(xy.x, (std::vector<double>{950, 960}));
  ASSERT_EQ(xy.series.size(), 1u);
  EXPECT_EQ(xy.series[0].name, u"Ser2");
  EXPECT_EQ(xy.series[0].values, (std::vector<double>{10, 20}));
  text(0, 2, u"Food:");
  EXPECT_EQ(read(Area{0, 0, 2, 2}, true, ChartType::XYLines).series[0].name, u"Food");
  EXPECT_EQ(read(Area{1, 1, 2, 2}, true, ChartType::XY).series[0].name, u"Food");  // the text before it

  text(2, 2, u"n/a");
  EXPECT_TRUE(std::isnan(read(Area{0, 0, 2, 2}, true).series[1].values[1]));
  EXPECT_FALSE(read(Area{3, 3, 5, 5}, true).hasValue());
}

}  // namespace
}  // namespace kelp
