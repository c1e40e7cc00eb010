// Chart layout and drawing: axes scaled from the data, bars, lines, pies and XY points,
// thinned labels, and the record of where each thing went for tapping and for tests.
#include "chart/ChartDrawing.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "model/CellValue.h"

namespace kelp {

namespace {

constexpr double Epsilon = 1e-9;
constexpr double DegreesPerPercent = 3.6;
constexpr double RimStepDegrees = 3 * DegreesPerPercent;  // a rim point every 3 percent
constexpr double Pi = 3.14159265358979323846;
constexpr int Margin = 4;
constexpr int MarkerSize = 5;
constexpr int HitSize = 18;  // a fingertip, though the marker is smaller
constexpr int SwatchSize = 10;

// Series colours step through light and dark so that a grey print still tells them
// apart; patterns and marker shapes cycle on other periods for the same reason.
constexpr Color kPalette[] = {rgb(20, 60, 150), rgb(250, 170, 50),  rgb(50, 150, 70), rgb(250, 235, 140),
                              rgb(200, 30, 40), rgb(170, 215, 245), rgb(60, 20, 80),  rgb(140, 140, 140)};
constexpr int PaletteSize = sizeof kPalette / sizeof kPalette[0];
constexpr int PatternCount = 3;
constexpr int MarkerShapes = 5;
constexpr PenStyle kLineStyles[] = {PenStyle::Solid, PenStyle::Dash, PenStyle::Dot, PenStyle::DashDot};
constexpr Color GridColour = rgb(200, 200, 200);
constexpr Color AxisColour = Colors::Black;

Color seriesColour(int index) { return kPalette[index % PaletteSize]; }
int luminance(Color c) { return (redOf(c) * 30 + greenOf(c) * 59 + blueOf(c) * 11) / 100; }
Color contrastOf(Color c) { return luminance(c) > 128 ? rgb(60, 60, 60) : Colors::White; }

// Lines and markers are thin, so the lightest colours are drawn darker to show on white.
Color inkColour(int series) {
  const Color c = seriesColour(series);
  if (luminance(c) < 190) return c;
  return rgb(redOf(c) * 7 / 10, greenOf(c) * 7 / 10, blueOf(c) * 7 / 10);
}

FontSpec labelFont() { return FontSpec{u"Tahoma", 11}; }
FontSpec titleFont() {
  FontSpec font{u"Tahoma", 13};
  font.weight = 700;
  return font;
}

// Mantissas 1 to 9 made round: 3, 4, 6 and 7 become 5; 8 and 9 become 10.
double roundStep(double raw) {
  if (!(raw > 0) || !std::isfinite(raw)) return 1;
  double power = std::pow(10.0, std::floor(std::log10(raw)));
  int mantissa = static_cast<int>(raw / power + Epsilon);
  if (mantissa >= 10) {
    mantissa = 1;
    power *= 10;
  }
  if (mantissa < 1) mantissa = 1;
  if (mantissa == 3 || mantissa == 4 || mantissa == 6 || mantissa == 7) mantissa = 5;
  else if (mantissa >= 8) mantissa = 10;
  return mantissa * power;
}

// Fills a bar or swatch in the series' colour and pattern.
void fillSeries(Canvas& canvas, const Rect& r, int series) {
  const Color colour = seriesColour(series);
  canvas.fillRect(r, colour);
  const int pattern = series % PatternCount;
  if (pattern == 0 || r.width() < 3 || r.height() < 3) return;
  const Color ink = contrastOf(colour);
  const Rect inner = r.intersected(canvas.clip());
  for (int y = inner.top; y < inner.bottom; ++y) {
    for (int x = inner.left; x < inner.right; ++x) {
      const bool on = pattern == 1 ? (x + y) % 5 == 0 : (x % 4 == 0 && y % 4 == 0);
      if (on) canvas.setPixel(x, y, ink);
    }
  }
}

void drawMarker(Canvas& canvas, Point p, int series) {
  const Color colour = inkColour(series);
  const int h = MarkerSize / 2;
  switch (series % MarkerShapes) {
    case 0:
      canvas.fillRect({p.x - h, p.y - h, p.x + h + 1, p.y + h + 1}, colour);
      break;
    case 1:
      canvas.fillEllipse({p.x - h - 1, p.y - h - 1, p.x + h + 2, p.y + h + 2}, colour);
      break;
    case 2:
      canvas.fillPolygon({{p.x, p.y - h - 1}, {p.x + h + 1, p.y + h + 1}, {p.x - h - 1, p.y + h + 1}}, colour);
      break;
    case 3:
      canvas.fillPolygon({{p.x, p.y - h - 1}, {p.x + h + 1, p.y}, {p.x, p.y + h + 1}, {p.x - h - 1, p.y}}, colour);
      break;
    default: {
      const Pen pen{colour, 2, PenStyle::Solid};
      canvas.drawLine({p.x - h, p.y - h}, {p.x + h, p.y + h}, pen);
      canvas.drawLine({p.x - h, p.y + h}, {p.x + h, p.y - h}, pen);
    }
  }
}

Pen seriesPen(int series) { return Pen{inkColour(series), 2, kLineStyles[(series / PaletteSize + series) % 4]}; }

bool isLines(ChartType type) { return type == ChartType::Line || type == ChartType::LineMarkers; }
bool hasMarkers(ChartType type) {
  return type == ChartType::LineMarkers || type == ChartType::XY || type == ChartType::XYLinesMarkers;
}
bool hasLines(ChartType type) {
  return isLines(type) || type == ChartType::XYLines || type == ChartType::XYLinesMarkers;
}

void valueRange(const std::vector<double>& values, double& lo, double& hi) {
  for (double v : values) {
    if (!std::isfinite(v)) continue;
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
}

// The X values of the XY types: the first series, or 1, 2, ... when the range held one.
double xValue(const ChartData& data, size_t point) {
  if (data.x.empty()) return static_cast<double>(point + 1);
  return point < data.x.size() ? data.x[point] : std::nan("");
}

struct Layout {
  Rect titleBox;
  Rect xTitleBox;
  Rect yTitleBox;
  Rect plot;
};

// Pixels along an axis: value v between low and high mapped onto [from, to].
int place(double v, const AxisScale& axis, int from, int to) {
  const double span = axis.high - axis.low;
  const double t = span > 0 ? (v - axis.low) / span : 0;
  return static_cast<int>(std::lround(from + t * (to - from)));
}

// Every k-th label so that labels `size` pixels long, `spacing` apart, never touch.
size_t thinning(double spacing, int size) {
  if (spacing <= 0) return 1;
  return std::max<size_t>(1, static_cast<size_t>(std::ceil((size + 4) / spacing)));
}

std::u16string fixed2(double v) {
  std::u16string out;
  formatFixed(v, 2, false, out);
  return out;
}

class Painter {
 public:
  Painter(Canvas& canvas, const Rect& area, const ChartOptions& options, const ChartData& data, ChartGeometry& g)
      : m_canvas(canvas), m_area(area), m_options(options), m_data(data), m_g(g) {}

  void paint() {
    m_canvas.pushClip(m_area);
    m_canvas.fillRect(m_area, Colors::Window);
    m_g.drawn.push_back(ChartPart::Background);
    if (m_data.hasValue()) paintChart();
    m_canvas.popClip();
  }

 private:
  bool pie() const { return m_options.type == ChartType::Pie; }

  void paintChart() {
    Rect room = m_area.inflated(-Margin, -Margin);
    const int line = fontMetrics(m_label).lineHeight;
    if (!m_options.title.empty()) {
      const int h = fontMetrics(titleFont()).lineHeight;
      m_canvas.drawTextBox({room.left, room.top, room.right, room.top + h}, m_options.title, titleFont(),
                           TextFlag::Center);
      room.top += h + 2;
      m_g.drawn.push_back(ChartPart::Title);
    }
    if (m_options.legend) {
      paintLegend(room, line);
      m_g.drawn.push_back(ChartPart::Legend);
    }
    if (pie()) {
      paintPie(room);
      return;
    }
    layoutAxes(room, line);
    paintGridAndAxes();
    paintData();
    paintLabels(line);
  }

  // The legend stands under the chart, its entries flowing in rows across the width a
  // phone screen gives.
  void paintLegend(Rect& room, int line) {
    std::vector<std::u16string> names;
    if (pie()) {
      for (size_t p = 0; p < m_data.categories.size(); ++p) names.push_back(m_data.categories[p]);
    } else {
      for (const ChartSeries& s : m_data.series) names.push_back(s.name);
    }
    const int rowHeight = std::max(line, SwatchSize + 2);
    std::vector<Rect> entries;
    int x = room.left;
    int y = 0;
    for (const std::u16string& name : names) {
      const int width = std::min(SwatchSize + 4 + textWidth(m_label, name), room.width());
      if (x > room.left && x + width > room.right) {
        x = room.left;
        y += rowHeight;
      }
      entries.push_back({x, y, x + width, y + rowHeight});
      x += width + 8;
    }
    const int height = std::min(y + rowHeight, room.height() / 2);
    const int top = room.bottom - height;
    m_g.legend = {room.left, top, room.right, room.bottom};
    for (size_t i = 0; i < entries.size(); ++i) {
      Rect e = entries[i].offset(0, top);
      if (e.bottom > room.bottom) break;  // more entries than half the chart holds
      m_g.legendEntries.push_back(e);
      const Rect swatch = rectOfSize(e.left, e.top + (rowHeight - SwatchSize) / 2, SwatchSize, SwatchSize);
      const int series = static_cast<int>(i);
      if (!pie() && hasLines(m_options.type)) {
        const int mid = swatch.top + SwatchSize / 2;
        m_canvas.drawLine({swatch.left, mid}, {swatch.right - 1, mid}, seriesPen(series));
        if (hasMarkers(m_options.type)) drawMarker(m_canvas, {swatch.left + SwatchSize / 2, mid}, series);
      } else if (!pie() && hasMarkers(m_options.type)) {
        drawMarker(m_canvas, {swatch.left + SwatchSize / 2, swatch.top + SwatchSize / 2}, series);
      } else {
        fillSeries(m_canvas, swatch, series);
      }
      m_canvas.drawTextBox({swatch.right + 4, e.top, e.right, e.bottom}, names[i], m_label, TextFlag::VCenter);
    }
    room.bottom = top - 4;
  }

  void paintPie(const Rect& room) {
    const int size = std::max(0, std::min(room.width(), room.height()));
    const int radius = size / 2;
    const Point centre{room.left + room.width() / 2, room.top + room.height() / 2};
    m_g.plot = {centre.x - radius, centre.y - radius, centre.x + radius, centre.y + radius};
    m_g.drawn.push_back(ChartPart::Data);
    if (m_data.series.empty()) return;
    m_g.slices = pieSlices(m_data.series.front().values);
    auto rim = [&](double degrees) {
      const double a = degrees * Pi / 180;
      return Point{static_cast<int>(std::lround(centre.x - radius * std::cos(a))),
                   static_cast<int>(std::lround(centre.y + radius * std::sin(a)))};
    };
    for (const PieSlice& slice : m_g.slices) {
      std::vector<Point> polygon{centre, rim(slice.start)};
      for (double a = slice.start + RimStepDegrees; a < slice.end - Epsilon; a += RimStepDegrees)
        polygon.push_back(rim(a));
      polygon.push_back(rim(slice.end));
      m_g.sliceRimPoints.push_back(polygon.size() - 1);
      m_canvas.fillPolygon(polygon, seriesColour(slice.point));
      // White spokes keep neighbouring slices apart when their greys come out alike.
      const Pen spoke{Colors::White, 1, PenStyle::Solid};
      m_canvas.drawLine(centre, polygon[1], spoke);
      m_canvas.drawLine(centre, polygon.back(), spoke);
      const Point mid = rim((slice.start + slice.end) / 2);
      ChartHit hit;
      hit.box = m_g.plot;
      hit.centre = {(centre.x + mid.x) / 2, (centre.y + mid.y) / 2};
      hit.series = -1;
      hit.point = slice.point;
      m_g.hits.push_back(hit);
    }
  }

  void layoutAxes(Rect room, int line) {
    double lo = INFINITY, hi = -INFINITY;
    for (const ChartSeries& s : m_data.series) valueRange(s.values, lo, hi);
    const bool bars = m_options.type == ChartType::Bar;
    m_g.valueAxis = scaleValueAxis(lo, hi, m_options.fixedScale, bars);
    m_xy = isXYChart(m_options.type);
    if (m_xy) {
      double xlo = INFINITY, xhi = -INFINITY;
      if (m_data.x.empty()) {
        xlo = 1;
        xhi = static_cast<double>(std::max<size_t>(1, m_data.pointCount()));
      } else {
        valueRange(m_data.x, xlo, xhi);
      }
      if (!std::isfinite(xlo)) xlo = xhi = 0;
      m_g.xAxis = scaleValueAxis(xlo, xhi, m_options.fixedScale, false);
    }
    if (!m_options.yTitle.empty()) {
      m_yTitle = {room.left, room.top, room.right, room.top + line};
      room.top += line + 2;
    }
    if (!m_options.xTitle.empty()) {
      m_xTitle = {room.left, room.bottom - line, room.right, room.bottom};
      room.bottom -= line + 2;
    }
    if (m_options.yAxis) {
      int width = 0;
      for (double t : m_g.valueAxis.ticks())
        width = std::max(width, textWidth(m_label, axisLabelText(t, m_g.valueAxis.step)));
      room.left += width + 4;
    }
    // The X labels sit below the half line the lowest Y label reaches under the plot.
    if (m_options.xAxis) room.bottom -= line + line / 2 + 2;
    // Room for half of the last X label past the plot's right edge.
    if (m_xy && m_options.xAxis) room.right -= textWidth(m_label, axisLabelText(m_g.xAxis.high, m_g.xAxis.step)) / 2;
    room.top += line / 2;  // the top label is centred on its gridline
    m_g.plot = room;
  }

  int yOf(double v) const { return place(v, m_g.valueAxis, m_g.plot.bottom - 1, m_g.plot.top); }
  int xOf(double v) const { return place(v, m_g.xAxis, m_g.plot.left, m_g.plot.right - 1); }
  double slot() const {
    const size_t n = std::max<size_t>(1, m_data.pointCount());
    return static_cast<double>(m_g.plot.width()) / static_cast<double>(n);
  }
  int slotX(size_t point, double fraction) const {
    return m_g.plot.left + static_cast<int>((static_cast<double>(point) + fraction) * slot());
  }

  void paintGridAndAxes() {
    const Rect& p = m_g.plot;
    if (p.empty()) return;
    const Pen grid{GridColour, 1, PenStyle::Solid};
    if (m_options.yGrid || m_options.xGrid) {
      if (m_options.yGrid)
        for (double t : m_g.valueAxis.ticks()) m_canvas.drawLine({p.left, yOf(t)}, {p.right - 1, yOf(t)}, grid);
      if (m_options.xGrid) {
        if (m_xy) {
          for (double t : m_g.xAxis.ticks()) m_canvas.drawLine({xOf(t), p.top}, {xOf(t), p.bottom - 1}, grid);
        } else {
          for (size_t i = 0; i <= m_data.pointCount(); ++i)
            m_canvas.drawLine({slotX(i, 0), p.top}, {slotX(i, 0), p.bottom - 1}, grid);
        }
      }
      m_g.drawn.push_back(ChartPart::Gridlines);
    }
    if (m_options.xAxis || m_options.yAxis) {
      const Pen axis{AxisColour, 1, PenStyle::Solid};
      if (m_options.yAxis) m_canvas.drawLine({p.left, p.top}, {p.left, p.bottom - 1}, axis);
      if (m_options.xAxis) m_canvas.drawLine({p.left, baselineY()}, {p.right - 1, baselineY()}, axis);
      m_g.drawn.push_back(ChartPart::Axes);
    }
  }

  // Bars stand on zero when the axis shows it, else on the end nearer to zero.
  int baselineY() const {
    const AxisScale& a = m_g.valueAxis;
    return yOf(std::clamp(0.0, a.low, a.high));
  }

  void addHit(Rect box, Point centre, int series, size_t point) {
    if (box.width() < HitSize) box = {centre.x - HitSize / 2, box.top, centre.x + HitSize / 2, box.bottom};
    if (box.height() < HitSize) box = {box.left, centre.y - HitSize / 2, box.right, centre.y + HitSize / 2};
    m_g.hits.push_back({box, centre, series, static_cast<int32_t>(point)});
  }

  void paintData() {
    m_g.drawn.push_back(ChartPart::Data);
    if (m_g.plot.empty()) return;
    m_canvas.pushClip(m_g.plot.inflated(MarkerSize, MarkerSize));
    const int count = static_cast<int>(m_data.series.size());
    for (int s = 0; s < count; ++s) {
      const std::vector<double>& values = m_data.series[static_cast<size_t>(s)].values;
      if (m_options.type == ChartType::Bar) {
        const double group = slot() * 0.75;
        const double width = std::max(1.0, group / count);
        const int base = baselineY();
        for (size_t p = 0; p < values.size(); ++p) {
          if (!std::isfinite(values[p])) continue;
          const int left = m_g.plot.left + static_cast<int>(p * slot() + (slot() - group) / 2 + s * width);
          const int right = std::max(left + 1, static_cast<int>(left + width));
          const int y = yOf(std::clamp(values[p], m_g.valueAxis.low, m_g.valueAxis.high));
          const Rect bar{left, std::min(y, base), right, std::max(y, base) + 1};
          fillSeries(m_canvas, bar, s);
          if (bar.width() >= 4) m_canvas.frameRect(bar, rgb(40, 40, 40));
          addHit(bar, {(left + right) / 2, y}, s, p);
        }
        continue;
      }
      std::vector<Point> run;
      auto flush = [&] {
        if (hasLines(m_options.type) && run.size() > 1) m_canvas.drawPolyline(run, seriesPen(s));
        run.clear();
      };
      m_points.clear();
      for (size_t p = 0; p < values.size(); ++p) {
        const double x = m_xy ? xValue(m_data, p) : 0;
        if (!std::isfinite(values[p]) || !std::isfinite(x)) {
          flush();  // a gap in the data breaks the line
          continue;
        }
        const Point at{m_xy ? xOf(x) : slotX(p, 0.5), yOf(values[p])};
        run.push_back(at);
        m_points.push_back(at);
        addHit({at.x - HitSize / 2, at.y - HitSize / 2, at.x + HitSize / 2, at.y + HitSize / 2}, at, s, p);
      }
      flush();
      if (hasMarkers(m_options.type))
        for (const Point& at : m_points) drawMarker(m_canvas, at, s);
    }
    m_canvas.popClip();
  }

  void paintLabels(int line) {
    const Rect& p = m_g.plot;
    if (m_options.yAxis) {
      const std::vector<double> ticks = m_g.valueAxis.ticks();
      const double spacing = ticks.size() > 1 ? static_cast<double>(p.height()) / static_cast<double>(ticks.size() - 1) : p.height();
      const size_t every = thinning(spacing, line);
      for (size_t i = 0; i < ticks.size(); i += every) {
        const std::u16string text = axisLabelText(ticks[i], m_g.valueAxis.step);
        const int y = yOf(ticks[i]);
        m_canvas.drawTextBox({m_area.left, y - line / 2, p.left - 3, y - line / 2 + line}, text, m_label,
                             TextFlag::Right);
        m_g.valueLabels.push_back(text);
      }
    }
    if (m_options.xAxis) {
      const int top = p.bottom + line / 2 + 1;
      if (m_xy) {
        const std::vector<double> ticks = m_g.xAxis.ticks();
        int widest = 0;
        for (double t : ticks) widest = std::max(widest, textWidth(m_label, axisLabelText(t, m_g.xAxis.step)));
        const double spacing = ticks.size() > 1 ? static_cast<double>(p.width()) / static_cast<double>(ticks.size() - 1) : p.width();
        const size_t every = thinning(spacing, widest);
        for (size_t i = 0; i < ticks.size(); i += every) {
          const std::u16string text = axisLabelText(ticks[i], m_g.xAxis.step);
          const int x = xOf(ticks[i]);
          m_canvas.drawTextBox({x - widest, top, x + widest, top + line}, text, m_label, TextFlag::Center);
          m_g.categoryLabels.push_back(text);
        }
      } else {
        int widest = 0;
        for (const std::u16string& c : m_data.categories) widest = std::max(widest, textWidth(m_label, c));
        const size_t every = thinning(slot(), std::min(widest, p.width() / 2));
        for (size_t i = 0; i < m_data.categories.size(); i += every) {
          const int room = static_cast<int>(slot() * static_cast<double>(every)) - 4;
          const int mid = slotX(i, 0.5);
          m_canvas.drawTextBox({mid - room / 2, top, mid + room / 2 + 1, top + line}, m_data.categories[i], m_label,
                               TextFlag::Center);
          m_g.categoryLabels.push_back(m_data.categories[i]);
        }
      }
    }
    m_g.drawn.push_back(ChartPart::AxisLabels);
    if (!m_options.xTitle.empty() || !m_options.yTitle.empty()) {
      if (!m_options.xTitle.empty()) m_canvas.drawTextBox(m_xTitle, m_options.xTitle, m_label, TextFlag::Center);
      if (!m_options.yTitle.empty()) m_canvas.drawTextBox(m_yTitle, m_options.yTitle, m_label, TextFlag::Left);
      m_g.drawn.push_back(ChartPart::AxisTitles);
    }
  }

  Canvas& m_canvas;
  Rect m_area;
  const ChartOptions& m_options;
  const ChartData& m_data;
  ChartGeometry& m_g;
  FontSpec m_label = labelFont();
  bool m_xy = false;
  Rect m_xTitle;
  Rect m_yTitle;
  std::vector<Point> m_points;
};

}  // namespace

std::vector<double> AxisScale::ticks() const {
  std::vector<double> out;
  if (!(step > 0) || !(high >= low)) return out;
  const auto count = static_cast<long>(std::lround((high - low) / step));
  for (long i = 0; i <= count && i <= 1000; ++i) {
    double v = low + static_cast<double>(i) * step;
    v = std::round(v / step) * step;  // no 0.30000000000000004 in a label
    out.push_back(v == 0 ? 0.0 : v);
  }
  return out;
}

AxisScale scaleValueAxis(double smallest, double largest, bool fixedScale, bool bars) {
  AxisScale axis;
  if (!std::isfinite(smallest) || !std::isfinite(largest)) smallest = largest = 0;
  if (smallest > largest) std::swap(smallest, largest);
  double base;
  double far;
  double other;  // the end on the other side of zero, when the values have both signs
  if (fixedScale || (smallest < 0 && largest > 0)) {
    base = 0;
    far = std::fabs(largest) >= std::fabs(smallest) ? largest : smallest;
    other = far == largest ? smallest : largest;
  } else if (smallest >= 0) {
    base = smallest;
    far = largest;
    other = base;
  } else {
    base = largest;
    far = smallest;
    other = base;
  }
  if (far != 0 && base / far < 0.2) base = 0;
  // Negative data is scaled as its mirror image, so "lower" always means toward zero.
  const double sign = far < 0 || (far == 0 && base < 0) ? -1 : 1;
  const double b = sign * base;
  const double f = sign * far;
  double distance = f - b;
  if (distance <= 0) distance = b > 0 ? b : 3;
  axis.step = roundStep(distance / 3);
  double snapped = std::floor(b / axis.step + Epsilon) * axis.step;
  if (bars) snapped = std::max(0.0, snapped - axis.step);
  double top = std::ceil(f / axis.step - Epsilon) * axis.step;
  if (top <= snapped) top = snapped + axis.step;
  double bottom = std::min(snapped, std::floor(sign * other / axis.step + Epsilon) * axis.step);
  axis.base = sign * snapped;
  if (sign > 0) {
    axis.low = bottom;
    axis.high = top;
  } else {
    axis.low = -top;
    axis.high = -bottom;
  }
  if (axis.base == 0) axis.base = 0.0;  // no "-0"
  return axis;
}

std::u16string axisLabelText(double value, double step) {
  if (std::fabs(value) < step * Epsilon) value = 0;
  const int decimals = step >= 1 ? 0 : static_cast<int>(std::ceil(-std::log10(step) - Epsilon));
  if (std::fabs(value) >= 1e7 || decimals > 6) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.5g", value);
    return std::u16string(buffer, buffer + std::char_traits<char>::length(buffer));
  }
  std::u16string out;
  formatFixed(value, decimals, false, out);
  return out;
}

std::vector<PieSlice> pieSlices(const std::vector<double>& values) {
  double total = 0;
  for (double v : values)
    if (std::isfinite(v)) total += std::fabs(v);
  std::vector<PieSlice> slices;
  if (!(total > 0)) return slices;
  double sum = 0;
  double start = 0;
  for (size_t i = 0; i < values.size(); ++i) {
    if (!std::isfinite(values[i]) || values[i] == 0) continue;
    sum += std::fabs(values[i]);
    const double end = sum / total * 100 * DegreesPerPercent;
    slices.push_back({static_cast<int32_t>(i), start, end});
    start = end;
  }
  return slices;
}

bool ChartGeometry::drew(ChartPart part) const { return std::find(drawn.begin(), drawn.end(), part) != drawn.end(); }

ChartGeometry drawChart(Canvas& canvas, const Rect& area, const ChartOptions& options, const ChartData& data) {
  ChartGeometry geometry;
  Painter(canvas, area, options, data, geometry).paint();
  return geometry;
}

std::u16string chartHitText(const ChartGeometry& g, const ChartOptions& options, const ChartData& data, size_t index) {
  if (index >= g.hits.size()) return {};
  const ChartHit& hit = g.hits[index];
  const auto point = static_cast<size_t>(hit.point);
  if (hit.series < 0) {
    if (data.series.empty() || point >= data.series.front().values.size()) return {};
    const std::vector<double>& values = data.series.front().values;
    double total = 0;
    for (double v : values)
      if (std::isfinite(v)) total += std::fabs(v);
    const double value = values[point];
    const std::u16string label = point < data.categories.size() ? data.categories[point] : std::u16string();
    return label + u": " + fixed2(value) + u" (" + fixed2(total > 0 ? std::fabs(value) / total * 100 : 0) + u"%)";
  }
  const ChartSeries& series = data.series[static_cast<size_t>(hit.series)];
  const double y = series.values[point];
  if (isXYChart(options.type)) return series.name + u": x=" + fixed2(xValue(data, point)) + u" y=" + fixed2(y);
  const std::u16string label = point < data.categories.size() ? data.categories[point] : std::u16string();
  return series.name + u": " + label + u" " + fixed2(y);
}

std::u16string chartTapText(const ChartGeometry& g, const ChartOptions& options, const ChartData& data, Point at) {
  for (size_t i = 0; i < g.legendEntries.size(); ++i) {
    if (!g.legendEntries[i].contains(at)) continue;
    if (options.type == ChartType::Pie) return i < data.categories.size() ? data.categories[i] : std::u16string();
    return i < data.series.size() ? data.series[i].name : std::u16string();
  }
  if (options.type == ChartType::Pie) {
    const double radius = g.plot.width() / 2.0;
    const double cx = g.plot.left + radius;
    const double cy = g.plot.top + radius;
    if (std::hypot(at.x - cx, at.y - cy) > radius) return {};
    double angle = std::atan2(at.y - cy, cx - at.x) * 180 / Pi;
    if (angle < 0) angle += 360;
    for (size_t i = 0; i < g.slices.size(); ++i)
      if (angle >= g.slices[i].start && angle <= g.slices[i].end) return chartHitText(g, options, data, i);
    return {};
  }
  size_t best = g.hits.size();
  long bestDistance = 0;
  for (size_t i = 0; i < g.hits.size(); ++i) {
    if (!g.hits[i].box.contains(at)) continue;
    const long dx = at.x - g.hits[i].centre.x;
    const long dy = at.y - g.hits[i].centre.y;
    if (best == g.hits.size() || dx * dx + dy * dy < bestDistance) {
      best = i;
      bestDistance = dx * dx + dy * dy;
    }
  }
  return chartHitText(g, options, data, best);
}

}  // namespace kelp
