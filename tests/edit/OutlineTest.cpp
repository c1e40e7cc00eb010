// Outlines: auto outline from subtotal formulas, showing and hiding detail, grouping,
// clearing, and the undo of each.
#include <string>

#include "CommandTestSupport.h"
#include "edit/Outline.h"

namespace kelp::test {
namespace {

class OutlineTest : public CommandTest {
 protected:
  /// Rows 1-3 and 5-7 numbers, their subtotals in rows 4 and 8, `total` in row 9; A1 selected.
  void subtotals(std::u16string_view total) {
    const char16_t* column[] = {u"1", u"2", u"3", u"=Sum(A1:A3)", u"4", u"5", u"6", u"=Sum(A5:A7)"};
    for (int r = 0; r < 8; ++r) ASSERT_TRUE(enter(0, r, column[r]));
    ASSERT_TRUE(enter(0, 8, total));
    select(0, 0, 0, 0);
  }
  /// The levels of rows first..last as digits.
  std::string rowLevels(int first, int last) {
    std::string out;
    for (int r = first; r <= last; ++r) out += char('0' + (sheet().rowAt(r) ? sheet().rowAt(r)->flags & 7 : 0));
    return out;
  }
  std::string hiddenRows(int first, int last) {
    std::string out;
    for (int r = first; r <= last; ++r) out += sheet().isRowHidden(r) ? 'x' : '.';
    return out;
  }
  std::string hiddenColumns(int first, int last) {
    std::string out;
    for (int c = first; c <= last; ++c) out += sheet().columns.isColumnHidden(c) ? 'x' : '.';
    return out;
  }
  static bool no() { return false; }
};

TEST_F(OutlineTest, AutoOutlineTakesDetailRowsFromAreaReferences) {
  struct Case {
    const char16_t* total;
    const char* levels;
  } cases[] = {
      {u"=A4+A8", "111011100"},           // single cells name no detail
      {u"=Sum(A4,A8)", "111011100"},
      {u"=Sum(A1:A8)", "222122210"},      // the subtotals' details one level deeper
      {u"=Sum(Sheet1!A1:A8)", "222122210"},  // this sheet by its name
      {u"=Sum(Sheet2!A1:A8)", "111011100"},  // another sheet's rows are not these
  };
  for (const Case& c : cases) {
    SetUp();
    subtotals(c.total);
    const std::vector<uint8_t> before = fileBytes();
    ASSERT_TRUE(autoOutline(*book, undo, no)) << pendingError();  // no outline yet: nothing asked
    EXPECT_EQ(rowLevels(0, 8), c.levels) << std::string(c.total, c.total + std::char_traits<char16_t>::length(c.total));
    EXPECT_EQ(sheet().rowOutlineTop, c.levels[0] - '0');
    EXPECT_EQ(undo.undoDescription(), u"Auto Outline");
    ASSERT_TRUE(undo.undo(*book));
    EXPECT_EQ(fileBytes(), before);
    EXPECT_EQ(sheet().rowOutlineTop, 0);
    ASSERT_TRUE(undo.redo(*book));
    EXPECT_EQ(rowLevels(0, 8), c.levels);
    TearDown();
  }

  // A region of one row is outlined by columns.
  SetUp();
  for (int c = 0; c < 3; ++c) ASSERT_TRUE(enter(c, 0, u"5"));
  ASSERT_TRUE(enter(3, 0, u"=Sum(A1:C1)"));
  select(1, 0, 1, 0);
  ASSERT_TRUE(autoOutline(*book, undo, no));
  EXPECT_EQ(sheet().columns.columnOutlineLevel(0) * 1000 + sheet().columns.columnOutlineLevel(2) * 10 +
                sheet().columns.columnOutlineLevel(3),
            1010);
  EXPECT_EQ(rowLevels(0, 0), "0");
}

TEST_F(OutlineTest, AutoOutlineAsksBeforeChangingAnOutlineAndFailsWithoutDetails) {
  int asked = 0;
  auto answer = [&](bool yes) {
    return [&asked, yes] {
      ++asked;
      return yes;
    };
  };
  // No data around the cell, or data without formulas: error 50, nothing recorded.
  EXPECT_FALSE(autoOutline(*book, undo, answer(true)));
  EXPECT_EQ(pendingError(), static_cast<uint32_t>(Err::CannotOutline));
  clearError();
  ASSERT_TRUE(enter(0, 0, u"1"));
  ASSERT_TRUE(enter(0, 1, u"2"));
  select(0, 0, 0, 0);
  const size_t entries = undo.size();
  EXPECT_FALSE(autoOutline(*book, undo, answer(true)));
  EXPECT_EQ(pendingError(), static_cast<uint32_t>(Err::CannotOutline));
  EXPECT_EQ(undo.size(), entries);
  clearError();

  // With rows outlined, No leaves everything; Yes sets the region's levels afresh.
  subtotals(u"=A4+A8");
  select(0, 8, 0, 8);
  ASSERT_TRUE(groupLines(*book, undo, false, true));  // row 9 at level 1
  select(0, 0, 0, 0);
  const std::vector<uint8_t> grouped = fileBytes();
  EXPECT_FALSE(autoOutline(*book, undo, answer(false)));
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(fileBytes(), grouped);
  EXPECT_EQ(pendingError(), 0u);
  ASSERT_TRUE(autoOutline(*book, undo, answer(true)));
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(rowLevels(0, 8), "111011100");
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(fileBytes(), grouped);

  // Rows outlined do not concern a one-row region; columns outlined do.
  ASSERT_TRUE(enter(2, 20, u"1"));
  ASSERT_TRUE(enter(3, 20, u"2"));
  ASSERT_TRUE(enter(4, 20, u"=Sum(C21:D21)"));
  select(3, 20, 3, 20);
  ASSERT_TRUE(autoOutline(*book, undo, answer(false)));
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(hiddenColumns(2, 4), "...");
  EXPECT_EQ(sheet().columns.columnOutlineLevel(3) * 10 + sheet().columns.columnOutlineLevel(4), 10);
  EXPECT_FALSE(autoOutline(*book, undo, answer(false)));
  EXPECT_EQ(asked, 3);
}

TEST_F(OutlineTest, HideAndShowDetailAboveTheSummaryLine) {
  // Nothing to act on before there is an outline.
  subtotals(u"=Sum(A1:A8)");
  select(0, 3, 0, 3);
  EXPECT_FALSE(detailAvailable(sheet()));
  EXPECT_FALSE(hideDetail(*book, undo));
  ASSERT_TRUE(autoOutline(*book, undo, no));

  // At the subtotal in row 4 its three rows go; at the total in row 9 all eight.
  const std::vector<uint8_t> shown = fileBytes();
  select(0, 3, 0, 3);
  EXPECT_TRUE(detailAvailable(sheet()));
  ASSERT_TRUE(hideDetail(*book, undo));
  EXPECT_EQ(undo.undoDescription(), u"Hide Detail");
  EXPECT_EQ(hiddenRows(0, 8), "xxx......");
  select(0, 8, 0, 8);
  ASSERT_TRUE(hideDetail(*book, undo));
  EXPECT_EQ(hiddenRows(0, 8), "xxxxxxxx.");
  ASSERT_TRUE(showDetail(*book, undo));
  EXPECT_EQ(undo.undoDescription(), u"Show Detail");
  EXPECT_EQ(hiddenRows(0, 8), ".........");
  EXPECT_FALSE(showDetail(*book, undo));  // already shown: nothing recorded
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(hiddenRows(0, 8), "xxxxxxxx.");
  ASSERT_TRUE(undo.undo(*book));
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(hiddenRows(0, 8), ".........");
  EXPECT_EQ(fileBytes(), shown);

  // A detail row itself, or a row at the level of the one above, has no detail.
  select(0, 1, 0, 1);
  EXPECT_FALSE(detailAvailable(sheet()));
  select(0, 0, 0, 0);
  EXPECT_FALSE(detailAvailable(sheet()));

  // Columns: the deeper ones just left of the active column.
  select(3, 0, 4, 0);
  ASSERT_TRUE(groupLines(*book, undo, true, true));  // D:E
  select(5, 0, 5, 0);
  EXPECT_TRUE(detailAvailable(sheet()));
  ASSERT_TRUE(hideDetail(*book, undo));
  EXPECT_EQ(hiddenColumns(2, 5), ".xx.");
  EXPECT_EQ(hiddenRows(0, 8), ".........");  // row 1 has no detail above it
}

TEST_F(OutlineTest, GroupUngroupAndClearStayWithinTheLevels) {
  EXPECT_FALSE(clearOutline(*book, undo));
  EXPECT_FALSE(groupLines(*book, undo, false, false));  // nothing to ungroup
  const std::vector<uint8_t> plain = fileBytes();
  select(0, 1, 3, 2);
  for (int i = 0; i < 7; ++i) ASSERT_TRUE(groupLines(*book, undo, false, true));
  EXPECT_EQ(undo.undoDescription(), u"Group");
  EXPECT_EQ(rowLevels(0, 3), "0770");
  EXPECT_EQ(sheet().rowOutlineTop, 7);
  EXPECT_FALSE(groupLines(*book, undo, false, true));
  ASSERT_TRUE(groupLines(*book, undo, true, true));  // columns A:D
  ASSERT_TRUE(groupLines(*book, undo, false, false));
  EXPECT_EQ(undo.undoDescription(), u"Ungroup");
  EXPECT_EQ(rowLevels(0, 3), "0660");
  EXPECT_EQ(sheet().columns.columnOutlineLevel(3) * 10 + sheet().columns.columnOutlineLevel(4), 10);

  ASSERT_TRUE(clearOutline(*book, undo));
  EXPECT_EQ(undo.undoDescription(), u"Clear Outline");
  EXPECT_EQ(rowLevels(0, 3), "0000");
  EXPECT_EQ(sheet().columns.columnOutlineLevel(0), 0);
  EXPECT_EQ(sheet().rowOutlineTop + sheet().columnOutlineTop, 0);
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(rowLevels(0, 3), "0660");
  EXPECT_EQ(sheet().columnOutlineTop, 1);

  for (int i = 0; i < 6; ++i) ASSERT_TRUE(groupLines(*book, undo, false, false));
  EXPECT_FALSE(groupLines(*book, undo, false, false));
  ASSERT_TRUE(groupLines(*book, undo, true, false));
  EXPECT_EQ(fileBytes(), plain);

  // Whole columns selected: the rows that exist, not all 65536.
  ASSERT_TRUE(enter(0, 5, u"1"));
  select(0, 0, 0, MaxRows - 1);
  ASSERT_TRUE(groupLines(*book, undo, false, true));
  EXPECT_EQ(rowLevels(4, 6), "010");
  EXPECT_FALSE(sheet().rowExists(6));
}

}  // namespace
}  // namespace kelp::test
