// Tests that references to other sheets keep naming the same sheets when sheets are
// inserted and removed.
#include "formula/Compiler.h"
#include "formula/FormulaText.h"
#include "formula/Recalc.h"
#include "model/FormulaTable.h"
#include "tests/functions/EngineTestSupport.h"

namespace kelp {
namespace {

class SheetReferencesTest : public test::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    ASSERT_NE(book->insertSheet(u"Sheet4"), nullptr);
    for (int s = 0; s < 4; ++s) setNumber(0, 0, s + 1, s);  // A1 of SheetN holds N
  }

  std::u16string textOf(uint32_t tokens, CellPosition at) {
    std::u16string out;
    EXPECT_TRUE(formulaText(*book, static_cast<const uint8_t*>(formulaPool().data(tokens)), at, out));
    return out;
  }
  std::u16string textAt(int col, int row, int s) {
    const CellValue& v = formulaAt(col, row, s);
    return textOf(formulaTokens(v), formulaPosition(v));
  }
  int sheetNamed(std::u16string_view name) { return book->findSheet(name); }
};

TEST_F(SheetReferencesTest, RemovingSheetsKeepsEveryReferenceOnItsSheet) {
  const int last = 3;
  book->setName(u"Two", compileToHandle(*book, u"=Sheet2!$A$1", CellPosition{0, 0, 0}, false));
  ASSERT_TRUE(enter(1, 0, u"=Sheet2!A1", last));
  ASSERT_TRUE(enter(1, 1, u"=Sum(Sheet1:Sheet3!A1)", last));
  ASSERT_TRUE(enter(1, 2, u"=Sheet3!A1*10", last));
  ASSERT_TRUE(enter(1, 3, u"=Sum(Sheet2!A1:A2)", last));
  ASSERT_TRUE(enter(1, 4, u"=Two", last));
  ASSERT_TRUE(enter(1, 5, u"=Sum(Sheet2:Sheet3!A1)", last));
  // A validation rule on Sheet3 whose bound reads Sheet2.
  ValidationEntry rule;
  rule.rule.formula1 = compileToHandle(*book, u"=Sheet2!A1", CellPosition{0, 0, 2}, false);
  rule.areas.push_back(Area{0, 0, 9, 0});
  sheet(2).validations.push_back(rule);
  // What an undo list keeps of a cell shares its token string and must not change.
  CellValue undoCopy;
  copyFormulaValue(formulaAt(1, 0, last), undoCopy);
  recalculateAll(*book);
  EXPECT_EQ(cell(1, 1, last).number, 6);
  EXPECT_EQ(cell(1, 4, last).number, 2);

  book->deleteSheet(0);
  recalculateAll(*book);
  const int s4 = sheetNamed(u"Sheet4");
  ASSERT_EQ(s4, 2);
  EXPECT_EQ(cell(1, 0, s4).number, 2);
  EXPECT_EQ(cell(1, 1, s4).number, 5) << "a 3-D range whose first sheet went starts at the next";
  EXPECT_EQ(textAt(1, 1, s4), u"=Sum(Sheet2:Sheet3!A1)");
  EXPECT_EQ(cell(1, 2, s4).number, 30);
  EXPECT_EQ(cell(1, 3, s4).number, 2);
  EXPECT_EQ(cell(1, 4, s4).number, 2);
  EXPECT_EQ(textOf(sheet(1).validations[0].rule.formula1, CellPosition{0, 0, 1}), u"=Sheet2!A1");
  EXPECT_EQ(textOf(formulaTokens(undoCopy), CellPosition{1, 0, 3}), u"=Sheet3!A1")
      << "the undo copy keeps the sheet number it was made with";

  book->deleteSheet(sheetNamed(u"Sheet2"));
  recalculateAll(*book);
  const int s4now = sheetNamed(u"Sheet4");
  ASSERT_EQ(s4now, 1);
  EXPECT_EQ(cell(1, 0, s4now).kind, ValueKind::Error);
  EXPECT_EQ(cell(1, 0, s4now).text, u"!!Ref");
  EXPECT_EQ(textAt(1, 0, s4now), u"=!!Ref");
  EXPECT_EQ(cell(1, 1, s4now).number, 3);
  EXPECT_EQ(textAt(1, 1, s4now), u"=Sum(Sheet3!A1)");
  EXPECT_EQ(cell(1, 2, s4now).number, 30);
  EXPECT_EQ(cell(1, 3, s4now).text, u"!!Ref");
  EXPECT_EQ(cell(1, 4, s4now).text, u"!!Ref") << "the name read the removed sheet";
  EXPECT_EQ(cell(1, 5, s4now).number, 3);
  EXPECT_EQ(textOf(sheet(0).validations[0].rule.formula1, CellPosition{0, 0, 0}), u"=!!Ref");
  releaseValue(undoCopy);
}

TEST_F(SheetReferencesTest, InsertedSheetsMoveReferencesAndJoinSpansAroundThem) {
  // Two cells sharing one token string are renumbered once each, not twice.
  const uint32_t shared = compileToHandle(*book, u"=Sheet3!$A$1+Sum(Sheet2:Sheet4!$A$1)", CellPosition{0, 0, 0}, false);
  ASSERT_TRUE(putFormula(2, 0, formulaPool().addRef(shared), 0));
  ASSERT_TRUE(putFormula(2, 1, shared, 0));
  ASSERT_TRUE(enter(2, 2, u"=Sheet1!A1", 0));
  recalculateAll(*book);
  EXPECT_EQ(cell(2, 0).number, 3 + 9);

  ASSERT_NE(book->insertSheet(u"Middle", 2), nullptr);  // between Sheet2 and Sheet3
  setNumber(0, 0, 100, 2);
  ASSERT_NE(book->insertSheet(u"Front", 0), nullptr);
  setNumber(0, 0, 1000, 0);
  ASSERT_NE(book->insertSheet(u"Back"), nullptr);  // appended: nothing moves
  setNumber(0, 0, 5000, book->sheetCount() - 1);
  recalculateAll(*book);
  const int s1 = sheetNamed(u"Sheet1");
  ASSERT_EQ(s1, 1);
  EXPECT_EQ(cell(2, 0, s1).number, 3 + 9 + 100) << "the sheet inserted inside the span joins it";
  EXPECT_EQ(cell(2, 1, s1).number, 3 + 9 + 100);
  EXPECT_EQ(textAt(2, 1, s1), u"=Sheet3!$A$1+Sum(Sheet2:Sheet4!$A$1)");
  EXPECT_EQ(cell(2, 2, s1).number, 1);
}

}  // namespace
}  // namespace kelp
