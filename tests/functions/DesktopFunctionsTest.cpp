// Tests of the functions desktop workbooks commonly hold, against values Gnumeric gave
// for the same cases.
#include "platform/Text.h"
#include "tests/functions/EngineTestSupport.h"

namespace kelp {
namespace {

using DesktopFunctionsTest = test::EngineTest;

TEST_F(DesktopFunctionsTest, AgreesWithTheReferenceTable) {
  // The data block the reference table's formulas read (A1:D6, as its header says).
  const char16_t* labels[] = {u"x", u"y", u"x", u"y", u"x", u"z"};
  const double first[] = {1, 2, 3, 0, 0, 10};
  for (int row = 0; row < 6; ++row) {
    if (row == 3)
      setText(0, row, u"x");
    else if (row != 4)
      setNumber(0, row, first[row]);
    setText(1, row, labels[row]);
    setNumber(2, row, 2.0 * (row + 1));
  }
  setNumber(3, 0, 45292);
  setNumber(3, 1, 45306);
  setNumber(3, 2, 45306);
  auto lines = test::readReferenceTable("desktop_reference.tsv");
  ASSERT_GT(lines.size(), 130u) << "the reference table is missing or short";
  for (const auto& fields : lines) {
    ASSERT_EQ(fields.size(), 3u);
    std::string why = test::compareWithReference(calc(utf8ToUtf16(fields[0])), fields[1], fields[2]);
    EXPECT_EQ(why, "") << fields[0] << " expected " << fields[1];
  }
}

TEST_F(DesktopFunctionsTest, ConditionsPairEachValueWithItsOwnCell) {
  // AverageIf's values take the range's shape from their first cell, cut at the sheet's
  // edge: IV1:IV2 pairs with A1 and A2, not with A1 and B1.
  setNumber(0, 0, 1);
  setNumber(1, 0, 1);
  setNumber(0, 1, 0);
  setNumber(1, 1, 0);
  setNumber(255, 0, 10);
  setNumber(255, 1, 20);
  EXPECT_EQ(calc(u"=AverageIf(A1:B2,\">0\",IV1)").number, 10);
  // The *Ifs take blanks as Sumif does: "" counts them, "<>" does not.
  EXPECT_EQ(calc(u"=CountIfs(A1:B3,\"\")").number, 2);
  EXPECT_EQ(calc(u"=CountIfs(A1:B3,\"<>\",A1:B3,\"<1\")").number, 2);
  EXPECT_EQ(calc(u"=SumIfs(IV1:IV2,A1:A2,\">=0\",B1:B2,1)").number, 10);
}

}  // namespace
}  // namespace kelp
