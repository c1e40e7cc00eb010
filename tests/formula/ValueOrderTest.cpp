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

int compare(const CellValue& x, const CellValue& y, bool caseSensitive = false, bool wildcard = false) {
  return compareValues(&x, &y, caseSensitive, wildcard);
}

TEST(ValueOrder, KindsComeInOneOrderAndValuesWithinThem) {
  CellValue three = numberValue(3), one = numberValue(1), b = text(u"b"), a = text(u"a");
  CellValue yes = logicalValue(true), no = logicalValue(false), blank = emptyValue();
  CellValue date = dateTimeValue(2), div0 = errorValue(CellError::Div0), na = errorValue(CellError::NA);
  std::vector<const CellValue*> values{&three, &b, &yes, &a, &blank, &one, &na, &date, &no, &div0};
  std::stable_sort(values.begin(), values.end(),
                   [](const CellValue* x, const CellValue* y) { return compareValues(x, y, false, false) < 0; });
  EXPECT_EQ(values, (std::vector<const CellValue*>{&one, &three, &date, &a, &b, &no, &yes, &div0, &na, &blank}));
  // A date after every number, whatever their values; equal numbers of the two kinds differ.
  CellValue big = numberValue(1e9), five = numberValue(5), fiveDate = dateTimeValue(5), five32 = integerValue(5);
  CellValue ten = text(u"10"), thousand = numberValue(1000);
  EXPECT_TRUE(compare(big, date) < 0 && compare(five, fiveDate) != 0 && compare(five32, five) == 0);
  EXPECT_GT(compare(ten, thousand), 0);
  // Absent values: after everything, equal to each other.
  EXPECT_EQ(compareValues(nullptr, nullptr, false, false), 0);
  EXPECT_EQ(compareValues(nullptr, &blank, false, false), 1);
  EXPECT_EQ(compareValues(&blank, nullptr, false, false), -1);

  CellValue lower = text(u"abc"), upper = text(u"ABC"), accented = text(u"Ébène"), plain = text(u"ébène");
  EXPECT_EQ(compare(lower, upper), 0);
  EXPECT_GT(compare(lower, upper, true), 0);  // "ABC" first
  EXPECT_LT(compare(upper, lower, true), 0);
  EXPECT_EQ(compare(accented, plain), 0);
  // Wildcards: the second value is the pattern, and a miss is always "after".
  CellValue pattern = text(u"A?C"), star = text(u"*");
  EXPECT_EQ(compare(lower, pattern, false, true), 0);
  EXPECT_EQ(compare(lower, pattern, true, true), 1);
  EXPECT_EQ(compare(pattern, lower, false, true), 1);
  EXPECT_EQ(compare(plain, star, false, true), 0);
  EXPECT_NE(compare(lower, pattern), 0);  // literal without the flag
  for (CellValue* v : {&a, &b, &ten, &lower, &upper, &accented, &plain, &pattern, &star}) releaseValue(*v);
}

// The rules by name, "~" escapes among them, and case; the random comparison below covers the rest.
TEST(ValueOrder, WildcardsMatchWholeTexts) {
  struct {
    const char16_t *pattern, *text;
    bool match;
  } cases[] = {
      {u"a*c", u"abcd", false}, {u"*", u"", true},      {u"", u"a", false},      {u"?", u"", false},
      {u"~*", u"*", true},      {u"~*", u"a", false},   {u"a~?", u"ab", false},  {u"~~", u"~", true},
      {u"~a", u"~a", true},     {u"a~", u"a~", true},   {u"*~*", u"abc", false}, {u"ÉT?", u"été", true},
      {u"Ω*", u"ωμέγα", true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(wildcardMatch(c.pattern, c.text, false), c.match)
        << utf16ToUtf8(c.pattern) << " against " << utf16ToUtf8(c.text);
  EXPECT_FALSE(wildcardMatch(u"ÉT?", u"été", true));
  EXPECT_TRUE(hasWildcards(u"a*") && hasWildcards(u"~~?"));
  EXPECT_FALSE(hasWildcards(u"a~*b~?") || hasWildcards(u"plain"));
}

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
  setNumber(0, 3, 1);
  Sheet& s = sheet();
  // A descending sort turns the comparison's result round.
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
  swapCells(s, 1, 1, 1, 3);
  recalculateAll(*book);
  EXPECT_EQ(cell(1, 3).number, 30);
  EXPECT_EQ(cell(1, 1).number, 99);
  swapCells(s, 1, 1, 1, 3);
  recalculateAll(*book);
  EXPECT_EQ(cell(1, 1).number, 3);
  EXPECT_EQ(book->formulas().count(), 1);
}

}  // namespace
}  // namespace kelp::test
