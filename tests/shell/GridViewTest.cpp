// Scripted headless sessions of the grid: opening, moving, frozen titles, zoom, hidden
// columns, merged areas, overflow, wrapping, borders, the inverted selection and what
// cells holding tasks show.
#include <algorithm>
#include <set>

#include "ShellTestSupport.h"
#include "formula/Compiler.h"
#include "formula/Recalc.h"
#include "platform/ui/Canvas.h"

namespace kelp::test {
namespace {

constexpr Color White = Colors::White;
constexpr Color Black = Colors::Black;

Color inverted(Color c) { return c ^ 0xFFFFFF; }

Point centre(const Rect& r) { return {(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }

// Whatever the incremental updates drew must equal a paint of everything from scratch.
void expectScreenMatchesFullRepaint(Session& s) {
  s.desktop.paintAll();
  FrameBuffer before = s.desktop.screen();
  s.app->mainWindow()->invalidate();
  s.desktop.paintAll();
  const FrameBuffer& after = s.desktop.screen();
  int differing = 0;
  Point first{-1, -1};
  for (int y = 0; y < after.height; ++y) {
    for (int x = 0; x < after.width; ++x) {
      if (before.pixel(x, y) != after.pixel(x, y)) {
        if (differing++ == 0) first = {x, y};
      }
    }
  }
  EXPECT_EQ(differing, 0) << "first difference at " << first.x << "," << first.y;
}

std::string repeat(const std::string& line, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += line + "\n";
  return out;
}

TEST(GridView, OpensAWorkbookAndMovesWithTheKeys) {
  TempFolder folder;
  auto book = newWorkbook(3);
  Sheet& sheet = *book->sheetAt(0);
  putText(sheet, 0, 0, u"Hello");
  putNumber(sheet, 1, 2, 42);
  putText(sheet, 0, 9, u"end");
  putText(sheet, 5, 9, u"far");
  putText(sheet, 3, 30, u"last");
  std::u16string path = saveWorkbook(std::move(book), folder.file("moves.kp"));

  Session s;
  s.run(path, "key Down Down Right\n");
  EXPECT_EQ(s.book().fileName, path);
  EXPECT_EQ(s.app->settings().recentFiles[0], path);
  EXPECT_EQ(s.sel().activeColumn, 1);
  EXPECT_EQ(s.sel().activeRow, 2);
  // Layout at zoom 100: a 26-pixel row header, a 14-pixel column header, 17-pixel rows and
  // columns of the default width, which holds eight digits of the font drawn and the margins.
  const int width = s.geometry().columnWidth(0);
  EXPECT_EQ(s.cell(0, 0), (Rect{26, 14, 26 + width, 31}));
  EXPECT_GE(width, textWidth(cellFont(s.book(), 0, 100), u"00000000") + 6);
  const DrawnText* hello = s.text(u"Hello");
  ASSERT_NE(hello, nullptr);
  EXPECT_EQ(hello->rect.left, 29);  // left aligned inside the 3-pixel margin
  const DrawnText* number = s.text(u"42");
  ASSERT_NE(number, nullptr);
  EXPECT_EQ(number->rect.right, s.cell(1, 2).right - 3);  // numbers align right
  ASSERT_NE(s.text(u"C"), nullptr);
  EXPECT_EQ(s.text(u"C")->font.height, 12);

  // Up at row 0 and Right at column 255 leave the selection where it is.
  s.keys("key Ctrl+Home\nkey Up\n");
  EXPECT_EQ(s.sel().activeRow, 0);
  EXPECT_EQ(s.sel().activeColumn, 0);
  s.keys("key Down Ctrl+Right\n");  // an empty row: straight to the last column
  EXPECT_EQ(s.sel().activeColumn, 255);
  s.keys("key Right\n");
  EXPECT_EQ(s.sel().activeColumn, 255);
  // The view follows until the active cell shows whole, and no further.
  const int32_t left = s.sheet().view.leftColumn;
  EXPECT_LE(s.cell(255, 1).right, 240);
  EXPECT_GT(s.cell(255, 1).right + s.geometry().columnWidth(left - 1), 240);
  ASSERT_NE(s.text(u"IV"), nullptr);
  s.keys("key Left Left Left\n");
  EXPECT_EQ(s.sheet().view.leftColumn, 252);

  // Ctrl+arrows jump between data, End goes to the row's last value, Ctrl+End to the corner
  // of the used range.
  s.keys("key Ctrl+Home Ctrl+Down\n");
  EXPECT_EQ(s.sel().activeRow, 9);
  s.keys("key End\n");
  EXPECT_EQ(s.sel().activeColumn, 5);
  s.keys("key Ctrl+End\n");
  EXPECT_EQ(s.sel().activeRow, 30);
  EXPECT_EQ(s.sel().activeColumn, 5);
  s.keys("key Home\n");
  EXPECT_EQ(s.sel().activeColumn, 0);

  // 17 rows show from the top row (the last one partly): Page Down moves 16.
  s.keys("key Ctrl+Home PageDown\n");
  EXPECT_EQ(s.geometry().visibleRowsFrom(s.sheet().view.topRow), 17);
  EXPECT_EQ(s.sel().activeRow, 16);
  const int columns = s.geometry().visibleColumnsFrom(0);
  EXPECT_GT(s.cell(columns - 1, s.sheet().view.topRow).right, 240) << "the last column shows partly";
  s.keys("key Alt+PageDown\n");
  EXPECT_EQ(s.sel().activeColumn, columns - 1);
  s.keys("key Tab Tab Shift+Tab\n");
  EXPECT_EQ(s.sel().activeColumn, columns);
  expectScreenMatchesFullRepaint(s);
}

TEST(GridView, FrozenTitlesStayWhileThePaneScrolls) {
  TempFolder folder;
  auto book = newWorkbook(1);
  Sheet& sheet = *book->sheetAt(0);
  putText(sheet, 0, 0, u"Title");
  putText(sheet, 0, 1, u"Heading");
  for (int row = 2; row < 80; ++row) putNumber(sheet, 0, row, row);
  sheet.view.rowsFrozen = true;
  sheet.view.frozenFirstRow = 0;
  sheet.view.frozenLastRow = 1;
  sheet.view.topRow = 2;
  std::u16string path = saveWorkbook(std::move(book), folder.file("frozen.kp"));

  Session s;
  s.run(path, repeat("key Down", 40));
  EXPECT_EQ(s.sel().activeRow, 40);
  EXPECT_GT(s.sheet().view.topRow, 2);
  EXPECT_GT(s.app->grid().pixelScrolls(), 0) << "small scrolls move pixels";
  const DrawnText* title = s.text(u"Title");
  ASSERT_NE(title, nullptr);
  EXPECT_GE(title->visible.top, 14);
  EXPECT_LE(title->visible.bottom, 14 + 17);
  // The black line under the last frozen row runs across the grid.
  const int line = 14 + 2 * 17 - 1;
  EXPECT_EQ(s.pixel(100, line), Black);
  EXPECT_EQ(s.pixel(230, line), Black);
  EXPECT_EQ(s.geometry().rowAt(line + 2), s.sheet().view.topRow);
  ASSERT_NE(s.text(u"40"), nullptr);  // the row of the active cell (its value is its number)
  expectScreenMatchesFullRepaint(s);

  // With titles frozen at rows 1..3 (the first frozen row is 1), Up never reaches row 0.
  Sheet& live = s.sheet();
  live.view.frozenFirstRow = 1;
  live.view.frozenLastRow = 3;
  live.view.topRow = 4;
  s.app->grid().markRepaint(Repaint::Everything);
  s.keys("key Ctrl+Home\n");
  EXPECT_EQ(s.sel().activeRow, 1);
  s.keys("key Down Down Down Up Up Up Up Up\n");
  EXPECT_EQ(s.sel().activeRow, 1);
  expectScreenMatchesFullRepaint(s);
}

TEST(GridView, ZoomScalesCellsHeadersAndFonts) {
  struct Case {
    uint32_t zoom;
    int headerFont;
    int rowHeader;
    int rowHeight;  // below 85% rows shrink as their fonts do
  } cases[] = {{50, 6, 13, 9}, {70, 9, 18, 13}, {80, 10, 20, 14}, {100, 12, 26, 17}, {200, 24, 52, 34}};
  int lastWidth = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.zoom);
    Session s;
    s.run(u"", "");
    putText(s.sheet(), 1, 0, u"Zoomed");
    const int16_t money = makeStyle(s.book(), [](StyleRecord& r) { r.numberFormat = 4; });
    putNumber(s.sheet(), 0, 1, 2850, money);
    putNumber(s.sheet(), 0, 2, 1064.09, money);
    s.app->setZoom(c.zoom);
    s.app->grid().update();
    s.desktop.paintAll();
    GridGeometry g = s.geometry();
    EXPECT_EQ(g.layout().cells.left, c.rowHeader);
    // Columns count in digits of the font drawn at the zoom, which shrinks less than the
    // grid: the amounts of an ordinary budget show in a column of the default width.
    // (Below 70% the 6 pixels of margins outgrow the padding the width allows for.)
    const FontSpec font = cellFont(s.book(), 0, static_cast<int>(c.zoom));
    EXPECT_GT(g.columnWidth(0), lastWidth);
    lastWidth = g.columnWidth(0);
    if (c.zoom >= 70) {
      EXPECT_GE(g.columnWidth(0), textWidth(font, u"00000000") + 6);
      EXPECT_NE(s.text(u"$2,850.00"), nullptr);
      EXPECT_NE(s.text(u"$1,064.09"), nullptr);
    }
    EXPECT_EQ(g.rowHeight(0), c.rowHeight);
    const DrawnText* a = s.text(u"A");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->font.height, c.headerFont);
    const DrawnText* cellText = s.text(u"Zoomed");
    ASSERT_NE(cellText, nullptr);
    EXPECT_EQ(cellText->font.height, scaledFontHeight(13, static_cast<int>(c.zoom)));
    EXPECT_EQ(cellText->rect.left, c.rowHeader + g.columnWidth(0) + 3);
    // The gridline on the right edge of A2 sits on the last pixel of the column.
    Rect a2 = g.cellRect(0, 1);
    EXPECT_EQ(s.pixel(a2.right - 1, a2.top + 2), GridlineColor);
    EXPECT_TRUE(s.book().modified);
  }
}

TEST(GridView, HiddenColumnsLeaveNoGap) {
  Session s;
  s.run(u"", "");
  putText(s.sheet(), 2, 0, u"in C");
  ASSERT_TRUE(s.sheet().columns.setColumnsHidden(1, 1, true));
  s.app->grid().markRepaint(Repaint::Everything);
  s.keys("key Right\n");
  EXPECT_EQ(s.sel().activeColumn, 2) << "Right steps over the hidden column";
  EXPECT_EQ(s.cell(2, 0).left, s.cell(0, 0).right);
  EXPECT_EQ(s.text(u"B"), nullptr);
  ASSERT_NE(s.text(u"C"), nullptr);
  EXPECT_LT(s.text(u"C")->rect.left, s.cell(2, 0).right);
  EXPECT_EQ(s.text(u"in C")->rect.left, s.cell(2, 0).left + 3);
  s.keys("key Left\n");
  EXPECT_EQ(s.sel().activeColumn, 0);
  // With every column left of C hidden, Left finds nothing visible and stays.
  ASSERT_TRUE(s.sheet().columns.setColumnsHidden(0, 1, true));
  s.app->grid().markRepaint(Repaint::Everything);
  s.keys("key Right Left\n");
  EXPECT_EQ(s.sel().activeColumn, 2);
  expectScreenMatchesFullRepaint(s);
}

TEST(GridView, MergedAreaPaintsAsOneCellAndMovesAsOne) {
  Session s;
  s.run(u"", "");
  Workbook& book = s.book();
  Sheet& sheet = s.sheet();
  int16_t centred = makeStyle(book, [](StyleRecord& r) { r.setHorizontalAlignment(HAlign::Center); });
  putText(sheet, 1, 1, u"Merged", centred);
  putText(sheet, 2, 1, u"hidden under the merge");
  ASSERT_TRUE(sheet.mergedAreas.append(Area{1, 1, 1, 3}));
  s.app->grid().markRepaint(Repaint::Everything);
  s.keys("key Down Right\n");
  EXPECT_EQ(s.sel().firstColumn, 1);
  EXPECT_EQ(s.sel().lastColumn, 3) << "the selection covers the whole merged area";
  const DrawnText* merged = s.text(u"Merged");
  ASSERT_NE(merged, nullptr);
  GridGeometry g = s.geometry();
  const int middle = g.columnX(1) + g.columnDistance(1, 4) / 2;
  EXPECT_NEAR((merged->rect.left + merged->rect.right) / 2, middle, 1);
  EXPECT_EQ(s.text(u"hidden under the merge"), nullptr);
  // No gridline between B2 and C2; the highlight frame is one pixel inside the area.
  Rect b2 = s.cell(1, 1);
  EXPECT_EQ(s.pixel(b2.right - 1, b2.top + 3), White);
  EXPECT_EQ(s.pixel(b2.left + 1, b2.top + 3), inverted(White));
  s.keys("key Right\n");
  EXPECT_EQ(s.sel().activeColumn, 4) << "Right from B2:D2 lands on E2";
  EXPECT_EQ(s.sel().activeRow, 1);
  s.keys("key Left Left\n");
  EXPECT_EQ(s.sel().activeColumn, 0) << "Left from E2 steps over B2:D2 to A2";
  expectScreenMatchesFullRepaint(s);
}

TEST(GridView, TextOverflowsIntoEmptyNeighboursOnly) {
  Session s;
  s.run(u"", "");
  Workbook& book = s.book();
  Sheet& sheet = s.sheet();
  const std::u16string longText = u"A text long enough to run on";
  putText(sheet, 0, 0, longText);
  putText(sheet, 0, 1, longText);
  putText(sheet, 1, 1, u"x");
  int16_t right = makeStyle(book, [](StyleRecord& r) { r.setHorizontalAlignment(HAlign::Right); });
  putText(sheet, 2, 3, u"Right aligned text", right);
  int16_t fill = makeStyle(book, [](StyleRecord& r) { r.setHorizontalAlignment(HAlign::Fill); });
  putText(sheet, 0, 5, u"ab", fill);
  s.app->grid().markRepaint(Repaint::Everything);
  s.keys("key Down Down Down Down Down Down Down Down\n");

  std::vector<const DrawnText*> row1 = s.desktop.textLog().within(s.cell(1, 0));
  ASSERT_FALSE(row1.empty());
  const DrawnText* spilled = s.text(longText);
  ASSERT_NE(spilled, nullptr);
  // The most recent copy is row 2's, cut at its own cell; row 1's runs into B1 and C1.
  EXPECT_LE(spilled->visible.right, s.cell(0, 1).right - 3);
  EXPECT_EQ(row1.front()->text, longText);
  EXPECT_GT(row1.front()->visible.right, s.cell(1, 0).right);
  // The gridline between A1 and B1 gives way to the text; the one between A2 and B2 stays.
  EXPECT_EQ(s.pixel(s.cell(0, 0).right - 1, s.cell(0, 0).top + 1), White);
  EXPECT_EQ(s.pixel(s.cell(0, 1).right - 1, s.cell(0, 1).top + 1), GridlineColor);
  const DrawnText* rightText = s.text(u"Right aligned text");
  ASSERT_NE(rightText, nullptr);
  EXPECT_LT(rightText->visible.left, s.cell(2, 3).left) << "a right-aligned text runs to the left";
  EXPECT_EQ(rightText->rect.right, s.cell(2, 3).right - 3);
  // Fill repeats the text as often as whole copies fit.
  std::vector<const DrawnText*> inA6 = s.desktop.textLog().within(s.cell(0, 5));
  ASSERT_EQ(inA6.size(), 1u);
  const DrawnText* filled = inA6.front();
  EXPECT_EQ(filled->text.substr(0, 6), u"ababab");
  const int room = s.cell(0, 5).width() - 6;
  EXPECT_LE(filled->rect.width(), room);
  EXPECT_GT(filled->rect.width() + textWidth(filled->font, u"ab"), room);
  EXPECT_EQ(filled->text.size() % 2, 0u);
}

TEST(GridView, WrappedCellsBreakIntoLines) {
  Session s;
  s.run(u"", "");
  Workbook& book = s.book();
  Sheet& sheet = s.sheet();
  int16_t wrap = makeStyle(book, [](StyleRecord& r) {
    r.setWrapText(true);
    r.setVerticalAlignment(VAlign::Top);
  });
  putText(sheet, 1, 2, u"one two three four five", wrap);
  ASSERT_TRUE(sheet.setRowHeight(2, 900, true));  // 60 pixels
  s.app->grid().markRepaint(Repaint::Everything);
  s.keys("key Down\n");
  Rect cell = s.cell(1, 2);
  EXPECT_EQ(cell.height(), 60);
  std::set<int> tops;
  for (const DrawnText* t : s.desktop.textLog().within(cell)) {
    EXPECT_LE(t->visible.right, cell.right - 3);
    EXPECT_GE(t->rect.left, cell.left + 3);
    tops.insert(t->rect.top);
  }
  EXPECT_GE(tops.size(), 2u);
  EXPECT_EQ(*tops.begin(), cell.top) << "top alignment starts at the cell's top";
}

TEST(GridView, BordersAreDrawnOnTheGridlines) {
  Session s;
  s.run(u"", "");
  Workbook& book = s.book();
  Sheet& sheet = s.sheet();
  int16_t thick = makeStyle(book, [](StyleRecord& r) { r.setBorderStyle(Edge::Bottom, 5); });
  int16_t thinTop = makeStyle(book, [](StyleRecord& r) { r.setBorderStyle(Edge::Top, 1); });
  int16_t boxed = makeStyle(book, [](StyleRecord& r) {
    r.setBorderStyle(Edge::Left, 2);
    r.setBorderStyle(Edge::Right, 2);
  });
  ASSERT_TRUE(sheet.setCellStyle(1, 2, thick));
  ASSERT_TRUE(sheet.setCellStyle(2, 4, thinTop));
  ASSERT_TRUE(sheet.setCellStyle(1, 6, boxed));
  s.app->grid().markRepaint(Repaint::Everything);
  s.keys("key Right\n");
  Rect b3 = s.cell(1, 2);
  const int width = borderLineWidth(5);
  ASSERT_GE(width, 2);
  for (int dy = -(width - 1) / 2; dy <= width / 2; ++dy) {
    EXPECT_EQ(s.pixel(centre(b3).x, b3.bottom - 1 + dy), Black) << dy;
  }
  EXPECT_EQ(s.pixel(centre(b3).x, b3.bottom + width), White);
  Rect a3 = s.cell(0, 2);
  EXPECT_EQ(s.pixel(centre(a3).x, a3.bottom - 1), GridlineColor) << "no border: the gridline";
  Rect c5 = s.cell(2, 4);
  EXPECT_EQ(s.pixel(centre(c5).x, c5.top - 1), Black);
  EXPECT_EQ(s.pixel(centre(c5).x, c5.bottom - 1), GridlineColor);
  Rect b7 = s.cell(1, 6);
  EXPECT_EQ(s.pixel(b7.left - 1, centre(b7).y), Black);
  EXPECT_EQ(s.pixel(b7.right - 1, centre(b7).y), Black);
  expectScreenMatchesFullRepaint(s);
}

TEST(GridView, SelectionIsInvertedExceptTheActiveCell) {
  Session s;
  s.run(u"", "");
  const Rect a1 = s.cell(0, 0), b1 = s.cell(1, 0), a2 = s.cell(0, 1), b2 = s.cell(1, 1);
  // A single cell: its inside keeps its colours, a two-pixel frame inside it is inverted.
  EXPECT_EQ(s.pixel(centre(a1).x, centre(a1).y), White);
  EXPECT_EQ(s.pixel(a1.left + 1, centre(a1).y), inverted(White));
  EXPECT_EQ(s.pixel(a1.left + 2, centre(a1).y), inverted(White));
  EXPECT_EQ(s.pixel(a1.left + 3, centre(a1).y), White);

  // Select > Cells, then extend to B2: the three other cells are inverted.
  s.keys("soft1\nkey Enter\nkey Right Down\n");
  EXPECT_TRUE(s.app->navigator().extendMode);
  EXPECT_EQ(s.menuBarText(), u"Stop");
  EXPECT_EQ(s.sel().lastColumn, 1);
  EXPECT_EQ(s.sel().lastRow, 1);
  EXPECT_EQ(s.sel().activeColumn, 0);
  EXPECT_EQ(s.pixel(centre(a1).x, centre(a1).y), White);
  for (const Rect& r : {b1, a2, b2}) EXPECT_EQ(s.pixel(centre(r).x, centre(r).y), Black);
  // The gridline between B1 and B2 shows inverted too.
  EXPECT_EQ(s.pixel(centre(b1).x, b1.bottom - 1), inverted(GridlineColor));
  expectScreenMatchesFullRepaint(s);

  // Enter ends ExtendMode; the next move collapses the selection and the highlight follows.
  s.keys("key Enter\nkey Down\n");
  EXPECT_FALSE(s.app->navigator().extendMode);
  EXPECT_EQ(s.sel().firstRow, 1);
  EXPECT_EQ(s.sel().lastRow, 1);
  EXPECT_EQ(s.sel().lastColumn, 0);
  EXPECT_EQ(s.pixel(centre(b2).x, centre(b2).y), White);
  EXPECT_EQ(s.pixel(centre(a1).x, centre(a1).y), White);
  EXPECT_EQ(s.pixel(a1.left + 1, centre(a1).y), White);
  EXPECT_EQ(s.pixel(a2.left + 1, centre(a2).y), inverted(White));

  // Select > All: everything inverted but the view's top-left cell.
  s.app->command(MenuCommand::SelectAll);
  s.desktop.paintAll();
  EXPECT_EQ(s.sel().lastRow, 65535);
  EXPECT_EQ(s.sel().lastColumn, 255);
  EXPECT_EQ(s.pixel(centre(a1).x, centre(a1).y), White);
  EXPECT_EQ(s.pixel(centre(b2).x, centre(b2).y), Black);
  expectScreenMatchesFullRepaint(s);
}

TEST(GridView, FullScreenHidesHeadersAndUsesItsZoom) {
  Session s;
  s.run(u"", "");
  Workbook& book = s.book();
  book.sheetAt(1)->view.zoom = 50;
  s.app->command(MenuCommand::FullScreen);
  s.desktop.paintAll();
  EXPECT_TRUE(s.app->fullScreen());
  EXPECT_EQ(s.sheet().view.zoom, 75u);
  EXPECT_EQ(book.sheetAt(1)->view.zoom, 50u) << "a smaller zoom is kept";
  EXPECT_EQ(s.geometry().layout().cells.left, 0);
  EXPECT_EQ(s.text(u"A"), nullptr);
  s.app->command(MenuCommand::FullScreen);
  s.desktop.paintAll();
  EXPECT_EQ(s.sheet().view.zoom, 100u);
  EXPECT_EQ(s.geometry().layout().cells.left, 26);
  ASSERT_NE(s.text(u"A"), nullptr);
}

TEST(GridView, OutlinedColumnsGetAMarginWithLevelButtons) {
  Session s;
  s.run(u"", "");
  ASSERT_TRUE(s.sheet().columns.setColumnOutlineLevel(1, 2, 2));
  s.sheet().refreshOutlineLevels(true);
  s.app->grid().markRepaint(Repaint::Everything);
  s.keys("key Right\n");
  GridLayout l = s.geometry().layout();
  EXPECT_EQ(l.columnOutline.height(), 10 * 2 + 2);
  EXPECT_EQ(l.cells.top, 22 + 14);
  ASSERT_NE(s.text(u"2"), nullptr);
  EXPECT_EQ(s.pixel(l.columnOutline.right - 2, l.columnOutline.top + 2), Colors::ButtonFace);
  EXPECT_EQ(s.pixel(100, 0), Black) << "a line along the top of the grid area";
}

TEST(GridView, EveryTextLandsInItsOwnColumnWhateverLiesFarToItsLeft) {
  Session s;
  s.run(u"", "");
  Sheet& sheet = s.sheet();
  // Row 1: a value in A and three more from K on; row 2: a text in A long enough to run
  // on past K; row 3: the same text, stopped by a value in J.
  putText(sheet, 0, 0, u"far left");
  for (int col = 10; col < 13; ++col) putNumber(sheet, col, 0, col * 100);
  const std::u16string longText(200, u'w');
  putText(sheet, 0, 1, longText);
  putText(sheet, 0, 2, longText);
  putText(sheet, 9, 2, u"stop");
  s.keys("key Ctrl+Right Right\n");  // from A1 to K1, then L1: the view moves past A
  ASSERT_EQ(s.sel().activeColumn, 11);
  ASSERT_GT(s.sheet().view.leftColumn, 4);
  GridGeometry g = s.geometry();
  for (int col = 10; col < 13; ++col) {
    const Rect cell = g.cellRect(col, 0);
    if (cell.empty() || cell.right > 240) continue;
    const DrawnText* number = s.text(decimalText(col * 100));
    ASSERT_NE(number, nullptr) << col;
    EXPECT_EQ(number->rect.right, cell.right - 3) << "column " << col;
  }
  // The long text starts where A would be, however far off the screen that is.
  std::vector<const DrawnText*> row2 = s.desktop.textLog().within(g.cellRect(11, 1));
  ASSERT_EQ(row2.size(), 1u);
  EXPECT_EQ(row2.front()->rect.left, g.columnX(11) - g.columnDistance(0, 11) + 3);
  EXPECT_TRUE(s.desktop.textLog().within(g.cellRect(11, 2)).empty()) << "J3 stops the text of A3";
  expectScreenMatchesFullRepaint(s);
}

TEST(GridView, RowHeaderWidensForLongRowNumbers) {
  Session s;
  s.run(u"", "");
  putText(s.sheet(), 0, 65520, u"near the end");
  s.app->grid().markRepaint(Repaint::Everything);
  s.keys("key Ctrl+Down\n");
  ASSERT_EQ(s.sel().activeRow, 65520);
  const GridLayout l = s.geometry().layout();
  EXPECT_GT(l.rowHeader.width(), 26);
  for (int32_t row = s.sheet().view.topRow; row <= 65520; ++row) {
    const DrawnText* label = s.text(decimalText(row + 1));
    ASSERT_NE(label, nullptr) << row;
    EXPECT_EQ(label->visible.left, label->rect.left) << "the label of row " << row + 1 << " shows whole";
    EXPECT_EQ(label->visible.right, label->rect.right) << row + 1;
    EXPECT_GE(label->rect.left, l.rowHeader.left);
    EXPECT_LE(label->rect.right, l.rowHeader.right - 1);
  }
  EXPECT_LE(s.cell(0, 65520).right, 240);
  // Across 999 to 1000 the header widens while the pane scrolls: the screen still matches.
  s.keys("key Ctrl+Home\n");
  EXPECT_EQ(s.geometry().layout().rowHeader.width(), 26) << "narrow again at the top";
  s.app->navigator().select(s.sheet(), 0, 990, 0);
  s.app->grid().update();
  s.desktop.paintAll();
  s.keys(repeat("key Down", 12));
  EXPECT_EQ(s.sel().activeRow, 1002);
  ASSERT_NE(s.text(u"1003"), nullptr);
  EXPECT_EQ(s.text(u"1003")->visible.left, s.text(u"1003")->rect.left);
  EXPECT_EQ(s.text(u"1003")->visible.right, s.text(u"1003")->rect.right);
  expectScreenMatchesFullRepaint(s);
}

TEST(GridView, ScrollingIntoViewCountsVisibleRowsOnly) {
  Session s;
  s.run(u"", "");
  Sheet& sheet = s.sheet();
  putText(sheet, 0, 0, u"top");
  putText(sheet, 0, 3000, u"bottom");
  putText(sheet, 0, 3001, u"below");
  for (int32_t row = 10; row < 2990; ++row) ASSERT_TRUE(sheet.setRowHeight(row, 0, true));
  s.app->grid().markRepaint(Repaint::Everything);
  auto shownWhole = [&](int32_t row) {
    const Rect r = s.cell(0, row);
    const Rect cells = s.geometry().layout().cells;
    return !r.empty() && r.top >= cells.top && r.bottom <= cells.bottom;
  };
  s.keys("key Ctrl+Down\n");
  ASSERT_EQ(s.sel().activeRow, 3000);
  EXPECT_TRUE(shownWhole(3000));
  ASSERT_NE(s.text(u"bottom"), nullptr);
  s.keys("key Down\n");
  EXPECT_TRUE(shownWhole(3001));
  // Ctrl+Up goes back over the hidden stretch to the top; Down steps over it again.
  s.keys("key Ctrl+Up Ctrl+Up\n");
  EXPECT_EQ(s.sel().activeRow, 0);
  EXPECT_TRUE(shownWhole(0));
  for (int32_t row = 1; row < 10; ++row) s.keys("key Down\n");
  s.keys("key Down Down\n");
  EXPECT_EQ(s.sel().activeRow, 2991);
  EXPECT_TRUE(shownWhole(2991));
  expectScreenMatchesFullRepaint(s);
}

TEST(GridView, ZoomMenuChecksTheZoomInForce) {
  Session s;
  s.run(u"", "");
  auto checked = [&](uint32_t id) {
    MenuItem* item = s.app->menuBar()->findItem(id);
    return item && item->checked();
  };
  EXPECT_TRUE(checked(MenuCommand::Zoom100));
  EXPECT_FALSE(checked(MenuCommand::Zoom80));
  s.keys("soft2\ntext 3\ntext 2\n");  // Menu > Zoom > 80%
  EXPECT_EQ(s.sheet().view.zoom, 80u);
  EXPECT_TRUE(checked(MenuCommand::Zoom80));
  EXPECT_FALSE(checked(MenuCommand::Zoom100));
  s.app->setZoom(75);  // a zoom the menu does not offer
  s.keys("key Down\n");
  for (uint32_t id : {MenuCommand::Zoom70, MenuCommand::Zoom80, MenuCommand::Zoom90, MenuCommand::Zoom100})
    EXPECT_FALSE(checked(id)) << id;
}

TEST(GridView, OnlyStoredTextsLoseTheirTaskWhenShown) {
  auto book = newWorkbook(1);
  Sheet& sheet = *book->sheetAt(0);
  auto put = [&](int col, std::u16string_view text) {
    CellValue v;
    makeText(v, text);
    ASSERT_TRUE(sheet.setCell(col, 0, {v, 0}));
  };
  put(0, u"Total#Icon:3#Task:x = 1");
  put(1, u"Size#Icon:5 cm");
  put(2, u"Go#Task:t = \"#Icon:1\"");
  CellValue formula;
  compileToValue(*book, u"=\"Go\"&\"#Task:x = 1\"", CellPosition{3, 0, 0}, formula);
  ASSERT_EQ(formula.kind, ValueKind::Formula);
  ASSERT_TRUE(sheet.setCell(3, 0, {formula, 0}));
  recalculateAll(*book);
  FontSpec font;
  EXPECT_EQ(cellDisplayText(*book, sheet, 0, 0, font, 500), u"Total");
  EXPECT_EQ(cellDisplayText(*book, sheet, 1, 0, font, 500), u"Size#Icon:5 cm");
  EXPECT_EQ(cellDisplayText(*book, sheet, 2, 0, font, 500), u"Go");
  EXPECT_EQ(cellDisplayText(*book, sheet, 3, 0, font, 500), u"Go#Task:x = 1");
}

}  // namespace
}  // namespace kelp::test

namespace kelp::test {
namespace {

// The sample workbook of the repository, three folders above this folder's data.
const std::u16string kSample = utf8ToUtf16(
    (std::filesystem::path(KELP_TEST_DATA).parent_path().parent_path().parent_path() / "examples" / "sample.kp")
        .string());

TEST(GridView, HeadersAndAThickFrameShowWhereYouAre) {
  Session s;
  s.run(u"", "");
  // B2, then Select > Cells to C2, which scrolls B to the left edge.
  s.keys("key Right Down\nsoft1\nkey Enter\nkey Right\n");
  ASSERT_EQ(s.sheet().view.leftColumn, 1);
  const GridLayout l = s.geometry().layout();
  const int headerY = (l.columnHeader.top + l.columnHeader.bottom) / 2;
  const int headerX = (l.rowHeader.left + l.rowHeader.right) / 2;
  auto columnHeader = [&](int32_t col) { return s.pixel(s.cell(col, 0).left + 2, headerY); };
  auto rowHeader = [&](int32_t row) { return s.pixel(headerX, s.cell(s.sheet().view.leftColumn, row).top + 2); };
  // The active cell's headers strongly, the rest of the selection's lightly, the others not.
  const Color active = columnHeader(1);
  EXPECT_EQ(rowHeader(1), active);
  EXPECT_NE(active, Colors::LightGray);
  EXPECT_NE(columnHeader(2), Colors::LightGray);
  EXPECT_NE(columnHeader(2), active);
  EXPECT_EQ(columnHeader(3), Colors::LightGray);
  EXPECT_EQ(rowHeader(0), Colors::LightGray);
  ASSERT_NE(s.text(u"B"), nullptr);
  EXPECT_TRUE(s.text(u"B")->font.bold());
  EXPECT_FALSE(s.text(u"C")->font.bold());
  // The headers follow a move that scrolls, and one that only inverts the highlight.
  s.app->navigator().extendMode = false;
  s.keys("key Left Left\n");
  ASSERT_EQ(s.sheet().view.leftColumn, 0);
  s.keys("key Down\n");
  ASSERT_EQ(s.sel().activeColumn, 0);
  EXPECT_EQ(columnHeader(0), active);
  EXPECT_EQ(columnHeader(1), Colors::LightGray);
  EXPECT_EQ(columnHeader(2), Colors::LightGray);
  EXPECT_EQ(rowHeader(2), active);
  EXPECT_EQ(rowHeader(1), Colors::LightGray);
  expectScreenMatchesFullRepaint(s);
  s.keys(repeat("key Down", 30));
  EXPECT_EQ(rowHeader(32), active);
  expectScreenMatchesFullRepaint(s);

  // The frame of the active cell: two pixels inside its gridlines at 70%, inverted.
  s.app->setZoom(70);
  s.app->grid().update();
  s.desktop.paintAll();
  const Rect cell = s.cell(s.sel().activeColumn, s.sel().activeRow);
  const int y = (cell.top + cell.bottom) / 2;
  EXPECT_EQ(s.pixel(cell.left + 1, y), inverted(White));
  EXPECT_EQ(s.pixel(cell.left + 2, y), inverted(White));
  EXPECT_EQ(s.pixel(cell.left + 3, y), White);
  EXPECT_EQ(s.pixel(cell.right - 3, y), inverted(White));
}

TEST(GridView, MovesScrollByTheFewestColumnsAndNumbersShowWhole) {
  // At 240 pixels the sample's label column (145) and a month (73) miss sharing the
  // screen by four pixels; at 320 they share it with the next month.
  Session wide(320, 240);
  wide.run(kSample, "key Down Down Down Right Right\n");
  EXPECT_EQ(wide.sheet().view.leftColumn, 0);
  wide.keys("key Right\n");
  EXPECT_EQ(wide.sheet().view.leftColumn, 1) << "one column at a time";

  Session s;
  s.run(kSample, "key Down Down Down\n");
  auto left = [&] { return s.sheet().view.leftColumn; };
  s.keys("key Right\n");
  EXPECT_EQ(left(), 1);
  // Onwards to D one column goes at a time, so the column beside the active one stays.
  s.keys("key Right\n");
  EXPECT_EQ(left(), 1);
  s.keys("key Right\n");
  EXPECT_EQ(s.sel().activeColumn, 3);
  EXPECT_EQ(left(), 2);
  EXPECT_LE(s.cell(3, 3).right, s.geometry().layout().cells.right);
  // Back left, the active column becomes the first; Tab from B to C does not scroll.
  s.keys("key Left Left\n");
  EXPECT_EQ(left(), 1);
  s.keys("key Tab\n");
  EXPECT_EQ(left(), 1);
  EXPECT_EQ(s.sel().activeColumn, 2);
  // The cut column D shows no number, only its background; the next scroll draws it whole.
  ASSERT_EQ(s.geometry().scrolledColumns().last, 3);
  const Rect cut = s.cell(3, 4);
  EXPECT_GT(cut.right - 3, s.geometry().layout().cells.right);
  EXPECT_EQ(s.text(u"$402.75"), nullptr);
  EXPECT_EQ(s.pixel(cut.left + 4, (cut.top + cut.bottom) / 2), White);
  s.keys("key Right\n");
  EXPECT_NE(s.text(u"$402.75"), nullptr);
  expectScreenMatchesFullRepaint(s);
  s.keys("key Left Left\n");
  EXPECT_EQ(s.text(u"$402.75"), nullptr) << "cut again after scrolling back";
  expectScreenMatchesFullRepaint(s);
}

TEST(GridView, NumbersFitTheirColumnAndFormatsGiveTheirColours) {
  Session s;
  s.run(u"", "text 12345678901\nkey Enter\ntext 1234567890123456789012\nkey Enter\n");
  EXPECT_EQ(s.geometry().columnWidth(0), s.geometry().columnWidth(5)) << "a default column";
  // A default column holds "1.23E+10", one of eleven characters the six digits Excel shows.
  EXPECT_NE(s.text(u"1.23E+10"), nullptr);
  EXPECT_NE(s.text(u"1.23E+21"), nullptr);
  auto marks = [&] {
    for (const DrawnText& t : s.desktop.textLog().texts())
      if (t.text.find(u'#') != std::u16string::npos) return true;
    return false;
  };
  EXPECT_FALSE(marks());
  ASSERT_TRUE(s.sheet().columns.setColumnWidths(0, 0, 256 * 12));
  s.app->grid().markRepaint(Repaint::Everything);
  s.app->grid().update();
  s.desktop.paintAll();
  EXPECT_NE(s.text(u"12345678901"), nullptr);
  EXPECT_NE(s.text(u"1.23457E+21"), nullptr);
  // "#" only when not even "1E+21" fits.
  EXPECT_FALSE(marks());
  ASSERT_TRUE(s.sheet().columns.setColumnWidths(0, 0, 256 * 6));
  s.app->grid().markRepaint(Repaint::Everything);
  s.app->grid().update();
  s.desktop.paintAll();
  EXPECT_NE(s.text(u"1E+10"), nullptr);
  ASSERT_TRUE(s.sheet().columns.setColumnWidths(0, 0, 256 * 3));
  s.app->grid().markRepaint(Repaint::Everything);
  s.app->grid().update();
  s.desktop.paintAll();
  EXPECT_TRUE(marks());

  // [Red] negatives and a [Blue] section draw in their colours; the font colour elsewhere.
  NumberFormatRecord red = fixedFormat(2, false);
  red.negativeColor = 3;
  red.positiveColor = 5;
  const int32_t index = findOrAddNumberFormat(s.book().numberFormats, red);
  const int16_t style = makeStyle(s.book(), [&](StyleRecord& r) { r.numberFormat = static_cast<uint16_t>(index); });
  putNumber(s.sheet(), 1, 0, -42, style);
  putNumber(s.sheet(), 1, 1, 42, style);
  putNumber(s.sheet(), 1, 2, -7);
  s.app->grid().markRepaint(Repaint::Everything);
  s.app->grid().update();
  s.desktop.paintAll();
  ASSERT_NE(s.text(u"-42.00"), nullptr);
  EXPECT_EQ(s.text(u"-42.00")->font.color, rgb(255, 0, 0));
  EXPECT_EQ(s.text(u"42.00")->font.color, rgb(0, 0, 255));
  EXPECT_EQ(s.text(u"-7")->font.color, Colors::Black);
}

TEST(GridView, SmallZoomsKeepHeaderLettersAndFirstRowWhole) {
  for (uint32_t zoom : {70u, 75u}) {
    SCOPED_TRACE(zoom);
    Session s;
    s.run(kSample, "");
    s.app->setZoom(zoom);
    s.app->grid().update();
    s.desktop.paintAll();
    const GridLayout l = s.geometry().layout();
    for (std::u16string_view label : {u"A", u"B", u"1", u"2"}) {
      const DrawnText* t = s.text(label);
      ASSERT_NE(t, nullptr);
      EXPECT_EQ(t->visible, t->rect) << utf16ToUtf8(label);
      EXPECT_TRUE(l.columnHeader.contains(t->rect) || l.rowHeader.contains(t->rect)) << utf16ToUtf8(label);
    }
    const DrawnText* title = s.text(u"Household budget");
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->visible, title->rect);
    EXPECT_GE(title->rect.top, s.cell(0, 0).top);
    EXPECT_LE(title->rect.bottom, s.cell(0, 0).bottom);
  }
}

}  // namespace
}  // namespace kelp::test
