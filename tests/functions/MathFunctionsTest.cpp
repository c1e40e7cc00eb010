// Tests of the mathematical functions: a reference table made with an independent
// tool, the argument checks and the edges of rounding and the inverse functions.
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include "formula/Catalogue.h"
#include "platform/Text.h"
#include "tests/functions/EngineTestSupport.h"

namespace kelp::test {

/// The tab-separated fields of each line of a table in the test data folder; lines
/// starting with "#" and blank lines are skipped.
std::vector<std::vector<std::string>> readReferenceTable(const std::string& fileName) {
  std::vector<std::vector<std::string>> lines;
  std::ifstream in(std::string(KELP_TEST_DATA) + "/" + fileName);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields;
    std::stringstream split(line);
    std::string field;
    while (std::getline(split, field, '\t')) fields.push_back(field);
    lines.push_back(fields);
  }
  return lines;
}

/// Empty when `got` shows the expected text or, for a number, lies within the
/// tolerance ("r1e-9" relative, "a1e-10" absolute); otherwise what differs.
std::string compareWithReference(const Result& got, const std::string& expected, const std::string& tolerance) {
  std::string shown = utf16ToUtf8(got.text);
  if (expected.rfind("!!", 0) == 0 || tolerance == "t") return shown == expected ? "" : "gave " + shown;
  if (!got.ok || (got.kind != ValueKind::Number && got.kind != ValueKind::DateTime)) return "gave " + shown;
  double want = std::strtod(expected.c_str(), nullptr);
  double limit = std::strtod(tolerance.c_str() + 1, nullptr);
  if (tolerance[0] == 'r') limit *= std::fabs(want);
  if (std::fabs(got.number - want) <= limit) return "";
  std::ostringstream why;
  why.precision(17);
  why << "gave " << got.number << ", off by " << std::fabs(got.number - want);
  return why.str();
}

}  // namespace kelp::test

namespace kelp {
namespace {

using test::EngineTest;
using test::Tokens;

using MathFunctionsTest = EngineTest;

TEST_F(MathFunctionsTest, AgreesWithTheReferenceTable) {
  auto lines = test::readReferenceTable("math_reference.tsv");
  ASSERT_GT(lines.size(), 150u) << "the reference table is missing or short";
  for (const auto& fields : lines) {
    ASSERT_EQ(fields.size(), 3u);
    std::string why = test::compareWithReference(calc(utf8ToUtf16(fields[0])), fields[1], fields[2]);
    EXPECT_EQ(why, "") << fields[0] << " expected " << fields[1];
  }
}

TEST_F(MathFunctionsTest, RoundingEdgesAndSignChecks) {
  EXPECT_EQ(calc(u"=Ceiling(-2.5,1)").text, u"!!Val");
  EXPECT_EQ(calc(u"=Ceiling(2.5,-1)").text, u"!!Val");
  EXPECT_EQ(calc(u"=Ceiling(2.5,0)").number, 0);
  EXPECT_EQ(calc(u"=Floor(2.5,0)").text, u"!!Div0");
  EXPECT_EQ(calc(u"=Floor(-2.5,1)").text, u"!!Num");
  EXPECT_EQ(calc(u"=Floor(2.5,-1)").text, u"!!Num");
  // Zero passes with either sign of significance, as Ceiling lets it.
  EXPECT_EQ(calc(u"=Floor(0,-1)").text, u"0");
  EXPECT_EQ(calc(u"=Mod(1,0)").text, u"!!Div0");
  // The d = 0 allowance: a hair above a whole number does not round up a unit.
  EXPECT_EQ(calc(u"=RoundUp(2.000000000001,0)").number, 2);
  EXPECT_EQ(calc(u"=RoundDown(-2.999999999999,0)").number, -3);
  EXPECT_EQ(calc(u"=Trunc(2.999999999999)").number, 2);
  // Products that land a bit off a whole number (0.29·100 is 28.999999999999996).
  EXPECT_EQ(calc(u"=RoundDown(0.29,2)").text, u"0.29");
  EXPECT_EQ(calc(u"=Trunc(-0.57,2)").text, u"-0.57");
  EXPECT_EQ(calc(u"=RoundUp(0.14,2)").text, u"0.14");
  EXPECT_EQ(calc(u"=Ceiling(1.1,0.1)").text, u"1.1");
  EXPECT_EQ(calc(u"=Floor(0.3,0.1)").text, u"0.3");
  EXPECT_EQ(calc(u"=Round(5,-400)").number, 0);
}

TEST_F(MathFunctionsTest, DomainErrors) {
  for (const char16_t* formula : {u"=Ln(0)", u"=Ln(-1)", u"=Log10(0)", u"=Log(-1)", u"=Log(10,0)", u"=Log(10,-2)",
                                  u"=Sqrt(-1)", u"=Asin(2)", u"=Acos(-1.5)", u"=Acosh(0.5)", u"=Atanh(1)",
                                  u"=Atanh(-1)", u"=Fact(-1)", u"=Permut(2,3)", u"=Permut(-1,0)",
                                  u"=Combin(3,-1)", u"=Combin(2,3)", u"=Power(0,0)", u"=Power(-8,1/3)"})
    EXPECT_EQ(calc(formula).text, u"!!Num") << utf16ToUtf8(formula);
  EXPECT_EQ(calc(u"=Log(10,1)").text, u"!!Div0");
  EXPECT_EQ(calc(u"=Atan2(0,0)").text, u"!!Div0");
  // A not-a-number is an error at once, so it cannot pass a test as a number.
  EXPECT_EQ(calc(u"=IsError(Sqrt(-1))").text, u"true");
  EXPECT_EQ(calc(u"=IsError(Asin(2))").text, u"true");
  // An overflow is an error at once too, so a comparison sees it.
  EXPECT_EQ(calc(u"=Fact(200)>1").text, u"!!Num");
  EXPECT_EQ(calc(u"=Fact(200)").text, u"!!Num");
  EXPECT_EQ(calc(u"=Combin(200,2)").number, 19900);
  EXPECT_EQ(calc(u"=Permut(180,3)").number, 180.0 * 179 * 178);
}

TEST_F(MathFunctionsTest, ArgumentsAreReadAsNumbers) {
  EXPECT_EQ(calc(u"=Sqrt(\"16\")").number, 4);
  EXPECT_EQ(calc(u"=Sqrt(\"x\")").text, u"!!Val");
  EXPECT_EQ(calc(u"=Exp(TRUE)").number, std::exp(1.0));
  EXPECT_EQ(calc(u"=Cos(A1)").number, 1);  // empty is 0
  setValue(0, 1, errorValue(CellError::NA));
  EXPECT_EQ(calc(u"=Sin(A2)").text, u"!!NA");
  // With two failing arguments the leftmost one's error is the result.
  EXPECT_EQ(calc(u"=Mod(\"x\",1/0)").text, u"!!Val");
  EXPECT_EQ(calc(u"=Power(1/0,\"x\")").text, u"!!Div0");
  EXPECT_EQ(calc(u"=Combin(A2,\"x\")").text, u"!!NA");
  // A date given to a math function gives a plain number.
  setValue(0, 2, dateTimeValue(38000.75));
  EXPECT_EQ(calc(u"=Int(A3)").kind, ValueKind::Number);
  EXPECT_EQ(calc(u"=Int(A3)").number, 38000);
}

TEST_F(MathFunctionsTest, InverseHyperbolicFunctionsEndAtTheEdges) {
  // Bisection cannot reach 1e-11 on sinh of such values; it must still stop.
  EXPECT_NEAR(calc(u"=Asinh(1e300)").number, std::asinh(1e300), 1e-9);
  EXPECT_NEAR(calc(u"=Asinh(-1e20)").number, std::asinh(-1e20), 1e-9);
  EXPECT_NEAR(calc(u"=Asinh(1e308)").number, std::asinh(1e308), 1e-9);
  EXPECT_NEAR(calc(u"=Acosh(1e300)").number, std::acosh(1e300), 1e-9);
  EXPECT_NEAR(calc(u"=Atanh(0.9999999999999999)").number, std::atanh(0.9999999999999999), 1e-9);
  EXPECT_NEAR(calc(u"=Atanh(0.5)").number, std::atanh(0.5), 1e-11);
}

TEST_F(MathFunctionsTest, RandStaysBelowOne) {
  std::set<double> seen;
  double sum = 0;
  for (int i = 0; i < 3000; ++i) {
    test::Result r = run(Tokens().call(FunctionIndex::Rand, 0));
    ASSERT_EQ(r.kind, ValueKind::Number);
    ASSERT_GE(r.number, 0);
    ASSERT_LT(r.number, 1);
    sum += r.number;
    seen.insert(r.number);
  }
  EXPECT_NEAR(sum / 3000, 0.5, 0.05);
  EXPECT_GT(seen.size(), 2000u);
  // A whole multiple of 1/32768: the generator gives 15-bit steps.
  double v = run(Tokens().call(FunctionIndex::Rand, 0)).number * 32768;
  EXPECT_EQ(v, std::floor(v));
}

}  // namespace
}  // namespace kelp
