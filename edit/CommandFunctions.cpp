// The internal command functions that command programs call (catalogue rows 207-249).
// Each pops the arguments it needs (the last pushed first), changes the active sheet
// of the workbook being run and pushes an empty value, or !!Val for bad arguments.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "edit/CommandSupport.h"
#include "edit/Commands.h"
#include "edit/Fill.h"
#include "edit/Fit.h"
#include "edit/Filter.h"
#include "edit/GoalSeek.h"
#include "edit/MoveAdjust.h"
#include "edit/Sort.h"
#include "edit/Validation.h"
#include "formula/Catalogue.h"
#include "formula/Evaluator.h"
#include "formula/Recalc.h"
#include "functions/Engine.h"
#include "model/HandlePool.h"
#include "model/Style.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/StringTable.h"

namespace kelp {

namespace {

using command::activeSheet;
using command::book;
using command::done;
using command::refuse;


bool validColumn(int32_t column) { return column >= 0 && column < MaxColumns; }
bool validRow(int32_t row) { return row >= 0 && row < MaxRows; }
bool validStyle(int32_t style) { return style >= -1 && style <= INT16_MAX; }

template <typename Fn>
void forEachSlot(Sheet& sheet, const Area& area, Fn fn) {
  for (int32_t r = sheet.nextRow(area.firstRow - 1); r <= area.lastRow && r < NoRow; r = sheet.nextRow(r)) {
    Row* row = sheet.rowAt(r);
    int32_t end = std::min<int32_t>(row->cells.size() - 1, area.lastColumn);
    for (int32_t c = std::max<int32_t>(row->firstColumn(), area.firstColumn); c <= end; ++c) fn(c, r, row->cells[c]);
  }
}

// 207: column, row, style, value.
void cmdSetCell() {
  CellValue value;
  popValue(value);
  int32_t style = popInteger();
  int32_t row = popInteger();
  int32_t column = popInteger();
  Sheet* sheet = activeSheet();
  bool storable = value.kind == ValueKind::Empty || value.kind == ValueKind::Logical ||
                  value.kind == ValueKind::Error || value.kind == ValueKind::Text || value.kind == ValueKind::Number ||
                  value.kind == ValueKind::DateTime || value.kind == ValueKind::Formula ||
                  value.kind == ValueKind::Integer;
  if (!sheet || !storable || !validColumn(column) || !validRow(row) || !validStyle(style)) {
    releaseValue(value);
    refuse();
    return;
  }
  if (value.kind == ValueKind::Integer) value = numberValue(value.i32());
  sheet->setCell(column, row, CellRecord{value, static_cast<int16_t>(style)});
  done();
}

// 208: sheet.
void cmdSelectSheet() {
  int32_t index = popInteger();
  Workbook* workbook = book();
  if (!workbook || !workbook->sheetAt(index)) return refuse();
  workbook->setActiveSheet(index);
  done();
}

// A row becomes visible without being created: an absent row is never hidden.
void setRowHidden(Sheet& sheet, int32_t row, bool hidden) {
  if (hidden || sheet.rowExists(row)) sheet.setRowHidden(row, hidden);
}

// 209: row, height, explicit, hidden.
void cmdRowHeight() {
  bool hidden = popLogical();
  bool isExplicit = popLogical();
  int32_t height = popInteger();
  int32_t row = popInteger();
  Sheet* sheet = activeSheet();
  if (!sheet || !validRow(row) || height < 0 || height > 0x7FFF) return refuse();
  // The default height on a row that reads as absent changes nothing, as for an absent row.
  if (height != sheet->defaultRowHeight || !isPlainRow(*sheet, row))
    sheet->setRowHeight(row, static_cast<uint16_t>(height), isExplicit);
  setRowHidden(*sheet, row, hidden);
  done();
}

// 210: default height, flag. The sheet keeps no flag word yet, so the flag is read
// and not stored.
void cmdDefaultRowHeight() {
  popLogical();
  int32_t height = popInteger();
  Sheet* sheet = activeSheet();
  if (!sheet || height < 0 || height > 0x7FFF) return refuse();
  sheet->defaultRowHeight = static_cast<uint16_t>(height);
  done();
}

// 211: row, hidden.
void cmdHideRow() {
  bool hidden = popLogical();
  int32_t row = popInteger();
  Sheet* sheet = activeSheet();
  if (!sheet || !validRow(row)) return refuse();
  setRowHidden(*sheet, row, hidden);
  done();
}

// 212: column, width.
void cmdColumnWidth() {
  int32_t width = popInteger();
  int32_t column = popInteger();
  Sheet* sheet = activeSheet();
  if (!sheet || !validColumn(column) || width < 0) return refuse();
  sheet->columns.applyColumnWidth(column, column, width);
  done();
}

// 213 and 242: column, hidden.
void cmdHideColumn() {
  bool hidden = popLogical();
  int32_t column = popInteger();
  Sheet* sheet = activeSheet();
  if (!sheet || !validColumn(column)) return refuse();
  sheet->columns.setColumnsHidden(column, column, hidden);
  done();
}

void changeSelectionStyle(const StyleRecord& style, uint32_t styleMask, const FontRecord& font, uint32_t fontMask) {
  Sheet* sheet = activeSheet();
  if (!sheet) return refuse();
  book()->applyStyleChange(*sheet, style, styleMask, font, fontMask);
  done();
}

// 214: bold.
void cmdBold() {
  FontRecord font{};
  font.weight = popLogical() ? 700 : 400;
  changeSelectionStyle(StyleRecord{}, 0, font, FontField::Weight);
}

// 215: italic.
void cmdItalic() {
  FontRecord font{};
  font.options = popLogical() ? FontOption::Italic : 0;
  changeSelectionStyle(StyleRecord{}, 0, font, FontField::Italic);
}

// 216: underline.
void cmdUnderline() {
  FontRecord font{};
  font.underline = popLogical() ? 1 : 0;
  changeSelectionStyle(StyleRecord{}, 0, font, FontField::Underline);
}

// 217: row, height, flags, style.
void cmdRestoreRow() {
  int32_t style = popInteger();
  int32_t flags = popInteger();
  int32_t height = popInteger();
  int32_t row = popInteger();
  Sheet* sheet = activeSheet();
  if (!sheet || !validRow(row) || !validStyle(style) || height < 0 || height > 0xFFFF || flags < 0 || flags > 0xFFFF)
    return refuse();
  // A default row needs no record; one that exists takes the values as they are.
  if (!sheet->rowExists(row) && height == sheet->defaultRowHeight && flags == 0 && style <= 0) return done();
  Row* r = sheet->ensureRow(row);
  if (!r) return refuse();
  r->height = static_cast<uint16_t>(height);
  r->flags = static_cast<uint16_t>(flags);
  r->style = static_cast<int16_t>(style);
  done();
}

// 218: column, width, style, flags.
void cmdRestoreColumn() {
  int32_t flags = popInteger();
  int32_t style = popInteger();
  int32_t width = popInteger();
  int32_t column = popInteger();
  Sheet* sheet = activeSheet();
  if (!sheet || !validColumn(column) || !validStyle(style) || flags < 0 || flags > 0xFFFF) return refuse();
  sheet->columns.copyColumnRecord(column, column,
                                  ColumnRecord{width, static_cast<int16_t>(style), static_cast<uint16_t>(flags)});
  done();
}

// 219: first column, last column, first row, last row.
void cmdSelect() {
  int32_t lastRow = popInteger();
  int32_t firstRow = popInteger();
  int32_t lastColumn = popInteger();
  int32_t firstColumn = popInteger();
  Sheet* sheet = activeSheet();
  if (!sheet || !validRow(firstRow) || !validRow(lastRow) || !validColumn(firstColumn) || !validColumn(lastColumn))
    return refuse();
  Selection& s = sheet->selection;
  s.firstRow = static_cast<uint16_t>(std::min(firstRow, lastRow));
  s.lastRow = static_cast<uint16_t>(std::max(firstRow, lastRow));
  s.firstColumn = static_cast<int16_t>(std::min(firstColumn, lastColumn));
  s.lastColumn = static_cast<int16_t>(std::max(firstColumn, lastColumn));
  // The active cell stays where it is when it lies inside, so undo keeps the user's place.
  const Area area = s.area();
  if (!area.contains(s.activeColumn, s.activeRow)) {
    s.activeRow = s.firstRow;
    s.activeColumn = s.firstColumn;
  }
  if (!area.contains(s.endColumn, s.endRow)) {
    s.endRow = s.lastRow;
    s.endColumn = s.lastColumn;
  }
  done();
}

// 220: the eleven words of a style record, then the font's reserved byte, underline,
// options, height, colour, weight, escapement, family, charset and face name; with two
// more arguments, the style and font masks of the fields that change (all without).
void cmdWholeStyle() {
  constexpr uint32_t everyStyleField = (1u << 21) - 1;
  constexpr uint32_t everyFontField = (1u << 10) - 1;
  uint32_t styleMask = everyStyleField, fontMask = everyFontField;
  if (argCount() == 23) {
    fontMask = static_cast<uint32_t>(popInteger()) & everyFontField;
    styleMask = static_cast<uint32_t>(popInteger()) & everyStyleField;
  }
  std::u16string face = popTextCopy();
  int32_t fields[9];
  for (int i = 8; i >= 0; --i) fields[i] = popInteger();
  uint16_t words[11];
  for (int i = 10; i >= 0; --i) words[i] = static_cast<uint16_t>(popInteger());
  StyleRecord style{};
  std::memcpy(&style, words, sizeof words);
  FontRecord font{};
  font.reserved = static_cast<uint8_t>(fields[0]);
  font.underline = static_cast<uint8_t>(fields[1]);
  font.options = static_cast<uint16_t>(fields[2]);
  font.height = static_cast<uint16_t>(fields[3]);
  font.color = static_cast<uint16_t>(fields[4]);
  font.weight = static_cast<uint16_t>(fields[5]);
  font.escapement = static_cast<uint16_t>(fields[6]);
  font.family = static_cast<uint8_t>(fields[7]);
  font.charset = static_cast<uint8_t>(fields[8]);
  font.setFace(face);
  changeSelectionStyle(style, styleMask, font, fontMask);
}

void resetOwnStyles(Sheet& sheet, const Area& area) {
  if (area.firstColumn == 0 && area.lastColumn == MaxColumns - 1)
    for (int32_t r = sheet.nextRow(area.firstRow - 1); r <= area.lastRow && r < NoRow; r = sheet.nextRow(r))
      if (sheet.rowStyle(r) > 0) sheet.setRowStyle(r, 0);
  if (area.firstRow == 0 && area.lastRow == MaxRows - 1)
    for (int32_t c = area.firstColumn; c <= area.lastColumn; ++c)
      if (sheet.columns.columnStyle(c) > 0) sheet.columns.setColumnStyles(c, c, 0);
}

// Merged areas, the rules of the selected cells and used cells of the selection go.
void clearEverything(Sheet& sheet, const Area& area) {
  sheet.unmergeWithin(area);
  clearRulesIn(sheet, area);
  forEachSlot(sheet, area, [&](int32_t c, int32_t r, const CellRecord& cell) {
    if (cell.value.kind != ValueKind::Empty || cell.style > 0) sheet.setCell(c, r, blankCell());
  });
}

// 221.
void cmdClearAll() {
  Sheet* sheet = activeSheet();
  if (!sheet) return refuse();
  clearEverything(*sheet, sheet->selection.area());
  done();
}

// 225: mode, 0 everything, 1 contents, 2 formats, 3 validation rules.
void cmdClear() {
  int32_t mode = popInteger();
  Sheet* sheet = activeSheet();
  if (!sheet || mode < 0 || mode > 3) return refuse();
  const Area area = sheet->selection.area();
  switch (mode) {
    case 0:
      clearEverything(*sheet, area);
      resetOwnStyles(*sheet, area);
      break;
    case 1:
      forEachSlot(*sheet, area, [&](int32_t c, int32_t r, const CellRecord& cell) {
        if (cell.value.kind != ValueKind::Empty) sheet->setCell(c, r, CellRecord{emptyValue(), cell.style});
      });
      break;
    case 2:
      forEachSlot(*sheet, area, [&](int32_t c, int32_t r, const CellRecord& cell) {
        if (cell.style > 0) sheet->setCellOwned(c, r, CellRecord{cell.value, -1}, false);
      });
      resetOwnStyles(*sheet, area);
      break;
    default:
      clearRulesIn(*sheet, area);
      break;
  }
  done();
}

// 223 and 224: use lists. A selection touching a merged area is refused with error 53.
void fillFromFirstCell(FillDirection direction) {
  bool useLists = popLogical();
  Sheet* sheet = activeSheet();
  if (!sheet) return refuse();
  const Area area = sheet->selection.area();
  if (sheet->anyMergedOverlap(area)) {
    setError(Err::FillMerged);
    return refuse();
  }
  fillFromFirst(*sheet, area, direction, useLists);
  done();
}
void cmdFillRight() { fillFromFirstCell(FillDirection::Right); }
void cmdFillDown() { fillFromFirstCell(FillDirection::Down); }

// 227: first column, last column, first row, last row of the block repeated over the
// selection.
void cmdFillBlock() {
  int32_t lastRow = popInteger();
  int32_t firstRow = popInteger();
  int32_t lastColumn = popInteger();
  int32_t firstColumn = popInteger();
  Sheet* sheet = activeSheet();
  if (!sheet || !validRow(firstRow) || !validRow(lastRow) || !validColumn(firstColumn) || !validColumn(lastColumn) ||
      firstRow > lastRow || firstColumn > lastColumn)
    return refuse();
  const Area source{static_cast<uint16_t>(firstRow), static_cast<uint16_t>(firstColumn),
                    static_cast<uint16_t>(lastRow), static_cast<uint16_t>(lastColumn)};
  const Area selection = sheet->selection.area();
  fillArea(*sheet, source, selection, selection);
  done();
}

// 234: has stop, stop, step, date unit, type, direction.
void cmdSeries() {
  int32_t direction = popInteger();
  int32_t type = popInteger();
  int32_t dateUnit = popInteger();
  double step = popNumber();
  double stop = popNumber();
  bool hasStop = popLogical();
  Sheet* sheet = activeSheet();
  // Autofill is the command's choice between fills, never a series of its own.
  if (!sheet || direction < 0 || direction > 1 || type < 0 || type > 2 || dateUnit < 0 || dateUnit > 3 ||
      !std::isfinite(step) || !std::isfinite(stop))
    return refuse();
  const Area area = sheet->selection.area();
  if (sheet->anyMergedOverlap(area)) {
    setError(Err::FillMerged);
    return refuse();
  }
  SeriesSettings settings;
  settings.direction = static_cast<FillDirection>(direction);
  settings.type = static_cast<SeriesType>(type);
  settings.dateUnit = static_cast<DateUnit>(dateUnit);
  settings.step = step;
  settings.stop = stop;
  settings.hasStop = hasStop;
  fillSeries(*sheet, area, settings);
  done();
}

// 228.
void cmdRecalculate() {
  Workbook* workbook = book();
  if (!workbook) return refuse();
  recalculateAll(*workbook);
  done();
}

// 229 and 230: columns (true) or rows. A failure to make room (error 15) is pending.
void moveSelectedLines(bool insert) {
  bool columns = popLogical();
  Workbook* workbook = book();
  if (!workbook || !activeSheet()) return refuse();
  moveLines(*workbook, columns, insert, moveRecorder());
  done();
}
void cmdInsertCells() { moveSelectedLines(true); }
void cmdDeleteCells() { moveSelectedLines(false); }

// 231: destination area, source area, each first row, first column, last row, last
// column: adjusts the references after the cells moved by cut and paste.
void cmdMoveAdjust() {
  int32_t v[8];
  for (int i = 8; i-- > 0;) v[i] = popInteger();
  const Area dest{static_cast<uint16_t>(v[0]), static_cast<uint16_t>(v[1]), static_cast<uint16_t>(v[2]),
                  static_cast<uint16_t>(v[3])};
  const Area source{static_cast<uint16_t>(v[4]), static_cast<uint16_t>(v[5]), static_cast<uint16_t>(v[6]),
                    static_cast<uint16_t>(v[7])};
  Workbook* workbook = book();
  bool valid = workbook && activeSheet();
  for (int i = 0; i < 8; ++i) valid = valid && (i % 2 == 0 ? validRow(v[i]) : validColumn(v[i]));
  valid = valid && dest.lastRow - dest.firstRow == source.lastRow - source.firstRow && source.firstRow <= source.lastRow &&
          dest.lastColumn - dest.firstColumn == source.lastColumn - source.firstColumn &&
          source.firstColumn <= source.lastColumn;
  if (!valid) return refuse();
  adjustForBlockMove(*workbook, source, dest, moveRecorder());
  done();
}

// 226: the selection's rows whose height was not set take the height their fonts need.
void cmdFitRowHeights() {
  Sheet* sheet = activeSheet();
  if (!sheet) return refuse();
  const Area area = sheet->selection.area();
  refitRowHeights(*book(), *sheet, area.firstRow, area.lastRow);
  done();
}

// 232: column: the width that shows its values in full.
void cmdFitColumn() {
  const int32_t column = popInteger();
  Sheet* sheet = activeSheet();
  if (!sheet || !validColumn(column)) return refuse();
  sheet->columns.applyColumnWidth(column, column, fittedColumnWidth(*book(), *sheet, column));
  sheet->columns.setColumnsHidden(column, column, false);
  done();
}

// 233: row: the height its fonts need, no longer explicit, and shown.
void cmdFitRow() {
  const int32_t row = popInteger();
  Sheet* sheet = activeSheet();
  if (!sheet || !validRow(row)) return refuse();
  sheet->setRowHeight(row, fittedRowHeight(*book(), *sheet, row), false);
  sheet->setRowHidden(row, false);
  done();
}

// 240 and 241: the highest outline level of the rows, of the columns.
void cmdRowOutlineTop() {
  Sheet* sheet = activeSheet();
  if (!sheet) return refuse();
  sheet->refreshOutlineLevels(false);
  done();
}
void cmdColumnOutlineTop() {
  Sheet* sheet = activeSheet();
  if (!sheet) return refuse();
  sheet->refreshOutlineLevels(true);
  done();
}

// 235: alignment, reset.
void cmdAlignment() {
  bool reset = popLogical();
  int32_t alignment = popInteger();
  if (alignment < HAlign::General || alignment > HAlign::CenterAcross) return refuse();
  StyleRecord style{};
  style.setHorizontalAlignment(reset ? HAlign::General : alignment);
  changeSelectionStyle(style, StyleField::HorizontalAlignment, FontRecord{}, 0);
}

// 236: first row, first column, last row, last column: merges the area.
void cmdMerge() {
  int32_t lastColumn = popInteger();
  int32_t lastRow = popInteger();
  int32_t firstColumn = popInteger();
  int32_t firstRow = popInteger();
  Sheet* sheet = activeSheet();
  if (!sheet || !validRow(firstRow) || !validRow(lastRow) || !validColumn(firstColumn) || !validColumn(lastColumn) ||
      firstRow > lastRow || firstColumn > lastColumn)
    return refuse();
  Area area{static_cast<uint16_t>(firstRow), static_cast<uint16_t>(firstColumn), static_cast<uint16_t>(lastRow),
            static_cast<uint16_t>(lastColumn)};
  if (sheet->findMergedEqual(area) < 0 && !sheet->mergedAreas.append(area)) return refuse();
  done();
}

// 237: removes the merged areas inside the selection.
void cmdUnmerge() {
  Sheet* sheet = activeSheet();
  if (!sheet) return refuse();
  sheet->unmergeWithin(sheet->selection.area());
  done();
}

// 238: row, level (bits 0-2 of the row flags, as the Excel row record keeps it).
void cmdRowOutline() {
  int32_t level = popInteger();
  int32_t row = popInteger();
  Sheet* sheet = activeSheet();
  if (!sheet || !validRow(row) || level < 0 || level > 7) return refuse();
  if (level == 0 && !sheet->rowExists(row)) return done();
  Row* r = sheet->ensureRow(row);
  if (!r) return refuse();
  r->flags = static_cast<uint16_t>((r->flags & ~7u) | static_cast<uint32_t>(level));
  // A recount per line would make outlining a long sheet quadratic: the top only rises
  // here, and the programs end with 240, which recounts it once.
  sheet->rowOutlineTop = std::max<uint8_t>(sheet->rowOutlineTop, static_cast<uint8_t>(level));
  done();
}

// 239: column, level.
void cmdColumnOutline() {
  int32_t level = popInteger();
  int32_t column = popInteger();
  Sheet* sheet = activeSheet();
  if (!sheet || !validColumn(column) || level < 0 || level > 7) return refuse();
  sheet->columns.setColumnOutlineLevel(column, column, level);
  sheet->columnOutlineTop = std::max<uint8_t>(sheet->columnOutlineTop, static_cast<uint8_t>(level));
  done();
}

// 243: changing column, changing row, target column, target row, goal.
void cmdGoalSeek() {
  double goal = popNumber();
  int32_t targetRow = popInteger();
  int32_t targetColumn = popInteger();
  int32_t changingRow = popInteger();
  int32_t changingColumn = popInteger();
  Workbook* workbook = book();
  if (!workbook || !activeSheet() || !validColumn(targetColumn) || !validRow(targetRow) ||
      !validColumn(changingColumn) || !validRow(changingRow) || !std::isfinite(goal))
    return refuse();
  GoalSeekState& state = goalSeekState();
  state.goal = goal;
  state.targetColumn = static_cast<uint16_t>(targetColumn);
  state.targetRow = static_cast<uint16_t>(targetRow);
  state.changingColumn = static_cast<uint16_t>(changingColumn);
  state.changingRow = static_cast<uint16_t>(changingRow);
  if (goalSeekSolve(*workbook)) showCommandMessage(loadString(GoalSeekFoundString));
  else setError(Err::IterationLimit);
  done();
}

// 302: name index, definition: the name takes the formula's token string.
void cmdRestoreName() {
  CellValue definition;
  popValue(definition);
  const int32_t index = popInteger();
  Workbook* workbook = book();
  if (!workbook || index < 0 || index >= static_cast<int32_t>(workbook->names.size()) ||
      definition.kind != ValueKind::Formula) {
    releaseValue(definition);
    return refuse();
  }
  const uint32_t tokens = formulaTokens(definition);
  formulaPool().addRef(tokens);
  DefinedName& name = workbook->names[static_cast<size_t>(index)];
  formulaPool().release(name.definition);
  name.definition = tokens;
  releaseValue(definition);
  done();
}

// 303: rows frozen, columns frozen, first and last frozen row and column, top row, left column.
void cmdRestoreView() {
  const int32_t left = popInteger(), top = popInteger();
  const int32_t lastColumn = popInteger(), firstColumn = popInteger();
  const int32_t lastRow = popInteger(), firstRow = popInteger();
  const bool columnsFrozen = popLogical(), rowsFrozen = popLogical();
  Sheet* sheet = activeSheet();
  if (!sheet || !validRow(top) || !validRow(firstRow) || !validRow(lastRow) ||
      !validColumn(left) || !validColumn(firstColumn) || !validColumn(lastColumn))
    return refuse();
  SheetView& view = sheet->view;
  view.rowsFrozen = rowsFrozen;
  view.columnsFrozen = columnsFrozen;
  view.frozenFirstRow = static_cast<uint16_t>(firstRow);
  view.frozenLastRow = static_cast<uint16_t>(lastRow);
  view.frozenFirstColumn = static_cast<uint16_t>(firstColumn);
  view.frozenLastColumn = static_cast<uint16_t>(lastColumn);
  view.topRow = static_cast<uint16_t>(top);
  view.leftColumn = static_cast<uint16_t>(left);
  done();
}

// The one list of bound command functions with the arguments each pops: emitCommand
// writes these counts into every call.
struct CommandFunctionRow {
  int32_t index;
  FunctionImpl implementation;
  uint8_t arguments;
};
constexpr CommandFunctionRow kCommandFunctions[] = {
    {CommandFunction::SetCell, cmdSetCell, 4},
    {CommandFunction::SelectSheet, cmdSelectSheet, 1},
    {CommandFunction::RowHeight, cmdRowHeight, 4},
    {CommandFunction::DefaultRowHeight, cmdDefaultRowHeight, 2},
    {CommandFunction::HideRow, cmdHideRow, 2},
    {CommandFunction::ColumnWidth, cmdColumnWidth, 2},
    {CommandFunction::HideColumn, cmdHideColumn, 2},
    {CommandFunction::Bold, cmdBold, 1},
    {CommandFunction::Italic, cmdItalic, 1},
    {CommandFunction::Underline, cmdUnderline, 1},
    {CommandFunction::RestoreRow, cmdRestoreRow, 4},
    {CommandFunction::RestoreColumn, cmdRestoreColumn, 4},
    {CommandFunction::Select, cmdSelect, 4},
    {CommandFunction::WholeStyle, cmdWholeStyle, 21},
    {CommandFunction::ClearAll, cmdClearAll, 0},
    {CommandFunction::FillRight, cmdFillRight, 1},
    {CommandFunction::FillDown, cmdFillDown, 1},
    {CommandFunction::Clear, cmdClear, 1},
    {CommandFunction::FitRowHeights, cmdFitRowHeights, 0},
    {CommandFunction::FillBlock, cmdFillBlock, 4},
    {CommandFunction::Recalculate, cmdRecalculate, 0},
    {CommandFunction::InsertCells, cmdInsertCells, 1},
    {CommandFunction::DeleteCells, cmdDeleteCells, 1},
    {CommandFunction::MoveAdjust, cmdMoveAdjust, 8},
    {CommandFunction::FitColumn, cmdFitColumn, 1},
    {CommandFunction::FitRow, cmdFitRow, 1},
    {CommandFunction::Series, cmdSeries, 6},
    {CommandFunction::Alignment, cmdAlignment, 2},
    {CommandFunction::Merge, cmdMerge, 4},
    {CommandFunction::Unmerge, cmdUnmerge, 0},
    {CommandFunction::RowOutline, cmdRowOutline, 2},
    {CommandFunction::ColumnOutline, cmdColumnOutline, 2},
    {CommandFunction::RowOutlineTop, cmdRowOutlineTop, 0},
    {CommandFunction::ColumnOutlineTop, cmdColumnOutlineTop, 0},
    {CommandFunction::HideColumnToo, cmdHideColumn, 2},
    {CommandFunction::GoalSeek, cmdGoalSeek, 5},
    {CommandFunction::Sort, sortCommandFunction, 9},
    {CommandFunction::RestoreName, cmdRestoreName, 2},
    {CommandFunction::RestoreView, cmdRestoreView, 8},
    {CommandFunction::SetAutoFilter, commandSetAutoFilter, 14},  // calls give their own count
    {CommandFunction::RemoveAutoFilter, commandRemoveAutoFilter, 0},
    {CommandFunction::AddRule, commandAddRule, 12},
    {CommandFunction::RemoveRules, commandRemoveRules, 1},
    {CommandFunction::ValidationDown, commandRulesDown, 0},
    {CommandFunction::ValidationRight, commandRulesRight, 0},
};

}  // namespace

int commandArgumentCount(int32_t index) {
  for (const CommandFunctionRow& row : kCommandFunctions)
    if (row.index == index) return row.arguments;
  return index >= 0 && index < FunctionIndex::Count ? functionRow(index).minArgs : 0;
}

void startEditing() {
  startEngine();
  for (const CommandFunctionRow& row : kCommandFunctions) {
    FunctionBinding binding{row.index, row.implementation};
    bindFunctions(std::span<const FunctionBinding>(&binding, 1));
  }
}

}  // namespace kelp
