// The task function Filter: on over the selection or the data around one cell, off with
// every row shown, each an undo entry; no data and bad arguments give error values.
#include <string>

#include "edit/Commands.h"
#include "edit/Filter.h"
#include "tasks/TaskFunctions.h"
#include "tasks/Tasks.h"
#include "tests/tasks/TaskTestSupport.h"

namespace kelp {
namespace {

class FilterTaskTest : public test::TaskTest {
 protected:
  void SetUp() override {
    test::TaskTest::SetUp();
    // A heading row and four rows of two columns in A1:B5.
    const char16_t* names[] = {u"Name", u"ann", u"bob", u"cid", u"dan"};
    for (int r = 0; r < 5; ++r) {
      setText(0, r, names[r]);
      if (r > 0) setNumber(1, r, r * 10);
    }
    setText(1, 0, u"Amount");
  }
  // Runs "v = <call>" and gives the kind of v, with its error code in `code`.
  ValueKind result(std::u16string_view call, uint32_t& code) {
    std::u16string text = u"v = ";
    text += call;
    TaskRunResult r = runTask(*book, text);
    EXPECT_EQ(r.outcome, TaskOutcome::Done) << "error " << pendingError() << " at " << r.position;
    const test::Result v = test::resultOf(book->taskVariables[book->findTaskVariable(u"v")].value);
    code = v.code;
    return v.kind;
  }
  void select(int firstCol, int firstRow, int lastCol, int lastRow) {
    Selection& s = sheet().selection;
    s.firstColumn = s.activeColumn = static_cast<int16_t>(firstCol);
    s.firstRow = s.activeRow = static_cast<uint16_t>(firstRow);
    s.lastColumn = s.endColumn = static_cast<int16_t>(lastCol);
    s.lastRow = s.endRow = static_cast<uint16_t>(lastRow);
  }

};

TEST_F(FilterTaskTest, FilterTurnsOnAndOffAsUndoEntries) {
  uint32_t code = 0;
  select(1, 2, 1, 2);
  EXPECT_EQ(result(u"Filter(true)", code), ValueKind::Empty);
  const AutoFilter& filter = sheet().autoFilter;
  EXPECT_EQ(filter.active, 1u);
  EXPECT_EQ(filter.area, (Area{0, 0, 4, 1}));
  EXPECT_EQ(undo.size(), 1u);

  FilterColumn over{};
  over.kind = FilterKind::Custom;
  over.operator1 = FilterOperator::Greater;
  over.text1 = u"25";
  ASSERT_TRUE(filterColumnCommand(*book, undo, 1, over));
  EXPECT_TRUE(sheet().isRowHidden(1));
  EXPECT_TRUE(sheet().isRowHidden(2));
  EXPECT_FALSE(sheet().isRowHidden(3));

  EXPECT_EQ(result(u"Filter(false)", code), ValueKind::Empty);
  EXPECT_EQ(filter.active, 0u);
  EXPECT_FALSE(sheet().isRowHidden(1));
  EXPECT_FALSE(sheet().isRowHidden(2));
  EXPECT_EQ(undo.size(), 3u);
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(filter.active, 1u);
  EXPECT_EQ(filter.columns[1].text1, u"25");
  EXPECT_TRUE(sheet().isRowHidden(1));

  // Off twice: the second call has nothing to do and records nothing.
  EXPECT_EQ(result(u"Filter(false)", code), ValueKind::Empty);
  EXPECT_EQ(result(u"Filter(false)", code), ValueKind::Empty);
  EXPECT_EQ(undo.size(), 3u);
  EXPECT_EQ(pendingError(), 0u);
}

TEST_F(FilterTaskTest, NoDataOrABadArgumentGivesAnErrorValue) {
  uint32_t code = 0;
  select(5, 9, 5, 9);
  EXPECT_EQ(result(u"Filter(true)", code), ValueKind::Error);
  EXPECT_EQ(code, static_cast<uint32_t>(CellError::Value));
  EXPECT_EQ(pendingError(), static_cast<uint32_t>(Err::NoData));
  clearError();
  select(0, 0, 1, 1);
  EXPECT_EQ(result(u"Filter(1/0)", code), ValueKind::Error);
  EXPECT_EQ(code, static_cast<uint32_t>(CellError::Div0));
  EXPECT_EQ(sheet().autoFilter.active, 0u);
  EXPECT_EQ(undo.size(), 0u);
}

}  // namespace
}  // namespace kelp
