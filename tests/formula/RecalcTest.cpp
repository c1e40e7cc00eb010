// Tests of chain ordering and the full recalculation pass.
#include "formula/Recalc.h"

#include <vector>

#include "tests/functions/EngineTestSupport.h"

namespace kelp {
namespace {

using test::EngineTest;
using test::Tokens;

using RecalcTest = EngineTest;

std::vector<FormulaRecord*> chainOrder(Workbook& book) {
  std::vector<FormulaRecord*> order;
  for (FormulaRecord* r = book.formulaChain().first(); r; r = r->next) order.push_back(r);
  return order;
}

TEST_F(RecalcTest, PrecedentEnteredLaterIsOrderedFirst) {
  FormulaRecord* a1 = enter(0, 0, u"=B1");
  FormulaRecord* b1 = enter(1, 0, u"=1");
  recalculateAll(*book);
  EXPECT_EQ(cell(0, 0).number, 1);
  EXPECT_EQ(chainOrder(*book), (std::vector<FormulaRecord*>{b1, a1}));
  EXPECT_EQ(book->formulaChain().tail(), a1);
  EXPECT_FALSE(book->formulaChain().needsOrdering);
  EXPECT_FALSE(book->formulaChain().circular);
}

TEST_F(RecalcTest, LongChainEnteredBackwardsNeedsOnePass) {
  constexpr int N = 10000;
  // Each cell reads the one above it plus 1; one token string serves them all.
  uint32_t next = Tokens().relativeCell(0, 0, 1, 0).number(1).op(Op::Add).handle();
  for (int row = N - 1; row >= 1; --row) putFormula(0, row, formulaPool().addRef(next));
  formulaPool().release(next);
  putFormula(0, 0, Tokens().number(1).handle());
  recalculateAll(*book);
  EXPECT_EQ(cell(0, N - 1).number, N);
  EXPECT_EQ(cell(0, N / 2).number, N / 2 + 1);
  EXPECT_FALSE(book->formulaChain().circular);
  // Already in order: a second pass changes nothing and gives the same values.
  std::vector<FormulaRecord*> before = chainOrder(*book);
  book->formulaChain().needsOrdering = true;
  recalculateAll(*book);
  EXPECT_EQ(chainOrder(*book), before);
  EXPECT_EQ(cell(0, N - 1).number, N);
}

TEST_F(RecalcTest, CycleIsFlaggedAndStillEvaluated) {
  enter(0, 0, u"=B1+1");
  enter(1, 0, u"=A1+1");
  enter(2, 0, u"=5");
  recalculateAll(*book);
  EXPECT_TRUE(book->formulaChain().circular);
  EXPECT_EQ(cell(0, 0).kind, ValueKind::Number);
  EXPECT_EQ(cell(1, 0).kind, ValueKind::Number);
  EXPECT_EQ(cell(2, 0).number, 5);
  // Each pass takes the other member's previous value, so the values keep climbing.
  double before = cell(0, 0).number + cell(1, 0).number;
  recalculateAll(*book);
  EXPECT_EQ(cell(0, 0).number + cell(1, 0).number, before + 4);
  // Breaking the cycle clears the flag at the next ordering.
  enter(1, 0, u"=7");
  recalculateAll(*book);
  EXPECT_FALSE(book->formulaChain().circular);
  EXPECT_EQ(cell(0, 0).number, 8);
}

TEST_F(RecalcTest, SheetAndAreaPrecedentsAreOrdered) {
  enter(0, 0, u"=Sheet2!A1+1");
  enter(0, 0, u"=5", 1);
  enter(1, 5, u"=Sum(B1:B3)");
  enter(1, 0, u"=A1*2");
  enter(1, 2, u"=B1+1");
  recalculateAll(*book);
  EXPECT_EQ(cell(0, 0).number, 6);
  EXPECT_EQ(cell(1, 0).number, 12);
  EXPECT_EQ(cell(1, 2).number, 13);
  EXPECT_EQ(cell(1, 5).number, 25);
  EXPECT_FALSE(book->formulaChain().circular);
}

TEST_F(RecalcTest, FormulasInsideANamedDefinitionAreNotFollowed) {
  // A1 reads B1 only through a name, so the ordering leaves A1 first and A1 shows
  // B1's previous value until the next pass.
  int32_t name = book->setName(u"Source", Tokens().cell(0, 1).handle());
  putFormula(0, 0, Tokens().name(static_cast<uint16_t>(name)).handle());
  enter(1, 0, u"=3");
  recalculateAll(*book);
  EXPECT_EQ(cell(0, 0).kind, ValueKind::Empty);
  recalculateAll(*book);
  EXPECT_EQ(cell(0, 0).number, 3);
}

TEST_F(RecalcTest, DeletingTheLastFormulaRepairsTheTail) {
  FormulaRecord* a1 = enter(0, 0, u"=1");
  enter(0, 1, u"=A1+1");
  FormulaChain& chain = book->formulaChain();
  ASSERT_EQ(chain.count(), 2);
  ASSERT_TRUE(sheet().setCell(0, 1, {emptyValue(), 0}));
  EXPECT_EQ(chain.count(), 1);
  EXPECT_EQ(chain.tail(), a1);
  EXPECT_EQ(a1->next, nullptr);
  // A formula appended afterwards joins after the repaired tail and is evaluated.
  enter(0, 2, u"=A1+2");
  recalculateAll(*book);
  EXPECT_EQ(chain.count(), 2);
  EXPECT_EQ(cell(0, 2).number, 3);
}

TEST_F(RecalcTest, RecalculationKeepsTheCallersErrorAndEvaluatorState) {
  enter(0, 0, u"=1/0");
  setError(Err::FileOpen);
  EvalState& s = evalState();
  s.cellRow = 9;
  s.ip = 17;
  recalculateAll(*book);
  EXPECT_EQ(cell(0, 0).text, u"!!Div0");
  EXPECT_EQ(pendingError(), static_cast<uint32_t>(Err::FileOpen));
  EXPECT_EQ(s.cellRow, 9);
  EXPECT_EQ(s.ip, 17u);
  clearError();
}

}  // namespace
}  // namespace kelp
