// Goal seek: bracketing, bisection, the cases that cannot succeed and the command form.
#include <chrono>
#include <cmath>

#include "CommandTestSupport.h"
#include "edit/GoalSeek.h"
#include "model/Style.h"
#include "platform/StringTable.h"

namespace kelp::test {
namespace {

class GoalSeekTest : public CommandTest {
 protected:
  // Goal seek on the active sheet: changing A1, target B1.
  bool seek(double goal) {
    GoalSeekState& state = goalSeekState();
    state.goal = goal;
    state.changingColumn = 0;
    state.changingRow = 0;
    state.targetColumn = 1;
    state.targetRow = 0;
    return goalSeekSolve(*book);
  }
};

TEST_F(GoalSeekTest, FindsRootsByBracketingAndBisection) {
  ASSERT_TRUE(enter(0, 0, u"0"));
  ASSERT_TRUE(enter(1, 0, u"=A1*2"));
  EXPECT_TRUE(seek(10));
  EXPECT_DOUBLE_EQ(number(0, 0), 5);
  EXPECT_DOUBLE_EQ(number(1, 0), 10);

  // From 0 the downhill search settles at the local maximum near -0.8165, which never
  // reaches 0; the search on both sides still finds the root.
  ASSERT_TRUE(enter(0, 0, u"0"));
  ASSERT_TRUE(enter(1, 0, u"=A1^3-2*A1-5"));
  EXPECT_TRUE(seek(0));
  EXPECT_NEAR(number(0, 0), 2.0945514815423265, 1e-12);
  EXPECT_LT(std::fabs(number(1, 0)), 1e-15);

  // A decreasing target, a negative goal and a start far away.
  ASSERT_TRUE(enter(0, 0, u"1000"));
  ASSERT_TRUE(enter(1, 0, u"=10-A1/4"));
  EXPECT_TRUE(seek(-2));
  EXPECT_NEAR(number(0, 0), 48, 1e-9);

  // A goal met by the start value is found at once, at that value.
  ASSERT_TRUE(enter(0, 0, u"3"));
  ASSERT_TRUE(enter(1, 0, u"=A1*A1"));
  EXPECT_TRUE(seek(9));
  EXPECT_DOUBLE_EQ(number(0, 0), 3);
}

TEST_F(GoalSeekTest, StartsFromZeroWhenTheChangingCellIsNoNumberAndKeepsItsStyle) {
  StyleRecord bordered = book->style(0);
  bordered.setBorderStyle(Edge::Top, 1);
  int16_t styleIndex = static_cast<int16_t>(book->findOrAddStyle(bordered));
  CellValue text;
  makeText(text, u"not a number");
  ASSERT_TRUE(sheet().setCell(0, 0, CellRecord{text, styleIndex}));
  ASSERT_TRUE(enter(1, 0, u"=A1+7"));
  EXPECT_TRUE(seek(12));
  EXPECT_DOUBLE_EQ(number(0, 0), 5);
  EXPECT_EQ(ownStyle(0, 0), styleIndex);
}

TEST_F(GoalSeekTest, UnreachableGoalsFailInBoundedTime) {
  // A target that does not depend on the changing cell.
  ASSERT_TRUE(enter(0, 0, u"1"));
  ASSERT_TRUE(enter(1, 0, u"=C1+4"));
  ASSERT_TRUE(enter(2, 0, u"1"));
  auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(seek(0));
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  EXPECT_LT(seconds, 10.0);  // sanitized build; a release build takes a few milliseconds
  EXPECT_DOUBLE_EQ(number(1, 0), 5);

  // A parabola whose minimum stays above the goal.
  ASSERT_TRUE(enter(1, 0, u"=A1*A1+1"));
  EXPECT_FALSE(seek(0));

  // A step across the goal: the bracket closes on the step without meeting the goal.
  ASSERT_TRUE(enter(0, 0, u"0"));
  ASSERT_TRUE(enter(1, 0, u"=IF(A1<3.3,0,1)"));
  EXPECT_FALSE(seek(0.5));
  EXPECT_NEAR(number(0, 0), 3.3, 1e-9);

  // A target that is an error everywhere is never a solution.
  ASSERT_TRUE(enter(1, 0, u"=1/0"));
  EXPECT_FALSE(seek(0));

  // 1/(A1-3) never equals 0, but far out it comes within the absolute tolerance.
  ASSERT_TRUE(enter(0, 0, u"2"));
  ASSERT_TRUE(enter(1, 0, u"=1/(A1-3)"));
  EXPECT_TRUE(seek(0));
  EXPECT_LT(number(0, 0), -1e14);
  EXPECT_LT(std::fabs(number(1, 0)), 1e-15);
}

TEST_F(GoalSeekTest, TheCommandFormRecordsReportsAndUndoes) {
  static std::u16string message;
  message.clear();
  installCommandMessage([](std::u16string_view text) { message = text; });
  ASSERT_TRUE(enter(0, 0, u"1"));
  ASSERT_TRUE(enter(1, 0, u"=A1*4"));
  EXPECT_TRUE(goalSeekCommand(*book, undo, 0, 0, 1, 0, 20));
  EXPECT_DOUBLE_EQ(number(0, 0), 5);
  EXPECT_EQ(message, u"Goal Seeking found a solution.");
  EXPECT_EQ(undo.undoDescription(), u"Goal Seek");
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_DOUBLE_EQ(number(0, 0), 1);
  EXPECT_DOUBLE_EQ(number(1, 0), 4);

  message.clear();
  ASSERT_TRUE(enter(1, 0, u"=7"));
  EXPECT_FALSE(goalSeekCommand(*book, undo, 0, 0, 1, 0, 20));
  EXPECT_TRUE(hasError(Err::IterationLimit));
  EXPECT_TRUE(message.empty());
  clearError();
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_DOUBLE_EQ(number(0, 0), 1);
  installCommandMessage(nullptr);
}

}  // namespace
}  // namespace kelp::test
