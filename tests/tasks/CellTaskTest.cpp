// Tests of cell tasks: the stored form, what cells show and formulas see, and which cells hold one.
#include "tasks/Tasks.h"

#include "tests/functions/EngineTestSupport.h"

namespace kelp {
namespace {

using CellTaskTest = test::EngineTest;

TEST(CellTaskText, SplitsDisplayIconAndDefinition) {
  CellTaskParts p = splitCellTaskText(u"Total#Icon:3#Task:MsgBox(1)");
  EXPECT_TRUE(p.hasTask);
  EXPECT_EQ(p.display, u"Total");
  EXPECT_EQ(p.icon, 3);
  EXPECT_EQ(p.definition, u"MsgBox(1)");

  p = splitCellTaskText(u"Go#Task:x = 1");
  EXPECT_TRUE(p.hasTask);
  EXPECT_EQ(p.display, u"Go");
  EXPECT_EQ(p.icon, 0);
  EXPECT_EQ(p.definition, u"x = 1");

  // Only the first marker splits; the rest belongs to the task text.
  p = splitCellTaskText(u"#Task:a#Task:b");
  EXPECT_EQ(p.display, u"");
  EXPECT_EQ(p.definition, u"a#Task:b");

  // No task: the whole text shows, an icon marker included.
  p = splitCellTaskText(u"Size#Icon:5 cm");
  EXPECT_FALSE(p.hasTask);
  EXPECT_EQ(p.display, u"Size#Icon:5 cm");
  EXPECT_EQ(p.icon, 0);
  EXPECT_TRUE(p.definition.empty());

  // An icon marker inside the task text is the task's, not the cell's.
  p = splitCellTaskText(u"Go#Task:t = \"#Icon:1\"");
  EXPECT_EQ(p.display, u"Go");
  EXPECT_EQ(p.icon, 0);
  EXPECT_EQ(p.definition, u"t = \"#Icon:1\"");

  // An icon marker with no digit marks no icon but still ends the shown text.
  p = splitCellTaskText(u"A#Icon:#Task:B");
  EXPECT_EQ(p.display, u"A");
  EXPECT_EQ(p.icon, 0);
  EXPECT_EQ(p.definition, u"B");
}

TEST(CellTaskText, MakeAndSplitRoundTrip) {
  for (int32_t icon = 0; icon <= 98; ++icon) {
    std::u16string stored = makeCellTaskText(u"Label", u"x = 1 + 2", icon);
    CellTaskParts p = splitCellTaskText(stored);
    ASSERT_TRUE(p.hasTask) << icon;
    EXPECT_EQ(p.display, u"Label") << icon;
    EXPECT_EQ(p.definition, u"x = 1 + 2") << icon;
    // One digit reads back: icons past 9 come back as their first digit.
    EXPECT_EQ(p.icon, icon < 10 ? icon : icon / 10) << icon;
  }
  EXPECT_EQ(makeCellTaskText(u"A", u"B", 7), u"A#Icon:7#Task:B");
  EXPECT_EQ(makeCellTaskText(u"A", u"B", 42), u"A#Icon:42#Task:B");
  EXPECT_EQ(makeCellTaskText(u"A", u"B", 0), u"A#Task:B");
  EXPECT_EQ(makeCellTaskText(u"A", u"B", 99), u"A#Task:B");
  EXPECT_EQ(makeCellTaskText(u"A", u"B", -1), u"A#Task:B");
}

TEST_F(CellTaskTest, FormulasSeeOnlyTheShownText) {
  setText(0, 0, u"Total#Icon:3#Task:MsgBox(1)");
  setText(0, 1, u"Size#Icon:5 cm");
  setText(0, 2, u"Go#Task:t = \"#Icon:1\"");
  EXPECT_EQ(calc(u"=A1&\"!\"").text, u"Total!");
  // A range walk shows the same texts.
  EXPECT_EQ(calc(u"=Concatenate(A1,A2,A3)").text, u"TotalSize#Icon:5 cmGo");
  EXPECT_EQ(calc(u"=CountA(A1:A3)").number, 3);
}

TEST_F(CellTaskTest, OnlyStoredTextsHoldTasks) {
  setText(0, 0, u"Go#Task:x = 1");
  ASSERT_TRUE(enter(1, 0, u"=\"Go\"&\"#Task:Beep()\""));
  recalculateAll(*book);
  // The formula's result reads like a task but is none.
  ASSERT_EQ(cell(1, 0).text, u"Go#Task:Beep()");
  EXPECT_FALSE(cellTask(sheet(), 1, 0).hasTask);
  EXPECT_FALSE(taskForTap(*book, 0, 1, 0).has_value());

  // Nor do formulas, the grid's walk or references see a shortened text.
  EXPECT_EQ(calc(u"=B1").text, u"Go#Task:Beep()");
  std::vector<std::u16string> walked;
  AreaIterator it(SheetArea{0, 0, 0, 0, 0, 0, 1}, book.get());
  while (const CellValue* v = it.nextValue()) walked.emplace_back(textOf(*v));
  EXPECT_EQ(walked, (std::vector<std::u16string>{u"Go", u"Go#Task:Beep()"}));

  CellTaskParts p = cellTask(sheet(), 0, 0);
  EXPECT_TRUE(p.hasTask);
  EXPECT_EQ(p.definition, u"x = 1");
  setNumber(2, 0, 5);
  EXPECT_FALSE(cellTask(sheet(), 2, 0).hasTask);
  EXPECT_FALSE(cellTask(sheet(), 9, 9).hasTask);
}

}  // namespace
}  // namespace kelp
