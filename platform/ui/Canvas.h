// The software canvas: clipped drawing of rectangles, lines, borders, polygons and text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/Font.h"
#include "platform/ui/FrameBuffer.h"
#include "platform/ui/Geometry.h"

namespace kelp {

/// Border line styles by the codes the style record carries (the Excel codes).
enum class BorderLine : int {
  None = 0,
  Thin = 1,
  Medium = 2,
  Dashed = 3,
  Dotted = 4,
  Thick = 5,
  Double = 6,
  Hair = 7,
  MediumDashed = 8,
  DashDot = 9,
  MediumDashDot = 10,
  DashDotDot = 11,
  MediumDashDotDot = 12,
  SlantDashDot = 13,
};

/// How many pixels across a border of that style is drawn (0 for none).
int borderLineWidth(int style);

/// Pen dash patterns for plain lines.
enum class PenStyle { Solid, Dash, Dot, DashDot, DashDotDot };

struct Pen {
  Color color = Colors::Black;
  int width = 1;
  PenStyle style = PenStyle::Solid;
};

/// A text the canvas drew, in screen coordinates, for tests and scripts to ask about.
struct DrawnText {
  std::u16string text;
  Rect rect;     // the whole line box of the text
  Rect visible;  // the part inside the clip when it was drawn
  FontSpec font;
};

/// Remembers the texts on screen: a fill that covers a text's visible box forgets it,
/// and scrolling moves the texts with their pixels.
class TextLog {
 public:
  void add(DrawnText text) { m_texts.push_back(std::move(text)); }
  void covered(const Rect& screenRect);
  void scrolled(const Rect& screenArea, int dx, int dy);
  void clear() { m_texts.clear(); }
  const std::vector<DrawnText>& texts() const { return m_texts; }
  /// The most recent text equal to `text`, or null.
  const DrawnText* find(std::u16string_view text) const;
  /// The most recent text whose visible box contains the point, or null.
  const DrawnText* at(Point screenPoint) const;
  /// Texts whose visible boxes meet the rectangle, oldest first.
  std::vector<const DrawnText*> within(const Rect& screenRect) const;

 private:
  std::vector<DrawnText> m_texts;
};

/// Text box layout flags.
namespace TextFlag {
constexpr uint32_t Left = 0, Center = 1, Right = 2;
constexpr uint32_t Top = 0, VCenter = 4, Bottom = 8;
constexpr uint32_t Wrap = 16;   // break lines at blanks to fit the width (and at line feeds)
constexpr uint32_t NoClip = 32; // the text may spill outside its box
}  // namespace TextFlag

/// One line of a wrapped text: a range of the text and its pixel width.
struct TextLine {
  size_t start = 0;
  size_t length = 0;
  int width = 0;
};

/// Breaks `text` into lines no wider than `maxWidth`: at line feeds, at blanks, and inside
/// a word that alone is wider than the line. Blanks at a break are dropped.
std::vector<TextLine> wrapText(const FontSpec& font, std::u16string_view text, int maxWidth);

/// Draws into a frame buffer through a stack of clip rectangles and a coordinate origin.
/// Coordinates are relative to the origin; the clip never extends past the buffer.
class Canvas {
 public:
  explicit Canvas(FrameBuffer& target);

  FrameBuffer& target() { return m_target; }
  Point origin() const { return m_origin; }
  void setOrigin(Point origin) { m_origin = origin; }
  /// The current clip in canvas coordinates.
  Rect clip() const { return m_clip.offset(-m_origin.x, -m_origin.y); }
  /// Narrows the clip to `r` (canvas coordinates) until the matching popClip.
  void pushClip(const Rect& r);
  void popClip();

  void setTextLog(TextLog* log) { m_log = log; }

  void setPixel(int x, int y, Color c);
  Color pixel(int x, int y) const;
  void fillRect(const Rect& r, Color c);
  /// The outline of `r`, `width` pixels thick, drawn inside the rectangle.
  void frameRect(const Rect& r, Color c, int width = 1);
  /// Inverts the colour of every pixel of `r`; inverting twice restores the pixels.
  void invertRect(const Rect& r);
  /// Moves the pixels of `area` by (dx, dy); pixels leaving the area are lost and the
  /// uncovered strip keeps its old pixels for the caller to repaint.
  void scrollRect(const Rect& area, int dx, int dy);

  /// A line from `a` to `b`, both ends included, in the pen's width and dash pattern.
  void drawLine(Point a, Point b, const Pen& pen);
  /// A horizontal or vertical cell border from `a` to `b` in a border line style;
  /// wider styles grow symmetrically about the line, Double draws two lines 2 pixels apart.
  void drawBorder(Point a, Point b, int style, Color c);
  /// A filled polygon (even-odd rule), as pie slices and markers need.
  void fillPolygon(const std::vector<Point>& points, Color c);
  void drawPolyline(const std::vector<Point>& points, const Pen& pen);
  void fillEllipse(const Rect& r, Color c);

  /// One line of text with its line box's top-left at (x, y), transparent background;
  /// returns the advance width.
  int drawText(int x, int y, std::u16string_view text, const FontSpec& font);
  /// Text laid out in a box by TextFlag; clipped to the box unless NoClip.
  void drawTextBox(const Rect& box, std::u16string_view text, const FontSpec& font, uint32_t flags);

 private:
  void fillScreen(Rect r, Color c);  // screen coordinates, already clipped
  void plot(int x, int y, Color c);  // canvas coordinates, clipped
  void stamp(int x, int y, int width, Color c);
  void drawLineScreen(Point a, Point b, Color c, int width, const std::vector<int>& dashes);

  FrameBuffer& m_target;
  Point m_origin;
  Rect m_clip;  // screen coordinates
  std::vector<Rect> m_clipStack;
  TextLog* m_log = nullptr;
};

}  // namespace kelp
