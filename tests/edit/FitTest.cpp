// Fitting column widths and row heights to their cells, and the fills that refit rows.
#include "CommandTestSupport.h"
#include "edit/Fill.h"
#include "edit/Fit.h"
#include "model/Style.h"

namespace kelp::test {
namespace {

constexpr double PixelsPerUnit = 7.0 / 256.0;

class FitTest : public CommandTest {
 protected:
  void largeFont(int c1, int r1, int c2, int r2, uint16_t height) {
    select(c1, r1, c2, r2);
    FontRecord font = makeFont(u"Arial", 400, 0);
    font.height = height;
    ASSERT_TRUE(applyWholeStyle(*book, undo, newStyleRecord(), font));
  }
};

TEST_F(FitTest, ColumnsWidenToTheirWidestValueAndUndo) {
  ASSERT_TRUE(enter(1, 0, u"A heading much wider than a column"));
  ASSERT_TRUE(enter(1, 3, u"short"));
  ASSERT_TRUE(enter(2, 0, u"1"));
  const int32_t defaultWidth = sheet().columns.columnWidth(3);
  const std::vector<uint8_t> before = fileBytes();
  select(1, 0, 3, 0);
  ASSERT_TRUE(fitColumnWidths(*book, undo));
  // The estimate for a 10-point font: 7 pixels a character, and the column holds it.
  EXPECT_GE(sheet().columns.columnWidthPixels(1, PixelsPerUnit), 34 * 7);
  EXPECT_LT(sheet().columns.columnWidthPixels(2, PixelsPerUnit), sheet().columns.columnWidthPixels(1, PixelsPerUnit));
  EXPECT_GE(sheet().columns.columnWidthPixels(2, PixelsPerUnit), 7);
  EXPECT_EQ(sheet().columns.columnWidth(3), defaultWidth);  // nothing in it
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(fileBytes(), before);

  // A larger font needs more room; a measure the window installs is used instead.
  largeFont(2, 0, 2, 0, 400);
  select(2, 0, 2, 0);
  ASSERT_TRUE(fitColumnWidths(*book, undo));
  const int32_t doubled = sheet().columns.columnWidthPixels(2, PixelsPerUnit);
  EXPECT_GE(doubled, 14);
  installCellTextWidth([](const Workbook&, int16_t, std::u16string_view) { return int32_t{100}; });
  ASSERT_TRUE(fitColumnWidths(*book, undo));
  installCellTextWidth(nullptr);
  EXPECT_GE(sheet().columns.columnWidthPixels(2, PixelsPerUnit), 100);
  EXPECT_LT(sheet().columns.columnWidthPixels(2, PixelsPerUnit), 120);
}

TEST_F(FitTest, RowsTakeTheHeightOfTheirLargestFont) {
  ASSERT_TRUE(enter(0, 0, u"big"));
  ASSERT_TRUE(enter(0, 1, u"small"));
  largeFont(0, 0, 0, 0, 400);
  select(0, 1, 0, 1);
  ASSERT_TRUE(setRowHeights(*book, undo, 1000));  // explicit
  const std::vector<uint8_t> before = fileBytes();
  select(0, 0, 0, 2);
  ASSERT_TRUE(fitRowHeights(*book, undo));
  EXPECT_GE(sheet().rowHeight(0), 2 * sheet().defaultRowHeight);
  EXPECT_EQ(sheet().rowHeight(1), sheet().defaultRowHeight);  // an explicit height is fitted too
  EXPECT_FALSE(sheet().isRowHeightExplicit(1));
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(fileBytes(), before);
  EXPECT_EQ(sheet().rowHeight(1), 1000);
}

TEST_F(FitTest, FillDownRefitsRowsWhoseHeightWasNotSet) {
  ASSERT_TRUE(enter(0, 0, u"7"));
  largeFont(0, 0, 0, 0, 400);
  select(0, 0, 0, 0);
  ASSERT_TRUE(fitRowHeights(*book, undo));
  ASSERT_TRUE(enter(1, 2, u"x"));
  select(1, 3, 1, 3);
  ASSERT_TRUE(setRowHeights(*book, undo, 300));
  const std::vector<uint8_t> before = fileBytes();
  select(0, 0, 0, 3);
  ASSERT_TRUE(fillDownCommand(*book, undo, false));
  EXPECT_EQ(sheet().rowHeight(2), sheet().rowHeight(0));  // an existing row, refitted
  EXPECT_EQ(sheet().rowHeight(1), sheet().rowHeight(0));  // a row the fill made
  EXPECT_EQ(sheet().rowHeight(3), 300);                   // set by the user: kept
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(fileBytes(), before);
}

}  // namespace
}  // namespace kelp::test
