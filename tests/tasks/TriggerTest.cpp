// Tests of which workbook task a tap, a new value or the menu runs.
#include "tasks/Tasks.h"

#include "tests/functions/EngineTestSupport.h"

namespace kelp {
namespace {

using TriggerTest = test::EngineTest;

WorkbookTask task(std::u16string name, uint32_t runOn, uint8_t firstSheet, uint8_t lastSheet, Area area) {
  WorkbookTask t;
  t.name = std::move(name);
  t.definition = u"x = 1";
  t.runOn = runOn;
  setTaskArea(t, firstSheet, lastSheet, area);
  return t;
}

TEST_F(TriggerTest, TapRunsTheFirstTaskOverTheCellOrElseTheCellsOwn) {
  // Area rows and columns are zero-based: B2:D4 and C3:C3 overlap at C3.
  book->tasks.push_back(task(u"menu", TaskRunsFromMenu, 0, 2, Area{0, 0, 100, 100}));
  book->tasks.push_back(task(u"wide", TaskRunsOnTap, 0, 0, Area{1, 1, 3, 3}));
  book->tasks.push_back(task(u"narrow", TaskRunsOnTap, 0, 0, Area{2, 2, 2, 2}));
  book->tasks.push_back(task(u"later sheets", TaskRunsOnTap, 1, 2, Area{0, 0, 0, 0}));

  auto name = [&](int s, int col, int row) {
    std::optional<WorkbookTask> t = taskForTap(*book, s, col, row);
    return t ? t->name : u"-";
  };
  EXPECT_EQ(name(0, 2, 2), u"wide");  // the earlier of two overlapping tasks
  EXPECT_EQ(name(0, 4, 3), u"-");     // one column past the area
  EXPECT_EQ(name(0, 3, 4), u"-");     // one row past
  EXPECT_EQ(name(0, 0, 0), u"-");     // the menu task's area does not count for taps
  EXPECT_EQ(name(2, 0, 0), u"later sheets");
  EXPECT_EQ(name(1, 2, 2), u"-");     // the sheet range limits "wide" to sheet 0

  // Swapping them lets the narrow one win where it lies.
  std::swap(book->tasks[1], book->tasks[2]);
  EXPECT_EQ(name(0, 2, 2), u"narrow");
  EXPECT_EQ(name(0, 1, 1), u"wide");

  // A cell's own task runs only where no workbook task takes the tap.
  setText(2, 2, u"Here#Icon:1#Task:y = 2");
  setText(5, 5, u"There#Task:z = 3");
  EXPECT_EQ(name(0, 2, 2), u"narrow");
  std::optional<WorkbookTask> own = taskForTap(*book, 0, 5, 5);
  ASSERT_TRUE(own.has_value());
  EXPECT_EQ(own->name, u"temp");
  EXPECT_EQ(own->definition, u"z = 3");
  EXPECT_FALSE(taskForTap(*book, 7, 0, 0).has_value());  // no such sheet
}

TEST_F(TriggerTest, AnySheetAreasAndOtherBooks) {
  book->tasks.push_back(task(u"any", TaskRunsOnTap, AnySheet, 0, Area{0, 0, 0, 0}));
  WorkbookTask other = task(u"245", TaskRunsOnNewValue, 245, 245, Area{5, 5, 5, 5});
  book->tasks.push_back(other);
  WorkbookTask elsewhere = task(u"elsewhere", TaskRunsOnTap, 0, 2, Area{1, 1, 1, 1});
  elsewhere.area[0] = 1;  // a reference into another workbook
  book->tasks.push_back(elsewhere);

  for (int s = 0; s < 3; ++s) {
    EXPECT_EQ(taskForTap(*book, s, 0, 0)->name, u"any") << s;
    EXPECT_EQ(taskForNewValue(*book, s, 5, 5), 1) << s;
    EXPECT_FALSE(taskForTap(*book, s, 1, 1).has_value()) << s;
  }
  EXPECT_EQ(taskForNewValue(*book, 0, 0, 0), -1);
  EXPECT_EQ(taskForNewValue(*book, 200, 5, 5), 1);  // every sheet, present or to come
}

TEST_F(TriggerTest, NewValueAndMenuPickTheirOwnTasks) {
  book->tasks.push_back(task(u"tap", TaskRunsOnTap, 0, 0, Area{0, 0, 9, 9}));
  book->tasks.push_back(task(u"first", TaskRunsOnNewValue, 0, 0, Area{0, 0, 9, 9}));
  book->tasks.push_back(task(u"second", TaskRunsOnNewValue, 0, 0, Area{0, 0, 20, 20}));
  EXPECT_EQ(taskForNewValue(*book, 0, 3, 3), 1);
  EXPECT_EQ(taskForNewValue(*book, 0, 15, 15), 2);
  EXPECT_EQ(taskForNewValue(*book, 0, 21, 0), -1);
  EXPECT_EQ(taskForNewValue(*book, 1, 3, 3), -1);

  WorkbookTask named = task(u"Named", TaskRunsFromMenu, 0, 0, Area{});
  WorkbookTask labelled = task(u"inner", TaskRunsFromMenu, 0, 0, Area{});
  labelled.menuText = u"Shown";
  WorkbookTask nameless = task(u"", TaskRunsFromMenu, 0, 0, Area{});
  book->tasks.push_back(named);
  book->tasks.push_back(nameless);
  book->tasks.push_back(labelled);
  std::vector<TaskMenuItem> items = menuTasks(*book);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].command, FirstTaskCommand + 3);
  EXPECT_EQ(items[0].text, u"Named");
  EXPECT_EQ(items[1].command, FirstTaskCommand + 5);
  EXPECT_EQ(items[1].text, u"Shown");
  EXPECT_EQ(items[1].task, 5);

  EXPECT_EQ(findTask(*book, u"NAMED"), 3);
  EXPECT_EQ(findTask(*book, u"first"), 1);
  EXPECT_EQ(findTask(*book, u"missing"), -1);
  book->tasks.push_back(task(u"named", TaskRunsOnTap, 0, 0, Area{}));
  EXPECT_EQ(findTask(*book, u"named"), 3);  // the first of equal names
}

}  // namespace
}  // namespace kelp
