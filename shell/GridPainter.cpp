// The grid's paint: margins, headers, panes of cells, merged areas, borders and the selection.
#include "shell/GridPainter.h"

#include <algorithm>
#include <climits>
#include <vector>

#include "format/ValueText.h"
#include "formula/FormulaText.h"
#include "model/CellTaskText.h"
#include "model/Workbook.h"
#include "platform/Text.h"

namespace kelp {

namespace {

constexpr int MaxFillText = 2048;
constexpr int CenterAcrossRoom = 1000;
constexpr uint32_t ValidationList = 3;
constexpr uint32_t ValidationNoDropDown = 1u << 9;

Color paletteColor(const Workbook& book, int index, bool& found) {
  found = index >= 8 && index < 64;
  if (!found) return Colors::White;
  uint32_t bgr = book.palette.colors[static_cast<size_t>(index - 8)];
  return rgb(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF);
}

// A fill shows when the pattern is set and names a palette colour; the plain white of a
// new cell format (colour 9, pattern 1) is no fill, so such cells keep their gridlines.
bool fillColor(const Workbook& book, const StyleRecord& style, Color& out) {
  int pattern = style.fillPattern();
  int index = style.fillForeground();
  if (pattern == 0 || (index == 9 && pattern == 1)) return false;
  bool found = false;
  out = paletteColor(book, index, found);
  return found;
}

int32_t measure(std::u16string_view text, const void* context) {
  return textWidth(*static_cast<const FontSpec*>(context), text);
}

struct TextItem {
  std::u16string text;
  Rect area;
  FontSpec font;
  uint32_t flags = 0;
  bool whole = false;  // a number or other value, drawn whole or not at all
};

// The fills of the headers of the selection's rows and columns, and of the active cell's.
constexpr Color SelectedHeader = rgb(208, 222, 242);
constexpr Color ActiveHeader = rgb(150, 182, 228);

struct Pane {
  const Segment* columns;
  const Segment* rows;
  Rect rect;
};

// The room a task icon takes at the left of its cell.
constexpr int TaskIconRoom = 12;

// The cell task icons 1 to 9 (OK, Cancel, Picture, Sound, Chart, Goto, Web, Email, Combo
// Box) drawn as small pictures in `box`.
void paintTaskIcon(Canvas& c, const Rect& box, int icon) {
  const int l = box.left, t = box.top, r = box.right - 1, b = box.bottom - 1;
  const int mx = (l + r) / 2, my = (t + b) / 2;
  const Pen ink{Colors::Black, 1, PenStyle::Solid};
  switch (icon) {
    case 1: {  // OK: a green tick
      const Pen green{rgb(0, 150, 0), 2, PenStyle::Solid};
      c.drawLine({l + 1, my}, {mx - 1, b - 1}, green);
      c.drawLine({mx - 1, b - 1}, {r - 1, t + 1}, green);
      break;
    }
    case 2: {  // Cancel: a red cross
      const Pen red{rgb(200, 0, 0), 2, PenStyle::Solid};
      c.drawLine({l + 1, t + 1}, {r - 1, b - 1}, red);
      c.drawLine({r - 1, t + 1}, {l + 1, b - 1}, red);
      break;
    }
    case 3:  // Picture: a framed blue sky over a green hill
      c.fillRect(box, rgb(120, 170, 255));
      c.fillPolygon({{l, b + 1}, {mx, my}, {r + 1, b + 1}}, rgb(0, 140, 0));
      c.frameRect(box, Colors::Black);
      break;
    case 4:  // Sound: a note
      c.fillEllipse({l + 1, b - 3, l + 6, b + 1}, Colors::Black);
      c.drawLine({l + 5, b - 2}, {l + 5, t}, ink);
      c.drawLine({l + 5, t}, {r, t + 2}, ink);
      break;
    case 5:  // Chart: three bars
      c.fillRect({l, my, l + 3, b + 1}, rgb(0, 0, 200));
      c.fillRect({l + 4, t + 2, l + 7, b + 1}, rgb(200, 0, 0));
      c.fillRect({l + 8, my - 2, r + 1, b + 1}, rgb(0, 150, 0));
      break;
    case 6:  // Goto: an arrow to the right
      c.fillRect({l, my - 1, mx + 1, my + 2}, rgb(0, 0, 160));
      c.fillPolygon({{mx, t + 1}, {r + 1, my}, {mx, b}}, rgb(0, 0, 160));
      break;
    case 7:  // Web: a globe
      c.fillEllipse(box, rgb(60, 120, 220));
      c.drawLine({l, my}, {r, my}, Pen{Colors::White, 1, PenStyle::Solid});
      c.drawLine({mx, t}, {mx, b}, Pen{Colors::White, 1, PenStyle::Solid});
      break;
    case 8:  // Email: an envelope
      c.fillRect({l, t + 2, r + 1, b}, Colors::White);
      c.frameRect({l, t + 2, r + 1, b}, Colors::Black);
      c.drawLine({l, t + 2}, {mx, my + 1}, ink);
      c.drawLine({mx, my + 1}, {r, t + 2}, ink);
      break;
    case 9:  // Combo Box: a field with its drop-down button
      c.frameRect(box, Colors::Gray);
      c.fillPolygon({{l + 2, my - 1}, {r - 1, my - 1}, {mx, b - 2}}, Colors::Black);
      break;
    default: break;
  }
}

class Painter {
 public:
  Painter(Canvas& canvas, const Workbook& book, const GridGeometry& g)
      : m_canvas(canvas), m_book(book), m_sheet(g.sheet()), m_g(g), m_zoom(g.zoom()) {}

  void paint(const Rect& update, const Selection& selection);
  void paintHeaders(const Selection& selection);

 private:
  void paintOutlines();
  void paintPane(const Pane& pane);
  void paintMerged(const Pane& pane);
  void paintBorders(const Pane& pane);
  void paintMarks(int32_t col, int32_t row, const Rect& cell);
  /// The icon of the cell's task when the cell has room to show it, else 0.
  int taskIcon(int32_t col, int32_t row, const Rect& cell) const;
  bool layoutText(int32_t col, int32_t row, const Rect& cell, bool merged, const Segment& columns,
                  TextItem& item, int32_t& coverFirst, int32_t& coverLast);
  const FontSpec& fontFor(int16_t styleIndex);
  bool cellEmptyForOverflow(int32_t col, int32_t row) const {
    return col >= 0 && col < MaxColumns && m_sheet.cellKind(col, row) == ValueKind::Empty &&
           (m_sheet.mergedAreas.size() == 0 || m_sheet.findMergedAt(col, row) < 0);
  }
  bool inMerged(int32_t col, int32_t row) const {
    return m_sheet.mergedAreas.size() > 0 && m_sheet.findMergedAt(col, row) >= 0;
  }

  Canvas& m_canvas;
  const Workbook& m_book;
  const Sheet& m_sheet;
  const GridGeometry& m_g;
  int m_zoom;
  int16_t m_fontStyle = INT16_MIN;
  FontSpec m_font;
};

const FontSpec& Painter::fontFor(int16_t styleIndex) {
  // Consecutive cells mostly share a style, so the font is worked out once for a run.
  if (styleIndex != m_fontStyle) {
    m_font = cellFont(m_book, styleIndex, m_zoom);
    m_fontStyle = styleIndex;
  }
  return m_font;
}

void Painter::paint(const Rect& update, const Selection& selection) {
  const GridLayout& l = m_g.layout();
  m_canvas.pushClip(update);
  if (!l.rowOutline.empty() || !l.columnOutline.empty()) paintOutlines();
  if (l.headers) paintHeaders(selection);
  const Segment* columnSegments[2] = {&m_g.frozenColumns(), &m_g.scrolledColumns()};
  const Segment* rowSegments[2] = {&m_g.frozenRows(), &m_g.scrolledRows()};
  for (const Segment* rows : rowSegments) {
    for (const Segment* columns : columnSegments) {
      if (rows->empty() || columns->empty()) continue;
      Pane pane{columns, rows, Rect{columns->origin, rows->origin, columns->end, rows->end}.intersected(l.cells)};
      if (!pane.rect.intersects(update)) continue;
      m_canvas.pushClip(pane.rect);
      paintPane(pane);
      m_canvas.popClip();
    }
  }
  // Lines under the frozen rows and right of the frozen columns, across the whole grid.
  if (!m_g.frozenRows().empty()) {
    int y = m_g.frozenRows().end - 1;
    m_canvas.fillRect({l.cells.left, y, l.cells.right, y + 1}, Colors::Black);
  }
  if (!m_g.frozenColumns().empty()) {
    int x = m_g.frozenColumns().end - 1;
    m_canvas.fillRect({x, l.cells.top, x + 1, l.cells.bottom}, Colors::Black);
  }
  invertSelection(m_canvas, m_g, selection);
  m_canvas.popClip();
}

void Painter::paintOutlines() {
  const GridLayout& l = m_g.layout();
  const int unit = scaled(10, m_zoom);
  m_canvas.fillRect(l.rowOutline, Colors::ButtonFace);
  m_canvas.fillRect(l.columnOutline, Colors::ButtonFace);
  FontSpec font = headerFont(m_zoom);
  font.height = scaledFontHeight(8, m_zoom);
  Pen pen{Colors::Black, 2, PenStyle::Solid};
  auto button = [&](const Rect& r, int level) {
    m_canvas.fillRect(r, Colors::LightGray);
    m_canvas.fillRect({r.right - 1, r.top, r.right, r.bottom}, Colors::Black);
    m_canvas.fillRect({r.left, r.bottom - 1, r.right, r.bottom}, Colors::Black);
    m_canvas.drawTextBox(r, decimalText(level), font, TextFlag::Center | TextFlag::VCenter);
  };
  if (!l.rowOutline.empty()) {
    if (l.headers) {
      for (int level = 1; level <= l.rowLevels; ++level) {
        int x = l.rowOutline.left + (level - 1) * unit;
        button({x, l.corner.top, x + unit, l.corner.bottom}, level);
      }
    }
    for (const Segment* s : {&m_g.frozenRows(), &m_g.scrolledRows()}) {
      if (s->empty()) continue;
      int y = s->origin;
      int bracketTop = -1;
      for (int32_t row = s->first; row <= s->last + 1 && row < MaxRows; ++row) {
        int h = row <= s->last ? m_g.rowHeight(row) : 0;
        int level = row <= s->last ? rowOutlineLevel(m_sheet, row) : 0;
        if (level > 0 && h > 0) {
          int x = l.rowOutline.left + (level - 1) * unit + unit / 2 - 1;
          m_canvas.fillRect(rectOfSize(x, y + h / 2 - 1, 2, 2), Colors::Black);
          if (bracketTop < 0) bracketTop = y;
        } else if (bracketTop >= 0 && level == 0) {
          // A group ends: a bracket along it, closed by a tick where it ends.
          int x = l.rowOutline.left + unit / 2 - 1;
          m_canvas.drawLine({x, bracketTop + 2}, {x, y - 2}, pen);
          m_canvas.drawLine({x, y - 2}, {x + unit / 2, y - 2}, pen);
          bracketTop = -1;
        }
        y += h;
      }
    }
  }
  if (!l.columnOutline.empty()) {
    if (l.headers) {
      for (int level = 1; level <= l.columnLevels; ++level) {
        int y = l.columnOutline.top + (level - 1) * unit;
        button({l.corner.left, y, l.corner.right, y + unit}, level);
      }
    }
    for (const Segment* s : {&m_g.frozenColumns(), &m_g.scrolledColumns()}) {
      if (s->empty()) continue;
      int x = s->origin;
      int bracketLeft = -1;
      for (int32_t col = s->first; col <= s->last + 1 && col < MaxColumns; ++col) {
        int w = col <= s->last ? m_g.columnWidth(col) : 0;
        int level = col <= s->last ? m_sheet.columns.columnOutlineLevel(col) : 0;
        if (level > 0 && w > 0) {
          int y = l.columnOutline.top + (level - 1) * unit + unit / 2 - 1;
          m_canvas.fillRect(rectOfSize(x + w / 2 - 1, y, 2, 2), Colors::Black);
          if (bracketLeft < 0) bracketLeft = x;
        } else if (bracketLeft >= 0 && level == 0) {
          int y = l.columnOutline.top + unit / 2 - 1;
          m_canvas.drawLine({bracketLeft + 2, y}, {x - 2, y}, pen);
          m_canvas.drawLine({x - 2, y}, {x - 2, y + unit / 2}, pen);
          bracketLeft = -1;
        }
        x += w;
      }
    }
  }
}

void Painter::paintHeaders(const Selection& selection) {
  const GridLayout& l = m_g.layout();
  const FontSpec font = headerFont(m_zoom);
  FontSpec activeFont = font;
  activeFont.weight = 700;
  const Area range = selection.area();
  // 0 a plain header, 1 one of the selection's rows or columns, 2 the active cell's.
  auto headerCell = [&](const Rect& r, std::u16string_view label, int mark = 0) {
    m_canvas.fillRect(r, mark == 2 ? ActiveHeader : mark == 1 ? SelectedHeader : Colors::LightGray);
    m_canvas.drawTextBox(r, label, mark == 2 ? activeFont : font, TextFlag::Center | TextFlag::VCenter);
    m_canvas.fillRect({r.right - 1, r.top, r.right, r.bottom}, Colors::Black);
    m_canvas.fillRect({r.left, r.bottom - 1, r.right, r.bottom}, Colors::Black);
  };
  headerCell(l.corner, u"");
  std::u16string label;
  m_canvas.pushClip(l.columnHeader);
  int lastRight = l.columnHeader.left;
  for (const Segment* s : {&m_g.frozenColumns(), &m_g.scrolledColumns()}) {
    if (s->empty()) continue;
    int x = s->origin;
    for (int32_t col = s->first; col <= s->last && x < s->end; ++col) {
      int w = m_g.columnWidth(col);
      if (w > 0) {
        label.clear();
        columnName(static_cast<uint16_t>(col), label);
        // The clip, not the cell, stops at the segment's end, so a label sits where it
        // will still be once scrolling brings the whole cell into view.
        m_canvas.pushClip({s->origin, l.columnHeader.top, s->end, l.columnHeader.bottom});
        const int mark = col == selection.activeColumn                                 ? 2
                         : col >= range.firstColumn && col <= range.lastColumn ? 1
                                                                              : 0;
        headerCell({x, l.columnHeader.top, x + w, l.columnHeader.bottom}, label, mark);
        m_canvas.popClip();
      }
      x += w;
    }
    lastRight = std::max(lastRight, std::min(x, s->end));
  }
  m_canvas.fillRect({lastRight, l.columnHeader.top, l.columnHeader.right, l.columnHeader.bottom}, Colors::White);
  m_canvas.popClip();

  m_canvas.pushClip(l.rowHeader);
  int lastBottom = l.rowHeader.top;
  for (const Segment* s : {&m_g.frozenRows(), &m_g.scrolledRows()}) {
    if (s->empty()) continue;
    int y = s->origin;
    for (int32_t row = s->first; row <= s->last && y < s->end; ++row) {
      int h = m_g.rowHeight(row);
      if (h > 0) {
        m_canvas.pushClip({l.rowHeader.left, s->origin, l.rowHeader.right, s->end});
        const int mark = row == selection.activeRow ? 2 : row >= range.firstRow && row <= range.lastRow ? 1 : 0;
        headerCell({l.rowHeader.left, y, l.rowHeader.right, y + h}, decimalText(row + 1), mark);
        m_canvas.popClip();
      }
      y += h;
    }
    lastBottom = std::max(lastBottom, std::min(y, s->end));
  }
  m_canvas.fillRect({l.rowHeader.left, lastBottom, l.rowHeader.right, l.rowHeader.bottom}, Colors::White);
  m_canvas.popClip();

  if (l.formulaBar.empty() || l.columnLevels > 0) {
    m_canvas.fillRect({l.gridArea.left, l.gridArea.top, l.gridArea.right, l.gridArea.top + 1}, Colors::Black);
  }
}

int Painter::taskIcon(int32_t col, int32_t row, const Rect& cell) const {
  // Only a text stored in the cell carries a task, never a formula's result.
  const CellValue& value = m_sheet.cellValue(col, row);
  if (value.kind != ValueKind::Text || cell.height() < TaskIconRoom - 2 || cell.width() < 2 * TaskIconRoom) return 0;
  const CellTaskParts parts = splitCellTaskText(textOf(value));
  return parts.hasTask ? parts.icon : 0;
}

bool Painter::layoutText(int32_t col, int32_t row, const Rect& cell, bool merged, const Segment& columns,
                         TextItem& item, int32_t& coverFirst, int32_t& coverLast) {
  (void)columns;
  coverFirst = coverLast = col;
  const CellValue& value = effectiveValue(m_sheet.cellValue(col, row));
  if (value.kind == ValueKind::Empty) return false;
  const int16_t styleIndex = m_sheet.effectiveStyle(col, row);
  const StyleRecord& style = m_book.style(styleIndex);
  item.font = fontFor(styleIndex);
  Rect area{cell.left + 3, cell.top, cell.right - 3, cell.bottom};
  if (m_zoom > 94) area.bottom -= 1;
  // A cell task's icon stands at the left; its text follows it.
  if (taskIcon(col, row, cell) > 0) area.left += TaskIconRoom;
  int h = style.horizontalAlignment();
  const bool isText = value.kind == ValueKind::Text;
  const bool textFormat = style.numberFormat < m_book.numberFormats.size() &&
                          m_book.numberFormats[style.numberFormat].kind == FormatKind::Text;
  if (h == HAlign::General) {
    if (isText || textFormat) {
      h = HAlign::Left;
    } else if (value.kind == ValueKind::Logical || value.kind == ValueKind::Error) {
      h = HAlign::Center;
    } else {
      h = HAlign::Right;
    }
  }
  if (h > HAlign::CenterAcross) h = HAlign::Left;
  int room = h == HAlign::CenterAcross ? CenterAcrossRoom : area.width();
  item.text = cellDisplayText(m_book, m_sheet, col, row, item.font, room);
  if (item.text.empty()) return false;
  item.whole = !isText;
  if (!isText && style.numberFormat < m_book.numberFormats.size()) {
    // A colour of the number format ("[Red]") wins over the font's.
    bool found = false;
    const uint8_t color = displayColor(value, m_book.numberFormats[style.numberFormat]);
    const Color c = color > 0 ? paletteColor(m_book, color + 7, found) : Colors::Black;
    if (found) item.font.color = c;
  }

  const bool multiLine = style.wrapText() || style.verticalAlignment() == VAlign::Justify || h == HAlign::Justify;
  uint32_t flags = 0;
  switch (style.verticalAlignment()) {
    case VAlign::Center: flags |= TextFlag::VCenter; break;
    case VAlign::Bottom: flags |= TextFlag::Bottom; break;
    default: flags |= TextFlag::Top; break;
  }
  if (multiLine) flags |= TextFlag::Wrap;

  if (h == HAlign::CenterAcross && !merged) {
    for (int32_t next = col + 1; next < MaxColumns; ++next) {
      if (!cellEmptyForOverflow(next, row)) break;
      if (m_book.style(m_sheet.effectiveStyle(next, row)).horizontalAlignment() != HAlign::CenterAcross) break;
      area.right += m_g.columnWidth(next);
      coverLast = next;
    }
  } else if (!multiLine && isText && !merged) {
    int width = textWidth(item.font, item.text);
    int32_t right = col, left = col;
    bool toRight = h != HAlign::Right;
    bool toLeft = h == HAlign::Right || h == HAlign::Center;
    while (width > area.width() && (toRight || toLeft)) {
      // A centred text takes a neighbour on each side in turn to stay centred.
      bool grew = false;
      if (toRight) {
        if (right + 1 < MaxColumns && cellEmptyForOverflow(right + 1, row)) {
          area.right += m_g.columnWidth(++right);
          grew = true;
        } else {
          toRight = false;
        }
      }
      if (toLeft && width > area.width()) {
        if (left - 1 >= 0 && cellEmptyForOverflow(left - 1, row)) {
          area.left -= m_g.columnWidth(--left);
          grew = true;
        } else {
          toLeft = false;
        }
      }
      if (!grew) break;
    }
    coverFirst = left;
    coverLast = right;
  }

  if (h == HAlign::Fill && !multiLine) {
    int one = textWidth(item.font, item.text);
    if (one > 0) {
      std::u16string unit = item.text;
      int width = one;
      while (width + one <= area.width() && item.text.size() + unit.size() < MaxFillText) {
        item.text += unit;
        width += one;
      }
    }
  }
  switch (h) {
    case HAlign::Center:
    case HAlign::CenterAcross: flags |= TextFlag::Center; break;
    case HAlign::Right: flags |= TextFlag::Right; break;
    default: flags |= TextFlag::Left; break;
  }
  item.area = area;
  item.flags = flags;
  return true;
}

void Painter::paintMarks(int32_t col, int32_t row, const Rect& cell) {
  const CellRecord* record = m_sheet.cellPtr(col, row);
  if (record) {
    if (const int icon = taskIcon(col, row, cell); icon > 0) {
      const int side = TaskIconRoom - 2;
      const int top = cell.top + (cell.height() - side) / 2;
      paintTaskIcon(m_canvas, Rect{cell.left + 2, top, cell.left + 2 + side, top + side}, icon);
    }
  }
  if (record && record->value.kind == ValueKind::Text && hasCellTask(textOf(record->value))) {
    // A cell task: a small triangle in the cell's top right corner.
    m_canvas.fillPolygon({{cell.right - 6, cell.top}, {cell.right - 1, cell.top}, {cell.right - 1, cell.top + 5}},
                         rgb(0, 128, 0));
  }
  bool dropDown = false;
  const AutoFilter& filter = m_sheet.autoFilter;
  if (filter.active && row == filter.area.firstRow && col >= filter.area.firstColumn &&
      col <= filter.area.lastColumn) {
    dropDown = true;
  }
  for (auto it = m_sheet.validations.rbegin(); !dropDown && it != m_sheet.validations.rend(); ++it) {
    bool governs = std::any_of(it->areas.begin(), it->areas.end(), [&](const Area& a) { return a.contains(col, row); });
    if (!governs) continue;
    dropDown = (it->rule.flags & 0xF) == ValidationList && !(it->rule.flags & ValidationNoDropDown);
    break;
  }
  if (dropDown) {
    int size = std::min(cell.height() - 2, 11);
    if (size < 5) return;
    Rect box{cell.right - size - 1, cell.bottom - size - 1, cell.right - 1, cell.bottom - 1};
    m_canvas.fillRect(box, Colors::ButtonFace);
    m_canvas.frameRect(box, Colors::Gray);
    int cx = (box.left + box.right) / 2, cy = (box.top + box.bottom) / 2;
    m_canvas.fillPolygon({{cx - 3, cy - 1}, {cx + 4, cy - 1}, {cx, cy + 3}}, Colors::Black);
  }
}

void Painter::paintPane(const Pane& pane) {
  const Segment& cs = *pane.columns;
  const Segment& rs = *pane.rows;
  const SheetView& view = m_sheet.view;
  const Rect clip = m_canvas.clip();
  m_canvas.fillRect(pane.rect, Colors::White);
  std::vector<TextItem> items;
  std::vector<std::pair<int32_t, int32_t>> covers;
  std::vector<std::pair<int32_t, Rect>> marks;
  const bool anyMerged = m_sheet.mergedAreas.size() > 0;
  int y = rs.origin;
  for (int32_t row = rs.first; row <= rs.last && y < rs.end; ++row) {
    const int h = m_g.rowHeight(row);
    const int top = y;
    y += h;
    if (h == 0 || top >= clip.bottom || top + h <= clip.top) continue;

    // Text from outside the pane may overflow into it: start from the nearest values beyond it.
    int32_t from = cs.first, to = cs.last;
    int32_t before = m_sheet.lastValueInRow(row, cs.first);
    if (before >= 0) from = before;
    int32_t after = m_sheet.nextValueInRow(row, cs.last);
    if (after < MaxColumns) to = after;

    items.clear();
    covers.clear();
    marks.clear();
    int x = from < cs.first ? m_g.columnEdgeIn(cs, from) : cs.origin;
    for (int32_t col = from; col <= to; ++col) {
      const int w = m_g.columnWidth(col);
      const int left = x;
      x += w;
      if (w == 0 || m_sheet.cellKind(col, row) == ValueKind::Empty) continue;
      if (anyMerged && inMerged(col, row)) continue;
      TextItem item;
      int32_t coverFirst, coverLast;
      if (layoutText(col, row, {left, top, left + w, top + h}, false, cs, item, coverFirst, coverLast)) {
        // A number cut by the pane's edge would read as another number: it waits until it fits.
        const bool cut = item.whole && item.area.right > pane.rect.right;
        if (!cut && item.area.right > clip.left && item.area.left < clip.right) items.push_back(std::move(item));
        if (coverLast > coverFirst) covers.emplace_back(coverFirst, coverLast);
      }
    }

    x = cs.origin;
    for (int32_t col = cs.first; col <= cs.last && x < cs.end; ++col) {
      const int w = m_g.columnWidth(col);
      const int left = x;
      x += w;
      if (w == 0 || left + w <= clip.left) continue;
      if (anyMerged && inMerged(col, row)) continue;
      const StyleRecord& style = m_book.style(m_sheet.effectiveStyle(col, row));
      Rect cell{left, top, left + w, top + h};
      Color fill;
      const bool filled = fillColor(m_book, style, fill);
      if (filled) m_canvas.fillRect(cell, fill);
      if (view.showGridlines) {
        m_canvas.fillRect({cell.left, cell.bottom - 1, cell.right, cell.bottom}, GridlineColor);
        bool covered = std::any_of(covers.begin(), covers.end(),
                                   [&](const auto& c) { return col >= c.first && col < c.second; });
        if (!filled && !covered) m_canvas.fillRect({cell.right - 1, cell.top, cell.right, cell.bottom}, GridlineColor);
      }
      marks.emplace_back(col, cell);
    }
    for (const TextItem& item : items) m_canvas.drawTextBox(item.area, item.text, item.font, item.flags);
    for (const auto& [col, cell] : marks) paintMarks(col, row, cell);
  }
  if (anyMerged) paintMerged(pane);
  paintBorders(pane);
}

void Painter::paintMerged(const Pane& pane) {
  const Segment& cs = *pane.columns;
  const Segment& rs = *pane.rows;
  for (int32_t i = 0; i < m_sheet.mergedAreas.size(); ++i) {
    const Area& a = m_sheet.mergedAreas[i];
    if (a.lastColumn < cs.first || a.firstColumn > cs.last || a.lastRow < rs.first || a.firstRow > rs.last) continue;
    Rect r{m_g.columnEdgeIn(cs, a.firstColumn), m_g.rowEdgeIn(rs, a.firstRow), m_g.columnEdgeIn(cs, a.lastColumn + 1),
           m_g.rowEdgeIn(rs, a.lastRow + 1)};
    if (r.empty() || !r.intersects(pane.rect)) continue;
    const StyleRecord& style = m_book.style(m_sheet.effectiveStyle(a.firstColumn, a.firstRow));
    Color fill;
    const bool filled = fillColor(m_book, style, fill);
    m_canvas.fillRect(r, filled ? fill : Colors::White);
    if (m_sheet.view.showGridlines) {
      m_canvas.fillRect({r.left, r.bottom - 1, r.right, r.bottom}, GridlineColor);
      if (!filled) m_canvas.fillRect({r.right - 1, r.top, r.right, r.bottom}, GridlineColor);
    }
    TextItem item;
    int32_t coverFirst, coverLast;
    if (layoutText(a.firstColumn, a.firstRow, r, true, cs, item, coverFirst, coverLast) &&
        !(item.whole && item.area.right > pane.rect.right)) {
      m_canvas.drawTextBox(item.area, item.text, item.font, item.flags);
    }
    paintMarks(a.firstColumn, a.firstRow, r);
  }
}

void Painter::paintBorders(const Pane& pane) {
  const Segment& cs = *pane.columns;
  const Segment& rs = *pane.rows;
  const Rect clip = m_canvas.clip();
  // Borders lie on the gridlines: a cell's left border on its left neighbour's right line.
  int y = rs.origin;
  for (int32_t row = rs.first; row <= rs.last && y < rs.end; ++row) {
    const int h = m_g.rowHeight(row);
    const int top = y;
    y += h;
    if (h == 0 || top - 4 >= clip.bottom || top + h + 4 <= clip.top) continue;
    int x = cs.origin;
    for (int32_t col = cs.first; col <= cs.last && x < cs.end; ++col) {
      const int w = m_g.columnWidth(col);
      const int left = x;
      x += w;
      if (w == 0) continue;
      const StyleRecord& style = m_book.style(m_sheet.effectiveStyle(col, row));
      if (style.borders == 0) continue;
      const int right = left + w - 1, bottom = top + h - 1;
      if (int s = style.borderStyle(Edge::Left)) m_canvas.drawBorder({left - 1, top - 1}, {left - 1, bottom}, s, Colors::Black);
      if (int s = style.borderStyle(Edge::Right)) m_canvas.drawBorder({right, top - 1}, {right, bottom}, s, Colors::Black);
      if (int s = style.borderStyle(Edge::Top)) m_canvas.drawBorder({left - 1, top - 1}, {right, top - 1}, s, Colors::Black);
      if (int s = style.borderStyle(Edge::Bottom)) m_canvas.drawBorder({left - 1, bottom}, {right, bottom}, s, Colors::Black);
    }
  }
}

// The virtual rectangle of columns first..last and rows first..last as a pane would place it.
Rect areaRectIn(const GridGeometry& g, const Segment& cs, const Segment& rs, int32_t firstCol, int32_t lastCol,
                int32_t firstRow, int32_t lastRow) {
  return {g.columnEdgeIn(cs, firstCol), g.rowEdgeIn(rs, firstRow), g.columnEdgeIn(cs, lastCol + 1),
          g.rowEdgeIn(rs, lastRow + 1)};
}

}  // namespace

std::u16string_view withoutTaskMarkup(std::u16string_view text) { return cellTaskDisplay(text); }

namespace {

FontSpec fontFromRecord(const Workbook& book, int32_t index, int zoom) {
  FontSpec font;
  if (book.fonts.size() == 0) {
    font.height = scaledFontHeight(13, zoom);
    return font;
  }
  const FontRecord& f = book.fonts[index < book.fonts.size() ? index : 0];
  if (f.faceNameLength > 0) font.face = std::u16string(f.face());
  font.height = std::max(1, scaledFontHeight(pixelsFromTwips(f.height), zoom));
  font.weight = (f.options & FontOption::Bold) ? std::max<int>(f.weight, 700) : f.weight;
  font.italic = f.options & FontOption::Italic;
  font.underline = f.underline != 0;
  bool found = false;
  Color c = f.color == 0 ? Colors::Black : paletteColor(book, f.color, found);
  font.color = found ? c : Colors::Black;
  return font;
}

}  // namespace

FontSpec cellFont(const Workbook& book, int16_t styleIndex, int zoom) {
  return fontFromRecord(book, book.style(styleIndex).font, zoom);
}

FontSpec standardFont(const Workbook& book) { return fontFromRecord(book, 0, 100); }

std::u16string cellDisplayText(const Workbook& book, const Sheet& sheet, int32_t col, int32_t row,
                               const FontSpec& font, int room) {
  const CellValue& value = effectiveValue(sheet.cellValue(col, row));
  std::u16string out;
  if (value.kind == ValueKind::Empty) return out;
  if (value.kind == ValueKind::Text) {
    // Only a text stored in the cell carries a task; a formula's result shows whole.
    const CellRecord* cell = sheet.cellPtr(col, row);
    const bool stored = cell && cell->value.kind == ValueKind::Text;
    return std::u16string(stored ? withoutTaskMarkup(textOf(value)) : textOf(value));
  }
  if (value.isNumeric() && !sheet.view.showZeros && value.number() == 0) return out;
  const StyleRecord& style = book.style(sheet.effectiveStyle(col, row));
  TextMeasure m{measure, &font};
  if (!displayText(value, book.numberFormats, style.numberFormat, std::max(room, 0), &m, out) &&
      out.find_first_not_of(u'#') == std::u16string::npos) {
    // The overflow marks are cut to the room, so no broken mark shows at the cell's edge.
    int mark = std::max(1, textWidth(font, u"#"));
    out.resize(static_cast<size_t>(std::clamp(room / mark, 1, static_cast<int>(out.size()))));
  }
  return out;
}

void paintGrid(Canvas& canvas, const Workbook& workbook, const GridGeometry& geometry, const Rect& update,
               const Selection& selection) {
  Painter(canvas, workbook, geometry).paint(update, selection);
}

void paintHeaders(Canvas& canvas, const Workbook& workbook, const GridGeometry& geometry,
                  const Selection& selection) {
  if (geometry.layout().headers) Painter(canvas, workbook, geometry).paintHeaders(selection);
}

void invertSelection(Canvas& canvas, const GridGeometry& g, const Selection& sel) {
  const Sheet& sheet = g.sheet();
  const Area range = sel.area();
  Area active{sel.activeRow, static_cast<uint16_t>(sel.activeColumn), sel.activeRow,
              static_cast<uint16_t>(sel.activeColumn)};
  if (sheet.mergedAreas.size() > 0) sheet.findMergedAt(sel.activeColumn, sel.activeRow, &active);
  const int frame = cursorFrameWidth(g.zoom());
  const Segment* columnSegments[2] = {&g.frozenColumns(), &g.scrolledColumns()};
  const Segment* rowSegments[2] = {&g.frozenRows(), &g.scrolledRows()};
  for (const Segment* rs : rowSegments) {
    for (const Segment* cs : columnSegments) {
      if (rs->empty() || cs->empty()) continue;
      if (range.lastColumn < cs->first || range.firstColumn > cs->last || range.lastRow < rs->first ||
          range.firstRow > rs->last) {
        continue;
      }
      Rect pane = Rect{cs->origin, rs->origin, cs->end, rs->end}.intersected(g.layout().cells);
      Rect whole = areaRectIn(g, *cs, *rs, range.firstColumn, range.lastColumn, range.firstRow, range.lastRow)
                       .inflated(-1, -1)
                       .intersected(pane);
      if (whole.width() < 3 || whole.height() < 3) continue;
      canvas.invertRect(whole);
      Rect hole = areaRectIn(g, *cs, *rs, active.firstColumn, active.lastColumn, active.firstRow, active.lastRow)
                      .inflated(-1 - frame, -1 - frame)
                      .intersected(whole);
      if (hole.width() >= 3 && hole.height() >= 3) canvas.invertRect(hole);
    }
  }
}

}  // namespace kelp
