// Text functions: a reference table made by Python over non-ASCII texts, the edge
// cases, and Fixed under two locales.
#include <gtest/gtest.h>

#include <string>

#include "EngineTestSupport.h"
#include "platform/Locale.h"
#include "platform/Text.h"

namespace kelp {
namespace {

using test::EngineTest;
using TextFunctionsTest = EngineTest;

TEST_F(TextFunctionsTest, AgreesWithTheReferenceTable) {
  auto lines = test::readReferenceTable("text_reference.tsv");
  ASSERT_GT(lines.size(), 600u) << "the reference table is missing or short";
  for (const auto& fields : lines) {
    ASSERT_GE(fields.size(), 2u);
    const std::string expected = fields.size() > 2 ? fields[2] : "";  // an empty text ends the line
    test::Result got = calc(utf8ToUtf16(fields[0]));
    const char kind = fields[1][0];
    ValueKind want = kind == 't' ? ValueKind::Text
                     : kind == 'n' ? ValueKind::Number
                     : kind == 'l' ? ValueKind::Logical
                                   : ValueKind::Error;
    EXPECT_EQ(got.kind, want) << fields[0];
    EXPECT_EQ(utf16ToUtf8(got.text), expected) << fields[0];
  }
}

TEST_F(TextFunctionsTest, EdgeCasesAndConversions) {
  EXPECT_EQ(calc(u"=Left(\"abc\",5)").text, u"abc");
  EXPECT_EQ(calc(u"=Left(\"abc\",-1)").text, u"!!Val");
  EXPECT_EQ(calc(u"=Left(1/0,\"x\")").text, u"!!Div0");  // the leftmost failing argument
  EXPECT_EQ(calc(u"=Mid(\"abc\",4,1)").kind, ValueKind::Text);
  EXPECT_EQ(calc(u"=Mid(\"abc\",0,1)").text, u"!!Val");
  EXPECT_EQ(calc(u"=Find(\"b\",\"abcb\",3)").number, 4);
  EXPECT_EQ(calc(u"=Find(\"B\",\"abc\")").text, u"!!Val");
  EXPECT_EQ(calc(u"=Replace(\"abc\",9,1,\"X\")").text, u"abcX");
  EXPECT_EQ(calc(u"=Proper(\"1st place\")").text, u"1St Place");
  EXPECT_EQ(calc(u"=Proper(\"it's O'NEIL\ttab\")").text, u"It's O'neil\tTab");
  EXPECT_EQ(calc(u"=Exact(1,\"1\")").text, u"true");
  EXPECT_EQ(calc(u"=Clean(Char(9)&\"a\"&Char(31)&Char(32)&\"b\"&Char(127))").text, u"a b\x7f");
  EXPECT_EQ(calc(u"=Code(\"\")").text, u"!!Val");
  EXPECT_EQ(calc(u"=Char(65536)").text, u"!!Val");  // would be the NUL that ends a text
  EXPECT_EQ(calc(u"=Char(65601)").text, u"A");       // taken as 16 bits
  EXPECT_EQ(calc(u"=Value(\"1.5e3\")").number, 1500);
  EXPECT_EQ(calc(u"=Value(\"abc\")").text, u"!!Val");
  setText(0, 0, u"in a cell");
  EXPECT_EQ(calc(u"=T(A1)").text, u"in a cell");
  EXPECT_EQ(calc(u"=T(5)").kind, ValueKind::Text);
}

TEST_F(TextFunctionsTest, RepeatsAndLongResults) {
  EXPECT_EQ(calc(u"=Len(Rept(\"ab\",600))").number, 998);
  EXPECT_EQ(calc(u"=Len(Rept(\"abc\",2000000000))").number, 999);
  EXPECT_EQ(calc(u"=Rept(\"\",2000000000)").text, u"");
  // An empty old text would match everywhere without moving on; the text stays.
  EXPECT_EQ(calc(u"=Substitute(\"abc\",\"\",\"x\",1)").text, u"abc");
  EXPECT_EQ(calc(u"=Substitute(\"aaaa\",\"aa\",\"b\")").text, u"bb");
  EXPECT_EQ(calc(u"=Substitute(\"aaaa\",\"aa\",\"b\",2)").text, u"aab");
  // Results up to the 32764 characters a saved cell keeps, and !!Val past them.
  EXPECT_EQ(calc(u"=Len(Substitute(Rept(\"a\",999),\"a\",Rept(\"b\",32)))").number, 31968);
  EXPECT_EQ(calc(u"=Substitute(Rept(\"a\",999),\"a\",Rept(\"b\",33))").text, u"!!Val");
  const std::u16string long32k = u"Substitute(Rept(\"a\",999),\"a\",Rept(\"b\",32))";
  EXPECT_EQ(calc(u"=Len(Concatenate(" + long32k + u",Rept(\"c\",796)))").number, 32764);
  EXPECT_EQ(calc(u"=Concatenate(" + long32k + u",Rept(\"c\",797))").text, u"!!Val");
  EXPECT_EQ(calc(u"=Replace(" + long32k + u",1,0,Rept(\"c\",797))").text, u"!!Val");
  EXPECT_EQ(calc(u"=Upper(" + long32k + u"&" + long32k + u")").text, u"!!Val");
}

TEST_F(TextFunctionsTest, FixedUsesTheLocaleSeparators) {
  ASSERT_TRUE(selectLocale("en_US"));
  const char16_t* formulas[] = {
      u"=Fixed(1234567.891)",   u"=Fixed(1234567.891,1,TRUE)", u"=Fixed(-0.5,0)",  u"=Fixed(1250,-2)",
      u"=Fixed(-1250,-2)",      u"=Fixed(1249.9,-2)",          u"=Fixed(2.675,2)", u"=Fixed(1,12)",
      u"=Fixed(5,-400)",        u"=Fixed(\"x\")",
  };
  for (int i = 0; i < 10; ++i) enter(0, i, formulas[i]);
  recalculateAll(*book);
  const std::u16string us[] = {u"1,234,567.89", u"1234567.9", u"-1", u"1,300", u"-1,300",
                               u"1,200", u"2.68", u"1.000000000", u"0", u"!!Val"};
  for (int i = 0; i < 10; ++i) EXPECT_EQ(cell(0, i).text, us[i]) << i;
  EXPECT_EQ(cell(0, 0).kind, ValueKind::Text);

  ASSERT_TRUE(selectLocale("de_DE"));
  recalculateAll(*book);
  EXPECT_EQ(cell(0, 0).text, u"1.234.567,89");
  EXPECT_EQ(cell(0, 1).text, u"1234567,9");
  EXPECT_EQ(cell(0, 3).text, u"1.300");
  EXPECT_EQ(cell(0, 7).text, u"1,000000000");
  ASSERT_TRUE(selectLocale("en_US"));
}

}  // namespace
}  // namespace kelp
