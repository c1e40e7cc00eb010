// What a new user meets first: the title and the place shown at all times, the pointer,
// the desktop's Ctrl keys, Ctrl+End, and menus that show their digits beside their parents.
#include "ShellTestSupport.h"
#include "platform/ui/Menu.h"

namespace kelp::test {
namespace {

std::u16string bookWithData(const TempFolder& folder, std::u16string_view sheetName = u"Sheet1") {
  startEditingOnce();
  auto book = newWorkbook(1);
  book->renameSheet(0, sheetName);
  Sheet& sheet = *book->activeSheet();
  for (int32_t r = 0; r < 4; ++r) {
    putNumber(sheet, 0, r, r + 1);
    putText(sheet, 1, r, u"item");
  }
  putText(sheet, 2, 0, u"note");
  return saveWorkbook(std::move(book), folder.file("book.kp"));
}

Point centre(const Rect& r) { return {(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }

std::string pointerLine(const char* command, std::initializer_list<Point> points) {
  std::string line = command;
  for (Point p : points) line += " " + std::to_string(p.x) + " " + std::to_string(p.y);
  return line + "\n";
}

TEST(FirstMinutes, TheTitleAndTheSoftKeyBarSayWhereYouAre) {
  TempFolder folder;
  Session s;
  s.run(bookWithData(folder, u"Household budget"), "key Down Right\n");
  EXPECT_EQ(s.app->mainWindow()->text(), u"book.kp - Kelp");
  EXPECT_EQ(s.app->menuBar()->shownStatus(), u"Household budget!B2");
  s.keys("text 5\nkey Enter\n");
  EXPECT_EQ(s.app->mainWindow()->text(), u"*book.kp - Kelp");
  s.keys("menu File > New\nsoft2\n");  // No: the changes go
  EXPECT_TRUE(s.seen.sawLines(u"Save changes to book.kp?"));
  EXPECT_EQ(s.app->mainWindow()->text(), u"Untitled - Kelp");

  // On the smallest screen a long sheet name gives way to the cell alone.
  Session small(176, 220);
  small.run(bookWithData(folder, u"Household budget for the year"), "key Right\n");
  EXPECT_EQ(small.app->menuBar()->shownStatus(), u"B1");
}

TEST(FirstMinutes, AClickSelectsACellADragARangeAndTheWheelScrolls) {
  TempFolder folder;
  Session s(480, 640);
  s.run(bookWithData(folder), "");
  const Point c5 = centre(s.cell(2, 4)), d7 = centre(s.cell(3, 6));
  s.keys(pointerLine("click", {c5}));
  EXPECT_EQ(s.sel().activeColumn, 2);
  EXPECT_EQ(s.sel().activeRow, 4);
  EXPECT_EQ(s.sel().lastColumn, 2);
  s.keys(pointerLine("drag", {c5, d7}));
  EXPECT_EQ(s.sel().area(), (Area{4, 2, 6, 3}));
  EXPECT_EQ(s.sel().activeColumn, 2);
  EXPECT_EQ(s.sel().activeRow, 4);
  s.keys(pointerLine("wheel -2", {c5}));
  EXPECT_EQ(s.sheet().view.topRow, 6);  // two notches toward the user, three rows each
  EXPECT_EQ(s.sel().activeRow, 4);
  s.keys(pointerLine("wheel 5", {c5}));
  EXPECT_EQ(s.sheet().view.topRow, 0);
  // A tap on a soft key's label presses it.
  s.keys(pointerLine("click", {{4, 640 - SoftKeyBarHeight / 2}}) + "text 4\n");  // Select > All
  EXPECT_EQ(s.sel().lastRow, MaxRows - 1);
}

TEST(FirstMinutes, DesktopKeysUndoCopyPasteAndReachTheCornerOfTheData) {
  TempFolder folder;
  Session s;
  s.run(bookWithData(folder), "key Ctrl+End\n");
  // The corner of the used range, though C4 itself is empty.
  EXPECT_EQ(s.sel().activeColumn, 2);
  EXPECT_EQ(s.sel().activeRow, 3);
  s.keys("text 9\nkey Enter\nkey Ctrl+Z\n");
  EXPECT_EQ(s.sheet().cellValue(2, 3).kind, ValueKind::Empty);
  s.keys("key Ctrl+Y\n");
  EXPECT_EQ(s.sheet().cellValue(2, 3).number(), 9);
  s.keys("key Ctrl+Home\nkey Ctrl+C\nkey Right Right Right\nkey Ctrl+V\n");
  EXPECT_EQ(s.sheet().cellValue(3, 0).number(), 1);
  EXPECT_EQ(s.app->undoList().undoDescription(), u"Paste");
  // In the edit line the same keys act on its text.
  s.keys("key F2\nkey Ctrl+A\nkey Ctrl+X\ntext 7\nkey Ctrl+V\nkey Enter\n");
  EXPECT_EQ(s.sheet().cellValue(3, 0).number(), 71);
}

TEST(FirstMinutes, EntriesReadAsTypedAndAnUnknownNameIsNamed) {
  Session s;
  // Seven everyday forms, each a number or a date; the sum shows they were read so.
  s.run(u"", "text 1,234\nkey Enter\ntext $1,234.50\nkey Enter\ntext (50)\nkey Enter\n"
             "text 2026-03-15\nkey Enter\ntext 15-Mar-26\nkey Enter\ntext 1/2\nkey Enter\n"
             "text 1,234.50\nkey Enter\ntext =SUM(A1:A7)\nkey Enter\ntext =1+Foo\nkey Enter\nsoft1\nkey Esc\n");
  for (int32_t r = 0; r < 7; ++r) EXPECT_TRUE(s.sheet().cellValue(0, r).isNumeric()) << r;
  EXPECT_EQ(s.sheet().cellValue(0, 0).number(), 1234);
  EXPECT_EQ(s.sheet().cellValue(0, 2).number(), -50);
  EXPECT_EQ(s.sheet().cellValue(0, 3).number(), s.sheet().cellValue(0, 4).number());  // both 15 March 2026
  double sum = 0;
  for (int32_t r = 0; r < 7; ++r) sum += s.sheet().cellValue(0, r).number();
  EXPECT_DOUBLE_EQ(s.sheet().cellValue(0, 7).number(), sum);
  EXPECT_GT(sum, 46000 + 2 * 1234);  // two dates of 2026 among them
  EXPECT_TRUE(s.seen.sawLines(u"Unknown name: Foo"));
}

TEST(FirstMinutes, MenusShowTheirDigitsAndOpenSubmenusBesideTheirItems) {
  Session s;
  s.run(u"", "soft2\ntext 2\n");
  // Menu > Edit is open: its items carry digits, and it lies left of Menu's column.
  const DrawnText* edit = s.seen.seenText(u"Edit");
  const DrawnText* undo = s.seen.seenText(u"Undo");
  ASSERT_TRUE(edit && undo);
  EXPECT_LE(undo->rect.right, edit->rect.left);
  EXPECT_TRUE(s.seen.leftOf(u"2", *edit));
  EXPECT_TRUE(s.seen.leftOf(u"1", *undo));
}

}  // namespace
}  // namespace kelp::test
