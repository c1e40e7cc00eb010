// Filling the selection: block repeats, Fill Right and Fill Down, series and Autofill.
#include "edit/Fill.h"

#include <algorithm>
#include <cmath>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "edit/Commands.h"
#include "edit/Validation.h"
#include "format/DateSerial.h"
#include "formula/Tokens.h"
#include "model/CellValue.h"
#include "model/HandlePool.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/StringTable.h"
#include "platform/Text.h"

namespace kelp {

namespace {

namespace Label {
constexpr int FillRight = 3082, FillDown = 3083, FillSeries = 3087, Paste = 3090;
}
constexpr int BuiltInListsString = 2500;

const std::vector<std::u16string>* g_lists = nullptr;

bool outOfMemory() { return hasError(Err::OutOfMemory); }

// A copy of `value` for the cell (column, row) of `sheet` it is written to: a formula
// gets its own entry sharing the token string, which the cell's position then reads
// relative to, unless a reference of it would land past the sheet's edge.
CellValue copyForCell(const CellValue& value, const Sheet& sheet, int32_t column, int32_t row) {
  CellValue copy;
  if (value.kind != ValueKind::Formula) {
    copyValue(value, copy);
    return copy;
  }
  const CellPosition to{static_cast<uint16_t>(column), static_cast<uint16_t>(row), static_cast<uint16_t>(sheet.index)};
  const uint32_t tokens = tokensCopiedTo(formulaTokens(value), formulaPosition(value), to);
  if (tokens == NoHandle) return copy;
  copy = newFormulaValue(tokens, to);
  if (copy.kind != ValueKind::Formula) formulaPool().release(tokens);
  else copyValue(formulaResult(value), formulaResult(copy));
  return copy;
}

bool writeCopy(Sheet& sheet, int32_t column, int32_t row, const CellRecord& from) {
  CellValue copy = copyForCell(from.value, sheet, column, row);
  if (from.value.kind != ValueKind::Empty && copy.kind == ValueKind::Empty) return false;
  return sheet.setCell(column, row, CellRecord{copy, from.style}) && !outOfMemory();
}

// The items of one list text ("Sun,Mon,...,Sat,").
std::vector<std::u16string_view> listItems(std::u16string_view list) {
  std::vector<std::u16string_view> items;
  size_t start = 0;
  for (size_t comma = list.find(u','); comma != std::u16string_view::npos; comma = list.find(u',', start)) {
    items.push_back(list.substr(start, comma - start));
    start = comma + 1;
  }
  return items;
}

// The list holding `text` and the item's place in it; empty items when none does.
std::pair<std::vector<std::u16string_view>, size_t> findListItem(std::u16string_view text) {
  for (const std::u16string& list : fillLists()) {
    std::vector<std::u16string_view> items = listItems(list);
    for (size_t i = 0; i < items.size(); ++i)
      if (equalsIgnoreCase(items[i], text)) return {std::move(items), i};
  }
  return {{}, 0};
}

// The cell `step` places along a line from its first cell.
struct Line {
  bool down;
  int32_t fixed;  // the row (Right) or column (Down)
  int32_t column(int32_t step) const { return down ? fixed : step; }
  int32_t row(int32_t step) const { return down ? step : fixed; }
};

bool fillLine(Sheet& sheet, const Line& line, int32_t first, int32_t last, bool useLists) {
  CellRecord seed;
  sheet.getCellWithStyle(line.column(first), line.row(first), seed);
  if (useLists && seed.value.kind == ValueKind::Text) {
    auto [items, at] = findListItem(textOf(seed.value));
    if (!items.empty()) {
      for (int32_t i = first + 1; i <= last; ++i) {
        at = (at + 1) % items.size();
        CellValue item;
        makeText(item, items[at]);
        if (item.kind != ValueKind::Text || !sheet.setCell(line.column(i), line.row(i), CellRecord{item, seed.style}))
          return false;
      }
      return true;
    }
  }
  for (int32_t i = first + 1; i <= last; ++i)
    if (!writeCopy(sheet, line.column(i), line.row(i), seed)) return false;
  return true;
}

// Fill Down of whole columns from an empty top cell: the column takes the top cell's
// style, and only the cells that would read differently are written.
bool fillWholeColumn(Sheet& sheet, int32_t column, const CellRecord& top) {
  if (!sheet.columns.setColumnStyles(column, column, top.style)) return false;
  for (int32_t r = sheet.nextRow(0); r < NoRow; r = sheet.nextRow(r)) {
    const CellRecord* cell = sheet.cellPtr(column, r);
    if (!cell) continue;
    if (cell->value.kind != ValueKind::Empty || sheet.effectiveStyle(column, r) != top.style)
      if (!sheet.setCell(column, r, CellRecord{emptyValue(), top.style})) return false;
  }
  return true;
}

bool isWeekend(double whole) {
  int64_t day = ((693958 + static_cast<int64_t>(whole)) % 7 + 7) % 7;
  return day == 6 || day == 0;
}

// ----- Series.

// The value after `previous` (the `index`th cell of the line), or false to stop.
bool nextSeriesValue(const CellValue& seed, const CellValue& previous, int64_t index, const SeriesSettings& s,
                     double& out) {
  const double v = previous.number();
  if (seed.kind == ValueKind::Number) {
    if (s.type == SeriesType::Linear) out = v + s.step;
    else if (s.type == SeriesType::Growth) out = v * s.step;
    else return false;
    return std::isfinite(out);
  }
  if (s.type != SeriesType::Date) return false;
  switch (s.dateUnit) {
    case DateUnit::Day: out = v + s.step; break;
    case DateUnit::Weekday: out = addWeekdays(v, s.step); break;
    case DateUnit::Month: return addMonths(seed.number(), s.step, index, out);
    case DateUnit::Year: return addMonths(seed.number(), s.step * 12, index, out);
  }
  return out >= MinSerial && out < MaxSerial + 1;
}

// Whether the type continues a seed of this kind at all: numbers go linear or by
// growth, dates by date units.
bool progresses(const CellValue& seed, SeriesType type) {
  if (seed.kind == ValueKind::Number) return type == SeriesType::Linear || type == SeriesType::Growth;
  return seed.kind == ValueKind::DateTime && type == SeriesType::Date;
}

bool seriesLine(Sheet& sheet, const Line& line, int32_t first, int32_t last, const SeriesSettings& s) {
  CellRecord start;
  sheet.getCellWithStyle(line.column(first), line.row(first), start);
  const CellValue seed = effectiveValue(start.value);
  // A seed that cannot progress writes nothing.
  if (!progresses(seed, s.type)) return true;
  CellValue running = seed;
  for (int32_t i = first + 1; i <= last; ++i) {
    const int32_t column = line.column(i), row = line.row(i);
    double next = 0;
    bool goes = nextSeriesValue(seed, running, i - first, s, next);
    // A stop value bounds the series on the side it moves to.
    if (goes && s.hasStop) goes = next < running.number() ? next >= s.stop : next <= s.stop;
    if (!goes) {
      // The cell where the series ends is left empty; those after it keep their contents.
      if (const CellRecord* cell = sheet.cellPtr(column, row); cell && cell->value.kind != ValueKind::Empty)
        return sheet.setCell(column, row, CellRecord{emptyValue(), cell->style}) && !outOfMemory();
      return true;
    }
    running = doubleValue(seed.kind, next);
    if (!sheet.setCell(column, row, CellRecord{running, start.style}) || outOfMemory()) return false;
  }
  return true;
}

// ----- Commands.

bool touchesMerged(const Sheet& sheet, const Area& area) {
  if (!sheet.anyMergedOverlap(area)) return false;
  setError(Err::FillMerged);
  return true;
}

uint32_t slotKey(int32_t column, int32_t row) { return static_cast<uint32_t>(row) << 8 | static_cast<uint32_t>(column); }

// Runs `args` (pushes and calls on the selection) and records an undo program that
// puts back every cell of the selection, the column records of whole columns and the
// merged areas as they were. The restore steps are taken before the run, since what a
// fill writes depends on what it meets.
template <typename Args>
bool recordFill(Workbook& workbook, UndoList& undo, int labelId, Args args) {
  Sheet* sheet = workbook.activeSheet();
  if (!sheet) return false;
  const int32_t sheetIndex = workbook.activeSheetIndex();
  const Area area = sheet->selection.area();
  const bool wholeColumns = area.firstRow == 0 && area.lastRow == MaxRows - 1;

  ProgramBuilder back;
  back.selectSheet(sheetIndex).select(area);
  if (wholeColumns)
    for (int32_t c = area.firstColumn; c <= area.lastColumn; ++c) back.restoreColumn(*sheet, c);
  std::unordered_set<uint32_t> stored;
  for (int32_t r = sheet->nextRow(area.firstRow - 1); r <= area.lastRow && r < NoRow; r = sheet->nextRow(r))
    for (int32_t c = area.firstColumn; c <= area.lastColumn; ++c)
      if (const CellRecord* cell = sheet->cellPtr(c, r)) {
        stored.insert(slotKey(c, r));
        back.restoreCell(c, r, *cell);
      }
  // The fill refits the heights that were not set; undo puts those rows back as they
  // are, and rows the fill makes back to how an absent row reads.
  std::unordered_set<int32_t> rows;
  for (int32_t r = sheet->nextRow(area.firstRow - 1); r <= area.lastRow && r < NoRow; r = sheet->nextRow(r)) {
    rows.insert(r);
    if (!sheet->isRowHeightExplicit(r)) back.restoreRow(*sheet, r);
  }
  const std::vector<Area> merged(sheet->mergedAreas.begin(), sheet->mergedAreas.end());
  // Fill Right, Fill Down and series pass the first cells' validation rules on.
  if (rulesTouch(*sheet, area)) back.restoreValidations(*sheet);

  ProgramBuilder redo;
  redo.selectSheet(sheetIndex).select(area);
  args(redo);
  redo.call(CommandFunction::FitRowHeights).call(CommandFunction::Recalculate);
  CommandProgram redoDone = redo.finish();
  if (!redoDone.valid()) return false;
  // Cells filled before a failure stay; the undo program still puts them back.
  runProgram(workbook, redoDone);

  for (int32_t r = sheet->nextRow(area.firstRow - 1); r <= area.lastRow && r < NoRow; r = sheet->nextRow(r)) {
    if (!rows.count(r)) back.restoreAbsentRow(*sheet, r);
    for (int32_t c = area.firstColumn; c <= area.lastColumn; ++c)
      if (sheet->cellPtr(c, r) && !stored.count(slotKey(c, r))) back.restoreCell(c, r, blankCell());
  }
  if (!std::equal(merged.begin(), merged.end(), sheet->mergedAreas.begin(), sheet->mergedAreas.end())) {
    // The merged areas are put back as a whole so that they keep their order.
    back.restoreMergedAreas(merged).select(area);
  }
  back.call(CommandFunction::Recalculate);
  CommandProgram undoDone = back.finish();
  if (!undoDone.valid()) return false;
  return undo.recordUndo(workbook, std::move(undoDone), std::move(redoDone), std::u16string(loadString(labelId)),
                         false);
}

bool fillFromFirstCommand(Workbook& workbook, UndoList& undo, FillDirection direction, bool useLists) {
  Sheet* sheet = workbook.activeSheet();
  if (!sheet || touchesMerged(*sheet, sheet->selection.area())) return false;
  const bool down = direction == FillDirection::Down;
  return recordFill(workbook, undo, down ? Label::FillDown : Label::FillRight, [&](ProgramBuilder& b) {
    b.logical(useLists)
        .call(down ? CommandFunction::FillDown : CommandFunction::FillRight)
        .call(down ? CommandFunction::ValidationDown : CommandFunction::ValidationRight);
  });
}

bool seriesProgram(Workbook& workbook, UndoList& undo, const SeriesSettings& s) {
  return recordFill(workbook, undo, Label::FillSeries, [&](ProgramBuilder& b) {
    b.logical(s.hasStop)
        .number(s.stop)
        .number(s.step)
        .smallInteger(static_cast<uint16_t>(s.dateUnit))
        .smallInteger(static_cast<uint16_t>(s.type))
        .smallInteger(static_cast<uint16_t>(s.direction))
        .call(CommandFunction::Series)
        .call(s.direction == FillDirection::Down ? CommandFunction::ValidationDown : CommandFunction::ValidationRight);
  });
}

}  // namespace

void installFillLists(const std::vector<std::u16string>* lists) { g_lists = lists; }

std::vector<std::u16string> parseCustomLists(std::u16string_view text) {
  std::vector<std::u16string> lists;
  size_t start = 0;
  for (size_t semicolon = text.find(u';'); semicolon != std::u16string_view::npos;
       semicolon = text.find(u';', start)) {
    lists.emplace_back(text.substr(start, semicolon - start));
    start = semicolon + 1;
  }
  return lists;
}

const std::vector<std::u16string>& fillLists() {
  if (g_lists) return *g_lists;
  static const std::vector<std::u16string> builtIn = parseCustomLists(loadString(BuiltInListsString));
  return builtIn;
}

bool fillArea(Sheet& sheet, const Area& source, const Area& dest, const Area& selection) {
  const int32_t width = source.lastColumn - source.firstColumn + 1;
  const int32_t height = source.lastRow - source.firstRow + 1;
  const bool copyMerged = sheet.findMergedInside(selection) >= 0;
  for (int32_t r = dest.firstRow, rowStep = 0; r <= dest.lastRow; ++r, rowStep = (rowStep + 1) % height) {
    // The source column restarts with each row, so every row repeats the block alike.
    for (int32_t c = dest.firstColumn, columnStep = 0; c <= dest.lastColumn;
         ++c, columnStep = (columnStep + 1) % width) {
      if (source.contains(c, r)) continue;
      const int32_t sc = source.firstColumn + columnStep, sr = source.firstRow + rowStep;
      CellRecord from;
      sheet.getCellWithStyle(sc, sr, from);
      if (!writeCopy(sheet, c, r, from)) return false;
      Area m;
      if (copyMerged && sheet.findMergedAt(c, r) < 0 && sheet.findMergedAt(sc, sr, &m) >= 0 && m.firstColumn == sc &&
          m.firstRow == sr) {
        const int32_t lastRow = r + m.lastRow - m.firstRow, lastColumn = c + m.lastColumn - m.firstColumn;
        if (lastRow < MaxRows && lastColumn < MaxColumns &&
            !sheet.mergedAreas.append(Area{static_cast<uint16_t>(r), static_cast<uint16_t>(c),
                                           static_cast<uint16_t>(lastRow), static_cast<uint16_t>(lastColumn)}))
          return false;
      }
    }
  }
  return true;
}

bool fillFromFirst(Sheet& sheet, const Area& area, FillDirection direction, bool useLists) {
  const bool wholeColumns = area.firstRow == 0 && area.lastRow == MaxRows - 1;
  if (direction == FillDirection::Right) {
    // Over whole columns only the rows that exist are filled: an absent row's cells
    // read their columns' styles, and copying those across would create every row.
    for (int32_t r = wholeColumns ? sheet.nextRow(-1) : area.firstRow; r <= area.lastRow && r < NoRow;
         r = wholeColumns ? sheet.nextRow(r) : r + 1)
      if (!fillLine(sheet, Line{false, r}, area.firstColumn, area.lastColumn, useLists)) return false;
    return true;
  }
  for (int32_t c = area.firstColumn; c <= area.lastColumn; ++c) {
    CellRecord top;
    sheet.getCellWithStyle(c, 0, top);
    bool done = wholeColumns && top.value.kind == ValueKind::Empty
                    ? fillWholeColumn(sheet, c, top)
                    : fillLine(sheet, Line{true, c}, area.firstRow, area.lastRow, useLists);
    if (!done) return false;
  }
  return true;
}

bool fillSeries(Sheet& sheet, const Area& area, const SeriesSettings& settings) {
  if (settings.direction == FillDirection::Right) {
    for (int32_t r = area.firstRow; r <= area.lastRow; ++r)
      if (!seriesLine(sheet, Line{false, r}, area.firstColumn, area.lastColumn, settings)) return false;
    return true;
  }
  for (int32_t c = area.firstColumn; c <= area.lastColumn; ++c)
    if (!seriesLine(sheet, Line{true, c}, area.firstRow, area.lastRow, settings)) return false;
  return true;
}

bool addMonths(double seed, double months, int64_t index, double& out) {
  const double whole = std::floor(seed);
  DateFields fields;
  if (!std::isfinite(months) || !fieldsFromSerial(whole, fields)) return false;
  // Each cell counts from the seed, so a day clamped in a short month comes back later.
  const double total = fields.year * 12.0 + (fields.month - 1) + std::trunc(months) * static_cast<double>(index);
  if (total < 100 * 12.0 || total > 9999 * 12.0 + 11) return false;
  const int year = static_cast<int>(std::floor(total / 12));
  const int month = static_cast<int>(total - year * 12.0) + 1;
  const int day = std::min(fields.day, daysInMonth(year, month));
  double date = 0;
  if (!serialFromFields(year, month, day, 0, 0, 0, 0, true, date)) return false;
  out = date + (seed - whole);
  return true;
}

double addWeekdays(double seed, double step) {
  if (!std::isfinite(step) || std::fabs(step) >= 4e6) return seed + step;  // beyond any date: stops as out of range
  int64_t count = static_cast<int64_t>(std::trunc(step));
  if (count == 0) return seed;
  const double time = seed - std::floor(seed);
  double whole = std::floor(seed);
  const int direction = count > 0 ? 1 : -1;
  count *= direction;
  // The first weekday is found day by day, since the seed may lie on a weekend; from a
  // weekday on, each five weekdays are one week.
  do whole += direction;
  while (isWeekend(whole));
  --count;
  whole += direction * 7.0 * static_cast<double>(count / 5);
  for (count %= 5; count > 0;) {
    whole += direction;
    if (!isWeekend(whole)) --count;
  }
  return whole + time;
}

bool fillBlockCommand(Workbook& workbook, UndoList& undo, const Area& source) {
  if (!workbook.activeSheet() || source.firstRow > source.lastRow || source.firstColumn > source.lastColumn ||
      source.lastRow >= MaxRows || source.lastColumn >= MaxColumns)
    return false;
  return recordFill(workbook, undo, Label::Paste, [&](ProgramBuilder& b) {
    b.smallInteger(source.firstColumn)
        .smallInteger(source.lastColumn)
        .smallInteger(source.firstRow)
        .smallInteger(source.lastRow)
        .call(CommandFunction::FillBlock);
  });
}

bool fillRightCommand(Workbook& workbook, UndoList& undo, bool useLists) {
  return fillFromFirstCommand(workbook, undo, FillDirection::Right, useLists);
}

bool fillDownCommand(Workbook& workbook, UndoList& undo, bool useLists) {
  return fillFromFirstCommand(workbook, undo, FillDirection::Down, useLists);
}

bool seriesCommand(Workbook& workbook, UndoList& undo, const SeriesSettings& settings) {
  Sheet* sheet = workbook.activeSheet();
  if (!sheet || touchesMerged(*sheet, sheet->selection.area())) return false;
  if (settings.type == SeriesType::AutoFill)
    return autoFill(workbook, undo, sheet->selection.area(), settings.direction);
  return seriesProgram(workbook, undo, settings);
}

bool autoFill(Workbook& workbook, UndoList& undo, const Area& source, FillDirection direction) {
  Sheet* sheet = workbook.activeSheet();
  if (!sheet) return false;
  const Area target = sheet->selection.area();
  if (touchesMerged(*sheet, target)) return false;
  const bool down = direction == FillDirection::Down;
  auto plain = [&] { return fillFromFirstCommand(workbook, undo, direction, true); };
  if (target.lastRow > target.firstRow && target.lastColumn > target.firstColumn) return plain();

  // A formula is copied rather than continued, so its references move with it.
  const CellValue& first = sheet->cellValue(target.firstColumn, target.firstRow);
  const CellRecord* firstCell = sheet->cellPtr(target.firstColumn, target.firstRow);
  if (!firstCell || firstCell->value.kind == ValueKind::Formula || !first.isNumeric()) return plain();
  const bool hasSecond = down ? source.lastRow > source.firstRow : source.lastColumn > source.firstColumn;
  const CellValue& second = down ? sheet->cellValue(target.firstColumn, target.firstRow + 1)
                                 : sheet->cellValue(target.firstColumn + 1, target.firstRow);
  if (hasSecond && second.kind != first.kind) return plain();

  SeriesSettings s;
  s.direction = direction;
  if (first.kind == ValueKind::Number) {
    if (!hasSecond) return plain();
    s.type = SeriesType::Linear;
    s.step = second.number() - first.number();
  } else {
    s.type = SeriesType::Date;
    s.dateUnit = DateUnit::Day;
    s.step = hasSecond ? second.number() - first.number() : first.number() < 1 ? 1.0 / 24 : 1.0;
  }
  return seriesProgram(workbook, undo, s);
}

}  // namespace kelp
