// Information functions over each kind of value a cell holds.
#include <gtest/gtest.h>

#include <string>

#include "EngineTestSupport.h"
#include "platform/Text.h"

namespace kelp {
namespace {

using InfoFunctionsTest = test::EngineTest;

TEST_F(InfoFunctionsTest, InformationLooksAtTheKind) {
  setValue(0, 0, dateTimeValue(38353));  // 1 January 2005
  setNumber(0, 1, 5);
  setText(0, 2, u"5");
  setValue(0, 3, logicalValue(true));
  setValue(0, 4, errorValue(CellError::NA));
  setValue(0, 5, errorValue(CellError::Div0));
  // A1 date, A2 number, A3 text, A4 logical, A5 !!NA, A6 !!Div0, A7 empty.
  struct Row {
    const char16_t* function;
    const char16_t* results;  // over A1 to A7
  } rows[] = {
      {u"IsNumber", u"FTFFFFF"}, {u"IsText", u"FFTFFFF"},  {u"IsNonText", u"TTFTTTT"}, {u"IsLogical", u"FFFTFFF"},
      {u"IsBlank", u"FFFFFFT"},  {u"IsErr", u"FFFFFTF"},   {u"IsError", u"FFFFTTF"},   {u"IsNA", u"FFFFTFF"},
      {u"IsRef", u"TTTTTTT"},
  };
  for (const Row& row : rows)
    for (int r = 0; r < 7; ++r) {
      std::u16string formula = u"=" + std::u16string(row.function) + u"(A" + decimalText(r + 1) + u")";
      EXPECT_EQ(calc(formula).text, row.results[r] == u'T' ? u"true" : u"false") << utf16ToUtf8(formula);
    }
  const char16_t* n[] = {u"0", u"5", u"0", u"1", u"42", u"7", u"0"};
  const char16_t* type[] = {u"1", u"1", u"2", u"4", u"16", u"16", u"1"};
  for (int r = 0; r < 7; ++r) {
    EXPECT_EQ(calc(u"=N(A" + decimalText(r + 1) + u")").text, n[r]) << r;
    EXPECT_EQ(calc(u"=Type(A" + decimalText(r + 1) + u")").text, type[r]) << r;
  }
  EXPECT_EQ(calc(u"=N(TRUE)").number, 1);
  EXPECT_EQ(calc(u"=N(\"5\")").number, 0);
  EXPECT_EQ(calc(u"=N(1/0)").number, 7);
  EXPECT_EQ(calc(u"=IsNumber(5)").text, u"true");
  EXPECT_EQ(calc(u"=IsRef(5)").text, u"false");
  EXPECT_EQ(calc(u"=IsRef(If(TRUE,A1:A2,0))").text, u"true");
}

}  // namespace
}  // namespace kelp
