// Random command sequences, inserting and deleting rows and columns among them: undoing
// all of them gives back the file bytes of the workbook before, and redoing them gives
// back the bytes after.
#include <string>
#include <vector>

#include "CommandTestSupport.h"
#include "edit/Fill.h"
#include "edit/Sort.h"
#include "model/Style.h"

namespace kelp::test {
namespace {

class UndoPropertyTest : public CommandTest {
 protected:
  uint32_t random() {
    m_seed ^= m_seed << 13;
    m_seed ^= m_seed >> 7;
    m_seed ^= m_seed << 17;
    return static_cast<uint32_t>(m_seed >> 11);
  }
  int pick(int low, int high) { return low + static_cast<int>(random() % static_cast<uint32_t>(high - low + 1)); }

  // A workbook with something of every kind the commands touch, on two sheets.
  void buildStart() {
    undo.clear();
    book = newWorkbook(3);
    setEvalWorkbook(book.get());
    const char16_t* first[][3] = {{u"1", u"=A1+A2", u"text"}, {u"2.5", u"=SUM(A1:B8)", u"50%"}, {u"-4", u"=B1&\"!\"", u""}};
    for (int r = 0; r < 3; ++r) {
      ASSERT_TRUE(enter(0, r, first[r][0]));
      ASSERT_TRUE(enter(2, r, first[r][1]));
      ASSERT_TRUE(enter(1, r, first[r][2]));
    }
    select(0, 0, 1, 1);
    ASSERT_TRUE(applyBold(*book, undo, true));
    select(0, 2, 0, 2);
    ASSERT_TRUE(setRowHeights(*book, undo, 400));
    select(3, 0, 3, 0);
    ASSERT_TRUE(setColumnWidths(*book, undo, 3000));
    ASSERT_TRUE(sheet().mergedAreas.append(Area{5, 4, 5, 5}));
    ASSERT_TRUE(sheet().mergedAreas.append(Area{7, 0, 7, 1}));
    book->setActiveSheet(1);
    ASSERT_TRUE(enter(0, 0, u"7"));
    ASSERT_TRUE(enter(3, 1, u"=A1*A1"));
    book->setActiveSheet(0);
    undo.clear();
  }

  // A random selection: mostly a small block of A1:F8, sometimes whole rows or columns.
  void randomSelection(bool allowWholeColumns) {
    int shape = pick(0, 9);
    if (shape == 0) {
      int r = pick(0, 7);
      select(0, r, MaxColumns - 1, r + pick(0, 2));
    } else if (shape == 1 && allowWholeColumns) {
      int c = pick(0, 5);
      select(c, 0, c + pick(0, 1), MaxRows - 1);
    } else {
      int c = pick(0, 5), r = pick(0, 7);
      select(c, r, c + pick(0, 2), r + pick(0, 3));
    }
  }

  // One random undoable command; `what` says which, for the failure message.
  bool randomCommand(std::string& what) {
    static const char16_t* values[] = {u"12", u"-3.5", u"50%", u"TRUE", u"hello", u"'007", u"", u"0.001", u"1e5"};
    // Formulas go right of column B and read only columns A and B, so none is circular.
    static const char16_t* formulas[] = {u"=A1+A2", u"=SUM(A1:B8)", u"=A3*2", u"=B2&\"x\"", u"=1/0",
                                         u"=IF(A1>2,A2,B1)", u"=MAX(A1:A8)", u"=\"lit\""};
    book->setActiveSheet(pick(0, 1));
    int op = pick(0, 23);
    if (op >= 20) return randomMoveOrSort(op, what);
    if (op >= 16) return randomFill(op - 2, what);
    randomSelection(op != 10 && op != 12);
    switch (op) {
      case 0:
      case 1:
      case 2:
      case 3: {
        int col = pick(0, 5), row = pick(0, 7);
        const char16_t* text = col >= 2 && pick(0, 1) ? formulas[pick(0, 7)] : values[pick(0, 8)];
        what = "enter " + std::to_string(col) + "," + std::to_string(row);
        return enter(col, row, text);
      }
      case 4: {
        int mode = pick(0, 2);
        what = "clear " + std::to_string(mode);
        return clearSelection(*book, undo, static_cast<ClearMode>(mode));
      }
      case 5:
        what = "bold";
        return applyBold(*book, undo, pick(0, 3) != 0);
      case 6:
        what = "italic";
        return applyItalic(*book, undo, pick(0, 1));
      case 7:
        what = "underline";
        return applyUnderline(*book, undo, pick(0, 1));
      case 8:
        what = "alignment";
        return applyAlignment(*book, undo, pick(0, 6), pick(0, 3) == 0);
      case 9: {
        what = "whole style";
        StyleRecord style = newStyleRecord();
        style.setBorderStyle(Edge::Top, pick(0, 3));
        style.numberFormat = static_cast<uint16_t>(pick(0, 5));
        FontRecord font = makeFont(pick(0, 1) ? u"Tahoma" : u"Courier New", pick(0, 1) ? 700 : 400, 0);
        font.height = static_cast<uint16_t>(pick(8, 14) * 20);
        return applyWholeStyle(*book, undo, style, font);
      }
      case 10: {
        static const uint16_t heights[] = {0, 255, 300, 600};
        what = "row height";
        return setRowHeights(*book, undo, heights[pick(0, 3)]);
      }
      case 11: {
        static const int32_t widths[] = {0, 1500, 2300, 4000};
        what = "column width";
        return setColumnWidths(*book, undo, widths[pick(0, 3)]);
      }
      case 12:
        what = "hide rows";
        return hideRows(*book, undo, pick(0, 1));
      case 13:
        what = "hide columns";
        return hideColumns(*book, undo, pick(0, 1));
      case 14: {
        bool columns = pick(0, 1);
        what = columns ? "insert columns" : "insert rows";
        return insertCells(*book, undo, columns);
      }
      default: {
        bool columns = pick(0, 1);
        what = columns ? "delete columns" : "delete rows";
        return deleteCells(*book, undo, columns);
      }
    }
  }

  // A fill over a random block clear of merged areas: the first cells of the selection
  // repeated, continued or counted on. Whole columns, which a fill may write cell by
  // cell, are left to the fill tests.
  bool randomFill(int op, std::string& what) {
    do randomSelection(false);
    while (book->activeSheet()->anyMergedOverlap(book->activeSheet()->selection.area()));
    const Area area = book->activeSheet()->selection.area();
    switch (op) {
      case 14:
        what = "fill right";
        return fillRightCommand(*book, undo, pick(0, 1));
      case 15:
        what = "fill down";
        return fillDownCommand(*book, undo, pick(0, 1));
      case 16: {
        SeriesSettings s;
        s.direction = static_cast<FillDirection>(pick(0, 1));
        s.type = static_cast<SeriesType>(pick(0, 3));
        s.dateUnit = static_cast<DateUnit>(pick(0, 3));
        s.step = pick(-3, 3);
        s.stop = pick(-5, 20);
        s.hasStop = pick(0, 1);
        what = "series";
        return seriesCommand(*book, undo, s);
      }
      default: {
        const Area source{area.firstRow, area.firstColumn, static_cast<uint16_t>(area.firstRow + pick(0, 1)),
                          area.firstColumn};
        what = "fill block";
        return fillBlockCommand(*book, undo, source);
      }
    }
  }

  // A block of columns C to E moved as cut and paste moves it (formulas read only A and
  // B, so none turns circular), or a sort of a block clear of merged areas.
  bool randomMoveOrSort(int op, std::string& what) {
    if (op < 22) {
      const auto column = static_cast<uint16_t>(pick(2, 4)), row = static_cast<uint16_t>(pick(0, 6));
      const Area source{row, column, static_cast<uint16_t>(row + pick(0, 2)), static_cast<uint16_t>(column + pick(0, 1))};
      int destColumn = 0, destRow = 0;
      do {
        destColumn = pick(2, 6);
        destRow = pick(0, 9);
      } while (destColumn == column && destRow == row);
      what = "move block";
      return moveBlock(*book, undo, source, destColumn, destRow);
    }
    do randomSelection(false);
    while (book->activeSheet()->anyMergedOverlap(book->activeSheet()->selection.area()));
    const Area area = book->activeSheet()->selection.area();
    SortSettings settings;
    settings.hasHeader = pick(0, 1);
    settings.ascending1 = pick(0, 1);
    settings.byRows = area.lastColumn - area.firstColumn > 0 || pick(0, 1);
    const int keys = settings.byRows ? area.lastColumn - area.firstColumn : area.lastRow - area.firstRow;
    settings.key1 = pick(0, keys);
    what = "sort";
    return sortSelection(*book, undo, settings);
  }

  uint64_t m_seed = 0x9E3779B97F4A7C15ull;
};

TEST_F(UndoPropertyTest, UndoingEverythingGivesBackTheBytes) {
  buildStart();
  for (int sequence = 0; sequence < 2000; ++sequence) {
    if (sequence % 250 == 249) buildStart();
    const std::vector<uint8_t> before = fileBytes();
    int count = pick(1, 10);
    std::string done;
    for (int i = 0; i < count; ++i) {
      std::string what;
      ASSERT_TRUE(randomCommand(what)) << "sequence " << sequence << ": " << done << what;
      ASSERT_EQ(pendingError(), 0u) << "sequence " << sequence << ": " << done << what;
      done += what + "; ";
    }
    const std::vector<uint8_t> after = fileBytes();
    ASSERT_EQ(undo.size(), static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) ASSERT_TRUE(undo.undo(*book));
    ASSERT_EQ(fileBytes(), before) << "undo of sequence " << sequence << ": " << done;
    for (int i = 0; i < count; ++i) ASSERT_TRUE(undo.redo(*book));
    ASSERT_EQ(fileBytes(), after) << "redo of sequence " << sequence << ": " << done;
    undo.clear();
  }
}

}  // namespace
}  // namespace kelp::test
