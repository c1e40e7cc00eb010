// Copy, cut and paste through the clipboard; every paste is one undo entry "Paste".
#include "edit/Clipboard.h"

#include <algorithm>
#include <memory>
#include <set>
#include <span>
#include <utility>

#include "edit/Commands.h"
#include "edit/MoveAdjust.h"
#include "edit/Validation.h"
#include "files/DocStream.h"
#include "formula/EntryReader.h"
#include "model/NumberFormat.h"
#include "model/Style.h"
#include "model/Workbook.h"
#include "platform/Clipboard.h"
#include "platform/ErrorState.h"
#include "platform/StringTable.h"

namespace kelp {

namespace {

constexpr int PasteLabel = 3090;
constexpr size_t MaxTextField = 1000;

// Where the clipboard's Kelp data was copied from. A cut is told by the workbook's
// serial, not its address, which a workbook made after New or Open may reuse.
struct CopySource {
  uint64_t book = 0;
  int32_t sheet = -1;
  std::u16string sheetName;
  Area range{};
  bool cut = false;
  uint64_t sequence = 0;  // the clipboard content it goes with
};
CopySource g_source;

bool wholeRows(const Area& a) { return a.firstColumn == 0 && a.lastColumn == MaxColumns - 1; }
bool wholeColumns(const Area& a) { return a.firstRow == 0 && a.lastRow == MaxRows - 1; }

bool cutsMerged(const Sheet& sheet, const Area& area) {
  for (const Area& m : sheet.mergedAreas)
    if (m.overlaps(area) && !m.inside(area)) return true;
  return false;
}

uint16_t readU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

// The columns and rows the range record announces; false when the bytes hold none.
bool rangeSize(const std::vector<uint8_t>& bytes, uint32_t& columns, uint32_t& rows) {
  size_t at = 0;
  while (at + 4 <= bytes.size()) {
    const uint16_t type = readU16(&bytes[at]), length = readU16(&bytes[at + 2]);
    if (at + 4 + length > bytes.size() || type == NativeRecord::End) return false;
    if (type == NativeRecord::RangeSize) {
      if (length < 8) return false;
      columns = readU16(&bytes[at + 8]);
      rows = readU16(&bytes[at + 10]);
      if (rows == 0) rows = MaxRows;  // all 65536 rows wrap to 0
      return columns > 0;
    }
    at += 4 + length;
  }
  return false;
}

// The sheet a cut on the clipboard came from, when it was cut from `workbook` and is
// still the clipboard's content; -1 otherwise.
int32_t cutSheet(const Workbook& workbook) {
  if (!g_source.cut || g_source.sequence != clipboardSequence() || g_source.book != workbook.serial()) return -1;
  const Sheet* sheet = workbook.sheetAt(g_source.sheet);
  return sheet && sheet->name == g_source.sheetName ? g_source.sheet : -1;
}

void selectArea(Workbook& workbook, int32_t sheetIndex, const Area& area) {
  workbook.setActiveSheet(sheetIndex);
  Selection& s = workbook.activeSheet()->selection;
  s.firstRow = area.firstRow;
  s.lastRow = area.lastRow;
  s.firstColumn = static_cast<int16_t>(area.firstColumn);
  s.lastColumn = static_cast<int16_t>(area.lastColumn);
  s.activeRow = s.endRow = area.firstRow;
  s.activeColumn = s.endColumn = static_cast<int16_t>(area.firstColumn);
}

ProgramBuilder& pushArea(ProgramBuilder& b, const Area& a) {
  return b.smallInteger(a.firstRow).smallInteger(a.firstColumn).smallInteger(a.lastRow).smallInteger(a.lastColumn);
}

// The areas of one sheet a paste changes, written as programs that put them back: undo's
// as they were before the paste, redo's as they are after. Cells go back slot by slot,
// rows and columns where an area spans whole ones, and the sheet's merged areas and rules
// as whole lists, as the other commands put them back.
class SheetPart {
 public:
  SheetPart(const Workbook& workbook, int32_t sheet, std::vector<Area> areas)
      : m_book(workbook), m_sheet(sheet), m_areas(std::move(areas)) {}
  void addArea(const Area& area) { m_areas.push_back(area); }
  int32_t sheetIndex() const { return m_sheet; }

  /// Appends to `back` what puts the part back as it is now.
  void before(ProgramBuilder& back) {
    const Sheet& s = sheet();
    m_hadMerged = s.mergedAreas.size() > 0;
    m_hadRules = !s.validations.empty();
    back.selectSheet(m_sheet);
    if (m_hadMerged) back.restoreMergedAreas({s.mergedAreas.data(), static_cast<size_t>(s.mergedAreas.size())});
    if (m_hadRules) back.restoreValidations(s);
    m_slots = usedSlots();
    m_rows = existingRows();
    putBack(back, m_slots, m_rows);
  }

  /// Appends to `redo` what puts the part back as it is now, and to `back` what takes
  /// away what came since before().
  void after(ProgramBuilder& back, ProgramBuilder& redo) {
    const Sheet& s = sheet();
    const bool hasMerged = s.mergedAreas.size() > 0, hasRules = !s.validations.empty();
    back.selectSheet(m_sheet);
    if (hasMerged && !m_hadMerged) back.restoreMergedAreas({});
    if (hasRules && !m_hadRules) back.integer(-1).call(CommandFunction::RemoveRules);
    redo.selectSheet(m_sheet);
    if (hasMerged || m_hadMerged) redo.restoreMergedAreas({s.mergedAreas.data(), static_cast<size_t>(s.mergedAreas.size())});
    if (hasRules || m_hadRules) redo.restoreValidations(s);
    const std::set<uint32_t> slots = usedSlots();
    const std::set<int32_t> rows = existingRows();
    putBack(redo, slots, rows);
    const CellRecord blank{emptyValue(), -1};
    back.selectSheet(m_sheet);
    for (uint32_t key : slots)
      if (!m_slots.count(key)) back.restoreCell(column(key), row(key), blank);
    for (uint32_t key : m_slots)
      if (!slots.count(key)) redo.restoreCell(column(key), row(key), blank);
    for (int32_t r : rows)
      if (!m_rows.count(r)) back.restoreAbsentRow(s, r);
    for (int32_t r : m_rows)
      if (!rows.count(r)) redo.restoreAbsentRow(s, r);
  }

 private:
  static uint32_t key(int32_t c, int32_t r) { return static_cast<uint32_t>(r) << 8 | static_cast<uint32_t>(c); }
  static int32_t column(uint32_t key) { return static_cast<int32_t>(key & 0xFF); }
  static int32_t row(uint32_t key) { return static_cast<int32_t>(key >> 8); }
  const Sheet& sheet() const { return *m_book.sheetAt(m_sheet); }

  // Slots with a value or a style of their own in any of the areas.
  std::set<uint32_t> usedSlots() const {
    const Sheet& s = sheet();
    std::set<uint32_t> slots;
    for (const Area& a : m_areas)
      for (int32_t r = s.nextRow(a.firstRow - 1); r <= a.lastRow && r < NoRow; r = s.nextRow(r)) {
        const Row* line = s.rowAt(r);
        const int32_t end = std::min<int32_t>(line->cells.size() - 1, a.lastColumn);
        for (int32_t c = std::max<int32_t>(line->firstColumn(), a.firstColumn); c <= end; ++c) {
          const CellRecord& cell = line->cells[c];
          if (cell.value.kind != ValueKind::Empty || cell.style >= 0) slots.insert(key(c, r));
        }
      }
    return slots;
  }

  // Rows that exist where an area spans whole rows, whose height and style a paste carries.
  std::set<int32_t> existingRows() const {
    const Sheet& s = sheet();
    std::set<int32_t> rows;
    for (const Area& a : m_areas)
      if (wholeRows(a))
        for (int32_t r = s.nextRow(a.firstRow - 1); r <= a.lastRow && r < NoRow; r = s.nextRow(r)) rows.insert(r);
    return rows;
  }

  void putBack(ProgramBuilder& b, const std::set<uint32_t>& slots, const std::set<int32_t>& rows) const {
    const Sheet& s = sheet();
    b.selectSheet(m_sheet);
    for (uint32_t k : slots) b.restoreCell(column(k), row(k), *s.cellPtr(column(k), row(k)));
    for (int32_t r : rows) b.restoreRow(s, r);
    for (const Area& a : m_areas)
      if (wholeColumns(a))
        for (int32_t c = a.firstColumn; c <= a.lastColumn; ++c) b.restoreColumn(s, c);
  }

  const Workbook& m_book;
  int32_t m_sheet;
  std::vector<Area> m_areas;
  std::set<uint32_t> m_slots;
  std::set<int32_t> m_rows;
  bool m_hadMerged = false;
  bool m_hadRules = false;
};

// The change a paste makes, recorded as the difference of its parts before and after.
struct PasteRecord {
  Workbook& workbook;
  int32_t sheet;       // the target's
  Area selection;      // before the paste
  std::vector<SheetPart> parts;
  ProgramBuilder back, redo;

  void before() {
    for (SheetPart& part : parts) part.before(back);
  }
  void after() {
    for (SheetPart& part : parts) part.after(back, redo);
  }
  // Puts everything back after a paste that failed half way; the error stays.
  void rollBack() {
    back.selectSheet(sheet).select(selection).call(CommandFunction::Recalculate);
    const SavedErrorState saved = saveErrorState();
    CommandProgram program = back.finish();
    (void)runProgram(workbook, program);
    restoreErrorState(saved);
  }
  bool record(UndoList& undo, const Area& pasted) {
    selectArea(workbook, sheet, pasted);
    redo.selectSheet(sheet).select(pasted).call(CommandFunction::Recalculate);
    back.selectSheet(sheet).select(selection).call(CommandFunction::Recalculate);
    (void)recalculateCommand(workbook);
    CommandProgram undoDone = back.finish(), redoDone = redo.finish();
    if (!undoDone.valid() || !redoDone.valid()) return false;
    return undo.recordUndo(workbook, std::move(undoDone), std::move(redoDone), std::u16string(loadString(PasteLabel)),
                           false);
  }
};

bool plainOptions(const PasteOptions& o) {
  return o.contents && o.formats && o.validation && !o.skipBlanks && !o.onlyResults;
}

// Cells alone: what moveBlock moves in full.
bool cellsAlone(const Sheet& sheet, const Area& area) {
  return !sheet.anyMergedOverlap(area) && !rulesTouch(sheet, area) && !wholeRows(area) && !wholeColumns(area);
}

// Clears the cut cells of what the paste brings, leaving the selections as they were.
bool clearCut(Workbook& workbook, int32_t sheetIndex, const Area& source, const PasteOptions& o, int32_t target) {
  const Selection kept = workbook.sheetAt(sheetIndex)->selection;
  ProgramBuilder clear;
  clear.selectSheet(sheetIndex).select(source);
  if (o.contents && o.formats && o.validation) {
    clear.smallInteger(static_cast<uint16_t>(ClearMode::All)).call(CommandFunction::Clear);
  } else {
    if (o.contents) clear.smallInteger(static_cast<uint16_t>(ClearMode::Contents)).call(CommandFunction::Clear);
    if (o.formats) clear.smallInteger(static_cast<uint16_t>(ClearMode::Formats)).call(CommandFunction::Clear);
    if (o.validation) clear.smallInteger(static_cast<uint16_t>(ClearMode::Validation)).call(CommandFunction::Clear);
  }
  clear.selectSheet(target);
  const bool ran = runProgram(workbook, clear.finish());
  workbook.sheetAt(sheetIndex)->selection = kept;
  return ran;
}

bool pasteNative(Workbook& workbook, UndoList& undo, const std::vector<uint8_t>& bytes, const PasteOptions& options) {
  const int32_t sheetIndex = workbook.activeSheetIndex();
  Sheet& sheet = *workbook.activeSheet();
  const Area selection = sheet.selection.area();
  uint32_t columns = 0, rows = 0;
  if (!rangeSize(bytes, columns, rows)) {
    setError(Err::Clipboard);
    return false;
  }
  if (int64_t{selection.firstColumn} + columns > MaxColumns || int64_t{selection.firstRow} + rows > MaxRows) {
    setError(Err::EmbeddingOutOfBounds);
    return false;
  }
  const Area dest{selection.firstRow, selection.firstColumn, static_cast<uint16_t>(selection.firstRow + rows - 1),
                  static_cast<uint16_t>(selection.firstColumn + columns - 1)};
  if (cutsMerged(sheet, dest)) {
    setError(Err::FillMerged);
    return false;
  }

  // A cut moves its cells within the workbook it came from, once; anywhere else it copies.
  const int32_t from = cutSheet(workbook);
  const Area source = g_source.range;
  const bool cut = from >= 0 && source.lastRow - source.firstRow + 1 == static_cast<int32_t>(rows) &&
                   source.lastColumn - source.firstColumn + 1 == static_cast<int32_t>(columns);
  if (cut && from == sheetIndex && source == dest) {
    g_source.cut = false;
    selectArea(workbook, sheetIndex, dest);
    return true;
  }
  if (cut && from == sheetIndex && plainOptions(options) && cellsAlone(sheet, source) && cellsAlone(sheet, dest)) {
    if (!moveBlock(workbook, undo, source, dest.firstColumn, dest.firstRow)) return false;
    g_source.cut = false;
    return true;
  }

  PasteRecord change{workbook, sheetIndex, selection, {}, {}, {}};
  change.parts.emplace_back(workbook, sheetIndex, std::vector<Area>{dest});
  if (cut && from == sheetIndex) change.parts.front().addArea(source);
  else if (cut) change.parts.emplace_back(workbook, from, std::vector<Area>{source});
  change.before();

  bool ok = !cut || clearCut(workbook, from, source, options, sheetIndex);
  if (ok && options.validation) ok = clearRulesIn(sheet, dest);
  if (ok) {
    PasteTarget target;
    target.sheet = sheetIndex;
    target.column = dest.firstColumn;
    target.row = dest.firstRow;
    target.options = options;
    NativeReadOptions read;
    read.paste = &target;
    MemoryDocStream in(bytes.data(), bytes.size());
    ok = ReadNative(workbook, in, read);
  }
  change.after();
  if (!ok) {
    if (pendingError() == 0) setError(Err::Clipboard);
    change.rollBack();
    return false;
  }
  // References to the cut cells follow them when their values moved on the one sheet.
  if (cut && from == sheetIndex && options.contents && !options.skipBlanks) {
    ProgramBuilder adjust;
    adjust.selectSheet(sheetIndex);
    pushArea(pushArea(adjust, dest), source).call(CommandFunction::MoveAdjust);
    pushArea(pushArea(change.redo, dest), source).call(CommandFunction::MoveAdjust);
    setMoveRecorder(&change.back);
    ok = runProgram(workbook, adjust.finish());
    setMoveRecorder(nullptr);
  }
  if (!ok || !change.record(undo, dest)) return false;
  if (cut) g_source.cut = false;
  return true;
}

// Reads `text` as typed into the cell, as enterCellValue does without the validation
// check; a field that is no valid formula is kept as text, so that nothing pasted is lost.
CellRecord typedCell(Workbook& workbook, int32_t sheetIndex, int32_t column, int32_t row, std::u16string_view text) {
  const Sheet& sheet = *workbook.sheetAt(sheetIndex);
  const int16_t effective = sheet.effectiveStyle(column, row);
  const uint16_t formatIndex = workbook.style(effective).numberFormat;
  const NumberFormatRecord* format =
      formatIndex < workbook.numberFormats.size() ? &workbook.numberFormats[formatIndex] : nullptr;
  CellRecord old;
  sheet.getCell(column, row, old);
  CellValue value = emptyValue();
  int suggested = -1;
  if (format && format->kind == FormatKind::Text) {
    if (!text.empty()) makeText(value, text);
  } else {
    const SavedErrorState saved = saveErrorState();
    const CellPosition base{static_cast<uint16_t>(column), static_cast<uint16_t>(row),
                            static_cast<uint16_t>(sheetIndex)};
    value = readEntry(&workbook, text, base, &suggested, false);
    restoreErrorState(saved);
    if (value.kind == ValueKind::Empty && !text.empty()) makeText(value, text);
  }
  int16_t style = old.style;
  if (suggested != SuggestedFormat::None) {
    const int16_t changed = styleForSuggestion(workbook, effective, suggested);
    if (changed != effective) style = changed;
  }
  return CellRecord{value, style};
}

bool pasteText(Workbook& workbook, UndoList& undo, std::u16string_view text, const PasteOptions& options) {
  if (!options.contents) {  // text brings contents alone
    setError(Err::Clipboard);
    return false;
  }
  const int32_t sheetIndex = workbook.activeSheetIndex();
  Sheet& sheet = *workbook.activeSheet();
  const Area selection = sheet.selection.area();

  // First pass: the block's columns and lines; a last line with nothing on it is none.
  size_t columns = 1, lines = 1, fields = 1;
  for (char16_t ch : text) {
    if (ch == u'\t') columns = std::max(columns, ++fields);
    else if (ch == u'\n') ++lines, fields = 1;
  }
  const size_t lastBreak = text.rfind(u'\n');
  const std::u16string_view lastLine = lastBreak == std::u16string_view::npos ? text : text.substr(lastBreak + 1);
  if (std::all_of(lastLine.begin(), lastLine.end(), [](char16_t ch) { return ch < 32 && ch != u'\t'; })) --lines;
  if (lines == 0) {
    setError(Err::Clipboard);
    return false;
  }
  const Area dest{selection.firstRow, selection.firstColumn,
                  static_cast<uint16_t>(std::min<size_t>(selection.firstRow + lines - 1, MaxRows - 1)),
                  static_cast<uint16_t>(std::min<size_t>(selection.firstColumn + columns - 1, MaxColumns - 1))};
  if (cutsMerged(sheet, dest)) {
    setError(Err::FillMerged);
    return false;
  }

  PasteRecord change{workbook, sheetIndex, selection, {}, {}, {}};
  change.parts.emplace_back(workbook, sheetIndex, std::vector<Area>{dest});
  change.before();
  // Second pass: a tab ends a field, a line break the row; other control characters go.
  bool ok = true;
  std::u16string field;
  int32_t column = dest.firstColumn, row = dest.firstRow;
  auto store = [&] {
    const bool inside = column < MaxColumns && row <= dest.lastRow && row - dest.firstRow < static_cast<int32_t>(lines);
    if (ok && inside && !(field.empty() && options.skipBlanks))
      ok = sheet.setCell(column, row, typedCell(workbook, sheetIndex, column, row, field));
    field.clear();
  };
  for (char16_t ch : text) {
    if (ch == u'\t') {
      store();
      ++column;
    } else if (ch == u'\n') {
      store();
      column = dest.firstColumn;
      ++row;
    } else if (ch >= 32 && field.size() < MaxTextField) {
      field += ch;
    }
  }
  store();
  change.after();
  if (!ok) {
    if (pendingError() == 0) setError(Err::OutOfMemory);
    change.rollBack();
    return false;
  }
  return change.record(undo, dest);
}

}  // namespace

std::u16string clipboardTextOf(const std::vector<uint8_t>& bytes) {
  // The bytes go into a workbook of their own, formulas as their results, so that the
  // text shows what was copied whatever became of the workbook it came from.
  auto scratch = newWorkbook(1);
  PasteTarget target;
  target.options.formats = false;
  target.options.validation = false;
  target.options.onlyResults = true;
  NativeReadOptions read;
  read.paste = &target;
  NativeReadResult result;
  const SavedErrorState saved = saveErrorState();
  clearError();
  MemoryDocStream in(bytes.data(), bytes.size());
  const bool ok = ReadNative(*scratch, in, read, &result) && result.pasted;
  restoreErrorState(saved);
  if (!ok) return {};
  const Sheet& sheet = *scratch->sheetAt(0);
  const Area& area = result.pastedArea;
  const int32_t lastRow = std::min<int32_t>(area.lastRow, sheet.lastUsedRow(-1));
  std::u16string text;
  for (int32_t r = 0; r <= lastRow; ++r) {
    const int32_t last = sheet.lastValueInRow(r, area.lastColumn + 1);
    for (int32_t c = 0; c <= last; ++c) {
      if (c > 0) text += u'\t';
      std::u16string shown;
      valueToText(sheet.cellValue(c, r), shown);
      text += shown;
    }
    text += u"\r\n";
  }
  return text;
}

bool copySelection(Workbook& workbook, bool cut) {
  const Sheet* sheet = workbook.activeSheet();
  if (!sheet) {
    setError(Err::Clipboard);
    return false;
  }
  const int32_t sheetIndex = workbook.activeSheetIndex();
  const Area range = sheet->selection.area();
  MemoryDocStream out;
  WriteNativeRange(workbook, out, sheetIndex, range, cut);
  out.Flush();
  if (pendingError() != 0) return false;
  auto bytes = std::make_shared<const std::vector<uint8_t>>(out.data(), out.data() + out.size());
  if (!setClipboardData(*bytes, [bytes] { return clipboardTextOf(*bytes); })) {
    setError(Err::Clipboard);
    return false;
  }
  g_source = CopySource{workbook.serial(), sheetIndex, sheet->name, range, cut, clipboardSequence()};
  return true;
}

bool pasteSelection(Workbook& workbook, UndoList& undo, const PasteOptions& options) {
  if (!workbook.activeSheet()) {
    setError(Err::Clipboard);
    return false;
  }
  std::vector<uint8_t> bytes;
  if (clipboardPrivateData(bytes)) return pasteNative(workbook, undo, bytes, options);
  std::u16string text;
  if (clipboardText(text)) return pasteText(workbook, undo, text, options);
  setError(Err::Clipboard);
  return false;
}

bool clipboardHasData() { return clipboardHasPrivateData() || clipboardHasText(); }

}  // namespace kelp
