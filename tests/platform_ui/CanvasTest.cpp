// Drawing on a memory canvas: fills, clipping, inversion, scrolling, line styles, polygons, PNG files.
#include <gtest/gtest.h>

#include <unistd.h>

#include "platform/ErrorState.h"
#include "platform/ui/Canvas.h"

namespace kelp {
namespace {

int countColor(const FrameBuffer& fb, const Rect& r, Color c) {
  int n = 0;
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = r.left; x < r.right; ++x) n += fb.pixel(x, y) == c;
  return n;
}

TEST(Canvas, FillsStayInsideTheClipAndTheOrigin) {
  FrameBuffer fb(40, 30);
  Canvas c(fb);
  c.fillRect({5, 5, 10, 8}, Colors::Black);
  EXPECT_EQ(countColor(fb, fb.bounds(), Colors::Black), 15);
  EXPECT_EQ(fb.pixel(5, 5), Colors::Black);
  EXPECT_EQ(fb.pixel(10, 5), Colors::White);  // right edge is exclusive

  c.setOrigin({20, 10});
  c.pushClip({0, 0, 5, 5});
  c.fillRect({-10, -10, 100, 100}, rgb(255, 0, 0));
  EXPECT_EQ(countColor(fb, fb.bounds(), rgb(255, 0, 0)), 25);
  EXPECT_EQ(fb.pixel(20, 10), rgb(255, 0, 0));
  EXPECT_EQ(fb.pixel(25, 10), Colors::White);
  c.pushClip({3, 3, 50, 50});  // nested clips only narrow
  EXPECT_EQ(c.clip(), (Rect{3, 3, 5, 5}));
  c.popClip();
  c.popClip();
  EXPECT_EQ(c.clip(), (Rect{-20, -10, 20, 20}));

  // Drawing entirely off the buffer touches nothing and does not crash.
  c.setOrigin({0, 0});
  c.fillRect({-50, -50, -1, -1}, Colors::Black);
  c.drawLine({-100, 5}, {-10, 500}, Pen{Colors::Black, 3});
  EXPECT_EQ(countColor(fb, fb.bounds(), Colors::Black), 15);
}

TEST(Canvas, FrameAndInversion) {
  FrameBuffer fb(20, 20);
  Canvas c(fb);
  c.frameRect({2, 2, 12, 10}, Colors::Black, 2);
  EXPECT_EQ(fb.pixel(2, 2), Colors::Black);
  EXPECT_EQ(fb.pixel(3, 3), Colors::Black);
  EXPECT_EQ(fb.pixel(4, 4), Colors::White);  // inside the 2-pixel frame
  EXPECT_EQ(fb.pixel(11, 9), Colors::Black);
  EXPECT_EQ(countColor(fb, fb.bounds(), Colors::Black), 10 * 8 - 6 * 4);

  FrameBuffer before = fb;
  c.invertRect({0, 0, 6, 6});
  EXPECT_EQ(fb.pixel(0, 0), Colors::Black);
  EXPECT_EQ(fb.pixel(2, 2), Colors::White);
  c.fillRect({15, 15, 16, 16}, rgb(10, 200, 30));
  c.invertRect({15, 15, 16, 16});
  EXPECT_EQ(fb.pixel(15, 15), rgb(245, 55, 225));
  c.invertRect({15, 15, 16, 16});
  c.invertRect({0, 0, 6, 6});
  c.fillRect({15, 15, 16, 16}, Colors::White);
  EXPECT_EQ(fb.pixels, before.pixels);  // inverting twice restores
}

TEST(Canvas, ScrollMovesPixelsWithinTheArea) {
  FrameBuffer fb(20, 20);
  Canvas c(fb);
  for (int x = 0; x < 20; ++x) c.fillRect({x, 0, x + 1, 20}, rgb(x, 0, 0));
  c.scrollRect({5, 0, 15, 20}, -3, 0);
  EXPECT_EQ(fb.pixel(5, 4), rgb(8, 0, 0));    // column 8 moved to 5
  EXPECT_EQ(fb.pixel(11, 4), rgb(14, 0, 0));
  EXPECT_EQ(fb.pixel(12, 4), rgb(12, 0, 0));  // uncovered strip keeps its old pixels
  EXPECT_EQ(fb.pixel(4, 4), rgb(4, 0, 0));    // outside the area nothing moved
  EXPECT_EQ(fb.pixel(15, 4), rgb(15, 0, 0));

  for (int y = 0; y < 20; ++y) c.fillRect({0, y, 20, y + 1}, rgb(0, y, 0));
  c.scrollRect({0, 2, 20, 18}, 0, 5);  // downward: rows copied bottom first
  EXPECT_EQ(fb.pixel(3, 7), rgb(0, 2, 0));
  EXPECT_EQ(fb.pixel(3, 17), rgb(0, 12, 0));
  EXPECT_EQ(fb.pixel(3, 18), rgb(0, 18, 0));

  TextLog log;
  c.setTextLog(&log);
  log.add({u"moved", {2, 4, 10, 10}, {2, 4, 10, 10}, FontSpec()});
  log.add({u"cut", {0, 0, 20, 3}, {0, 0, 20, 3}, FontSpec()});
  c.scrollRect({0, 2, 20, 18}, 0, 5);
  ASSERT_NE(log.find(u"moved"), nullptr);
  EXPECT_EQ(log.find(u"moved")->visible, (Rect{2, 9, 10, 15}));
  EXPECT_EQ(log.find(u"cut"), nullptr);  // half in the area: no longer readable
}

TEST(Canvas, BorderStylesHaveTheirWidthsAndDashes) {
  auto row = [](int style, int length) {
    FrameBuffer fb(length + 4, 9);
    Canvas c(fb);
    c.drawBorder({2, 4}, {2 + length - 1, 4}, style, Colors::Black);
    return fb;
  };
  auto columnProfile = [](const FrameBuffer& fb, int x) {
    std::string s;
    for (int y = 0; y < fb.height; ++y) s += fb.pixel(x, y) == Colors::Black ? '#' : '.';
    return s;
  };
  auto rowProfile = [](const FrameBuffer& fb, int y) {
    std::string s;
    for (int x = 2; x < fb.width - 2; ++x) s += fb.pixel(x, y) == Colors::Black ? '#' : '.';
    return s;
  };
  EXPECT_EQ(columnProfile(row(1, 12), 5), "....#....");
  EXPECT_EQ(columnProfile(row(2, 12), 5), "....##...");
  EXPECT_EQ(columnProfile(row(5, 12), 5), "...###...");
  EXPECT_EQ(columnProfile(row(6, 12), 5), "...#.#...");  // double: two lines, a gap between
  EXPECT_EQ(rowProfile(row(1, 12), 4), "############");
  EXPECT_EQ(rowProfile(row(3, 12), 4), "###.###.###.");
  EXPECT_EQ(rowProfile(row(4, 12), 4), "#.#.#.#.#.#.");
  EXPECT_EQ(rowProfile(row(9, 12), 4), "####..#..###");
  EXPECT_EQ(rowProfile(row(8, 12), 4), "######..####");
  EXPECT_EQ(rowProfile(row(8, 12), 5), "######..####");  // medium dashes are two rows thick
  EXPECT_EQ(rowProfile(row(0, 12), 4), "............");
  EXPECT_EQ(borderLineWidth(5), 3);
  EXPECT_EQ(borderLineWidth(0), 0);
  EXPECT_EQ(borderLineWidth(99), 0);

  FrameBuffer v(9, 12);
  Canvas c(v);
  c.drawBorder({4, 1}, {4, 10}, 2, Colors::Black);  // vertical medium
  EXPECT_EQ(v.pixel(4, 5), Colors::Black);
  EXPECT_EQ(v.pixel(5, 5), Colors::Black);
  EXPECT_EQ(v.pixel(3, 5), Colors::White);
  EXPECT_EQ(v.pixel(4, 11), Colors::White);
}

TEST(Canvas, LinesPensAndPolygons) {
  FrameBuffer fb(30, 30);
  Canvas c(fb);
  c.drawLine({0, 0}, {9, 9}, Pen{Colors::Black, 1});
  for (int i = 0; i < 10; ++i) EXPECT_EQ(fb.pixel(i, i), Colors::Black) << i;
  EXPECT_EQ(countColor(fb, fb.bounds(), Colors::Black), 10);
  c.drawLine({0, 20}, {29, 20}, Pen{Colors::Black, 1, PenStyle::Dot});
  EXPECT_EQ(fb.pixel(0, 20), Colors::Black);
  EXPECT_EQ(fb.pixel(1, 20), Colors::White);
  EXPECT_EQ(fb.pixel(3, 20), Colors::Black);
  c.drawLine({20, 0}, {20, 9}, Pen{rgb(1, 2, 3), 3});
  EXPECT_EQ(countColor(fb, {19, 0, 22, 10}, rgb(1, 2, 3)), 30);
  // A wide slanted line passing beside the clip draws nothing outside it.
  FrameBuffer clipped(12, 12);
  Canvas w(clipped);
  w.pushClip({0, 0, 5, 12});
  w.drawLine({11, 2}, {-4, 9}, Pen{Colors::Black, 3});
  EXPECT_EQ(countColor(clipped, {5, 0, 12, 12}, Colors::Black), 0);
  EXPECT_GT(countColor(clipped, {0, 0, 5, 12}, Colors::Black), 0);

  FrameBuffer poly(20, 20);
  Canvas p(poly);
  p.fillPolygon({{2, 2}, {12, 2}, {12, 12}, {2, 12}}, Colors::Black);
  EXPECT_EQ(countColor(poly, poly.bounds(), Colors::Black), 100);
  p.fillPolygon({{0, 0}, {10, 0}, {0, 10}}, rgb(0, 0, 255));  // a triangle covers about half its box
  int tri = countColor(poly, poly.bounds(), rgb(0, 0, 255));
  EXPECT_GE(tri, 45);
  EXPECT_LE(tri, 55);
  EXPECT_EQ(poly.pixel(1, 1), rgb(0, 0, 255));
  EXPECT_EQ(poly.pixel(9, 9), Colors::Black);
}

TEST(Canvas, PngRoundTrip) {
  FrameBuffer fb(17, 9);
  Canvas c(fb);
  c.fillRect({0, 0, 8, 9}, rgb(12, 34, 56));
  c.fillRect({8, 3, 17, 4}, rgb(250, 1, 128));
  std::string path = testing::TempDir() + "kelp_canvas_" + std::to_string(getpid()) + ".png";
  ASSERT_TRUE(writePng(fb, path));
  FrameBuffer back;
  ASSERT_TRUE(readPng(path, back));
  EXPECT_EQ(back.width, 17);
  EXPECT_EQ(back.height, 9);
  EXPECT_EQ(back.pixels, fb.pixels);
  std::remove(path.c_str());

  clearError();
  FrameBuffer untouched(2, 2, Colors::Black);
  EXPECT_FALSE(readPng(path, untouched));  // gone now
  EXPECT_EQ(pendingError(), static_cast<uint32_t>(Err::FileRead));
  EXPECT_EQ(untouched.width, 2);
  clearError();
  EXPECT_FALSE(writePng(fb, "/nonexistent-folder/x.png"));
  EXPECT_EQ(pendingError(), static_cast<uint32_t>(Err::FileWrite));
  clearError();
}

}  // namespace
}  // namespace kelp
