// Information functions over each kind of value a cell holds.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "EngineTestSupport.h"
#include "platform/Text.h"

namespace kelp {
namespace {

using InfoFunctionsTest = test::EngineTest;

TEST_F(InfoFunctionsTest, InformationLooksAtTheKind) {
  // A1 date, A2 number, A3 text, A4 logical, A5 !!NA, A6 !!Div0, A7 empty.
  setValue(0, 0, dateTimeValue(38353));
  setNumber(0, 1, 5);
  setText(0, 2, u"5");
  setValue(0, 3, logicalValue(true));
  setValue(0, 4, errorValue(CellError::NA));
  setValue(0, 5, errorValue(CellError::Div0));
  // Each function with its results over A1 to A7; T and F stand for true and false.
  const std::pair<const char16_t*, const char*> rows[] = {
      {u"IsNumber", "F T F F F F F"}, {u"IsText", "F F T F F F F"}, {u"IsNonText", "T T F T T T T"},
      {u"IsLogical", "F F F T F F F"}, {u"IsBlank", "F F F F F F T"}, {u"IsErr", "F F F F F T F"},
      {u"IsError", "F F F F T T F"},  {u"IsNA", "F F F F T F F"},     {u"IsRef", "T T T T T T T"},
      {u"N", "0 5 0 1 42 7 0"},       {u"Type", "1 1 2 4 16 16 1"},
  };
  for (const auto& [function, results] : rows) {
    std::istringstream words(results);
    std::string word;
    for (int r = 1; words >> word; ++r) {
      std::u16string formula = u"=" + std::u16string(function) + u"(A" + decimalText(r) + u")";
      std::string want = word == "T" ? "true" : word == "F" ? "false" : word;
      EXPECT_EQ(utf16ToUtf8(calc(formula).text), want) << utf16ToUtf8(formula);
    }
  }
  EXPECT_EQ(calc(u"=IsRef(5)").text, u"false");
  EXPECT_EQ(calc(u"=IsRef(If(TRUE,A1:A2,0))").text, u"true");
}

}  // namespace
}  // namespace kelp
