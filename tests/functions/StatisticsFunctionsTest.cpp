// Tests of the statistics over lists: a reference table made with an independent
// tool, pairing of lists, order statistics, moments and their argument checks.
#include <cmath>

#include "platform/Text.h"
#include "tests/functions/EngineTestSupport.h"

namespace kelp {
namespace {

using test::EngineTest;

class StatisticsFunctionsTest : public EngineTest {
 protected:
  void putColumn(int column, std::initializer_list<double> values) {
    int row = 0;
    for (double v : values) setNumber(column, row++, v);
  }
  std::u16string text(std::u16string_view formula) { return calc(formula).text; }
};

TEST_F(StatisticsFunctionsTest, AgreesWithTheReferenceTable) {
  auto lines = test::readReferenceTable("list_statistics_reference.tsv");
  size_t formulas = 0;
  for (const auto& fields : lines) {
    if (fields[0] == "cells") {
      int column = fields[1][0] - 'A';
      // Only the number cells matter here; the texts and logical values of the
      // shared data are left out.
      for (size_t i = 2; i < fields.size(); ++i)
        if (!fields[i].empty() && fields[i].find(':') == std::string::npos)
          setNumber(column, static_cast<int>(i - 2), std::stod(fields[i]));
      continue;
    }
    ASSERT_EQ(fields.size(), 3u);
    ++formulas;
    std::string why = test::compareWithReference(calc(utf8ToUtf16(fields[0])), fields[1], fields[2]);
    EXPECT_EQ(why, "") << fields[0] << " expected " << fields[1];
  }
  ASSERT_GE(formulas, 130u) << "the reference table is missing or short";
}

TEST_F(StatisticsFunctionsTest, OrderStatistics) {
  putColumn(0, {1, 2, 3, 4});
  putColumn(1, {1, 2, 2, 3, 3});
  putColumn(2, {1, 5, 3});
  EXPECT_EQ(calc(u"=Percentile(A1:A4,0.5)").number, 2.5);
  EXPECT_EQ(calc(u"=Mode(B1:B5)").number, 3);
  EXPECT_EQ(calc(u"=Mode(C1:C3)").number, 5);  // all distinct: the largest
  EXPECT_EQ(calc(u"=Large(C1:C3,1)").number, 5);
  EXPECT_EQ(calc(u"=Small(C1:C3,3)").number, 5);
  EXPECT_EQ(calc(u"=Median(A1:A4)").number, 2.5);
  for (const char16_t* formula : {u"=Large(C1:C3,0)", u"=Large(C1:C3,4)", u"=Small(D1:D3,1)",
                                  u"=Percentile(A1:A4,1.5)", u"=Percentile(A1:A4,-0.1)", u"=Percentile(D1:D4,0.5)",
                                  u"=Median(D1:D4)", u"=Mode(D1:D4)", u"=Trimmean(A1:A4,1)",
                                  u"=Trimmean(A1:A4,-0.1)", u"=Trimmean(D1:D4,0.1)", u"=Percentrank(D1:D4,1)",
                                  u"=Percentrank(A1:A4,2,0)"})
    EXPECT_EQ(text(formula), u"!!Num") << utf16ToUtf8(formula);
  EXPECT_EQ(text(u"=Percentrank(A1:A4,0.5)"), u"!!NA");
  EXPECT_EQ(text(u"=Percentrank(A1:A4,4.5)"), u"!!NA");
  EXPECT_EQ(calc(u"=Percentrank(C2,5)").number, 1);
  EXPECT_EQ(calc(u"=Percentrank(A1:A4,2.5)").number, 0.5);
  // Truncated, not rounded: 2/3 shows three decimals 0.666.
  EXPECT_EQ(calc(u"=Percentrank(C1:C3,4)").number, 0.75);
  EXPECT_EQ(calc(u"=Percentrank(A1:A4,3)").number, 0.666);
}

TEST_F(StatisticsFunctionsTest, RankFindsThePositionOfTheFirstEqualValue) {
  putColumn(0, {7, 3, 3, 9});
  EXPECT_EQ(calc(u"=Rank(3,A1:A4)").number, 3);
  EXPECT_EQ(calc(u"=Rank(3,A1:A4,1)").number, 1);
  EXPECT_EQ(calc(u"=Rank(9,A1:A4,0)").number, 1);
  EXPECT_EQ(calc(u"=Rank(4,A1:A4)").number, 0);
  // A list of one number ranks anything first.
  EXPECT_EQ(calc(u"=Rank(100,A1)").number, 1);
  EXPECT_EQ(text(u"=Rank(3,3)"), u"!!Val");
  EXPECT_EQ(text(u"=Rank(1/0,A1:A4)"), u"!!Div0");
  setValue(0, 4, errorValue(CellError::NA));
  EXPECT_EQ(text(u"=Rank(3,A1:A5)"), u"!!NA");
}

TEST_F(StatisticsFunctionsTest, DirectValuesAndCellsCountTheSameNumbers) {
  setNumber(0, 0, 1);
  setText(0, 1, u"2");
  setValue(0, 2, logicalValue(true));
  setNumber(0, 3, 3);
  // Texts and logical values count nowhere, whether in cells or typed.
  EXPECT_EQ(calc(u"=Median(A1:A4)").number, 2);
  EXPECT_EQ(calc(u"=Median(1,\"2\",TRUE,3)").number, 2);
  EXPECT_EQ(calc(u"=Devsq(1,\"2\",TRUE,3)").number, 2);
  EXPECT_NEAR(calc(u"=Geomean(A1:A4,\"x\")").number, std::sqrt(3.0), 1e-14);
  EXPECT_EQ(text(u"=Avedev(1,NA())"), u"!!NA");
  EXPECT_EQ(text(u"=Median(A1:A4,1/0)"), u"!!Div0");
  // Dates in cells are not numbers to these functions.
  setValue(1, 0, dateTimeValue(38000));
  setNumber(1, 1, 4);
  EXPECT_EQ(calc(u"=Median(B1:B2)").number, 4);
}

TEST_F(StatisticsFunctionsTest, MomentsNeedEnoughPositiveOrSpreadValues) {
  EXPECT_EQ(text(u"=Kurt(1,2,3)"), u"!!Div0");
  EXPECT_EQ(text(u"=Kurt(2,2,2,2)"), u"!!Div0");
  EXPECT_EQ(text(u"=Skew(1,2)"), u"!!Div0");
  EXPECT_EQ(text(u"=Skew(5,5,5)"), u"!!Div0");
  EXPECT_EQ(text(u"=Geomean(2,0)"), u"!!Num");
  EXPECT_EQ(text(u"=Geomean(2,-8)"), u"!!Num");
  EXPECT_EQ(text(u"=Harmean(-1,2)"), u"!!Num");
  EXPECT_EQ(text(u"=Avedev(A1:A3)"), u"!!Num");
  EXPECT_EQ(text(u"=Devsq(A1:A3)"), u"!!Num");
  EXPECT_EQ(calc(u"=Skew(1,2,3)").number, 0);
  // The root of a product far beyond the largest double.
  for (int row = 0; row < 400; ++row) setNumber(0, row, 1e300);
  EXPECT_NEAR(calc(u"=Geomean(A1:A400)").number, 1e300, 1e291);
}

TEST_F(StatisticsFunctionsTest, PairedListsPairByPlaceAndNeedReferences) {
  putColumn(0, {1, 2, 3});
  putColumn(1, {2, 4, 6});
  // A blank in the first list shifts the pairing: 1 and 3 meet 1 and 3.
  setNumber(2, 0, 1);
  setNumber(2, 2, 3);
  putColumn(3, {1, 3});
  EXPECT_EQ(calc(u"=Sumxmy2(C1:C3,D1:D2)").number, 0);
  EXPECT_EQ(calc(u"=Slope(B1:B3,A1:A3)").number, 2);
  EXPECT_EQ(text(u"=Slope(B1:B3,5)"), u"!!Val");
  EXPECT_EQ(text(u"=Correl(2,A1:A3)"), u"!!Val");
  EXPECT_EQ(text(u"=Forecast(1,5,A1:A3)"), u"!!Val");
  EXPECT_EQ(text(u"=Sumx2py2(A1:A3,3)"), u"!!Val");
  EXPECT_EQ(text(u"=Covar(A1:A3,B1:B2)"), u"!!NA");
  EXPECT_EQ(text(u"=Pearson(E1:E3,F1:F3)"), u"!!NA");
  EXPECT_EQ(text(u"=Forecast(1/0,B1:B3,A1:A3)"), u"!!Div0");
  setValue(1, 1, errorValue(CellError::Num));
  EXPECT_EQ(text(u"=Intercept(B1:B3,A1:A3)"), u"!!Num");
  EXPECT_EQ(text(u"=Intercept(B1:B3,A1:A3)"), u"!!Num");
}

TEST_F(StatisticsFunctionsTest, ListsWithoutSpread) {
  putColumn(0, {5, 5, 5});
  putColumn(1, {1, 2, 3});
  EXPECT_EQ(calc(u"=Slope(B1:B3,A1:A3)").number, 0);
  EXPECT_EQ(text(u"=Intercept(B1:B3,A1:A3)"), u"!!Div0");
  EXPECT_EQ(text(u"=Forecast(4,B1:B3,A1:A3)"), u"!!Div0");
  EXPECT_EQ(calc(u"=Pearson(A1:A3,B1:B3)").number, 0);
  EXPECT_EQ(text(u"=Correl(A1:A3,B1:B3)"), u"!!Div0");
  EXPECT_EQ(text(u"=Rsq(B1:B3,A1:A3)"), u"!!Div0");
  EXPECT_EQ(text(u"=Steyx(B1:B2,A1:A2)"), u"!!Div0");
  EXPECT_EQ(calc(u"=Covar(A1:A3,B1:B3)").number, 0);
  // A perfect line leaves no error: the residual is held at 0, not below.
  putColumn(2, {0.1, 0.2, 0.3, 0.4});
  putColumn(3, {0.3, 0.6, 0.9, 1.2});
  EXPECT_NEAR(calc(u"=Steyx(D1:D4,C1:C4)").number, 0, 1e-12);
  EXPECT_NEAR(calc(u"=Rsq(D1:D4,C1:C4)").number, 1, 1e-12);
}

TEST_F(StatisticsFunctionsTest, Sumproduct) {
  putColumn(0, {1, 2, 3});
  putColumn(1, {4, 5, 6});
  EXPECT_EQ(calc(u"=Sumproduct(A1:A3,B1:B3)").number, 32);
  EXPECT_EQ(calc(u"=Sumproduct(A1:A3)").number, 6);
  EXPECT_EQ(calc(u"=Sumproduct(2,3)").number, 6);
  EXPECT_EQ(text(u"=Sumproduct(A1:A3,B1:B2)"), u"!!Num");
  EXPECT_EQ(text(u"=Sumproduct(A1:A3,2)"), u"!!Num");
  EXPECT_EQ(text(u"=Sumproduct(C1:C3)"), u"!!Num");
  setValue(1, 3, errorValue(CellError::NA));
  EXPECT_EQ(text(u"=Sumproduct(A1:A3,B1:B4)"), u"!!NA");
}

TEST_F(StatisticsFunctionsTest, ScratchListsHoldAtMost7999Numbers) {
  for (int row = 0; row < 8000; ++row) {
    setNumber(0, row, row % 7);
    setNumber(1, row, 1);
  }
  EXPECT_EQ(calc(u"=Median(A1:A7999)").number, 3);
  EXPECT_EQ(text(u"=Median(A1:A8000)"), u"!!Num");
  EXPECT_EQ(text(u"=Large(A1:A8000,1)"), u"!!Num");
  EXPECT_EQ(calc(u"=Sumproduct(A1:A7999,B1:B7999)").number, calc(u"=Sum(A1:A7999)").number);
  EXPECT_EQ(text(u"=Sumproduct(A1:A8000,B1:B8000)"), u"!!Num");
  EXPECT_EQ(text(u"=Covar(A1:A8000,B1:B8000)"), u"!!NA");
  EXPECT_EQ(calc(u"=Covar(A1:A7999,B1:B7999)").number, 0);
  // Moments keep no such limit.
  EXPECT_EQ(calc(u"=Devsq(B1:B8000)").number, 0);
}

TEST_F(StatisticsFunctionsTest, TestsAgainstDistributions) {
  putColumn(0, {10, 20, 30});
  putColumn(1, {10, 0, 30});
  putColumn(2, {10, 20});
  EXPECT_EQ(text(u"=Chitest(A1:A3,B1:B3)"), u"!!Div0");
  EXPECT_EQ(text(u"=Chitest(A1:A3,C1:C2)"), u"!!NA");
  EXPECT_EQ(text(u"=Chitest(A1,C1)"), u"!!NA");
  EXPECT_EQ(calc(u"=Chitest(A1:A3,A1:A3)").number, 1);
  EXPECT_EQ(text(u"=Ftest(A1:A3,A1)"), u"!!Div0");
  EXPECT_EQ(text(u"=Ftest(A1:A3,D1:D3)"), u"!!Div0");
  EXPECT_NEAR(calc(u"=Ftest(A1:A3,A1:A3)").number, 1, 1e-12);
  EXPECT_EQ(text(u"=Ztest(D1:D3,1)"), u"!!NA");
  EXPECT_EQ(text(u"=Ztest(A1:A3,1,0)"), u"!!Num");
  EXPECT_EQ(text(u"=Ztest(A1,1)"), u"!!Div0");
  EXPECT_NEAR(calc(u"=Ztest(A1:A3,20)").number, 0.5, 1e-15);
  EXPECT_EQ(text(u"=Ztest(A1:A3,1/0)"), u"!!Div0");
}

TEST_F(StatisticsFunctionsTest, ProbChecksItsProbabilities) {
  putColumn(0, {1, 2, 3});
  putColumn(1, {0.2, 0.3, 0.5});
  putColumn(2, {0.2, 0.3, 0.6});
  putColumn(3, {-0.2, 0.7, 0.5});
  EXPECT_NEAR(calc(u"=Prob(A1:A3,B1:B3,1,3)").number, 0.5, 1e-15);
  EXPECT_NEAR(calc(u"=Prob(A1:A3,B1:B3,3)").number, 0.5, 1e-15);
  EXPECT_EQ(calc(u"=Prob(A1:A3,B1:B3,4)").number, 0);
  EXPECT_EQ(calc(u"=Prob(A1:A3,B1:B3,3,1)").number, 0);
  EXPECT_EQ(text(u"=Prob(A1:A3,C1:C3,1,3)"), u"!!Num");
  EXPECT_EQ(text(u"=Prob(A1:A3,D1:D3,1,3)"), u"!!Num");
  EXPECT_EQ(text(u"=Prob(A1:A3,B1:B2,1,3)"), u"!!NA");
  EXPECT_EQ(text(u"=Prob(A1:A3,0.5,1,3)"), u"!!Val");
  EXPECT_EQ(text(u"=Prob(A1:A3,B1:B3,\"x\",3)"), u"!!Val");
}

}  // namespace
}  // namespace kelp
