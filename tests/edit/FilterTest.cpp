// The AutoFilter: data areas, every kind of column criterion, clearing, the record's
// command functions, and the commands whose undo gives back the file bytes.
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "CommandTestSupport.h"
#include "edit/Filter.h"
#include "model/Style.h"

namespace kelp::test {
namespace {

class FilterTest : public CommandTest {
 protected:
  /// Enters `entries` down column `col` from row `row`; an empty entry leaves the cell.
  void column(int col, int row, std::initializer_list<const char16_t*> entries) {
    for (const char16_t* entry : entries) {
      if (*entry) {
        ASSERT_TRUE(enter(col, row, entry)) << pendingError();
      }
      ++row;
    }
  }
  /// Rows first..last of the active sheet as "." for shown and "x" for hidden.
  std::string hidden(int first, int last) {
    std::string out;
    for (int r = first; r <= last; ++r) out += book->activeSheet()->isRowHidden(r) ? 'x' : '.';
    return out;
  }
  static FilterColumn custom(uint32_t op1, std::u16string text1, uint32_t op2 = 0, std::u16string text2 = u"",
                             bool joinAnd = false) {
    FilterColumn c;
    c.kind = FilterKind::Custom;
    c.operator1 = op1;
    c.text1 = std::move(text1);
    c.operator2 = op2;
    c.text2 = std::move(text2);
    c.joinAnd = joinAnd ? 1 : 0;
    return c;
  }
  static FilterColumn only(uint32_t kind) {
    FilterColumn c;
    c.kind = kind;
    return c;
  }
  static FilterColumn top(uint32_t count, bool largest) {
    FilterColumn c;
    c.kind = FilterKind::Top;
    c.count = count;
    c.largest = largest ? 1 : 0;
    return c;
  }
  /// Filters column A below a heading in A1 holding `entries` with `criterion`, and
  /// gives the data rows' pattern.
  std::string filterColumnA(std::initializer_list<const char16_t*> entries, const FilterColumn& criterion) {
    Sheet& s = sheet();
    clearFilter(s);
    for (int r = 0; r <= static_cast<int>(entries.size()); ++r) s.setCell(0, r, blankCell());
    EXPECT_TRUE(enter(0, 0, u"Head"));
    column(0, 1, entries);
    setFilter(s, Area{0, 0, static_cast<uint16_t>(entries.size()), 0});
    s.autoFilter.columns[0] = criterion;
    applyFilter(s);
    EXPECT_FALSE(s.isRowHidden(0)) << "the heading row is never hidden";
    return hidden(1, static_cast<int>(entries.size()));
  }
  static void expectSameFilter(const AutoFilter& a, const AutoFilter& b) {
    EXPECT_EQ(a.active, b.active);
    EXPECT_EQ(a.area, b.area);
    ASSERT_EQ(a.columns.size(), b.columns.size());
    for (size_t i = 0; i < a.columns.size(); ++i) {
      const FilterColumn& x = a.columns[i];
      const FilterColumn& y = b.columns[i];
      EXPECT_EQ(x.kind, y.kind) << i;
      EXPECT_EQ(x.count, y.count) << i;
      EXPECT_EQ(x.largest, y.largest) << i;
      EXPECT_EQ(x.operator1, y.operator1) << i;
      EXPECT_EQ(x.operator2, y.operator2) << i;
      EXPECT_EQ(x.joinAnd, y.joinAnd) << i;
      EXPECT_EQ(x.text1, y.text1) << i;
      EXPECT_EQ(x.text2, y.text2) << i;
    }
  }
  /// A table in A1:C6: a heading row, names, amounts and a Sum of the amounts in E1.
  void table() {
    column(0, 0, {u"Name", u"ann", u"bob", u"cid", u"dan", u"eve"});
    column(1, 0, {u"Amount", u"5", u"20", u"", u"abc", u"12"});
    column(2, 0, {u"Kind", u"x", u"y", u"x", u"y", u"x"});
    ASSERT_TRUE(enter(4, 0, u"=Sum(B2:B6)"));
    undo.clear();
  }
};

TEST_F(FilterTest, TheCurrentRegionIsTheRunOfRowsHoldingValues) {
  column(1, 1, {u"a", u"b", u"c"});
  column(3, 2, {u"1", u"", u"", u"9"});
  Area area{};
  ASSERT_TRUE(currentRegion(sheet(), 1, 2, area));
  EXPECT_EQ(area, (Area{1, 1, 3, 3}));
  // A blank cell of a row with values lies inside; its own row is what counts.
  ASSERT_TRUE(currentRegion(sheet(), 2, 1, area));
  EXPECT_EQ(area, (Area{1, 1, 3, 3}));
  EXPECT_FALSE(currentRegion(sheet(), 1, 4, area)) << "a row without values";
  EXPECT_FALSE(currentRegion(sheet(), 6, 2, area)) << "right of the values";
  ASSERT_TRUE(currentRegion(sheet(), 3, 5, area));
  EXPECT_EQ(area, (Area{5, 3, 5, 3}));
  EXPECT_FALSE(currentRegion(sheet(), 0, 0, area));
}

TEST_F(FilterTest, ComparisonsFollowTheOrderOfValues) {
  // Texts and blanks sort after numbers, so they pass "> 10".
  EXPECT_EQ(filterColumnA({u"5", u"20", u"", u"abc"}, custom(FilterOperator::Greater, u"10")), "x...");
  EXPECT_EQ(filterColumnA({u"5", u"20", u"10", u"abc"}, custom(FilterOperator::LessEqual, u"10")), ".x.x");
  EXPECT_EQ(filterColumnA({u"5", u"abc", u"ABC", u""}, custom(FilterOperator::Equal, u"abc")), "x..x");
  EXPECT_EQ(filterColumnA({u"5", u"abc", u"", u"7"}, custom(FilterOperator::NotEqual, u"5")), "x...");
  // A criterion written "=abc" means what "abc" means, a number "=5" what "5" means.
  EXPECT_EQ(filterColumnA({u"5", u"abc", u"abcd"}, custom(FilterOperator::Equal, u"=abc")), "x.x");
  EXPECT_EQ(filterColumnA({u"5", u"abc", u"6"}, custom(FilterOperator::Equal, u"=5")), ".xx");
  // An empty criterion with "=" keeps the blanks.
  EXPECT_EQ(filterColumnA({u"5", u"", u"x"}, custom(FilterOperator::Equal, u"")), "x.x");
  // No wildcards: "a*" is the text itself.
  EXPECT_EQ(filterColumnA({u"a*", u"ab"}, custom(FilterOperator::Equal, u"a*")), ".x");
}

TEST_F(FilterTest, TextOperatorsIgnoreCaseAndReadTheShownText) {
  EXPECT_EQ(filterColumnA({u"Abc", u"ab", u"xab", u""}, custom(FilterOperator::BeginsWith, u"ab")), "..xx");
  EXPECT_EQ(filterColumnA({u"Abc", u"ab", u"xab", u""}, custom(FilterOperator::NotBeginsWith, u"ab")), "xx..");
  EXPECT_EQ(filterColumnA({u"ABC", u"xyz", u"b"}, custom(FilterOperator::Contains, u"b")), ".x.");
  EXPECT_EQ(filterColumnA({u"ABC", u"xyz", u""}, custom(FilterOperator::NotContains, u"b")), "x..");
  // The end of the text counts, not where the criterion first occurs.
  EXPECT_EQ(filterColumnA({u"abab", u"xAB", u"abx", u"ab"}, custom(FilterOperator::EndsWith, u"ab")), "..x.");
  EXPECT_EQ(filterColumnA({u"abab", u"xAB", u"abx"}, custom(FilterOperator::NotEndsWith, u"ab")), "xx.");
  // Numbers are tested as shown: 12345 ends with "45", 0.5 under a percent format
  // begins with "50".
  EXPECT_EQ(filterColumnA({u"12345", u"4500"}, custom(FilterOperator::EndsWith, u"45")), ".x");
  EXPECT_EQ(filterColumnA({u"50%", u"0.5"}, custom(FilterOperator::BeginsWith, u"50")), ".x");
  // A cell task is no part of the text shown.
  EXPECT_EQ(filterColumnA({u"Go#Task:MsgBox(1)", u"Task"}, custom(FilterOperator::Contains, u"task")), "x.");
  EXPECT_EQ(filterColumnA({u"Go#Task:MsgBox(1)", u"Gone"}, custom(FilterOperator::Equal, u"go")), ".x");
}

TEST_F(FilterTest, TwoConditionsJoinByAndOrOr) {
  const std::initializer_list<const char16_t*> values = {u"1", u"5", u"7", u"10", u"12"};
  EXPECT_EQ(filterColumnA(values, custom(FilterOperator::GreaterEqual, u"5", FilterOperator::Less, u"10", true)),
            "x..xx");
  EXPECT_EQ(filterColumnA(values, custom(FilterOperator::Less, u"2", FilterOperator::Greater, u"10", false)), ".xxx.");
  // Without a second condition "or" keeps only the rows the first one holds for.
  EXPECT_EQ(filterColumnA(values, custom(FilterOperator::Greater, u"6")), "xx...");
  // A text operator beside a comparison: both read their own way.
  EXPECT_EQ(filterColumnA({u"10", u"100", u"abc", u"1000"},
                          custom(FilterOperator::BeginsWith, u"10", FilterOperator::Less, u"500", true)),
            "..xx");
  // An operator no release knows leaves the column without effect.
  EXPECT_EQ(filterColumnA(values, custom(13, u"5")), ".....");
  EXPECT_EQ(filterColumnA(values, custom(FilterOperator::Any, u"")), ".....");
}

TEST_F(FilterTest, TopAndBottomRankNumbersAndDatesOnly) {
  EXPECT_EQ(filterColumnA({u"3", u"7", u"7", u"1"}, top(2, true)), "x..x");
  EXPECT_EQ(filterColumnA({u"3", u"7", u"7", u"1"}, top(2, false)), ".xx.");
  // Of equal values the later row wins.
  EXPECT_EQ(filterColumnA({u"3", u"7", u"7", u"1"}, top(1, true)), "xx.x");
  // A text, a logical or a blank neither wins "largest" nor stays.
  EXPECT_EQ(filterColumnA({u"n/a", u"3", u"TRUE", u"", u"9"}, top(1, true)), "xxxx.");
  EXPECT_EQ(filterColumnA({u"n/a", u"3", u"", u"9"}, top(5, false)), "x.x.");
  EXPECT_EQ(filterColumnA({u"5", u"6"}, top(0, true)), "xx");
  // A date ranks by its number among the numbers.
  Sheet& s = sheet();
  filterColumnA({u"40000", u"10", u"45000"}, FilterColumn{});
  ASSERT_TRUE(s.setCell(0, 2, CellRecord{dateTimeValue(42000), -1}));
  s.autoFilter.columns[0] = top(2, true);
  applyFilter(s);
  EXPECT_EQ(hidden(1, 3), "x..");
}

TEST_F(FilterTest, BlanksAndNonBlanksAndSeveralColumns) {
  EXPECT_EQ(filterColumnA({u"a", u"", u"0", u""}, only(FilterKind::Blanks)), "x.x.");
  EXPECT_EQ(filterColumnA({u"a", u"", u"0", u""}, only(FilterKind::NonBlanks)), ".x.x");
  table();
  Sheet& s = sheet();
  setFilter(s, Area{0, 0, 5, 2});
  s.autoFilter.columns[1] = custom(FilterOperator::Greater, u"6");
  s.autoFilter.columns[2] = custom(FilterOperator::Equal, u"x");
  applyFilter(s);
  // Row 2 fails the amount, rows 3 and 5 the kind; a row hidden by one column stays hidden.
  EXPECT_EQ(hidden(0, 6), ".xx.x..");
  EXPECT_EQ(number(4, 0), 37) << "Sum still adds the hidden rows";
  resetCriteria(s);
  EXPECT_EQ(hidden(0, 6), ".......");
  EXPECT_EQ(s.autoFilter.active, 1u);
}

TEST_F(FilterTest, ApplyingAndClearingShowRowsHiddenBefore) {
  table();
  Sheet& s = sheet();
  for (int r : {0, 2, 7}) ASSERT_TRUE(s.setRowHidden(r, true));
  setFilter(s, Area{0, 0, 5, 2});
  EXPECT_EQ(hidden(0, 7), "x.x....x") << "setting the filter changes no row";
  applyFilter(s);
  EXPECT_EQ(hidden(0, 7), "x......x") << "applying shows every data row";
  s.autoFilter.columns[2] = custom(FilterOperator::Equal, u"y");
  applyFilter(s);
  EXPECT_EQ(hidden(0, 7), "xx.x.x.x");
  clearFilter(s);
  EXPECT_EQ(hidden(0, 7), ".......x") << "clearing shows every row of the area, the heading row too";
  EXPECT_EQ(s.autoFilter.active, 0u);
  EXPECT_TRUE(s.autoFilter.columns.empty());
  // Showing rows makes none: an absent row inside the area stays absent.
  setFilter(s, Area{0, 0, 9, 2});
  applyFilter(s);
  EXPECT_FALSE(s.rowExists(8));
}

TEST_F(FilterTest, TheRecordComesBackFromItsProgramAlone) {
  Sheet& s = sheet();
  // 40 columns need two calls of 246; the numbers are kept as they are, even absurd ones.
  setFilter(s, Area{3, 2, 900, 41});
  s.autoFilter.columns[0] = custom(FilterOperator::BeginsWith, u"x\u00e9", FilterOperator::Less, u"", true);
  s.autoFilter.columns[30] = top(7, true);
  s.autoFilter.columns[31] = FilterColumn{99, 0xFFFFFFFFu, 3, 0x80000000u, 12, 2, u"", u"second"};
  s.autoFilter.columns[39] = only(FilterKind::NonBlanks);
  ASSERT_TRUE(s.setRowHidden(5, true));
  const AutoFilter kept = s.autoFilter;
  const std::vector<uint8_t> bytes = fileBytes();
  ProgramBuilder program;
  program.selectSheet(0).restoreAutoFilter(s);
  CommandProgram restore = program.finish();
  ASSERT_TRUE(restore.valid());

  // From another filter, from none, and from one on another area of the same width.
  setFilter(s, Area{0, 0, 2, 3});
  ASSERT_TRUE(runProgram(*book, restore));
  expectSameFilter(s.autoFilter, kept);
  EXPECT_EQ(fileBytes(), bytes);
  clearFilter(s);
  ASSERT_TRUE(s.setRowHidden(5, true));
  ASSERT_TRUE(runProgram(*book, restore));
  expectSameFilter(s.autoFilter, kept);
  setFilter(s, Area{4, 2, 901, 41});
  ASSERT_TRUE(runProgram(*book, restore));
  expectSameFilter(s.autoFilter, kept);
  EXPECT_TRUE(s.isRowHidden(5)) << "the record's programs touch no row";
  EXPECT_EQ(fileBytes(), bytes);

  // A sheet without a filter gives a program that removes one.
  ProgramBuilder none;
  none.selectSheet(1).restoreAutoFilter(sheet(1));
  setFilter(sheet(1), Area{0, 0, 4, 0});
  ASSERT_TRUE(runProgram(*book, none.finish()));
  EXPECT_EQ(sheet(1).autoFilter.active, 0u);
  EXPECT_TRUE(sheet(1).autoFilter.columns.empty());
}

TEST_F(FilterTest, MalformedRecordCallsChangeNothing) {
  Sheet& s = sheet();
  setFilter(s, Area{0, 0, 4, 1});
  s.autoFilter.columns[1] = top(2, true);
  const AutoFilter kept = s.autoFilter;
  auto head = [](ProgramBuilder& b, Area area, uint16_t place) {
    b.integer(1).smallInteger(area.firstRow).smallInteger(area.firstColumn).smallInteger(area.lastRow);
    b.smallInteger(area.lastColumn).smallInteger(place);
  };
  auto oneColumn = [](ProgramBuilder& b) {
    for (int i = 0; i < 6; ++i) b.integer(4);
    b.text(u"a").text(u"b");
  };
  struct Case {
    const char* what;
    Area area;
    uint16_t place;
    int columns;
    int count;
  };
  const Case cases[] = {
      {"a count that is no whole number of columns", Area{0, 0, 4, 1}, 0, 0, 13},
      {"the head alone", Area{0, 0, 4, 1}, 0, 0, 6},
      {"columns past the area", Area{0, 0, 4, 1}, 1, 2, 22},
      {"a later call on another area", Area{0, 0, 5, 1}, 1, 1, 14},
      {"an area upside down", Area{4, 0, 0, 1}, 0, 1, 14},
      {"a column past IV", Area{0, 200, 4, 256}, 0, 1, 14},
  };
  for (const Case& c : cases) {
    ProgramBuilder b;
    b.selectSheet(0);
    head(b, c.area, c.place);
    for (int i = 0; i < c.columns; ++i) oneColumn(b);
    for (int i = 6 + 8 * c.columns; i < c.count; ++i) b.integer(0);
    b.call(CommandFunction::SetAutoFilter, c.count);
    ASSERT_TRUE(runProgram(*book, b.finish())) << c.what;
    expectSameFilter(s.autoFilter, kept);
  }
}

TEST_F(FilterTest, CommandsAreUndoneToTheByte) {
  table();
  Sheet& s = sheet();
  ASSERT_TRUE(s.setRowHidden(9, true));  // outside the area: no filter touches it
  const std::vector<uint8_t> before = fileBytes();
  select(1, 2, 1, 2);  // a single cell takes the table around it
  ASSERT_TRUE(filterOnCommand(*book, undo));
  EXPECT_EQ(s.autoFilter.area, (Area{0, 0, 5, 4}));
  EXPECT_EQ(undo.undoDescription(), u"Filter");
  const std::vector<uint8_t> on = fileBytes();
  EXPECT_NE(on, before);

  ASSERT_TRUE(filterColumnCommand(*book, undo, 1, custom(FilterOperator::Greater, u"10")));
  EXPECT_EQ(hidden(0, 6), ".x.....");
  ASSERT_TRUE(filterColumnCommand(*book, undo, 2, custom(FilterOperator::Equal, u"x")));
  EXPECT_EQ(hidden(0, 6), ".xx.x..");
  EXPECT_EQ(number(4, 0), 37) << "Sum still adds the hidden rows";
  const AutoFilter twoColumns = s.autoFilter;
  const std::vector<uint8_t> filtered = fileBytes();

  ASSERT_TRUE(filterOffCommand(*book, undo));
  EXPECT_EQ(hidden(0, 6), ".......");
  EXPECT_EQ(s.autoFilter.active, 0u);
  EXPECT_TRUE(s.isRowHidden(9));

  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(fileBytes(), filtered);
  expectSameFilter(s.autoFilter, twoColumns);
  EXPECT_EQ(hidden(0, 6), ".xx.x..");
  ASSERT_TRUE(undo.undo(*book));
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(fileBytes(), on);
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(fileBytes(), before);
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(undo.redo(*book));
  EXPECT_EQ(fileBytes(), filtered);
  ASSERT_TRUE(undo.redo(*book));
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(fileBytes(), filtered);
  EXPECT_EQ(pendingError(), 0u);
}

TEST_F(FilterTest, TurningOnFindsDataOrRefuses) {
  select(2, 2, 2, 2);
  EXPECT_FALSE(filterOnCommand(*book, undo));
  EXPECT_EQ(pendingError(), static_cast<uint32_t>(Err::NoData));
  EXPECT_EQ(undo.size(), 0u);
  clearError();
  EXPECT_FALSE(filterOffCommand(*book, undo)) << "no filter to turn off";
  EXPECT_FALSE(filterColumnCommand(*book, undo, 0, top(1, true)));

  table();
  // Whole columns are cut back to the last row holding a value.
  select(0, 0, 2, MaxRows - 1);
  ASSERT_TRUE(filterOnCommand(*book, undo));
  EXPECT_EQ(sheet().autoFilter.area, (Area{0, 0, 5, 2}));
  EXPECT_EQ(sheet().autoFilter.columns.size(), 3u);
  EXPECT_FALSE(filterColumnCommand(*book, undo, 3, top(1, true))) << "a column outside the area";
  ASSERT_TRUE(filterColumnCommand(*book, undo, 0, custom(FilterOperator::Equal, u"bob")));
  EXPECT_EQ(hidden(0, 6), ".x.xxx.");
  // Turning on again starts over: the old filter's rows come back.
  select(0, 0, 1, 3);
  ASSERT_TRUE(filterOnCommand(*book, undo));
  EXPECT_EQ(sheet().autoFilter.area, (Area{0, 0, 3, 1}));
  EXPECT_EQ(hidden(0, 6), ".......");
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(hidden(0, 6), ".x.xxx.");
  EXPECT_EQ(sheet().autoFilter.area, (Area{0, 0, 5, 2}));
}

// The command-line checks run tasks on this table as the commands filter it; the file is
// made again with KELP_WRITE_FIXTURES=1 in the environment.
TEST_F(FilterTest, TheCommandLineFixtureIsTheFilteredTable) {
  table();
  select(0, 0, 0, 0);
  ASSERT_TRUE(filterOnCommand(*book, undo));
  ASSERT_TRUE(filterColumnCommand(*book, undo, 1, custom(FilterOperator::Greater, u"10")));
  ASSERT_TRUE(filterColumnCommand(*book, undo, 2, custom(FilterOperator::Equal, u"x")));
  ASSERT_EQ(hidden(0, 6), ".xx.x..");
  const std::vector<uint8_t> bytes = fileBytes();
  const char* path = KELP_TEST_DATA "/filtered.kp";
  if (std::getenv("KELP_WRITE_FIXTURES"))
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
  std::ifstream in(path, std::ios::binary);
  const std::vector<uint8_t> stored{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  EXPECT_EQ(stored, bytes) << path << " is out of date";
}

}  // namespace
}  // namespace kelp::test
