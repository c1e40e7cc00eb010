// Sheet storage: rows of cell records, the column table, merged areas and scans.
#include "model/Sheet.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <new>
#include <vector>

#include "model/FormulaTable.h"
#include "model/HandlePool.h"
#include "model/Workbook.h"

namespace kelp {

namespace {
const CellValue kEmpty = emptyValue();

bool isBlank(const CellRecord& record) { return record.value.kind == ValueKind::Empty && record.style < 0; }
bool recordUsed(const CellRecord& record) { return record.value.kind != ValueKind::Empty || record.style > 0; }
}  // namespace

// Column table.

ColumnRecord ColumnTable::record(int32_t col) const {
  if (col < 0 || col >= m_records.size()) return defaultColumnRecord();
  return m_records[col];
}

int32_t ColumnTable::columnWidth(int32_t col) const {
  int32_t width = record(col).width;
  return width >= 1 ? width : m_defaultWidth;
}

int32_t ColumnTable::visibleColumnWidth(int32_t col) const { return isColumnHidden(col) ? 0 : columnWidth(col); }

namespace {
int32_t widthToPixels(int32_t width, double pixelsPerUnit) {
  return width < 1 ? 0 : static_cast<int32_t>(width * pixelsPerUnit + 1.5);
}
}  // namespace

int32_t ColumnTable::columnWidthPixels(int32_t col, double pixelsPerUnit) const {
  return widthToPixels(columnWidth(col), pixelsPerUnit);
}

int32_t ColumnTable::visibleColumnWidthPixels(int32_t col, double pixelsPerUnit) const {
  return widthToPixels(visibleColumnWidth(col), pixelsPerUnit);
}

template <typename Change>
bool ColumnTable::changeRange(int32_t first, int32_t last, Change change) {
  if (first > last) return true;
  assert(first >= 0 && last < MaxColumns && "column beyond IV");
  if (last >= m_records.size() && !m_records.setSize(last + 1)) return false;
  for (int32_t col = first; col <= last; ++col) change(m_records[col]);
  return true;
}

bool ColumnTable::setColumnWidths(int32_t first, int32_t last, int32_t width) {
  return changeRange(first, last, [width](ColumnRecord& r) { r.width = width; });
}

bool ColumnTable::setColumnsHidden(int32_t first, int32_t last, bool hidden) {
  return changeRange(first, last, [hidden](ColumnRecord& r) {
    r.flags = hidden ? (r.flags | ColumnFlag::Hidden) : (r.flags & ~ColumnFlag::Hidden);
  });
}

bool ColumnTable::setColumnOutlineLevel(int32_t first, int32_t last, int level) {
  uint16_t bits = static_cast<uint16_t>((level & 7) << ColumnFlag::OutlineShift);
  return changeRange(first, last, [bits](ColumnRecord& r) {
    r.flags = static_cast<uint16_t>((r.flags & ~ColumnFlag::OutlineMask) | bits);
  });
}

bool ColumnTable::setColumnStyles(int32_t first, int32_t last, int16_t style) {
  return changeRange(first, last, [style](ColumnRecord& r) { r.style = style; });
}

void ColumnTable::resetColumns(int32_t first, int32_t last) {
  if (last >= m_records.size()) last = m_records.size() - 1;
  for (int32_t col = first < 0 ? 0 : first; col <= last; ++col) m_records[col] = defaultColumnRecord();
}

bool ColumnTable::copyColumnRecord(int32_t first, int32_t last, const ColumnRecord& record) {
  return changeRange(first, last, [&record](ColumnRecord& r) { r = record; });
}

bool ColumnTable::applyColumnWidth(int32_t first, int32_t last, int32_t width) {
  uint16_t defaultWidth = m_defaultWidth;
  return changeRange(first, last, [width, defaultWidth](ColumnRecord& r) {
    if (width == 0) {
      r.flags |= ColumnFlag::Hidden;
    } else if (width == defaultWidth && r.style <= 0 && r.flags == 0) {
      r = defaultColumnRecord();
    } else {
      r.width = width;
      r.flags &= ~ColumnFlag::Hidden;
    }
  });
}

bool ColumnTable::nextColumnRun(int32_t start, int32_t& first, int32_t& last, ColumnRecord& record) const {
  int32_t col = start < 0 ? 0 : start;
  while (col < m_records.size() && m_records[col] == defaultColumnRecord()) ++col;
  if (col >= m_records.size()) return false;
  first = col;
  const ColumnRecord& model = m_records[col];
  while (col + 1 < m_records.size() && m_records[col + 1] == model) ++col;
  last = col;
  record = model;
  if (record.width < 1) record.width = m_defaultWidth;
  return true;
}

bool ColumnTable::insertColumns(int32_t col, int32_t count) {
  if (count <= 0 || col >= m_records.size()) {
    // Nothing stored at or after `col` moves; the new columns copy their left neighbour.
    return col <= 0 || col >= MaxColumns || record(col - 1) == defaultColumnRecord() ||
           copyColumnRecord(col, std::min(col + count, MaxColumns) - 1, record(col - 1));
  }
  const ColumnRecord model = col > 0 ? record(col - 1) : defaultColumnRecord();
  const int32_t oldSize = m_records.size();
  const int32_t newSize = std::min(oldSize + count, MaxColumns);
  if (!m_records.setSize(newSize)) return false;
  for (int32_t c = newSize - 1; c >= col + count; --c) m_records[c] = m_records[c - count];
  for (int32_t c = col; c < std::min(col + count, newSize); ++c) m_records[c] = model;
  return true;
}

void ColumnTable::deleteColumns(int32_t col, int32_t count) {
  const int32_t size = m_records.size();
  if (count <= 0 || col >= size) return;
  for (int32_t c = col; c + count < size; ++c) m_records[c] = m_records[c + count];
  const bool shrunk = m_records.setSize(std::max(col, size - count));
  assert(shrunk && "shrinking never allocates");
  (void)shrunk;
}

// Sheet.

Sheet::Sheet(std::u16string sheetName) : name(std::move(sheetName)) {}

Sheet::~Sheet() {
  for (int32_t r = nextRow(-1); r != NoRow; r = nextRow(r)) {
    Row* row = rowAt(r);
    for (int32_t c = row->cells.size(); c-- > row->firstColumn();) releaseValue(row->cells[c].value);
  }
  for (RowBlock* block : m_rowBlocks) {
    block->~RowBlock();
    heapFree(block);
  }
  for (ValidationEntry& entry : validations) {
    formulaPool().release(entry.rule.formula1);
    formulaPool().release(entry.rule.formula2);
  }
}

bool Sheet::insertRows(int32_t row, int32_t count) {
  assert(row >= 0 && row < MaxRows && count > 0 && row + count <= MaxRows && "rows beyond 65536");
  if (row < m_rowPlaces.size()) {
    // Room first, so that a failure comes before any row is dropped or moved.
    const int32_t before = m_rowPlaces.size();
    if (!m_rowPlaces.setSize(std::min(before + count, MaxRows))) return false;
    const bool kept = m_rowPlaces.setSize(before);
    assert(kept && "shrinking never allocates");
    (void)kept;
  }
  if (m_rowPlaces.size() > MaxRows - count) removeRows(MaxRows - count, count);
  if (row < m_rowPlaces.size()) {
    const int32_t oldSize = m_rowPlaces.size();
    if (!m_rowPlaces.setSize(oldSize + count)) return false;
    for (int32_t r = oldSize + count - 1; r >= row + count; --r) m_rowPlaces[r] = m_rowPlaces[r - count];
    for (int32_t r = row; r < row + count; ++r) m_rowPlaces[r] = 0;
  }
  const Row* model = row > 0 ? rowAt(row - 1) : nullptr;
  if (!model) return true;
  const uint16_t height = model->height, flags = model->flags;
  const int16_t style = model->style;
  for (int32_t r = row; r < row + count; ++r) {
    // Rows left plain for want of memory leave error 15 pending; the cells have moved.
    Row* made = ensureRow(r);
    if (!made) break;
    made->height = height;
    made->flags = flags;
    made->style = style;
  }
  return true;
}

void Sheet::deleteRows(int32_t row, int32_t count) { removeRows(row, count); }

bool Sheet::insertColumns(int32_t col, int32_t count) {
  assert(col >= 0 && col < MaxColumns && count > 0 && col + count <= MaxColumns && "columns beyond IV");
  // Every row that widens gets its room first (blank slots past its end), so that a
  // failure leaves the cells where they were and the moves below cannot fail.
  for (int32_t r = nextRow(-1); r < NoRow; r = nextRow(r)) {
    Row* row = rowAt(r);
    const int32_t end = std::min<int32_t>(row->cells.size(), MaxColumns - count);
    if (col > row->firstColumn() && col < end && !row->cells.cover(end + count - 1)) return false;
  }
  releaseColumnsFrom(MaxColumns - count);
  for (int32_t r = nextRow(-1); r < NoRow; r = nextRow(r)) {
    const bool moved = rowAt(r)->cells.insertSlots(col, count);
    assert(moved && "room was made above");
    (void)moved;
  }
  return columns.insertColumns(col, count);
}

void Sheet::deleteColumns(int32_t col, int32_t count) {
  for (int32_t r = nextRow(-1); r < NoRow; r = nextRow(r)) {
    Row* row = rowAt(r);
    const int32_t end = std::min<int32_t>(row->cells.size(), col + count);
    for (int32_t c = std::max<int32_t>(row->firstColumn(), col); c < end; ++c) releaseValue(row->cells[c].value);
    row->cells.removeSlots(col, count);
  }
  columns.deleteColumns(col, count);
}

void Sheet::releaseColumnsFrom(int32_t col) {
  for (int32_t r = nextRow(-1); r < NoRow; r = nextRow(r)) {
    Row* row = rowAt(r);
    for (int32_t c = std::max<int32_t>(row->firstColumn(), col); c < row->cells.size(); ++c)
      releaseValue(row->cells[c].value);
    row->cells.truncate(col);
  }
}

void Sheet::removeRows(int32_t first, int32_t count) {
  const int32_t size = m_rowPlaces.size();
  const int32_t end = std::min(first + count, size);
  if (first >= end) return;
  std::vector<bool> freed(static_cast<size_t>(m_rowCount), false);
  int32_t freedCount = 0;
  for (int32_t r = first; r < end; ++r) {
    Row* row = rowAt(r);
    if (!row) continue;
    for (int32_t c = row->cells.size(); c-- > row->firstColumn();) releaseValue(row->cells[c].value);
    row->cells.~RowCells();
    new (row) Row{};
    freed[m_rowPlaces[r] - 1] = true;
    ++freedCount;
  }
  for (int32_t r = first; r + count < size; ++r) m_rowPlaces[r] = m_rowPlaces[r + count];
  const bool shrunk = m_rowPlaces.setSize(std::max(first, size - count));
  assert(shrunk && "shrinking never allocates");
  (void)shrunk;
  // The rows made last move into the freed places below the new count, so that places
  // stay filled from the first and ensureRow can keep taking the next one.
  const int32_t newCount = m_rowCount - freedCount;
  int32_t hole = 0;
  for (int32_t r = 0; r < m_rowPlaces.size(); ++r) {
    const uint32_t place = m_rowPlaces[r];
    if (place == 0 || static_cast<int32_t>(place - 1) < newCount) continue;
    while (!freed[static_cast<size_t>(hole)]) ++hole;
    Row* from = rowAt(r);
    Row* to = &m_rowBlocks[hole >> RowBlock::Shift]->rows[hole & RowBlock::Mask];
    std::memcpy(static_cast<void*>(to), from, sizeof(Row));  // the slots' ownership moves with the bytes
    new (from) Row{};
    m_rowPlaces[r] = static_cast<uint32_t>(hole) + 1;
    ++hole;
  }
  m_rowCount = newCount;
}

FormulaTable* Sheet::formulas() const { return m_workbook ? &m_workbook->formulas() : nullptr; }

bool Sheet::styleDraws(int16_t style) const {
  return m_workbook && style > 0 && style < m_workbook->styles.size() && m_workbook->styles[style].drawsSomething();
}

Row* Sheet::ensureRow(int32_t row) {
  assert(row >= 0 && row < MaxRows && "row beyond 65535");
  if (Row* existing = rowAt(row)) return existing;
  // Room in the groups comes first and the row's entry last, so that a failure leaves
  // no row behind; a group made before a failure is room for the next row.
  const int32_t place = m_rowCount;
  if ((place >> RowBlock::Shift) == m_rowBlocks.size()) {
    void* memory = heapAlloc(sizeof(RowBlock));
    if (!memory) {
      setError(Err::OutOfMemory);
      return nullptr;
    }
    RowBlock* block = new (memory) RowBlock{};
    if (!m_rowBlocks.append(block)) {
      block->~RowBlock();
      heapFree(block);
      return nullptr;
    }
  }
  // The row entries grow by half at a time: rows read from a file arrive one after
  // another, and a fixed step copied the entries once per step.
  if (row >= m_rowPlaces.size() &&
      !m_rowPlaces.setSize(row + 1, std::min(std::max(m_rowPlaces.size() / 2, 64), MaxRows - row - 1)))
    return nullptr;
  // Rows are never removed, so the place is still as its group was made.
  Row& created = m_rowBlocks[place >> RowBlock::Shift]->rows[place & RowBlock::Mask];
  created.height = defaultRowHeight;
  m_rowPlaces[row] = static_cast<uint32_t>(place) + 1;
  ++m_rowCount;
  return &created;
}

int32_t Sheet::prevRow(int32_t row) const {
  for (int32_t r = (row > m_rowPlaces.size() ? m_rowPlaces.size() : row) - 1; r >= 0; --r)
    if (m_rowPlaces[r]) return r;
  return -1;
}

int32_t Sheet::rowHeight(int32_t row) const {
  const Row* r = rowAt(row);
  return r ? (r->height & 0x7FFF) : defaultRowHeight;
}

int32_t Sheet::visibleRowHeight(int32_t row) const { return isRowHidden(row) ? 0 : rowHeight(row); }

bool Sheet::setRowHeight(int32_t row, uint16_t height, bool isExplicit) {
  if (!rowExists(row) && height == defaultRowHeight) return true;
  Row* r = ensureRow(row);
  if (!r) return false;
  r->flags = isExplicit ? (r->flags | RowFlag::ExplicitHeight) : (r->flags & ~RowFlag::ExplicitHeight);
  r->height = height;
  return true;
}

bool Sheet::setRowHidden(int32_t row, bool hidden) {
  Row* r = ensureRow(row);
  if (!r) return false;
  r->flags = hidden ? (r->flags | RowFlag::Hidden) : (r->flags & ~RowFlag::Hidden);
  return true;
}

bool Sheet::isRowHidden(int32_t row) const {
  const Row* r = rowAt(row);
  return r && (r->flags & RowFlag::Hidden);
}

bool Sheet::isRowHeightExplicit(int32_t row) const {
  const Row* r = rowAt(row);
  return r && (r->flags & RowFlag::ExplicitHeight);
}

int16_t Sheet::rowStyle(int32_t row) const {
  const Row* r = rowAt(row);
  return r ? r->style : 0;
}

bool Sheet::setRowStyle(int32_t row, int16_t style) {
  if (!rowExists(row) && style <= 0) return true;
  Row* r = ensureRow(row);
  if (!r) return false;
  r->style = style;
  return true;
}

CellRecord* Sheet::cellPtr(int32_t col, int32_t row) const {
  Row* r = rowAt(row);
  if (!r || !r->cells.has(col)) return nullptr;
  return &r->cells[col];
}

void Sheet::getCell(int32_t col, int32_t row, CellRecord& out) const {
  const CellRecord* cell = cellPtr(col, row);
  out = cell ? *cell : blankCell();
}

void Sheet::getCellWithStyle(int32_t col, int32_t row, CellRecord& out) const {
  getCell(col, row, out);
  if (out.style < 1) {
    out.style = rowStyle(row);
    if (out.style < 1) out.style = columns.columnStyle(col);
  }
}

const CellValue& Sheet::cellValue(int32_t col, int32_t row) const {
  const CellRecord* cell = cellPtr(col, row);
  return cell ? effectiveValue(cell->value) : kEmpty;
}

void Sheet::getCellValue(int32_t col, int32_t row, CellValue& out) const { out = cellValue(col, row); }

int16_t Sheet::effectiveStyle(int32_t col, int32_t row) const {
  const CellRecord* cell = cellPtr(col, row);
  if (cell && cell->style > 0) return cell->style;
  int16_t style = rowStyle(row);
  if (style > 0) return style;
  return columns.columnStyle(col);
}

bool Sheet::setCellOwned(int32_t col, int32_t row, const CellRecord& record, bool owned) {
  assert(col >= 0 && col < MaxColumns && row >= 0 && row < MaxRows && "cell beyond IV65536");
  // Copied in the pieces a cell is written in, so the copy does not wait on the caller's stores.
  CellRecord placed;
  copyRecord(placed, record);
  // A write that cannot happen drops the new content, so an owning caller never leaks it.
  auto refuse = [&]() {
    if (owned) releaseValue(placed.value);
    return false;
  };
  if (hasError(Err::OutOfMemory)) return refuse();

  // A formula written with ownership moves into the workbook's table at this cell; one
  // whose bytes only move keeps its entry, which learns the new cell.
  FormulaTable* table = record.value.kind == ValueKind::Formula ? formulas() : nullptr;
  const CellPosition at{static_cast<uint16_t>(col), static_cast<uint16_t>(row), static_cast<uint16_t>(index)};
  auto place = [&]() {
    if (!table) return true;
    if (owned) return table->adopt(placed.value, at);
    if (&formulaTableOf(placed.value) == table) table->setPosition(formulaId(placed.value), at);
    return true;
  };

  Row* r = rowAt(row);
  if (r && r->cells.has(col)) {
    CellRecord& slot = r->cells[col];
    assert(!(owned && record.value.kind == ValueKind::Formula && slot.value.kind == ValueKind::Formula &&
             std::memcmp(record.value.payload, slot.value.payload, sizeof record.value.payload) == 0) &&
           "a formula written over itself would be freed");
    // Placed before the old content goes, so that a failure leaves the cell as it was.
    if (!place()) return refuse();
    if (owned) releaseValue(slot.value);
    copyRecord(slot, placed);
    return true;
  }

  if (isBlank(record)) return true;
  if (!r) {
    r = ensureRow(row);
    if (!r) return refuse();
  }
  // The slots grow before the formula is placed, so a failed growth leaves the table as
  // it was; a new row's first slot lives in the row itself and cannot fail.
  if (!r->cells.cover(col)) return refuse();
  if (!place()) return refuse();
  copyRecord(r->cells[col], placed);
  return true;
}

bool Sheet::setCellStyle(int32_t col, int32_t row, int16_t style) {
  if (effectiveStyle(col, row) == style) return true;
  CellRecord record;
  getCell(col, row, record);
  record.style = style;
  return setCellOwned(col, row, record, false);
}

CellRecord* Sheet::ensureCellPtr(int32_t col, int32_t row) {
  if (CellRecord* cell = cellPtr(col, row)) return cell;
  CellRecord record = blankCell();
  record.style = 0;
  if (!setCell(col, row, record)) return nullptr;
  CellRecord* cell = cellPtr(col, row);
  cell->style = -1;
  return cell;
}

bool Sheet::hasValue(int32_t col, int32_t row) const {
  const CellRecord* cell = cellPtr(col, row);
  return cell && cell->value.kind != ValueKind::Empty;
}

bool Sheet::hasStyle(int32_t col, int32_t row) const {
  const CellRecord* cell = cellPtr(col, row);
  return cell && cell->style > 0;
}

bool Sheet::isUsed(int32_t col, int32_t row) const {
  const CellRecord* cell = cellPtr(col, row);
  return cell && recordUsed(*cell);
}

bool Sheet::isVisible(int32_t col, int32_t row) const {
  const CellRecord* cell = cellPtr(col, row);
  return cell && (cell->value.kind != ValueKind::Empty || styleDraws(cell->style));
}

template <typename Test>
int32_t Sheet::nextInRow(int32_t row, int32_t col, Test test) const {
  const Row* r = rowAt(row);
  if (!r) return NoColumn;
  for (int32_t c = col + 1 > r->firstColumn() ? col + 1 : r->firstColumn(); c < r->cells.size(); ++c)
    if (test(c, r->cells[c])) return c;
  return NoColumn;
}

template <typename Test>
int32_t Sheet::lastInRow(int32_t row, int32_t limit, Test test) const {
  const Row* r = rowAt(row);
  if (!r) return -1;
  int32_t end = limit < r->cells.size() ? limit : r->cells.size();
  for (int32_t c = end - 1; c >= r->firstColumn(); --c)
    if (test(c, r->cells[c])) return c;
  return -1;
}

namespace {
bool recordHasValue(int32_t, const CellRecord& cell) { return cell.value.kind != ValueKind::Empty; }
bool recordIsUsed(int32_t, const CellRecord& cell) { return recordUsed(cell); }
}  // namespace

int32_t Sheet::nextValueInRow(int32_t row, int32_t col) const { return nextInRow(row, col, recordHasValue); }
int32_t Sheet::nextUsedInRow(int32_t row, int32_t col) const { return nextInRow(row, col, recordIsUsed); }
int32_t Sheet::lastValueInRow(int32_t row, int32_t limit) const { return lastInRow(row, limit, recordHasValue); }
int32_t Sheet::lastUsedInRow(int32_t row, int32_t limit) const { return lastInRow(row, limit, recordIsUsed); }

int32_t Sheet::lastVisibleInRow(int32_t row, int32_t limit) const {
  return lastInRow(row, limit, [this](int32_t, const CellRecord& cell) {
    return cell.value.kind != ValueKind::Empty || styleDraws(cell.style);
  });
}

int32_t Sheet::firstColumnOf(int32_t row) const {
  const Row* r = rowAt(row);
  return r ? r->firstColumn() : -1;
}

int32_t Sheet::cellCountOf(int32_t row) const {
  const Row* r = rowAt(row);
  return r ? r->cells.size() : 0;
}

int32_t Sheet::findMergedAt(int32_t col, int32_t row, Area* area) const {
  for (int32_t i = 0; i < mergedAreas.size(); ++i) {
    if (!mergedAreas[i].contains(col, row)) continue;
    if (area) *area = mergedAreas[i];
    return i;
  }
  return -1;
}

int32_t Sheet::findMergedEqual(const Area& area) const {
  for (int32_t i = 0; i < mergedAreas.size(); ++i)
    if (mergedAreas[i] == area) return i;
  return -1;
}

int32_t Sheet::findMergedInside(const Area& area) const {
  for (int32_t i = 0; i < mergedAreas.size(); ++i)
    if (mergedAreas[i].inside(area)) return i;
  return -1;
}

bool Sheet::anyMergedOverlap(const Area& area) const {
  for (const Area& merged : mergedAreas)
    if (merged.overlaps(area)) return true;
  return false;
}

bool Sheet::unmergeWithin(const Area& area) {
  bool removed = false;
  for (int32_t i = mergedAreas.size(); i-- > 0;) {
    if (!mergedAreas[i].inside(area)) continue;
    mergedAreas.removeAt(i);
    removed = true;
  }
  return removed;
}

Area Sheet::expandToMerged(Area area) const {
  for (bool grown = true; grown;) {
    grown = false;
    for (const Area& merged : mergedAreas) {
      if (!merged.overlaps(area) || merged.inside(area)) continue;
      area.firstRow = std::min(area.firstRow, merged.firstRow);
      area.firstColumn = std::min(area.firstColumn, merged.firstColumn);
      area.lastRow = std::max(area.lastRow, merged.lastRow);
      area.lastColumn = std::max(area.lastColumn, merged.lastColumn);
      grown = true;
      break;
    }
  }
  return area;
}

int32_t Sheet::lastUsedRow(int32_t col) const {
  for (int32_t r = prevRow(m_rowPlaces.size()); r >= 0; r = prevRow(r)) {
    if (col < 0 ? lastValueInRow(r, NoColumn) >= 0 : hasValue(col, r)) return r;
  }
  return -1;
}

int32_t Sheet::lastUsedColumn() const {
  int32_t last = -1;
  for (int32_t r = nextRow(-1); r != NoRow; r = nextRow(r)) {
    int32_t col = lastValueInRow(r, NoColumn);
    if (col > last) last = col;
  }
  return last;
}

void Sheet::refreshOutlineLevels(bool columns) {
  int levels = 0;
  if (columns) {
    const int32_t count = std::min<int32_t>(this->columns.records().size(), MaxColumns);
    for (int32_t col = 0; col < count; ++col) levels = std::max(levels, this->columns.columnOutlineLevel(col));
    columnOutlineTop = static_cast<uint8_t>(levels);
  } else {
    for (int32_t row = nextRow(-1); row != NoRow; row = nextRow(row)) levels = std::max(levels, rowAt(row)->flags & 7);
    rowOutlineTop = static_cast<uint8_t>(levels);
  }
}

void SheetView::freezePanes(uint16_t firstColumn, uint16_t firstRow, uint32_t columns, uint32_t rows, uint16_t top,
                            uint16_t left) {
  const uint32_t lastColumn = firstColumn + columns - 1, lastRow = firstRow + rows - 1;
  columnsFrozen = columns > 0 && lastColumn < static_cast<uint32_t>(MaxColumns - 1);
  rowsFrozen = rows > 0 && lastRow < static_cast<uint32_t>(MaxRows - 1);
  if (columnsFrozen) {
    frozenFirstColumn = firstColumn;
    frozenLastColumn = static_cast<uint16_t>(lastColumn);
    leftColumn = static_cast<uint16_t>(std::clamp<uint32_t>(left, lastColumn + 1, MaxColumns - 1));
  }
  if (rowsFrozen) {
    frozenFirstRow = firstRow;
    frozenLastRow = static_cast<uint16_t>(lastRow);
    topRow = static_cast<uint16_t>(std::max<uint32_t>(top, lastRow + 1));
  }
}

}  // namespace kelp
