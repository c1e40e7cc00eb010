// Fonts through FreeType: face mapping, measuring, glyphs landing where asked, wrapping, the text log.
#include <gtest/gtest.h>

#include "platform/ui/Canvas.h"
#include "platform/ui/Font.h"

namespace kelp {
namespace {

Rect inkBox(const FrameBuffer& fb) {
  Rect box;
  for (int y = 0; y < fb.height; ++y)
    for (int x = 0; x < fb.width; ++x)
      if (fb.pixel(x, y) != Colors::White) box = box.united({x, y, x + 1, y + 1});
  return box;
}

FontSpec font(std::u16string face, int height, int weight = 400) {
  FontSpec f;
  f.face = std::move(face);
  f.height = height;
  f.weight = weight;
  return f;
}

TEST(Font, FacesMapToInstalledFreeFonts) {
  std::string tahoma = fontFileFor(u"Tahoma", false, false);
  ASSERT_FALSE(tahoma.empty()) << "DejaVu Sans must be installed";
  EXPECT_NE(tahoma.find("DejaVuSans"), std::string::npos);
  EXPECT_EQ(fontFileFor(u"Wingdings", false, false), tahoma);
  EXPECT_NE(fontFileFor(u"Tahoma", true, false).find("Bold"), std::string::npos);
  std::string arial = fontFileFor(u"arial", false, true);
  // Liberation Sans when installed, DejaVu Sans otherwise; never nothing.
  EXPECT_TRUE(arial.find("LiberationSans-Italic") != std::string::npos ||
              arial.find("DejaVuSans-Oblique") != std::string::npos)
      << arial;
}

TEST(Font, MeasuringFollowsTheText) {
  FontSpec f = font(u"Tahoma", 12);
  EXPECT_EQ(textWidth(f, u""), 0);
  int one = textWidth(f, u"1");
  EXPECT_GT(one, 2);
  EXPECT_EQ(textWidth(f, u"11111"), 5 * one);
  EXPECT_GT(textWidth(f, u"Budget 2024"), textWidth(f, u"Budget"));
  EXPECT_GT(textWidth(f, u"WWW"), textWidth(f, u"iii"));
  EXPECT_GT(textWidth(font(u"Tahoma", 24), u"Sum"), textWidth(f, u"Sum"));
  EXPECT_GT(textWidth(font(u"Tahoma", 12, 700), u"Average total"), textWidth(f, u"Average total"));
  EXPECT_NE(textWidth(font(u"Arial", 12), u"Average total"), 0);
  // A byte of a file name that is no UTF-8 stands in the text as a lone surrogate, and
  // shows as the replacement mark.
  EXPECT_EQ(textWidth(f, u"caf\xDCE9"), textWidth(f, u"caf\uFFFD"));

  FontMetrics m = fontMetrics(f);
  EXPECT_GE(m.lineHeight, m.ascent + m.descent);
  EXPECT_GE(m.ascent, 9);
  EXPECT_LE(m.lineHeight, 18);
  EXPECT_GT(fontMetrics(font(u"Tahoma", 24)).lineHeight, m.lineHeight);
  EXPECT_EQ(pixelsFromTwips(200), 13);  // 10 points
  EXPECT_EQ(pixelsFromTwips(180), 12);
}

TEST(Font, GlyphsLandInTheTextBox) {
  FrameBuffer fb(60, 40);
  Canvas c(fb);
  FontSpec f = font(u"Tahoma", 16);
  f.color = rgb(200, 0, 0);
  int width = c.drawText(10, 8, u"HH", f);
  EXPECT_EQ(width, textWidth(f, u"HH"));
  Rect ink = inkBox(fb);
  ASSERT_FALSE(ink.empty());
  FontMetrics m = fontMetrics(f);
  EXPECT_GE(ink.left, 10);
  EXPECT_LE(ink.right, 10 + width);
  EXPECT_GE(ink.top, 8);
  EXPECT_LE(ink.bottom, 8 + m.ascent);  // H has no descender
  EXPECT_GE(ink.height(), 10);
  // The stems are drawn in the font's colour, blended to white only at the edges.
  bool solid = false;
  for (int y = ink.top; y < ink.bottom; ++y)
    for (int x = ink.left; x < ink.right; ++x) solid |= fb.pixel(x, y) == rgb(200, 0, 0);
  EXPECT_TRUE(solid);

  // Clipped text leaves no ink outside the clip.
  FrameBuffer clipped(60, 40);
  Canvas cc(clipped);
  cc.pushClip({0, 0, 16, 40});
  cc.drawText(10, 8, u"HH", f);
  EXPECT_LE(inkBox(clipped).right, 16);

  FrameBuffer under(60, 40);
  Canvas cu(under);
  FontSpec u = f;
  u.underline = true;
  cu.drawText(10, 8, u"HH", u);
  EXPECT_GT(inkBox(under).bottom, ink.bottom);
}

TEST(Font, WrapBreaksAtBlanksAndInsideLongWords) {
  FontSpec f = font(u"Tahoma", 12);
  std::u16string text = u"The quick brown fox jumps over the lazy dog";
  int limit = textWidth(f, u"quick brown");
  std::vector<TextLine> lines = wrapText(f, text, limit);
  ASSERT_GE(lines.size(), 4u);
  std::u16string joined;
  for (const TextLine& l : lines) {
    EXPECT_LE(l.width, limit);
    std::u16string_view part = std::u16string_view(text).substr(l.start, l.length);
    EXPECT_EQ(l.width, textWidth(f, part));
    EXPECT_NE(part.front(), u' ');
    EXPECT_NE(part.back(), u' ');
    if (!joined.empty()) joined += u' ';
    joined += part;
  }
  EXPECT_EQ(joined, text);
  EXPECT_EQ(std::u16string_view(text).substr(lines[0].start, lines[0].length), u"The quick");

  std::vector<TextLine> word = wrapText(f, u"Supercalifragilistic", textWidth(f, u"Super"));
  ASSERT_GE(word.size(), 4u);
  size_t total = 0;
  for (const TextLine& l : word) total += l.length;
  EXPECT_EQ(total, 20u);

  std::vector<TextLine> feeds = wrapText(f, u"one\ntwo", 1000);
  ASSERT_EQ(feeds.size(), 2u);
  EXPECT_EQ(feeds[1].start, 4u);
  EXPECT_TRUE(wrapText(f, u"", 100).empty());
  EXPECT_EQ(wrapText(f, u"abc", 0).size(), 3u);  // no room: one character a line, still progress
}

TEST(Font, TextBoxesAlignAndTheLogRecordsWhatShows) {
  FrameBuffer fb(100, 60);
  Canvas c(fb);
  TextLog log;
  c.setTextLog(&log);
  FontSpec f = font(u"Tahoma", 12);
  f.color = rgb(0, 0, 255);
  c.drawTextBox({0, 0, 100, 20}, u"12.5", f, TextFlag::Right | TextFlag::VCenter);
  const DrawnText* t = log.find(u"12.5");
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->rect.right, 100);
  EXPECT_EQ(t->font.color, rgb(0, 0, 255));
  EXPECT_EQ(log.at({98, 10}), t);
  c.drawTextBox({0, 20, 100, 40}, u"Mid", f, TextFlag::Center);
  const DrawnText* mid = log.find(u"Mid");
  ASSERT_NE(mid, nullptr);
  EXPECT_LE(std::abs((mid->rect.left + mid->rect.right) - 100), 1);
  EXPECT_EQ(mid->rect.top, 20);

  c.drawTextBox({0, 40, 30, 60}, u"far too long", f, TextFlag::Bottom);
  const DrawnText* cut = log.find(u"far too long");
  ASSERT_NE(cut, nullptr);
  EXPECT_EQ(cut->visible.right, 30);
  EXPECT_EQ(cut->rect.bottom, 60);

  c.fillRect({0, 0, 100, 20}, Colors::White);  // painting a cell over forgets its text
  EXPECT_EQ(log.find(u"12.5"), nullptr);
  EXPECT_NE(log.find(u"Mid"), nullptr);
  EXPECT_EQ(log.within({0, 0, 100, 60}).size(), 2u);
}

TEST(Font, GlyphCacheFillsOnceAndDrawsTheSame) {
  FontSpec f = font(u"Tahoma", 13);
  clearGlyphCache();
  FrameBuffer cold(80, 20), warm(80, 20);
  Canvas(cold).drawText(0, 0, u"Kelp 42", f);
  size_t cached = glyphCacheSize();
  EXPECT_EQ(cached, 7u);  // seven distinct characters
  Canvas(warm).drawText(0, 0, u"Kelp 42", f);
  EXPECT_EQ(glyphCacheSize(), cached);
  EXPECT_EQ(cold.pixels, warm.pixels);
}

}  // namespace
}  // namespace kelp
