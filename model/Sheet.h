// Sheet: cell storage row by row, the column table, merged areas, and the
// sheet's own settings (name, visibility, view, selection).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/CellValue.h"
#include "model/GrowArray.h"
#include "model/RowCells.h"

namespace kelp {

class Workbook;
class FormulaTable;

constexpr int32_t MaxRows = 65536;
constexpr int32_t MaxColumns = 256;
/// What column scans return when they find nothing.
constexpr int32_t NoColumn = 256;
/// What `nextRow` returns after the last row.
constexpr int32_t NoRow = 0x10000;

namespace RowFlag {
constexpr uint16_t Hidden = 0x20;
constexpr uint16_t ExplicitHeight = 0x40;
}  // namespace RowFlag

/// One stored row; made on the first non-blank write.
struct Row {
  RowCells cells;   // indexed by column; size() = highest column written + 1
  uint16_t height;  // low 15 bits: twips
  uint16_t flags;   // RowFlag
  int16_t style;    // 0 or less: none
  /// Lower bound of the first used column; never raised once the row has a slot.
  int32_t firstColumn() const { return cells.first(); }
};
static_assert(sizeof(Row) == 32, "a row of one cell costs its row record and nothing more");
static_assert(RowCells::MaxSlots == MaxColumns, "a row holds at most every column");

/// Rows in groups of 16, filled in the order rows are made. Groups never move, so a
/// row needs no heap block of its own and a `Row*` stays valid while other rows are made.
/// A group stays below the C heap's 1 KB large-block size, whose requests first sweep
/// every freed small block.
struct RowBlock {
  static constexpr int32_t Shift = 4;
  static constexpr int32_t Rows = 1 << Shift;
  static constexpr int32_t Mask = Rows - 1;
  Row rows[Rows];
};

namespace ColumnFlag {
constexpr uint16_t Hidden = 0x0001;
constexpr int OutlineShift = 8;
constexpr uint16_t OutlineMask = 0x0700;
}  // namespace ColumnFlag

struct ColumnRecord {
  int32_t width;  // below 1: the default width
  int16_t style;  // 0 or less: none
  uint16_t flags; // ColumnFlag
  bool operator==(const ColumnRecord&) const = default;
};

constexpr ColumnRecord defaultColumnRecord() { return ColumnRecord{-1, 0, 0}; }

template <>
struct GrowInit<ColumnRecord> {
  static constexpr ColumnRecord value() { return defaultColumnRecord(); }
};

/// A rectangle of cells, in the order of an area reference.
struct Area {
  uint16_t firstRow;
  uint16_t firstColumn;
  uint16_t lastRow;
  uint16_t lastColumn;
  bool operator==(const Area&) const = default;
  bool contains(int32_t col, int32_t row) const {
    return row >= firstRow && row <= lastRow && col >= firstColumn && col <= lastColumn;
  }
  bool inside(const Area& outer) const {
    return firstRow >= outer.firstRow && lastRow <= outer.lastRow && firstColumn >= outer.firstColumn &&
           lastColumn <= outer.lastColumn;
  }
  bool overlaps(const Area& other) const {
    return firstRow <= other.lastRow && other.firstRow <= lastRow && firstColumn <= other.lastColumn &&
           other.firstColumn <= lastColumn;
  }
};

/// Column widths are in 1/256 of a digit of the standard font.
class ColumnTable {
 public:
  static constexpr uint16_t MinimumDefaultWidth = 438;

  uint16_t defaultWidth() const { return m_defaultWidth; }
  /// Widths below the minimum are raised to it.
  void setDefaultWidth(uint16_t width) { m_defaultWidth = width < MinimumDefaultWidth ? MinimumDefaultWidth : width; }
  const GrowArray<ColumnRecord>& records() const { return m_records; }

  ColumnRecord record(int32_t col) const;
  int32_t columnWidth(int32_t col) const;
  int32_t visibleColumnWidth(int32_t col) const;
  /// Width in pixels: width × factor + 1.5, truncated; 0 below width 1.
  int32_t columnWidthPixels(int32_t col, double pixelsPerUnit) const;
  int32_t visibleColumnWidthPixels(int32_t col, double pixelsPerUnit) const;
  int16_t columnStyle(int32_t col) const { return record(col).style; }
  bool isColumnHidden(int32_t col) const { return record(col).flags & ColumnFlag::Hidden; }
  int columnOutlineLevel(int32_t col) const {
    return (record(col).flags & ColumnFlag::OutlineMask) >> ColumnFlag::OutlineShift;
  }

  // Range setters over columns first..last; nothing happens when first > last.
  bool setColumnWidths(int32_t first, int32_t last, int32_t width);
  bool setColumnsHidden(int32_t first, int32_t last, bool hidden);
  bool setColumnOutlineLevel(int32_t first, int32_t last, int level);
  bool setColumnStyles(int32_t first, int32_t last, int16_t style);
  /// Back to the initial record, only within the current table.
  void resetColumns(int32_t first, int32_t last);
  bool copyColumnRecord(int32_t first, int32_t last, const ColumnRecord& record);
  /// Width 0 hides; the default width on a plain record makes it default again;
  /// any other width is stored and shows the column.
  bool applyColumnWidth(int32_t first, int32_t last, int32_t width);
  /// Inserts `count` records at `col`, copies of column col - 1 (default ones at column
  /// 0); records pushed past column 255 are dropped.
  bool insertColumns(int32_t col, int32_t count);
  /// Removes the records of columns col .. col + count - 1; later ones move left.
  void deleteColumns(int32_t col, int32_t count);
  /// The next run of identical non-default records from `start` on (file writers).
  bool nextColumnRun(int32_t start, int32_t& first, int32_t& last, ColumnRecord& record) const;

 private:
  template <typename Change>
  bool changeRange(int32_t first, int32_t last, Change change);

  uint16_t m_defaultWidth = 2300;
  GrowArray<ColumnRecord> m_records;
};

/// The selected range, the active cell and the moving end; whole rows are
/// columns 0-255, whole columns rows 0-65535.
struct Selection {
  uint16_t firstRow = 0;
  int16_t firstColumn = 0;
  uint16_t lastRow = 0;
  int16_t lastColumn = 0;
  uint16_t activeRow = 0;
  int16_t activeColumn = 0;
  uint16_t endRow = 0;
  int16_t endColumn = 0;
  Area area() const {
    return Area{firstRow, static_cast<uint16_t>(firstColumn), lastRow, static_cast<uint16_t>(lastColumn)};
  }
  /// The rectangle as a file stores it, with the active cell (and the moving end) where
  /// the file says when that lies inside, else at the bottom-right corner.
  static Selection ofStored(const Area& area, uint16_t activeColumn, uint16_t activeRow) {
    Selection s;
    s.firstRow = area.firstRow;
    s.lastRow = area.lastRow;
    s.firstColumn = static_cast<int16_t>(area.firstColumn);
    s.lastColumn = static_cast<int16_t>(area.lastColumn);
    const bool inside = area.contains(activeColumn, activeRow);
    s.activeRow = s.endRow = inside ? activeRow : area.lastRow;
    s.activeColumn = s.endColumn = static_cast<int16_t>(inside ? activeColumn : area.lastColumn);
    return s;
  }
};

/// How the sheet is shown; stored with the workbook.
struct SheetView {
  uint32_t zoom = 100;
  uint32_t fullScreenZoom = 100;
  bool showGridlines = true;
  bool showHeaders = true;
  bool showZeros = true;
  bool columnsFrozen = false;
  bool rowsFrozen = false;
  uint16_t frozenFirstRow = 0;
  uint16_t frozenFirstColumn = 0;
  uint16_t frozenLastRow = 0;
  uint16_t frozenLastColumn = 0;
  uint16_t topRow = 0;      // first scrollable row shown
  uint16_t leftColumn = 0;  // first scrollable column shown

  /// Freezes `columns` and `rows` from the first column and row shown, as the Excel and
  /// Pocket Excel panes give them, with `top` and `left` the first ones scrolled to; a
  /// count of 0, or one that would reach the sheet's end, freezes nothing that way.
  void freezePanes(uint16_t firstColumn, uint16_t firstRow, uint32_t columns, uint32_t rows, uint16_t top,
                   uint16_t left);
};

/// Print settings; the page setup fields are the print dialog's.
struct PrintSettings {
  std::u16string header;
  std::u16string footer;
  double leftMargin = 0.75;
  double rightMargin = 0.75;
  double topMargin = 1.0;
  double bottomMargin = 1.0;
  uint8_t pageSetup[44] = {};
};

enum class SheetVisibility : uint32_t { Visible = 0, Hidden = 1, Internal = 2 };

/// A validation rule; `flags` has the bit layout of the Excel data validation record.
struct ValidationRule {
  uint32_t flags = 0;  // bits 0-3 type, 4-6 error style, 7 explicit list, 8 ignore blank,
                       // 9 no drop-down, 18 input message, 19 error alert, 20-23 operator
  std::u16string errorTitle;    // empty: absent
  std::u16string errorMessage;
  std::u16string inputTitle;
  std::u16string inputMessage;
  uint32_t formula1 = NoHandle;  // formula pool handles, owned by the sheet
  uint32_t formula2 = NoHandle;
  std::vector<std::u16string> list;  // the explicit list of texts
};

/// A rule with the areas it governs; the last entry containing a cell governs it.
struct ValidationEntry {
  ValidationRule rule;
  std::vector<Area> areas;
};

/// One column's criterion of an AutoFilter; the six numbers are stored as they are.
struct FilterColumn {
  uint32_t kind = 0;  // 0 none, 1 top/bottom N, 2 blanks, 3 non-blanks, 4 custom
  uint32_t count = 0;
  uint32_t largest = 0;
  uint32_t operator1 = 0;
  uint32_t operator2 = 0;  // 0: no second condition
  uint32_t joinAnd = 0;
  std::u16string text1;
  std::u16string text2;
};

/// The sheet's AutoFilter: the heading row is `area.firstRow`; one column entry per
/// column of the area.
struct AutoFilter {
  uint32_t active = 0;
  Area area{};
  std::vector<FilterColumn> columns;
};

class Sheet {
 public:
  explicit Sheet(std::u16string name = u"");
  Sheet(const Sheet&) = delete;
  Sheet& operator=(const Sheet&) = delete;
  /// Releases every cell (formulas leave their table) and frees the rows.
  ~Sheet();

  // Settings.
  int32_t index = 0;
  std::u16string name;
  SheetVisibility visibility = SheetVisibility::Visible;
  SheetView view;
  PrintSettings print;
  bool isProtected = false;
  uint16_t defaultRowHeight = 255;  // twips
  Selection selection;
  ColumnTable columns;
  GrowArray<Area> mergedAreas;
  std::vector<ValidationEntry> validations;  // rules' formulas are released by ~Sheet
  AutoFilter autoFilter;
  /// The highest outline level of the rows and of the columns, which the grid's outline
  /// margins show; refreshOutlineLevels keeps them after the levels change.
  uint8_t rowOutlineTop = 0;
  uint8_t columnOutlineTop = 0;
  void refreshOutlineLevels(bool columns);

  /// The workbook the sheet belongs to: its style table and formula table. Null for
  /// a sheet on its own, whose formulas stay on the detached table.
  Workbook* workbook() const { return m_workbook; }
  void attach(Workbook* workbook) { m_workbook = workbook; }

  // Rows.
  /// One past the last row that exists.
  int32_t rowArraySize() const { return m_rowPlaces.size(); }
  bool rowExists(int32_t row) const { return row >= 0 && row < m_rowPlaces.size() && m_rowPlaces[row]; }
  Row* rowAt(int32_t row) const {
    if (!rowExists(row)) return nullptr;
    const uint32_t place = m_rowPlaces[row] - 1;
    return &m_rowBlocks[static_cast<int32_t>(place >> RowBlock::Shift)]->rows[place & RowBlock::Mask];
  }
  /// The row tables as plain pointers, for walks over many rows that keep them in locals
  /// (the area walks of formulas); valid until a row is made or removed.
  struct RowIndex {
    const uint32_t* places;
    RowBlock* const* blocks;
    int32_t size;  // one past the last row that exists
    const Row* at(int32_t row) const {
      const uint32_t place = places[row];
      if (!place) return nullptr;
      return &blocks[(place - 1) >> RowBlock::Shift]->rows[(place - 1) & RowBlock::Mask];
    }
  };
  RowIndex rowIndex() const { return RowIndex{m_rowPlaces.data(), m_rowBlocks.data(), m_rowPlaces.size()}; }
  /// The slot of column `col` in each row from `first` to `last` in turn, as
  /// `fn(const CellRecord&)`; rows without that slot are passed over.
  template <typename Fn>
  void forEachInColumn(int32_t col, int32_t first, int32_t last, Fn fn) const {
    const RowIndex rows = rowIndex();
    if (last >= rows.size) last = rows.size - 1;
    for (int32_t r = first; r <= last; ++r) {
      const Row* row = rows.at(r);
      if (!row) continue;
      // One unsigned compare tests both ends.
      const uint32_t index = static_cast<uint32_t>(col - row->cells.first());
      if (index < static_cast<uint32_t>(row->cells.size() - row->cells.first())) fn(row->cells.data()[index]);
    }
  }
  /// The row, created with the default height when absent; null and error 15 on failure.
  Row* ensureRow(int32_t row);
  int32_t lastRowIndex() const { return m_rowPlaces.size() > 0 ? m_rowPlaces.size() - 1 : 0; }
  /// The next existing row after `row`, or NoRow; inline because area walks step with it.
  int32_t nextRow(int32_t row) const {
    for (int32_t r = row < -1 ? 0 : row + 1; r < m_rowPlaces.size(); ++r)
      if (m_rowPlaces[r]) return r;
    return NoRow;
  }
  int32_t prevRow(int32_t row) const;
  int32_t rowHeight(int32_t row) const;
  int32_t visibleRowHeight(int32_t row) const;
  int32_t rowHeightPixels(int32_t row) const { return rowHeight(row) / 15; }
  int32_t visibleRowHeightPixels(int32_t row) const { return visibleRowHeight(row) / 15; }
  int32_t rowHeightDevicePixels(int32_t row, int32_t pixelsPerInch) const {
    return visibleRowHeight(row) * pixelsPerInch / 20 / 72;
  }
  bool setRowHeight(int32_t row, uint16_t height, bool isExplicit);
  bool setRowHidden(int32_t row, bool hidden);
  bool isRowHidden(int32_t row) const;
  bool isRowHeightExplicit(int32_t row) const;
  int16_t rowStyle(int32_t row) const;
  bool setRowStyle(int32_t row, int16_t style);

  // Whole rows and columns. These move the cells and the row and column records only:
  // cells pushed off the sheet or deleted are released (their formulas leave the table),
  // and the formulas that moved still carry their old position, which the caller that
  // adjusts references sets. The insertions fail only with error 15, before anything
  // moved.
  /// Inserts `count` rows at `row`, made like row - 1 when that row exists (rows that
  /// cannot be made for want of memory stay plain, with error 15 pending).
  bool insertRows(int32_t row, int32_t count);
  void deleteRows(int32_t row, int32_t count);
  /// Inserts `count` blank columns at `col`.
  bool insertColumns(int32_t col, int32_t count);
  void deleteColumns(int32_t col, int32_t count);

  // Cells.
  CellRecord* cellPtr(int32_t col, int32_t row) const;
  void getCell(int32_t col, int32_t row, CellRecord& out) const;
  void getCellWithStyle(int32_t col, int32_t row, CellRecord& out) const;
  void getCellValue(int32_t col, int32_t row, CellValue& out) const;
  /// The effective value without copying; an empty value for absent cells.
  const CellValue& cellValue(int32_t col, int32_t row) const;
  int16_t effectiveStyle(int32_t col, int32_t row) const;
  /// Writes a record, taking ownership of what it points to; see setCellOwned.
  bool setCell(int32_t col, int32_t row, const CellRecord& record) { return setCellOwned(col, row, record, true); }
  /// With `owned` the slot's old content is released and a formula joins the workbook's
  /// formula table (`record`'s value then names the entry no more); without it only the
  /// bytes move, and a formula of the table notes its new cell. False when nothing
  /// could be written.
  bool setCellOwned(int32_t col, int32_t row, const CellRecord& record, bool owned);
  bool setCellStyle(int32_t col, int32_t row, int16_t style);
  CellRecord* ensureCellPtr(int32_t col, int32_t row);
  ValueKind cellKind(int32_t col, int32_t row) const { return cellValue(col, row).kind; }
  bool hasValue(int32_t col, int32_t row) const;
  bool hasStyle(int32_t col, int32_t row) const;
  bool isUsed(int32_t col, int32_t row) const;
  bool isVisible(int32_t col, int32_t row) const;

  // Scans within one row; `limit` is exclusive.
  int32_t nextValueInRow(int32_t row, int32_t col) const;
  int32_t nextUsedInRow(int32_t row, int32_t col) const;
  int32_t lastValueInRow(int32_t row, int32_t limit) const;
  int32_t lastUsedInRow(int32_t row, int32_t limit) const;
  int32_t lastVisibleInRow(int32_t row, int32_t limit) const;
  int32_t firstColumnOf(int32_t row) const;
  int32_t cellCountOf(int32_t row) const;

  // Merged areas.
  int32_t findMergedAt(int32_t col, int32_t row, Area* area = nullptr) const;
  int32_t findMergedEqual(const Area& area) const;
  int32_t findMergedInside(const Area& area) const;
  bool anyMergedOverlap(const Area& area) const;
  bool unmergeWithin(const Area& area);
  Area expandToMerged(Area area) const;

  // Used range.
  int32_t lastUsedRow(int32_t col) const;
  int32_t lastUsedColumn() const;

 private:
  template <typename Test>
  int32_t nextInRow(int32_t row, int32_t col, Test test) const;
  template <typename Test>
  int32_t lastInRow(int32_t row, int32_t limit, Test test) const;
  FormulaTable* formulas() const;
  /// Releases the cells of rows first .. first + count - 1 and takes them out of the row
  /// array; later rows move up. The places they held are filled again from the last.
  void removeRows(int32_t first, int32_t count);
  /// Releases the cells of every row from column `col` on.
  void releaseColumnsFrom(int32_t col);
  bool styleDraws(int16_t style) const;

  GrowArray<uint32_t> m_rowPlaces;   // by row: 0 when absent, else 1 + its place in the groups
  GrowArray<RowBlock*> m_rowBlocks;  // the groups, in the order they were made
  int32_t m_rowCount = 0;            // rows made, which fill the first places of the groups
  Workbook* m_workbook = nullptr;
};

}  // namespace kelp
