// The task function Sort: keys by number or by reference, three keys under a header,
// case, sorting columns, keys outside the selection, and undo.
#include "tasks/SortTask.h"

#include <string>
#include <vector>

#include "edit/Commands.h"
#include "platform/Text.h"
#include "tasks/TaskFunctions.h"
#include "tasks/Tasks.h"
#include "tests/tasks/TaskTestSupport.h"

namespace kelp {
namespace {

class SortTaskTest : public test::TaskTest {
 protected:
  void select(int firstCol, int firstRow, int lastCol, int lastRow) {
    Selection& s = sheet(book->activeSheetIndex()).selection;
    s.firstColumn = s.activeColumn = static_cast<int16_t>(firstCol);
    s.firstRow = s.activeRow = static_cast<uint16_t>(firstRow);
    s.lastColumn = s.endColumn = static_cast<int16_t>(lastCol);
    s.lastRow = s.endRow = static_cast<uint16_t>(lastRow);
  }
  std::vector<std::u16string> line(int col, int row, int count, bool across = false) {
    std::vector<std::u16string> out;
    for (int i = 0; i < count; ++i) out.push_back(across ? cell(col + i, row).text : cell(col, row + i).text);
    return out;
  }
  // A header row and six people: department, name, age.
  void putPeople() {
    const char16_t* dept[] = {u"Dept", u"b", u"a", u"b", u"a", u"b", u"a"};
    const char16_t* name[] = {u"Name", u"x", u"y", u"w", u"z", u"v", u"y"};
    const double age[] = {0, 30, 25, 30, 40, 20, 22};
    for (int r = 0; r < 7; ++r) {
      setText(0, r, dept[r]);
      setText(1, r, name[r]);
      if (r == 0) setText(2, r, u"Age");
      else setNumber(2, r, age[r]);
    }
  }

};

TEST_F(SortTaskTest, ThreeKeysUnderAHeader) {
  putPeople();
  select(0, 0, 2, 6);
  // By department, then age from the oldest, then name.
  EXPECT_EQ(eval(u"Sort(1, true, 3, false, 2, true, true)").kind, ValueKind::Empty);
  EXPECT_EQ(line(0, 0, 7), (std::vector<std::u16string>{u"Dept", u"a", u"a", u"a", u"b", u"b", u"b"}));
  EXPECT_EQ(line(1, 0, 7), (std::vector<std::u16string>{u"Name", u"z", u"y", u"y", u"w", u"x", u"v"}));
  EXPECT_EQ(line(2, 0, 7), (std::vector<std::u16string>{u"Age", u"40", u"25", u"22", u"30", u"30", u"20"}));
  ASSERT_EQ(undo.size(), 1u);
  EXPECT_EQ(undo.undoDescription(), u"Sort");
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(line(1, 0, 7), (std::vector<std::u16string>{u"Name", u"x", u"y", u"w", u"z", u"v", u"y"}));

  // A key given by a cell of its column; the selection without the header row.
  select(0, 1, 2, 6);
  run(u"Sort(C1, false)");
  EXPECT_EQ(line(2, 0, 7), (std::vector<std::u16string>{u"Age", u"40", u"30", u"30", u"25", u"22", u"20"}));
  EXPECT_EQ(line(1, 1, 3), (std::vector<std::u16string>{u"z", u"x", u"w"}));
  // One argument: ascending, no header.
  select(1, 1, 1, 6);
  run(u"Sort(1)");
  EXPECT_EQ(line(1, 1, 6), (std::vector<std::u16string>{u"v", u"w", u"x", u"y", u"y", u"z"}));
  // A single cell sorts the data around it, as the Sort dialog does: whole rows move.
  select(1, 3, 1, 3);
  run(u"Sort(3, true, 0, true, 0, true, true)");
  EXPECT_EQ(line(2, 0, 7), (std::vector<std::u16string>{u"Age", u"20", u"22", u"25", u"30", u"30", u"40"}));
  EXPECT_EQ(sheet(0).selection.area(), (Area{0, 0, 6, 2}));
}

TEST_F(SortTaskTest, CaseCountsWhenAsked) {
  const char16_t* texts[] = {u"b", u"A", u"a", u"B"};
  for (int r = 0; r < 4; ++r) setText(0, r, texts[r]);
  select(0, 0, 0, 3);
  run(u"Sort(1, true, 0, true, 0, true, false, true)");
  EXPECT_EQ(line(0, 0, 4), (std::vector<std::u16string>{u"A", u"B", u"a", u"b"}));
  ASSERT_TRUE(undo.undo(*book));
  run(u"Sort(1)");  // equal texts keep their order
  EXPECT_EQ(line(0, 0, 4), (std::vector<std::u16string>{u"A", u"a", u"b", u"B"}));
}

TEST_F(SortTaskTest, SortRowsMovesTheColumns) {
  const double keys[] = {3, 1, 2};
  const char16_t* names[] = {u"c", u"a", u"b"};
  setText(0, 0, u"Key");
  setText(0, 1, u"Name");
  for (int c = 1; c <= 3; ++c) {
    setNumber(c, 0, keys[c - 1]);
    setText(c, 1, names[c - 1]);
  }
  select(0, 0, 3, 1);
  run(u"Sort(1, true, 0, true, 0, true, true, false, true)");
  EXPECT_EQ(line(0, 0, 4, true), (std::vector<std::u16string>{u"Key", u"1", u"2", u"3"}));
  EXPECT_EQ(line(0, 1, 4, true), (std::vector<std::u16string>{u"Name", u"a", u"b", u"c"}));
  // The key row by a cell of it.
  run(u"Sort(D2, false, 0, true, 0, true, true, false, true)");
  EXPECT_EQ(line(0, 1, 4, true), (std::vector<std::u16string>{u"Name", u"c", u"b", u"a"}));
}

TEST_F(SortTaskTest, KeysOutsideTheSelectionChangeNothing) {
  putPeople();
  setNumber(4, 0, 1);  // column E, outside the selection
  select(0, 0, 2, 6);
  for (const char16_t* call : {u"Sort(300)", u"Sort(0)", u"Sort(4)", u"Sort(-1)", u"Sort(1, true, 4)",
                               u"Sort(1, true, 2, true, 300)", u"Sort(E1)", u"Sort(\"x\")"}) {
    test::Result r = eval(call);
    EXPECT_EQ(r.kind, ValueKind::Error) << utf16ToUtf8(call);
    EXPECT_EQ(r.code, static_cast<uint32_t>(CellError::Value)) << utf16ToUtf8(call);
  }
  test::Result wide = eval(u"Sort(A1:B1)");
  EXPECT_EQ(wide.kind, ValueKind::Error);
  EXPECT_EQ(wide.code, static_cast<uint32_t>(CellError::Ref));
  EXPECT_EQ(undo.size(), 0u);
  EXPECT_EQ(pendingError(), 0u);
  EXPECT_EQ(line(1, 0, 7), (std::vector<std::u16string>{u"Name", u"x", u"y", u"w", u"z", u"v", u"y"}));
  // With only seven rows a row key of 8 is outside too, while 7 sorts.
  EXPECT_EQ(eval(u"Sort(8, true, 0, true, 0, true, false, false, true)").code,
            static_cast<uint32_t>(CellError::Value));
  EXPECT_EQ(eval(u"Sort(7, true, 0, true, 0, true, false, false, true)").kind, ValueKind::Empty);
  EXPECT_EQ(undo.size(), 1u);
}

}  // namespace
}  // namespace kelp
