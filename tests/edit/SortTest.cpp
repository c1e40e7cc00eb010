// Sorting the selection: directions, headers, blanks, later keys, columns, keys outside
// the area, the order of equal keys, formulas that move, and undo giving back the bytes.
#include "edit/Sort.h"

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "CommandTestSupport.h"
#include "format/ValueText.h"
#include "formula/Compiler.h"
#include "formula/ValueOrder.h"
#include "model/FormulaTable.h"
#include "platform/Text.h"

namespace kelp::test {
namespace {

class SortTest : public CommandTest {
 protected:
  void put(int col, int row, const CellValue& value) { ASSERT_TRUE(sheet().setCell(col, row, CellRecord{value, -1})); }
  void putNumber(int col, int row, double d) { put(col, row, numberValue(d)); }
  void putText(int col, int row, std::u16string_view text) {
    CellValue value;
    makeText(value, text);
    put(col, row, value);
  }
  void putFormula(int col, int row, std::u16string_view text) {
    CellValue value = emptyValue();
    compileToValue(*book, text, CellPosition{static_cast<uint16_t>(col), static_cast<uint16_t>(row), 0}, value);
    ASSERT_EQ(value.kind, ValueKind::Formula) << utf16ToUtf8(text);
    put(col, row, value);
  }
  std::u16string formula(int col, int row) {
    std::u16string text;
    const CellRecord* cell = sheet().cellPtr(col, row);
    EXPECT_TRUE(cell && cell->value.kind == ValueKind::Formula && editableText(cell->value, text));
    return text;
  }
  /// What `count` cells show down from (col, row), or along the row with `across`.
  std::vector<std::u16string> line(int col, int row, int count, bool across = false) {
    std::vector<std::u16string> out;
    for (int i = 0; i < count; ++i) out.push_back(across ? shown(col + i, row) : shown(col, row + i));
    return out;
  }
  static SortSettings by(int32_t key1, bool ascending = true) {
    SortSettings s;
    s.key1 = key1;
    s.ascending1 = ascending;
    return s;
  }
  bool sort(const SortSettings& settings) { return sortSelection(*book, undo, settings); }
  /// Sorts (which must record one entry), then checks that undo gives back the bytes
  /// before and redo the bytes after.
  void expectUndoable(const SortSettings& settings) {
    undo.clear();
    const std::vector<uint8_t> before = fileBytes();
    ASSERT_TRUE(sort(settings)) << pendingError();
    ASSERT_EQ(pendingError(), 0u);
    ASSERT_EQ(undo.size(), 1u);
    EXPECT_EQ(undo.undoDescription(), u"Sort");
    const std::vector<uint8_t> after = fileBytes();
    ASSERT_TRUE(undo.undo(*book));
    EXPECT_EQ(fileBytes(), before);
    ASSERT_TRUE(undo.redo(*book));
    EXPECT_EQ(fileBytes(), after);
  }
  /// Every formula of the sheet stands, for its table, where its cell is.
  void expectFormulaPositions() {
    for (int32_t r = sheet().nextRow(-1); r < NoRow; r = sheet().nextRow(r))
      for (int32_t c = 0; c < MaxColumns; ++c) {
        const CellRecord* cell = sheet().cellPtr(c, r);
        if (!cell || cell->value.kind != ValueKind::Formula) continue;
        CellPosition at = formulaPosition(cell->value);
        EXPECT_EQ(at.column, c);
        EXPECT_EQ(at.row, r);
        EXPECT_EQ(at.sheet, 0);
      }
  }
};

TEST_F(SortTest, RowsGoUpOrDownByTheirKey) {
  const double keys[] = {5, 3, 4, 1, 2};
  const char16_t* names[] = {u"e", u"c", u"d", u"a", u"b"};
  for (int r = 0; r < 5; ++r) {
    putNumber(0, r, keys[r]);
    putText(1, r, names[r]);
  }
  select(0, 0, 1, 4);
  expectUndoable(by(0));
  EXPECT_EQ(line(0, 0, 5), (std::vector<std::u16string>{u"1", u"2", u"3", u"4", u"5"}));
  EXPECT_EQ(line(1, 0, 5), (std::vector<std::u16string>{u"a", u"b", u"c", u"d", u"e"}));
  expectUndoable(by(0, false));
  EXPECT_EQ(line(0, 0, 5), (std::vector<std::u16string>{u"5", u"4", u"3", u"2", u"1"}));
  EXPECT_EQ(line(1, 0, 5), (std::vector<std::u16string>{u"e", u"d", u"c", u"b", u"a"}));
  // Texts as keys, case aside unless asked for.
  select(1, 0, 1, 4);
  putText(1, 2, u"C");
  expectUndoable(by(0));
  EXPECT_EQ(line(1, 0, 5), (std::vector<std::u16string>{u"a", u"b", u"C", u"d", u"e"}));

  // Kinds in their order: numbers, texts, logicals, then the blank.
  putNumber(3, 0, 3);
  putText(3, 1, u"b");
  put(3, 2, logicalValue(true));
  putText(3, 3, u"a");
  putNumber(3, 5, 1);
  select(3, 0, 3, 5);
  expectUndoable(by(0));
  EXPECT_EQ(line(3, 0, 6), (std::vector<std::u16string>{u"1", u"3", u"a", u"b", shown(3, 4), u""}));
  EXPECT_EQ(kind(3, 4), ValueKind::Logical);
}

TEST_F(SortTest, BlankKeysGoLastEitherWay) {
  putNumber(0, 0, 3);
  putNumber(0, 2, 1);
  putNumber(0, 4, 2);
  const char16_t* names[] = {u"r1", u"r2", u"r3", u"r4", u"r5"};
  for (int r = 0; r < 5; ++r) putText(1, r, names[r]);
  select(0, 0, 1, 4);
  expectUndoable(by(0));
  EXPECT_EQ(line(0, 0, 5), (std::vector<std::u16string>{u"1", u"2", u"3", u"", u""}));
  EXPECT_EQ(line(1, 0, 5), (std::vector<std::u16string>{u"r3", u"r5", u"r1", u"r2", u"r4"}));
  expectUndoable(by(0, false));
  EXPECT_EQ(line(0, 0, 5), (std::vector<std::u16string>{u"3", u"2", u"1", u"", u""}));
  EXPECT_EQ(line(1, 0, 5), (std::vector<std::u16string>{u"r1", u"r5", u"r3", u"r2", u"r4"}));

  // A row that does not exist is a blank row; cells moving into it make it.
  putNumber(4, 10, 2);
  putNumber(4, 12, 1);
  putText(5, 12, u"one");
  ASSERT_FALSE(sheet().rowExists(11));
  select(4, 10, 5, 12);
  expectUndoable(by(0));
  EXPECT_EQ(line(4, 10, 3), (std::vector<std::u16string>{u"1", u"2", u""}));
  EXPECT_EQ(line(5, 10, 3), (std::vector<std::u16string>{u"one", u"", u""}));
}

TEST_F(SortTest, LaterKeysDecideTies) {
  const double group[] = {1, 2, 1, 1};
  const char16_t* letter[] = {u"b", u"a", u"a", u"b"};
  const double order[] = {9, 8, 7, 6};
  for (int r = 0; r < 4; ++r) {
    putNumber(0, r, group[r]);
    putText(1, r, letter[r]);
    putNumber(2, r, order[r]);
  }
  select(0, 0, 2, 3);
  SortSettings s = by(0);
  s.key2 = 1;
  s.ascending2 = false;
  expectUndoable(s);
  EXPECT_EQ(line(2, 0, 4), (std::vector<std::u16string>{u"9", u"6", u"7", u"8"}));
  s.key3 = 2;
  expectUndoable(s);
  EXPECT_EQ(line(2, 0, 4), (std::vector<std::u16string>{u"6", u"9", u"7", u"8"}));
  // Without a second key the ties keep their order.
  expectUndoable(by(0));
  EXPECT_EQ(line(2, 0, 4), (std::vector<std::u16string>{u"6", u"9", u"7", u"8"}));
  // A third key without a second one still decides.
  s = by(0);
  s.key3 = 2;
  s.ascending3 = false;
  expectUndoable(s);
  EXPECT_EQ(line(2, 0, 4), (std::vector<std::u16string>{u"9", u"7", u"6", u"8"}));
}

TEST_F(SortTest, RepeatedKeysAndSingleLinesChangeNothing) {
  const double keys[] = {3, 1, 2};
  for (int r = 0; r < 3; ++r) {
    putNumber(0, r, keys[r]);
    putNumber(1, r, 3 - r);
  }
  select(0, 0, 1, 2);
  const std::vector<uint8_t> before = fileBytes();
  for (auto [key1, key2, key3] : {std::tuple{0, 0, -1}, std::tuple{0, 1, 1}, std::tuple{1, -1, 1}}) {
    SortSettings s;
    s.key1 = key1;
    s.key2 = key2;
    s.key3 = key3;
    ASSERT_TRUE(sort(s));
    EXPECT_EQ(fileBytes(), before) << key1 << key2 << key3;
  }
  // One row, one column sorted by rows, or a header and one row: nothing to reorder.
  select(0, 0, 1, 0);
  ASSERT_TRUE(sort(by(0)));
  select(0, 0, 1, 1);
  SortSettings header = by(0);
  header.hasHeader = true;
  ASSERT_TRUE(sort(header));
  select(0, 0, 0, 2);
  SortSettings columns = by(0);
  columns.byRows = false;
  ASSERT_TRUE(sort(columns));
  EXPECT_EQ(fileBytes(), before);
}

TEST_F(SortTest, ColumnsSortByKeyRows) {
  const double keys[] = {3, 1, 4, 2};
  const char16_t* names[] = {u"c", u"a", u"d", u"b"};
  for (int c = 0; c < 4; ++c) {
    putNumber(c, 0, keys[c]);
    putText(c, 1, names[c]);
  }
  putNumber(0, 2, 99);  // below the area: stays
  select(0, 0, 3, 1);
  SortSettings s = by(0);
  s.byRows = false;
  expectUndoable(s);
  EXPECT_EQ(line(0, 0, 4, true), (std::vector<std::u16string>{u"1", u"2", u"3", u"4"}));
  EXPECT_EQ(line(0, 1, 4, true), (std::vector<std::u16string>{u"a", u"b", u"c", u"d"}));
  EXPECT_EQ(shown(0, 2), u"99");
  s.key1 = 1;
  s.ascending1 = false;
  expectUndoable(s);
  EXPECT_EQ(line(0, 1, 4, true), (std::vector<std::u16string>{u"d", u"c", u"b", u"a"}));

  // Whole columns: the key row is read in each column, every stored row moves along.
  putNumber(6, 0, 2);
  putNumber(7, 0, 1);
  putText(6, 40000, u"two");
  putText(7, 40000, u"one");
  select(6, 0, 7, MaxRows - 1);
  s = by(0);
  s.byRows = false;
  expectUndoable(s);
  EXPECT_EQ(line(6, 40000, 2, true), (std::vector<std::u16string>{u"one", u"two"}));
}

TEST_F(SortTest, AHeaderStaysInEitherDirection) {
  putText(0, 0, u"Score");
  const double keys[] = {3, 1, 2};
  for (int r = 1; r <= 3; ++r) putNumber(0, r, keys[r - 1]);
  select(0, 0, 0, 3);
  SortSettings s = by(0);
  s.hasHeader = true;
  expectUndoable(s);
  EXPECT_EQ(line(0, 0, 4), (std::vector<std::u16string>{u"Score", u"1", u"2", u"3"}));
  s.ascending1 = false;
  expectUndoable(s);
  EXPECT_EQ(line(0, 0, 4), (std::vector<std::u16string>{u"Score", u"3", u"2", u"1"}));
  // Without the header the text sorts after the numbers.
  expectUndoable(by(0));
  EXPECT_EQ(line(0, 0, 4), (std::vector<std::u16string>{u"1", u"2", u"3", u"Score"}));
}

TEST_F(SortTest, KeysOutsideTheAreaAreRefused) {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) putNumber(c, r, (r * 7 + c * 3) % 5);
  select(0, 0, 2, 3);  // three columns, four rows
  const std::vector<uint8_t> before = fileBytes();
  struct Case {
    int32_t key1, key2, key3;
    bool byRows;
  };
  for (const Case& k : {Case{300, -1, -1, true}, Case{3, -1, -1, true}, Case{0, 3, -1, true}, Case{0, -1, 255, true},
                        Case{-1, -1, -1, true}, Case{0, -2, -1, true}, Case{4, -1, -1, false},
                        Case{0, 1, 70000, false}}) {
    SortSettings s;
    s.key1 = k.key1;
    s.key2 = k.key2;
    s.key3 = k.key3;
    s.byRows = k.byRows;
    EXPECT_FALSE(sort(s)) << k.key1 << " " << k.key2 << " " << k.key3;
    EXPECT_EQ(undo.size(), 0u);
    // A refused key is a bad argument, not a failure of memory.
    EXPECT_EQ(pendingError(), 0u);
    sortSettings() = s;
    EXPECT_FALSE(sortArea(sheet()));
  }
  // Command function 222 run on its own refuses as well.
  ProgramBuilder program;
  program.selectSheet(0)
      .select(Area{0, 0, 3, 2})
      .smallInteger(0)
      .smallInteger(0)
      .smallInteger(1)
      .smallInteger(1)
      .smallInteger(1)
      .smallInteger(1)
      .integer(300)
      .integer(-1)
      .integer(-1)
      .call(CommandFunction::Sort);
  EXPECT_TRUE(runProgram(*book, program.finish()));
  EXPECT_EQ(fileBytes(), before);
  // The same program with a key inside sorts.
  ProgramBuilder good;
  good.selectSheet(0).select(Area{0, 0, 3, 2});
  for (int i = 0; i < 6; ++i) good.smallInteger(i >= 2);
  good.integer(2).integer(-1).integer(-1).call(CommandFunction::Sort);
  EXPECT_TRUE(runProgram(*book, good.finish()));
  EXPECT_NE(fileBytes(), before);
  EXPECT_EQ(line(2, 0, 4), (std::vector<std::u16string>{u"0", u"1", u"2", u"3"}));
}

TEST_F(SortTest, MergedCellsAreRefused) {
  putNumber(0, 0, 2);
  putNumber(0, 1, 1);
  ASSERT_TRUE(sheet().mergedAreas.append(Area{1, 0, 1, 1}));
  select(0, 0, 1, 1);
  const std::vector<uint8_t> before = fileBytes();
  EXPECT_FALSE(sort(by(0)));
  EXPECT_EQ(pendingError(), static_cast<uint32_t>(Err::SortMerged));
  clearError();
  EXPECT_EQ(undo.size(), 0u);
  EXPECT_EQ(fileBytes(), before);
}

TEST_F(SortTest, FormulasMoveWithTheirRowsAndReadThem) {
  const double keys[] = {3, 1, 2};
  for (int r = 0; r < 3; ++r) {
    putNumber(0, r, keys[r]);
    putFormula(1, r, u"=A" + utf8ToUtf16(std::to_string(r + 1)) + u"*10");
  }
  putFormula(2, 0, u"=A2");    // reads the row below its own
  putNumber(0, 3, 7);          // below the area
  putFormula(4, 0, u"=A1");    // outside the area: stays and reads what comes to A1
  putFormula(4, 1, u"=SUM(B1:B3)");
  recalculateAll(*book);
  const int32_t formulas = formulaTableOf(sheet().cellPtr(1, 0)->value).count();
  ASSERT_EQ(shown(1, 0), u"30");

  select(0, 0, 2, 2);
  expectUndoable(by(0));  // the sort recalculates, so no recalculation here
  EXPECT_EQ(line(0, 0, 3), (std::vector<std::u16string>{u"1", u"2", u"3"}));
  EXPECT_EQ(line(1, 0, 3), (std::vector<std::u16string>{u"10", u"20", u"30"}));
  EXPECT_EQ(formula(1, 0), u"=A1*10");
  EXPECT_EQ(formula(1, 2), u"=A3*10");
  // The formula of the first row went with it to the last and still reads one row down.
  EXPECT_EQ(formula(2, 2), u"=A4");
  EXPECT_EQ(shown(2, 2), u"7");
  EXPECT_EQ(shown(4, 0), u"1");
  EXPECT_EQ(shown(4, 1), u"60");
  expectFormulaPositions();
  EXPECT_EQ(formulaTableOf(sheet().cellPtr(1, 0)->value).count(), formulas);

  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(line(1, 0, 3), (std::vector<std::u16string>{u"30", u"10", u"20"}));
  EXPECT_EQ(formula(2, 0), u"=A2");
  EXPECT_EQ(shown(4, 0), u"3");
  expectFormulaPositions();
  EXPECT_EQ(formulaTableOf(sheet().cellPtr(1, 0)->value).count(), formulas);
}

// Random areas of numbers, texts, blanks, logicals and formulas, sorted with random
// settings: whole rows (columns) are only reordered, the keys come out in order, equal
// keys keep their order, a header stays, and undo gives back the bytes.
TEST_F(SortTest, RandomAreasArePermutedInKeyOrder) {
  uint64_t seed = 0x2545F4914F6CDD1Dull;
  auto random = [&seed] {
    seed ^= seed << 13;
    seed ^= seed >> 7;
    seed ^= seed << 17;
    return static_cast<uint32_t>(seed >> 11);
  };
  auto pick = [&random](int low, int high) {
    return low + static_cast<int>(random() % static_cast<uint32_t>(high - low + 1));
  };
  static const char16_t* texts[] = {u"a", u"B", u"b", u"A", u"ab", u"Ab"};
  auto cellName = [](int col, int row) {
    return std::u16string(1, static_cast<char16_t>(u'A' + col)) + utf8ToUtf16(std::to_string(row + 1));
  };

  for (int round = 0; round < 600; ++round) {
    undo.clear();
    book = newWorkbook(3);
    setEvalWorkbook(book.get());
    const bool byRows = pick(0, 3) != 0;
    const int firstCol = pick(0, 3), firstRow = pick(0, 5);
    const int width = byRows ? pick(2, 5) : pick(3, 12);
    const int height = byRows ? pick(3, 14) : pick(2, 5);
    const int units = byRows ? height : width;
    const int lineLength = byRows ? width : height;
    // Cell `i` of unit `u`; the last cell of each unit holds its id, 1 up, never a key.
    auto colOf = [&](int u, int i) { return firstCol + (byRows ? i : u); };
    auto rowOf = [&](int u, int i) { return firstRow + (byRows ? u : i); };
    for (int u = 0; u < units; ++u) {
      const int id = u + 1;
      putNumber(colOf(u, lineLength - 1), rowOf(u, lineLength - 1), id);
      const std::u16string idCell = cellName(colOf(u, lineLength - 1), rowOf(u, lineLength - 1));
      for (int i = 0; i < lineLength - 1; ++i) {
        const int c = colOf(u, i), r = rowOf(u, i);
        switch (pick(0, 9)) {
          case 0:
          case 1:
          case 2: putNumber(c, r, pick(-2, 2)); break;
          case 3:
          case 4: putText(c, r, texts[pick(0, 5)]); break;
          case 5: put(c, r, logicalValue(pick(0, 1))); break;
          case 6:
          case 7: break;  // blank
          default: {
            // Formulas read only their own unit's id cell, which moves with them.
            static const char16_t* shapes[] = {u"=%*0+1", u"=%*2", u"=1/0", u"=\"a\"&\"\"", u"=%>3"};
            std::u16string text = shapes[pick(0, 4)];
            if (size_t at = text.find(u'%'); at != std::u16string::npos) text.replace(at, 1, idCell);
            putFormula(c, r, text);
          }
        }
      }
    }
    if (pick(0, 2) == 0) {  // a few own styles move along with their cells
      select(colOf(pick(0, units - 1), 0), rowOf(pick(0, units - 1), 0), firstCol + width - 1, firstRow + height - 1);
      ASSERT_TRUE(applyBold(*book, undo, true));
    }
    recalculateAll(*book);

    auto unitCells = [&](int u) {
      std::vector<std::u16string> cells;
      for (int i = 0; i < lineLength; ++i) {
        const CellRecord* cell = sheet().cellPtr(colOf(u, i), rowOf(u, i));
        // A blank slot without a style reads as no cell at all.
        const bool absent = !cell || (cell->value.kind == ValueKind::Empty && cell->style == -1);
        std::u16string text =
            absent ? u"-" : std::u16string(1, static_cast<char16_t>(u'0' + static_cast<int>(cell->value.kind)));
        if (!absent) text += utf8ToUtf16(std::to_string(cell->style)) + u":" + shown(colOf(u, i), rowOf(u, i));
        cells.push_back(text);
      }
      return cells;
    };
    std::map<int, std::vector<std::u16string>> original;
    for (int u = 0; u < units; ++u) original[u + 1] = unitCells(u);

    SortSettings s;
    s.byRows = byRows;
    s.hasHeader = pick(0, 2) == 0;
    s.caseSensitive = pick(0, 1);
    std::vector<int32_t> candidates;
    for (int i = 0; i < lineLength - 1; ++i) candidates.push_back(i);
    for (size_t i = candidates.size(); i > 1; --i) std::swap(candidates[i - 1], candidates[random() % i]);
    s.key1 = candidates[0];
    s.key2 = candidates.size() > 1 && pick(0, 1) ? candidates[1] : -1;
    s.key3 = candidates.size() > 2 && pick(0, 1) ? candidates[2] : -1;
    s.ascending1 = pick(0, 1);
    s.ascending2 = pick(0, 1);
    s.ascending3 = pick(0, 1);

    undo.clear();
    select(firstCol, firstRow, firstCol + width - 1, firstRow + height - 1);
    const std::vector<uint8_t> before = fileBytes();
    ASSERT_TRUE(sort(s)) << "round " << round;
    ASSERT_EQ(pendingError(), 0u) << "round " << round;
    const std::vector<uint8_t> after = fileBytes();

    std::vector<int> ids;
    for (int u = 0; u < units; ++u) {
      const int id = static_cast<int>(number(colOf(u, lineLength - 1), rowOf(u, lineLength - 1)));
      ASSERT_EQ(unitCells(u), original[id]) << "round " << round << ", unit " << u;
      ids.push_back(id);
    }
    std::vector<int> sorted = ids;
    std::sort(sorted.begin(), sorted.end());
    for (int u = 0; u < units; ++u) ASSERT_EQ(sorted[u], u + 1) << "round " << round;
    if (s.hasHeader) {
      EXPECT_EQ(ids[0], 1) << "round " << round;
    }

    const int32_t keys[] = {s.key1, s.key2, s.key3};
    const bool ascending[] = {s.ascending1, s.ascending2, s.ascending3};
    for (int u = s.hasHeader ? 2 : 1; u < units; ++u) {
      int decided = 0;
      for (int k = 0; k < 3 && decided == 0; ++k) {
        if (keys[k] < 0) continue;
        const int c = compareCells(sheet(), colOf(u - 1, keys[k]), rowOf(u - 1, keys[k]), colOf(u, keys[k]),
                                   rowOf(u, keys[k]), ascending[k], s.caseSensitive);
        if (c != 0) decided = (ascending[k] ? c < 0 : c > 0) ? 1 : -1;
      }
      if (decided == 0) {
        EXPECT_LT(ids[u - 1], ids[u]) << "round " << round << ": ties keep their order";
      } else {
        EXPECT_EQ(decided, 1) << "round " << round << ": units " << u - 1 << " and " << u << " out of order";
      }
    }

    ASSERT_TRUE(undo.undo(*book));
    ASSERT_EQ(fileBytes(), before) << "undo of round " << round;
    ASSERT_TRUE(undo.redo(*book));
    ASSERT_EQ(fileBytes(), after) << "redo of round " << round;
  }
}

}  // namespace
}  // namespace kelp::test
