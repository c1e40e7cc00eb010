// The order of values across kinds, the wildcard match and the two sort operations.
#include "formula/ValueOrder.h"

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "platform/Text.h"
#include "tests/functions/EngineTestSupport.h"

namespace kelp::test {
namespace {

CellValue text(std::u16string_view s) {
  CellValue v;
  makeText(v, s);
  return v;
}

TEST(ValueOrder, KindsComeInOneOrderAndValuesWithinThem) {
  CellValue three = numberValue(3), one = numberValue(1), b = text(u"b"), a = text(u"a");
  CellValue yes = logicalValue(true), no = logicalValue(false), blank = emptyValue();
  CellValue date = dateTimeValue(2), div0 = errorValue(CellError::Div0), na = errorValue(CellError::NA);
  // The sort of 3, "b", TRUE, "a", a blank, 1 with an error and a small date mixed in.
  std::vector<const CellValue*> values{&three, &b, &yes, &a, &blank, &one, &na, &date, &no, &div0};
  std::stable_sort(values.begin(), values.end(),
                   [](const CellValue* x, const CellValue* y) { return compareValues(x, y, false, false) < 0; });
  std::vector<const CellValue*> expected{&one, &three, &date, &a, &b, &no, &yes, &div0, &na, &blank};
  EXPECT_EQ(values, expected);

  // A date after every number, whatever their values; equal numbers of the two kinds differ.
  CellValue big = numberValue(1e9), five = numberValue(5), fiveDate = dateTimeValue(5);
  EXPECT_LT(compareValues(&big, &date, false, false), 0);
  EXPECT_NE(compareValues(&five, &fiveDate, false, false), 0);
  CellValue five32 = integerValue(5);
  EXPECT_EQ(compareValues(&five32, &five, false, false), 0);
  // A text "10" is greater than the number 1000.
  CellValue ten = text(u"10"), thousand = numberValue(1000);
  EXPECT_GT(compareValues(&ten, &thousand, false, false), 0);

  // Absent values: after everything, equal to each other.
  EXPECT_EQ(compareValues(nullptr, nullptr, false, false), 0);
  EXPECT_EQ(compareValues(nullptr, &blank, false, false), 1);
  EXPECT_EQ(compareValues(&blank, nullptr, false, false), -1);
  for (CellValue* v : {&a, &b, &ten}) releaseValue(*v);
}

TEST(ValueOrder, TextsCompareWithOrWithoutCase) {
  CellValue lower = text(u"abc"), upper = text(u"ABC"), accented = text(u"Ébène"), plain = text(u"ébène");
  EXPECT_EQ(compareValues(&lower, &upper, false, false), 0);
  EXPECT_GT(compareValues(&lower, &upper, true, false), 0);  // "ABC" first
  EXPECT_LT(compareValues(&upper, &lower, true, false), 0);
  EXPECT_EQ(compareValues(&accented, &plain, false, false), 0);
  // Wildcards: the second value is the pattern, and a miss is always "after".
  CellValue pattern = text(u"A?C"), star = text(u"*");
  EXPECT_EQ(compareValues(&lower, &pattern, false, true), 0);
  EXPECT_EQ(compareValues(&lower, &pattern, true, true), 1);
  EXPECT_EQ(compareValues(&pattern, &lower, false, true), 1);  // "abc" as a pattern does not match "A?C"
  EXPECT_EQ(compareValues(&plain, &star, false, true), 0);
  EXPECT_NE(compareValues(&lower, &pattern, false, false), 0);  // literal without the flag
  for (CellValue* v : {&lower, &upper, &accented, &plain, &pattern, &star}) releaseValue(*v);
}

TEST(ValueOrder, WildcardsMatchWholeTexts) {
  struct Case {
    const char16_t* pattern;
    const char16_t* text;
    bool match;
  } cases[] = {
      {u"a*c", u"abc", true},     {u"a*c", u"ac", true},      {u"a*c", u"abcd", false},
      {u"?b*", u"ab", true},      {u"?b*", u"xbyz", true},    {u"?b*", u"b", false},
      {u"*", u"", true},          {u"", u"", true},           {u"", u"a", false},
      {u"?", u"", false},         {u"**a**", u"bab", true},   {u"*a*b", u"aXbXaXb", true},
      {u"*ab", u"aab", true},     {u"a*b*c", u"abXbc", true}, {u"a*b*c", u"acb", false},
      {u"~*", u"*", true},        {u"~*", u"a", false},       {u"a~?", u"a?", true},
      {u"a~?", u"ab", false},     {u"~~", u"~", true},        {u"~a", u"~a", true},
      {u"a~", u"a~", true},       {u"*~*", u"abc*", true},    {u"*~*", u"abc", false},
      {u"ÉT?", u"été", true},     {u"Ω*", u"ωμέγα", true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(wildcardMatch(c.pattern, c.text, false), c.match)
        << utf16ToUtf8(c.pattern) << " against " << utf16ToUtf8(c.text);
  EXPECT_FALSE(wildcardMatch(u"ÉT?", u"été", true));
  EXPECT_TRUE(wildcardMatch(u"A*", u"Abc", true));

  EXPECT_TRUE(hasWildcards(u"a*"));
  EXPECT_TRUE(hasWildcards(u"~~?"));
  EXPECT_FALSE(hasWildcards(u"a~*b~?"));
  EXPECT_FALSE(hasWildcards(u"plain"));
}

// The backtracking matcher against a plain recursive one over random short strings.
bool referenceMatch(std::u16string_view p, std::u16string_view t) {
  if (p.empty()) return t.empty();
  if (p[0] == u'*') return referenceMatch(p.substr(1), t) || (!t.empty() && referenceMatch(p, t.substr(1)));
  if (t.empty()) return false;
  if (p[0] == u'~' && p.size() > 1 && (p[1] == u'*' || p[1] == u'?' || p[1] == u'~'))
    return p[1] == t[0] && referenceMatch(p.substr(2), t.substr(1));
  return (p[0] == u'?' || p[0] == t[0]) && referenceMatch(p.substr(1), t.substr(1));
}

TEST(ValueOrder, MatcherAgreesWithARecursiveReference) {
  std::mt19937 random(17);
  const char16_t alphabet[] = u"ab*?~";
  for (int i = 0; i < 20000; ++i) {
    std::u16string pattern, subject;
    for (int n = random() % 7; n > 0; --n) pattern += alphabet[random() % 5];
    for (int n = random() % 8; n > 0; --n) subject += alphabet[random() % 5];
    ASSERT_EQ(wildcardMatch(pattern, subject, true), referenceMatch(pattern, subject))
        << utf16ToUtf8(pattern) << " against " << utf16ToUtf8(subject);
  }
}

class CellOrderTest : public EngineTest {};

TEST_F(CellOrderTest, BlanksGoLastEitherWayAndSwappedFormulasMoveWithTheirCells) {
  setNumber(0, 0, 3);
  setText(0, 1, u"b");
  // Row 2 is absent; row 3 holds a value.
  setNumber(0, 3, 1);
  Sheet& s = sheet();
  // The order a sort makes with the comparison: negative puts A first, and a
  // descending sort turns the result round.
  auto sorted = [&](std::vector<int> rows, bool ascending) {
    std::stable_sort(rows.begin(), rows.end(), [&](int x, int y) {
      int c = compareCells(s, 0, x, 0, y, ascending);
      return (ascending ? c : -c) < 0;
    });
    return rows;
  };
  EXPECT_EQ(sorted({0, 1, 2, 3}, true), (std::vector<int>{3, 0, 1, 2}));
  EXPECT_EQ(sorted({0, 1, 2, 3}, false), (std::vector<int>{1, 0, 3, 2}));
  EXPECT_EQ(sorted({2, 4, 0}, false), (std::vector<int>{0, 2, 4}));  // two blanks keep their order

  // B2 holds =A1; after swapping it to B4 it reads A3, one row up and one column left.
  setNumber(0, 2, 30);
  ASSERT_TRUE(enter(1, 1, u"=A1"));
  setNumber(1, 3, 99);
  recalculateAll(*book);
  EXPECT_EQ(cell(1, 1).number, 3);
  swapCells(s, 1, 1, 1, 3);
  EXPECT_EQ(cell(1, 1).number, 99);
  recalculateAll(*book);
  EXPECT_EQ(cell(1, 3).number, 30);
  EXPECT_EQ(cell(1, 1).number, 99);
  // Back again, and the table still holds exactly one formula at its place.
  swapCells(s, 1, 1, 1, 3);
  recalculateAll(*book);
  EXPECT_EQ(cell(1, 1).number, 3);
  EXPECT_EQ(book->formulas().count(), 1);
}

}  // namespace
}  // namespace kelp::test
