// The software canvas: spans filled row by row, lines stepped pixel by pixel, glyphs blended.
#include "platform/ui/Canvas.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>
#include <cstdlib>

namespace kelp {

namespace {

// Dash patterns as on/off pixel counts for a 1-pixel pen; wider pens scale them.
const std::vector<int>& penDashes(PenStyle style) {
  static const std::vector<int> solid, dash{6, 3}, dot{1, 2}, dashDot{6, 2, 1, 2}, dashDotDot{6, 2, 1, 2, 1, 2};
  switch (style) {
    case PenStyle::Solid: return solid;
    case PenStyle::Dash: return dash;
    case PenStyle::Dot: return dot;
    case PenStyle::DashDot: return dashDot;
    case PenStyle::DashDotDot: return dashDotDot;
  }
  return solid;
}

struct BorderShape {
  int width;
  std::vector<int> dashes;
};

BorderShape borderShape(int style) {
  switch (static_cast<BorderLine>(style)) {
    case BorderLine::Thin: return {1, {}};
    case BorderLine::Medium: return {2, {}};
    case BorderLine::Dashed: return {1, {3, 1}};
    case BorderLine::Dotted: return {1, {1, 1}};
    case BorderLine::Thick: return {3, {}};
    case BorderLine::Double: return {3, {}};
    case BorderLine::Hair: return {1, {1, 2}};
    case BorderLine::MediumDashed: return {2, {6, 2}};
    case BorderLine::DashDot: return {1, {4, 2, 1, 2}};
    case BorderLine::MediumDashDot: return {2, {6, 2, 2, 2}};
    case BorderLine::DashDotDot: return {1, {4, 2, 1, 2, 1, 2}};
    case BorderLine::MediumDashDotDot: return {2, {6, 2, 2, 2, 2, 2}};
    case BorderLine::SlantDashDot: return {2, {6, 1, 2, 1}};
    case BorderLine::None: break;
  }
  return {0, {}};
}

bool isBlank(char16_t c) { return c == u' ' || c == u'\t'; }

inline uint32_t blend(uint32_t dst, Color src, unsigned alpha) {
  if (alpha >= 255) return src;
  unsigned inv = 255 - alpha;
  unsigned r = (redOf(src) * alpha + redOf(dst) * inv + 127) / 255;
  unsigned g = (greenOf(src) * alpha + greenOf(dst) * inv + 127) / 255;
  unsigned b = (blueOf(src) * alpha + blueOf(dst) * inv + 127) / 255;
  return (r << 16) | (g << 8) | b;
}

}  // namespace

int borderLineWidth(int style) { return borderShape(style).width; }

// ---- TextLog ----

void TextLog::covered(const Rect& screenRect) {
  if (m_texts.empty() || screenRect.empty()) return;
  std::erase_if(m_texts, [&](const DrawnText& t) { return screenRect.contains(t.visible); });
}

void TextLog::scrolled(const Rect& area, int dx, int dy) {
  std::erase_if(m_texts, [&](DrawnText& t) {
    if (!t.visible.intersects(area)) return false;
    // A text cut by the edge of the area is half moved and half not: it no longer reads.
    if (!area.contains(t.visible)) return true;
    t.rect = t.rect.offset(dx, dy);
    t.visible = t.visible.offset(dx, dy).intersected(area);
    return t.visible.empty();
  });
}

const DrawnText* TextLog::find(std::u16string_view text) const {
  for (auto it = m_texts.rbegin(); it != m_texts.rend(); ++it) {
    if (it->text == text) return &*it;
  }
  return nullptr;
}

const DrawnText* TextLog::at(Point p) const {
  for (auto it = m_texts.rbegin(); it != m_texts.rend(); ++it) {
    if (it->visible.contains(p)) return &*it;
  }
  return nullptr;
}

std::vector<const DrawnText*> TextLog::within(const Rect& r) const {
  std::vector<const DrawnText*> found;
  for (const DrawnText& t : m_texts) {
    if (t.visible.intersects(r)) found.push_back(&t);
  }
  return found;
}

// ---- layout ----

std::vector<TextLine> wrapText(const FontSpec& font, std::u16string_view text, int maxWidth) {
  std::vector<TextLine> lines;
  ResolvedFont resolved = resolveFont(font);
  auto emit = [&](size_t start, size_t end) {
    while (end > start && isBlank(text[end - 1])) --end;
    TextLine line{start, end - start, 0};
    for (size_t i = start; i < end;) line.width += glyphFor(resolved, nextChar(text, i)).advance;
    lines.push_back(line);
  };
  size_t i = 0;
  while (i < text.size()) {
    size_t start = i, lastBlank = std::u16string_view::npos;
    int width = 0;
    bool broke = false;
    for (size_t j = start; j < text.size();) {
      char16_t c = text[j];
      if (c == u'\n') {
        emit(start, j);
        i = j + 1;
        broke = true;
        break;
      }
      size_t next = j;
      int w = glyphFor(resolved, nextChar(text, next)).advance;
      if (width + w > maxWidth && j > start && !isBlank(c)) {
        if (lastBlank != std::u16string_view::npos) {
          emit(start, lastBlank);
          i = lastBlank;
        } else {
          emit(start, j);  // one word wider than the line: break inside it
          i = j;
        }
        while (i < text.size() && isBlank(text[i])) ++i;
        broke = true;
        break;
      }
      if (isBlank(c)) lastBlank = j;
      width += w;
      j = next;
    }
    if (!broke) {
      emit(start, text.size());
      break;
    }
  }
  return lines;
}

// ---- Canvas ----

Canvas::Canvas(FrameBuffer& target) : m_target(target), m_clip(target.bounds()) {}

void Canvas::pushClip(const Rect& r) {
  m_clipStack.push_back(m_clip);
  m_clip = m_clip.intersected(r.offset(m_origin.x, m_origin.y));
}

void Canvas::popClip() {
  assert(!m_clipStack.empty() && "popClip without pushClip");
  if (m_clipStack.empty()) return;
  m_clip = m_clipStack.back();
  m_clipStack.pop_back();
}

void Canvas::setPixel(int x, int y, Color c) { plot(x, y, c); }

Color Canvas::pixel(int x, int y) const { return m_target.pixel(x + m_origin.x, y + m_origin.y); }

void Canvas::plot(int x, int y, Color c) {
  x += m_origin.x;
  y += m_origin.y;
  if (m_clip.contains(Point{x, y})) m_target.row(y)[x] = c;
}

void Canvas::fillScreen(Rect r, Color c) {
  if (r.empty()) return;
  for (int y = r.top; y < r.bottom; ++y) {
    uint32_t* row = m_target.row(y);
    std::fill(row + r.left, row + r.right, c);
  }
  if (m_log) m_log->covered(r);
}

void Canvas::fillRect(const Rect& r, Color c) { fillScreen(r.offset(m_origin.x, m_origin.y).intersected(m_clip), c); }

void Canvas::frameRect(const Rect& r, Color c, int width) {
  if (r.empty() || width < 1) return;
  width = std::min({width, (r.width() + 1) / 2, (r.height() + 1) / 2});
  fillRect({r.left, r.top, r.right, r.top + width}, c);
  fillRect({r.left, r.bottom - width, r.right, r.bottom}, c);
  fillRect({r.left, r.top + width, r.left + width, r.bottom - width}, c);
  fillRect({r.right - width, r.top + width, r.right, r.bottom - width}, c);
}

void Canvas::invertRect(const Rect& r) {
  Rect s = r.offset(m_origin.x, m_origin.y).intersected(m_clip);
  for (int y = s.top; y < s.bottom; ++y) {
    uint32_t* row = m_target.row(y);
    for (int x = s.left; x < s.right; ++x) row[x] ^= 0xFFFFFF;
  }
}

void Canvas::scrollRect(const Rect& area, int dx, int dy) {
  Rect a = area.offset(m_origin.x, m_origin.y).intersected(m_clip);
  Rect dst = a.offset(dx, dy).intersected(a);
  if (dst.empty()) return;
  Rect src = dst.offset(-dx, -dy);
  size_t bytes = static_cast<size_t>(dst.width()) * sizeof(uint32_t);
  // Rows are copied away from the direction of travel so no source row is overwritten first.
  if (dy > 0) {
    for (int y = dst.height() - 1; y >= 0; --y)
      std::memmove(m_target.row(dst.top + y) + dst.left, m_target.row(src.top + y) + src.left, bytes);
  } else {
    for (int y = 0; y < dst.height(); ++y)
      std::memmove(m_target.row(dst.top + y) + dst.left, m_target.row(src.top + y) + src.left, bytes);
  }
  if (m_log) m_log->scrolled(a, dx, dy);
}

void Canvas::stamp(int x, int y, int width, Color c) {
  if (width <= 1) {
    if (m_clip.contains(Point{x, y})) m_target.row(y)[x] = c;
    return;
  }
  int lo = -(width - 1) / 2;
  Rect r{x + lo, y + lo, x + lo + width, y + lo + width};
  r = r.intersected(m_clip);
  if (r.empty()) return;  // beside the clip the intersection runs backwards
  for (int yy = r.top; yy < r.bottom; ++yy) {
    uint32_t* row = m_target.row(yy);
    std::fill(row + r.left, row + r.right, c);
  }
}

void Canvas::drawLineScreen(Point a, Point b, Color c, int width, const std::vector<int>& dashes) {
  if (width < 1) width = 1;
  int half = width / 2 + 1;
  Rect bounds{std::min(a.x, b.x) - half, std::min(a.y, b.y) - half, std::max(a.x, b.x) + half + 1,
              std::max(a.y, b.y) + half + 1};
  if (!bounds.intersects(m_clip)) return;
  if (dashes.empty() && (a.x == b.x || a.y == b.y)) {
    int lo = -(width - 1) / 2;
    Rect r = a.y == b.y ? Rect{std::min(a.x, b.x), a.y + lo, std::max(a.x, b.x) + 1, a.y + lo + width}
                        : Rect{a.x + lo, std::min(a.y, b.y), a.x + lo + width, std::max(a.y, b.y) + 1};
    fillScreen(r.intersected(m_clip), c);
    return;
  }
  int dx = std::abs(b.x - a.x), dy = -std::abs(b.y - a.y);
  int sx = a.x < b.x ? 1 : -1, sy = a.y < b.y ? 1 : -1;
  int err = dx + dy;
  size_t dash = 0;
  int left = dashes.empty() ? 0 : dashes[0] * width;
  int x = a.x, y = a.y;
  for (;;) {
    if (dashes.empty() || dash % 2 == 0) stamp(x, y, width, c);
    if (!dashes.empty() && --left <= 0) {
      dash = (dash + 1) % dashes.size();
      left = dashes[dash] * width;
    }
    if (x == b.x && y == b.y) break;
    int e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y += sy;
    }
  }
}

void Canvas::drawLine(Point a, Point b, const Pen& pen) {
  drawLineScreen({a.x + m_origin.x, a.y + m_origin.y}, {b.x + m_origin.x, b.y + m_origin.y}, pen.color, pen.width,
                 penDashes(pen.style));
}

void Canvas::drawBorder(Point a, Point b, int style, Color c) {
  BorderShape shape = borderShape(style);
  if (shape.width == 0) return;
  Point sa{a.x + m_origin.x, a.y + m_origin.y}, sb{b.x + m_origin.x, b.y + m_origin.y};
  if (static_cast<BorderLine>(style) == BorderLine::Double) {
    bool horizontal = sa.y == sb.y;
    int ox = horizontal ? 0 : 1, oy = horizontal ? 1 : 0;
    drawLineScreen({sa.x - ox, sa.y - oy}, {sb.x - ox, sb.y - oy}, c, 1, {});
    drawLineScreen({sa.x + ox, sa.y + oy}, {sb.x + ox, sb.y + oy}, c, 1, {});
    return;
  }
  // Dash lengths stay those of a thin line: the width only thickens the dashes.
  if (shape.width > 1 && !shape.dashes.empty()) {
    bool horizontal = sa.y == sb.y;
    int lo = -(shape.width - 1) / 2;
    for (int k = 0; k < shape.width; ++k) {
      int ox = horizontal ? 0 : lo + k, oy = horizontal ? lo + k : 0;
      drawLineScreen({sa.x + ox, sa.y + oy}, {sb.x + ox, sb.y + oy}, c, 1, shape.dashes);
    }
    return;
  }
  drawLineScreen(sa, sb, c, shape.width, shape.dashes);
}

void Canvas::drawPolyline(const std::vector<Point>& points, const Pen& pen) {
  for (size_t i = 1; i < points.size(); ++i) drawLine(points[i - 1], points[i], pen);
}

void Canvas::fillPolygon(const std::vector<Point>& points, Color c) {
  if (points.size() < 3) return;
  int top = points[0].y, bottom = points[0].y;
  for (const Point& p : points) {
    top = std::min(top, p.y);
    bottom = std::max(bottom, p.y);
  }
  top = std::max(top + m_origin.y, m_clip.top);
  bottom = std::min(bottom + m_origin.y, m_clip.bottom);
  std::vector<double> xs;
  for (int y = top; y < bottom; ++y) {
    double sy = y + 0.5 - m_origin.y;  // sample at the pixel centre
    xs.clear();
    for (size_t i = 0; i < points.size(); ++i) {
      const Point& p = points[i];
      const Point& q = points[(i + 1) % points.size()];
      if ((p.y <= sy && q.y > sy) || (q.y <= sy && p.y > sy)) {
        xs.push_back(p.x + (sy - p.y) * (q.x - p.x) / static_cast<double>(q.y - p.y));
      }
    }
    std::sort(xs.begin(), xs.end());
    for (size_t i = 0; i + 1 < xs.size(); i += 2) {
      int x0 = static_cast<int>(std::ceil(xs[i] - 0.5)) + m_origin.x;
      int x1 = static_cast<int>(std::ceil(xs[i + 1] - 0.5)) + m_origin.x;
      Rect span = Rect{x0, y, x1, y + 1}.intersected(m_clip);
      if (!span.empty()) std::fill(m_target.row(y) + span.left, m_target.row(y) + span.right, c);
    }
  }
}

void Canvas::fillEllipse(const Rect& r, Color c) {
  if (r.empty()) return;
  double cx = (r.left + r.right) / 2.0, cy = (r.top + r.bottom) / 2.0;
  double rx = r.width() / 2.0, ry = r.height() / 2.0;
  for (int y = r.top; y < r.bottom; ++y) {
    double t = (y + 0.5 - cy) / ry;
    double half = rx * std::sqrt(std::max(0.0, 1 - t * t));
    int x0 = static_cast<int>(std::ceil(cx - half - 0.5)), x1 = static_cast<int>(std::ceil(cx + half - 0.5));
    Rect span = Rect{x0, y, x1, y + 1}.offset(m_origin.x, m_origin.y).intersected(m_clip);
    if (!span.empty()) std::fill(m_target.row(span.top) + span.left, m_target.row(span.top) + span.right, c);
  }
}

int Canvas::drawText(int x, int y, std::u16string_view text, const FontSpec& font) {
  ResolvedFont resolved = resolveFont(font);
  FontMetrics metrics = fontMetrics(resolved);
  int penX = x + m_origin.x;
  int baseline = y + m_origin.y + metrics.ascent;
  int startX = penX;
  const Rect clip = m_clip;
  const Color color = font.color & 0xFFFFFF;
  for (size_t i = 0; i < text.size();) {
    char32_t c = nextChar(text, i);
    if (c < 0x20) continue;
    const GlyphBitmap& g = glyphFor(resolved, c);
    int gx = penX + g.left, gy = baseline - g.top;
    Rect box = Rect{gx, gy, gx + g.width, gy + g.rows}.intersected(clip);
    for (int yy = box.top; yy < box.bottom; ++yy) {
      uint32_t* row = m_target.row(yy);
      const uint8_t* cover = g.coverage + static_cast<size_t>(yy - gy) * static_cast<size_t>(g.width) +
                             static_cast<size_t>(box.left - gx);
      for (int xx = box.left; xx < box.right; ++xx, ++cover) {
        unsigned a = *cover;
        if (a) row[xx] = blend(row[xx], color, a);
      }
    }
    penX += g.advance;
  }
  int width = penX - startX;
  if (font.underline && width > 0) {
    int thickness = std::max(1, font.height / 14);
    Rect line{startX, baseline + 1 + metrics.descent / 4, penX, baseline + 1 + metrics.descent / 4 + thickness};
    Rect r = line.intersected(clip);
    for (int yy = r.top; yy < r.bottom; ++yy) std::fill(m_target.row(yy) + r.left, m_target.row(yy) + r.right, color);
  }
  if (m_log) {
    Rect box{startX, y + m_origin.y, startX + width, y + m_origin.y + metrics.lineHeight};
    Rect visible = box.intersected(clip);
    if (!visible.empty()) m_log->add(DrawnText{std::u16string(text), box, visible, font});
  }
  return width;
}

void Canvas::drawTextBox(const Rect& box, std::u16string_view text, const FontSpec& font, uint32_t flags) {
  std::vector<TextLine> lines;
  if (flags & TextFlag::Wrap) {
    lines = wrapText(font, text, box.width());
  } else if (!text.empty()) {
    lines.push_back({0, text.size(), textWidth(font, text)});
  }
  if (lines.empty()) return;
  int lineHeight = fontMetrics(font).lineHeight;
  int blockHeight = static_cast<int>(lines.size()) * lineHeight;
  int y = box.top;
  if (flags & TextFlag::Bottom) {
    y = box.bottom - blockHeight;
  } else if (flags & TextFlag::VCenter) {
    y = box.top + std::max(0, (box.height() - blockHeight) / 2);
  }
  bool clipped = !(flags & TextFlag::NoClip);
  if (clipped) pushClip(box);
  for (const TextLine& line : lines) {
    int x = box.left;
    if ((flags & 3) == TextFlag::Center) {
      x = box.left + (box.width() - line.width) / 2;
    } else if ((flags & 3) == TextFlag::Right) {
      x = box.right - line.width;
    }
    if (line.length > 0) drawText(x, y, text.substr(line.start, line.length), font);
    y += lineHeight;
  }
  if (clipped) popClip();
}

}  // namespace kelp
