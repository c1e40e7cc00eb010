// Repaint flags, painting, pixel scrolling and the inverted selection of the grid view.
#include "shell/GridView.h"

#include <algorithm>
#include <cstdlib>

#include "model/Workbook.h"
#include "platform/ui/Desktop.h"
#include "shell/GridPainter.h"

namespace kelp {

namespace {

// Overflowing text and wide borders reach a little past a cell, so a few more pixels
// than the uncovered strip are painted again.
constexpr int ScrollSlack = 5;

}  // namespace

GridView::GridView(std::function<Workbook*()> workbook) : m_workbook(std::move(workbook)) {}

Window* GridView::window() const { return m_desktop ? m_desktop->find(m_window) : nullptr; }

Sheet* GridView::sheet() const {
  Workbook* book = m_workbook();
  return book ? book->activeSheet() : nullptr;
}

GridLayout GridView::layout() const {
  Window* w = window();
  Sheet* s = sheet();
  static const Sheet empty;
  return computeLayout(s ? *s : empty, w ? w->clientRect() : Rect{}, formulaBarShown, fullScreen);
}

GridGeometry GridView::geometry() const {
  static const Sheet empty;
  Sheet* s = sheet();
  return GridGeometry(s ? *s : empty, layout());
}

void GridView::markRepaint(uint16_t flags) {
  if (flags & Repaint::Everything) {
    m_flags = Repaint::Everything;
  } else if (!(m_flags & Repaint::Everything)) {
    m_flags |= flags;
  }
}

void GridView::release() {
  if (m_hold > 0 && --m_hold == 0) update();
}

void GridView::update() {
  if (m_hold > 0 || m_flags == 0) return;
  Window* w = window();
  Sheet* s = sheet();
  const uint16_t flags = m_flags;
  m_flags = 0;
  if (!w || !s) return;
  if ((flags & Repaint::Everything) || !m_painted || m_paintedSheet != s) {
    w->invalidate();
    return;
  }
  // A selection change alone inverts the old and new highlight; a view that moved (even
  // when nobody said so) moves its pixels first.
  if (flags & (Repaint::Scrolled | Repaint::Selection)) applyScroll(*s);
  // The formula bar follows the active cell whatever way the grid was brought up to date.
  const Rect bar = layout().formulaBar;
  if (!bar.empty()) w->invalidate(bar);
}

bool GridView::drawHighlight(const Selection* remove, const Selection* add) {
  Window* w = window();
  Sheet* s = sheet();
  if (!w || !s) return false;
  const GridGeometry g = geometry();
  bool drawn = w->drawNow(g.layout().cells, [&](Canvas& canvas) {
    if (remove) invertSelection(canvas, g, *remove);
    if (add) invertSelection(canvas, g, *add);
  });
  if (drawn && add) m_paintedSelection = *add;
  return drawn;
}

void GridView::applyScroll(Sheet& sheet) {
  Window* w = window();
  const GridLayout l = layout();
  const GridGeometry now(sheet, l);
  const int32_t left = sheet.view.leftColumn, top = sheet.view.topRow;
  if (left == m_paintedLeft && top == m_paintedTop) {
    if (!drawHighlight(&m_paintedSelection, &sheet.selection)) w->invalidate();
    return;
  }
  const Segment& cs = now.scrolledColumns();
  const Segment& rs = now.scrolledRows();
  const int paneWidth = l.cells.right - cs.origin, paneHeight = l.cells.bottom - rs.origin;
  const int dx = left != m_paintedLeft ? -now.columnDistance(m_paintedLeft, left, paneWidth + 1) : 0;
  const int dy = top != m_paintedTop ? -now.rowDistance(m_paintedTop, top, paneHeight + 1) : 0;
  if ((dx != 0 && dy != 0) || std::abs(dx) >= paneWidth || std::abs(dy) >= paneHeight) {
    w->invalidate();
    m_painted = false;
    return;
  }
  // The old highlight goes first, with the geometry it was drawn in, so the moved pixels are clean.
  const GridGeometry before(sheet, l, m_paintedLeft, m_paintedTop);
  const Selection old = m_paintedSelection;
  if (!w->drawNow(l.cells, [&](Canvas& canvas) { invertSelection(canvas, before, old); })) {
    w->invalidate();
    m_painted = false;
    return;
  }
  if (dx != 0) {
    int areaTop = l.cells.top;
    if (!l.columnHeader.empty()) areaTop = std::min(areaTop, l.columnHeader.top);
    if (!l.columnOutline.empty()) areaTop = std::min(areaTop, l.columnOutline.top);
    Rect area{cs.origin, areaTop, l.cells.right, l.cells.bottom};
    w->scroll(dx, 0, area);
    if (dx < 0) w->invalidate({area.right + dx - ScrollSlack, area.top, area.right, area.bottom});
    if (dx > 0) w->invalidate({area.left, area.top, area.left + dx + ScrollSlack, area.bottom});
  } else {
    int areaLeft = l.cells.left;
    if (!l.rowHeader.empty()) areaLeft = std::min(areaLeft, l.rowHeader.left);
    if (!l.rowOutline.empty()) areaLeft = std::min(areaLeft, l.rowOutline.left);
    Rect area{areaLeft, rs.origin, l.cells.right, l.cells.bottom};
    w->scroll(0, dy, area);
    if (dy < 0) w->invalidate({area.left, area.bottom + dy - ScrollSlack, area.right, area.bottom});
    if (dy > 0) w->invalidate({area.left, area.top, area.right, area.top + dy + ScrollSlack});
  }
  ++m_pixelScrolls;
  m_paintedLeft = static_cast<uint16_t>(left);
  m_paintedTop = static_cast<uint16_t>(top);
  // The strip still to be painted gets the highlight from its paint; inverting it here
  // as well does no harm, since that paint replaces its pixels.
  drawHighlight(nullptr, &sheet.selection);
}

void GridView::paint(Canvas& canvas) {
  Workbook* book = workbook();
  Sheet* s = sheet();
  Window* w = window();
  if (!book || !s || !w) return;
  const GridLayout l = layout();
  const Rect update = canvas.clip();
  // A paint of part of the window must find the rest showing the same view and selection;
  // when changes are still waiting for their update, everything is painted again.
  const bool partial = !update.contains(l.gridArea);
  const bool stale = !m_painted || m_paintedSheet != s || m_paintedLeft != s->view.leftColumn ||
                     m_paintedTop != s->view.topRow || (m_flags & (Repaint::Selection | Repaint::Scrolled));
  if (partial && stale) {
    w->invalidate();
    m_flags = 0;
  } else if (!partial) {
    m_flags = 0;
  }
  const GridGeometry g(*s, l);
  paintGrid(canvas, *book, g, update, s->selection);
  if (overlay) overlay(canvas, g);
  if (!l.formulaBar.empty()) {
    canvas.fillRect(l.formulaBar, Colors::White);
    canvas.fillRect({l.formulaBar.left, l.formulaBar.bottom - 1, l.formulaBar.right, l.formulaBar.bottom},
                    Colors::Black);
    if (formulaBarText) {
      FontSpec font = headerFont(100);
      Rect box{l.formulaBar.left + 3, l.formulaBar.top, l.formulaBar.right - 3, l.formulaBar.bottom - 1};
      canvas.drawTextBox(box, formulaBarText(), font, TextFlag::Left | TextFlag::VCenter);
    }
  }
  m_painted = true;
  m_paintedSheet = s;
  m_paintedLeft = s->view.leftColumn;
  m_paintedTop = s->view.topRow;
  m_paintedSelection = s->selection;
}

void GridView::scrollIntoView(int32_t col, int32_t row, bool margin) {
  Sheet* s = sheet();
  if (!s) return;
  SheetView& v = s->view;
  const GridGeometry g = geometry();
  // Only cells shown whole count here: a cell moved to would otherwise be left mostly
  // outside the screen in a partly shown last column or row.
  const int32_t columns = g.wholeColumnsFrom(v.leftColumn);
  const int32_t rows = g.wholeRowsFrom(v.topRow);
  int32_t left = std::max(col - columns + 1 + (margin && columns > 1 ? 1 : 0), std::min<int32_t>(v.leftColumn, col));
  int32_t top = std::max(row - rows + 1 + (margin && rows > 1 ? 2 : 0), std::min<int32_t>(v.topRow, row));
  if (v.columnsFrozen) left = std::max<int32_t>(left, v.frozenLastColumn + 1);
  if (v.rowsFrozen) top = std::max<int32_t>(top, v.frozenLastRow + 1);
  left = std::clamp<int32_t>(left, 0, MaxColumns - 1);
  top = std::clamp<int32_t>(top, 0, MaxRows - 1);
  while (left < MaxColumns - 1 && g.columnWidth(left) == 0) ++left;
  while (top < MaxRows - 1 && g.rowHeight(top) == 0) ++top;
  if (top + rows > MaxRows && top > 0) --top;
  if (left != v.leftColumn || top != v.topRow) {
    v.leftColumn = static_cast<uint16_t>(left);
    v.topRow = static_cast<uint16_t>(top);
    markRepaint(Repaint::Scrolled);
  }
}

}  // namespace kelp
