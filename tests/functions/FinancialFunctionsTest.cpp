// Tests of the financial functions: a reference table made with an independent tool,
// then the edges: non-finite results, the iterations' failures, the value lists.
#include <cmath>
#include <sstream>

#include "platform/Text.h"
#include "tests/functions/EngineTestSupport.h"

namespace kelp {
namespace {

using FinancialFunctionsTest = test::EngineTest;

TEST_F(FinancialFunctionsTest, AgreesWithTheReferenceTable) {
  auto lines = test::readReferenceTable("financial_reference.tsv");
  ASSERT_GT(lines.size(), 300u) << "the reference table is missing or short";
  for (const auto& fields : lines) {
    ASSERT_GE(fields.size(), 3u);
    if (fields.size() == 4) {  // cash flows go in the first row from A1 on
      std::stringstream flows(fields[3]);
      std::string flow;
      for (int column = 0; std::getline(flows, flow, ','); ++column) setNumber(column, 0, std::stod(flow));
    }
    std::string why = test::compareWithReference(calc(utf8ToUtf16(fields[0])), fields[1], fields[2]);
    EXPECT_EQ(why, "") << fields[0] << " expected " << fields[1];
  }
}

TEST_F(FinancialFunctionsTest, ArgumentsErrorsAndTheRateIteration) {
  // Any type but 0 is 1; texts that read as numbers are numbers.
  EXPECT_EQ(calc(u"=Pmt(0.1,2,100,0,7)").number, calc(u"=Pmt(0.1,2,100,0,1)").number);
  EXPECT_EQ(calc(u"=Pmt(\"0.1\",\"2\",100)").number, calc(u"=Pmt(0.1,2,100)").number);
  EXPECT_NEAR(calc(u"=IPmt(0.1,1,2,100,0,1)").number, -5.238095238095, 1e-9);
  EXPECT_NEAR(calc(u"=Nper(0.1,0,-100,200)").number, std::log(2.0) / std::log(1.1), 1e-12);
  // The quotient by zero nper or payment, a rate of −1 and a negative logarithm
  // argument must never travel on as numbers into another formula.
  for (const char16_t* formula : {u"=Pmt(0,0,100)", u"=Pmt(0.1,0,100)", u"=Nper(0.1,-10,100)", u"=Fv(-2,0.5,10)",
                                  u"=IPmt(0,1,0,100)", u"=PPmt(0.1,1,0,100)", u"=Rate(10,0,-100,200,0,-1)"}) {
    EXPECT_EQ(calc(u"=IsError(" + std::u16string(formula + 1) + u")").text, u"true") << utf16ToUtf8(formula);
    EXPECT_EQ(calc(formula).text, u"!!Num") << utf16ToUtf8(formula);
  }
  setValue(0, 0, errorValue(CellError::Ref));
  expectShown({
      {u"=Fv(1/0,\"x\",NA())", u"!!Div0"},  // the leftmost failing argument
      {u"=Pmt(0.1,\"two\",100)", u"!!Val"}, {u"=PPmt(0.1,1,2,100,NA())", u"!!NA"}, {u"=Nper(0.1,A1,100)", u"!!Ref"},
      {u"=Nper(0,0,100)", u"!!Div0"},       {u"=Pv(-1,2,10)", u"!!Div0"},       {u"=Fv(-1,2,10)", u"-10"},
      {u"=Rate(10,100,700)", u"!!Num"},     {u"=Npv(-1,100)", u"!!Div0"},       {u"=Irr(100)", u"!!Num"},
      {u"=Irr(NA())", u"!!NA"},             {u"=Sln(1000,100,0)", u"!!Div0"},   {u"=Ddb(1000,100,5,6)", u"!!Num"},
      {u"=Ddb(1000,100,5,0.5)", u"0"},  // no whole period taken yet
      {u"=Ddb(1000,100,5,0)", u"!!Num"},    {u"=Ddb(1000,-1,5,1)", u"!!Num"},   {u"=Ddb(1000,100,5,1,0)", u"!!Num"},
      {u"=Syd(1000,100,5,6)", u"!!Num"},    {u"=Syd(1000,-1,5,1)", u"!!Num"},   {u"=Syd(1000,100,0,0)", u"!!Num"},
  });
  EXPECT_EQ(calc(u"=Ddb(1000,100,5,3.7)").number, calc(u"=Ddb(1000,100,5,3)").number);
  EXPECT_NEAR(calc(u"=Ddb(1000,100,5,5)").number, 29.6, 1e-12);  // held at the salvage value
  // A life of a billion periods is not walked period by period.
  EXPECT_NEAR(calc(u"=Ddb(1000,0,1e9,1e9)").number / (2e-6 * std::exp(-2.0)), 1, 1e-6);
  // A guess of 0 starts from the limits of the quotients by the rate.
  EXPECT_NEAR(calc(u"=Rate(10,-100,700,0,0,0)").number, 0.0707282, 1e-7);
  // A 30-year monthly mortgage from the default guess, which 20 steps do not reach.
  EXPECT_NEAR(calc(u"=Rate(360,-1073.64,200000)").number, 0.05 / 12, 1e-6);
  EXPECT_NEAR(calc(u"=Rate(480,-100,-1000,200000,1)").number, 0.00483786868189551, 1e-12);
}

TEST_F(FinancialFunctionsTest, CashFlowsOverCells) {
  auto fill = [&](std::initializer_list<double> values) {
    int row = 0;
    for (double v : values) setNumber(0, row++, v);
  };
  setNumber(0, 0, 100);
  setText(0, 1, u"12");  // a text in a cell is skipped even when it reads as a number
  setValue(0, 2, logicalValue(1));
  setNumber(0, 3, 200);
  EXPECT_NEAR(calc(u"=Npv(0.1,50,A1:A4)").number, 50 / 1.1 + 100 / 1.21 + 200 / 1.331, 1e-9);
  setValue(0, 1, errorValue(CellError::NA));
  EXPECT_EQ(calc(u"=Npv(0.1,A1:A4)").text, u"!!NA");
  EXPECT_EQ(calc(u"=Npv(\"x\",A1:A4)").text, u"!!Val");

  fill({-100, 60, 60});
  setText(1, 0, u"x");
  EXPECT_NEAR(calc(u"=Irr(A1:B3)").number, 0.130662386, 1e-9);
  // A guess of −1 is moved to −1.1, which leads to the flows' other root.
  EXPECT_EQ(calc(u"=Irr(A1:A3,-1)").number, calc(u"=Irr(A1:A3,-1.1)").number);
  // The residual is judged against the flows' size: large flows converge, small ones
  // are not accepted early.
  fill({-1e9, 3e8, 4.2e8, 6.8e8});
  EXPECT_NEAR(calc(u"=Irr(A1:A4)").number, 0.16340560068899, 1e-12);
  fill({-1e-9, 3e-10, 4.2e-10, 6.8e-10});
  EXPECT_NEAR(calc(u"=Irr(A1:A4)").number, 0.16340560068899, 1e-12);
  for (int row = 0; row < 100; ++row) setNumber(2, row, row == 0 ? -1000 : 30);
  EXPECT_EQ(calc(u"=Irr(C1:C100)").text, u"!!Num");
  EXPECT_NEAR(calc(u"=Irr(C1:C99)").number, 0.0279956354221597, 1e-12);

  fill({-100, 60, 60, 0});
  EXPECT_NEAR(calc(u"=Mirr(A1:A3,0.1,0.12)").number, std::sqrt(1.12 * 60 + 60) / 10 - 1, 1e-12);
  EXPECT_EQ(calc(u"=Mirr(A1,0.1,0.12)").text, u"!!Num");
  // A finance rate of −1 discounts the outlays to nothing.
  EXPECT_EQ(calc(u"=Mirr(A1:A2,-1,0.1)").number, 0);
  // No rate without both an outlay and an income.
  fill({100, 60, 60});
  EXPECT_EQ(calc(u"=Mirr(A1:A3,0.1,0.12)").text, u"!!Div0");
  fill({-100, -60, 0});
  EXPECT_EQ(calc(u"=Mirr(A1:A3,0.1,0.12)").text, u"!!Div0");
}

}  // namespace
}  // namespace kelp
