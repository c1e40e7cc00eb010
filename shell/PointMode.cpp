// The PointMode test, the reference text of the pointer range and its frame.
#include "shell/PointMode.h"

#include <algorithm>

#include "formula/FormulaText.h"
#include "model/Workbook.h"
#include "platform/ui/Canvas.h"
#include "shell/GridLayout.h"

namespace kelp {

namespace {

constexpr Color PointerColor = rgb(0, 96, 255);
constexpr int PointerWidth = 2;

std::u16string cellName(int32_t col, int32_t row) {
  std::u16string name, number;
  columnName(static_cast<uint16_t>(col), name);
  rowName(static_cast<uint16_t>(row), number);
  return name + number;
}

// The edges of a run of columns (rows) in pixels, for a run partly or wholly outside the
// shown part too.
int columnLeft(const GridGeometry& g, int32_t col) {
  int x = g.columnX(col);
  return x != INT32_MIN ? x : g.columnEdgeIn(g.scrolledColumns(), col);
}
int rowTop(const GridGeometry& g, int32_t row) {
  int y = g.rowY(row);
  return y != INT32_MIN ? y : g.rowEdgeIn(g.scrolledRows(), row);
}

}  // namespace

bool formulaWaitsForReference(std::u16string_view text, size_t caret, char16_t listSeparator) {
  if (text.empty() || text[0] != u'=' || caret == 0 || caret > text.size()) return false;
  const char16_t before = text[caret - 1];
  return std::u16string_view(u"+-*/<>=&(:").find(before) != std::u16string_view::npos || before == listSeparator;
}

std::u16string pointerReference(const Workbook& book, int32_t formulaSheet, int32_t pointerSheet,
                                const Selection& range) {
  std::u16string text;
  if (pointerSheet != formulaSheet) {
    if (const Sheet* sheet = book.sheetAt(pointerSheet)) text = u"'" + sheet->name + u"'!";
  }
  text += cellName(range.firstColumn, range.firstRow);
  if (range.firstColumn != range.lastColumn || range.firstRow != range.lastRow) {
    text += u':';
    text += cellName(range.lastColumn, range.lastRow);
  }
  return text;
}

void paintPointer(Canvas& canvas, const GridGeometry& geometry, const Selection& range) {
  const Rect cells = geometry.layout().cells;
  const int left = columnLeft(geometry, range.firstColumn);
  const int right = columnLeft(geometry, range.lastColumn) + geometry.columnWidth(range.lastColumn);
  const int top = rowTop(geometry, range.firstRow);
  const int bottom = rowTop(geometry, range.lastRow) + geometry.rowHeight(range.lastRow);
  const Rect frame{left, top, right, bottom};
  if (!frame.intersects(cells)) return;
  canvas.pushClip(cells);
  Pen pen;
  pen.color = PointerColor;
  pen.width = 1;
  pen.style = PenStyle::Dash;
  // Two one-pixel lines inside the edge keep the dashes crisp at any width.
  for (int i = 0; i < PointerWidth; ++i) {
    const int l = frame.left + i, t = frame.top + i, r = frame.right - 1 - i, b = frame.bottom - 1 - i;
    canvas.drawLine({l, t}, {r, t}, pen);
    canvas.drawLine({r, t}, {r, b}, pen);
    canvas.drawLine({r, b}, {l, b}, pen);
    canvas.drawLine({l, b}, {l, t}, pen);
  }
  canvas.popClip();
}

}  // namespace kelp
