// Tests of the list aggregates: a reference table made with an independent tool,
// which values count from a range and given directly, dates, errors and Subtotal.
#include "platform/Text.h"
#include "tests/functions/EngineTestSupport.h"

namespace kelp {
namespace {

using test::EngineTest;

class ListFunctionsTest : public EngineTest {
 protected:
  // Fills the table's cells and checks every formula line against its value.
  void checkTable(const std::string& fileName, size_t leastFormulas) {
    auto lines = test::readReferenceTable(fileName);
    size_t formulas = 0;
    for (const auto& fields : lines) {
      if (fields[0] == "cells") {
        int column = fields[1][0] - 'A';
        for (size_t i = 2; i < fields.size(); ++i) putCell(column, static_cast<int>(i - 2), fields[i]);
        continue;
      }
      ASSERT_EQ(fields.size(), 3u);
      ++formulas;
      std::string why = test::compareWithReference(calc(utf8ToUtf16(fields[0])), fields[1], fields[2]);
      EXPECT_EQ(why, "") << fields[0] << " expected " << fields[1];
    }
    ASSERT_GE(formulas, leastFormulas) << fileName << " is missing or short";
  }

  void putCell(int column, int row, const std::string& field) {
    if (field.empty()) return;
    if (field.rfind("text:", 0) == 0)
      setText(column, row, utf8ToUtf16(field.substr(5)));
    else if (field.rfind("logical:", 0) == 0)
      setValue(column, row, logicalValue(field[8] == '1'));
    else
      setNumber(column, row, std::stod(field));
  }

  // Column A: 1, the text "2", TRUE, an empty cell, -3, FALSE.
  void putMixedColumn() {
    setNumber(0, 0, 1);
    setText(0, 1, u"2");
    setValue(0, 2, logicalValue(true));
    setNumber(0, 4, -3);
    setValue(0, 5, logicalValue(false));
  }
};

TEST_F(ListFunctionsTest, AgreesWithTheReferenceTable) { checkTable("list_reference.tsv", 120); }

TEST_F(ListFunctionsTest, RangeValuesAndDirectValuesCountDifferently) {
  putMixedColumn();
  // In a range, the text and the logical values are skipped by Sum...
  EXPECT_EQ(calc(u"=Sum(A1:A6)").number, -2);
  // ...while typed directly they are read as numbers.
  EXPECT_EQ(calc(u"=Sum(1,\"2\",TRUE,-3,FALSE)").number, 1);
  EXPECT_EQ(calc(u"=Sum(1,\"x\")").text, u"!!Val");
  // Average, Product and Var skip direct texts instead of failing on them.
  EXPECT_EQ(calc(u"=Average(1,\"x\")").number, 1);
  EXPECT_EQ(calc(u"=Product(2,\"3\",TRUE)").number, 2);
  EXPECT_EQ(calc(u"=Var(1,3,\"100\",TRUE)").number, 2);
  EXPECT_EQ(calc(u"=Count(1,\"2\",TRUE)").number, 1);
  EXPECT_EQ(calc(u"=CountA(1,\"2\",TRUE)").number, 3);
  EXPECT_EQ(calc(u"=CountA(A1:A6)").number, 5);
  // The "A" forms count texts as 0 and logical values as 1 or 0, in a range or not.
  EXPECT_DOUBLE_EQ(calc(u"=AverageA(A1:A6)").number, (1 + 0 + 1 - 3 + 0) / 5.0);
  EXPECT_DOUBLE_EQ(calc(u"=AverageA(1,\"x\",TRUE)").number, 2 / 3.0);
  EXPECT_EQ(calc(u"=Average(A1:A6)").number, -1);
  EXPECT_EQ(calc(u"=MaxA(A3,A5)").number, 1);
  EXPECT_EQ(calc(u"=Max(A3,A5)").number, -3);
  EXPECT_EQ(calc(u"=MinA(A2,A1)").number, 0);
  EXPECT_DOUBLE_EQ(calc(u"=VarpA(A1:A3)").number, 2 / 9.0);
  EXPECT_EQ(calc(u"=VarP(A1:A3)").number, 0);
}

TEST_F(ListFunctionsTest, DateNumbersGiveDates) {
  setValue(0, 0, dateTimeValue(38000));
  setNumber(0, 1, 2);
  setValue(0, 2, dateTimeValue(38004));
  for (const char16_t* formula : {u"=Sum(A1:A2)", u"=Average(A1:A3)", u"=Max(A1:A3)", u"=Min(A1:A3)"})
    EXPECT_EQ(calc(formula).kind, ValueKind::DateTime) << utf16ToUtf8(formula);
  EXPECT_EQ(calc(u"=Average(A1,A3)").number, 38002);
  EXPECT_EQ(calc(u"=Min(A1:A3)").number, 2);
  // Counts, variances and the "A" forms stay numbers.
  EXPECT_EQ(calc(u"=Count(A1:A3)").kind, ValueKind::Number);
  EXPECT_EQ(calc(u"=AverageA(A1:A3)").kind, ValueKind::Number);
  EXPECT_EQ(calc(u"=Max(A2,5)").kind, ValueKind::Number);
  // Variances take numbers only, so the dates are not part of them.
  EXPECT_EQ(calc(u"=VarP(A1:A3)").number, 0);
}

TEST_F(ListFunctionsTest, EmptyAndShortLists) {
  EXPECT_EQ(calc(u"=Average(A1:A3)").text, u"!!Div0");
  EXPECT_EQ(calc(u"=AverageA(A1:A3)").text, u"!!Div0");
  EXPECT_EQ(calc(u"=Max(A1:A3)").number, 0);
  EXPECT_EQ(calc(u"=MinA(A1:A3)").number, 0);
  EXPECT_EQ(calc(u"=Product(A1:A3)").number, 0);
  EXPECT_EQ(calc(u"=Sumsq(A1:A3)").number, 0);
  EXPECT_EQ(calc(u"=Var(5)").text, u"!!Div0");
  EXPECT_EQ(calc(u"=Stdev(5)").text, u"!!Div0");
  EXPECT_EQ(calc(u"=VarP(5)").number, 0);
  EXPECT_EQ(calc(u"=StdevP(5)").number, 0);
  EXPECT_EQ(calc(u"=VarP(A1:A3)").text, u"!!Div0");
  EXPECT_EQ(calc(u"=StdevA(\"x\")").text, u"!!Div0");
  EXPECT_EQ(calc(u"=StdevpA(\"x\")").number, 0);
}

TEST_F(ListFunctionsTest, ErrorsInCellsAndArguments) {
  setNumber(0, 0, 1);
  setValue(0, 1, errorValue(CellError::NA));
  setValue(0, 2, errorValue(CellError::Num));
  EXPECT_EQ(calc(u"=Average(1,1/0)").text, u"!!Div0");
  // The first error of a range is the one reported.
  EXPECT_EQ(calc(u"=Var(A1:A3)").text, u"!!NA");
  EXPECT_EQ(calc(u"=Product(A1:A3,2)").text, u"!!NA");
  EXPECT_EQ(calc(u"=AverageA(A3,A2)").text, u"!!Num");
  // Of several failing arguments, the leftmost wins.
  EXPECT_EQ(calc(u"=StdevP(1/0,A1:A3)").text, u"!!Div0");
  EXPECT_EQ(calc(u"=StdevP(A1:A3,1/0)").text, u"!!NA");
  EXPECT_EQ(calc(u"=Max(A3,A2)").text, u"!!Num");
  // The counts never give an error as their result.
  EXPECT_EQ(calc(u"=Count(A1:A3,1/0)").number, 1);
  EXPECT_EQ(calc(u"=CountA(A1:A3,1/0)").number, 4);
}

TEST_F(ListFunctionsTest, VarianceOfLargeCloseNumbersDoesNotCancel) {
  // A sum of squares near 3e30 has no room left for the spread of these numbers.
  for (int row = 0; row < 3; ++row) setNumber(0, row, 1e15 + 0.5);
  EXPECT_EQ(calc(u"=Stdev(A1:A3)").number, 0);
  EXPECT_EQ(calc(u"=VarP(A1:A3)").number, 0);
  setNumber(1, 0, 1e12 + 1);
  setNumber(1, 1, 1e12 + 2);
  setNumber(1, 2, 1e12 + 3);
  EXPECT_EQ(calc(u"=Var(B1:B3)").number, 1);
}

TEST_F(ListFunctionsTest, SubtotalSelectsItsReduction) {
  putMixedColumn();
  setValue(1, 0, errorValue(CellError::NA));
  setNumber(1, 1, 4);
  EXPECT_EQ(calc(u"=Subtotal(12,A1:A6)").text, u"!!Val");
  EXPECT_EQ(calc(u"=Subtotal(0,A1:A6)").text, u"!!Val");
  EXPECT_EQ(calc(u"=Subtotal(\"x\",A1:A6)").text, u"!!Val");
  EXPECT_EQ(calc(u"=Subtotal(1/0,B1:B2)").text, u"!!Div0");
  EXPECT_EQ(calc(u"=Subtotal(9,A1:A6)").number, -2);
  EXPECT_EQ(calc(u"=Subtotal(2,A1:A6)").number, 2);
  EXPECT_EQ(calc(u"=Subtotal(3,A1:A6)").number, 5);
  EXPECT_EQ(calc(u"=Subtotal(6,A1:A6,10)").number, -30);
  // Errors in the cells reach the result, except through the counts.
  EXPECT_EQ(calc(u"=Subtotal(9,B1:B2)").text, u"!!NA");
  EXPECT_EQ(calc(u"=Subtotal(2,B1:B2)").number, 1);
  EXPECT_EQ(calc(u"=Subtotal(3,B1:B2)").number, 2);
  EXPECT_EQ(calc(u"=Subtotal(1,C1:C5)").text, u"!!Div0");
  EXPECT_EQ(calc(u"=Subtotal(7,A1)").text, u"!!Div0");
  EXPECT_EQ(calc(u"=Subtotal(8,A1)").number, 0);
  EXPECT_EQ(calc(u"=Subtotal(4,C1:C5)").number, 0);
}

TEST_F(ListFunctionsTest, SumOfAColumnAddsInArgumentAndRowOrder) {
  // 2^53 + 1 rounds back to 2^53, so the order of the additions shows in the result.
  const double big = 9007199254740992.0;
  setNumber(0, 0, 1);
  setNumber(0, 1, 1);
  setNumber(1, 0, big);
  // The last argument is taken first: the ones are added to 2^53 one at a time...
  EXPECT_EQ(calc(u"=Sum(A1:A2,B1)").number, big);
  EXPECT_EQ(calc(u"=Sum(A1:A2,B1:B1)").number, big);
  // ...and here to each other first.
  EXPECT_EQ(calc(u"=Sum(B1,A1:A2)").number, big + 2);
}

TEST_F(ListFunctionsTest, SumOfAColumnOfFormulasTakesTheirResults) {
  // Rows written bottom-up, hidden rows, a row without column A and one not made at all.
  ASSERT_TRUE(enter(0, 7, u"=Date(2004,1,1)"));
  ASSERT_TRUE(enter(0, 6, u"=\"text\""));
  ASSERT_TRUE(enter(0, 5, u"=2*3"));
  setNumber(2, 4, 1000);  // row 5 has column C only
  setNumber(0, 2, 4);
  ASSERT_TRUE(enter(0, 1, u"=A3+1"));
  setNumber(0, 0, 0.5);
  ASSERT_TRUE(sheet().setRowHidden(1, true));
  ASSERT_TRUE(sheet().setRowHidden(5, true));
  test::Result plain = calc(u"=Sum(A1:A7)");
  EXPECT_EQ(plain.kind, ValueKind::Number);
  EXPECT_EQ(plain.number, 0.5 + 5 + 4 + 6);
  // A date result in the column makes the sum a date.
  test::Result dated = calc(u"=Sum(A1:A8)");
  EXPECT_EQ(dated.kind, ValueKind::DateTime);
  EXPECT_EQ(dated.number, 0.5 + 5 + 4 + 6 + calc(u"=Date(2004,1,1)").number);
  // Another sheet's column is walked the same way, on its own cells.
  setNumber(0, 3, 7, 1);
  setNumber(0, 5, 8, 1);
  EXPECT_EQ(calc(u"=Sum(Sheet2!A1:A7)").number, 15);
}

TEST_F(ListFunctionsTest, SumReportsTheFirstErrorOfTheLeftmostFailingArea) {
  setNumber(0, 0, 1);
  ASSERT_TRUE(enter(0, 1, u"=1/0"));
  setValue(0, 2, errorValue(CellError::NA));
  setValue(1, 0, errorValue(CellError::Num));
  setNumber(1, 1, 2);
  // Within one column, the first error by rows; a formula's error result counts.
  EXPECT_EQ(calc(u"=Sum(A1:A3)").text, u"!!Div0");
  EXPECT_EQ(calc(u"=Sum(A3:A3)").text, u"!!NA");
  // Of two failing areas the leftmost wins, whichever order they were walked in.
  EXPECT_EQ(calc(u"=Sum(B1:B2,A1:A3)").text, u"!!Num");
  EXPECT_EQ(calc(u"=Sum(A1:A3,B1:B2)").text, u"!!Div0");
  EXPECT_EQ(calc(u"=Sum(A3,B2:B2)").text, u"!!NA");
  // Once the error is out of the way the others add up again.
  EXPECT_EQ(calc(u"=Sum(B2:B9,A1)").number, 3);
  // The same holds for the other aggregates, which share the walk.
  EXPECT_EQ(calc(u"=Average(B1:B2,A1:A3)").text, u"!!Num");
  EXPECT_EQ(calc(u"=Max(A1:A3,B1:B2)").text, u"!!Div0");
}

}  // namespace
}  // namespace kelp
