// The grid's geometry: layout rectangles, zoomed sizes, frozen panes and the walks
// between columns or rows and pixels.
#pragma once

#include <cstdint>

#include "platform/ui/Font.h"
#include "platform/ui/Geometry.h"

namespace kelp {

class Sheet;

/// Height of the formula bar strip at the top of the client area.
constexpr int FormulaBarHeight = 17;
/// The digit width column widths assume when no font can be measured (the handheld's
/// standard font at 100%).
constexpr int FallbackDigitWidth = 7;

/// A length in sheet units at a zoom percentage.
inline int scaled(int value, int zoom) { return value * zoom / 100; }
/// Font heights shrink less than the grid at small zooms, so that text stays readable.
inline int scaledFontHeight(int height, int zoom) {
  return zoom < 85 ? height * (zoom + 8) / 100 : height * zoom / 100;
}
/// A row height at a zoom: below 85% rows shrink as their fonts do, so that a line of text
/// still fits its row.
inline int scaledRowHeight(int height, int zoom) { return zoom < 85 ? scaledFontHeight(height, zoom) : scaled(height, zoom); }
/// The header font at a zoom.
FontSpec headerFont(int zoom);
/// The advance of the widest digit of `font` in pixels: column widths count in 1/256 of a
/// digit of the standard font. Without a font file it is estimated from the height.
int digitWidth(const FontSpec& font);
/// The row header's width at a zoom, widened past its usual 26 units so that the label of
/// `lastRow` (the lowest row shown) fits.
int rowHeaderWidth(int32_t lastRow, int zoom);

/// An outline level of a row, kept in the low three bits of its flags as Excel keeps it.
int rowOutlineLevel(const Sheet& sheet, int32_t row);
/// The deepest outline level among the sheet's rows (columns).

/// The client area divided as the grid shows it.
struct GridLayout {
  Rect client;
  Rect formulaBar;     // empty unless the formula bar is shown
  Rect gridArea;
  Rect rowOutline;     // empty unless rows are outlined
  Rect columnOutline;  // empty unless columns are outlined
  Rect columnHeader;   // empty without headers
  Rect rowHeader;
  Rect corner;
  Rect cells;
  int zoom = 100;
  int digitWidth = FallbackDigitWidth;  // of the standard font at the zoom
  bool headers = true;
  int rowLevels = 0;
  int columnLevels = 0;
};

/// `standardFont` is the workbook's standard font at 100%; the layout measures it at the zoom.
GridLayout computeLayout(const Sheet& sheet, const Rect& client, bool formulaBarShown, bool fullScreen,
                         const FontSpec& standardFont = FontSpec{u"Tahoma", 13});

/// One run of columns (or rows) drawn side by side: the frozen titles or the scrolled pane.
struct Segment {
  int32_t first = 0;  // first column (row) drawn
  int32_t last = -1;  // last column (row) whose edge lies before `end`; -1 when none
  int origin = 0;     // pixel where `first` starts
  int end = 0;        // pixel where the segment stops
  bool empty() const { return last < first || end <= origin; }
};

/// The sheet seen through a layout: sizes in pixels and the walks between pixels and cells.
class GridGeometry {
 public:
  /// The scrolled pane starts at the sheet's left column and top row, or at the given ones.
  GridGeometry(const Sheet& sheet, const GridLayout& layout, int32_t leftColumn = -1, int32_t topRow = -1);

  const Sheet& sheet() const { return m_sheet; }
  const GridLayout& layout() const { return m_layout; }
  int zoom() const { return m_layout.zoom; }

  int columnWidth(int32_t col) const;
  int rowHeight(int32_t row) const;

  /// Frozen and scrolled segments; a segment without frozen titles is empty.
  const Segment& frozenColumns() const { return m_frozenColumns; }
  const Segment& scrolledColumns() const { return m_scrolledColumns; }
  const Segment& frozenRows() const { return m_frozenRows; }
  const Segment& scrolledRows() const { return m_scrolledRows; }

  /// The column (row) under a pixel of the cells area, -1 when none.
  int32_t columnAt(int x) const;
  int32_t rowAt(int y) const;
  /// The left (top) edge of a shown column (row), or INT32_MIN when it is not shown.
  int columnX(int32_t col) const;
  int rowY(int32_t row) const;
  /// The cell's rectangle when it is shown, else an empty rectangle.
  Rect cellRect(int32_t col, int32_t row) const;

  /// Columns (rows) from `from` on whose left edge, placed after the frozen titles,
  /// lies before the right edge of the cells area; a partly shown last one counts.
  int visibleColumnsFrom(int32_t from) const;
  int visibleRowsFrom(int32_t from) const;
  /// The same counting only columns (rows) shown whole, at least 1.
  int wholeColumnsFrom(int32_t from) const;
  int wholeRowsFrom(int32_t from) const;

  /// The pixel offset from the left edge of column `from` to that of column `to` (negative
  /// when `to` lies left of it), walking at most until the distance passes `limit`.
  int columnDistance(int32_t from, int32_t to, int limit = 1 << 30) const;
  int rowDistance(int32_t from, int32_t to, int limit = 1 << 30) const;
  /// Where column (row) `col` would start in a segment, even when it lies outside it. Columns
  /// are walked to the end, since text drawn from far outside lands by it; rows are walked
  /// at most a screen's reach beyond the segment so that a whole-column selection stays cheap.
  int columnEdgeIn(const Segment& segment, int32_t col) const;
  int rowEdgeIn(const Segment& segment, int32_t row) const;

 private:
  Segment makeSegment(bool frozen, int32_t first, int32_t last, int origin, int end, bool columns) const;

  const Sheet& m_sheet;
  GridLayout m_layout;
  Segment m_frozenColumns, m_scrolledColumns, m_frozenRows, m_scrolledRows;
};

}  // namespace kelp
