// The task-only functions (catalogue rows 250-301) that need no dialog: each pops its
// arguments, acts on the workbook being run and pushes one result. Indexes of sheets,
// columns and rows count from 1; an index out of range gives !!Value, a reference that
// cannot serve gives !!Ref. Every change goes through the command layer (edit/Commands),
// which marks the workbook modified; cell, row and column changes are undoable. Moving
// the selection, the active sheet or the first cell shown is no change, as in the window.
#include "tasks/TaskFunctions.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "edit/Commands.h"
#include "edit/Filter.h"
#include "edit/GoalSeek.h"
#include "files/Document.h"
#include "files/NativeFormat.h"
#include "formula/Catalogue.h"
#include "formula/Evaluator.h"
#include "formula/FormulaText.h"
#include "model/CellTaskText.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/StringTable.h"
#include "platform/System.h"
#include "platform/Text.h"
#include "tasks/ClipboardTask.h"
#include "tasks/SortTask.h"
#include "tasks/Tasks.h"

namespace kelp {

namespace {

UndoList* g_undo = nullptr;
Document* g_document = nullptr;
TaskSaveCheck g_saveCheck;
bool g_fullScreen = false;

// Row heights are 15 bits of twips; widths beyond what a column record of a file holds
// would be cut on the next save.
constexpr int32_t MaxSetting = 100000;
constexpr int32_t MaxRowHeight = 0x7FFF;
constexpr int32_t MaxColumnWidth = 0xFFFF;
constexpr int32_t MinZoom = 10, MaxZoom = 300;
constexpr int TypingLabel = 3074;  // "Typing in %s", as for a cell typed into

Workbook* book() { return evalState().workbook; }

// The list changes are recorded in; without one installed a list of the call's own
// still lets the edit run (and forgets it).
template <typename Fn>
bool recorded(Fn fn) {
  if (g_undo) return fn(*g_undo);
  UndoList scratch;
  return fn(scratch);
}

// A whole-number argument; NaN for a value that is no number (the pending error is set).
double popIndex() {
  double d = popNumber();
  if (evalState().pendingError != 0 || !std::isfinite(d)) return NAN;
  return std::trunc(d);
}

bool inRange(double d, double low, double high) { return d >= low && d <= high; }

// Pushes the pending error, or !!Value when there is none; for a bad argument.
void refuseIndex() {
  if (takePendingError()) pushError(CellError::Value);
}

void pushCellRef(int32_t sheet, int32_t column, int32_t row) {
  CellValue value = cellRefValue(static_cast<uint16_t>(row), static_cast<uint16_t>(column));
  value.kind = ValueKind::SheetCellRef;
  value.firstSheet = value.lastSheet = static_cast<uint8_t>(sheet);
  pushValue(value);
}

void pushAreaRef(int32_t sheet, const Area& area) {
  CellValue value = areaRefValue(area.firstRow, area.firstColumn, area.lastRow, area.lastColumn);
  value.kind = ValueKind::SheetAreaRef;
  value.firstSheet = value.lastSheet = static_cast<uint8_t>(sheet);
  pushValue(value);
}

// The sheet an optional trailing sheet index names (the active sheet without one); a
// bad index sets `bad`, and the caller refuses once it has popped the rest.
int32_t popOptionalSheet(int32_t argumentsWithout, bool& bad) {
  Workbook* workbook = book();
  if (argCount() <= argumentsWithout) return workbook->activeSheetIndex();
  double index = popIndex();
  if (!inRange(index, 1, workbook->sheetCount())) {
    bad = true;
    return -1;
  }
  return static_cast<int32_t>(index) - 1;
}

// A reference to one sheet of this workbook that exists; false with !!Ref pending.
bool popSheetArea(SheetArea& area) {
  if (!popLocalArea(area)) return false;
  if (area.firstSheet != area.lastSheet || !book()->sheetAt(area.firstSheet)) {
    setPendingError(CellError::Ref);
    return false;
  }
  return true;
}

bool singleCell(const SheetArea& area) {
  return area.firstRow == area.lastRow && area.firstColumn == area.lastColumn;
}

// Runs `fn` with `sheet` active, then makes the sheet active before it active again.
template <typename Fn>
auto onSheet(Workbook& workbook, int32_t sheet, Fn fn) {
  const int32_t before = workbook.activeSheetIndex();
  workbook.setActiveSheet(sheet);
  auto result = fn();
  if (workbook.sheetAt(before)) workbook.setActiveSheet(before);
  return result;
}

// Writes a cell as typing does (its own style kept, the workbook recalculated), as one
// undo entry; the active sheet stays the one it was. A text longer than a file holds is
// refused, as it is when typed.
bool writeCell(Workbook& workbook, int32_t sheet, int32_t column, int32_t row, const CellValue& value) {
  Sheet* target = workbook.sheetAt(sheet);
  if (!target) return false;
  if (value.kind == ValueKind::Text && textOf(value).size() > MaxStoredText) {
    setError(Err::TextTooLong);
    return false;
  }
  CellRecord old;
  target->getCell(column, row, old);
  const int32_t active = workbook.activeSheetIndex();
  ProgramBuilder redo, back;
  redo.selectSheet(sheet)
      .restoreCell(column, row, CellRecord{value, old.style})
      .call(CommandFunction::Recalculate)
      .selectSheet(active);
  back.selectSheet(sheet).restoreCell(column, row, old).call(CommandFunction::Recalculate).selectSheet(active);
  CommandProgram redoDone = redo.finish(), backDone = back.finish();
  if (!redoDone.valid() || !backDone.valid()) return false;
  std::u16string cellName, rowText;
  columnName(static_cast<uint16_t>(column), cellName);
  rowName(static_cast<uint16_t>(row), rowText);
  cellName += rowText;
  std::u16string description = formatText(loadString(TypingLabel), cellName);
  return recorded([&](UndoList& undo) {
    return undo.recordUndo(workbook, std::move(backDone), std::move(redoDone), std::move(description), true);
  });
}

// ----- References and the selection.

// 252: Sel([range]).
void fnSel() {
  Workbook* workbook = book();
  SheetArea area{};
  if (argCount() == 1 && !popSheetArea(area)) {
    takePendingError();
    return;
  }
  const int32_t sheetIndex = workbook->activeSheetIndex();
  pushAreaRef(sheetIndex, workbook->activeSheet()->selection.area());
  if (argCount() == 0) return;
  workbook->setActiveSheet(area.firstSheet);
  Selection& s = workbook->activeSheet()->selection;
  s.firstRow = area.firstRow;
  s.lastRow = area.lastRow;
  s.firstColumn = static_cast<int16_t>(area.firstColumn);
  s.lastColumn = static_cast<int16_t>(area.lastColumn);
  s.activeRow = area.firstRow;
  s.activeColumn = static_cast<int16_t>(area.firstColumn);
  s.endRow = area.lastRow;
  s.endColumn = static_cast<int16_t>(area.lastColumn);
}

// 256: Set(reference, value).
void fnSet() {
  CellValue value;
  popResolved(value);
  SheetArea area{};
  if (!popSheetArea(area) || !singleCell(area)) {
    releaseValue(value);
    clearPendingError();
    pushError(CellError::Ref);
    return;
  }
  Workbook& workbook = *book();
  CellTaskParts parts = cellTask(*workbook.sheetAt(area.firstSheet), area.firstColumn, area.firstRow);
  if (parts.hasTask) {
    // The cell keeps its task: the new value's text takes the place of the shown part.
    const CellRecord* cell = workbook.sheetAt(area.firstSheet)->cellPtr(area.firstColumn, area.firstRow);
    std::u16string_view stored = textOf(cell->value);
    std::u16string text;
    valueToText(value, text);
    text += stored.substr(parts.display.size());
    releaseValue(value);
    makeText(value, text);
    if (value.kind != ValueKind::Text) {
      pushError(CellError::Value);
      return;
    }
  }
  bool good = writeCell(workbook, area.firstSheet, area.firstColumn, area.firstRow, value);
  releaseValue(value);
  pushLogical(good);
}

// 257: CellRef(col, row[, sheet]).
void fnCellRef() {
  bool bad = false;
  int32_t sheet = popOptionalSheet(2, bad);
  double row = popIndex(), column = popIndex();
  if (bad || !inRange(column, 1, MaxColumns) || !inRange(row, 1, MaxRows)) return refuseIndex();
  pushCellRef(sheet, static_cast<int32_t>(column) - 1, static_cast<int32_t>(row) - 1);
}

// 258: RangeRef(c1, r1, c2, r2[, sheet]).
void fnRangeRef() {
  bool bad = false;
  int32_t sheet = popOptionalSheet(4, bad);
  double r2 = popIndex(), c2 = popIndex(), r1 = popIndex(), c1 = popIndex();
  if (bad || !inRange(c1, 1, MaxColumns) || !inRange(c2, 1, MaxColumns) || !inRange(r1, 1, MaxRows) ||
      !inRange(r2, 1, MaxRows))
    return refuseIndex();
  Area area{static_cast<uint16_t>(std::min(r1, r2) - 1), static_cast<uint16_t>(std::min(c1, c2) - 1),
            static_cast<uint16_t>(std::max(r1, r2) - 1), static_cast<uint16_t>(std::max(c1, c2) - 1)};
  pushAreaRef(sheet, area);
}

// 300: CellRefR(dcol, drow[, sheet]): from the active cell.
void fnCellRefR() {
  bool bad = false;
  int32_t sheet = popOptionalSheet(2, bad);
  double drow = popIndex(), dcol = popIndex();
  const Selection& s = book()->activeSheet()->selection;
  double column = s.activeColumn + dcol, row = s.activeRow + drow;
  if (bad || !inRange(column, 0, MaxColumns - 1) || !inRange(row, 0, MaxRows - 1)) return refuseIndex();
  pushCellRef(sheet, static_cast<int32_t>(column), static_cast<int32_t>(row));
}

// 259: ActiveCell().
void fnActiveCell() {
  Workbook* workbook = book();
  const Selection& s = workbook->activeSheet()->selection;
  pushCellRef(workbook->activeSheetIndex(), s.activeColumn, s.activeRow);
}

// ----- Sheets and the workbook.

// 260: SheetsCount().
void fnSheetsCount() { pushNumber(book()->sheetCount()); }

// 261: ActiveSheet([index]).
void fnActiveSheet() {
  Workbook* workbook = book();
  const int32_t before = workbook->activeSheetIndex() + 1;
  if (argCount() == 1) {
    double index = popIndex();
    if (!inRange(index, 1, workbook->sheetCount())) return refuseIndex();
    workbook->setActiveSheet(static_cast<int32_t>(index) - 1);
  }
  pushNumber(before);
}

// 280: SheetName(n).
void fnSheetName() {
  Workbook* workbook = book();
  double index = popIndex();
  if (!inRange(index, 1, workbook->sheetCount())) return refuseIndex();
  pushText(workbook->sheetAt(static_cast<int32_t>(index) - 1)->name);
}

// 301: WorkbookName(): the file's name without its folder, empty while untitled.
void fnWorkbookName() {
  std::u16string_view name = book()->fileName;
  size_t slash = name.find_last_of(u"/\\");
  pushText(slash == std::u16string_view::npos ? name : name.substr(slash + 1));
}

// 292: InsertSheet(name): at the end; an empty name takes the next default one.
void fnInsertSheet() {
  std::u16string name = popTextCopy();
  if (!takePendingError()) return;
  Workbook& workbook = *book();
  if (!recorded([&](UndoList& undo) { return insertSheetCommand(workbook, undo, std::move(name)); }))
    return pushError(CellError::Value);
  pushLogical(true);
}

// 293: DeleteSheet(name): never the last sheet.
void fnDeleteSheet() {
  std::u16string name = popTextCopy();
  if (!takePendingError()) return;
  Workbook& workbook = *book();
  const int32_t index = workbook.findSheet(name);
  if (index < 0 || !recorded([&](UndoList& undo) { return deleteSheetCommand(workbook, undo, index); }))
    return pushError(CellError::Value);
  pushLogical(true);
}

// 295: Save(filename): a copy under that name; the workbook keeps its own. A task may
// come with a workbook from anywhere, so a file other than the workbook's own is
// written only when the installed check agrees; a refusal gives false.
void fnSave() {
  std::u16string name = popTextCopy();
  if (!takePendingError()) return;
  if (!g_document || &g_document->workbook() != book() || name.empty()) return pushError(CellError::NA);
  if (g_saveCheck) {
    const std::u16string path = absolutePath(utf16ToUtf8(name));
    const std::u16string own = absolutePath(utf16ToUtf8(book()->fileName));
    if (path != own && !g_saveCheck(path)) return pushLogical(false);
  }
  pushLogical(SaveCopy(*g_document, name));
}

// ----- Used range, rows and columns.

// 264: LastRow([col]): 0 when the sheet (or column) holds no value.
void fnLastRow() {
  const Sheet& sheet = *book()->activeSheet();
  int32_t column = -1;
  if (argCount() == 1) {
    double c = popIndex();
    if (!inRange(c, 1, MaxColumns)) return refuseIndex();
    column = static_cast<int32_t>(c) - 1;
  }
  pushNumber(sheet.lastUsedRow(column) + 1);
}

// 265: LastCol([row]).
void fnLastCol() {
  const Sheet& sheet = *book()->activeSheet();
  if (argCount() == 0) return pushNumber(sheet.lastUsedColumn() + 1);
  double r = popIndex();
  if (!inRange(r, 1, MaxRows)) return refuseIndex();
  pushNumber(sheet.lastValueInRow(static_cast<int32_t>(r) - 1, NoColumn) + 1);
}

// An optional on/off argument: -1 without one, else 0 or 1; -2 after a bad one.
int popSwitch() {
  if (argCount() == 0) return -1;
  uint32_t on = popLogical();
  return evalState().pendingError != 0 ? -2 : static_cast<int>(on);
}

// 266: RowHide([b]).
void fnRowHide() {
  int on = popSwitch();
  if (on == -2) return refuseIndex();
  Workbook& workbook = *book();
  Sheet& sheet = *workbook.activeSheet();
  const bool before = sheet.isRowHidden(sheet.selection.firstRow);
  if (on >= 0) recorded([&](UndoList& undo) { return hideRows(workbook, undo, on == 1); });
  pushLogical(before);
}

// 267: ColHide([b]).
void fnColHide() {
  int on = popSwitch();
  if (on == -2) return refuseIndex();
  Workbook& workbook = *book();
  Sheet& sheet = *workbook.activeSheet();
  const bool before = sheet.columns.isColumnHidden(sheet.selection.firstColumn);
  if (on >= 0) recorded([&](UndoList& undo) { return hideColumns(workbook, undo, on == 1); });
  pushLogical(before);
}

// 268: RowHeight([h]) in twips; 0 hides the rows.
void fnRowHeight() {
  Workbook& workbook = *book();
  Sheet& sheet = *workbook.activeSheet();
  const int32_t before = sheet.rowHeight(sheet.selection.firstRow);
  if (argCount() == 1) {
    double h = popIndex();
    if (!inRange(h, 0, MaxSetting)) return refuseIndex();
    const auto height = static_cast<uint16_t>(std::min<double>(h, MaxRowHeight));
    recorded([&](UndoList& undo) { return setRowHeights(workbook, undo, height); });
  }
  pushNumber(before);
}

// 269: ColWidth([w]) in 1/256 of a digit; 0 hides the columns.
void fnColWidth() {
  Workbook& workbook = *book();
  Sheet& sheet = *workbook.activeSheet();
  const int32_t before = sheet.columns.columnWidth(sheet.selection.firstColumn);
  if (argCount() == 1) {
    double w = popIndex();
    if (!inRange(w, 0, MaxSetting)) return refuseIndex();
    const auto width = static_cast<int32_t>(std::min<double>(w, MaxColumnWidth));
    recorded([&](UndoList& undo) { return setColumnWidths(workbook, undo, width); });
  }
  pushNumber(before);
}

// ----- The view and the workbook's state.

// 270: Modified([b]).
void fnModified() {
  int on = popSwitch();
  if (on == -2) return refuseIndex();
  Workbook& workbook = *book();
  const bool before = workbook.modified;
  if (on >= 0) workbook.modified = on == 1;
  pushLogical(before);
}

// 277: FullScreen([b]).
void fnFullScreen() {
  int on = popSwitch();
  if (on == -2) return refuseIndex();
  const bool before = g_fullScreen;
  if (on >= 0) g_fullScreen = on == 1;
  pushLogical(before);
}

// 262: FreezeTitles([b]): freezes the rows above and the columns left of the active
// cell, counted from the first ones shown; unfreezing scrolls back to where they began.
void fnFreezeTitles() {
  int on = popSwitch();
  if (on == -2) return refuseIndex();
  Sheet& sheet = *book()->activeSheet();
  SheetView v = sheet.view;
  const bool before = v.rowsFrozen || v.columnsFrozen;
  if (on == 0 && before) {
    if (v.rowsFrozen) v.topRow = v.frozenFirstRow;
    if (v.columnsFrozen) v.leftColumn = v.frozenFirstColumn;
    v.rowsFrozen = v.columnsFrozen = false;
  } else if (on == 1 && !before) {
    const Selection& s = sheet.selection;
    if (s.activeRow > v.topRow) {
      v.rowsFrozen = true;
      v.frozenFirstRow = v.topRow;
      v.frozenLastRow = static_cast<uint16_t>(s.activeRow - 1);
      v.topRow = s.activeRow;
    }
    if (s.activeColumn > v.leftColumn) {
      v.columnsFrozen = true;
      v.frozenFirstColumn = v.leftColumn;
      v.frozenLastColumn = static_cast<uint16_t>(s.activeColumn - 1);
      v.leftColumn = static_cast<uint16_t>(s.activeColumn);
    }
  }
  if ((v.rowsFrozen || v.columnsFrozen) != before) setSheetView(*book(), book()->activeSheetIndex(), v);
  pushLogical(before);
}

// 281: TopLeftCell([ref]): the first scrolled cell shown.
void fnTopLeftCell() {
  Workbook& workbook = *book();
  SheetArea area{};
  if (argCount() == 1 && !popSheetArea(area)) {
    takePendingError();
    return;
  }
  SheetView& v = workbook.activeSheet()->view;
  pushCellRef(workbook.activeSheetIndex(), v.leftColumn, v.topRow);
  if (argCount() == 0) return;
  // Frozen titles stay in front: the scrolled part starts after them.
  SheetView& target = workbook.sheetAt(area.firstSheet)->view;
  target.topRow = target.rowsFrozen ? std::max<uint16_t>(area.firstRow, target.frozenLastRow + 1) : area.firstRow;
  target.leftColumn =
      target.columnsFrozen ? std::max<uint16_t>(area.firstColumn, target.frozenLastColumn + 1) : area.firstColumn;
}

// 251: Zoom([m]): percent, kept within 10 to 300.
void fnZoom() {
  Workbook& workbook = *book();
  const uint32_t before = workbook.activeSheet()->view.zoom;
  if (argCount() == 1) {
    double m = popIndex();
    if (std::isnan(m)) return refuseIndex();
    SheetView view = workbook.activeSheet()->view;
    view.zoom = static_cast<uint32_t>(std::clamp<double>(m, MinZoom, MaxZoom));
    setSheetView(workbook, workbook.activeSheetIndex(), view);
  }
  pushNumber(before);
}

// ----- Changes to cells.

// 273: Clear(); 287: ClearFormat(); 298: ClearValidation().
void clearWith(ClearMode mode) {
  Workbook& workbook = *book();
  pushLogical(recorded([&](UndoList& undo) { return clearSelection(workbook, undo, mode); }));
}
void fnClear() { clearWith(ClearMode::Contents); }

// 279: FormatPainter(range): the selection takes every style attribute of the range's
// first cell, as one "Format Cells" undo entry; true when it did.
void fnFormatPainter() {
  SheetArea area{};
  if (!popSheetArea(area)) {
    clearPendingError();
    pushError(CellError::Ref);
    return;
  }
  Workbook& workbook = *book();
  const Sheet& source = *workbook.sheetAt(area.firstSheet);
  const int16_t index = source.effectiveStyle(area.firstColumn, area.firstRow);
  if (index < 0 || index >= workbook.styles.size()) return pushLogical(0);
  const StyleRecord style = workbook.styles[index];
  const FontRecord font = style.font < workbook.fonts.size() ? workbook.fonts[style.font] : FontRecord{};
  pushLogical(recorded([&](UndoList& undo) { return applyWholeStyle(workbook, undo, style, font); }));
}

void fnClearFormat() { clearWith(ClearMode::Formats); }
void fnClearValidation() { clearWith(ClearMode::Validation); }

// 271: InsertCells(colsRows); 272: DeleteCells(colsRows): whole columns (true) or
// rows of the selection.
void moveLinesWith(bool insert) {
  const bool columns = popLogical() != 0;
  if (evalState().pendingError != 0) return refuseIndex();
  Workbook& workbook = *book();
  recorded([&](UndoList& undo) {
    return insert ? insertCells(workbook, undo, columns) : deleteCells(workbook, undo, columns);
  });
  pushValue(emptyValue());
}
void fnInsertCells() { moveLinesWith(true); }
void fnDeleteCells() { moveLinesWith(false); }

// 255: Sort(1By[, asc, 2By, asc, 3By, asc, headerRow, caseSens, sortRows]).
void fnSort() { taskSort(g_undo); }
// 289: Copy(); 290: Paste([contents, format, validation, skipBlanks, onlyResults]).
void fnPaste() { taskPaste(g_undo); }
// 278: Filter(onOff): the AutoFilter on over the selection (a single cell takes the data
// around it), or off. No data around gives !!Value, with error 39 for the window to show;
// turning off a filter that is not on does nothing.
void fnFilter() {
  const bool on = popLogical() != 0;
  if (evalState().pendingError != 0) return refuseIndex();
  Workbook& workbook = *book();
  if (!on && !workbook.activeSheet()->autoFilter.active) return pushValue(emptyValue());
  bool good = recorded([&](UndoList& undo) {
    return on ? filterOnCommand(workbook, undo) : filterOffCommand(workbook, undo);
  });
  if (!good) return pushError(CellError::Value);
  pushValue(emptyValue());
}

// 288: CellTask(text, task[, icon]) into the active cell.
void fnCellTask() {
  double icon = 0;
  if (argCount() == 3) icon = popIndex();
  std::u16string task = popTextCopy();
  std::u16string text = popTextCopy();
  if (std::isnan(icon) || evalState().pendingError != 0) return refuseIndex();
  Workbook& workbook = *book();
  const Selection& s = workbook.activeSheet()->selection;
  const int32_t iconNumber = inRange(icon, 1, 98) ? static_cast<int32_t>(icon) : 0;
  CellValue value;
  makeText(value, makeCellTaskText(text, task, iconNumber));
  if (value.kind != ValueKind::Text) return pushError(CellError::Value);
  bool good = writeCell(workbook, workbook.activeSheetIndex(), s.activeColumn, s.activeRow, value);
  releaseValue(value);
  pushLogical(good);
}

// 294: GoalSeek(setCell, toValue, changingCell): both cells on one sheet.
void fnGoalSeek() {
  SheetArea changing{}, target{};
  bool changingGood = popSheetArea(changing) && singleCell(changing);
  double goal = popNumber();
  bool goalGood = evalState().pendingError == 0 && std::isfinite(goal);
  bool targetGood = changingGood && popSheetArea(target) && singleCell(target);
  if (!changingGood) discard(1);
  if (!changingGood || !targetGood || target.firstSheet != changing.firstSheet) {
    clearPendingError();
    return pushError(CellError::Ref);
  }
  if (!goalGood) return refuseIndex();
  Workbook& workbook = *book();
  const uint32_t codeBefore = pendingError();
  bool found = onSheet(workbook, target.firstSheet, [&] {
    return recorded([&](UndoList& undo) {
      return goalSeekCommand(workbook, undo, changing.firstColumn, changing.firstRow, target.firstColumn,
                             target.firstRow, goal);
    });
  });
  // A task learns of a goal not reached from the result, not from the error state.
  if (!found && pendingError() == static_cast<uint32_t>(Err::IterationLimit) && codeBefore == 0) clearError();
  pushLogical(found);
}

// ----- Running.

// 299: TickCount(): seconds of the monotonic clock.
void fnTickCount() { pushNumber(tickCount() * 0.001); }

// 276: Return(): the task ends after this statement's call.
void fnReturn() {
  stopRunning();
  pushLogical(true);
}

}  // namespace

void installTaskFunctions(UndoList* undo, Document* document) {
  g_undo = undo;
  g_document = document;
  static constexpr FunctionBinding bindings[] = {
      {251, fnZoom},         {252, fnSel},          {256, fnSet},         {257, fnCellRef},
      {258, fnRangeRef},     {259, fnActiveCell},   {260, fnSheetsCount}, {261, fnActiveSheet},
      {262, fnFreezeTitles}, {264, fnLastRow},      {265, fnLastCol},     {266, fnRowHide},
      {267, fnColHide},      {268, fnRowHeight},    {269, fnColWidth},    {270, fnModified},
      {271, fnInsertCells},  {272, fnDeleteCells},
      {255, fnSort},
      {278, fnFilter},
      {289, taskCopy},       {290, fnPaste},
      {273, fnClear},        {276, fnReturn},       {277, fnFullScreen},  {280, fnSheetName},
      {281, fnTopLeftCell},  {287, fnClearFormat},  {288, fnCellTask},    {292, fnInsertSheet},
      {293, fnDeleteSheet},  {294, fnGoalSeek},     {295, fnSave},        {299, fnTickCount},
      {300, fnCellRefR},     {301, fnWorkbookName},
      {298, fnClearValidation}, {279, fnFormatPainter},
  };
  bindFunctions(bindings);
}

void installTaskSaveCheck(TaskSaveCheck check) { g_saveCheck = std::move(check); }

bool taskFullScreen() { return g_fullScreen; }
void setTaskFullScreen(bool on) { g_fullScreen = on; }

}  // namespace kelp
