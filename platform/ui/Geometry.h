// Points, rectangles and 32-bit RGB colours for the windowing layer.
#pragma once

#include <algorithm>
#include <cstdint>

namespace kelp {

struct Point {
  int x = 0;
  int y = 0;
  bool operator==(const Point&) const = default;
};

/// A rectangle with exclusive right and bottom edges, as the handheld's GDI had.
struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;

  bool operator==(const Rect&) const = default;
  int width() const { return right - left; }
  int height() const { return bottom - top; }
  bool empty() const { return right <= left || bottom <= top; }
  bool contains(Point p) const { return p.x >= left && p.x < right && p.y >= top && p.y < bottom; }
  bool contains(const Rect& r) const {
    return r.empty() || (r.left >= left && r.right <= right && r.top >= top && r.bottom <= bottom);
  }
  bool intersects(const Rect& r) const { return !intersected(r).empty(); }
  Rect intersected(const Rect& r) const {
    return {std::max(left, r.left), std::max(top, r.top), std::min(right, r.right), std::min(bottom, r.bottom)};
  }
  /// The smallest rectangle holding both; an empty rectangle adds nothing.
  Rect united(const Rect& r) const {
    if (r.empty()) return *this;
    if (empty()) return r;
    return {std::min(left, r.left), std::min(top, r.top), std::max(right, r.right), std::max(bottom, r.bottom)};
  }
  Rect offset(int dx, int dy) const { return {left + dx, top + dy, right + dx, bottom + dy}; }
  Rect inflated(int dx, int dy) const { return {left - dx, top - dy, right + dx, bottom + dy}; }
};

inline Rect rectOfSize(int x, int y, int width, int height) { return {x, y, x + width, y + height}; }

/// 0x00RRGGBB.
using Color = uint32_t;

constexpr Color rgb(int r, int g, int b) {
  return (static_cast<Color>(r & 0xFF) << 16) | (static_cast<Color>(g & 0xFF) << 8) | static_cast<Color>(b & 0xFF);
}
constexpr int redOf(Color c) { return (c >> 16) & 0xFF; }
constexpr int greenOf(Color c) { return (c >> 8) & 0xFF; }
constexpr int blueOf(Color c) { return c & 0xFF; }

namespace Colors {
constexpr Color Black = rgb(0, 0, 0);
constexpr Color White = rgb(255, 255, 255);
constexpr Color LightGray = rgb(192, 192, 192);
constexpr Color Gray = rgb(128, 128, 128);
constexpr Color ButtonFace = rgb(212, 208, 200);
constexpr Color Highlight = rgb(10, 36, 106);
constexpr Color HighlightText = rgb(255, 255, 255);
constexpr Color GrayText = rgb(128, 128, 128);
constexpr Color Window = rgb(255, 255, 255);
}  // namespace Colors

}  // namespace kelp
