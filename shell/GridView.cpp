// Repaint flags, painting, pixel scrolling and the inverted selection of the grid view.
#include "shell/GridView.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "model/Workbook.h"
#include "platform/ui/Desktop.h"
#include "shell/GridPainter.h"

namespace kelp {

namespace {

// The left edge of the scrolled pane's last column when the right edge cuts it, else INT_MAX.
int cutColumnLeft(const GridGeometry& g) {
  const Segment& s = g.scrolledColumns();
  if (s.empty()) return INT_MAX;
  const int left = g.columnEdgeIn(s, s.last);
  return left + g.columnWidth(s.last) > g.layout().cells.right ? left : INT_MAX;
}

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
  Workbook* book = m_workbook();
  FontSpec standard = book ? standardFont(*book) : FontSpec{u"Tahoma", 13};
  return computeLayout(s ? *s : empty, w ? w->clientRect() : Rect{}, formulaBarShown, fullScreen, standard);
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
  // A row header widened for longer row numbers moves every column: no pixels can be reused.
  if ((flags & Repaint::Everything) || !m_painted || m_paintedSheet != s || layout().cells != m_paintedCells) {
    w->invalidate();
    return;
  }
  // A selection change alone inverts the old and new highlight; a view that moved (even
  // when nobody said so) moves its pixels first.
  if (flags & (Repaint::Scrolled | Repaint::Selection)) {
    applyScroll(*s);
    drawHeaders();
  }
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

void GridView::drawHeaders() {
  Window* w = window();
  Workbook* book = workbook();
  Sheet* s = sheet();
  if (!w || !book || !s) return;
  // The headers mark the selection's rows and columns, so they follow every move of it.
  const GridGeometry g = geometry();
  for (const Rect& strip : {g.layout().columnHeader, g.layout().rowHeader}) {
    if (strip.empty()) continue;
    if (!w->drawNow(strip, [&](Canvas& canvas) { paintHeaders(canvas, *book, g, s->selection); })) w->invalidate(strip);
  }
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
    // A number in a column cut by the right edge is not drawn, so the column cut before
    // (now moved) and the one cut now are painted again.
    const int cutBefore = cutColumnLeft(before);
    if (cutBefore != INT_MAX) w->invalidate({cutBefore + dx, area.top, area.right, area.bottom});
    const int cutNow = cutColumnLeft(now);
    if (cutNow != INT_MAX) w->invalidate({cutNow, area.top, area.right, area.bottom});
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
                     m_paintedTop != s->view.topRow || l.cells != m_paintedCells ||
                     (m_flags & (Repaint::Selection | Repaint::Scrolled));
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
  m_paintedCells = l.cells;
  m_paintedLeft = s->view.leftColumn;
  m_paintedTop = s->view.topRow;
  m_paintedSelection = s->selection;
}

namespace {

// The first column (row) of the scrolled pane that shows `target` and `extra` more visible
// ones after it whole, moving as little as possible from `first`. Hidden lines take no
// pixels and so count for nothing: the walk measures pixels, never lines.
int32_t firstToShow(int32_t first, int32_t target, int extra, int32_t lowest, int32_t last, int room,
                    const std::function<int(int32_t)>& size) {
  int32_t end = target;
  for (int32_t i = target + 1; extra > 0 && i <= last; ++i) {
    if (size(i) > 0) {
      end = i;
      --extra;
    }
  }
  first = std::max(first, lowest);
  if (target < first) {
    first = target;
  } else {
    int used = 0;
    for (int32_t i = first; i <= end && used <= room; ++i) used += size(i);
    if (used > room) {
      // Walk back from the end while the lines still fit; the end itself always shows.
      used = 0;
      first = end;
      for (int32_t i = end; i >= lowest; --i) {
        const int h = size(i);
        if (h == 0) continue;
        if (used + h > room && i < target) break;
        used += h;
        first = i;
      }
    }
  }
  first = std::clamp(first, lowest, last);
  while (first < std::min(target, last) && size(first) == 0) ++first;
  return first;
}

}  // namespace

void GridView::scrollIntoView(int32_t col, int32_t row, bool margin) {
  Sheet* s = sheet();
  if (!s) return;
  SheetView& v = s->view;
  const int32_t oldLeft = v.leftColumn, oldTop = v.topRow;
  col = std::clamp<int32_t>(col, 0, MaxColumns - 1);
  row = std::clamp<int32_t>(row, 0, MaxRows - 1);
  // Rows first: the row header widens with the numbers it shows, which moves the columns.
  {
    const GridGeometry g = geometry();
    const int room = g.layout().cells.bottom - g.scrolledRows().origin;
    const int32_t lowest = v.rowsFrozen ? std::min<int32_t>(v.frozenLastRow + 1, MaxRows - 1) : 0;
    v.topRow = static_cast<uint16_t>(firstToShow(v.topRow, row, margin ? 2 : 0, lowest, MaxRows - 1, room,
                                                 [&](int32_t r) { return g.rowHeight(r); }));
  }
  {
    const GridGeometry g = geometry();
    const int room = g.layout().cells.right - g.scrolledColumns().origin;
    const int32_t lowest = v.columnsFrozen ? std::min<int32_t>(v.frozenLastColumn + 1, MaxColumns - 1) : 0;
    v.leftColumn = static_cast<uint16_t>(firstToShow(v.leftColumn, col, margin ? 1 : 0, lowest, MaxColumns - 1,
                                                     room, [&](int32_t c) { return g.columnWidth(c); }));
  }
  if (v.leftColumn != oldLeft || v.topRow != oldTop) markRepaint(Repaint::Scrolled);
}

}  // namespace kelp
