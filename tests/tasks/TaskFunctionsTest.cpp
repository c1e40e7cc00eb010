// Tests of the task-only functions run through task text: references, sheets, rows and
// columns, the view, undoable changes, goal seek, saving and ending a run.
#include "tasks/TaskFunctions.h"

#include <optional>
#include <string>
#include <utility>

#include "edit/Commands.h"
#include "files/Document.h"
#include "model/CellTaskText.h"
#include "platform/System.h"
#include "platform/Text.h"
#include "tasks/Tasks.h"
#include "tests/files/TempFolder.h"
#include "tests/tasks/TaskTestSupport.h"

namespace kelp {
namespace {

class TaskFunctionsTest : public test::TaskTest {
 protected:
  void SetUp() override {
    test::TaskTest::SetUp();
    setTaskFullScreen(false);
  }
  bool isError(const test::Result& r, CellError code) {
    return r.kind == ValueKind::Error && r.code == static_cast<uint32_t>(code);
  }
  std::u16string storedText(int col, int row, int s = 0) {
    const CellRecord* cell = sheet(s).cellPtr(col, row);
    return cell && cell->value.kind == ValueKind::Text ? std::u16string(textOf(cell->value)) : u"<none>";
  }
  void select(int firstCol, int firstRow, int lastCol, int lastRow, int activeCol, int activeRow) {
    Selection& s = sheet(book->activeSheetIndex()).selection;
    s.firstColumn = static_cast<int16_t>(firstCol);
    s.firstRow = static_cast<uint16_t>(firstRow);
    s.lastColumn = static_cast<int16_t>(lastCol);
    s.lastRow = static_cast<uint16_t>(lastRow);
    s.activeColumn = static_cast<int16_t>(activeCol);
    s.activeRow = static_cast<uint16_t>(activeRow);
    s.endColumn = static_cast<int16_t>(lastCol);
    s.endRow = static_cast<uint16_t>(lastRow);
  }
};

TEST_F(TaskFunctionsTest, ReferencesCountFromOneColumnFirst) {
  run(u"Set(CellRef(1, 2), 5) Set(CellRef(256, 65536, 3), \"far\")");
  EXPECT_EQ(cell(0, 1).number, 5);  // column A, row 2
  EXPECT_EQ(cell(0, 0).kind, ValueKind::Empty);
  EXPECT_EQ(cell(255, 65535, 2).text, u"far");
  EXPECT_EQ(book->activeSheetIndex(), 0);  // writing elsewhere leaves the user where he was

  setNumber(0, 0, 1);
  setNumber(1, 0, 2);
  setNumber(0, 1, 3);
  setNumber(1, 1, 4);
  setNumber(2, 2, 100);
  // Corners in any order make the same range; a sheet index moves it there.
  EXPECT_EQ(eval(u"Sum(RangeRef(2, 2, 1, 1))").number, 10);
  EXPECT_EQ(eval(u"Sum(RangeRef(1, 1, 3, 3))").number, 110);
  setNumber(0, 0, 7, 1);
  EXPECT_EQ(eval(u"Sum(RangeRef(1, 1, 2, 2, 2))").number, 7);
  EXPECT_EQ(eval(u"CellRef(2.9, 1.2)").number, 2);  // indexes are truncated: B1

  // Out of range in any argument is !!Value; an error argument passes through.
  for (const char16_t* bad : {u"CellRef(0, 1)", u"CellRef(257, 1)", u"CellRef(1, 0)", u"CellRef(1, 65537)",
                              u"CellRef(1, 1, 4)", u"CellRef(1, 1, 0)", u"RangeRef(1, 1, 257, 1)",
                              u"RangeRef(1, 1, 1, 65537)", u"RangeRef(0, 1, 1, 1)", u"RangeRef(1, 1, 1, 1, 9)",
                              u"CellRef(\"x\", 1)"})
    EXPECT_TRUE(isError(eval(bad), CellError::Value)) << utf16ToUtf8(bad);
  EXPECT_TRUE(isError(eval(u"CellRef(1/0, 1)"), CellError::Div0));
}

TEST_F(TaskFunctionsTest, ReferencesFromTheActiveCell) {
  select(2, 4, 2, 4, 2, 4);  // C5
  run(u"Set(ActiveCell(), 9) Set(CellRefR(1, -1), 7) Set(CellRefR(-2, 0, 2), 3)");
  EXPECT_EQ(cell(2, 4).number, 9);
  EXPECT_EQ(cell(3, 3).number, 7);     // D4
  EXPECT_EQ(cell(0, 4, 1).number, 3);  // A5 of the second sheet
  EXPECT_TRUE(isError(eval(u"CellRefR(-3, 0)"), CellError::Value));
  EXPECT_TRUE(isError(eval(u"CellRefR(0, -5)"), CellError::Value));
  EXPECT_TRUE(isError(eval(u"CellRefR(254, 0)"), CellError::Value));
  EXPECT_EQ(eval(u"CellRefR(-2, -4)").kind, ValueKind::Empty);  // A1, in range

  // Sel gives the selection before the call and selects the argument, on its sheet.
  setNumber(2, 4, 40);
  EXPECT_EQ(eval(u"Sum(Sel(RangeRef(2, 3, 4, 6, 2)))").number, 40);  // C5 alone was selected
  EXPECT_EQ(book->activeSheetIndex(), 1);
  const Selection& s = sheet(1).selection;
  EXPECT_EQ(s.area(), (Area{2, 1, 5, 3}));
  EXPECT_EQ(s.activeColumn, 1);
  EXPECT_EQ(s.activeRow, 2);
  EXPECT_TRUE(isError(eval(u"Sel(5)"), CellError::Ref));
  EXPECT_EQ(book->activeSheetIndex(), 1);
}

TEST_F(TaskFunctionsTest, SetWritesOneCellAndUndoes) {
  setNumber(0, 0, 1);
  run(u"Set(A1, 2)");
  EXPECT_EQ(cell(0, 0).number, 2);
  run(u"Set(B2, A1 * 10)");  // the value, not the reference
  EXPECT_EQ(cell(1, 1).number, 20);
  EXPECT_EQ(undo.undoDescription(), u"Typing in B2");  // labelled as if typed
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(cell(1, 1).kind, ValueKind::Empty);
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(cell(0, 0).number, 1);
  ASSERT_TRUE(undo.redo(*book));
  EXPECT_EQ(cell(0, 0).number, 2);

  // A formula depending on the cell follows it.
  ASSERT_TRUE(enter(3, 0, u"=A1+1"));
  run(u"Set(A1, 41)");
  EXPECT_EQ(cell(3, 0).number, 42);

  // Anything but one cell of an existing sheet is !!Ref, and nothing is written.
  const size_t entries = undo.size();
  for (const char16_t* bad : {u"Set(A1:B2, 1)", u"Set(5, 1)", u"Set(\"A1\", 1)", u"Set(RangeRef(1, 1, 1, 2), 1)"})
    EXPECT_TRUE(isError(eval(bad), CellError::Ref));
  EXPECT_EQ(undo.size(), entries);
  EXPECT_EQ(cell(0, 0).number, 41);
  EXPECT_EQ(cell(1, 0).kind, ValueKind::Empty);
}

TEST_F(TaskFunctionsTest, SetKeepsACellsTask) {
  setText(1, 0, u"Go#Icon:3#Task:x = 1");
  setText(2, 0, u"Plain");
  run(u"Set(B1, 42) Set(C1, \"New\")");
  EXPECT_EQ(storedText(1, 0), u"42#Icon:3#Task:x = 1");
  EXPECT_EQ(storedText(2, 0), u"New");
  // A task text holding "#Icon:" keeps it whole.
  setText(3, 0, u"T#Task:a = \"#Icon:5\"");
  run(u"Set(D1, \"U\")");
  EXPECT_EQ(storedText(3, 0), u"U#Task:a = \"#Icon:5\"");
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(storedText(3, 0), u"T#Task:a = \"#Icon:5\"");
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(storedText(2, 0), u"Plain");
  EXPECT_EQ(storedText(1, 0), u"42#Icon:3#Task:x = 1");
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(storedText(1, 0), u"Go#Icon:3#Task:x = 1");
}

TEST_F(TaskFunctionsTest, SheetsAndTheWorkbook) {
  EXPECT_EQ(eval(u"SheetsCount()").number, 3);
  EXPECT_EQ(eval(u"ActiveSheet()").number, 1);
  EXPECT_EQ(eval(u"ActiveSheet(3)").number, 1);
  EXPECT_EQ(book->activeSheetIndex(), 2);
  for (const char16_t* bad : {u"ActiveSheet(0)", u"ActiveSheet(4)", u"SheetName(0)", u"SheetName(4)"})
    EXPECT_TRUE(isError(eval(bad), CellError::Value));
  EXPECT_EQ(book->activeSheetIndex(), 2);
  ASSERT_TRUE(book->renameSheet(1, u"Costs"));
  EXPECT_EQ(eval(u"SheetName(2)").text, u"Costs");
  EXPECT_EQ(eval(u"WorkbookName()").text, u"");
  book->fileName = u"/home/me/Documents/Budget.kp";
  EXPECT_EQ(eval(u"WorkbookName()").text, u"Budget.kp");

  // Adding and removing sheets empties the undo list, whose programs name sheets by number.
  run(u"Set(A1, 1)");
  ASSERT_TRUE(undo.canUndo());
  EXPECT_EQ(eval(u"InsertSheet(\"Extra\")").code, 1u);
  EXPECT_FALSE(undo.canUndo());
  ASSERT_EQ(book->sheetCount(), 4);
  EXPECT_EQ(book->sheetAt(3)->name, u"Extra");
  EXPECT_TRUE(isError(eval(u"InsertSheet(\"extra\")"), CellError::Value));  // names differ in more than case
  run(u"Set(A1, 2)");
  ASSERT_TRUE(undo.canUndo());
  EXPECT_EQ(eval(u"DeleteSheet(\"Costs\")").code, 1u);
  EXPECT_FALSE(undo.canUndo());
  EXPECT_EQ(book->sheetCount(), 3);
  EXPECT_EQ(book->findSheet(u"Costs"), -1);
  EXPECT_TRUE(isError(eval(u"DeleteSheet(\"Nowhere\")"), CellError::Value));
  run(u"DeleteSheet(SheetName(1)) DeleteSheet(SheetName(1))");
  EXPECT_EQ(book->sheetCount(), 1);
  EXPECT_TRUE(isError(eval(u"DeleteSheet(SheetName(1))"), CellError::Value));  // never the last one
  EXPECT_EQ(book->activeSheetIndex(), 0);
}

TEST_F(TaskFunctionsTest, LastRowAndColumnWithValues) {
  EXPECT_EQ(eval(u"LastRow()").number, 0);
  EXPECT_EQ(eval(u"LastCol()").number, 0);
  setNumber(2, 9, 1);   // C10
  setNumber(5, 3, 1);   // F4
  ASSERT_TRUE(sheet(0).setCellStyle(8, 20, 3));  // a styled blank counts for neither
  run(u"a = LastRow() b = LastRow(6) c = LastRow(9) d = LastCol() e = LastCol(10) f = LastCol(21)");
  EXPECT_EQ(variable(u"a").number, 10);
  EXPECT_EQ(variable(u"b").number, 4);
  EXPECT_EQ(variable(u"c").number, 0);
  EXPECT_EQ(variable(u"d").number, 6);
  EXPECT_EQ(variable(u"e").number, 3);
  EXPECT_EQ(variable(u"f").number, 0);
  for (const char16_t* bad : {u"LastRow(0)", u"LastRow(257)", u"LastCol(0)", u"LastCol(65537)"})
    EXPECT_TRUE(isError(eval(bad), CellError::Value));
}

TEST_F(TaskFunctionsTest, RowsAndColumnsOfTheSelectionUndo) {
  select(0, 1, MaxColumns - 1, 2, 0, 1);  // rows 2 and 3
  EXPECT_EQ(eval(u"RowHeight(600)").number, 255);
  EXPECT_EQ(sheet(0).rowHeight(2), 600);
  EXPECT_EQ(sheet(0).rowHeight(3), 255);
  // What the model cannot hold is clamped, what the function does not take is refused.
  EXPECT_EQ(eval(u"RowHeight(100000)").number, 600);
  EXPECT_EQ(sheet(0).rowHeight(1), 0x7FFF);
  EXPECT_TRUE(isError(eval(u"RowHeight(100001)"), CellError::Value));
  EXPECT_TRUE(isError(eval(u"RowHeight(-1)"), CellError::Value));
  EXPECT_EQ(sheet(0).rowHeight(1), 0x7FFF);
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(sheet(0).rowHeight(2), 600);
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(sheet(0).rowHeight(1), 255);

  EXPECT_EQ(eval(u"RowHide(TRUE)").code, 0u);
  EXPECT_TRUE(sheet(0).isRowHidden(1));
  EXPECT_TRUE(sheet(0).isRowHidden(2));
  EXPECT_FALSE(sheet(0).isRowHidden(3));
  EXPECT_EQ(eval(u"RowHide(FALSE)").code, 1u);
  EXPECT_FALSE(sheet(0).isRowHidden(2));
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_TRUE(sheet(0).isRowHidden(2));
  EXPECT_TRUE(isError(eval(u"RowHide(\"maybe\")"), CellError::Value));

  select(1, 0, 2, MaxRows - 1, 1, 0);  // columns B and C
  const int32_t standard = sheet(0).columns.columnWidth(1);
  EXPECT_EQ(eval(u"ColWidth(100000)").number, standard);
  EXPECT_EQ(sheet(0).columns.columnWidth(2), 0xFFFF);
  EXPECT_EQ(sheet(0).columns.columnWidth(3), standard);
  EXPECT_TRUE(isError(eval(u"ColWidth(100001)"), CellError::Value));
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(sheet(0).columns.columnWidth(2), standard);
  EXPECT_EQ(eval(u"ColHide(1)").code, 0u);
  EXPECT_TRUE(sheet(0).columns.isColumnHidden(1));
  EXPECT_TRUE(sheet(0).columns.isColumnHidden(2));
  EXPECT_FALSE(sheet(0).columns.isColumnHidden(0));
  EXPECT_EQ(eval(u"ColHide(0)").code, 1u);
  EXPECT_FALSE(sheet(0).columns.isColumnHidden(2));
}

TEST_F(TaskFunctionsTest, ViewSettingsGiveTheValueBefore) {
  EXPECT_EQ(eval(u"Zoom(500)").number, 100);
  EXPECT_EQ(sheet(0).view.zoom, 300u);
  EXPECT_EQ(eval(u"Zoom(1)").number, 300);
  EXPECT_EQ(sheet(0).view.zoom, 10u);
  EXPECT_EQ(eval(u"Zoom(150.7)").number, 10);
  EXPECT_EQ(eval(u"Zoom()").number, 150);
  EXPECT_TRUE(isError(eval(u"Zoom(\"big\")"), CellError::Value));
  EXPECT_EQ(sheet(0).view.zoom, 150u);

  book->modified = true;
  EXPECT_EQ(eval(u"Modified(FALSE)").code, 1u);
  EXPECT_FALSE(book->modified);
  EXPECT_EQ(eval(u"Modified()").code, 0u);

  EXPECT_EQ(eval(u"FullScreen(TRUE)").code, 0u);
  EXPECT_TRUE(taskFullScreen());
  EXPECT_EQ(eval(u"FullScreen()").code, 1u);

  // Titles freeze above and left of the active cell, counted from the first shown.
  SheetView& v = sheet(0).view;
  v.topRow = 1;
  select(3, 4, 3, 4, 3, 4);  // D5
  auto firstShown = [&v] { return std::pair<int, int>(v.leftColumn, v.topRow); };
  EXPECT_EQ(eval(u"FreezeTitles(TRUE)").code, 0u);
  EXPECT_TRUE(v.rowsFrozen && v.columnsFrozen);
  EXPECT_EQ((Area{v.frozenFirstRow, v.frozenFirstColumn, v.frozenLastRow, v.frozenLastColumn}), (Area{1, 0, 3, 2}));
  EXPECT_EQ(firstShown(), std::make_pair(3, 4));
  EXPECT_EQ(eval(u"FreezeTitles()").code, 1u);
  run(u"TopLeftCell(CellRef(1, 1))");  // the scrolled part cannot start inside the titles
  EXPECT_EQ(firstShown(), std::make_pair(3, 4));
  EXPECT_EQ(eval(u"FreezeTitles(FALSE)").code, 1u);
  EXPECT_FALSE(v.rowsFrozen || v.columnsFrozen);
  EXPECT_EQ(firstShown(), std::make_pair(0, 1));
  run(u"TopLeftCell(CellRef(5, 20))");
  EXPECT_EQ(firstShown(), std::make_pair(4, 19));
  run(u"Set(TopLeftCell(), 8)");  // the reference before the call: E20
  EXPECT_EQ(cell(4, 19).number, 8);
  EXPECT_TRUE(isError(eval(u"TopLeftCell(3)"), CellError::Ref));
}

TEST_F(TaskFunctionsTest, ClearingTheSelectionUndoes) {
  setNumber(0, 0, 1);
  setNumber(1, 1, 2);
  setNumber(4, 4, 3);  // outside
  ASSERT_TRUE(sheet(0).setCellStyle(1, 1, 5));
  select(0, 0, 2, 2, 0, 0);
  EXPECT_EQ(eval(u"Clear()").code, 1u);
  EXPECT_EQ(cell(0, 0).kind, ValueKind::Empty);
  EXPECT_EQ(cell(1, 1).kind, ValueKind::Empty);
  EXPECT_EQ(sheet(0).cellPtr(1, 1)->style, 5);  // contents only
  EXPECT_EQ(cell(4, 4).number, 3);
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(cell(0, 0).number, 1);
  EXPECT_EQ(cell(1, 1).number, 2);

  run(u"ClearFormat()");
  EXPECT_LE(sheet(0).cellPtr(1, 1)->style, 0);
  EXPECT_EQ(cell(1, 1).number, 2);
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(sheet(0).cellPtr(1, 1)->style, 5);
}

TEST_F(TaskFunctionsTest, FormatPainterGivesTheSelectionACellsStyle) {
  setNumber(0, 0, 1);
  StyleRecord painted = book->styles[0];
  painted.protection ^= 1;
  painted.borders = 0x2222;
  const int32_t index = book->findOrAddStyle(painted);
  ASSERT_GT(index, 0);
  ASSERT_TRUE(sheet(0).setCellStyle(0, 0, static_cast<int16_t>(index)));
  select(2, 2, 3, 3, 2, 2);  // C3:D4
  EXPECT_EQ(eval(u"FormatPainter(CellRef(1, 1))").code, 1u);
  for (int32_t r : {2, 3})
    for (int32_t c : {2, 3}) EXPECT_TRUE(book->styles[sheet(0).effectiveStyle(c, r)] == painted) << c << "," << r;
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_LE(sheet(0).effectiveStyle(3, 3), 0);
  EXPECT_TRUE(isError(eval(u"FormatPainter(1)"), CellError::Ref));
}

TEST_F(TaskFunctionsTest, CellTaskWritesTheActiveCell) {
  setNumber(1, 1, 5);
  select(1, 1, 1, 1, 1, 1);  // B2
  EXPECT_EQ(eval(u"CellTask(\"Run\", \"x = 1\", 3.7)").code, 1u);
  EXPECT_EQ(storedText(1, 1), u"Run#Icon:3#Task:x = 1");
  std::optional<WorkbookTask> tap = taskForTap(*book, 0, 1, 1);
  ASSERT_TRUE(tap.has_value());
  EXPECT_EQ(tap->definition, u"x = 1");
  // Icons outside 1-98 write none; a Set afterwards keeps the task.
  run(u"CellTask(\"A\", \"y = 2\", 99) Set(CellRef(2, 2), 0)");
  EXPECT_EQ(storedText(1, 1), u"0#Task:y = 2");
  run(u"CellTask(\"B\", \"z = 3\")");
  EXPECT_EQ(storedText(1, 1), u"B#Task:z = 3");
  EXPECT_TRUE(isError(eval(u"CellTask(\"C\", \"q\", 1/0)"), CellError::Div0));
  EXPECT_EQ(storedText(1, 1), u"B#Task:z = 3");
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(storedText(1, 1), u"0#Task:y = 2");
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(storedText(1, 1), u"A#Task:y = 2");
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(storedText(1, 1), u"Run#Icon:3#Task:x = 1");
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(cell(1, 1).number, 5);
}

TEST_F(TaskFunctionsTest, GoalSeekFromATask) {
  setNumber(0, 0, 2);
  ASSERT_TRUE(enter(1, 0, u"=A1*3"));
  recalculateAll(*book);
  EXPECT_EQ(eval(u"GoalSeek(B1, 12, A1)").code, 1u);
  EXPECT_NEAR(cell(0, 0).number, 4, 1e-9);
  EXPECT_NEAR(cell(1, 0).number, 12, 1e-9);
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(cell(0, 0).number, 2);
  EXPECT_EQ(cell(1, 0).number, 6);

  // A goal that cannot be met gives FALSE, not a failed run.
  ASSERT_TRUE(enter(2, 0, u"=A1*A1"));
  EXPECT_EQ(eval(u"GoalSeek(C1, -1, A1)").code, 0u);
  EXPECT_EQ(pendingError(), 0u);
  for (const char16_t* bad : {u"GoalSeek(B1:B2, 1, A1)", u"GoalSeek(B1, 1, 3)", u"GoalSeek(B1, 1, CellRef(1, 1, 2))"})
    EXPECT_TRUE(isError(eval(bad), CellError::Ref));
  EXPECT_TRUE(isError(eval(u"GoalSeek(B1, \"x\", A1)"), CellError::Value));
}

TEST_F(TaskFunctionsTest, ReturnEndsTheRunAndTicksAreSeconds) {
  run(u"a = 1 Return() b = 2");
  EXPECT_EQ(variable(u"a").number, 1);
  EXPECT_EQ(variable(u"b").kind, ValueKind::Empty);  // compiled, never assigned
  const double before = tickCount() * 0.001;
  run(u"ticks = TickCount()");
  const double after = tickCount() * 0.001;
  EXPECT_GE(variable(u"ticks").number, before);
  EXPECT_LE(variable(u"ticks").number, after);
}

TEST_F(TaskFunctionsTest, SaveWritesACopyThroughTheDocument) {
  EXPECT_TRUE(isError(eval(u"Save(\"x.kp\")"), CellError::NA));  // no document installed

  Document document;
  installTaskFunctions(&undo, &document);
  Workbook& docBook = document.workbook();
  setEvalWorkbook(&docBook);
  test::TempFolder folder;
  std::u16string name = folder.file("copy.kp");
  docBook.fileName = u"";
  std::u16string text = u"Set(A1, 5) ok = Save(\"" + name + u"\")";
  EXPECT_EQ(runTask(docBook, text).outcome, TaskOutcome::Done);
  int32_t i = docBook.findTaskVariable(u"ok");
  ASSERT_GE(i, 0);
  EXPECT_EQ(docBook.taskVariables[i].value.kind, ValueKind::Logical);
  EXPECT_EQ(docBook.taskVariables[i].value.u32(), 1u);
  EXPECT_EQ(folder.entries(), 1u);
  EXPECT_TRUE(docBook.fileName.empty());  // the workbook keeps its own name

  // The copy reads back with the value.
  Document reread;
  ASSERT_TRUE(OpenDocument(reread, name));
  EXPECT_EQ(reread.workbook().sheetAt(0)->cellValue(0, 0).number(), 5);
  // A workbook other than the document's has no document to save.
  setEvalWorkbook(book.get());
  EXPECT_TRUE(isError(eval(u"Save(\"y.kp\")"), CellError::NA));
}

}  // namespace
}  // namespace kelp
