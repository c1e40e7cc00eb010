// The Chart dialog, Chart Options and the chart window, driven by key scripts over a
// small budget: the type list redraws the preview, a title and a saved chart cell, the
// points stepped through, and the selections a chart refuses.
#include "dialogs/ChartDialogs.h"

#include "DialogTestSupport.h"
#include "model/CellTaskText.h"
#include "tasks/Tasks.h"

namespace kelp::test {
namespace {

class ChartDialogsTest : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    chartOptions() = ChartOptions{};
    const char16_t* months[] = {u"Jan", u"Feb"};
    for (int c = 0; c < 2; ++c) putText(c + 1, 0, months[c]);
    putText(0, 1, u"Rent");
    putText(0, 2, u"Food");
    putNumber(1, 1, 950);
    putNumber(2, 1, 960);
    putNumber(1, 2, 410.5);
    putNumber(2, 2, 388.25);
    select(Area{0, 0, 2, 2});
  }
  void put(int col, int row, const CellValue& value) { ASSERT_TRUE(sheet().setCell(col, row, CellRecord{value, -1})); }
  void putNumber(int col, int row, double d) { put(col, row, numberValue(d)); }
  void putText(int col, int row, std::u16string_view text) {
    CellValue value;
    makeText(value, text);
    put(col, row, value);
  }
  void select(const Area& a) {
    Selection& s = book->activeSheet()->selection;
    s = Selection::ofStored(a, a.firstColumn, a.firstRow);
  }
  bool run(const std::string& keys) {
    script(keys);
    const bool shown = runChartCommand(desktop, NoWindow, *book, undo);
    noProblems();
    return shown;
  }
};

TEST_F(ChartDialogsTest, TypeOptionsSaveToCellAndTheWindowsPoints) {
  // Right turns the type list to Line; Options... gets a title and a cell to save to;
  // OK shows the window, where Right steps to the first point and the action key tells it.
  EXPECT_TRUE(run("key Right\nkey Down\nkey Enter\ntext Budget\nkey Up\ntext E1\nsoft1\nsoft1\n"
                  "key Right\nkey Enter\nkey Enter\nsoft2\n"));
  EXPECT_EQ(chartOptions().type, ChartType::Line);
  EXPECT_EQ(chartOptions().title, u"Budget");
  EXPECT_TRUE(saw(u"Line"));
  EXPECT_TRUE(saw(u"Rent: Jan 950.00"));
  const CellTaskParts saved = splitCellTaskText(textOf(sheet().cellValue(4, 0)));
  EXPECT_TRUE(saved.hasTask);
  EXPECT_EQ(saved.display, u"Budget");
  EXPECT_EQ(saved.definition, u"Chart(\"Title:Budget\",\"Line\")");

  // A single cell inside the chart's range draws it again; Cancel in the dialog shows no window.
  select(Area{1, 1, 1, 1});
  EXPECT_FALSE(run("soft2\n"));
  EXPECT_EQ(chartOptions().range.area, (Area{0, 0, 2, 2}));
  EXPECT_EQ(pendingError(), 0u);
  EXPECT_TRUE(showChartWindow(desktop, *book, undo));  // the script has run out: Done
  select(Area{9, 9, 9, 9});
  EXPECT_FALSE(run(""));
  EXPECT_EQ(pendingError(), 37u);
  clearError();
  select(Area{0, 0, 65535, 0});
  EXPECT_FALSE(run(""));
  EXPECT_EQ(pendingError(), 36u);
  clearError();
}

TEST_F(ChartDialogsTest, ZoomChartPictureScalesThePictureAndKeepsItsPoints) {
  // Options > Zoom Picture...: 300 is refused, 50 draws the picture at half the size, so
  // the month labels stand closer, nearer than half since the axis labels keep their room.
  script("soft1\nkey Down\nkey Enter\ntext 300\nsoft1\nsoft1\nkey Back Back Back\ntext 50\nsoft1\nsoft2\n");
  EXPECT_TRUE(showChartWindow(desktop, *book, undo));
  noProblems();
  EXPECT_TRUE(saw(u"% of original size"));
  EXPECT_TRUE(saw(u"25 and 200"));
  std::vector<int> jan, feb;
  for (const DrawnText& t : backend.seen) {
    if (t.text == u"Jan") jan.push_back(t.rect.left);
    if (t.text == u"Feb") feb.push_back(t.rect.left);
  }
  ASSERT_FALSE(jan.empty());
  ASSERT_FALSE(feb.empty());
  const int before = feb.front() - jan.front(), after = feb.back() - jan.back();
  EXPECT_GT(before, 20);
  EXPECT_GT(after, 0);
  EXPECT_LT(after, before * 6 / 10) << before << " " << after;

  // At 200% the picture outgrows the window; stepping to the last point still tells it.
  script("soft1\nkey Down\nkey Enter\ntext 200\nsoft1\nkey Left\nkey Enter\nkey Enter\nsoft2\n");
  EXPECT_TRUE(showChartWindow(desktop, *book, undo));
  noProblems();
  EXPECT_TRUE(saw(u"Food: Feb 388.25"));
  bool labelInSight = false;  // the month under the bar framed, once the view followed it
  for (const DrawnText& t : backend.seen) {
    if (t.text.find(u"% of original size") != std::u16string::npos) labelInSight = false;  // drawn at 100% before
    labelInSight = labelInSight || (t.text == u"Feb" && !t.visible.empty());
  }
  EXPECT_TRUE(labelInSight);
}

TEST_F(ChartDialogsTest, TheChartFunctionShowsTheSelectionsChartWithItsItems) {
  installChartTaskFunction(&desktop, &undo);
  script("key Right\nkey Enter\nkey Enter\nsoft2\n");
  EXPECT_EQ(runTask(*book, u"Chart(\"Legend:No\",\"Legend\",\"Pie\",\"Title:Shares\")").outcome, TaskOutcome::Done);
  noProblems();
  EXPECT_FALSE(chartOptions().legend);
  EXPECT_EQ(chartOptions().type, ChartType::Pie);
  EXPECT_TRUE(saw(u"Shares"));
  EXPECT_TRUE(saw(u"Jan: 950.00 (49.74%)"));  // the first series, Rent: 950 of 1910
  installChartTaskFunction(nullptr, nullptr);
}

}  // namespace
}  // namespace kelp::test
