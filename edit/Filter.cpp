// The AutoFilter: data areas, column criteria, the record's command functions and the
// commands that turn a filter on, change it and turn it off.
#include "edit/Filter.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>

#include "edit/Commands.h"
#include "format/ValueText.h"
#include "formula/EntryReader.h"
#include "formula/Evaluator.h"
#include "formula/Recalc.h"
#include "formula/ValueOrder.h"
#include "model/CellTaskText.h"
#include "model/HandlePool.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/Text.h"

namespace kelp {

namespace {

constexpr char16_t FilterLabel[] = u"Filter";

// A call of 246 carries the record's head (active, the area's four bounds, the place of
// its first column within the area) and eight values for each of its columns; 31 columns
// keep a call within the 255 arguments a call can carry.
constexpr int HeadArguments = 6;
constexpr int ColumnArguments = 8;
constexpr int ColumnsPerCall = 31;

int32_t areaWidth(const Area& area) { return area.lastColumn - area.firstColumn + 1; }

std::u16string upper(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) c = upperCase(c);
  return out;
}

// The text a cell shows under its number format, without a cell task, in capitals.
std::u16string shownUpper(const Sheet& sheet, int32_t column, int32_t row) {
  const CellRecord* cell = sheet.cellPtr(column, row);
  if (!cell) return {};
  std::u16string text;
  const Workbook* workbook = sheet.workbook();
  if (workbook) {
    const uint32_t format = workbook->style(sheet.effectiveStyle(column, row)).numberFormat;
    displayText(cell->value, workbook->numberFormats, format, NoWidthLimit, nullptr, text);
  } else {
    displayText(cell->value, std::vector<NumberFormatRecord>{}, 0, NoWidthLimit, nullptr, text);
  }
  if (effectiveValue(cell->value).kind == ValueKind::Text) text = std::u16string(cellTaskDisplay(text));
  return upper(text);
}

// One condition of a custom criterion, ready to test cells with.
struct Condition {
  uint32_t op = FilterOperator::Any;
  CellValue value = emptyValue();  // operators 1 to 6; owned
  std::u16string text;             // operators 7 to 12, in capitals

  Condition() = default;
  Condition(const Condition&) = delete;
  Condition& operator=(const Condition&) = delete;
  ~Condition() { releaseValue(value); }

  // False when the criterion cannot be read, which leaves the column without effect.
  bool prepare(uint32_t op_, std::u16string_view criterion) {
    op = op_;
    if (op > FilterOperator::NotContains) return false;
    if (op >= FilterOperator::BeginsWith) {
      text = upper(criterion);
      return true;
    }
    if (op == FilterOperator::Any) return true;
    // "=5" means what "5" means. Read without a workbook, nothing is compiled, so a
    // criterion that still starts with "=" stays a text.
    if (!criterion.empty() && criterion[0] == u'=') criterion.remove_prefix(1);
    value = readEntry(nullptr, criterion, CellPosition{0, 0, 0}, nullptr, false);
    return value.kind != ValueKind::Empty || criterion.empty();
  }

  bool holds(const Sheet& sheet, int32_t column, int32_t row) const {
    if (op == FilterOperator::Any) return true;
    if (op >= FilterOperator::BeginsWith) {
      const std::u16string shown = shownUpper(sheet, column, row);
      switch (op) {
        case FilterOperator::BeginsWith: return shown.starts_with(text);
        case FilterOperator::NotBeginsWith: return !shown.starts_with(text);
        case FilterOperator::EndsWith: return shown.ends_with(text);
        case FilterOperator::NotEndsWith: return !shown.ends_with(text);
        case FilterOperator::Contains: return shown.find(text) != std::u16string::npos;
        default: return shown.find(text) == std::u16string::npos;
      }
    }
    const int c = compareToCell(sheet.cellValue(column, row));
    switch (op) {
      case FilterOperator::Equal: return c == 0;
      case FilterOperator::NotEqual: return c != 0;
      case FilterOperator::Greater: return c > 0;
      case FilterOperator::GreaterEqual: return c >= 0;
      case FilterOperator::Less: return c < 0;
      default: return c <= 0;
    }
  }

 private:
  // A cell task is no part of what a text cell shows, so it takes no part in the test.
  int compareToCell(const CellValue& cell) const {
    if (cell.kind != ValueKind::Text || !hasCellTask(textOf(cell))) return compareValues(&cell, &value, false, false);
    CellValue shown;
    makeText(shown, cellTaskDisplay(textOf(cell)));
    const int c = compareValues(&shown, &value, false, false);
    releaseValue(shown);
    return c;
  }
};

void hideCustom(const Sheet& sheet, int32_t column, const FilterColumn& criterion, int32_t firstRow,
                std::vector<bool>& hidden) {
  Condition first, second;
  if (!first.prepare(criterion.operator1, criterion.text1)) return;
  const bool hasSecond = criterion.operator2 != FilterOperator::Any;
  if (hasSecond && !second.prepare(criterion.operator2, criterion.text2)) return;
  for (size_t i = 1; i < hidden.size(); ++i) {
    const int32_t row = firstRow + static_cast<int32_t>(i);
    bool fails;
    if (criterion.joinAnd) {
      fails = !first.holds(sheet, column, row) || (hasSecond && !second.holds(sheet, column, row));
    } else {
      fails = !first.holds(sheet, column, row) && (!hasSecond || !second.holds(sheet, column, row));
    }
    if (fails) hidden[i] = true;
  }
}

// Top or bottom N ranks numbers and dates by value alone, as desktop spreadsheets do: a
// text or a logical is no candidate and its row is hidden. Of equal values the later row
// is picked first.
void hideTop(const Sheet& sheet, int32_t column, const FilterColumn& criterion, int32_t firstRow,
             std::vector<bool>& hidden) {
  std::vector<std::pair<double, int32_t>> ranked;  // value, row
  for (size_t i = 1; i < hidden.size(); ++i) {
    const int32_t row = firstRow + static_cast<int32_t>(i);
    const CellValue& value = sheet.cellValue(column, row);
    if (value.isNumeric()) ranked.emplace_back(value.number(), row);
  }
  const bool largest = criterion.largest != 0;
  std::sort(ranked.begin(), ranked.end(), [largest](const auto& a, const auto& b) {
    if (a.first != b.first) return largest ? a.first > b.first : a.first < b.first;
    return a.second > b.second;
  });
  std::vector<bool> picked(hidden.size(), false);
  const size_t count = std::min<size_t>(criterion.count, ranked.size());
  for (size_t i = 0; i < count; ++i) picked[static_cast<size_t>(ranked[i].second - firstRow)] = true;
  for (size_t i = 1; i < hidden.size(); ++i)
    if (!picked[i]) hidden[i] = true;
}

}  // namespace

bool dataArea(const Sheet& sheet, Area& out) {
  const Area selection = sheet.selection.area();
  if (selection.firstRow == selection.lastRow && selection.firstColumn == selection.lastColumn)
    return currentRegion(sheet, selection.firstColumn, selection.firstRow, out);
  out = selection;
  const int32_t lastRow = std::min<int32_t>(selection.lastRow, sheet.lastUsedRow(-1));
  if (lastRow < selection.firstRow) return false;
  out.lastRow = static_cast<uint16_t>(lastRow);
  return true;
}

namespace {

// Records the change of the active sheet's filter to `after` together with the rows whose
// hidden flag changes (row, hidden after), and performs it.
bool recordFilterChange(Workbook& workbook, UndoList& undo, const AutoFilter& after,
                        const std::vector<std::pair<int32_t, bool>>& rows) {
  const Sheet& sheet = *workbook.activeSheet();
  const int32_t sheetIndex = workbook.activeSheetIndex();
  ProgramBuilder redo, back;
  redo.selectSheet(sheetIndex);
  appendAutoFilter(redo, after);
  back.selectSheet(sheetIndex).restoreAutoFilter(sheet);
  for (const auto& [row, hidden] : rows) {
    redo.smallInteger(static_cast<uint16_t>(row)).logical(hidden).call(CommandFunction::HideRow);
    back.smallInteger(static_cast<uint16_t>(row)).logical(!hidden).call(CommandFunction::HideRow);
  }
  redo.call(CommandFunction::Recalculate);
  back.call(CommandFunction::Recalculate);
  CommandProgram redoDone = redo.finish();
  CommandProgram undoDone = back.finish();
  if (!redoDone.valid() || !undoDone.valid()) return false;
  return undo.recordUndo(workbook, std::move(undoDone), std::move(redoDone), FilterLabel, true);
}

// The rows of `area` that are hidden now: showing them is the change.
void showHiddenRows(const Sheet& sheet, const Area& area, std::vector<std::pair<int32_t, bool>>& rows) {
  for (int32_t r = sheet.nextRow(area.firstRow - 1); r <= area.lastRow && r < NoRow; r = sheet.nextRow(r))
    if (sheet.isRowHidden(r)) rows.emplace_back(r, false);
}

Sheet* runningSheet() {
  Workbook* workbook = evalState().workbook;
  return workbook ? workbook->activeSheet() : nullptr;
}

}  // namespace

// ----- Sheet operations.

bool currentRegion(const Sheet& sheet, int32_t column, int32_t row, Area& out) {
  auto holdsValues = [&sheet](int32_t r) { return sheet.lastValueInRow(r, NoColumn) >= 0; };
  if (column < 0 || column >= MaxColumns || row < 0 || row >= MaxRows || !holdsValues(row)) return false;
  int32_t first = row, last = row;
  while (first > 0 && holdsValues(first - 1)) --first;
  while (last < MaxRows - 1 && holdsValues(last + 1)) ++last;
  int32_t firstColumn = NoColumn, lastColumn = -1;
  for (int32_t r = first; r <= last; ++r) {
    firstColumn = std::min(firstColumn, sheet.nextValueInRow(r, -1));
    lastColumn = std::max(lastColumn, sheet.lastValueInRow(r, NoColumn));
  }
  out = Area{static_cast<uint16_t>(first), static_cast<uint16_t>(firstColumn), static_cast<uint16_t>(last),
             static_cast<uint16_t>(lastColumn)};
  return out.contains(column, row);
}

void setFilter(Sheet& sheet, const Area& area) {
  AutoFilter& filter = sheet.autoFilter;
  filter.area = area;
  filter.columns.assign(static_cast<size_t>(areaWidth(area)), FilterColumn{});
  filter.active = 1;
}

std::vector<bool> filterHiddenRows(const Sheet& sheet, const AutoFilter& filter) {
  const Area& area = filter.area;
  if (area.firstRow > area.lastRow || area.firstColumn > area.lastColumn) return {};
  std::vector<bool> hidden(static_cast<size_t>(area.lastRow - area.firstRow + 1), false);
  if (!filter.active) return hidden;
  const size_t columns = std::min<size_t>(filter.columns.size(), static_cast<size_t>(areaWidth(area)));
  for (size_t i = 0; i < columns; ++i) {
    const FilterColumn& criterion = filter.columns[i];
    const int32_t column = area.firstColumn + static_cast<int32_t>(i);
    switch (criterion.kind) {
      case FilterKind::Top:
        hideTop(sheet, column, criterion, area.firstRow, hidden);
        break;
      case FilterKind::Blanks:
      case FilterKind::NonBlanks: {
        const bool keepBlanks = criterion.kind == FilterKind::Blanks;
        for (size_t r = 1; r < hidden.size(); ++r) {
          const bool blank = sheet.cellValue(column, area.firstRow + static_cast<int32_t>(r)).kind == ValueKind::Empty;
          if (blank != keepBlanks) hidden[r] = true;
        }
        break;
      }
      case FilterKind::Custom:
        hideCustom(sheet, column, criterion, area.firstRow, hidden);
        break;
      default:
        break;  // no criterion, or one a later release knows
    }
  }
  return hidden;
}

void applyFilter(Sheet& sheet) {
  const std::vector<bool> hidden = filterHiddenRows(sheet, sheet.autoFilter);
  const int32_t firstRow = sheet.autoFilter.area.firstRow;
  for (size_t i = 1; i < hidden.size(); ++i) {
    const int32_t row = firstRow + static_cast<int32_t>(i);
    // An absent row is never hidden, so showing one needs no row made.
    if (hidden[i] || sheet.rowExists(row)) sheet.setRowHidden(row, hidden[i]);
  }
  if (Workbook* workbook = sheet.workbook()) recalculateAll(*workbook);
}

void resetCriteria(Sheet& sheet) {
  for (FilterColumn& column : sheet.autoFilter.columns) column = FilterColumn{};
  applyFilter(sheet);
}

void clearFilter(Sheet& sheet) {
  if (sheet.autoFilter.active) {
    std::vector<std::pair<int32_t, bool>> rows;
    showHiddenRows(sheet, sheet.autoFilter.area, rows);
    for (const auto& [row, hidden] : rows) sheet.setRowHidden(row, hidden);
  }
  sheet.autoFilter = AutoFilter{};
}

// ----- Programs.

ProgramBuilder& appendAutoFilter(ProgramBuilder& program, const AutoFilter& filter) {
  program.call(CommandFunction::RemoveAutoFilter);
  if (!filter.active && filter.columns.empty()) return program;
  const Area& area = filter.area;
  const int32_t width = areaWidth(area);
  for (int32_t at = 0; at < width; at += ColumnsPerCall) {
    const int32_t count = std::min(ColumnsPerCall, width - at);
    program.integer(static_cast<int32_t>(filter.active))
        .smallInteger(area.firstRow)
        .smallInteger(area.firstColumn)
        .smallInteger(area.lastRow)
        .smallInteger(area.lastColumn)
        .smallInteger(static_cast<uint16_t>(at));
    for (int32_t i = at; i < at + count; ++i) {
      const FilterColumn column =
          static_cast<size_t>(i) < filter.columns.size() ? filter.columns[static_cast<size_t>(i)] : FilterColumn{};
      for (uint32_t v : {column.kind, column.count, column.largest, column.operator1, column.operator2, column.joinAnd})
        program.integer(static_cast<int32_t>(v));
      program.text(column.text1).text(column.text2);
    }
    program.call(CommandFunction::SetAutoFilter, HeadArguments + count * ColumnArguments);
  }
  return program;
}

ProgramBuilder& ProgramBuilder::restoreAutoFilter(const Sheet& sheet) { return appendAutoFilter(*this, sheet.autoFilter); }

// 246: active, first row, first column, last row, last column, the place within the area
// of the first column carried, then for each column carried its kind, count, largest,
// first operator, second operator, and-join, first text and second text. The call for
// place 0 makes the area and resets every column; a later call must name the same area.
void commandSetAutoFilter() {
  const int count = argCount();
  if (count < HeadArguments + ColumnArguments || (count - HeadArguments) % ColumnArguments != 0) {
    discard(count);
    return pushError(CellError::Value);
  }
  std::vector<FilterColumn> carried(static_cast<size_t>((count - HeadArguments) / ColumnArguments));
  for (auto column = carried.rbegin(); column != carried.rend(); ++column) {
    column->text2 = popTextCopy();
    column->text1 = popTextCopy();
    for (uint32_t* v : {&column->joinAnd, &column->operator2, &column->operator1, &column->largest, &column->count,
                        &column->kind})
      *v = static_cast<uint32_t>(popInteger());
  }
  const int32_t place = popInteger();
  const int32_t lastColumn = popInteger();
  const int32_t lastRow = popInteger();
  const int32_t firstColumn = popInteger();
  const int32_t firstRow = popInteger();
  const uint32_t active = static_cast<uint32_t>(popInteger());
  Sheet* sheet = runningSheet();
  const bool good = evalState().pendingError == 0 && sheet && firstRow >= 0 && firstRow <= lastRow &&
                    lastRow < MaxRows && firstColumn >= 0 && firstColumn <= lastColumn && lastColumn < MaxColumns &&
                    place >= 0 && place + static_cast<int32_t>(carried.size()) <= lastColumn - firstColumn + 1;
  if (!good) {
    clearPendingError();
    return pushError(CellError::Value);
  }
  const Area area{static_cast<uint16_t>(firstRow), static_cast<uint16_t>(firstColumn), static_cast<uint16_t>(lastRow),
                  static_cast<uint16_t>(lastColumn)};
  AutoFilter& filter = sheet->autoFilter;
  if (place == 0) {
    filter.area = area;
    filter.columns.assign(static_cast<size_t>(areaWidth(area)), FilterColumn{});
  } else if (!(filter.area == area) || filter.columns.size() != static_cast<size_t>(areaWidth(area))) {
    return pushError(CellError::Value);
  }
  filter.active = active;
  std::move(carried.begin(), carried.end(), filter.columns.begin() + place);
  pushValue(emptyValue());
}

// 247: removes the active sheet's AutoFilter record; rows stay as they are.
void commandRemoveAutoFilter() {
  Sheet* sheet = runningSheet();
  if (!sheet) return pushError(CellError::Value);
  sheet->autoFilter = AutoFilter{};
  pushValue(emptyValue());
}

// ----- Commands.

bool filterOnCommand(Workbook& workbook, UndoList& undo) {
  Sheet* sheet = workbook.activeSheet();
  if (!sheet) return false;
  Area area;
  if (!dataArea(*sheet, area)) {
    setError(Err::NoData);
    return false;
  }
  std::vector<std::pair<int32_t, bool>> rows;
  if (sheet->autoFilter.active) showHiddenRows(*sheet, sheet->autoFilter.area, rows);
  AutoFilter after;
  after.active = 1;
  after.area = area;
  after.columns.assign(static_cast<size_t>(areaWidth(area)), FilterColumn{});
  return recordFilterChange(workbook, undo, after, rows);
}

bool filterColumnCommand(Workbook& workbook, UndoList& undo, int32_t column, const FilterColumn& criterion) {
  Sheet* sheet = workbook.activeSheet();
  if (!sheet || !sheet->autoFilter.active) return false;
  AutoFilter after = sheet->autoFilter;
  const Area& area = after.area;
  if (column < area.firstColumn || column > area.lastColumn || area.firstRow > area.lastRow) return false;
  after.columns.resize(static_cast<size_t>(areaWidth(area)));
  after.columns[static_cast<size_t>(column - area.firstColumn)] = criterion;
  const std::vector<bool> hidden = filterHiddenRows(*sheet, after);
  std::vector<std::pair<int32_t, bool>> rows;
  for (size_t i = 1; i < hidden.size(); ++i) {
    const int32_t row = area.firstRow + static_cast<int32_t>(i);
    if (sheet->isRowHidden(row) != hidden[i]) rows.emplace_back(row, hidden[i]);
  }
  return recordFilterChange(workbook, undo, after, rows);
}

bool filterOffCommand(Workbook& workbook, UndoList& undo) {
  Sheet* sheet = workbook.activeSheet();
  if (!sheet || !sheet->autoFilter.active) return false;
  std::vector<std::pair<int32_t, bool>> rows;
  showHiddenRows(*sheet, sheet->autoFilter.area, rows);
  return recordFilterChange(workbook, undo, AutoFilter{}, rows);
}

}  // namespace kelp
