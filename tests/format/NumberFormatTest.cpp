// Tests of number format records: built-ins per locale, equality, find-or-add and removal.
#include "model/NumberFormat.h"

#include <gtest/gtest.h>

#include "platform/ErrorState.h"
#include "platform/Locale.h"

using namespace kelp;

namespace {

class NumberFormats : public ::testing::Test {
 protected:
  void TearDown() override {
    selectLocale("en_US");
    clearError();
  }
};

NumberFormatRecord userFormat(std::u16string negativeSuffix) {
  NumberFormatRecord f = fixedFormat(3, true);
  f.positivePrefix = u"EUR ";
  f.negativePrefix = u"-EUR ";
  f.negativeSuffix = std::move(negativeSuffix);
  return f;
}

StyleRecord styleWithFormat(uint16_t format) {
  StyleRecord s = newStyleRecord();
  s.numberFormat = format;
  return s;
}

}  // namespace

TEST_F(NumberFormats, BuiltInsComeFromTheLocale) {
  // The display tests show every built-in under the US and German locales; the British
  // currency shows nowhere else.
  selectLocale("en_GB");
  std::vector<NumberFormatRecord> gb = builtInFormats();
  EXPECT_EQ(gb[BuiltInFormat::Currency0].positivePrefix, u"£");
  EXPECT_EQ(gb[BuiltInFormat::Currency0].negativePrefix, u"-£");
  EXPECT_EQ(gb[BuiltInFormat::Currency0].negativeSuffix, u"");
}

TEST_F(NumberFormats, CurrencyModes) {
  struct Case {
    int positive, negative;
    const char16_t *pp, *ps, *np, *ns;
  } cases[] = {
      {0, 0, u"$", u"", u"($", u")"},    {0, 1, u"$", u"", u"-$", u""},     {2, 4, u"$ ", u"", u"($ ", u")"},
      {1, 14, u"", u"$", u"(", u"$)"},   {3, 15, u"", u" $", u"(", u" $)"}, {3, 5, u"", u" $", u"-", u" $"},
      {1, 3, u"", u"$", u"-", u"$"},
  };
  for (const Case& c : cases) {
    LocaleSettings l;
    l.positiveCurrencyMode = c.positive;
    l.negativeCurrencyMode = c.negative;
    setCurrentLocale(l);
    NumberFormatRecord f = currencyFormat(2);
    SCOPED_TRACE(testing::Message() << c.positive << "/" << c.negative);
    EXPECT_EQ(f.positivePrefix, c.pp);
    EXPECT_EQ(f.positiveSuffix, c.ps);
    EXPECT_EQ(f.negativePrefix, c.np);
    EXPECT_EQ(f.negativeSuffix, c.ns);
    EXPECT_FALSE(f.percent);
  }
}

TEST_F(NumberFormats, EqualityLooksOnlyAtTheFieldsOfTheKind) {
  NumberFormatRecord a = generalFormat(), b = generalFormat();
  b.decimals = 5;
  b.positivePrefix = u"x";
  EXPECT_TRUE(a.sameAs(b));
  EXPECT_FALSE(a.sameAs(fixedFormat(0, false)));
  NumberFormatRecord text1, text2;
  text1.kind = text2.kind = FormatKind::Text;
  text2.datePicture = u"d";
  EXPECT_TRUE(text1.sameAs(text2));
  EXPECT_FALSE(dateFormat(u"d", u"").sameAs(dateFormat(u"d", u"H")));
  EXPECT_FALSE(dateFormat(u"d", u"").sameAs(dateFormat(u"dd", u"")));
  EXPECT_TRUE(dateFormat(u"d", u"H").sameAs(dateFormat(u"d", u"H")));
  EXPECT_FALSE(userFormat(u"").sameAs(userFormat(u")")));
  EXPECT_FALSE(fixedFormat(2, false).sameAs(fixedFormat(2, true)));
  EXPECT_FALSE(fixedFormat(2, false).sameAs(fixedFormat(3, false)));
}

TEST_F(NumberFormats, FindOrAdd) {
  std::vector<NumberFormatRecord> list = builtInFormats();
  EXPECT_EQ(findOrAddNumberFormat(list, fixedFormat(2, false)), 2);
  EXPECT_EQ(list.size(), 16u);
  EXPECT_EQ(findOrAddNumberFormat(list, userFormat(u"")), 16);
  EXPECT_EQ(findOrAddNumberFormat(list, userFormat(u" neg")), 17);
  EXPECT_EQ(findOrAddNumberFormat(list, userFormat(u"")), 16);
  EXPECT_EQ(list.size(), 18u);

  // A target replaces in place, or grows the list with General to reach it.
  EXPECT_EQ(findOrAddNumberFormat(list, dateFormat(u"yyyy", u""), 21), 21);
  ASSERT_EQ(list.size(), 22u);
  EXPECT_TRUE(list[18].general);
  EXPECT_TRUE(list[20].general);
  EXPECT_EQ(list[21].datePicture, u"yyyy");
  EXPECT_EQ(findOrAddNumberFormat(list, fixedFormat(4, false), 16), 16);
  EXPECT_EQ(list[16].decimals, 4);
  EXPECT_EQ(list.size(), 22u);
  // A target that repeats another entry still stores there.
  EXPECT_EQ(findOrAddNumberFormat(list, generalFormat(), 17), 17);
  EXPECT_TRUE(list[17].general);

  EXPECT_EQ(pendingError(), 0u);
  EXPECT_EQ(findOrAddNumberFormat(list, userFormat(u"x"), MaxNumberFormats), -1);
  EXPECT_EQ(pendingError(), static_cast<uint32_t>(Err::OutOfMemory));
  EXPECT_EQ(list.size(), 22u);
}

TEST_F(NumberFormats, RemovingAUserFormatRenumbersStyles) {
  std::vector<NumberFormatRecord> list = builtInFormats();
  findOrAddNumberFormat(list, userFormat(u"a"));
  findOrAddNumberFormat(list, userFormat(u"b"));
  findOrAddNumberFormat(list, userFormat(u"c"));
  GrowArray<StyleRecord> styles;
  for (uint16_t format : {0, 5, 16, 17, 18, 17})
    ASSERT_TRUE(styles.append(styleWithFormat(format)));

  EXPECT_TRUE(removeNumberFormat(list, styles, 17));
  ASSERT_EQ(list.size(), 18u);
  EXPECT_EQ(list[17].negativeSuffix, u"c");
  const uint16_t expected[] = {0, 5, 16, 0, 17, 0};
  for (int i = 0; i < styles.size(); ++i) EXPECT_EQ(styles[i].numberFormat, expected[i]) << i;

  EXPECT_FALSE(removeNumberFormat(list, styles, 15));  // built-ins stay
  EXPECT_FALSE(removeNumberFormat(list, styles, 0));
  EXPECT_FALSE(removeNumberFormat(list, styles, 18));  // past the end
  EXPECT_FALSE(removeNumberFormat(list, styles, -1));
  EXPECT_EQ(list.size(), 18u);
  EXPECT_TRUE(removeNumberFormat(list, styles, 17));
  EXPECT_EQ(styles[4].numberFormat, 0);
  EXPECT_EQ(list.size(), 17u);
}
