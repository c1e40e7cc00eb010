// Fills: block repeats, Fill Right and Fill Down with custom lists, series, Autofill,
// the merged-area refusal, and undo giving back the file bytes of each.
#include <functional>
#include <string>
#include <vector>

#include "CommandTestSupport.h"
#include "edit/Fill.h"
#include "format/DateSerial.h"
#include "format/ValueText.h"
#include "model/Style.h"

namespace kelp::test {
namespace {

class FillTest : public CommandTest {
 protected:
  void TearDown() override {
    installFillLists(nullptr);
    CommandTest::TearDown();
  }

  void put(int col, int row, const CellValue& value) { ASSERT_TRUE(sheet().setCell(col, row, CellRecord{value, -1})); }
  static double date(int year, int month, int day) {
    double serial = 0;
    EXPECT_TRUE(serialFromFields(year, month, day, 0, 0, 0, 0, true, serial));
    return serial;
  }
  std::u16string formula(int col, int row) {
    std::u16string text;
    const CellRecord* cell = sheet().cellPtr(col, row);
    EXPECT_TRUE(cell && editableText(cell->value, text));
    return text;
  }
  /// The numbers down column `col` (or along row `row` when `across`), -999999 for a
  /// cell holding no number.
  std::vector<double> line(int col, int row, int count, bool across = false) {
    std::vector<double> out;
    for (int i = 0; i < count; ++i) out.push_back(across ? number(col + i, row) : number(col, row + i));
    return out;
  }
  /// Runs `fill` (which must record one entry), then checks that undo gives back the
  /// bytes before and redo the bytes after.
  void expectUndoable(const std::function<bool()>& fill) {
    undo.clear();
    const std::vector<uint8_t> before = fileBytes();
    ASSERT_TRUE(fill()) << pendingError();
    ASSERT_EQ(pendingError(), 0u);
    ASSERT_EQ(undo.size(), 1u);
    const std::vector<uint8_t> after = fileBytes();
    ASSERT_TRUE(undo.undo(*book));
    EXPECT_EQ(fileBytes(), before);
    ASSERT_TRUE(undo.redo(*book));
    EXPECT_EQ(fileBytes(), after);
  }
};

TEST_F(FillTest, BlocksRepeatWithFormulasStylesAndMergedAreas) {
  put(0, 0, numberValue(1));
  put(0, 1, numberValue(2));
  ASSERT_TRUE(enter(1, 0, u"=A1*10"));
  ASSERT_TRUE(enter(2, 0, u"=$A$1"));
  select(0, 0, 0, 0);
  ASSERT_TRUE(applyBold(*book, undo, true));
  ASSERT_TRUE(sheet().mergedAreas.append(Area{0, 3, 0, 4}));  // D1:E1 starts at a source cell
  select(0, 0, 5, 5);
  expectUndoable([&] { return fillBlockCommand(*book, undo, Area{0, 0, 1, 3}); });
  EXPECT_EQ(line(0, 0, 6), (std::vector<double>{1, 2, 1, 2, 1, 2}));
  EXPECT_EQ(line(1, 0, 6), (std::vector<double>{10, -999999, 10, -999999, 10, -999999}));
  EXPECT_EQ(formula(1, 2), u"=A3*10");
  EXPECT_EQ(formula(2, 4), u"=$A$1");
  EXPECT_EQ(fontOf(0, 4).weight, 700);
  EXPECT_EQ(fontOf(0, 5).weight, 400);  // from A2, which is not bold
  EXPECT_GE(sheet().findMergedEqual(Area{2, 3, 2, 4}), 0);
  EXPECT_GE(sheet().findMergedEqual(Area{4, 3, 4, 4}), 0);
  // A block narrower than the area starts every row at its first column.
  put(0, 8, numberValue(1));
  put(1, 8, numberValue(2));
  select(0, 8, 2, 9);
  ASSERT_TRUE(fillBlockCommand(*book, undo, Area{8, 0, 8, 1}));
  EXPECT_EQ(line(0, 9, 3, true), (std::vector<double>{1, 2, 1}));
}

TEST_F(FillTest, FillRightAndDownCopyTheFirstCellOrContinueAList) {
  put(0, 0, numberValue(4));
  ASSERT_TRUE(enter(1, 0, u"=A1+1"));
  select(1, 0, 1, 2);
  expectUndoable([&] { return fillDownCommand(*book, undo, false); });
  EXPECT_EQ(formula(1, 2), u"=A3+1");
  EXPECT_EQ(number(1, 0), 5);
  EXPECT_EQ(number(1, 1), 1);  // A2 is empty

  ASSERT_TRUE(enter(0, 5, u"mon"));
  select(0, 5, 3, 5);
  ASSERT_TRUE(fillRightCommand(*book, undo, false));
  EXPECT_EQ(shown(3, 5), u"mon");
  expectUndoable([&] { return fillRightCommand(*book, undo, true); });
  EXPECT_EQ(shown(1, 5), u"Tue");
  EXPECT_EQ(shown(3, 5), u"Thu");

  // The installed lists replace the built-in ones, and a list wraps after its last item.
  const std::vector<std::u16string> lists = {u"Low,Mid,High,"};
  installFillLists(&lists);
  ASSERT_TRUE(enter(0, 7, u"mid"));
  ASSERT_TRUE(enter(1, 7, u"Sat"));
  select(0, 7, 1, 10);
  ASSERT_TRUE(fillDownCommand(*book, undo, true));
  EXPECT_EQ(shown(0, 8), u"High");
  EXPECT_EQ(shown(0, 9), u"Low");
  EXPECT_EQ(shown(1, 8), u"Sat");  // no longer a list item: copied
}

TEST_F(FillTest, ReferencesPushedPastTheEdgeBecomeRefInsteadOfWrapping) {
  ASSERT_TRUE(enter(1, 0, u"=A65536+Sum(A1:A65536)+$A$65536"));
  ASSERT_TRUE(enter(3, 0, u"=IV1"));
  select(1, 0, 1, 1);
  ASSERT_TRUE(fillDownCommand(*book, undo, false));
  EXPECT_EQ(formula(1, 1), u"=!!Ref+Sum(!!Ref)+$A$65536");
  EXPECT_EQ(formula(1, 0), u"=A65536+Sum(A1:A65536)+$A$65536");  // the source keeps its own
  select(3, 0, 4, 0);
  ASSERT_TRUE(fillRightCommand(*book, undo, false));
  EXPECT_EQ(formula(4, 0), u"=!!Ref");
  // One that stays on the sheet still moves with its cell.
  ASSERT_TRUE(enter(2, 5, u"=A65536"));
  select(2, 4, 2, 5);
  ASSERT_TRUE(fillBlockCommand(*book, undo, Area{5, 2, 5, 2}));
  EXPECT_EQ(formula(2, 4), u"=A65535");
}

TEST_F(FillTest, FillsTouchingAMergedAreaAreRefused) {
  put(0, 0, numberValue(1));
  ASSERT_TRUE(sheet().mergedAreas.append(Area{3, 0, 3, 1}));
  select(0, 0, 0, 5);
  const std::vector<uint8_t> before = fileBytes();
  SeriesSettings series;
  series.direction = FillDirection::Down;
  const std::function<bool()> fills[] = {[&] { return fillDownCommand(*book, undo, false); },
                                         [&] { return fillRightCommand(*book, undo, true); },
                                         [&] { return seriesCommand(*book, undo, series); },
                                         [&] { return autoFill(*book, undo, Area{0, 0, 0, 0}, FillDirection::Down); }};
  for (const auto& fill : fills) {
    EXPECT_FALSE(fill());
    EXPECT_EQ(pendingError(), static_cast<uint32_t>(Err::FillMerged));
    clearError();
  }
  EXPECT_EQ(undo.size(), 0u);
  EXPECT_EQ(fileBytes(), before);
}

TEST_F(FillTest, NumberSeriesStopOnTheSideTheyMoveTo) {
  SeriesSettings s;
  s.direction = FillDirection::Right;
  s.step = 2;
  put(0, 0, numberValue(1));
  select(0, 0, 4, 0);
  expectUndoable([&] { return seriesCommand(*book, undo, s); });
  EXPECT_EQ(line(0, 0, 5, true), (std::vector<double>{1, 3, 5, 7, 9}));

  // Ascending with a stop: the cell past it is emptied, those after keep their contents.
  s.type = SeriesType::Linear;
  s.step = 4;
  s.stop = 10;
  s.hasStop = true;
  for (int c = 0; c < 6; ++c) put(c, 2, numberValue(100 + c));
  put(0, 2, numberValue(1));
  select(0, 2, 5, 2);
  expectUndoable([&] { return seriesCommand(*book, undo, s); });
  EXPECT_EQ(line(0, 2, 6, true), (std::vector<double>{1, 5, 9, -999999, 104, 105}));

  // Descending: the series ends at the first value below the stop.
  s.step = -3;
  s.stop = 2;
  put(0, 3, numberValue(10));
  select(0, 3, 5, 3);
  ASSERT_TRUE(seriesCommand(*book, undo, s));
  EXPECT_EQ(line(0, 3, 6, true), (std::vector<double>{10, 7, 4, -999999, -999999, -999999}));

  // Growth; a seed that is not a number writes nothing, nor a date seed of a number series.
  s.type = SeriesType::Growth;
  s.hasStop = false;
  put(0, 4, numberValue(3));
  put(0, 5, logicalValue(true));
  put(0, 6, dateTimeValue(date(2024, 1, 1)));
  for (int r = 5; r <= 6; ++r) put(3, r, numberValue(8));
  select(0, 4, 3, 6);
  ASSERT_TRUE(seriesCommand(*book, undo, s));
  EXPECT_EQ(line(0, 4, 4, true), (std::vector<double>{3, -9, 27, -81}));
  EXPECT_EQ(number(3, 5) + number(3, 6), 16);
}

TEST_F(FillTest, DateSeriesByDayWeekdayMonthAndYear) {
  SeriesSettings s;
  s.direction = FillDirection::Down;
  s.type = SeriesType::Date;
  auto run = [&](int col, double seed, DateUnit unit, double step, int count) {
    put(col, 0, dateTimeValue(seed));
    s.dateUnit = unit;
    s.step = step;
    select(col, 0, col, count - 1);
    EXPECT_TRUE(seriesCommand(*book, undo, s));
    EXPECT_EQ(kind(col, 1), ValueKind::DateTime);
    return line(col, 0, count);
  };
  EXPECT_EQ(run(0, date(2024, 3, 1) + 0.5, DateUnit::Day, 7, 3),
            (std::vector<double>{date(2024, 3, 1) + 0.5, date(2024, 3, 8) + 0.5, date(2024, 3, 15) + 0.5}));
  // Weekdays are counted, not calendar days: 1 March 2024 is a Friday.
  EXPECT_EQ(run(1, date(2024, 3, 1), DateUnit::Weekday, 1, 4),
            (std::vector<double>{date(2024, 3, 1), date(2024, 3, 4), date(2024, 3, 5), date(2024, 3, 6)}));
  EXPECT_EQ(run(2, date(2024, 3, 1), DateUnit::Weekday, 2, 3),
            (std::vector<double>{date(2024, 3, 1), date(2024, 3, 5), date(2024, 3, 7)}));
  EXPECT_EQ(run(3, date(2024, 3, 4), DateUnit::Weekday, -1, 3),
            (std::vector<double>{date(2024, 3, 4), date(2024, 3, 1), date(2024, 2, 29)}));
  EXPECT_EQ(run(4, date(2024, 3, 2), DateUnit::Weekday, 6, 2), (std::vector<double>{date(2024, 3, 2), date(2024, 3, 11)}));
  // Months and years clamp to the month's last day and come back to the seed's day.
  EXPECT_EQ(run(5, date(2023, 1, 31), DateUnit::Month, 1, 5),
            (std::vector<double>{date(2023, 1, 31), date(2023, 2, 28), date(2023, 3, 31), date(2023, 4, 30),
                                 date(2023, 5, 31)}));
  EXPECT_EQ(run(6, date(2024, 3, 31), DateUnit::Month, -1, 3),
            (std::vector<double>{date(2024, 3, 31), date(2024, 2, 29), date(2024, 1, 31)}));
  EXPECT_EQ(run(7, date(2024, 2, 29), DateUnit::Year, 1, 5),
            (std::vector<double>{date(2024, 2, 29), date(2025, 2, 28), date(2026, 2, 28), date(2027, 2, 28),
                                 date(2028, 2, 29)}));
  // A stop value bounds a month series like any other, and past year 9999 it ends.
  s.hasStop = true;
  s.stop = date(2023, 3, 31);
  EXPECT_EQ(run(8, date(2023, 1, 31), DateUnit::Month, 1, 4),
            (std::vector<double>{date(2023, 1, 31), date(2023, 2, 28), date(2023, 3, 31), -999999}));
  s.hasStop = false;
  EXPECT_EQ(run(9, date(9998, 6, 1), DateUnit::Year, 1, 3), (std::vector<double>{date(9998, 6, 1), date(9999, 6, 1), -999999}));
}

TEST_F(FillTest, AutofillContinuesNumbersDatesAndListsAndCopiesTheRest) {
  put(0, 0, numberValue(2));
  put(0, 1, numberValue(5));
  select(0, 0, 0, 5);
  expectUndoable([&] { return autoFill(*book, undo, Area{0, 0, 1, 0}, FillDirection::Down); });
  EXPECT_EQ(line(0, 0, 6), (std::vector<double>{2, 5, 8, 11, 14, 17}));
  EXPECT_EQ(undo.undoDescription(), u"Fill Series");

  put(1, 0, dateTimeValue(date(2024, 1, 30)));
  put(2, 0, dateTimeValue(0.25));
  put(3, 0, numberValue(7));
  ASSERT_TRUE(enter(4, 0, u"Jan"));
  const double hour = 1.0 / 24;
  for (int c = 1; c <= 4; ++c) {
    select(c, 0, c, 2);
    ASSERT_TRUE(autoFill(*book, undo, Area{0, static_cast<uint16_t>(c), 0, static_cast<uint16_t>(c)},
                         FillDirection::Down));
  }
  EXPECT_EQ(line(1, 0, 3), (std::vector<double>{date(2024, 1, 30), date(2024, 1, 31), date(2024, 2, 1)}));
  EXPECT_EQ(line(2, 0, 3), (std::vector<double>{0.25, 0.25 + hour, 0.25 + hour + hour}));
  EXPECT_EQ(line(3, 0, 3), (std::vector<double>{7, 7, 7}));
  EXPECT_EQ(shown(4, 2), u"Mar");
  EXPECT_EQ(undo.undoDescription(), u"Fill Down");

  // Through the Series dialog's Autofill, the selection is its own source; over two
  // rows and columns it is a plain fill.
  put(6, 0, numberValue(1));
  put(7, 0, numberValue(1));
  put(6, 1, numberValue(3));
  select(6, 0, 7, 3);
  SeriesSettings s;
  s.type = SeriesType::AutoFill;
  s.direction = FillDirection::Down;
  ASSERT_TRUE(seriesCommand(*book, undo, s));
  EXPECT_EQ(line(6, 0, 4), (std::vector<double>{1, 1, 1, 1}));
}

TEST_F(FillTest, WholeColumnsTakeTheColumnStyleOrFillOnlyExistingRows) {
  put(1, 3, numberValue(9));
  put(1, 40000, numberValue(9));
  select(1, 0, 1, 0);
  ASSERT_TRUE(applyBold(*book, undo, true));
  const int16_t bold = ownStyle(1, 0);
  ASSERT_GT(bold, 0);
  select(1, 0, 1, MaxRows - 1);
  expectUndoable([&] { return fillDownCommand(*book, undo, false); });
  EXPECT_EQ(sheet().columns.columnStyle(1), bold);
  EXPECT_EQ(kind(1, 3), ValueKind::Empty);
  EXPECT_EQ(kind(1, 40000), ValueKind::Empty);
  EXPECT_EQ(fontOf(1, 60000).weight, 700);
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(sheet().columns.columnStyle(1), 0);
  EXPECT_EQ(number(1, 40000), 9);

  // Fill Right over whole columns fills the rows that exist and creates none.
  ASSERT_TRUE(sheet().columns.setColumnStyles(4, 4, bold));
  put(4, 7, numberValue(6));
  const int32_t rows = sheet().rowArraySize();
  select(4, 0, 5, MaxRows - 1);
  expectUndoable([&] { return fillRightCommand(*book, undo, false); });
  EXPECT_EQ(number(5, 7), 6);
  EXPECT_EQ(sheet().rowArraySize(), rows);
}

}  // namespace
}  // namespace kelp::test
