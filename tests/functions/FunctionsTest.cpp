// Tests of the implemented worksheet functions through compiled formulas.
#include "formula/Catalogue.h"
#include "tests/functions/EngineTestSupport.h"

namespace kelp {
namespace {

using test::EngineTest;
using test::Tokens;

using FunctionsTest = EngineTest;

TEST_F(FunctionsTest, SumTakesErrorsAndTextsByWhereTheyCome) {
  setNumber(0, 0, 1);
  setValue(0, 1, errorValue(CellError::NA));
  setNumber(0, 2, 3);
  EXPECT_EQ(calc(u"=Sum(A1:A3)").text, u"!!NA");
  EXPECT_EQ(calc(u"=Sum(1,\"x\")").text, u"!!Val");
  EXPECT_EQ(calc(u"=Sum(1/0,\"x\")").text, u"!!Div0");
  EXPECT_EQ(calc(u"=Sum(\"x\",1/0)").text, u"!!Val");
  EXPECT_EQ(calc(u"=Sum(1,\"2\",TRUE)").number, 4);
  // The same text and logical in cells are skipped.
  setText(1, 0, u"2");
  setValue(1, 1, logicalValue(true));
  setNumber(1, 2, 1);
  EXPECT_EQ(calc(u"=Sum(B1:B3)").number, 1);
  // A date among the cells makes the sum a date.
  setValue(2, 0, dateTimeValue(38000));
  setNumber(2, 1, 2);
  EXPECT_EQ(calc(u"=Sum(C1:C2)").kind, ValueKind::DateTime);
  EXPECT_EQ(calc(u"=Sum(C1:C2)").number, 38002);
  EXPECT_EQ(calc(u"=Sum(C2,C2)").kind, ValueKind::Number);
}

TEST_F(FunctionsTest, OperatorsReadTheirCellOperandsOnTheFormulasSheet) {
  setValue(0, 0, dateTimeValue(38000));
  setText(0, 1, u"5");
  setText(0, 2, u"x");
  setValue(0, 3, errorValue(CellError::NA));
  ASSERT_TRUE(enter(0, 4, u"=2.5*2"));
  setNumber(3, 5, 9);  // row 6 holds column D only
  test::Result date = calc(u"=A1+1");
  EXPECT_EQ(date.kind, ValueKind::DateTime);
  EXPECT_EQ(date.number, 38001);
  EXPECT_EQ(calc(u"=A2+1").number, 6);
  EXPECT_EQ(calc(u"=A3+1").text, u"!!Val");
  EXPECT_EQ(calc(u"=A4+1").text, u"!!NA");
  EXPECT_EQ(calc(u"=A5-1").number, 4);
  EXPECT_EQ(calc(u"=A6+B6+1").number, 1);  // cells without a slot read as 0
  EXPECT_EQ(calc(u"=A9000*2").number, 0);  // past the last row
  EXPECT_EQ(calc(u"=A5>A2").text, u"false");
  EXPECT_EQ(calc(u"=A2<A5*2").text, u"true");
  EXPECT_EQ(calc(u"=-A5").number, -5);
  // A formula on another sheet reads that sheet's cells.
  setNumber(0, 0, 40, 1);
  ASSERT_TRUE(enter(1, 0, u"=A1+2", 1));
  recalculateAll(*book);
  EXPECT_EQ(cell(1, 0, 1).number, 42);
  EXPECT_EQ(cell(1, 0, 1).kind, ValueKind::Number);
  // Infinite results are still !!Num, through the stack or from a cell.
  setNumber(0, 6, 1e308);
  EXPECT_EQ(calc(u"=A7*10").text, u"!!Num");
  EXPECT_EQ(calc(u"=A7+A7").text, u"!!Num");
}

TEST_F(FunctionsTest, CountAndCountADifferBetweenCellsAndDirectValues) {
  EXPECT_EQ(calc(u"=Count(1,\"2\",TRUE)").number, 1);
  EXPECT_EQ(calc(u"=CountA(1,\"2\",TRUE)").number, 3);
  EXPECT_EQ(calc(u"=Count(1/0,2)").number, 1);
  EXPECT_EQ(calc(u"=CountA(1/0,2)").number, 2);
  setNumber(0, 0, 1);
  setText(0, 1, u"2");
  setValue(0, 2, logicalValue(true));
  setValue(0, 3, errorValue(CellError::NA));
  setValue(0, 4, dateTimeValue(38000));
  ASSERT_TRUE(sheet().setCellStyle(0, 5, 2));  // formatted, still empty
  EXPECT_EQ(calc(u"=Count(A1:A10)").number, 1);  // numbers only, dates not
  EXPECT_EQ(calc(u"=CountA(A1:A10)").number, 5);
  EXPECT_EQ(calc(u"=Count(A1:A10,5,A1)").number, 3);
}

TEST_F(FunctionsTest, AverageMinMax) {
  EXPECT_EQ(calc(u"=Average(1,\"x\")").number, 1);
  EXPECT_EQ(calc(u"=Average(1,1/0)").text, u"!!Div0");
  EXPECT_EQ(calc(u"=Average(A1:A3)").text, u"!!Div0");
  EXPECT_EQ(calc(u"=Max(A1:A3)").number, 0);
  setNumber(0, 0, 4);
  setNumber(0, 1, -2);
  setText(0, 2, u"99");
  EXPECT_EQ(calc(u"=Average(A1:A3)").number, 1);
  EXPECT_EQ(calc(u"=Max(A1:A3)").number, 4);
  EXPECT_EQ(calc(u"=Min(A1:A3,7)").number, -2);
  EXPECT_EQ(calc(u"=Max(A1:A3,7)").number, 7);
  EXPECT_EQ(calc(u"=Min(A1:A3,NA())").text, u"!!NA");
  setValue(1, 0, dateTimeValue(38000));
  EXPECT_EQ(calc(u"=Max(B1,1)").kind, ValueKind::DateTime);
  EXPECT_EQ(calc(u"=Average(B1,38002)").kind, ValueKind::DateTime);
  EXPECT_EQ(calc(u"=Average(B1,38002)").number, 38001);
}

TEST_F(FunctionsTest, ListFunctionsTakeThirtyArguments) {
  std::u16string thirty = u"=Sum(1";
  for (int i = 2; i <= 30; ++i) thirty += u",1";
  EXPECT_EQ(calc(thirty + u")").number, 30);
  CellValue v = emptyValue();
  compileToValue(*book, thirty + u",1)", CellPosition{0, 0, 0}, v);
  EXPECT_EQ(v.kind, ValueKind::Empty);
  EXPECT_TRUE(hasError(Err::TooManyArguments));
  clearError();
}

TEST_F(FunctionsTest, LogicalFunctions) {
  EXPECT_EQ(calc(u"=And(1,TRUE)").text, u"true");
  EXPECT_EQ(calc(u"=And(1,0)").text, u"false");
  EXPECT_EQ(calc(u"=And(1,\"true\")").text, u"true");
  EXPECT_EQ(calc(u"=And(1,\"x\")").text, u"!!Val");
  EXPECT_EQ(calc(u"=And(1/0,\"x\")").text, u"!!Div0");
  EXPECT_EQ(calc(u"=Or(0,FALSE)").text, u"false");
  EXPECT_EQ(calc(u"=Or(0,2)").text, u"true");
  EXPECT_EQ(calc(u"=Not(0)").text, u"true");
  EXPECT_EQ(calc(u"=Not(NA())").text, u"!!NA");
  // The names true and false read as constants, so the rows are reached by index only.
  EXPECT_EQ(run(Tokens().call(FunctionIndex::True, 0)).text, u"true");
  EXPECT_EQ(run(Tokens().call(FunctionIndex::False, 0)).text, u"false");
  EXPECT_EQ(calc(u"=If(TRUE,\"a\",\"b\")").text, u"a");
  // The plain call form (as files may store it) with an error condition.
  EXPECT_EQ(run(Tokens().error(CellError::NA).number(1).number(2).call(FunctionIndex::If, 3)).text, u"!!NA");
  EXPECT_EQ(run(Tokens().number(0).number(1).call(FunctionIndex::If, 2)).text, u"false");
}

TEST_F(FunctionsTest, InformationFunctions) {
  setValue(0, 0, errorValue(CellError::NA));
  setValue(0, 1, errorValue(CellError::Div0));
  EXPECT_EQ(calc(u"=NA()").text, u"!!NA");
  EXPECT_EQ(calc(u"=IsError(A1)").text, u"true");
  EXPECT_EQ(calc(u"=IsError(A2)").text, u"true");
  EXPECT_EQ(calc(u"=IsError(A3)").text, u"false");
  EXPECT_EQ(calc(u"=IsError(1/0)").text, u"true");
  EXPECT_EQ(calc(u"=IsNA(A1)").text, u"true");
  EXPECT_EQ(calc(u"=IsNA(A2)").text, u"false");
  EXPECT_EQ(calc(u"=IsNA(\"!!NA\")").text, u"false");
}

TEST_F(FunctionsTest, MathFunctions) {
  EXPECT_EQ(calc(u"=Abs(\"x\")").text, u"!!Val");
  EXPECT_EQ(calc(u"=Int(-1.5)").number, -2);
  EXPECT_EQ(calc(u"=Int(1.9)").number, 1);
  EXPECT_EQ(calc(u"=Round(5,400)").number, 0);
  EXPECT_EQ(calc(u"=Round(1/0,2)").text, u"!!Div0");
}

TEST_F(FunctionsTest, TextFunctions) {
  EXPECT_EQ(calc(u"=Len(\"abc\")").number, 3);
  EXPECT_EQ(calc(u"=Len(\"\")").number, 0);
  EXPECT_EQ(calc(u"=Len(A1)").number, 0);
  EXPECT_EQ(calc(u"=Len(1/3)").number, 16);
  EXPECT_EQ(calc(u"=Concatenate(\"a\",1,TRUE,\"b\")").text, u"a1trueb");
  EXPECT_EQ(calc(u"=Concatenate(\"a\",NA(),1/0)").text, u"!!NA");
}

}  // namespace
}  // namespace kelp
