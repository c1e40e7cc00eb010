// Layout rectangles, zoomed sizes and the pixel walks of the grid.
#include "shell/GridLayout.h"

#include <algorithm>
#include <climits>

#include "model/Sheet.h"
#include "platform/Text.h"

namespace kelp {

namespace {

constexpr int OutlineUnit = 10;
constexpr int RowHeaderWidth = 26;
constexpr int ColumnHeaderHeight = 14;
constexpr int HeaderFontHeight = 12;

// The last row with a height whose top lies above `bottom`, the frozen rows first and then
// the scrolled ones from the top row; the rows below the header do not depend on its width.
int32_t lowestRowShown(const Sheet& sheet, int zoom, int top, int bottom) {
  const SheetView& v = sheet.view;
  int32_t lowest = v.topRow;
  int pos = top;
  auto walk = [&](int32_t first, int32_t last) {
    for (int32_t row = first; row <= last && pos < bottom; ++row) {
      int h = scaledRowHeight(sheet.visibleRowHeightPixels(row), zoom);
      if (h > 0) lowest = row;
      pos += h;
    }
  };
  if (v.rowsFrozen && v.frozenFirstRow <= v.frozenLastRow) walk(v.frozenFirstRow, v.frozenLastRow);
  walk(v.topRow, MaxRows - 1);
  return lowest;
}

}  // namespace

FontSpec headerFont(int zoom) {
  FontSpec font;
  font.face = u"Tahoma";
  font.height = scaledFontHeight(HeaderFontHeight, zoom);
  font.weight = 400;
  return font;
}

int digitWidth(const FontSpec& font) {
  int widest = 0;
  for (char16_t digit = u'0'; digit <= u'9'; ++digit) widest = std::max(widest, charWidth(font, digit));
  // Without any font file every advance is 0; the handheld's proportion keeps columns usable.
  return widest > 0 ? widest : std::max(1, (font.height * FallbackDigitWidth + 6) / 13);
}

int rowHeaderWidth(int32_t lastRow, int zoom) {
  const int usual = scaled(RowHeaderWidth, zoom);
  const int label = textWidth(headerFont(zoom), decimalText(std::clamp<int32_t>(lastRow, 0, MaxRows - 1) + 1));
  return std::max(usual, label + 2);
}

int rowOutlineLevel(const Sheet& sheet, int32_t row) {
  const Row* r = sheet.rowAt(row);
  return r ? (r->flags & 7) : 0;
}

GridLayout computeLayout(const Sheet& sheet, const Rect& client, bool formulaBarShown, bool fullScreen,
                         const FontSpec& standardFont) {
  GridLayout l;
  l.client = client;
  l.zoom = static_cast<int>(std::clamp<uint32_t>(sheet.view.zoom, 10, 400));
  // Text shrinks less than the grid at small zooms, so columns follow the font drawn.
  FontSpec zoomed = standardFont;
  zoomed.height = std::max(1, scaledFontHeight(standardFont.height, l.zoom));
  l.digitWidth = digitWidth(zoomed);
  l.gridArea = client;
  if (formulaBarShown) {
    l.formulaBar = {client.left, client.top, client.right, std::min(client.bottom, client.top + FormulaBarHeight)};
    l.gridArea.top = l.formulaBar.bottom;
  }
  l.rowLevels = sheet.rowOutlineTop;
  l.columnLevels = sheet.columnOutlineTop;
  int left = l.gridArea.left, top = l.gridArea.top;
  if (l.rowLevels > 0) {
    int width = scaled(OutlineUnit * l.rowLevels, l.zoom) + 2;
    l.rowOutline = {left, l.gridArea.top, std::min(l.gridArea.right, left + width), l.gridArea.bottom};
    left = l.rowOutline.right;
  }
  if (l.columnLevels > 0) {
    int height = scaled(OutlineUnit * l.columnLevels, l.zoom) + 2;
    l.columnOutline = {l.gridArea.left, top, l.gridArea.right, std::min(l.gridArea.bottom, top + height)};
    top = l.columnOutline.bottom;
    // The row margin starts below the column margin; their meeting corner holds the buttons.
    if (!l.rowOutline.empty()) l.rowOutline.top = top;
  }
  l.headers = sheet.view.showHeaders && !fullScreen;
  if (l.headers) {
    // Below 85% the header font shrinks less than the grid: the strip keeps a whole line of it.
    int height = scaled(ColumnHeaderHeight, l.zoom);
    if (l.zoom < 85) height = std::max(height, fontMetrics(headerFont(l.zoom)).lineHeight);
    int width = rowHeaderWidth(lowestRowShown(sheet, l.zoom, top + height, l.gridArea.bottom), l.zoom);
    l.corner = {left, top, std::min(l.gridArea.right, left + width), std::min(l.gridArea.bottom, top + height)};
    l.columnHeader = {l.corner.right, top, l.gridArea.right, l.corner.bottom};
    l.rowHeader = {left, l.corner.bottom, l.corner.right, l.gridArea.bottom};
    left = l.corner.right;
    top = l.corner.bottom;
  }
  l.cells = {left, top, l.gridArea.right, l.gridArea.bottom};
  return l;
}

GridGeometry::GridGeometry(const Sheet& sheet, const GridLayout& layout, int32_t leftColumn, int32_t topRow)
    : m_sheet(sheet), m_layout(layout) {
  if (leftColumn < 0) leftColumn = sheet.view.leftColumn;
  if (topRow < 0) topRow = sheet.view.topRow;
  const SheetView& v = sheet.view;
  const Rect& c = layout.cells;
  m_frozenColumns = makeSegment(v.columnsFrozen, v.frozenFirstColumn, v.frozenLastColumn, c.left, c.right, true);
  int scrolledLeft = m_frozenColumns.empty() ? c.left : std::min(c.right, m_frozenColumns.origin +
                                                            columnDistance(m_frozenColumns.first,
                                                                           v.frozenLastColumn + 1, c.width()));
  m_scrolledColumns = makeSegment(true, leftColumn, MaxColumns - 1, scrolledLeft, c.right, true);
  m_frozenRows = makeSegment(v.rowsFrozen, v.frozenFirstRow, v.frozenLastRow, c.top, c.bottom, false);
  int scrolledTop = m_frozenRows.empty() ? c.top : std::min(c.bottom, m_frozenRows.origin +
                                                        rowDistance(m_frozenRows.first, v.frozenLastRow + 1,
                                                                    c.height()));
  m_scrolledRows = makeSegment(true, topRow, MaxRows - 1, scrolledTop, c.bottom, false);
}

Segment GridGeometry::makeSegment(bool on, int32_t first, int32_t last, int origin, int end, bool columns) const {
  Segment s;
  s.origin = origin;
  s.end = end;
  s.first = first;
  s.last = first - 1;
  if (!on || first > last || origin >= end) return s;
  int pos = origin;
  for (int32_t i = first; i <= last && pos < end; ++i) {
    s.last = i;
    pos += columns ? columnWidth(i) : rowHeight(i);
  }
  // A frozen segment stops where its titles end, never past the area.
  if (last < (columns ? MaxColumns - 1 : MaxRows - 1)) s.end = std::min(end, pos);
  return s;
}

int GridGeometry::columnWidth(int32_t col) const {
  if (col < 0 || col >= MaxColumns) return 0;
  return m_sheet.columns.visibleColumnWidthPixels(col, m_layout.digitWidth / 256.0);
}

int GridGeometry::rowHeight(int32_t row) const {
  if (row < 0 || row >= MaxRows) return 0;
  return scaledRowHeight(m_sheet.visibleRowHeightPixels(row), m_layout.zoom);
}

int GridGeometry::columnDistance(int32_t from, int32_t to, int limit) const {
  int d = 0;
  if (to >= from) {
    for (int32_t i = from; i < to && d <= limit; ++i) d += columnWidth(i);
    return d;
  }
  for (int32_t i = from - 1; i >= to && -d <= limit; --i) d -= columnWidth(i);
  return d;
}

int GridGeometry::rowDistance(int32_t from, int32_t to, int limit) const {
  int d = 0;
  if (to >= from) {
    for (int32_t i = from; i < to && d <= limit; ++i) d += rowHeight(i);
    return d;
  }
  for (int32_t i = from - 1; i >= to && -d <= limit; --i) d -= rowHeight(i);
  return d;
}

int GridGeometry::columnEdgeIn(const Segment& s, int32_t col) const {
  return s.origin + columnDistance(s.first, col);
}

int GridGeometry::rowEdgeIn(const Segment& s, int32_t row) const {
  return s.origin + rowDistance(s.first, row, m_layout.client.height() + 16);
}

int32_t GridGeometry::columnAt(int x) const {
  for (const Segment* s : {&m_frozenColumns, &m_scrolledColumns}) {
    if (s->empty() || x < s->origin || x >= s->end) continue;
    int pos = s->origin;
    for (int32_t col = s->first; col <= s->last; ++col) {
      int next = pos + columnWidth(col);
      if (x >= pos && x < next) return col;
      pos = next;
    }
  }
  return -1;
}

int32_t GridGeometry::rowAt(int y) const {
  for (const Segment* s : {&m_frozenRows, &m_scrolledRows}) {
    if (s->empty() || y < s->origin || y >= s->end) continue;
    int pos = s->origin;
    for (int32_t row = s->first; row <= s->last; ++row) {
      int next = pos + rowHeight(row);
      if (y >= pos && y < next) return row;
      pos = next;
    }
  }
  return -1;
}

int GridGeometry::columnX(int32_t col) const {
  for (const Segment* s : {&m_frozenColumns, &m_scrolledColumns}) {
    if (!s->empty() && col >= s->first && col <= s->last) return columnEdgeIn(*s, col);
  }
  return INT32_MIN;
}

int GridGeometry::rowY(int32_t row) const {
  for (const Segment* s : {&m_frozenRows, &m_scrolledRows}) {
    if (!s->empty() && row >= s->first && row <= s->last) return rowEdgeIn(*s, row);
  }
  return INT32_MIN;
}

Rect GridGeometry::cellRect(int32_t col, int32_t row) const {
  int x = columnX(col), y = rowY(row);
  if (x == INT32_MIN || y == INT32_MIN) return {};
  return rectOfSize(x, y, columnWidth(col), rowHeight(row));
}

int GridGeometry::visibleColumnsFrom(int32_t from) const {
  int count = 0;
  int pos = m_scrolledColumns.origin;
  for (int32_t col = std::max(from, 0); col < MaxColumns && pos < m_layout.cells.right; ++col) {
    ++count;
    pos += columnWidth(col);
  }
  return count;
}

int GridGeometry::visibleRowsFrom(int32_t from) const {
  int count = 0;
  int pos = m_scrolledRows.origin;
  for (int32_t row = std::max(from, 0); row < MaxRows && pos < m_layout.cells.bottom; ++row) {
    ++count;
    pos += rowHeight(row);
  }
  return count;
}

int GridGeometry::wholeColumnsFrom(int32_t from) const {
  int count = 0;
  int pos = m_scrolledColumns.origin;
  for (int32_t col = std::max(from, 0); col < MaxColumns; ++col) {
    pos += columnWidth(col);
    if (pos > m_layout.cells.right) break;
    ++count;
  }
  return std::max(count, 1);
}

int GridGeometry::wholeRowsFrom(int32_t from) const {
  int count = 0;
  int pos = m_scrolledRows.origin;
  for (int32_t row = std::max(from, 0); row < MaxRows; ++row) {
    pos += rowHeight(row);
    if (pos > m_layout.cells.bottom) break;
    ++count;
  }
  return std::max(count, 1);
}

}  // namespace kelp
