// Tests of formula ordering and the full recalculation pass.
#include "formula/Recalc.h"

#include <iterator>
#include <list>
#include <map>
#include <random>
#include <utility>
#include <vector>

#include "model/FormulaTable.h"
#include "tests/functions/EngineTestSupport.h"

namespace kelp {
namespace {

using test::EngineTest;
using test::Tokens;

using RecalcTest = EngineTest;

using Cell = std::pair<int, int>;  // column, row on sheet 0

/// The cells in evaluation order: the table walked by id.
std::vector<Cell> evaluationOrder(FormulaTable& table) {
  std::vector<Cell> order;
  for (uint32_t id = 0; id < table.idLimit(); ++id)
    if (table.isLive(id)) order.emplace_back(table.position(id).column, table.position(id).row);
  return order;
}

TEST_F(RecalcTest, PrecedentEnteredLaterIsOrderedFirst) {
  ASSERT_TRUE(enter(0, 0, u"=B1"));
  ASSERT_TRUE(enter(1, 0, u"=1"));
  recalculateAll(*book);
  EXPECT_EQ(cell(0, 0).number, 1);
  EXPECT_EQ(evaluationOrder(book->formulas()), (std::vector<Cell>{{1, 0}, {0, 0}}));
  EXPECT_EQ(formulaId(formulaAt(1, 0)), 0u) << "renumbered into evaluation order";
  EXPECT_EQ(formulaId(formulaAt(0, 0)), 1u);
  EXPECT_FALSE(book->formulas().needsOrdering);
  EXPECT_FALSE(book->formulas().circular);
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
  EXPECT_FALSE(book->formulas().circular);
  for (int row = 0; row < N; row += 997) EXPECT_EQ(formulaId(formulaAt(0, row)), static_cast<uint32_t>(row));
  // Already in order: ordering again moves nothing and gives the same values.
  book->formulas().needsOrdering = true;
  recalculateAll(*book);
  for (int row = 0; row < N; row += 997) EXPECT_EQ(formulaId(formulaAt(0, row)), static_cast<uint32_t>(row));
  EXPECT_EQ(cell(0, N - 1).number, N);
}

TEST_F(RecalcTest, CycleIsFlaggedAndStillEvaluated) {
  enter(0, 0, u"=B1+1");
  enter(1, 0, u"=A1+1");
  enter(2, 0, u"=5");
  recalculateAll(*book);
  EXPECT_TRUE(book->formulas().circular);
  EXPECT_EQ(circularNotice(*book), u"Circular reference in A1");
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
  EXPECT_FALSE(book->formulas().circular);
  EXPECT_EQ(circularNotice(*book), u"");
  EXPECT_EQ(cell(0, 0).number, 8);
  // A formula reading itself is a cycle too.
  enter(3, 0, u"=Sum(C1:E1)");
  recalculateAll(*book);
  EXPECT_TRUE(book->formulas().circular);
  EXPECT_EQ(circularNotice(*book), u"Circular reference in D1");
  // A cycle on another sheet than the active one names its sheet.
  enter(3, 0, u"=1");
  enter(1, 15, u"=B16*2", 1);
  recalculateAll(*book);
  EXPECT_EQ(circularNotice(*book), u"Circular reference in Sheet2!B16");
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
  EXPECT_FALSE(book->formulas().circular);
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

TEST_F(RecalcTest, FormulasRemovedAfterOrderingLeaveNoStaleEntry) {
  enter(0, 0, u"=1");
  enter(0, 1, u"=A1+1");
  enter(0, 2, u"=A2+1");
  enter(1, 0, u"=A3*10");
  orderFormulas(book->formulas());
  // Cleared between ordering and evaluation: the pass skips the free id.
  ASSERT_TRUE(sheet().setCell(0, 1, {emptyValue(), 0}));
  EXPECT_TRUE(book->formulas().needsOrdering);
  evaluateTable(book->formulas());
  EXPECT_EQ(cell(0, 0).number, 1);
  EXPECT_EQ(cell(0, 2).number, 1) << "A2 is empty now";
  EXPECT_EQ(cell(1, 0).number, 10);
  // A formula entered into the free id is ordered and evaluated with the rest.
  enter(0, 1, u"=A1+5");
  recalculateAll(*book);
  EXPECT_EQ(book->formulas().idLimit(), 4u);
  EXPECT_EQ(cell(1, 0).number, 70);
  EXPECT_EQ(evaluationOrder(book->formulas()), (std::vector<Cell>{{0, 0}, {0, 1}, {0, 2}, {1, 0}}));
  // The last formula removed after ordering: nothing is left to walk.
  for (int row = 0; row < 3; ++row) ASSERT_TRUE(sheet().setCell(0, row, {emptyValue(), 0}));
  ASSERT_TRUE(sheet().setCell(1, 0, {emptyValue(), 0}));
  recalculateAll(*book);
  EXPECT_EQ(book->formulas().count(), 0);
  EXPECT_EQ(book->formulas().idLimit(), 0u);
}

TEST_F(RecalcTest, RecalculationKeepsTheCallersErrorAndEvaluatorState) {
  enter(0, 0, u"=1/0");
  setError(Err::FileOpen);
  EvalState& s = evalState();
  s.cell.row = 9;
  s.ip = 17;
  recalculateAll(*book);
  EXPECT_EQ(cell(0, 0).text, u"!!Div0");
  EXPECT_EQ(pendingError(), static_cast<uint32_t>(Err::FileOpen));
  EXPECT_EQ(s.cell.row, 9);
  EXPECT_EQ(s.ip, 17u);
  clearError();
}

// The order a singly linked formula chain reached by relinking its nodes in place, kept
// on cell keys: formulas appended as they are written and unlinked as they go, then
// each ordering walks from the head, moving every precedent not yet placed just after
// the last placed node.
class LinkedChainOrder {
 public:
  void append(int key) { m_where[key] = m_chain.insert(m_chain.end(), key); }
  void remove(int key) {
    auto it = m_where.find(key);
    if (it == m_where.end()) return;
    m_chain.erase(it->second);
    m_where.erase(it);
  }
  bool has(int key) const { return m_where.count(key) != 0; }

  template <typename Precedents>
  void order(Precedents precedents) {
    enum { NotVisited, Visiting, Placed };
    std::map<int, int> flags;
    circular = false;
    auto front = m_chain.begin();  // the node after the last placed one
    while (front != m_chain.end()) {
      const int current = *front;
      if (flags[current] == Visiting) {
        flags[current] = Placed;
        ++front;
        continue;
      }
      flags[current] = Visiting;
      for (int p : precedents(current)) {
        if (!has(p) || flags[p] == Placed) continue;
        if (flags[p] == Visiting) {
          circular = true;
          continue;
        }
        auto it = m_where[p];
        if (it == front) continue;
        m_chain.splice(front, m_chain, it);
        front = it;
      }
      if (*front == current) {
        flags[current] = Placed;
        ++front;
      }
    }
  }

  std::vector<int> keys() const { return std::vector<int>(m_chain.begin(), m_chain.end()); }
  bool circular = false;

 private:
  std::list<int> m_chain;
  std::map<int, std::list<int>::iterator> m_where;
};

// Random edits of a small sheet: after every recalculation the table's evaluation order
// and cycle flag must be those of the linked chain.
TEST_F(RecalcTest, OrderMatchesTheLinkedChainOverRandomEdits) {
  constexpr int Columns = 6, Rows = 8;
  auto key = [](int col, int row) { return col * 100 + row; };
  auto cellName = [](int col, int row) {
    return std::u16string(1, static_cast<char16_t>(u'A' + col)) + std::u16string(1, static_cast<char16_t>(u'1' + row));
  };
  for (uint32_t seed = 1; seed <= 12; ++seed) {
    book = newWorkbook(3);
    setEvalWorkbook(book.get());
    std::mt19937 random(seed);
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<uint32_t>(n)); };
    LinkedChainOrder chain;
    std::map<int, std::vector<int>> reads;  // each formula's precedent cells in scan order
    bool dirty = false;
    int orderings = 0;
    for (int step = 0; step < 400; ++step) {
      const int col = pick(Columns), row = pick(Rows), what = pick(20);
      if (what < 11) {
        std::u16string text = u"=1";
        std::vector<int> cells;
        for (int term = pick(4); term > 0; --term) {
          const int c1 = pick(Columns), r1 = pick(Rows);
          if (pick(3) == 0) {
            const int c2 = std::min(Columns - 1, c1 + pick(3)), r2 = std::min(Rows - 1, r1 + pick(3));
            text += u"+Sum(" + cellName(c1, r1) + u":" + cellName(c2, r2) + u")";
            for (int r = r1; r <= r2; ++r)
              for (int c = c1; c <= c2; ++c) cells.push_back(key(c, r));
          } else {
            text += u"+" + cellName(c1, r1);
            cells.push_back(key(c1, r1));
          }
        }
        ASSERT_TRUE(enter(col, row, text)) << seed << ": " << step;
        chain.remove(key(col, row));
        chain.append(key(col, row));
        reads[key(col, row)] = cells;
        dirty = true;
      } else if (what < 17) {
        ASSERT_TRUE(sheet().setCell(col, row, {pick(2) ? numberValue(step) : emptyValue(), 0}));
        if (chain.has(key(col, row))) dirty = true;
        chain.remove(key(col, row));
      } else {
        recalculateAll(*book);
        if (dirty) {
          chain.order([&](int k) { return reads[k]; });
          ++orderings;
        }
        dirty = false;
        std::vector<int> order;
        for (const Cell& c : evaluationOrder(book->formulas())) order.push_back(key(c.first, c.second));
        ASSERT_EQ(order, chain.keys()) << "seed " << seed << ", step " << step;
        ASSERT_EQ(book->formulas().circular, chain.circular) << "seed " << seed << ", step " << step;
      }
    }
    EXPECT_GT(orderings, 5);
  }
}

}  // namespace
}  // namespace kelp
