// Editing cells in scripted headless sessions: typing and committing, the formula bar,
// PointMode, Esc, locked cells, refused entries, undo and redo, and tasks run on a tap.
#include <algorithm>
#include <fstream>
#include <set>
#include <vector>

#include "ShellTestSupport.h"
#include "edit/Validation.h"
#include "format/ValueText.h"
#include "formula/Compiler.h"
#include "shell/EditMenu.h"
#include "shell/FormulaBar.h"
#include "shell/PointMode.h"
#include "platform/Clipboard.h"
#include "tasks/Tasks.h"

namespace kelp::test {
namespace {

// The boxes shown while the loop waited for the script, and every text seen meanwhile.
struct Boxes {
  std::set<WindowId> shown;
  std::vector<std::u16string> texts;
  void attach(Session& s) {
    s.desktop.addIdleHook([this, &s] {
      Window* top = s.desktop.activeTopLevel();
      Window* main = s.app ? s.app->mainWindow() : nullptr;
      if (top && main && top != main && !dynamic_cast<MenuBar*>(top)) shown.insert(top->id());
      for (const DrawnText& t : s.desktop.textLog().texts())
        if (std::find(texts.begin(), texts.end(), t.text) == texts.end()) texts.push_back(t.text);
    });
  }
  size_t count() const { return shown.size(); }
  /// The texts run together, as a long line broken in a box reads.
  std::u16string joined() const {
    std::u16string all;
    for (const std::u16string& t : texts) all += t;
    return all;
  }
  bool saw(std::u16string_view text) const { return std::find(texts.begin(), texts.end(), text) != texts.end(); }
  bool sawPart(std::u16string_view part) const {
    return std::any_of(texts.begin(), texts.end(), [&](const std::u16string& t) { return t.find(part) != t.npos; });
  }
};

std::u16string shown(const Sheet& sheet, int32_t col, int32_t row) {
  std::u16string text;
  if (const CellRecord* cell = sheet.cellPtr(col, row)) (void)editableText(cell->value, text);
  return text;
}

double number(const Sheet& sheet, int32_t col, int32_t row) {
  const CellRecord* cell = sheet.cellPtr(col, row);
  if (!cell) return -1;
  const CellValue& v = effectiveValue(cell->value);
  return v.kind == ValueKind::Number || v.kind == ValueKind::DateTime ? v.number() : -1;
}

void post(Session& s, uint32_t command) { s.desktop.post(s.app->mainWindow()->id(), Msg::Command, command); }

// The texts drawn inside a rectangle of the screen, oldest first.
std::vector<std::u16string> textsIn(Session& s, const Rect& r) {
  std::vector<std::u16string> out;
  for (const DrawnText* t : s.desktop.textLog().within(r)) out.push_back(t->text);
  return out;
}

TEST(CellEditor, TypedEntriesAreReadAndCommitted) {
  Session s;
  s.run(u"", "text 12.5\nkey Enter\ntext 3/15/2025\nkey Enter\ntext hello\nkey Enter\ntext =A1*2\nkey Enter\n");
  const Sheet& sheet = s.sheet();
  EXPECT_EQ(sheet.cellKind(0, 0), ValueKind::Number);
  EXPECT_EQ(number(sheet, 0, 0), 12.5);
  EXPECT_EQ(sheet.cellKind(0, 1), ValueKind::DateTime) << "a date, not a text";
  EXPECT_EQ(number(sheet, 0, 1), 45731);
  EXPECT_EQ(shown(sheet, 0, 2), u"hello");
  EXPECT_EQ(sheet.cellPtr(0, 3)->value.kind, ValueKind::Formula);
  EXPECT_EQ(shown(sheet, 0, 3), u"=A1*2");
  EXPECT_EQ(number(sheet, 0, 3), 25);
  EXPECT_NE(s.text(u"25"), nullptr) << "the result is painted";
  EXPECT_EQ(s.sel().activeRow, 4) << "Move after Enter goes down by default";
  EXPECT_FALSE(s.app->editor().editing());
  EXPECT_EQ(s.desktop.focus(), s.app->mainWindow());
  EXPECT_EQ(s.app->undoList().size(), 4u);
  EXPECT_EQ(s.app->undoList().undoDescription(), u"Typing in A4");
  EXPECT_TRUE(s.book().modified);

  // Typing opens the edit over the cell with arrows that commit and move; the entry
  // replaces what the cell held.
  s.keys("key Up\ntext 7\n");
  ASSERT_TRUE(s.app->editor().editing());
  EXPECT_FALSE(s.app->editor().arrowsMoveCaret());
  EXPECT_EQ(s.app->editor().text(), u"7");
  const Rect editor = s.desktop.focus()->screenRect();
  EXPECT_EQ(editor.left, s.cell(0, 3).left) << "the edit line lies over the cell";
  EXPECT_EQ(editor.top, s.cell(0, 3).top);
  s.keys("key Right\n");
  EXPECT_EQ(number(sheet, 0, 3), 7);
  EXPECT_EQ(s.sel().activeColumn, 1);
  EXPECT_EQ(s.sel().activeRow, 3);

  // F2 opens the cell's text with the caret keys inside it; Back deletes before the caret.
  s.keys("key Left\nkey F2\n");
  ASSERT_TRUE(s.app->editor().editing());
  EXPECT_TRUE(s.app->editor().arrowsMoveCaret());
  EXPECT_EQ(s.app->editor().text(), u"7");
  s.keys("key End\ntext 0\nkey Left\nkey Back\ntext 2\n");
  EXPECT_EQ(s.app->editor().text(), u"20");
  EXPECT_EQ(s.sel().activeColumn, 0) << "Left moved the caret, not the cell";
  s.keys("key Enter\n");
  EXPECT_EQ(number(sheet, 0, 3), 20);

  // Enter on an unchanged text records nothing.
  const size_t entries = s.app->undoList().size();
  s.keys("key Up\nkey Enter\nkey Enter\n");
  EXPECT_EQ(s.app->undoList().size(), entries);
  EXPECT_FALSE(s.app->editor().editing());
}

TEST(CellEditor, MoveAfterEnterFollowsTheSetting) {
  for (uint32_t setting : {MoveAfterEnter::Stay, MoveAfterEnter::Right, MoveAfterEnter::Down}) {
    Session s;
    s.registry.writeDword(KelpRegistryKey, u"MoveEnter", setting);
    s.run(u"", "key Right\nkey Down\ntext 1\nkey Enter\n");
    EXPECT_EQ(number(s.sheet(), 1, 1), 1);
    EXPECT_EQ(s.sel().activeColumn, setting == MoveAfterEnter::Right ? 2 : 1) << setting;
    EXPECT_EQ(s.sel().activeRow, setting == MoveAfterEnter::Down ? 2 : 1) << setting;
  }
}

TEST(CellEditor, FormulaBarShowsAndEditsTheActiveCell) {
  startEditingOnce();
  TempFolder folder;
  auto book = newWorkbook(1);
  {
    UndoList undo;
    ASSERT_TRUE(enterCellValue(*book, undo, 0, 0, u"=B1*2"));
    ASSERT_TRUE(enterCellValue(*book, undo, 1, 0, u"5"));
    ASSERT_TRUE(enterCellValue(*book, undo, 0, 1, u"hello"));
    ASSERT_TRUE(enterCellValue(*book, undo, 0, 2, u"Go#Task:Set(B1, 1)"));
  }
  const std::u16string path = saveWorkbook(std::move(book), folder.file("bar.kp"));
  Session s;
  s.registry.writeDword(KelpRegistryKey, u"FmlBar", 1);
  s.run(path, "");
  const Rect bar = s.app->grid().layout().formulaBar;
  ASSERT_FALSE(bar.empty());
  EXPECT_EQ(textsIn(s, bar), std::vector<std::u16string>{u"=B1*2"}) << "a formula as it is typed";

  // Moving repaints only the selection, and the bar follows it.
  s.keys("key Down\n");
  EXPECT_EQ(textsIn(s, bar), std::vector<std::u16string>{u"hello"});
  s.keys("key Down\n");
  EXPECT_EQ(textsIn(s, bar), std::vector<std::u16string>{u"[Task] Set(B1, 1)"});
  s.keys("key Down\n");
  EXPECT_TRUE(textsIn(s, bar).empty());

  // F2 edits in the bar.
  s.keys("key Ctrl+Home\nkey F2\n");
  ASSERT_TRUE(s.app->editor().editing());
  EXPECT_EQ(s.desktop.focus()->screenRect().top, bar.top) << "the edit line is the bar";
  EXPECT_EQ(s.app->editor().text(), u"=B1*2");
  s.keys("key End\nkey Back\ntext 3\n");
  EXPECT_EQ(s.app->editor().text(), u"=B1*3");
  EXPECT_FALSE(textsIn(s, bar).empty());
  EXPECT_EQ(textsIn(s, bar).back(), u"=B1*3") << "the bar shows the text as typed";
  s.keys("key Enter\n");
  EXPECT_EQ(shown(s.sheet(), 0, 0), u"=B1*3");
  EXPECT_EQ(number(s.sheet(), 0, 0), 15);
  EXPECT_EQ(s.sel().activeRow, 1);
  EXPECT_EQ(textsIn(s, bar), std::vector<std::u16string>{u"hello"});
  s.keys("key Up\n");
  EXPECT_EQ(textsIn(s, bar), std::vector<std::u16string>{u"=B1*3"});
}

TEST(CellEditor, PointingPicksTheRangeAFormulaReads) {
  Session s;
  s.run(u"", "key Down\nkey Down\nkey Right\ntext =Sum(\nkey Down\n");
  CellEditor& editor = s.app->editor();
  ASSERT_TRUE(editor.editing());
  EXPECT_TRUE(editor.pointing());
  EXPECT_TRUE(s.app->pointMode);
  EXPECT_EQ(editor.text(), u"=Sum(B4");
  s.keys("key Down\n");
  EXPECT_EQ(editor.text(), u"=Sum(B5");
  EXPECT_EQ(s.sel().activeRow, 2) << "the selection stays on the cell being edited";
  s.keys("key Shift+Down\n");
  EXPECT_EQ(editor.text(), u"=Sum(B5:B6");
  // The pointer is drawn as a frame around the range.
  const Rect b5 = s.cell(1, 4);
  bool framed = false;
  for (int x = b5.left; x < b5.right; ++x) framed |= s.pixel(x, b5.top) == rgb(0, 96, 255);
  EXPECT_TRUE(framed);

  // An operator leaves PointMode; the next arrow points again after it.
  s.keys("text +\n");
  EXPECT_FALSE(editor.pointing());
  EXPECT_EQ(editor.text(), u"=Sum(B5:B6+");
  s.keys("key Up\nkey Left\n");
  EXPECT_EQ(editor.text(), u"=Sum(B5:B6+A2");
  s.keys("text )\nkey Enter\n");
  EXPECT_FALSE(editor.editing());
  EXPECT_EQ(shown(s.sheet(), 1, 2), u"=Sum(B5:B6+A2)");
  EXPECT_EQ(s.sel().activeRow, 3);
  EXPECT_EQ(s.sel().activeColumn, 1);

  // Pointing far away scrolls; leaving it brings the edited cell's view back.
  s.keys("text =\nkey Down\nkey PageDown\nkey PageDown\nkey PageDown\n");
  EXPECT_TRUE(editor.pointing());
  EXPECT_GT(s.sheet().view.topRow, 10);
  s.keys("text -1\n");
  EXPECT_EQ(s.sheet().view.topRow, 0);
  s.keys("key Esc\n");

  // A formula not waiting for a reference commits on an arrow instead.
  s.keys("text =1+2\nkey Down\n");
  EXPECT_FALSE(editor.editing());
  EXPECT_EQ(number(s.sheet(), 1, 3), 3);
  EXPECT_EQ(s.sel().activeRow, 4);
}

TEST(CellEditor, PointModeTestAndReferenceText) {
  EXPECT_TRUE(formulaWaitsForReference(u"=", 1, u','));
  EXPECT_TRUE(formulaWaitsForReference(u"=Sum(A1,", 8, u','));
  EXPECT_TRUE(formulaWaitsForReference(u"=Sum(A1;", 8, u';'));
  EXPECT_FALSE(formulaWaitsForReference(u"=Sum(A1;", 8, u','));
  EXPECT_TRUE(formulaWaitsForReference(u"=A1+B2", 4, u',')) << "the caret counts, not the end";
  EXPECT_FALSE(formulaWaitsForReference(u"=A1", 3, u','));
  EXPECT_FALSE(formulaWaitsForReference(u"1+", 2, u',')) << "not a formula";
  EXPECT_FALSE(formulaWaitsForReference(u"=A1+", 0, u','));

  auto book = newWorkbook(2);
  Selection range;
  range.firstColumn = range.lastColumn = 1;
  range.firstRow = range.lastRow = 3;
  EXPECT_EQ(pointerReference(*book, 0, 0, range), u"B4");
  range.lastColumn = 27;
  range.lastRow = 65535;
  EXPECT_EQ(pointerReference(*book, 0, 0, range), u"B4:AB65536");
  EXPECT_EQ(pointerReference(*book, 0, 1, range), u"'" + book->sheetAt(1)->name + u"'!B4:AB65536");
}

TEST(CellEditor, EscAndCancelLeaveTheCellAlone) {
  Session s;
  s.run(u"", "text 7\nkey Enter\nkey Up\ntext 99\n");
  ASSERT_TRUE(s.app->editor().editing());
  // The soft keys are the editing bar: Cancel, and the insert dialogs, Insert Name greyed
  // while the workbook has no names.
  MenuBar* bar = s.app->menuBar();
  EXPECT_EQ(bar->key(0).label, u"Cancel");
  for (uint32_t id : {EditingCommand::InsertChar, EditingCommand::InsertFunction, EditingCommand::InsertName,
                      EditingCommand::DefineName}) {
    ASSERT_NE(bar->findItem(id), nullptr);
    EXPECT_EQ(bar->findItem(id)->gray(), id == EditingCommand::InsertName);
  }
  s.keys("key Esc\n");
  EXPECT_FALSE(s.app->editor().editing());
  EXPECT_EQ(number(s.sheet(), 0, 0), 7);
  EXPECT_EQ(s.app->undoList().size(), 1u);
  EXPECT_EQ(s.menuBarText(), u"Cells") << "the main soft keys are back";
  EXPECT_NE(s.text(u"7"), nullptr);

  s.keys("key F2\ntext 5\nsoft1\n");
  EXPECT_FALSE(s.app->editor().editing()) << "Cancel";
  EXPECT_EQ(number(s.sheet(), 0, 0), 7);

  // Esc while pointing cancels the whole edit.
  s.keys("text =\nkey Down\nkey Esc\n");
  EXPECT_FALSE(s.app->editor().editing());
  EXPECT_FALSE(s.app->pointMode);
  EXPECT_EQ(number(s.sheet(), 0, 0), 7);
  EXPECT_EQ(s.app->undoList().size(), 1u);
}

TEST(CellEditor, AnEntryThatCannotBeReadKeepsTheEditOpen) {
  Session s;
  Boxes boxes;
  boxes.attach(s);
  s.run(u"", "text =Sum(1\nkey Enter\nkey Enter\n");
  EXPECT_EQ(boxes.count(), 1u);
  EXPECT_TRUE(boxes.saw(errorMessage(20))) << "\")\" missing";
  EXPECT_EQ(pendingError(), 0u);
  ASSERT_TRUE(s.app->editor().editing());
  EXPECT_EQ(s.app->editor().text(), u"=Sum(1");
  EXPECT_EQ(s.sheet().cellKind(0, 0), ValueKind::Empty);
  s.keys("text )\nkey Enter\n");
  EXPECT_EQ(number(s.sheet(), 0, 0), 1);
}

TEST(CellEditor, AnEntryThatMakesACycleSaysSoOnce) {
  Session s;
  Boxes boxes;
  boxes.attach(s);
  s.run(u"", "text =A1+1\nkey Enter\nkey Enter\n");
  EXPECT_EQ(boxes.count(), 1u);
  EXPECT_TRUE(boxes.saw(u"Circular reference in A1"));
  EXPECT_EQ(number(s.sheet(), 0, 0), 1) << "evaluated once";
  // Later entries leave the same cycle standing and say nothing more.
  s.keys("text 5\nkey Enter\ntext =A2*2\nkey Enter\n");
  EXPECT_EQ(boxes.count(), 1u);
  EXPECT_EQ(number(s.sheet(), 0, 2), 10);
}

TEST(CellEditor, AStopRuleRefusesAnEntry) {
  Session s;
  s.run(u"", "");
  Workbook& book = s.book();
  ValidationRule rule;
  rule.flags = static_cast<uint32_t>(ValidationType::Integer) |
               static_cast<uint32_t>(AlertStyle::Stop) << ValidationFlag::StyleShift | ValidationFlag::ErrorAlert |
               static_cast<uint32_t>(ValidationOperator::Less) << ValidationFlag::OperatorShift;
  rule.formula1 = compileToHandle(book, u"=10", CellPosition{}, false);
  rule.errorTitle = u"Stop box";
  rule.errorMessage = u"Below ten, please.";
  s.sheet().validations.push_back(ValidationEntry{rule, {Area{0, 0, 9, 0}}});
  Boxes boxes;
  boxes.attach(s);
  s.keys("text 50\nkey Enter\nkey Enter\n");
  EXPECT_EQ(boxes.count(), 1u);
  EXPECT_TRUE(boxes.saw(u"Stop box"));
  EXPECT_TRUE(boxes.saw(u"Below ten, please."));
  EXPECT_EQ(s.sheet().cellKind(0, 0), ValueKind::Empty) << "refused";
  EXPECT_EQ(s.app->undoList().size(), 0u);
  ASSERT_TRUE(s.app->editor().editing()) << "the entry stays to be corrected";
  EXPECT_EQ(s.app->editor().text(), u"50");
  s.keys("key Back\nkey Back\ntext 5\nkey Enter\n");
  EXPECT_EQ(number(s.sheet(), 0, 0), 5);
  EXPECT_EQ(boxes.count(), 1u);
}

TEST(CellEditor, ALockedCellShowsOneMessagePerAttempt) {
  startEditingOnce();
  TempFolder folder;
  auto book = newWorkbook(1);
  const int16_t unlocked = makeStyle(*book, [](StyleRecord& r) { r.protection &= ~1; });
  putNumber(*book->sheetAt(0), 0, 0, 4);
  putNumber(*book->sheetAt(0), 1, 0, 6, unlocked);
  book->sheetAt(0)->isProtected = true;
  const std::u16string path = saveWorkbook(std::move(book), folder.file("locked.kp"));

  Session s;
  Boxes boxes;
  boxes.attach(s);
  s.run(path, "text abc\nkey Enter\n");
  EXPECT_EQ(boxes.count(), 1u) << "one attempt, one message";
  EXPECT_TRUE(boxes.saw(u"Locked cell"));
  EXPECT_TRUE(boxes.saw(u"Protection"));
  EXPECT_FALSE(s.app->editor().editing());
  EXPECT_EQ(number(s.sheet(), 0, 0), 4);

  s.keys("key F2\nkey Enter\n");
  EXPECT_EQ(boxes.count(), 2u);
  s.keys("key Enter\nkey Enter\n");
  EXPECT_EQ(boxes.count(), 3u) << "Enter and its character make one attempt";
  s.keys("key Delete\nkey Enter\n");
  EXPECT_EQ(boxes.count(), 4u);
  EXPECT_EQ(number(s.sheet(), 0, 0), 4);
  s.keys("text z\nkey Enter\n");
  EXPECT_EQ(boxes.count(), 5u) << "a later attempt is told again";
  EXPECT_FALSE(s.app->editor().editing());

  // The unlocked cell takes entries.
  s.keys("key Right\ntext 9\nkey Enter\n");
  EXPECT_EQ(boxes.count(), 5u);
  EXPECT_EQ(number(s.sheet(), 1, 0), 9);
  // Clear is greyed on a protected sheet.
  MenuItem* clear = s.app->menuBar()->findItem(MenuCommand::ClearAll);
  ASSERT_NE(clear, nullptr);
  EXPECT_TRUE(clear->gray());
}

TEST(CellEditor, ElevenEditsLeaveTenToUndo) {
  emptyClipboard();
  Session s;
  std::string script;
  for (int i = 1; i <= 11; ++i) script += "text " + std::to_string(i) + "\nkey Enter\n";
  s.run(u"", script);
  UndoList& undo = s.app->undoList();
  EXPECT_EQ(undo.size(), 10u);
  MenuBar& bar = *s.app->menuBar();
  auto item = [&](uint32_t id) { return bar.findItem(id); };
  ASSERT_NE(item(MenuCommand::Undo), nullptr);
  EXPECT_EQ(item(MenuCommand::Undo)->text, u"Undo Typing in A11");
  EXPECT_FALSE(item(MenuCommand::Undo)->gray());
  EXPECT_EQ(item(MenuCommand::Redo)->text, u"Redo");
  EXPECT_TRUE(item(MenuCommand::Redo)->gray());
  // With an empty clipboard only Cut and Copy can be chosen.
  for (uint32_t id : {MenuCommand::Cut, MenuCommand::Copy, MenuCommand::Paste, MenuCommand::PasteSpecial}) {
    ASSERT_NE(item(id), nullptr);
    EXPECT_EQ(item(id)->gray(), id == MenuCommand::Paste || id == MenuCommand::PasteSpecial) << id;
  }

  // Undo through the menu as a user reaches it: Menu, down to Edit, into it, Undo.
  s.keys("soft2\nkey Down\nkey Right\nkey Enter\n");
  EXPECT_EQ(s.sheet().cellKind(0, 10), ValueKind::Empty);
  EXPECT_EQ(item(MenuCommand::Undo)->text, u"Undo Typing in A10");
  EXPECT_EQ(item(MenuCommand::Redo)->text, u"Redo Typing in A11");
  EXPECT_FALSE(item(MenuCommand::Redo)->gray());
  for (int i = 0; i < 12; ++i) post(s, MenuCommand::Undo);
  s.keys("");
  EXPECT_FALSE(undo.canUndo());
  EXPECT_EQ(item(MenuCommand::Undo)->text, u"Undo");
  EXPECT_TRUE(item(MenuCommand::Undo)->gray());
  EXPECT_EQ(item(MenuCommand::Redo)->text, u"Redo Typing in A2");
  post(s, MenuCommand::Redo);
  post(s, MenuCommand::Redo);
  s.keys("");
  EXPECT_EQ(number(s.sheet(), 0, 2), 3);
  EXPECT_EQ(item(MenuCommand::Redo)->text, u"Redo Typing in A4");
  EXPECT_NE(s.text(u"3"), nullptr);

  // A new edit drops what could be redone; a new workbook starts a new history.
  s.keys("text x\nkey Enter\n");
  EXPECT_FALSE(undo.canRedo());
  EXPECT_TRUE(item(MenuCommand::Redo)->gray());
  post(s, MenuCommand::New);
  s.keys("soft2\n");  // no saving
  EXPECT_EQ(undo.size(), 0u);
  EXPECT_TRUE(item(MenuCommand::Undo)->gray());
}

TEST(CellEditor, CutAndPasteMoveABlockAndFormulasFollow) {
  emptyClipboard();
  Session s;
  s.run(u"", "text 1\nkey Enter\ntext 2\nkey Enter\nkey Ctrl+Home Right\ntext =Sum(A1:A2)\nkey Enter\n");
  EXPECT_TRUE(s.app->menuBar()->findItem(MenuCommand::Paste)->gray()) << "nothing to paste yet";
  s.keys("key Ctrl+Home\n");
  post(s, MenuCommand::SelectCells);
  s.keys("key Down\n");  // A1:A2
  EXPECT_EQ(s.sel().lastRow, 1);
  post(s, MenuCommand::Cut);  // which ends the extending, as menu commands do
  s.keys("key Down Down Down Right Right\n");  // to C4
  post(s, MenuCommand::Paste);
  s.keys("");
  EXPECT_EQ(s.sheet().cellKind(0, 0), ValueKind::Empty);
  EXPECT_EQ(number(s.sheet(), 2, 3), 1);
  EXPECT_EQ(number(s.sheet(), 2, 4), 2);
  EXPECT_EQ(shown(s.sheet(), 1, 0), u"=Sum(C4:C5)");
  EXPECT_EQ(number(s.sheet(), 1, 0), 3);
  EXPECT_EQ(s.app->undoList().undoDescription(), u"Paste");
  post(s, MenuCommand::Undo);
  s.keys("");
  EXPECT_EQ(shown(s.sheet(), 1, 0), u"=Sum(A1:A2)");
  EXPECT_EQ(number(s.sheet(), 0, 1), 2);

  // Text another program copied is read as typed entries, a tab to the next cell.
  ASSERT_TRUE(setClipboardText(u"7\t=C1*2\r\n8"));
  s.keys("key Ctrl+Home Down Down Down Down Down Down Down Down Down\n");
  EXPECT_FALSE(s.app->menuBar()->findItem(MenuCommand::Paste)->gray());
  post(s, MenuCommand::Paste);
  s.keys("");
  EXPECT_EQ(number(s.sheet(), 0, 9), 7);
  EXPECT_EQ(shown(s.sheet(), 1, 9), u"=C1*2");
  EXPECT_EQ(number(s.sheet(), 0, 10), 8);
  emptyClipboard();
}

TEST(CellEditor, ClearAndSave) {
  TempFolder folder;
  auto book = newWorkbook(1);
  putNumber(*book->sheetAt(0), 0, 0, 4);
  putNumber(*book->sheetAt(0), 0, 1, 5);
  const std::u16string path = saveWorkbook(std::move(book), folder.file("save.kp"));
  {
    Session s;
    s.run(path, "");
    post(s, MenuCommand::SelectCells);
    s.keys("key Down\n");
    post(s, MenuCommand::ClearContents);
    s.keys("");
    EXPECT_EQ(s.sheet().cellKind(0, 0), ValueKind::Empty);
    EXPECT_EQ(s.sheet().cellKind(0, 1), ValueKind::Empty);
    EXPECT_EQ(s.app->undoList().undoDescription(), u"Clear");
    post(s, MenuCommand::Undo);
    s.keys("key Ctrl+Home\nkey Delete\n");
    EXPECT_EQ(s.sheet().cellKind(0, 0), ValueKind::Empty) << "Delete clears the selection";
    EXPECT_EQ(number(s.sheet(), 0, 1), 5);

    s.keys("text 42\nkey Enter\n");
    EXPECT_FALSE(s.app->menuBar()->findItem(MenuCommand::Save)->gray());
    post(s, MenuCommand::Save);
    s.keys("");
    EXPECT_FALSE(s.book().modified);
  }
  Session check;
  check.run(path, "");
  EXPECT_EQ(number(check.sheet(), 0, 0), 42);
  EXPECT_EQ(number(check.sheet(), 0, 1), 5);
}

TEST(CellEditor, AKeyScriptTypesAFormulaByPointingAndSaves) {
  startEditingOnce();
  TempFolder folder;
  auto book = newWorkbook(1);
  putText(*book->sheetAt(0), 0, 0, u"Rent");
  putText(*book->sheetAt(0), 0, 1, u"Food");
  putText(*book->sheetAt(0), 0, 2, u"Books");
  const std::u16string path = saveWorkbook(std::move(book), folder.file("budget.kp"));
  {
    Session s;
    s.run(path,
          "key Right\ntext 950\nkey Enter\ntext 320.5\nkey Enter\ntext 42\nkey Enter\n"
          "text =Sum(\nkey Up\nkey Shift+Up Shift+Up\ntext )\nkey Enter\n"
          "soft2\nkey Enter\nkey Down Down\nkey Enter\n");
    EXPECT_FALSE(s.book().modified) << "Menu > File > Save wrote the file";
  }
  Session check;
  check.run(path, "");
  EXPECT_EQ(shown(check.sheet(), 1, 3), u"=Sum(B1:B3)");
  EXPECT_EQ(number(check.sheet(), 1, 3), 1312.5);
}

TEST(TaskTriggers, ACellTaskAsksForConsentAndRunsOnlyAfterYes) {
  startEditingOnce();
  TempFolder folder;
  auto book = newWorkbook(1);
  putText(*book->sheetAt(0), 0, 0, u"Go#Task:Set(B1, B1+1)");
  const std::u16string path = saveWorkbook(std::move(book), folder.file("task.kp"));

  Session s;
  Boxes boxes;
  boxes.attach(s);
  s.run(path, "key Enter\nkey Enter\n");  // the action key answers No
  EXPECT_EQ(boxes.count(), 1u);
  EXPECT_TRUE(boxes.sawPart(u"Run its tasks?"));
  EXPECT_EQ(s.sheet().cellKind(1, 0), ValueKind::Empty);
  EXPECT_FALSE(s.app->editor().editing()) << "a cell with a task does not open for editing";
  s.keys("key Enter\n");
  EXPECT_EQ(boxes.count(), 1u) << "No holds while the workbook is open";
  EXPECT_EQ(s.sheet().cellKind(1, 0), ValueKind::Empty);

  // Opening the workbook again asks again; Yes runs the task and holds too.
  s.app->openDocument(path);
  s.keys("key Enter\nsoft1\n");
  EXPECT_EQ(boxes.count(), 2u);
  EXPECT_EQ(number(s.sheet(), 1, 0), 1);
  s.keys("key Enter\n");
  EXPECT_EQ(boxes.count(), 2u);
  EXPECT_EQ(number(s.sheet(), 1, 0), 2);
  EXPECT_EQ(s.app->undoList().undoDescription(), u"Typing in B1") << "the task's change can be undone";

  // The Yes belongs to that workbook, whatever way the next one comes in.
  auto next = newWorkbook(1);
  putText(*next->sheetAt(0), 0, 0, u"Go#Task:Set(B1, B1+1)");
  s.app->undoList().clear();
  s.app->document().replaceWorkbook(std::move(next));
  s.keys("key Enter\nkey Enter\n");  // asked again; the action key answers No
  EXPECT_EQ(boxes.count(), 3u);
  EXPECT_EQ(s.sheet().cellKind(1, 0), ValueKind::Empty);
}

// A task of the workbook that runs on each new value in C1.
void watchC1(Workbook& book, std::u16string_view name, std::u16string_view definition) {
  WorkbookTask task;
  task.name = name;
  task.definition = definition;
  task.runOn = TaskRunsOnNewValue;
  setTaskArea(task, 0, 0, Area{0, 2, 0, 2});
  book.tasks.push_back(task);
}

TEST(TaskTriggers, ANewValueRunsItsWatchingTask) {
  startEditingOnce();
  TempFolder folder;
  auto book = newWorkbook(1);
  watchC1(*book, u"Double", u"Set(D1, C1*2)");
  const std::u16string path = saveWorkbook(std::move(book), folder.file("watch.kp"));
  Session s;
  Boxes boxes;
  boxes.attach(s);
  s.run(path, "key Right\nkey Right\ntext 4\nkey Enter\nsoft1\n");
  EXPECT_EQ(boxes.count(), 1u);
  EXPECT_EQ(number(s.sheet(), 2, 0), 4);
  EXPECT_EQ(number(s.sheet(), 3, 0), 8);
  s.keys("key Up\ntext 5\nkey Enter\n");
  EXPECT_EQ(number(s.sheet(), 3, 0), 10);
  EXPECT_EQ(boxes.count(), 1u);
}

TEST(TaskTriggers, EnterOnAListCellPicksAnEntryAndRunsTheCellsTask) {
  startEditingOnce();
  TempFolder folder;
  auto book = newWorkbook(1);
  putText(*book->sheetAt(0), 4, 0, u"Low");
  putText(*book->sheetAt(0), 4, 1, u"Mid");
  putText(*book->sheetAt(0), 4, 2, u"High");
  putText(*book->sheetAt(0), 2, 0, u"Mid");
  ValidationRule rule;
  rule.flags = static_cast<uint32_t>(ValidationType::List);
  rule.formula1 = compileToHandle(*book, u"=$E$1:$E$3", CellPosition{}, false);
  book->sheetAt(0)->validations.push_back(ValidationEntry{rule, {Area{0, 2, 0, 2}}});
  watchC1(*book, u"Echo", u"Set(D1, C1)");
  const std::u16string path = saveWorkbook(std::move(book), folder.file("list.kp"));
  Session s;
  Boxes boxes;
  boxes.attach(s);
  // The list opens on Mid, the cell's text; Down picks High, and the task asks first.
  s.run(path, "key Right Right\nkey Enter\nkey Down\nkey Enter\nsoft1\n");
  EXPECT_FALSE(s.app->editor().editing());
  EXPECT_EQ(textOf(s.sheet().cellValue(2, 0)), u"High");
  EXPECT_EQ(textOf(s.sheet().cellValue(3, 0)), u"High");
  EXPECT_EQ(boxes.count(), 2u);  // the list, then the question before the task
  EXPECT_TRUE(boxes.sawPart(u"Run its tasks?"));
  // Back closes the list and leaves the cell as it was.
  s.keys("key Enter\nkey Up\nkey Back\n");
  EXPECT_EQ(textOf(s.sheet().cellValue(2, 0)), u"High");
}

TEST(TaskTriggers, SavingToAnotherFileAsksEveryTime) {
  startEditingOnce();
  TempFolder folder;
  const std::string copy = folder.file("copy.kp");
  auto book = newWorkbook(1);
  putText(*book->sheetAt(0), 0, 0, u"Copy#Task:Save(\"" + utf8ToUtf16(copy) + u"\")");
  const std::u16string path = saveWorkbook(std::move(book), folder.file("own.kp"));

  Session s;
  Boxes boxes;
  boxes.attach(s);
  s.run(path, "key Enter\nsoft1\nsoft2\n");  // consent, then No to the save
  EXPECT_EQ(boxes.count(), 2u);
  EXPECT_TRUE(boxes.joined().find(utf8ToUtf16(copy)) != std::u16string::npos) << "the box shows the path";
  EXPECT_FALSE(std::filesystem::exists(copy));
  s.keys("key Enter\nsoft1\n");
  EXPECT_EQ(boxes.count(), 3u);
  EXPECT_TRUE(std::filesystem::exists(copy));
  std::filesystem::remove(copy);
  s.keys("key Enter\nkey Enter\n");  // asked again; the action key says No
  EXPECT_EQ(boxes.count(), 4u);
  EXPECT_FALSE(std::filesystem::exists(copy));
}

TEST(CellEditor, FormulaBarContentsOfEachKind) {
  startEditingOnce();
  auto book = newWorkbook(1);
  Sheet& sheet = *book->sheetAt(0);
  UndoList undo;
  ASSERT_TRUE(enterCellValue(*book, undo, 0, 0, u"=1/0"));
  putText(sheet, 1, 0, u"Pic#Icon:3#Task:ShowPicture(\"a.png\")");
  putText(sheet, 2, 0, u"plain # text");
  EXPECT_EQ(formulaBarContents(sheet, 0, 0), u"=1/0") << "the formula, not its error";
  EXPECT_EQ(formulaBarContents(sheet, 1, 0), u"[Task] ShowPicture(\"a.png\")");
  EXPECT_EQ(formulaBarContents(sheet, 2, 0), u"plain # text");
  EXPECT_EQ(formulaBarContents(sheet, 3, 0), u"");
}

}  // namespace
}  // namespace kelp::test
