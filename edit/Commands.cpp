// Command programs, the undo list and the editing operations that record into it.
#include "edit/Commands.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <utility>

#include "formula/Compiler.h"
#include "formula/EntryReader.h"
#include "formula/Evaluator.h"
#include "formula/FormulaText.h"
#include "formula/Tokens.h"
#include "formula/Catalogue.h"
#include "edit/GoalSeek.h"
#include "edit/MoveAdjust.h"
#include "edit/Validation.h"
#include "files/NativeFormat.h"
#include "model/HandlePool.h"
#include "model/ModelHeap.h"
#include "model/NumberFormat.h"
#include "model/Style.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/StringTable.h"
#include "platform/Text.h"

namespace kelp {

namespace {

namespace Label {
constexpr int Typing = 3074, FormatCells = 3075, RowHeight = 3076, ColumnWidth = 3077, Bold = 3078, Italic = 3079,
              Underline = 3080, Clear = 3084, Delete = 3085, Insert = 3086, Alignment = 3088, Paste = 3090,
              GoalSeek = 2637;
}

CommandRefreshFn g_refresh = nullptr;
CommandMessageFn g_message = nullptr;

// Gives back what the op 3 pushes of a program own; string literals (op 11) are the
// token walk's (releaseTokenTexts) to give back.
void releaseConstants(const uint8_t* ops, size_t length) {
  size_t at = 0;
  while (at < length) {
    uint8_t op = ops[at];
    uint8_t size = payloadSize(op);
    if (size == 255 || at + 1 + size > length) return;
    if (op == static_cast<uint8_t>(Op::Constant)) {
      CellValue value;
      std::memcpy(&value, ops + at + 1, sizeof value);
      if (value.kind == ValueKind::Text || value.kind == ValueKind::Formula) releaseValue(value);
    }
    at += 1 + size;
  }
}

std::u16string label(int id) { return std::u16string(loadString(id)); }

bool validCell(int32_t column, int32_t row) { return column >= 0 && column < MaxColumns && row >= 0 && row < MaxRows; }

// Calls `fn(column, row, record)` for every stored slot of `area`, row by row.
template <typename Fn>
void forEachSlot(const Sheet& sheet, const Area& area, Fn fn) {
  for (int32_t r = sheet.nextRow(area.firstRow - 1); r <= area.lastRow && r < NoRow; r = sheet.nextRow(r)) {
    const Row* row = sheet.rowAt(r);
    int32_t end = std::min<int32_t>(row->cells.size() - 1, area.lastColumn);
    for (int32_t c = std::max<int32_t>(row->firstColumn(), area.firstColumn); c <= end; ++c) fn(c, r, row->cells[c]);
  }
}

bool wholeRows(const Area& area) { return area.firstColumn == 0 && area.lastColumn == MaxColumns - 1; }
bool wholeColumns(const Area& area) { return area.firstRow == 0 && area.lastRow == MaxRows - 1; }

struct RowState {
  uint16_t height;
  uint16_t flags;
  int16_t style;
  bool operator==(const RowState&) const = default;
};

RowState rowState(const Sheet& sheet, int32_t row) {
  const Row* r = sheet.rowAt(row);
  return r ? RowState{r->height, r->flags, r->style} : RowState{sheet.defaultRowHeight, 0, 0};
}

ProgramBuilder& pushRowState(ProgramBuilder& b, int32_t row, const RowState& state) {
  return b.smallInteger(static_cast<uint16_t>(row))
      .smallInteger(state.height)
      .smallInteger(state.flags)
      .integer(state.style)
      .call(CommandFunction::RestoreRow);
}

ProgramBuilder& pushColumnRecord(ProgramBuilder& b, int32_t column, const ColumnRecord& record) {
  return b.smallInteger(static_cast<uint16_t>(column))
      .integer(record.width)
      .integer(record.style)
      .smallInteger(record.flags)
      .call(CommandFunction::RestoreColumn);
}

bool record(Workbook& workbook, UndoList& undo, ProgramBuilder& undoProgram, ProgramBuilder& redoProgram,
            std::u16string description, bool perform) {
  CommandProgram undoDone = undoProgram.finish();
  CommandProgram redoDone = redoProgram.finish();
  if (!undoDone.valid() || !redoDone.valid()) return false;
  return undo.recordUndo(workbook, std::move(undoDone), std::move(redoDone), std::move(description), perform);
}

// Style changes are recorded after they ran: which cells, rows and columns
// applyStyleChange touches depends on the styles met, so the undo program is the
// difference between the state before and after.
template <typename Args>
bool recordStyleChange(Workbook& workbook, UndoList& undo, int labelId, Args args) {
  Sheet* sheet = workbook.activeSheet();
  if (!sheet) return false;
  const int32_t sheetIndex = workbook.activeSheetIndex();
  const Area area = sheet->selection.area();

  std::unordered_map<uint32_t, int16_t> cellStyles;
  forEachSlot(*sheet, area, [&](int32_t c, int32_t r, const CellRecord& cell) {
    cellStyles.emplace(static_cast<uint32_t>(r) << 8 | static_cast<uint32_t>(c), cell.style);
  });
  std::unordered_map<int32_t, RowState> rows;
  if (wholeRows(area))
    for (int32_t r = sheet->nextRow(area.firstRow - 1); r <= area.lastRow && r < NoRow; r = sheet->nextRow(r))
      rows.emplace(r, rowState(*sheet, r));
  std::vector<ColumnRecord> columns;
  if (wholeColumns(area))
    for (int32_t c = area.firstColumn; c <= area.lastColumn; ++c) columns.push_back(sheet->columns.record(c));
  const RowState absentRow{sheet->defaultRowHeight, 0, 0};

  ProgramBuilder redo;
  redo.selectSheet(sheetIndex).select(area);
  args(redo);
  CommandProgram redoDone = redo.finish();
  if (!redoDone.valid() || !runProgram(workbook, redoDone)) return false;

  ProgramBuilder back;
  back.selectSheet(sheetIndex).select(area);
  for (size_t i = 0; i < columns.size(); ++i) {
    int32_t c = area.firstColumn + static_cast<int32_t>(i);
    if (!(sheet->columns.record(c) == columns[i])) pushColumnRecord(back, c, columns[i]);
  }
  if (wholeRows(area))
    for (int32_t r = sheet->nextRow(area.firstRow - 1); r <= area.lastRow && r < NoRow; r = sheet->nextRow(r)) {
      auto found = rows.find(r);
      RowState old = found != rows.end() ? found->second : absentRow;
      if (!(rowState(*sheet, r) == old)) pushRowState(back, r, old);
    }
  forEachSlot(*sheet, area, [&](int32_t c, int32_t r, const CellRecord& cell) {
    auto found = cellStyles.find(static_cast<uint32_t>(r) << 8 | static_cast<uint32_t>(c));
    int16_t old = found != cellStyles.end() ? found->second : -1;
    if (cell.style != old) back.restoreCell(c, r, CellRecord{cell.value, old});
  });
  CommandProgram undoDone = back.finish();
  if (!undoDone.valid()) return false;
  return undo.recordUndo(workbook, std::move(undoDone), std::move(redoDone), label(labelId), false);
}

// The rows a row command works on: every row of the selection, or with whole columns
// selected only the rows that exist (the others take the sheet's default).
template <typename Fn>
void forEachSelectedRow(const Sheet& sheet, const Area& area, bool existingOnly, Fn fn) {
  if (existingOnly) {
    for (int32_t r = sheet.nextRow(area.firstRow - 1); r <= area.lastRow && r < NoRow; r = sheet.nextRow(r)) fn(r);
    return;
  }
  for (int32_t r = area.firstRow; r <= area.lastRow; ++r) fn(r);
}

// A change to the active sheet's selection: both programs start by going back to it.
struct SelectionChange {
  explicit SelectionChange(Workbook& workbook) : sheet(workbook.activeSheet()) {
    if (!sheet) return;
    area = sheet->selection.area();
    redo.selectSheet(workbook.activeSheetIndex()).select(area);
    back.selectSheet(workbook.activeSheetIndex()).select(area);
  }
  Sheet* sheet;
  Area area{};
  ProgramBuilder redo, back;
};

// Each selected column is restored as it was on undo and changed by `apply` on redo.
template <typename Apply>
bool changeColumns(Workbook& workbook, UndoList& undo, int labelId, Apply apply) {
  SelectionChange change(workbook);
  if (!change.sheet) return false;
  for (int32_t c = change.area.firstColumn; c <= change.area.lastColumn; ++c) {
    change.back.restoreColumn(*change.sheet, c);
    apply(change.redo.smallInteger(static_cast<uint16_t>(c)));
  }
  return record(workbook, undo, change.back, change.redo, label(labelId), true);
}

}  // namespace

bool isPlainRow(const Sheet& sheet, int32_t row) {
  const Row* r = sheet.rowAt(row);
  return !r || (r->height == sheet.defaultRowHeight && (r->flags & 0x7F) == 0 && r->style <= 0 &&
                sheet.lastUsedInRow(row, MaxColumns) < 0);
}

// ----- Programs.

bool emitCommand(TokenSink& sink, int32_t index) { return emitCommand(sink, index, commandArgumentCount(index)); }

bool emitCommand(TokenSink& sink, int32_t index, int arguments) {
  uint8_t payload[3];
  uint16_t function = static_cast<uint16_t>(index);
  std::memcpy(payload, &function, 2);
  payload[2] = static_cast<uint8_t>(arguments);
  return sink.appendOp(Op::Call, payload, 3) && sink.appendOp(Op::Discard);
}

CommandProgram& CommandProgram::operator=(CommandProgram&& other) noexcept {
  if (this != &other) {
    reset();
    m_block = other.m_block;
    other.m_block = nullptr;
  }
  return *this;
}

void CommandProgram::reset() {
  if (!m_block) return;
  uint32_t length = readU32(m_block);
  releaseConstants(m_block + 4, length);
  releaseTokenTexts(m_block + 4, length);
  heapFree(m_block);
  m_block = nullptr;
}

ProgramBuilder::ProgramBuilder() : m_sink(new TokenSink) {}

ProgramBuilder::~ProgramBuilder() {
  releaseConstants(m_sink->data(), m_sink->size());
  delete m_sink;  // gives back the string literals
}

bool ProgramBuilder::add(bool appended) {
  if (!appended) m_failed = true;
  return appended;
}

ProgramBuilder& ProgramBuilder::smallInteger(uint16_t value) {
  if (!m_failed) add(m_sink->appendOp(Op::SmallInteger, &value, 2));
  return *this;
}

ProgramBuilder& ProgramBuilder::integer(int32_t value) {
  if (!m_failed) add(m_sink->appendOp(Op::Integer, &value, 4));
  return *this;
}

ProgramBuilder& ProgramBuilder::number(double value) {
  if (!m_failed) add(m_sink->appendOp(Op::Number, &value, 8));
  return *this;
}

ProgramBuilder& ProgramBuilder::logical(bool value) {
  uint8_t byte = value ? 1 : 0;
  if (!m_failed) add(m_sink->appendOp(Op::Logical, &byte, 1));
  return *this;
}

ProgramBuilder& ProgramBuilder::text(std::u16string_view text) {
  if (m_failed) return *this;
  CellValue value;
  makeText(value, text);
  if (value.kind != ValueKind::Text) {
    m_failed = true;
    return *this;
  }
  uint32_t handle = value.u32();
  // Once appended the sink owns the reference; a failed append must give it back.
  if (!add(m_sink->appendOp(Op::String, &handle, 4))) releaseValue(value);
  return *this;
}

ProgramBuilder& ProgramBuilder::value(const CellValue& value) {
  if (m_failed) return *this;
  CellValue copy;
  if (value.kind == ValueKind::Formula) {
    copyFormulaValue(value, copy);
    if (copy.kind != ValueKind::Formula) {
      m_failed = true;
      return *this;
    }
  } else if (value.kind == ValueKind::Integer) {
    copy = numberValue(value.i32());
  } else {
    copyValue(value, copy);
  }
  if (!add(m_sink->appendOp(Op::Constant, &copy, sizeof copy))) releaseValue(copy);
  return *this;
}

ProgramBuilder& ProgramBuilder::call(int32_t index) {
  if (!m_failed) add(emitCommand(*m_sink, index));
  return *this;
}

ProgramBuilder& ProgramBuilder::call(int32_t index, int arguments) {
  if (!m_failed) add(emitCommand(*m_sink, index, arguments));
  return *this;
}

ProgramBuilder& ProgramBuilder::selectSheet(int32_t sheet) {
  return smallInteger(static_cast<uint16_t>(sheet)).call(CommandFunction::SelectSheet);
}

ProgramBuilder& ProgramBuilder::restoreMergedAreas(std::span<const Area> areas) {
  select(Area{0, 0, MaxRows - 1, MaxColumns - 1}).call(CommandFunction::Unmerge);
  for (const Area& m : areas)
    smallInteger(m.firstRow)
        .smallInteger(m.firstColumn)
        .smallInteger(m.lastRow)
        .smallInteger(m.lastColumn)
        .call(CommandFunction::Merge);
  return *this;
}

ProgramBuilder& ProgramBuilder::restoreName(int32_t index, uint32_t definition) {
  if (m_failed) return *this;
  formulaPool().addRef(definition);
  CellValue formula = newFormulaValue(definition, CellPosition{});
  if (formula.kind != ValueKind::Formula) {
    formulaPool().release(definition);
    m_failed = true;
    return *this;
  }
  integer(index).value(formula).call(CommandFunction::RestoreName);
  releaseValue(formula);
  return *this;
}

ProgramBuilder& ProgramBuilder::restoreView(const SheetView& view) {
  return logical(view.rowsFrozen)
      .logical(view.columnsFrozen)
      .smallInteger(view.frozenFirstRow)
      .smallInteger(view.frozenLastRow)
      .smallInteger(view.frozenFirstColumn)
      .smallInteger(view.frozenLastColumn)
      .smallInteger(view.topRow)
      .smallInteger(view.leftColumn)
      .call(CommandFunction::RestoreView);
}

ProgramBuilder& ProgramBuilder::select(const Area& area) {
  return smallInteger(area.firstColumn)
      .smallInteger(area.lastColumn)
      .smallInteger(area.firstRow)
      .smallInteger(area.lastRow)
      .call(CommandFunction::Select);
}

ProgramBuilder& ProgramBuilder::restoreCell(int32_t column, int32_t row, const CellRecord& record) {
  return smallInteger(static_cast<uint16_t>(column))
      .smallInteger(static_cast<uint16_t>(row))
      .integer(record.style)
      .value(record.value)
      .call(CommandFunction::SetCell);
}

ProgramBuilder& ProgramBuilder::restoreRow(const Sheet& sheet, int32_t row) {
  return pushRowState(*this, row, rowState(sheet, row));
}

ProgramBuilder& ProgramBuilder::restoreAbsentRow(const Sheet& sheet, int32_t row) {
  return pushRowState(*this, row, RowState{sheet.defaultRowHeight, 0, 0});
}

ProgramBuilder& ProgramBuilder::restoreColumn(const Sheet& sheet, int32_t column) {
  return pushColumnRecord(*this, column, sheet.columns.record(column));
}

CommandProgram ProgramBuilder::finish() {
  if (m_failed) return CommandProgram();
  uint8_t* block = finishTokens(*m_sink);
  if (!block) {
    m_failed = true;
    return CommandProgram();
  }
  return CommandProgram(block);
}

bool runProgram(Workbook& workbook, const CommandProgram& program) {
  if (!program.valid()) return false;
  int32_t sheet = workbook.activeSheetIndex();
  workbook.modified = true;
  return runCommandProgram(program.block(), workbook, static_cast<uint16_t>(sheet < 0 ? 0 : sheet));
}

// ----- The undo list.

bool UndoList::recordUndo(Workbook& workbook, CommandProgram undo, CommandProgram redo, std::u16string description,
                          bool perform) {
  if (!undo.valid() || !redo.valid()) return false;
  m_entries.erase(m_entries.begin() + static_cast<std::ptrdiff_t>(m_position), m_entries.end());
  m_entries.push_back(UndoEntry{std::move(undo), std::move(redo), std::move(description)});
  if (m_entries.size() > Limit) m_entries.erase(m_entries.begin());
  m_position = m_entries.size();
  bool good = true;
  if (perform) good = runProgram(workbook, m_entries.back().redo);
  workbook.modified = true;
  if (g_refresh) g_refresh(workbook);
  return good;
}

bool UndoList::undo(Workbook& workbook) {
  if (!canUndo()) return false;
  --m_position;
  bool good = runProgram(workbook, m_entries[m_position].undo);
  workbook.modified = true;
  if (g_refresh) g_refresh(workbook);
  return good;
}

bool UndoList::redo(Workbook& workbook) {
  if (!canRedo()) return false;
  bool good = runProgram(workbook, m_entries[m_position].redo);
  ++m_position;
  workbook.modified = true;
  if (g_refresh) g_refresh(workbook);
  return good;
}

std::u16string_view UndoList::undoDescription() const {
  return canUndo() ? std::u16string_view(m_entries[m_position - 1].description) : std::u16string_view();
}

std::u16string_view UndoList::redoDescription() const {
  return canRedo() ? std::u16string_view(m_entries[m_position].description) : std::u16string_view();
}

void UndoList::clear() {
  m_entries.clear();
  m_position = 0;
}

void installCommandRefresh(CommandRefreshFn fn) { g_refresh = fn; }
void installCommandMessage(CommandMessageFn fn) { g_message = fn; }
void showCommandMessage(std::u16string_view message) {
  if (g_message) g_message(message);
}

// ----- Editing operations.

bool enterCellValue(Workbook& workbook, UndoList& undo, int32_t column, int32_t row, std::u16string_view text) {
  Sheet* sheet = workbook.activeSheet();
  if (!sheet || !validCell(column, row)) return false;
  Area merged;
  if (sheet->findMergedAt(column, row, &merged) >= 0) {
    column = merged.firstColumn;
    row = merged.firstRow;
  }
  const int32_t sheetIndex = workbook.activeSheetIndex();
  const int16_t effective = sheet->effectiveStyle(column, row);
  const uint16_t formatIndex = workbook.style(effective).numberFormat;
  const NumberFormatRecord* format =
      formatIndex < workbook.numberFormats.size() ? &workbook.numberFormats[formatIndex] : nullptr;

  CellValue value = emptyValue();
  int suggested = -1;
  if (format && format->kind == FormatKind::Text) {
    if (!text.empty()) makeText(value, text);
  } else {
    CellPosition base{static_cast<uint16_t>(column), static_cast<uint16_t>(row), static_cast<uint16_t>(sheetIndex)};
    value = readEntry(&workbook, text, base, &suggested, false);
  }
  // A formula that did not compile, or a text that could not be stored, leaves its code.
  if (value.kind == ValueKind::Empty && !text.empty()) return false;
  // A text longer than a file holds would be cut by the next save; it is refused now.
  if (value.kind == ValueKind::Text && textOf(value).size() > MaxStoredText) {
    releaseValue(value);
    setError(Err::TextTooLong);
    return false;
  }

  // A value the cell's validation rule refuses is not stored; the alert told the user.
  if (!validateEntry(workbook, sheetIndex, column, row, value)) {
    releaseValue(value);
    return false;
  }

  CellRecord old;
  sheet->getCell(column, row, old);
  int16_t style = old.style;
  if (suggested != SuggestedFormat::None) {
    const int16_t changed = styleForSuggestion(workbook, effective, suggested);
    if (changed != effective) style = changed;
  }

  ProgramBuilder redo;
  redo.selectSheet(sheetIndex).restoreCell(column, row, CellRecord{value, style}).call(CommandFunction::Recalculate);
  releaseValue(value);  // the program holds its own copy
  ProgramBuilder back;
  back.selectSheet(sheetIndex).restoreCell(column, row, old).call(CommandFunction::Recalculate);

  std::u16string cellName, rowText;
  columnName(static_cast<uint16_t>(column), cellName);
  rowName(static_cast<uint16_t>(row), rowText);
  cellName += rowText;
  return record(workbook, undo, back, redo, formatText(loadString(Label::Typing), cellName), true);
}

bool clearSelection(Workbook& workbook, UndoList& undo, ClearMode mode) {
  Sheet* sheet = workbook.activeSheet();
  if (!sheet || mode < ClearMode::All || mode > ClearMode::Validation) return false;
  const int32_t sheetIndex = workbook.activeSheetIndex();
  const Area area = sheet->selection.area();
  const bool formats = mode == ClearMode::All || mode == ClearMode::Formats;

  ProgramBuilder back;
  back.selectSheet(sheetIndex);
  if (mode == ClearMode::All && sheet->findMergedInside(area) >= 0) {
    // The sheet's merged areas are put back as a whole so that they keep their order.
    back.restoreMergedAreas({sheet->mergedAreas.data(), static_cast<size_t>(sheet->mergedAreas.size())});
  }
  // So are the validation rules, whose areas clearing splits.
  if ((mode == ClearMode::All || mode == ClearMode::Validation) && rulesTouch(*sheet, area))
    back.restoreValidations(*sheet);
  back.select(area);
  forEachSlot(*sheet, area, [&](int32_t c, int32_t r, const CellRecord& cell) {
    bool hasValue = cell.value.kind != ValueKind::Empty;
    bool changes = mode == ClearMode::All        ? hasValue || cell.style > 0
                   : mode == ClearMode::Contents ? hasValue
                   : mode == ClearMode::Formats  ? cell.style > 0
                                                 : false;
    if (changes) back.restoreCell(c, r, cell);
  });
  if (formats && wholeRows(area))
    for (int32_t r = sheet->nextRow(area.firstRow - 1); r <= area.lastRow && r < NoRow; r = sheet->nextRow(r))
      if (sheet->rowStyle(r) > 0) back.restoreRow(*sheet, r);
  if (formats && wholeColumns(area))
    for (int32_t c = area.firstColumn; c <= area.lastColumn; ++c)
      if (sheet->columns.columnStyle(c) > 0) back.restoreColumn(*sheet, c);
  back.call(CommandFunction::Recalculate);

  ProgramBuilder redo;
  redo.selectSheet(sheetIndex)
      .select(area)
      .smallInteger(static_cast<uint16_t>(mode))
      .call(CommandFunction::Clear)
      .call(CommandFunction::Recalculate);
  return record(workbook, undo, back, redo, label(Label::Clear), true);
}

bool applyBold(Workbook& workbook, UndoList& undo, bool on) {
  return recordStyleChange(workbook, undo, Label::Bold, [on](ProgramBuilder& b) { b.logical(on).call(CommandFunction::Bold); });
}

bool applyItalic(Workbook& workbook, UndoList& undo, bool on) {
  return recordStyleChange(workbook, undo, Label::Italic,
                           [on](ProgramBuilder& b) { b.logical(on).call(CommandFunction::Italic); });
}

bool applyUnderline(Workbook& workbook, UndoList& undo, bool on) {
  return recordStyleChange(workbook, undo, Label::Underline,
                           [on](ProgramBuilder& b) { b.logical(on).call(CommandFunction::Underline); });
}

bool applyAlignment(Workbook& workbook, UndoList& undo, int alignment, bool reset) {
  if (alignment < HAlign::General || alignment > HAlign::CenterAcross) return false;
  return recordStyleChange(workbook, undo, Label::Alignment, [alignment, reset](ProgramBuilder& b) {
    b.smallInteger(static_cast<uint16_t>(alignment)).logical(reset).call(CommandFunction::Alignment);
  });
}

namespace {

ProgramBuilder& pushStyleAndFont(ProgramBuilder& b, const StyleRecord& style, const FontRecord& font) {
  uint16_t words[11];
  std::memcpy(words, &style, sizeof words);
  for (uint16_t word : words) b.smallInteger(word);
  return b.smallInteger(font.reserved)
      .smallInteger(font.underline)
      .smallInteger(font.options)
      .smallInteger(font.height)
      .smallInteger(font.color)
      .smallInteger(font.weight)
      .smallInteger(font.escapement)
      .smallInteger(font.family)
      .smallInteger(font.charset)
      .text(font.face());
}

}  // namespace

bool applyStyleFields(Workbook& workbook, UndoList& undo, const StyleRecord& style, uint32_t styleMask,
                      const FontRecord& font, uint32_t fontMask) {
  if (styleMask == 0 && fontMask == 0) return false;
  return recordStyleChange(workbook, undo, Label::FormatCells, [&](ProgramBuilder& b) {
    pushStyleAndFont(b, style, font)
        .integer(static_cast<int32_t>(styleMask))
        .integer(static_cast<int32_t>(fontMask))
        .call(CommandFunction::WholeStyle, 23);
  });
}

bool applyWholeStyle(Workbook& workbook, UndoList& undo, const StyleRecord& style, const FontRecord& font) {
  return recordStyleChange(workbook, undo, Label::FormatCells, [&style, &font](ProgramBuilder& b) {
    pushStyleAndFont(b, style, font).call(CommandFunction::WholeStyle);
  });
}

bool setRowHeights(Workbook& workbook, UndoList& undo, uint16_t height) {
  if (height > 0x7FFF) return false;
  SelectionChange change(workbook);
  if (!change.sheet) return false;
  Sheet& sheet = *change.sheet;
  const bool everyRow = wholeColumns(change.area) && height > 0;
  forEachSelectedRow(sheet, change.area, everyRow, [&](int32_t r) {
    if (everyRow && isPlainRow(sheet, r)) return;  // it follows the default as an absent row does
    change.back.restoreRow(sheet, r);
    if (height == 0) {
      change.redo.smallInteger(static_cast<uint16_t>(r)).logical(true).call(CommandFunction::HideRow);
    } else {
      change.redo.smallInteger(static_cast<uint16_t>(r)).smallInteger(height).logical(true).logical(false).call(
          CommandFunction::RowHeight);
    }
  });
  if (everyRow) {
    change.redo.smallInteger(height).logical(true).call(CommandFunction::DefaultRowHeight);
    change.back.smallInteger(sheet.defaultRowHeight).logical(false).call(CommandFunction::DefaultRowHeight);
  }
  return record(workbook, undo, change.back, change.redo, label(Label::RowHeight), true);
}

bool setColumnWidths(Workbook& workbook, UndoList& undo, int32_t width) {
  if (width < 0) return false;
  return changeColumns(workbook, undo, Label::ColumnWidth,
                       [width](ProgramBuilder& redo) { redo.integer(width).call(CommandFunction::ColumnWidth); });
}

bool fitColumnWidths(Workbook& workbook, UndoList& undo) {
  return changeColumns(workbook, undo, Label::ColumnWidth,
                       [](ProgramBuilder& redo) { redo.call(CommandFunction::FitColumn); });
}

bool fitRowHeights(Workbook& workbook, UndoList& undo) {
  SelectionChange change(workbook);
  if (!change.sheet) return false;
  // Rows without cells already have the height a fit gives them.
  forEachSelectedRow(*change.sheet, change.area, true, [&](int32_t r) {
    change.back.restoreRow(*change.sheet, r);
    change.redo.smallInteger(static_cast<uint16_t>(r)).call(CommandFunction::FitRow);
  });
  return record(workbook, undo, change.back, change.redo, label(Label::RowHeight), true);
}

bool hideRows(Workbook& workbook, UndoList& undo, bool hidden) {
  SelectionChange change(workbook);
  if (!change.sheet) return false;
  // Showing touches only rows that exist: an absent row is never hidden.
  forEachSelectedRow(*change.sheet, change.area, !hidden, [&](int32_t r) {
    change.back.restoreRow(*change.sheet, r);
    change.redo.smallInteger(static_cast<uint16_t>(r)).logical(hidden).call(CommandFunction::HideRow);
  });
  return record(workbook, undo, change.back, change.redo, label(Label::RowHeight), true);
}

bool hideColumns(Workbook& workbook, UndoList& undo, bool hidden) {
  return changeColumns(workbook, undo, Label::ColumnWidth,
                       [hidden](ProgramBuilder& redo) { redo.logical(hidden).call(CommandFunction::HideColumn); });
}

namespace {

bool moveLinesCommand(Workbook& workbook, UndoList& undo, bool columns, bool insert) {
  Sheet* sheet = workbook.activeSheet();
  if (!sheet) return false;
  const int32_t sheetIndex = workbook.activeSheetIndex();
  const Area area = sheet->selection.area();
  const int32_t first = columns ? area.firstColumn : area.firstRow;
  const int32_t count = (columns ? area.lastColumn : area.lastRow) - first + 1;
  const int32_t limit = columns ? MaxColumns : MaxRows;
  if (count <= 0 || first + count > limit) return false;
  // The lines whose content the change destroys: those deleted, or those pushed off.
  const int32_t lost = insert ? limit - count : first;
  const auto first16 = static_cast<uint16_t>(lost), last16 = static_cast<uint16_t>(lost + count - 1);
  const Area lostArea = columns ? Area{0, first16, MaxRows - 1, last16} : Area{first16, 0, last16, MaxColumns - 1};

  ProgramBuilder redo;
  redo.selectSheet(sheetIndex)
      .select(area)
      .logical(columns)
      .call(insert ? CommandFunction::InsertCells : CommandFunction::DeleteCells)
      .call(columns ? CommandFunction::ColumnOutlineTop : CommandFunction::RowOutlineTop)
      .call(CommandFunction::Recalculate);

  // Undo first moves the lines back, then puts back what was lost and, as the change
  // runs below, the old state of every formula it rewrites.
  ProgramBuilder back;
  back.selectSheet(sheetIndex)
      .select(area)
      .logical(columns)
      .call(insert ? CommandFunction::DeleteCells : CommandFunction::InsertCells);
  if (columns) {
    for (int32_t c = lost; c < lost + count; ++c) back.restoreColumn(*sheet, c);
  } else {
    // Lines put back by undo copy the row above them; rows absent then must be reset too.
    const bool copies = !insert && sheet->rowExists(first - 1);
    for (int32_t r = copies ? lost : sheet->nextRow(lost - 1); r < lost + count;
         r = copies ? r + 1 : sheet->nextRow(r))
      back.restoreRow(*sheet, r);
  }
  forEachSlot(*sheet, lostArea, [&](int32_t c, int32_t r, const CellRecord& cell) {
    if (cell.value.kind != ValueKind::Empty || cell.style >= 0) back.restoreCell(c, r, cell);
  });
  if (sheet->mergedAreas.size() > 0) {
    // Merged areas move, shrink or go with their cells; they are put back as a whole.
    back.restoreMergedAreas({sheet->mergedAreas.data(), static_cast<size_t>(sheet->mergedAreas.size())});
  }
  // Rules and the AutoFilter move with their cells too, and rule formulas on every sheet
  // may change; each is put back as a whole.
  for (int32_t s = 0; s < workbook.sheetCount(); ++s)
    if (!workbook.sheetAt(s)->validations.empty()) back.restoreValidations(*workbook.sheetAt(s));
  back.selectSheet(sheetIndex);
  if (sheet->autoFilter.active || !sheet->autoFilter.columns.empty()) back.restoreAutoFilter(*sheet);

  const SheetView view = sheet->view;

  CommandProgram redoDone = redo.finish();
  if (!redoDone.valid() || !back.ok()) return false;
  setMoveRecorder(&back);
  const bool ran = runProgram(workbook, redoDone);
  setMoveRecorder(nullptr);
  back.selectSheet(sheetIndex)
      .restoreView(view)
      .select(area)
      .call(columns ? CommandFunction::ColumnOutlineTop : CommandFunction::RowOutlineTop)
      .call(CommandFunction::Recalculate);
  CommandProgram undoDone = back.finish();
  if (!ran || !undoDone.valid()) return false;
  return undo.recordUndo(workbook, std::move(undoDone), std::move(redoDone),
                         label(insert ? Label::Insert : Label::Delete), false);
}

}  // namespace

bool insertCells(Workbook& workbook, UndoList& undo, bool columns) {
  return moveLinesCommand(workbook, undo, columns, true);
}

bool deleteCells(Workbook& workbook, UndoList& undo, bool columns) {
  return moveLinesCommand(workbook, undo, columns, false);
}

bool moveBlock(Workbook& workbook, UndoList& undo, const Area& source, int32_t column, int32_t row) {
  Sheet* sheet = workbook.activeSheet();
  if (!sheet || source.firstRow > source.lastRow || source.firstColumn > source.lastColumn) return false;
  const int32_t dColumn = column - source.firstColumn, dRow = row - source.firstRow;
  if (column < 0 || row < 0 || source.lastColumn + dColumn >= MaxColumns || source.lastRow + dRow >= MaxRows ||
      (dColumn == 0 && dRow == 0))
    return false;
  const Area dest{static_cast<uint16_t>(row), static_cast<uint16_t>(column), static_cast<uint16_t>(source.lastRow + dRow),
                  static_cast<uint16_t>(source.lastColumn + dColumn)};
  const int32_t sheetIndex = workbook.activeSheetIndex();
  auto inside = [](const Area& a, int32_t c, int32_t r) {
    return r >= a.firstRow && r <= a.lastRow && c >= a.firstColumn && c <= a.lastColumn;
  };

  // Redo writes each source slot into its destination slot (copies of the values, so
  // the order of the writes does not matter), empties what is left of the source, then
  // adjusts the references. Undo puts back both areas as they are now.
  ProgramBuilder redo, back;
  redo.selectSheet(sheetIndex);
  back.selectSheet(sheetIndex);
  const CellRecord blank{emptyValue(), -1};
  for (const Area* area : {&source, &dest})
    forEachSlot(*sheet, *area, [&](int32_t c, int32_t r, const CellRecord& cell) {
      if (area == &dest || !inside(dest, c, r)) back.restoreCell(c, r, cell);
    });
  forEachSlot(*sheet, source, [&](int32_t c, int32_t r, const CellRecord& cell) {
    if (!inside(dest, c, r) && (cell.value.kind != ValueKind::Empty || cell.style >= 0)) redo.restoreCell(c, r, blank);
  });
  for (int32_t r = dest.firstRow; r <= dest.lastRow; ++r)
    for (int32_t c = dest.firstColumn; c <= dest.lastColumn; ++c) {
      const CellRecord* from = sheet->cellPtr(c - dColumn, r - dRow);
      const CellRecord* to = sheet->cellPtr(c, r);
      const bool fromUsed = from && (from->value.kind != ValueKind::Empty || from->style >= 0);
      if (fromUsed) redo.restoreCell(c, r, *from);
      else if (to && (to->value.kind != ValueKind::Empty || to->style >= 0)) redo.restoreCell(c, r, blank);
      if (fromUsed && !to) back.restoreCell(c, r, blank);
    }
  redo.smallInteger(dest.firstRow)
      .smallInteger(dest.firstColumn)
      .smallInteger(dest.lastRow)
      .smallInteger(dest.lastColumn)
      .smallInteger(source.firstRow)
      .smallInteger(source.firstColumn)
      .smallInteger(source.lastRow)
      .smallInteger(source.lastColumn)
      .call(CommandFunction::MoveAdjust)
      .select(dest)
      .call(CommandFunction::Recalculate);

  CommandProgram redoDone = redo.finish();
  if (!redoDone.valid() || !back.ok()) return false;
  setMoveRecorder(&back);
  const bool ran = runProgram(workbook, redoDone);
  setMoveRecorder(nullptr);
  back.select(source).call(CommandFunction::Recalculate);
  CommandProgram undoDone = back.finish();
  if (!ran || !undoDone.valid()) return false;
  return undo.recordUndo(workbook, std::move(undoDone), std::move(redoDone), label(Label::Paste), false);
}

bool goalSeekCommand(Workbook& workbook, UndoList& undo, uint16_t changingColumn, uint16_t changingRow,
                     uint16_t targetColumn, uint16_t targetRow, double goal) {
  Sheet* sheet = workbook.activeSheet();
  if (!sheet || !validCell(changingColumn, changingRow) || !validCell(targetColumn, targetRow)) return false;
  const int32_t sheetIndex = workbook.activeSheetIndex();
  CellRecord old;
  sheet->getCell(changingColumn, changingRow, old);

  ProgramBuilder redo, back;
  redo.selectSheet(sheetIndex)
      .smallInteger(changingColumn)
      .smallInteger(changingRow)
      .smallInteger(targetColumn)
      .smallInteger(targetRow)
      .number(goal)
      .call(CommandFunction::GoalSeek);
  back.selectSheet(sheetIndex).restoreCell(changingColumn, changingRow, old).call(CommandFunction::Recalculate);
  goalSeekState().found = false;
  if (!record(workbook, undo, back, redo, label(Label::GoalSeek), true)) return false;
  return goalSeekState().found;
}

bool recalculateCommand(Workbook& workbook) {
  ProgramBuilder program;
  program.call(CommandFunction::Recalculate);
  return runProgram(workbook, program.finish());
}

namespace {
void sheetsChanged(Workbook& workbook, UndoList& undo) {
  undo.clear();
  workbook.modified = true;
  if (g_refresh) g_refresh(workbook);
}
}  // namespace

bool insertSheetCommand(Workbook& workbook, UndoList& undo, std::u16string name) {
  if (name.empty()) name = workbook.defaultSheetName();
  if (workbook.findSheet(name) >= 0 || workbook.sheetCount() >= 255) return false;
  if (!workbook.insertSheet(std::move(name))) return false;
  sheetsChanged(workbook, undo);
  return true;
}

bool deleteSheetCommand(Workbook& workbook, UndoList& undo, int32_t index) {
  if (!workbook.sheetAt(index) || workbook.sheetCount() <= 1) return false;
  const int32_t active = workbook.activeSheetIndex();
  workbook.deleteSheet(index);
  if (active >= workbook.sheetCount()) workbook.setActiveSheet(workbook.sheetCount() - 1);
  sheetsChanged(workbook, undo);
  return true;
}

void setSheetView(Workbook& workbook, int32_t sheet, const SheetView& view) {
  Sheet* target = workbook.sheetAt(sheet);
  if (!target) return;
  target->view = view;
  workbook.modified = true;
  if (g_refresh) g_refresh(workbook);
}

}  // namespace kelp
