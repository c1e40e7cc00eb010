// Sorting the selection: the settings, the stable sort of whole rows or columns, command
// function 222 and the undoable command.
#include "edit/Sort.h"

#include <algorithm>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "edit/Commands.h"
#include "formula/Evaluator.h"
#include "formula/ValueOrder.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/StringTable.h"

namespace kelp {

namespace {

constexpr int SortLabel = 3081;

SortSettings g_settings;

// The rows (or columns) of an area that a sort reorders, and how two of them compare.
class SortUnits {
 public:
  SortUnits(Sheet& sheet, const Area& area, const SortSettings& settings)
      : m_sheet(sheet), m_area(area), m_settings(settings) {
    // A header stays in place whichever way the area is sorted.
    const int32_t header = settings.hasHeader ? 1 : 0;
    if (settings.byRows) {
      m_first = area.firstRow + header;
      // Rows past the last stored one are all blank and, blank keys going last with
      // their order kept, would stay where they are: whole columns sort only what exists.
      m_last = std::min<int32_t>(area.lastRow, sheet.rowArraySize() - 1);
    } else {
      m_first = area.firstColumn + header;
      m_last = area.lastColumn;
    }
  }

  int32_t count() const { return m_last >= m_first ? m_last - m_first + 1 : 0; }
  int32_t unit(int32_t index) const { return m_first + index; }

  /// Whether unit `a` (a row or column number) must come after unit `b`: the first key
  /// whose cells differ decides.
  bool after(int32_t a, int32_t b) const {
    const int32_t keys[] = {m_settings.key1, m_settings.key2, m_settings.key3};
    const bool ascending[] = {m_settings.ascending1, m_settings.ascending2, m_settings.ascending3};
    for (int i = 0; i < 3; ++i) {
      if (keys[i] < 0) continue;
      int c = m_settings.byRows ? compareCells(m_sheet, m_area.firstColumn + keys[i], a, m_area.firstColumn + keys[i],
                                               b, ascending[i], m_settings.caseSensitive)
                                : compareCells(m_sheet, a, m_area.firstRow + keys[i], b, m_area.firstRow + keys[i],
                                               ascending[i], m_settings.caseSensitive);
      if (c != 0) return ascending[i] ? c > 0 : c < 0;
    }
    return false;
  }

  /// Exchanges two whole units cell by cell within the area.
  void swap(int32_t a, int32_t b) {
    if (m_settings.byRows) {
      // Beyond the slots of both rows every cell is absent in both.
      const Row* rowA = m_sheet.rowAt(a);
      const Row* rowB = m_sheet.rowAt(b);
      const int32_t slots = std::max(rowA ? rowA->cells.size() : 0, rowB ? rowB->cells.size() : 0);
      const int32_t last = std::min<int32_t>(m_area.lastColumn, slots - 1);
      for (int32_t c = m_area.firstColumn; c <= last; ++c) swapCells(m_sheet, c, a, c, b);
      return;
    }
    for (int32_t r = m_sheet.nextRow(m_area.firstRow - 1); r <= m_area.lastRow && r < NoRow; r = m_sheet.nextRow(r))
      swapCells(m_sheet, a, r, b, r);
  }

 private:
  Sheet& m_sheet;
  Area m_area;
  const SortSettings& m_settings;
  int32_t m_first = 0;
  int32_t m_last = -1;
};

// A merge sort of the unit numbers: stable whatever the comparison answers, and never
// reads outside the list even for a comparison that is not a consistent order.
void stableSort(std::vector<int32_t>& units, const SortUnits& by) {
  std::vector<int32_t> scratch(units.size());
  for (size_t width = 1; width < units.size(); width *= 2) {
    for (size_t low = 0; low < units.size(); low += 2 * width) {
      const size_t middle = std::min(low + width, units.size());
      const size_t high = std::min(low + 2 * width, units.size());
      size_t left = low, right = middle, out = low;
      // A unit of the right half goes first only when the left one must come after it.
      while (left < middle && right < high)
        scratch[out++] = by.after(units[left], units[right]) ? units[right++] : units[left++];
      while (left < middle) scratch[out++] = units[left++];
      while (right < high) scratch[out++] = units[right++];
    }
    units.swap(scratch);
  }
}

bool validKey(int32_t key, int32_t count, bool optional) { return key < count && (key >= 0 || (optional && key == -1)); }

bool touchesMerged(const Sheet& sheet, const Area& area) {
  if (!sheet.anyMergedOverlap(area)) return false;
  setError(Err::SortMerged);
  return true;
}

uint32_t slotKey(int32_t column, int32_t row) { return static_cast<uint32_t>(row) << 8 | static_cast<uint32_t>(column); }

template <typename Fn>
void forEachSlot(const Sheet& sheet, const Area& area, Fn fn) {
  for (int32_t r = sheet.nextRow(area.firstRow - 1); r <= area.lastRow && r < NoRow; r = sheet.nextRow(r)) {
    const Row* row = sheet.rowAt(r);
    const int32_t end = std::min<int32_t>(row->cells.size() - 1, area.lastColumn);
    for (int32_t c = std::max<int32_t>(row->firstColumn(), area.firstColumn); c <= end; ++c) fn(c, r, row->cells[c]);
  }
}

}  // namespace

SortSettings& sortSettings() { return g_settings; }

bool sortKeysFit(const SortSettings& settings, int32_t width, int32_t height) {
  const int32_t count = settings.byRows ? width : height;
  return validKey(settings.key1, count, false) && validKey(settings.key2, count, true) &&
         validKey(settings.key3, count, true);
}

bool sortArea(Sheet& sheet) {
  const SortSettings& s = g_settings;
  const Area area = sheet.selection.area();
  if (!sortKeysFit(s, area.lastColumn - area.firstColumn + 1, area.lastRow - area.firstRow + 1)) return false;
  if (s.key1 == s.key2 || (s.key2 >= 0 && s.key2 == s.key3) || s.key1 == s.key3) return true;

  SortUnits units(sheet, area, s);
  const int32_t n = units.count();
  if (n < 2) return true;
  std::vector<int32_t> order(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i) order[static_cast<size_t>(i)] = units.unit(i);
  stableSort(order, units);

  // The order is reached by whole-unit swaps along its cycles: `at` tells which unit
  // stands at each place now, `place` where each unit stands.
  std::vector<int32_t> at(order.size()), place(order.size());
  for (int32_t i = 0; i < n; ++i) at[static_cast<size_t>(i)] = place[static_cast<size_t>(i)] = i;
  for (int32_t target = 0; target < n; ++target) {
    const int32_t wanted = order[static_cast<size_t>(target)] - units.unit(0);
    const int32_t from = place[static_cast<size_t>(wanted)];
    if (from == target) continue;
    units.swap(units.unit(target), units.unit(from));
    const int32_t displaced = at[static_cast<size_t>(target)];
    at[static_cast<size_t>(from)] = displaced;
    place[static_cast<size_t>(displaced)] = from;
    at[static_cast<size_t>(target)] = wanted;
    place[static_cast<size_t>(wanted)] = target;
  }
  return true;
}

bool sortSelection(Workbook& workbook, UndoList& undo, const SortSettings& settings) {
  Sheet* sheet = workbook.activeSheet();
  if (!sheet) return false;
  const int32_t sheetIndex = workbook.activeSheetIndex();
  const Area area = sheet->selection.area();
  if (!sortKeysFit(settings, area.lastColumn - area.firstColumn + 1, area.lastRow - area.firstRow + 1) ||
      touchesMerged(*sheet, area))
    return false;

  // Undo writes back every stored cell of the area as it is now, and blanks the slots
  // the sort makes where there were none.
  ProgramBuilder back;
  back.selectSheet(sheetIndex).select(area);
  std::unordered_set<uint32_t> stored;
  forEachSlot(*sheet, area, [&](int32_t c, int32_t r, const CellRecord& cell) {
    stored.insert(slotKey(c, r));
    back.restoreCell(c, r, cell);
  });

  ProgramBuilder redo;
  redo.selectSheet(sheetIndex)
      .select(area)
      .smallInteger(settings.hasHeader)
      .smallInteger(settings.caseSensitive)
      .smallInteger(settings.byRows)
      .smallInteger(settings.ascending1)
      .smallInteger(settings.ascending2)
      .smallInteger(settings.ascending3)
      .integer(settings.key1)
      .integer(settings.key2)
      .integer(settings.key3)
      .call(CommandFunction::Sort)
      .call(CommandFunction::Recalculate);
  CommandProgram redoDone = redo.finish();
  if (!redoDone.valid() || !back.ok()) return false;
  runProgram(workbook, redoDone);

  forEachSlot(*sheet, area, [&](int32_t c, int32_t r, const CellRecord&) {
    if (!stored.count(slotKey(c, r))) back.restoreCell(c, r, blankCell());
  });
  back.call(CommandFunction::Recalculate);
  CommandProgram undoDone = back.finish();
  if (!undoDone.valid()) return false;
  std::u16string description(loadString(SortLabel));
  if (description.empty()) description = u"Sort";
  return undo.recordUndo(workbook, std::move(undoDone), std::move(redoDone), std::move(description), false);
}

void sortCommandFunction() {
  SortSettings s;
  s.key3 = popInteger();
  s.key2 = popInteger();
  s.key1 = popInteger();
  s.ascending3 = popLogical() != 0;
  s.ascending2 = popLogical() != 0;
  s.ascending1 = popLogical() != 0;
  s.byRows = popLogical() != 0;
  s.caseSensitive = popLogical() != 0;
  s.hasHeader = popLogical() != 0;
  Workbook* workbook = evalState().workbook;
  Sheet* sheet = workbook ? workbook->activeSheet() : nullptr;
  if (!sheet || touchesMerged(*sheet, sheet->selection.area())) return pushError(CellError::Value);
  g_settings = s;
  if (!sortArea(*sheet)) return pushError(CellError::Value);
  pushValue(emptyValue());
}

}  // namespace kelp
