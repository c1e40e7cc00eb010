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

TEST_F(TextFunctionsTest, EdgeCasesConversionsAndLongResults) {
  setText(0, 0, u"in a cell");
  // Results up to the 32764 characters a saved cell keeps, and !!Val past them.
  const std::u16string k32 = u"Substitute(Rept(\"a\",999),\"a\",Rept(\"b\",32))";
  expectShown({
      {u"=Left(\"abc\",5)", u"abc"}, {u"=Left(1/0,\"x\")", u"!!Div0"},  // the leftmost failing argument
      {u"=Proper(\"it's O'NEIL\ttab 1st\")", u"It's O'neil\tTab 1St"}, {u"=Exact(1,\"1\")", u"true"},
      {u"=Clean(Char(9)&\"a\"&Char(31)&Char(32)&\"b\"&Char(127))", u"a b\x7f"}, {u"=Code(\"\")", u"!!Val"},
      {u"=Char(65536)", u"!!Val"},  // would be the NUL that ends a text
      {u"=Char(65601)", u"A"},      // taken as 16 bits
      {u"=Value(\"1.5e3\")", u"1500"}, {u"=Value(\"abc\")", u"!!Val"}, {u"=T(A1)", u"in a cell"}, {u"=T(5)", u""},
      {u"=Len(Rept(\"ab\",600))", u"998"}, {u"=Len(Rept(\"abc\",2000000000))", u"999"},
      {u"=Rept(\"\",2000000000)", u""},
      // An empty old text would match everywhere without moving on; the text stays.
      {u"=Substitute(\"abc\",\"\",\"x\",1)", u"abc"}, {u"=Substitute(\"aaaa\",\"aa\",\"b\",2)", u"aab"},
      {u"=Len(" + k32 + u")", u"31968"}, {u"=Substitute(Rept(\"a\",999),\"a\",Rept(\"b\",33))", u"!!Val"},
      {u"=Len(Concatenate(" + k32 + u",Rept(\"c\",796)))", u"32764"},
      {u"=Concatenate(" + k32 + u",Rept(\"c\",797))", u"!!Val"},
      {u"=Replace(" + k32 + u",1,0,Rept(\"c\",797))", u"!!Val"},
      {u"=Upper(" + k32 + u"&" + k32 + u")", u"!!Val"},
      {u"=Len(" + k32 + u"&Rept(\"c\",796))", u"32764"}, {u"=" + k32 + u"&Rept(\"c\",797)", u"!!Val"},
  });
  EXPECT_EQ(calc(u"=Mid(\"abc\",4,1)").kind, ValueKind::Text);
}

TEST_F(TextFunctionsTest, FixedUsesTheLocaleSeparators) {
  // Each formula with what it shows in the United States and in Germany.
  const char16_t* rows[][3] = {
      {u"=Fixed(1234567.891)", u"1,234,567.89", u"1.234.567,89"}, {u"=Fixed(-0.5,0)", u"-1", u"-1"},
      {u"=Fixed(1234567.891,1,TRUE)", u"1234567.9", u"1234567,9"}, {u"=Fixed(1250,-2)", u"1,300", u"1.300"},
      {u"=Fixed(-1250,-2)", u"-1,300", u"-1.300"}, {u"=Fixed(1249.9,-2)", u"1,200", u"1.200"},
      {u"=Fixed(2.675,2)", u"2.68", u"2,68"},     {u"=Fixed(1,12)", u"1.000000000", u"1,000000000"},
      {u"=Fixed(5,-400)", u"0", u"0"},            {u"=Fixed(\"x\")", u"!!Val", u"!!Val"},
  };
  for (int i = 0; i < 10; ++i) enter(0, i, rows[i][0]);
  for (int german : {0, 1}) {
    ASSERT_TRUE(selectLocale(german ? "de_DE" : "en_US"));
    recalculateAll(*book);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(cell(0, i).text, rows[i][1 + german]) << utf16ToUtf8(rows[i][0]);
  }
  EXPECT_EQ(cell(0, 0).kind, ValueKind::Text);
  ASSERT_TRUE(selectLocale("en_US"));
}

}  // namespace
}  // namespace kelp
