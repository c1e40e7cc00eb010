// Inserting and deleting whole rows and columns: what formulas read afterwards, and undo.
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "CommandTestSupport.h"
#include "edit/MoveAdjust.h"
#include "formula/Compiler.h"
#include "formula/FormulaText.h"

namespace kelp::test {
namespace {

class MoveAdjustTest : public CommandTest {
 protected:
  /// The formula text of a cell, or the text its value shows.
  std::u16string text(int col, int row, int s = 0) {
    if (kind(col, row, s) != ValueKind::Formula) return shown(col, row, s);
    const CellValue& value = sheet(s).cellPtr(col, row)->value;
    std::u16string out;
    formulaText(*book, static_cast<const uint8_t*>(formulaPool().data(formulaTokens(value))), formulaPosition(value),
                out);
    return out;
  }
  void enterAll(std::initializer_list<std::tuple<int, int, const char16_t*>> cells, int s = 0) {
    book->setActiveSheet(s);
    for (const auto& [col, row, entry] : cells) ASSERT_TRUE(enter(col, row, entry)) << col << "," << row;
    book->setActiveSheet(0);
  }
  /// The text of a token string read at `base` (a name's definition is read at A1).
  std::u16string definitionText(uint32_t handle, CellPosition base = {}) {
    std::u16string out;
    formulaText(*book, static_cast<const uint8_t*>(formulaPool().data(handle)), base, out);
    return out;
  }
  std::u16string nameText(int index) { return definitionText(book->names[static_cast<size_t>(index)].definition); }
  void addValidation(const Area& area, std::u16string_view formula) {
    ValidationEntry entry;
    entry.rule.flags = 1;  // whole numbers
    entry.rule.formula1 = compileToHandle(*book, formula, CellPosition{0, area.firstColumn, area.firstRow}, false);
    entry.areas.push_back(area);
    sheet().validations.push_back(std::move(entry));
  }
  void selectRows(int first, int last) { select(0, first, MaxColumns - 1, last); }
  void selectColumns(int first, int last) { select(first, 0, last, MaxRows - 1); }
};

TEST_F(MoveAdjustTest, InsertingRowsKeepsEveryFormulaOnItsCells) {
  enterAll({{0, 0, u"1"}, {0, 4, u"5"}, {0, 9, u"10"}, {1, 0, u"=SUM(A1:A10)"}, {2, 0, u"=$A$10"}, {2, 1, u"=A5"},
            {1, 9, u"=A1"}, {3, 0, u"=SUM(A1:A65536)"}, {3, 1, u"=SUM($A$5:A$65536)"}});
  enterAll({{0, 0, u"=A10"}, {0, 1, u"=Sheet1!A10"}, {0, 2, u"=SUM(Sheet1!A3:A4)"}}, 1);
  ASSERT_TRUE(sheet().mergedAreas.append(Area{4, 3, 6, 4}));
  const std::vector<uint8_t> before = fileBytes();

  selectRows(4, 5);
  ASSERT_TRUE(insertCells(*book, undo, false));
  EXPECT_EQ(text(1, 0), u"=Sum(A1:A12)");
  EXPECT_EQ(text(2, 0), u"=$A$12");
  EXPECT_EQ(text(2, 1), u"=A7");
  EXPECT_EQ(text(1, 11), u"=A1");  // moved with its row, still reading A1
  EXPECT_EQ(text(1, 9), u"");
  EXPECT_EQ(text(3, 0), u"=Sum(A1:A65536)");  // a whole column stays whole
  EXPECT_EQ(text(3, 1), u"=Sum($A$7:A$65536)");
  EXPECT_EQ(text(0, 0, 1), u"=A10");  // no prefix: its own sheet, which did not change
  EXPECT_EQ(text(0, 1, 1), u"=Sheet1!A12");
  EXPECT_EQ(text(0, 2, 1), u"=Sum(Sheet1!A3:A4)");
  EXPECT_EQ(number(1, 0), 16);
  EXPECT_EQ(number(0, 11), 10);
  EXPECT_EQ(number(1, 11), 1);
  EXPECT_EQ(number(0, 1, 1), 10);
  ASSERT_EQ(sheet().mergedAreas.size(), 1);
  EXPECT_EQ(sheet().mergedAreas[0], (Area{6, 3, 8, 4}));
  const std::vector<uint8_t> after = fileBytes();

  // Undo and redo many times over: each formula's old state is in the undo program once.
  for (int round = 0; round < 3; ++round) {
    ASSERT_TRUE(undo.undo(*book));
    ASSERT_EQ(fileBytes(), before) << "round " << round;
    EXPECT_EQ(text(1, 0), u"=Sum(A1:A10)");
    EXPECT_EQ(number(1, 9), 1);
    ASSERT_TRUE(undo.redo(*book));
    ASSERT_EQ(fileBytes(), after) << "round " << round;
  }
}

TEST_F(MoveAdjustTest, DeletingRowsShrinksAreasAndLosesOnlyWhatWasDeleted) {
  enterAll({{0, 0, u"1"}, {0, 4, u"5"}, {0, 9, u"10"}, {1, 0, u"=SUM(A1:A10)"}, {1, 1, u"=A5"}, {1, 2, u"=SUM(A1:A5)"},
            {1, 3, u"=SUM(A5:A6)"}, {2, 0, u"=SUM(A6:A12)"}, {2, 1, u"=A10"}, {2, 2, u"=SUM(A1:A65536)"},
            {1, 12, u"=A1+A13"}});
  // Merged areas: one shrinks, one goes with its rows, one is left a single cell.
  for (Area merged : {Area{3, 3, 5, 4}, Area{4, 5, 5, 6}, Area{5, 7, 6, 7}})
    ASSERT_TRUE(sheet().mergedAreas.append(merged));
  const std::vector<uint8_t> before = fileBytes();

  selectRows(4, 5);  // rows 5 and 6
  ASSERT_TRUE(deleteCells(*book, undo, false));
  EXPECT_EQ(text(1, 0), u"=Sum(A1:A8)");
  EXPECT_EQ(text(1, 1), u"=!!Ref");
  EXPECT_EQ(shown(1, 1), u"!!Ref");
  EXPECT_EQ(text(1, 2), u"=Sum(A1:A4)");  // the last row of the area went, not the area
  EXPECT_EQ(text(1, 3), u"=Sum(!!Ref)");  // all of it went
  EXPECT_EQ(text(2, 0), u"=Sum(A5:A10)");
  EXPECT_EQ(text(2, 1), u"=A8");
  EXPECT_EQ(text(2, 2), u"=Sum(A1:A65536)");
  EXPECT_EQ(text(1, 10), u"=A1+A11");
  EXPECT_EQ(number(1, 0), 11);
  ASSERT_EQ(sheet().mergedAreas.size(), 1);
  EXPECT_EQ(sheet().mergedAreas[0], (Area{3, 3, 3, 4}));
  const std::vector<uint8_t> after = fileBytes();
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(fileBytes(), before);
  EXPECT_EQ(number(1, 1), 5);
  ASSERT_TRUE(undo.redo(*book));
  EXPECT_EQ(fileBytes(), after);

  // Deleting from row 8 to the last row: a cell read below is gone, not blank.
  selectRows(7, MaxRows - 1);
  ASSERT_TRUE(deleteCells(*book, undo, false));
  EXPECT_EQ(shown(2, 1), u"!!Ref");
  EXPECT_EQ(text(1, 0), u"=Sum(A1:A7)");
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(fileBytes(), after);
}

TEST_F(MoveAdjustTest, ColumnsPushedOffTheSheetAreLostAndComeBackOnUndo) {
  enterAll({{255, 0, u"7"}, {254, 0, u"3"}, {0, 0, u"=IV1"}, {0, 1, u"=SUM(C1:IV1)"}, {0, 2, u"=C1"}, {2, 0, u"2"},
            {0, 3, u"=SUM(B1:C1)"}});
  select(0, 0, 0, 0);  // the column width of A, to see it is copied
  ASSERT_TRUE(setColumnWidths(*book, undo, 4000));
  const std::vector<uint8_t> before = fileBytes();

  selectColumns(1, 1);
  ASSERT_TRUE(insertCells(*book, undo, true));
  EXPECT_EQ(text(0, 0), u"=!!Ref");
  EXPECT_EQ(text(0, 1), u"=Sum(D1:IV1)");
  EXPECT_EQ(text(0, 2), u"=D1");
  EXPECT_EQ(text(0, 3), u"=Sum(C1:D1)");
  EXPECT_EQ(shown(255, 0), u"3");
  EXPECT_EQ(number(0, 1), 5);
  EXPECT_EQ(sheet().columns.columnWidth(1), 4000);
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(fileBytes(), before);
  EXPECT_EQ(number(0, 0), 7);

  selectColumns(2, 3);
  ASSERT_TRUE(deleteCells(*book, undo, true));
  EXPECT_EQ(text(0, 2), u"=!!Ref");
  EXPECT_EQ(text(0, 1), u"=Sum(C1:IV1)");
  EXPECT_EQ(text(0, 3), u"=Sum(B1:B1)");
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(text(0, 1), u"=Sum(C1:IV1)");
  EXPECT_EQ(fileBytes(), before);
}

TEST_F(MoveAdjustTest, NamesRulesFilterAndFrozenTitlesFollowTheirCells) {
  book->setName(u"Total", compileToHandle(*book, u"=Sheet1!$A$5:$A$10", CellPosition{}, false));
  enterAll({{0, 4, u"5"}, {0, 9, u"10"}, {3, 0, u"=SUM(Total)"}});
  book->setName(u"Corner", compileToHandle(*book, u"=Sheet1!$A$5", CellPosition{}, false));
  book->setName(u"Other", compileToHandle(*book, u"=Sheet2!$A$5", CellPosition{}, false));
  addValidation(Area{4, 1, 5, 1}, u"=$A$5+A5");
  sheet().autoFilter.active = 1;
  sheet().autoFilter.area = Area{3, 0, 9, 2};
  sheet().autoFilter.columns.resize(3);
  sheet().autoFilter.columns[1].kind = 3;
  SheetView& view = sheet().view;
  view.rowsFrozen = true;
  view.frozenLastRow = 3;
  view.topRow = 4;
  ASSERT_TRUE(recalculateCommand(*book));
  const std::vector<uint8_t> before = fileBytes();

  selectRows(2, 3);
  ASSERT_TRUE(insertCells(*book, undo, false));
  EXPECT_EQ(nameText(0), u"=Sheet1!$A$7:$A$12");
  EXPECT_EQ(nameText(1), u"=Sheet1!$A$7");
  EXPECT_EQ(nameText(2), u"=Sheet2!$A$5");
  EXPECT_EQ(number(3, 0), 15);
  ASSERT_EQ(sheet().validations.size(), 1u);
  EXPECT_EQ(sheet().validations[0].areas[0], (Area{6, 1, 7, 1}));
  EXPECT_EQ(definitionText(sheet().validations[0].rule.formula1, CellPosition{0, 1, 6}), u"=$A$7+A7");
  EXPECT_EQ(sheet().autoFilter.area, (Area{5, 0, 11, 2}));
  EXPECT_TRUE(view.rowsFrozen);
  EXPECT_EQ(view.frozenLastRow, 5);
  EXPECT_EQ(view.topRow, 6);
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(fileBytes(), before);
  EXPECT_EQ(nameText(0), u"=Sheet1!$A$5:$A$10");

  // Deleting the heading row takes the filter; deleting the rule's cells takes the rule;
  // a name whose cells all went reads !!Ref. Undo puts every one back.
  selectRows(3, 5);
  ASSERT_TRUE(deleteCells(*book, undo, false));
  EXPECT_EQ(nameText(0), u"=Sheet1!$A$4:$A$7");
  EXPECT_EQ(nameText(1), u"=!!Ref");
  EXPECT_TRUE(sheet().validations.empty());
  EXPECT_EQ(sheet().autoFilter.active, 0u);
  EXPECT_EQ(view.frozenLastRow, 2);
  EXPECT_EQ(view.topRow, 3);
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(fileBytes(), before);
  EXPECT_EQ(nameText(1), u"=Sheet1!$A$5");
  EXPECT_EQ(number(3, 0), 15);

  // Deleting a column of the filter takes its criterion with it.
  selectColumns(0, 0);
  ASSERT_TRUE(deleteCells(*book, undo, true));
  EXPECT_EQ(sheet().autoFilter.area, (Area{3, 0, 9, 1}));
  ASSERT_EQ(sheet().autoFilter.columns.size(), 2u);
  EXPECT_EQ(sheet().autoFilter.columns[0].kind, 3u);
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(fileBytes(), before);
}

TEST_F(MoveAdjustTest, OutlineLevelsFollowTheLinesThatHoldThem) {
  ProgramBuilder group;
  for (uint16_t r = 3; r <= 5; ++r) group.smallInteger(r).smallInteger(r == 4 ? 2 : 1).call(CommandFunction::RowOutline);
  group.smallInteger(7).smallInteger(1).call(CommandFunction::ColumnOutline);
  CommandProgram program = group.finish();
  ASSERT_TRUE(runProgram(*book, program));
  EXPECT_EQ(sheet().rowOutlineTop, 2);
  EXPECT_EQ(sheet().columnOutlineTop, 1);
  const std::vector<uint8_t> before = fileBytes();

  selectRows(4, 4);
  ASSERT_TRUE(deleteCells(*book, undo, false));
  EXPECT_EQ(sheet().rowOutlineTop, 1);
  selectColumns(7, 7);
  ASSERT_TRUE(deleteCells(*book, undo, true));
  EXPECT_EQ(sheet().columnOutlineTop, 0);
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(sheet().columnOutlineTop, 1);
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(sheet().rowOutlineTop, 2);
  EXPECT_EQ(fileBytes(), before);
  selectRows(3, 5);
  ASSERT_TRUE(insertCells(*book, undo, false));  // new rows copy the absent row above
  EXPECT_FALSE(sheet().rowExists(4));
  EXPECT_EQ(sheet().rowAt(7)->flags & 7, 2);
  EXPECT_EQ(sheet().rowOutlineTop, 2);
}

TEST_F(MoveAdjustTest, MovingABlockTakesItsReferencesAlong) {
  book->setName(u"Block", compileToHandle(*book, u"=Sheet1!$A$1:$A$3", CellPosition{}, false));
  enterAll({{0, 0, u"1"}, {0, 1, u"2"}, {0, 2, u"3"}, {1, 1, u"=A2*10"}, {1, 2, u"=$D$1+A1"}, {3, 0, u"100"},
            {4, 4, u"9"}, {7, 0, u"=SUM(A1:A3)"}, {7, 1, u"=A2"}, {7, 2, u"=E5"}, {7, 3, u"=SUM(E5:E9)"},
            {7, 4, u"=SUM(Block)"}, {7, 5, u"=SUM(A1:A4)"}});
  enterAll({{0, 0, u"=Sheet1!B2"}}, 1);
  const std::vector<uint8_t> before = fileBytes();

  ASSERT_TRUE(moveBlock(*book, undo, Area{0, 0, 2, 1}, 4, 4));  // A1:B3 to E5:F7
  EXPECT_EQ(text(5, 5), u"=E6*10");
  EXPECT_EQ(text(5, 6), u"=$D$1+E5");  // reads the cell that moved with it, and D1 that stayed
  EXPECT_EQ(text(7, 0), u"=Sum(E5:E7)");
  EXPECT_EQ(text(7, 1), u"=E6");
  EXPECT_EQ(text(7, 2), u"=!!Ref");  // E5 was overwritten
  EXPECT_EQ(text(7, 3), u"=Sum(E5:E9)");  // partly overwritten: it stays
  EXPECT_EQ(text(7, 5), u"=Sum(A1:A4)");  // partly moved: it stays
  EXPECT_EQ(nameText(0), u"=Sheet1!$E$5:$E$7");
  EXPECT_EQ(text(0, 0, 1), u"=Sheet1!F6");
  EXPECT_EQ(number(5, 6), 101);
  EXPECT_EQ(number(7, 4), 6);
  EXPECT_EQ(number(0, 0, 1), 20);
  EXPECT_EQ(kind(0, 0), ValueKind::Empty);
  EXPECT_EQ(kind(1, 1), ValueKind::Empty);
  const std::vector<uint8_t> after = fileBytes();
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(undo.undo(*book));
    ASSERT_EQ(fileBytes(), before);
    EXPECT_EQ(text(7, 2), u"=E5");
    EXPECT_EQ(number(7, 2), 9);
    ASSERT_TRUE(undo.redo(*book));
    ASSERT_EQ(fileBytes(), after);
  }
  // Overlapping areas: one row down.
  ASSERT_TRUE(moveBlock(*book, undo, Area{4, 4, 6, 5}, 4, 5));
  EXPECT_EQ(text(7, 0), u"=Sum(E6:E8)");
  EXPECT_EQ(text(5, 7), u"=$D$1+E6");
  EXPECT_EQ(number(5, 7), 101);
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(fileBytes(), after);
  EXPECT_FALSE(moveBlock(*book, undo, Area{4, 4, 6, 5}, 255, 0));  // does not fit
}

// Random workbooks: inserting k lines and deleting them again gives back every formula
// text and value, and undo of either gives back the native bytes.
TEST_F(MoveAdjustTest, InsertThenDeleteGivesBackTheWorkbook) {
  uint64_t seed = 0x2545F4914F6CDD1Dull;
  auto random = [&seed](int low, int high) {
    seed ^= seed << 13;
    seed ^= seed >> 7;
    seed ^= seed << 17;
    return low + static_cast<int>((seed >> 11) % static_cast<uint64_t>(high - low + 1));
  };
  // A name's references are absolute, as names are made, so that a name read from its
  // formula's cell cannot reach back into the formulas.
  auto cellText = [&](int low, int high, bool sheetPrefix, bool absolute = false) {
    std::u16string out = sheetPrefix ? u"Sheet1!" : u"";
    for (int part = 0; part < 2; ++part) {
      if (absolute || random(0, 2) == 0) out += u'$';
      out += static_cast<char16_t>(u'A' + random(0, 4));
      if (absolute || random(0, 2) == 0) out += u'$';
      for (char c : std::to_string(random(low, high))) out += static_cast<char16_t>(c);
      if (part == 0 && random(0, 1)) out += u':';
      else break;
    }
    return out;
  };
  auto snapshot = [&]() {
    std::vector<std::u16string> texts;
    for (size_t i = 0; i < book->names.size(); ++i) texts.push_back(nameText(static_cast<int>(i)));
    for (int s = 0; s < 2; ++s)
      for (int r = 0; r < 24; ++r)
        for (int c = 0; c < 10; ++c) texts.push_back(text(c, r, s) + u"|" + shown(c, r, s));
    // Rules by their areas and formulas, read at their first cells, and the filter's area.
    for (const ValidationEntry& entry : sheet().validations) {
      const Area& a = entry.areas.front();
      texts.push_back(definitionText(entry.rule.formula1, CellPosition{0, a.firstColumn, a.firstRow}) + u"@" +
                      std::u16string(1, static_cast<char16_t>(u'A' + a.firstColumn)) +
                      std::u16string(1, static_cast<char16_t>(u'0' + a.firstRow)));
    }
    const Area& f = sheet().autoFilter.area;
    texts.push_back(std::u16string{static_cast<char16_t>(f.firstRow), static_cast<char16_t>(f.lastRow),
                                   static_cast<char16_t>(f.firstColumn), static_cast<char16_t>(f.lastColumn)});
    return texts;
  };
  for (int round = 0; round < 60; ++round) {
    undo.clear();
    book = newWorkbook(2);
    setEvalWorkbook(book.get());
    for (int i = 0; i < 25; ++i) {
      std::u16string number;
      for (char c : std::to_string(random(1, 99))) number += static_cast<char16_t>(c);
      ASSERT_TRUE(enter(random(0, 4), random(0, 11), number));
    }
    // Formulas right of column E read columns A to E only, so none is circular.
    for (int i = 0; i < 12; ++i) {
      std::u16string formula = u"=SUM(" + cellText(1, 12, false) + u")+" + cellText(1, 12, false);
      ASSERT_TRUE(enter(random(5, 8), random(0, 11), formula)) << round;
    }
    for (const char16_t* name : {u"Alpha", u"Beta", u"Gamma"}) {
      book->setName(name, compileToHandle(*book, u"=" + cellText(1, 12, true, true), CellPosition{}, false));
      ASSERT_TRUE(enter(9, random(0, 11), u"=SUM(" + std::u16string(name) + u")"));
    }
    for (int i = 0; i < 2; ++i) {
      const auto row = static_cast<uint16_t>(random(0, 9)), column = static_cast<uint16_t>(random(0, 4));
      addValidation(Area{row, column, static_cast<uint16_t>(row + random(0, 2)), column},
                    u"=" + cellText(1, 12, false) + u"+" + cellText(1, 12, true));
    }
    sheet().autoFilter.active = 1;
    sheet().autoFilter.area = Area{static_cast<uint16_t>(random(0, 5)), 1, static_cast<uint16_t>(random(6, 12)), 3};
    sheet().autoFilter.columns.resize(3);
    sheet().autoFilter.columns[static_cast<size_t>(random(0, 2))].kind = 3;
    book->setActiveSheet(1);
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(enter(random(0, 3), random(0, 5), u"=SUM(" + cellText(1, 12, true) + u")"));
    book->setActiveSheet(0);
    undo.clear();

    const bool columns = random(0, 1);
    const int at = columns ? random(0, 6) : random(0, 12);
    const int count = random(1, 3);
    if (columns) select(at, 0, at + count - 1, MaxRows - 1);
    else select(0, at, MaxColumns - 1, at + count - 1);
    const std::vector<uint8_t> before = fileBytes();
    const std::vector<std::u16string> texts = snapshot();
    ASSERT_TRUE(insertCells(*book, undo, columns));
    const std::vector<uint8_t> inserted = fileBytes();
    ASSERT_TRUE(deleteCells(*book, undo, columns));
    ASSERT_EQ(snapshot(), texts) << "round " << round << (columns ? " columns " : " rows ") << at << "+" << count;
    ASSERT_TRUE(undo.undo(*book));
    ASSERT_EQ(fileBytes(), inserted) << "round " << round;
    ASSERT_TRUE(undo.undo(*book));
    ASSERT_EQ(fileBytes(), before) << "round " << round;

    // Deleting first loses what was deleted; undo still gives back every byte.
    ASSERT_TRUE(deleteCells(*book, undo, columns));
    ASSERT_TRUE(undo.undo(*book));
    ASSERT_EQ(snapshot(), texts) << "round " << round;
    ASSERT_EQ(fileBytes(), before) << "round " << round;
  }
}

}  // namespace
}  // namespace kelp::test
