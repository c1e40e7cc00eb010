// Outline commands: show and hide detail, group, ungroup, clear and auto outline.
#include "edit/Outline.h"

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "edit/Commands.h"
#include "edit/Filter.h"
#include "formula/Tokens.h"
#include "model/FormulaTable.h"
#include "model/HandlePool.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/StringTable.h"

namespace kelp {

namespace {

namespace Label {
constexpr int AutoOutline = 2630, ClearOutline = 2631, ShowDetail = 2632, HideDetail = 2633, Group = 2634,
              Ungroup = 2635;
}

constexpr int MaxLevel = 7;

int rowLevel(const Sheet& sheet, int32_t row) {
  const Row* r = sheet.rowAt(row);
  return r ? r->flags & 7 : 0;
}

int lineLevel(const Sheet& sheet, bool columns, int32_t line) {
  return columns ? sheet.columns.columnOutlineLevel(line) : rowLevel(sheet, line);
}

ProgramBuilder& setLevel(ProgramBuilder& b, bool columns, int32_t line, int level) {
  return b.smallInteger(static_cast<uint16_t>(line))
      .smallInteger(static_cast<uint16_t>(level))
      .call(columns ? CommandFunction::ColumnOutline : CommandFunction::RowOutline);
}

// Both programs of an outline command start on the active sheet and its selection, so
// that undo and redo show the user where the change was.
struct OutlineChange {
  explicit OutlineChange(Workbook& workbook) : sheet(workbook.activeSheet()) {
    if (!sheet) return;
    redo.selectSheet(workbook.activeSheetIndex()).select(sheet->selection.area());
    back.selectSheet(workbook.activeSheetIndex()).select(sheet->selection.area());
  }
  /// Ends both programs with the recount of the deepest levels when they changed levels.
  bool record(Workbook& workbook, UndoList& undo, int labelId, bool levels) {
    if (levels)
      for (ProgramBuilder* b : {&redo, &back})
        b->call(CommandFunction::RowOutlineTop).call(CommandFunction::ColumnOutlineTop);
    CommandProgram redoDone = redo.finish();
    CommandProgram undoDone = back.finish();
    if (!redoDone.valid() || !undoDone.valid()) return false;
    return undo.recordUndo(workbook, std::move(undoDone), std::move(redoDone), std::u16string(loadString(labelId)),
                           true);
  }
  Sheet* sheet;
  ProgramBuilder redo, back;
};

// The detail lines of the active line: those just above (left of) it whose level is
// deeper than its own, as [first, active line).
int32_t detailStart(const Sheet& sheet, bool columns) {
  const int32_t active = columns ? sheet.selection.activeColumn : sheet.selection.activeRow;
  const int level = lineLevel(sheet, columns, active);
  int32_t first = active;
  while (first > 0 && lineLevel(sheet, columns, first - 1) > level) --first;
  return first;
}

bool changeDetail(Workbook& workbook, UndoList& undo, bool hidden) {
  OutlineChange change(workbook);
  if (!change.sheet) return false;
  const Sheet& sheet = *change.sheet;
  bool any = false;
  if (sheet.rowOutlineTop > 0)
    for (int32_t r = detailStart(sheet, false); r < sheet.selection.activeRow; ++r) {
      if (sheet.isRowHidden(r) == hidden) continue;
      change.back.restoreRow(sheet, r);
      change.redo.smallInteger(static_cast<uint16_t>(r)).logical(hidden).call(CommandFunction::HideRow);
      any = true;
    }
  if (sheet.columnOutlineTop > 0)
    for (int32_t c = detailStart(sheet, true); c < sheet.selection.activeColumn; ++c) {
      if (sheet.columns.isColumnHidden(c) == hidden) continue;
      change.back.restoreColumn(sheet, c);
      change.redo.smallInteger(static_cast<uint16_t>(c)).logical(hidden).call(CommandFunction::HideColumn);
      any = true;
    }
  return any && change.record(workbook, undo, hidden ? Label::HideDetail : Label::ShowDetail, false);
}

// The walk of auto outline over one direction of a region: rows, or columns for a region
// of one row. `levels` holds the new level of every line it has touched.
class DetailFinder {
 public:
  DetailFinder(const Sheet& sheet, int32_t sheetIndex, const Area& region, bool columns)
      : m_sheet(sheet), m_sheetIndex(sheetIndex), m_region(region), m_columns(columns) {}

  /// Examines the summary formulas of every line of the region.
  void run() {
    const int32_t first = m_columns ? m_region.firstColumn : m_region.firstRow;
    const int32_t last = m_columns ? m_region.lastColumn : m_region.lastRow;
    for (int32_t line = first; line <= last; ++line) examine(line, 0);
  }

  /// The level a line has before the change, as the walk counts from: the region's
  /// lines start again from 0.
  int startLevel(int32_t line) const {
    const bool inside = m_columns ? line >= m_region.firstColumn && line <= m_region.lastColumn
                                  : line >= m_region.firstRow && line <= m_region.lastRow;
    return inside ? 0 : lineLevel(m_sheet, m_columns, line);
  }

  const std::map<int32_t, int>& levels() const { return m_levels; }

 private:
  // The formulas of `line` (its cells across the region) at `depth` below the summary.
  void examine(int32_t line, int depth) {
    if (depth >= MaxLevel || (!m_columns && !m_sheet.rowExists(line))) return;
    // A line examined at this depth or deeper has already given its details at least
    // these levels; the check also ends formulas that name each other.
    auto seen = m_examined.find(line);
    if (seen != m_examined.end() && seen->second >= depth) return;
    m_examined[line] = depth;
    const int32_t from = m_columns ? m_region.firstRow : m_region.firstColumn;
    const int32_t to = m_columns ? m_region.lastRow : m_region.lastColumn;
    for (int32_t across = from; across <= to; ++across) {
      const int32_t column = m_columns ? line : across, row = m_columns ? across : line;
      const CellRecord* cell = m_sheet.cellPtr(column, row);
      if (!cell || cell->value.kind != ValueKind::Formula) continue;
      const uint32_t tokens = formulaTokens(cell->value);
      if (tokens == NoHandle || !formulaPool().isLive(tokens)) continue;
      const auto* data = static_cast<const uint8_t*>(formulaPool().data(tokens));
      const CellPosition base{static_cast<uint16_t>(column), static_cast<uint16_t>(row),
                              static_cast<uint16_t>(m_sheetIndex)};
      for (const auto& [a, b] : detailRanges(data + 4, readU32(data), base))
        for (int32_t detail = a; detail <= b; ++detail) {
          if (detail == line) continue;
          auto known = m_levels.find(detail);
          const int level = known != m_levels.end() ? known->second : startLevel(detail);
          if (level < depth + 1) m_levels[detail] = depth + 1;
          examine(detail, depth + 1);
        }
    }
  }

  // The lines (first, last) that the area references of a token string span on this
  // sheet, read from the formula's cell.
  std::vector<std::pair<int32_t, int32_t>> detailRanges(const uint8_t* tokens, size_t length, CellPosition base) const {
    std::vector<std::pair<int32_t, int32_t>> out;
    size_t at = 0;
    while (at < length) {
      const uint8_t op = tokens[at];
      const uint8_t size = payloadSize(op);
      if (size == 255 || at + 1 + size > length) break;  // a damaged string ends the walk
      const uint8_t* payload = tokens + at + 1;
      const uint8_t* corners = nullptr;
      if (op == static_cast<uint8_t>(Op::AreaRef)) {
        corners = payload;
      } else if (op == static_cast<uint8_t>(Op::SheetAreaRef) && payload[1] == 0 && payload[2] == m_sheetIndex &&
                 payload[3] == m_sheetIndex) {
        corners = payload + 4;  // this sheet named by its name
      }
      if (corners) {
        CellRefCode area[2] = {readCellRef(corners), readCellRef(corners + 4)};
        resolveArea(area, base);
        int32_t a = m_columns ? area[0].colWord & RefBit::ColumnMask : area[0].row;
        int32_t b = m_columns ? area[1].colWord & RefBit::ColumnMask : area[1].row;
        out.emplace_back(std::min(a, b), std::max(a, b));
      }
      at += 1 + size;
    }
    return out;
  }

  const Sheet& m_sheet;
  int32_t m_sheetIndex;
  Area m_region;
  bool m_columns;
  std::map<int32_t, int> m_levels;
  std::map<int32_t, int> m_examined;
};

bool hasRowLevels(const Sheet& sheet) { return sheet.rowOutlineTop > 0; }
bool hasColumnLevels(const Sheet& sheet) { return sheet.columnOutlineTop > 0; }

}  // namespace

bool detailAvailable(const Sheet& sheet) {
  const int32_t row = sheet.selection.activeRow, column = sheet.selection.activeColumn;
  if (hasRowLevels(sheet) && row > 0 && rowLevel(sheet, row) < rowLevel(sheet, row - 1)) return true;
  return hasColumnLevels(sheet) && column > 0 &&
         sheet.columns.columnOutlineLevel(column) < sheet.columns.columnOutlineLevel(column - 1);
}

bool showDetail(Workbook& workbook, UndoList& undo) { return changeDetail(workbook, undo, false); }

bool hideDetail(Workbook& workbook, UndoList& undo) { return changeDetail(workbook, undo, true); }

bool groupLines(Workbook& workbook, UndoList& undo, bool columns, bool group) {
  OutlineChange change(workbook);
  if (!change.sheet) return false;
  const Sheet& sheet = *change.sheet;
  const Area area = sheet.selection.area();
  bool any = false;
  auto step = [&](int32_t line) {
    const int level = lineLevel(sheet, columns, line);
    if (group ? level >= MaxLevel : level <= 0) return;
    setLevel(change.redo, columns, line, group ? level + 1 : level - 1);
    setLevel(change.back, columns, line, level);
    any = true;
  };
  if (columns) {
    for (int32_t c = area.firstColumn; c <= area.lastColumn; ++c) step(c);
  } else if (group && !(area.firstRow == 0 && area.lastRow == MaxRows - 1)) {
    for (int32_t r = area.firstRow; r <= area.lastRow; ++r) step(r);
  } else {
    // An absent row is at level 0 already; with whole columns selected, as for the
    // other row commands, only the rows that exist are grouped.
    for (int32_t r = sheet.nextRow(area.firstRow - 1); r <= area.lastRow && r < NoRow; r = sheet.nextRow(r)) step(r);
  }
  return any && change.record(workbook, undo, group ? Label::Group : Label::Ungroup, true);
}

bool clearOutline(Workbook& workbook, UndoList& undo) {
  OutlineChange change(workbook);
  if (!change.sheet) return false;
  const Sheet& sheet = *change.sheet;
  bool any = false;
  for (int32_t r = sheet.nextRow(-1); r < NoRow; r = sheet.nextRow(r))
    if (const int level = rowLevel(sheet, r)) {
      setLevel(change.redo, false, r, 0);
      setLevel(change.back, false, r, level);
      any = true;
    }
  const int32_t columnCount = std::min<int32_t>(sheet.columns.records().size(), MaxColumns);
  for (int32_t c = 0; c < columnCount; ++c)
    if (const int level = sheet.columns.columnOutlineLevel(c)) {
      setLevel(change.redo, true, c, 0);
      setLevel(change.back, true, c, level);
      any = true;
    }
  return any && change.record(workbook, undo, Label::ClearOutline, true);
}

bool autoOutline(Workbook& workbook, UndoList& undo, const std::function<bool()>& askModify) {
  const Sheet* sheet = workbook.activeSheet();
  if (!sheet) return false;
  const Area selection = sheet->selection.area();
  Area region = selection;
  if (selection.firstRow == selection.lastRow && selection.firstColumn == selection.lastColumn &&
      !currentRegion(*sheet, selection.firstColumn, selection.firstRow, region)) {
    setError(Err::CannotOutline);
    return false;
  }
  const bool columns = region.firstRow == region.lastRow;
  if ((hasColumnLevels(*sheet) || (hasRowLevels(*sheet) && !columns)) && !askModify()) return false;

  DetailFinder finder(*sheet, workbook.activeSheetIndex(), region, columns);
  finder.run();
  if (finder.levels().empty()) {
    setError(Err::CannotOutline);
    return false;
  }

  OutlineChange change(workbook);
  // The region's levels go back to 0 first; every line the change touches is put back.
  std::map<int32_t, int> before;
  if (columns) {
    for (int32_t c = region.firstColumn; c <= region.lastColumn; ++c)
      if (const int level = sheet->columns.columnOutlineLevel(c)) before[c] = level;
  } else {
    for (int32_t r = sheet->nextRow(region.firstRow - 1); r <= region.lastRow && r < NoRow; r = sheet->nextRow(r))
      if (const int level = rowLevel(*sheet, r)) before[r] = level;
  }
  for (const auto& [line, level] : before) setLevel(change.redo, columns, line, 0);
  for (const auto& [line, level] : finder.levels()) {
    setLevel(change.redo, columns, line, level);
    before.emplace(line, lineLevel(*sheet, columns, line));
  }
  for (const auto& [line, level] : before) setLevel(change.back, columns, line, level);
  return change.record(workbook, undo, Label::AutoOutline, true);
}

}  // namespace kelp
